// tarnevox-analyze: runs the plug-in's frame analysis offline over a WAV file, or over raw
// host blocks, and prints one CSV row per block.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "analysis/frame_analysis.h"
#include "tools/analyze/block_cutter.h"
#include "tools/analyze/csv_rows.h"

#if defined(TARNEVOX_WITH_SNDFILE)
#include "tools/analyze/sndfile_wave_reader.h"
#else
#include "tools/analyze/riff_wave_reader.h"
#endif

namespace tarnevox {
namespace {

constexpr int kExitInputError = 1;
constexpr int kExitUsageError = 2;

constexpr char kUsage[] =
    "Usage: tarnevox-analyze [--wave] FILE.wav\n"
    "       tarnevox-analyze [--wave] --raw FILE\n"
    "\n"
    "Cuts the audio into the blocks a player delivers (576 frames every 20 ms; block k\n"
    "starts at frame floor(k * rate / 50); a block that would run past the end is not\n"
    "analysed), runs the visualization's analysis on each and prints CSV: a header row,\n"
    "then per block its start time in seconds and the 64 band levels band0..band63.\n"
    "\n"
    "  --wave      also print the 576 waveform targets wave0..wave575\n"
    "  --raw FILE  read raw host blocks instead of a WAV file: 1152 bytes each, 576 of\n"
    "              channel 0 then 576 of channel 1; rows are 0.02 s apart\n"
    "  -h, --help  print this text\n"
    "  --          end of options, for a file name that starts with '-'\n"
    "\n"
    "WAV: PCM of 8, 16, 24 or 32 bits or float of 32 or 64 bits, mono or stereo, any\n"
    "rate. Each sample becomes its top byte as a signed value (8-bit data, unsigned in\n"
    "WAV files, has 0x80 flipped first; float is first scaled by 32768, rounded and\n"
    "clamped to 16 bits); mono feeds both channels.\n"
    "Exit status: 0 done, 1 unreadable or bad input, 2 bad command line.\n";

struct Options {
  bool help = false;
  bool withWave = false;
  const char* wavFilePath = nullptr;
  const char* rawPath = nullptr;
};

void printError(const std::string& message) {
  std::fprintf(stderr, "tarnevox-analyze: %s\n", message.c_str());
}

// Empty on success, else what is wrong with the command line.
std::string parseOptions(int argc, char** argv, Options& options) {
  bool optionsEnded = false;
  int inputs = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      options.wavFilePath = arg;
      ++inputs;
    } else if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      options.help = true;
    } else if (std::strcmp(arg, "--wave") == 0) {
      options.withWave = true;
    } else if (std::strcmp(arg, "--raw") == 0) {
      if (i + 1 == argc) return "--raw needs a file name";
      options.rawPath = argv[++i];
      ++inputs;
    } else {
      return std::string("unknown option '") + arg + "'";
    }
  }
  if (options.help) return {};
  if (inputs == 0) return "no input file";
  if (inputs > 1) return "more than one input file";
  return {};
}

class RowPrinter {
 public:
  explicit RowPrinter(bool withWave) : withWave_(withWave) {
    const std::string header = csvHeader(withWave_);
    std::fwrite(header.data(), 1, header.size(), stdout);
  }

  void print(const HostBlock& block, double seconds) {
    analyseBlock(block, spectrum_, wave_);
    const std::string row = csvRow(seconds, spectrum_, withWave_ ? wave_ : nullptr);
    std::fwrite(row.data(), 1, row.size(), stdout);
  }

  // Write errors are sticky in the stream, so one check at the end finds them all.
  int finish() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      printError("error writing the output");
      return kExitInputError;
    }
    return 0;
  }

 private:
  bool withWave_;
  float spectrum_[kBandCount];
  float wave_[kWaveColumnCount];
};

int analyseWaveFile(const char* path, bool withWave) {
  std::string error;
#if defined(TARNEVOX_WITH_SNDFILE)
  std::unique_ptr<HostFrameSource> source = openSndfileWave(path, error);
#else
  std::unique_ptr<HostFrameSource> source = openRiffWave(path, error);
#endif
  if (source == nullptr) {
    printError(error);
    return kExitInputError;
  }
  RowPrinter printer(withWave);
  BlockCutter cutter(*source);
  HostBlock block;
  double seconds = 0;
  while (cutter.next(block, seconds)) printer.print(block, seconds);
  if (!source->error().empty()) {
    std::fflush(stdout);
    printError(std::string(path) + ": " + source->error());
    return kExitInputError;
  }
  return printer.finish();
}

// The whole file is read before anything is printed, so a truncated file prints no rows.
std::string readWholeFile(const char* path, std::vector<unsigned char>& bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return std::string("cannot open ") + path + ": " + std::strerror(errno);
  unsigned char chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return failed ? std::string(path) + ": read error" : std::string();
}

int analyseRawFile(const char* path, bool withWave) {
  std::vector<unsigned char> bytes;
  std::string error = readWholeFile(path, bytes);
  if (error.empty() && bytes.size() % kHostBlockBytes != 0) {
    error = std::string(path) + ": truncated raw block (" + std::to_string(bytes.size()) +
            " bytes is not a whole number of " + std::to_string(kHostBlockBytes) +
            "-byte blocks)";
  }
  if (!error.empty()) {
    printError(error);
    return kExitInputError;
  }
  RowPrinter printer(withWave);
  HostBlock block;
  for (std::size_t k = 0; k < bytes.size() / kHostBlockBytes; ++k) {
    std::memcpy(block, bytes.data() + k * kHostBlockBytes, kHostBlockBytes);
    printer.print(block, static_cast<double>(k) / kBlocksPerSecond);
  }
  return printer.finish();
}

}  // namespace
}  // namespace tarnevox

int main(int argc, char** argv) {
  using namespace tarnevox;
  Options options;
  const std::string problem = parseOptions(argc, argv, options);
  if (!problem.empty()) {
    printError(problem + " (see --help)");
    return kExitUsageError;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  return options.rawPath != nullptr ? analyseRawFile(options.rawPath, options.withWave)
                                    : analyseWaveFile(options.wavFilePath, options.withWave);
}
