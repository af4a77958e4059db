#include "tools/analyze/csv_rows.h"

#include <charconv>

#include "common/sizes.h"

namespace tarnevox {

namespace {

template <typename Number>
void appendNumber(std::string& line, Number value) {
  char text[32];
  const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
  line.append(text, end.ptr);
}

void appendNames(std::string& line, const char* prefix, int count) {
  for (int i = 0; i < count; ++i) {
    line += ',';
    line += prefix;
    line += std::to_string(i);
  }
}

}  // namespace

std::string csvHeader(bool withWave) {
  std::string line = "time";
  appendNames(line, "band", kBandCount);
  if (withWave) appendNames(line, "wave", kWaveColumnCount);
  line += '\n';
  return line;
}

std::string csvRow(double seconds, const float* spectrum, const float* wave) {
  std::string line;
  line.reserve(wave != nullptr ? 8192 : 1024);
  appendNumber(line, seconds);
  for (int b = 0; b < kBandCount; ++b) {
    line += ',';
    appendNumber(line, spectrum[b]);
  }
  if (wave != nullptr) {
    for (int i = 0; i < kWaveColumnCount; ++i) {
      line += ',';
      appendNumber(line, wave[i]);
    }
  }
  line += '\n';
  return line;
}

}  // namespace tarnevox
