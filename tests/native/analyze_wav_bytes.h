// WAV files assembled byte by byte for the analyser's tests, so that odd layouts (padded
// chunks, extensible format chunks, data chunks longer than the file) can be made too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tarnevox::test {

using Bytes = std::vector<unsigned char>;

inline void putLe(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

inline void putChunk(Bytes& out, const char* id, const Bytes& body) {
  out.insert(out.end(), id, id + 4);
  putLe(out, body.size(), 4);
  out.insert(out.end(), body.begin(), body.end());
  if (body.size() % 2 != 0) out.push_back(0);
}

struct WavLayout {
  std::uint16_t formatCode = 1;  // 1 PCM, 3 float
  std::uint16_t channels = 2;
  std::uint32_t sampleRate = 44100;
  std::uint16_t bits = 16;
  bool extensible = false;
  Bytes chunkBeforeFormat;             // body of an extra "LIST" chunk, when not empty
  std::int64_t dataSizeOverride = -1;  // a size field that disagrees with the data
};

// `data` is the interleaved little-endian sample bytes.
inline Bytes wavFile(const WavLayout& layout, const Bytes& data) {
  Bytes format;
  putLe(format, layout.extensible ? 0xFFFE : layout.formatCode, 2);
  putLe(format, layout.channels, 2);
  putLe(format, layout.sampleRate, 4);
  const unsigned blockAlign = layout.channels * layout.bits / 8u;
  putLe(format, std::uint64_t{layout.sampleRate} * blockAlign, 4);
  putLe(format, blockAlign, 2);
  putLe(format, layout.bits, 2);
  if (layout.extensible) {
    putLe(format, 22, 2);
    putLe(format, layout.bits, 2);                         // valid bits
    putLe(format, layout.channels == 2 ? 3 : 4, 4);        // speaker mask
    putLe(format, layout.formatCode, 2);                   // sub-format GUID
    const unsigned char tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    format.insert(format.end(), tail, tail + 14);
  }
  Bytes body = {'W', 'A', 'V', 'E'};
  if (!layout.chunkBeforeFormat.empty()) putChunk(body, "LIST", layout.chunkBeforeFormat);
  putChunk(body, "fmt ", format);
  const std::size_t dataStart = body.size();
  putChunk(body, "data", data);
  if (layout.dataSizeOverride >= 0) {
    Bytes size;
    putLe(size, static_cast<std::uint64_t>(layout.dataSizeOverride), 4);
    std::copy(size.begin(), size.end(), body.begin() + static_cast<std::ptrdiff_t>(dataStart + 4));
  }
  Bytes file = {'R', 'I', 'F', 'F'};
  putLe(file, body.size(), 4);
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

inline bool writeBytes(const std::string& path, const Bytes& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace tarnevox::test
