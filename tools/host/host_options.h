// The stand-in host's command line. No Windows header: parsed and tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/host/signals.h"

namespace tarnevox::host {

struct RgbColor {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;

  friend bool operator==(const RgbColor&, const RgbColor&) = default;
};

// Amber on dark blue: both channels of each differ, so a swapped channel shows.
inline constexpr RgbColor kDefaultForeground{0xFF, 0xCC, 0x00};
inline constexpr RgbColor kDefaultBackground{0x10, 0x20, 0x40};

// "RRGGBB" or "#RRGGBB", hexadecimal digits in either case.
bool parseHexColor(std::string_view text, RgbColor* colour);

struct HostOptions {
  std::string pluginPath;
  bool help = false;
  bool list = false;       // print the modules and exit
  bool configure = false;  // call the module's configure callback instead of starting it
  int module = 0;
  SignalKind signal = SignalKind::kSineSweep;
  std::string wavPath;     // played instead of the signal when set
  std::string skinPath;    // a .bmp file handed out as the skin instead of the colours
  RgbColor foreground = kDefaultForeground;
  RgbColor background = kDefaultBackground;
  double seconds = 0.0;    // time limit; 0 runs until Escape or the frame is closed
  long renderLimit = 0;    // stop after this many render calls; 0 for no limit
  int frameWidth = 1024;   // client area of the frame window
  int frameHeight = 1024;
  // --resize WxH@S: the frame's client area becomes WxH S seconds after the start
  // (resizeWidth 0: never).
  int resizeWidth = 0;
  int resizeHeight = 0;
  double resizeAfterSeconds = 0.0;
  // --full-screen S: the visual window is double-clicked S seconds after the start, as a
  // user asks for full screen (0: never).
  double fullScreenAfterSeconds = 0.0;
};

// Parses the arguments after the program name. On failure returns false and puts a
// one-line message (without the program name) into *error.
bool parseHostOptions(const std::vector<std::string>& args, HostOptions* options,
                      std::string* error);

// The text that --help prints.
const char* hostUsage();

}  // namespace tarnevox::host
