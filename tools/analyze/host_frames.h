// Audio frames reduced to what a player hands a visualization: one signed 8-bit value per
// channel, stored as an unsigned byte. Readers of the different file formats deliver such
// frames, so everything after them is the same for every reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnevox {

struct HostFrame {
  unsigned char channel[2];  // 0 and 1; a mono file repeats its one sample
};

// The top byte of an integer sample that is left-justified in 32 bits (a 16-bit sample
// shifted left by 16, a 24-bit one by 8). Unsigned 8-bit data must be made signed first.
inline unsigned char hostByteFromLeftJustified(std::int32_t sample) {
  return static_cast<unsigned char>(static_cast<std::uint32_t>(sample) >> 24);
}

// A float sample (full scale -1 to 1) becomes a 16-bit value first, x * 32768 rounded
// to the nearest integer (halves away from zero) and clamped to -32768..32767, and then
// gives its top byte, that is floor(value / 256). NaN counts as 0.
unsigned char hostByteFromFloat(double sample);

// A stream of host frames from one open file.
class HostFrameSource {
 public:
  virtual ~HostFrameSource() = default;
  virtual std::uint32_t sampleRate() const = 0;
  // Fills up to `capacity` frames and returns how many; 0 at the end of the audio or
  // after a read error, which error() then describes.
  virtual std::size_t readFrames(HostFrame* frames, std::size_t capacity) = 0;
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

}  // namespace tarnevox
