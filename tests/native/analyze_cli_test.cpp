// The analyser as a user runs it: files in, CSV rows or one error line out.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/frame_analysis.h"
#include "tests/native/analyze_wav_bytes.h"

namespace tarnevox {
namespace {

using test::Bytes;

struct ProgramRun {
  int exitCode;
  std::vector<std::string> out;  // stdout lines
  std::vector<std::string> err;  // stderr lines
};

std::string tempPath(const std::string& name) {
  return ::testing::TempDir() + "analyze_cli_" + std::to_string(getpid()) + "_" + name;
}

std::vector<std::string> readLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

ProgramRun runAnalyzer(const std::string& arguments) {
  const std::string out = tempPath("stdout"), err = tempPath("stderr");
  const std::string command = std::string("'") + TARNEVOX_ANALYZE_PROGRAM + "' " + arguments +
                              " >'" + out + "' 2>'" + err + "'";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readLines(out), readLines(err)};
}

std::vector<double> fields(const std::string& line) {
  std::vector<double> values;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, ',');) values.push_back(std::strtod(field.c_str(), nullptr));
  return values;
}

// A tone with some noise on it, so that every band and byte value shows up somewhere.
unsigned char signalByte(unsigned n, unsigned channel) {
  const double tone = 90 * std::sin(n * (channel == 0 ? 0.21 : 0.057));
  return static_cast<unsigned char>(static_cast<int>(std::lround(tone)) + (n * 7919 % 31) - 15);
}

// Runs the analyser and checks a header and then, for each block k that blockOf fills,
// a row 0.02 s after the last with exactly what the analysis makes of that block.
template <typename BlockOf>
void expectRows(const std::string& arguments, bool withWave, unsigned blocks, BlockOf blockOf) {
  SCOPED_TRACE(arguments);
  const ProgramRun run = runAnalyzer((withWave ? "--wave " : "") + arguments);
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.err.empty());
  ASSERT_EQ(run.out.size(), 1u + blocks);
  std::string header = "time";
  for (int b = 0; b < kBandCount; ++b) header += ",band" + std::to_string(b);
  for (int i = 0; withWave && i < kWaveColumnCount; ++i) header += ",wave" + std::to_string(i);
  EXPECT_EQ(run.out[0], header);
  for (unsigned k = 0; k < blocks; ++k) {
    HostBlock block;
    blockOf(k, block);
    float spectrum[kBandCount], wave[kWaveColumnCount];
    analyseBlock(block, spectrum, wave);
    const std::vector<double> values = fields(run.out[1 + k]);
    ASSERT_EQ(values.size(), 1u + kBandCount + (withWave ? kWaveColumnCount : 0));
    EXPECT_DOUBLE_EQ(values[0], k * 0.02);
    // Printed so that they read back exactly.
    for (int b = 0; b < kBandCount; ++b) ASSERT_EQ(float(values[1 + b]), spectrum[b]) << b;
    for (int i = 0; withWave && i < kWaveColumnCount; ++i) {
      ASSERT_EQ(float(values[1 + kBandCount + i]), wave[i]) << "column " << i;
    }
  }
}

TEST(AnalyzeCli, AWavFileGivesOneRowPerBlockOfItsFramesTopBytes) {
  // 44100 Hz, 16-bit stereo: five blocks 882 frames apart; a sixth would run past the end.
  const unsigned frames = 4 * 882 + 576 + 881;
  Bytes data;
  for (unsigned n = 0; n < frames; ++n) {
    for (unsigned c = 0; c < 2; ++c) {
      data.push_back(static_cast<unsigned char>(n * 13));  // low byte, dropped
      data.push_back(signalByte(n, c));
    }
  }
  const std::string path = tempPath("s16.wav");
  ASSERT_TRUE(test::writeBytes(path, test::wavFile({}, data)));
  expectRows("'" + path + "'", false, 5, [](unsigned k, HostBlock& block) {
    for (unsigned i = 0; i < kSamplesPerChannel; ++i) {
      block[0][i] = signalByte(k * 882 + i, 0);
      block[1][i] = signalByte(k * 882 + i, 1);
    }
  });
}

TEST(AnalyzeCli, RawBlocksReproduceTheAnalysisExactly) {
  Bytes raw;
  for (unsigned n = 0; n < 3 * kHostBlockBytes; ++n) {
    raw.push_back(signalByte(n, n / kSamplesPerChannel % 2));
  }
  const std::string path = tempPath("blocks.raw");
  ASSERT_TRUE(test::writeBytes(path, raw));
  for (const bool withWave : {false, true}) {
    expectRows("--raw '" + path + "'", withWave, 3, [&raw](unsigned k, HostBlock& block) {
      std::memcpy(block, raw.data() + k * kHostBlockBytes, kHostBlockBytes);
    });
  }
}

TEST(AnalyzeCli, AToneInAWavFilePeaksInTheBandThatHoldsIt) {
  // Bin 40 of a 512-point transform at 44100 Hz is 3445.3 Hz, in band 13 (bins 39 to 41).
  const double frequency = 40.0 * 44100 / 512;
  const unsigned frames = 20 * 882 + 576;
  Bytes data;
  for (unsigned n = 0; n < frames; ++n) {
    const auto v = static_cast<std::int16_t>(std::lround(20000 * std::sin(2 * M_PI * frequency * n / 44100)));
    for (unsigned c = 0; c < 2; ++c) {
      data.push_back(static_cast<unsigned char>(v & 0xFF));
      data.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
    }
  }
  const std::string path = tempPath("tone.wav");
  ASSERT_TRUE(test::writeBytes(path, test::wavFile({}, data)));
  const ProgramRun run = runAnalyzer("'" + path + "'");
  ASSERT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.out.size(), 22u);
  for (size_t row = 1; row < run.out.size(); ++row) {
    const std::vector<double> values = fields(run.out[row]);
    ASSERT_EQ(values.size(), 1u + kBandCount);
    int loudest = 0;
    for (int b = 1; b < kBandCount; ++b) {
      if (values[1 + b] > values[1 + loudest]) loudest = b;
    }
    EXPECT_EQ(loudest, 13) << "row " << row;
    EXPECT_GT(values[1 + 13], values[1 + 11] + 100) << "row " << row;
  }

  // A raw block of 0x80 bytes gives the levels known for it.
  const std::string raw = tempPath("constant.raw");
  ASSERT_TRUE(test::writeBytes(raw, Bytes(kHostBlockBytes, 0x80)));
  const ProgramRun constant = runAnalyzer("--raw '" + raw + "'");
  ASSERT_EQ(constant.exitCode, 0);
  ASSERT_EQ(constant.out.size(), 2u);
  const std::vector<double> levels = fields(constant.out[1]);
  EXPECT_NEAR(levels[1], 304.78, 0.01);
  EXPECT_NEAR(levels[2], 23.46, 0.01);
  for (int b = 2; b < kBandCount; ++b) EXPECT_EQ(levels[1 + b], 0.0) << b;
}

TEST(AnalyzeCli, BadInputGivesOneErrorLineAndAFailingExit) {
  const std::string text = tempPath("text.wav"), truncated = tempPath("truncated.raw");
  ASSERT_TRUE(test::writeBytes(text, Bytes(2000, 'a')));
  ASSERT_TRUE(test::writeBytes(truncated, Bytes(kHostBlockBytes + 1, 0)));
  struct Case {
    std::string arguments;
    int exitCode;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"'" + tempPath("missing.wav") + "'", 1, "cannot open "},
      {"--raw '" + tempPath("missing.raw") + "'", 1, "cannot open "},
      {"'" + text + "'", 1, "not a WAV file"},
      {"--raw '" + truncated + "'", 1, "truncated raw block (1153 bytes"},
      {"--frobnicate '" + text + "'", 2, "unknown option '--frobnicate'"},
      {"", 2, "no input file"},
      {"'" + text + "' '" + text + "'", 2, "more than one input file"},
      {"--raw", 2, "--raw needs a file name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const ProgramRun run = runAnalyzer(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_TRUE(run.out.empty());
    ASSERT_EQ(run.err.size(), 1u);
    EXPECT_EQ(run.err[0].rfind("tarnevox-analyze: ", 0), 0u) << run.err[0];
    EXPECT_NE(run.err[0].find(c.message), std::string::npos) << run.err[0];
  }
  const ProgramRun help = runAnalyzer("--help");
  EXPECT_EQ(help.exitCode, 0);
  ASSERT_FALSE(help.out.empty());
  EXPECT_EQ(help.out[0].rfind("Usage: tarnevox-analyze", 0), 0u);
}

}  // namespace
}  // namespace tarnevox
