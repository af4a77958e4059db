#include "tools/analyze/riff_wave_reader.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tarnevox {

namespace {

enum class Encoding { kUnsigned8, kSigned16, kSigned24, kSigned32, kFloat32, kFloat64 };

struct WaveFormat {
  Encoding encoding;
  unsigned channels;
  std::uint32_t sampleRate;
  unsigned bytesPerSample;
};

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

std::uint16_t le16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(le16(p)) | static_cast<std::uint32_t>(le16(p + 2)) << 16;
}
std::uint64_t le64(const unsigned char* p) {
  return static_cast<std::uint64_t>(le32(p)) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}

// The sub-format of an extensible format chunk is a GUID whose first two bytes are the
// classic format code and whose other 14 bytes are fixed.
bool extensibleCode(const unsigned char* guid, std::uint16_t& code) {
  static const unsigned char kTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                          0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  if (std::memcmp(guid + 2, kTail, sizeof kTail) != 0) return false;
  code = le16(guid);
  return true;
}

// Empty when the chunk describes a format we read, else what is wrong with it.
std::string parseFormat(const unsigned char* chunk, std::uint32_t size, WaveFormat& format) {
  if (size < 16) return "format chunk too short";
  std::uint16_t code = le16(chunk);
  const unsigned channels = le16(chunk + 2);
  const std::uint32_t rate = le32(chunk + 4);
  const unsigned blockAlign = le16(chunk + 12);
  const unsigned bits = le16(chunk + 14);
  if (code == kFormatExtensible && (size < 40 || !extensibleCode(chunk + 24, code))) {
    return "unsupported extensible format";
  }
  if (code == kFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32)) {
    format.encoding = bits == 8    ? Encoding::kUnsigned8
                      : bits == 16 ? Encoding::kSigned16
                      : bits == 24 ? Encoding::kSigned24
                                   : Encoding::kSigned32;
  } else if (code == kFormatFloat && (bits == 32 || bits == 64)) {
    format.encoding = bits == 32 ? Encoding::kFloat32 : Encoding::kFloat64;
  } else {
    return "unsupported sample format (format code " + std::to_string(code) + ", " +
           std::to_string(bits) + " bits)";
  }
  if (channels != 1 && channels != 2) {
    return std::to_string(channels) + " channels (only mono and stereo are read)";
  }
  if (rate == 0) return "sample rate 0";
  if (blockAlign != channels * bits / 8) return "block size does not match the format";
  format.channels = channels;
  format.sampleRate = rate;
  format.bytesPerSample = bits / 8;
  return {};
}

unsigned char decodeSample(const unsigned char* p, Encoding encoding) {
  // Little-endian integers: the top byte is the last one; 8-bit data is unsigned.
  switch (encoding) {
    case Encoding::kUnsigned8: return static_cast<unsigned char>(p[0] ^ 0x80);
    case Encoding::kSigned16: return p[1];
    case Encoding::kSigned24: return p[2];
    case Encoding::kSigned32: return p[3];
    case Encoding::kFloat32: return hostByteFromFloat(std::bit_cast<float>(le32(p)));
    case Encoding::kFloat64: return hostByteFromFloat(std::bit_cast<double>(le64(p)));
  }
  return 0;
}

class RiffWaveSource final : public HostFrameSource {
 public:
  RiffWaveSource(std::FILE* file, const WaveFormat& format, std::uint32_t dataBytes)
      : file_(file), format_(format), bytesLeft_(dataBytes) {}
  ~RiffWaveSource() override { std::fclose(file_); }
  RiffWaveSource(const RiffWaveSource&) = delete;
  RiffWaveSource& operator=(const RiffWaveSource&) = delete;

  std::uint32_t sampleRate() const override { return format_.sampleRate; }

  std::size_t readFrames(HostFrame* frames, std::size_t capacity) override {
    const std::size_t frameBytes = format_.channels * format_.bytesPerSample;
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(capacity, bytesLeft_ / frameBytes));
    if (count == 0) return 0;
    bytes_.resize(count * frameBytes);
    const std::size_t got = std::fread(bytes_.data(), 1, bytes_.size(), file_);
    if (got < bytes_.size()) {
      if (std::ferror(file_)) error_ = "read error";
      bytesLeft_ = 0;
    } else {
      bytesLeft_ -= got;
    }
    const std::size_t whole = got / frameBytes;
    for (std::size_t f = 0; f < whole; ++f) {
      const unsigned char* p = bytes_.data() + f * frameBytes;
      const unsigned char first = decodeSample(p, format_.encoding);
      frames[f].channel[0] = first;
      frames[f].channel[1] = format_.channels == 2
                                 ? decodeSample(p + format_.bytesPerSample, format_.encoding)
                                 : first;
    }
    return error_.empty() ? whole : 0;
  }

 private:
  std::FILE* file_;
  WaveFormat format_;
  std::uint64_t bytesLeft_;
  std::vector<unsigned char> bytes_;
};

// fseek takes a long, which is 32 bits on Windows, and chunks may be up to 4 GB.
bool skipBytes(std::FILE* file, std::uint64_t count) {
  constexpr std::uint64_t kStep = 1u << 30;
  while (count > 0) {
    const std::uint64_t step = std::min(count, kStep);
    if (std::fseek(file, static_cast<long>(step), SEEK_CUR) != 0) return false;
    count -= step;
  }
  return true;
}

// Walks the chunks up to the data chunk; the format chunk must come before it.
std::string readHeader(std::FILE* file, WaveFormat& format, std::uint32_t& dataBytes) {
  unsigned char riff[12];
  if (std::fread(riff, 1, sizeof riff, file) != sizeof riff ||
      std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
    return "not a WAV file";
  }
  bool haveFormat = false;
  for (;;) {
    unsigned char header[8];
    if (std::fread(header, 1, sizeof header, file) != sizeof header) {
      return haveFormat ? "no data chunk" : "not a WAV file (no format chunk)";
    }
    const std::uint32_t size = le32(header + 4);
    if (std::memcmp(header, "data", 4) == 0) {
      if (!haveFormat) return "data chunk before the format chunk";
      dataBytes = size;
      return {};
    }
    std::uint64_t skip = size + (size & 1u);  // chunks are padded to even sizes
    if (std::memcmp(header, "fmt ", 4) == 0) {
      unsigned char chunk[40] = {};
      const std::size_t wanted = std::min<std::size_t>(size, sizeof chunk);
      if (std::fread(chunk, 1, wanted, file) != wanted) return "format chunk cut short";
      const std::string problem = parseFormat(chunk, size, format);
      if (!problem.empty()) return problem;
      haveFormat = true;
      skip -= wanted;
    }
    if (!skipBytes(file, skip)) return "chunk runs past the end of the file";
  }
}

}  // namespace

std::unique_ptr<HostFrameSource> openRiffWave(const char* path, std::string& error) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    error = std::string("cannot open ") + path + ": " + std::strerror(errno);
    return nullptr;
  }
  WaveFormat format{};
  std::uint32_t dataBytes = 0;
  const std::string problem = readHeader(file, format, dataBytes);
  if (!problem.empty()) {
    std::fclose(file);
    error = std::string(path) + ": " + problem;
    return nullptr;
  }
  return std::make_unique<RiffWaveSource>(file, format, dataBytes);
}

}  // namespace tarnevox
