#include "tools/analyze/sndfile_wave_reader.h"

#include <sndfile.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tarnevox {

namespace {

class SndfileSource final : public HostFrameSource {
 public:
  SndfileSource(SNDFILE* file, const SF_INFO& info)
      : file_(file),
        channels_(info.channels),
        rate_(static_cast<std::uint32_t>(info.samplerate)),
        isFloat_((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT ||
                 (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_DOUBLE) {}
  ~SndfileSource() override { sf_close(file_); }
  SndfileSource(const SndfileSource&) = delete;
  SndfileSource& operator=(const SndfileSource&) = delete;

  std::uint32_t sampleRate() const override { return rate_; }

  std::size_t readFrames(HostFrame* frames, std::size_t capacity) override {
    const sf_count_t wanted = static_cast<sf_count_t>(capacity);
    const std::size_t samples = capacity * static_cast<std::size_t>(channels_);
    sf_count_t got;
    // Integer data is read left-justified in 32 bits (unsigned 8-bit data already made
    // signed), float data as it is stored, so both reduce exactly as documented.
    if (isFloat_) {
      floats_.resize(samples);
      got = sf_readf_double(file_, floats_.data(), wanted);
    } else {
      ints_.resize(samples);
      got = sf_readf_int(file_, ints_.data(), wanted);
    }
    if (got <= 0) {
      if (sf_error(file_) != SF_ERR_NO_ERROR) error_ = sf_strerror(file_);
      return 0;
    }
    for (sf_count_t f = 0; f < got; ++f) {
      for (int c = 0; c < 2; ++c) {
        const std::size_t i = static_cast<std::size_t>(f * channels_ + (channels_ == 2 ? c : 0));
        frames[f].channel[c] =
            isFloat_ ? hostByteFromFloat(floats_[i]) : hostByteFromLeftJustified(ints_[i]);
      }
    }
    return static_cast<std::size_t>(got);
  }

 private:
  SNDFILE* file_;
  int channels_;
  std::uint32_t rate_;
  bool isFloat_;
  std::vector<int> ints_;
  std::vector<double> floats_;
};

bool isReadableSampleFormat(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::unique_ptr<HostFrameSource> openSndfileWave(const char* path, std::string& error) {
  // Opened once by hand first, so that a missing file is told apart from a bad one.
  std::FILE* probe = std::fopen(path, "rb");
  if (probe == nullptr) {
    error = std::string("cannot open ") + path + ": " + std::strerror(errno);
    return nullptr;
  }
  std::fclose(probe);
  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  if (file == nullptr) {
    error = std::string(path) + ": not a WAV file (" + sf_strerror(nullptr) + ")";
    return nullptr;
  }
  std::string problem;
  if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAV &&
      (info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAVEX) {
    problem = "not a WAV file";
  } else if (!isReadableSampleFormat(info.format)) {
    problem = "unsupported sample format";
  } else if (info.channels != 1 && info.channels != 2) {
    problem = std::to_string(info.channels) + " channels (only mono and stereo are read)";
  } else if (info.samplerate <= 0) {
    problem = "sample rate 0";
  }
  if (!problem.empty()) {
    sf_close(file);
    error = std::string(path) + ": " + problem;
    return nullptr;
  }
  return std::make_unique<SndfileSource>(file, info);
}

}  // namespace tarnevox
