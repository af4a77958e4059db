// The analyser's WAV readers and block cutting, below the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tests/native/analyze_wav_bytes.h"
#include "tools/analyze/block_cutter.h"
#include "tools/analyze/riff_wave_reader.h"
#if defined(TARNEVOX_WITH_SNDFILE)
#include "tools/analyze/sndfile_wave_reader.h"
#endif

namespace tarnevox {
namespace {

using test::Bytes;
using test::WavLayout;
using Opener = std::unique_ptr<HostFrameSource> (*)(const char*, std::string&);

// Both readers must agree: the Windows build ships the first, the Linux build the second.
const std::vector<std::pair<const char*, Opener>>& readers() {
  static const std::vector<std::pair<const char*, Opener>> list = {
      {"own reader", openRiffWave},
#if defined(TARNEVOX_WITH_SNDFILE)
      {"libsndfile", openSndfileWave},
#endif
  };
  return list;
}

std::string tempPath(const char* name) {
  return ::testing::TempDir() + "analyze_readers_" + std::to_string(getpid()) + "_" + name;
}

std::vector<HostFrame> readAll(HostFrameSource& source) {
  std::vector<HostFrame> all;
  HostFrame chunk[7];  // small and odd, so frames cross read boundaries
  while (std::size_t got = source.readFrames(chunk, 7)) all.insert(all.end(), chunk, chunk + got);
  EXPECT_EQ(source.error(), "");
  return all;
}

using Samples = std::vector<std::pair<double, unsigned char>>;  // value in the file, host byte

// Integer samples keep their top byte, whatever the bits below it (no rounding).
Samples integerSamples(int bits) {
  const double below = std::ldexp(1.0, bits - 8) - 1;  // every bit under the top byte set
  const double top = std::ldexp(1.0, bits - 1);
  return {{0x12 * (below + 1) + below, 0x12}, {-1, 0xFF}, {-top, 0x80}, {top - 1, 0x7F},
          {below, 0x00}};
}

Bytes encode(const WavLayout& layout, double value) {
  Bytes out;
  if (layout.formatCode == 3 && layout.bits == 32) {
    test::putLe(out, std::bit_cast<std::uint32_t>(static_cast<float>(value)), 4);
  } else if (layout.formatCode == 3) {
    test::putLe(out, std::bit_cast<std::uint64_t>(value), 8);
  } else {
    test::putLe(out, static_cast<std::uint64_t>(static_cast<std::int64_t>(value)), layout.bits / 8);
  }
  return out;
}

struct FormatCase {
  const char* name;
  WavLayout layout;
  Samples samples;  // stereo: channel 1 gets them in reverse order
};

std::vector<FormatCase> formatCases() {
  // Unsigned 8-bit data: 0x80 is zero.
  const Samples u8 = {{0x00, 0x80}, {0x80, 0x00}, {0xFF, 0x7F}, {0x7F, 0xFF}, {0x01, 0x81}};
  // Float: x * 32768 rounded (halves away from zero), clamped to 16 bits, top byte.
  const double lsb = 1.0 / 32768;
  const Samples floats = {{0.0, 0x00},         {0.5, 0x40},          {-0.5, 0xC0},
                          {1.0, 0x7F},         {-1.0, 0x80},         {1.5, 0x7F},
                          {-3.0, 0x80},        {255.5 * lsb, 0x01},  {255.25 * lsb, 0x00},
                          {-0.75 * lsb, 0xFF}, {-0.25 * lsb, 0x00},  {32767.5 * lsb, 0x7F},
                          {std::nan(""), 0x00}, {-HUGE_VAL, 0x80}};
  WavLayout mono24{1, 1, 44100, 24, true, {'a', 'b', 'c'}};  // an odd chunk: skip its pad byte
  WavLayout extensibleFloat{3, 2, 96000, 32, true};
  return {
      {"8-bit stereo", {1, 2, 8000, 8}, u8},
      {"8-bit mono", {1, 1, 11025, 8}, u8},
      {"16-bit stereo", {1, 2, 44100, 16}, integerSamples(16)},
      {"24-bit stereo", {1, 2, 48000, 24}, integerSamples(24)},
      {"32-bit mono", {1, 1, 22050, 32}, integerSamples(32)},
      {"float stereo", {3, 2, 44100, 32}, floats},
      {"double mono", {3, 1, 44100, 64}, floats},
      {"extensible 24-bit mono after an odd chunk", mono24, integerSamples(24)},
      {"extensible float stereo", extensibleFloat, floats},
  };
}

TEST(AnalyzeReaders, ReduceEveryFormatToTheTopByteAndFeedMonoToBothChannels) {
  const std::string path = tempPath("formats.wav");
  for (const FormatCase& c : formatCases()) {
    const std::size_t n = c.samples.size();
    const bool stereo = c.layout.channels == 2;
    Bytes data;
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j : stereo ? std::vector{i, n - 1 - i} : std::vector{i}) {
        const Bytes sample = encode(c.layout, c.samples[j].first);
        data.insert(data.end(), sample.begin(), sample.end());
      }
    }
    ASSERT_TRUE(test::writeBytes(path, test::wavFile(c.layout, data)));
    for (const auto& [readerName, open] : readers()) {
      SCOPED_TRACE(std::string(c.name) + ", " + readerName);
      std::string error;
      std::unique_ptr<HostFrameSource> source = open(path.c_str(), error);
      ASSERT_NE(source, nullptr) << error;
      EXPECT_EQ(source->sampleRate(), c.layout.sampleRate);
      const std::vector<HostFrame> frames = readAll(*source);
      ASSERT_EQ(frames.size(), n);
      for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(frames[i].channel[0], c.samples[i].second) << "frame " << i;
        EXPECT_EQ(frames[i].channel[1], c.samples[stereo ? n - 1 - i : i].second) << "frame " << i;
      }
    }
  }
}

TEST(AnalyzeReaders, DataChunkLongerThanTheFileEndsAtTheLastWholeFrame) {
  const std::string path = tempPath("cut.wav");
  Bytes data;
  for (int i = 0; i < 10 * 4 + 2; ++i) data.push_back(static_cast<unsigned char>(i));
  WavLayout layout;
  layout.dataSizeOverride = 400000;
  ASSERT_TRUE(test::writeBytes(path, test::wavFile(layout, data)));
  for (const auto& [readerName, open] : readers()) {
    SCOPED_TRACE(readerName);
    std::string error;
    std::unique_ptr<HostFrameSource> source = open(path.c_str(), error);
    ASSERT_NE(source, nullptr) << error;
    const std::vector<HostFrame> frames = readAll(*source);
    ASSERT_EQ(frames.size(), 10u);
    EXPECT_EQ(frames[9].channel[0], 37);
    EXPECT_EQ(frames[9].channel[1], 39);
  }
}

TEST(AnalyzeReaders, RejectWhatTheyCannotReadWithTheReason) {
  const std::string path = tempPath("bad.wav");
  WavLayout threeChannels;
  threeChannels.channels = 3;
  WavLayout mpeg;
  mpeg.formatCode = 0x50;
  const std::vector<std::pair<Bytes, const char*>> cases = {
      {Bytes(100, 'x'), "not a WAV file"},
      {test::wavFile(threeChannels, Bytes(60, 0)), "3 channels"},
      {test::wavFile(mpeg, Bytes(64, 0)), ""},  // worded differently by the two readers
  };
  for (const auto& [file, reason] : cases) {
    ASSERT_TRUE(test::writeBytes(path, file));
    for (const auto& [readerName, open] : readers()) {
      SCOPED_TRACE(std::string(readerName) + ", expecting '" + reason + "'");
      std::string error;
      EXPECT_EQ(open(path.c_str(), error), nullptr);
      EXPECT_NE(error.find(path), std::string::npos) << error;
      EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
  }
  for (const auto& [readerName, open] : readers()) {
    std::string error;
    EXPECT_EQ(open(tempPath("missing.wav").c_str(), error), nullptr);
    EXPECT_EQ(error.rfind("cannot open ", 0), 0u) << readerName << ": " << error;
  }
}

// Frame n carries n (low byte in channel 0), delivered in reads of changing sizes.
class CountingSource final : public HostFrameSource {
 public:
  CountingSource(std::uint32_t rate, std::uint64_t frames) : rate_(rate), left_(frames) {}
  std::uint32_t sampleRate() const override { return rate_; }
  std::size_t readFrames(HostFrame* frames, std::size_t capacity) override {
    static const std::size_t kSizes[] = {1, 333, 5000};
    std::size_t count = std::min<std::uint64_t>({capacity, kSizes[reads_++ % 3], left_});
    for (std::size_t i = 0; i < count; ++i, ++next_, --left_) {
      frames[i].channel[0] = static_cast<unsigned char>(next_);
      frames[i].channel[1] = static_cast<unsigned char>(next_ >> 8);
    }
    return count;
  }

 private:
  std::uint32_t rate_;
  std::uint64_t left_;
  std::uint64_t next_ = 0;
  unsigned reads_ = 0;
};

TEST(AnalyzeBlockCutter, OneBlockOf576FramesPer20MsAndNoneRunningPastTheEnd) {
  struct Case {
    std::uint32_t rate;
    std::uint64_t frames;
    std::vector<unsigned> starts;
  };
  const std::vector<Case> cases = {
      {44100, 3 * 882 + 576, {0, 882, 1764, 2646}},  // gaps between blocks are skipped
      {44100, 3 * 882 + 575, {0, 882, 1764}},
      {11025, 882 + 576, {0, 220, 441, 661, 882}},  // 220.5 frames per block
      {8000, 2 * 160 + 576, {0, 160, 320}},         // overlapping blocks
      {48000, 575, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("rate " + std::to_string(c.rate) + ", " + std::to_string(c.frames) + " frames");
    CountingSource source(c.rate, c.frames);
    BlockCutter cutter(source);
    HostBlock block;
    double seconds = -1;
    std::vector<unsigned> starts;
    while (cutter.next(block, seconds)) {
      const unsigned start = block[0][0] | block[1][0] << 8;
      EXPECT_DOUBLE_EQ(seconds, static_cast<double>(start) / c.rate);
      for (unsigned i = 0; i < kSamplesPerChannel; ++i) {
        ASSERT_EQ(block[0][i] | block[1][i] << 8, (start + i) & 0xFFFF) << "frame " << i;
      }
      starts.push_back(start);
    }
    EXPECT_EQ(starts, c.starts);
    EXPECT_EQ(source.error(), "");
  }
}

}  // namespace
}  // namespace tarnevox
