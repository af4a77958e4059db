// The analyser's output: comma-separated rows, numbers in the shortest form that reads
// back to the same float or double.
#pragma once

#include <string>

namespace tarnevox {

// "time,band0,...,band63", with the waveform also ",wave0,...,wave575".
std::string csvHeader(bool withWave);

// The block's start time, its 64 band levels and, when `wave` is not null, its 576
// waveform targets, ending in a line feed.
std::string csvRow(double seconds, const float* spectrum, const float* wave);

}  // namespace tarnevox
