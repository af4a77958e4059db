#include "tools/host/host_options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tarnevox::host {

namespace {

constexpr char kUsage[] =
    "usage: tarnevox-host [options] PLUGIN.dll\n"
    "\n"
    "Loads a visualization plug-in, starts one of its modules in a frame window and\n"
    "feeds it waveform data every delay the module asks for.\n"
    "\n"
    "  --list             print each module's index and description, then exit\n"
    "  --module N         the module to start (default 0)\n"
    "  --configure        call the module's configure callback instead of starting it\n"
    "  --signal NAME      built-in signal: sweep, beat, noise or silence (default sweep)\n"
    "  --wav FILE         play a WAV file instead (PCM 8/16/24/32-bit or 32-bit float;\n"
    "                     it loops)\n"
    "  --fg RRGGBB        skin foreground colour (default FFCC00)\n"
    "  --bg RRGGBB        skin background colour (default 102040)\n"
    "  --skin FILE.bmp    hand out this bitmap as the skin instead of the two colours\n"
    "  --seconds S        stop the module after S seconds\n"
    "  --renders N        stop the module after N render calls\n"
    "  --size WxH         client size of the frame window (default 1024x1024)\n"
    "  --resize WxH@S     resize the frame's client area to WxH S seconds after the\n"
    "                     start, and print when (in ms on the performance counter)\n"
    "  --full-screen S    double-click the visual window S seconds after the start\n"
    "  -h, --help         print this help\n"
    "\n"
    "Without a limit the module runs until Escape is pressed or the frame is closed.\n"
    "Exit status: 0 after a clean run, 1 when the plug-in cannot be loaded or started,\n"
    "2 for a bad command line.\n";

bool parseInt(std::string_view text, long minimum, long maximum, long* value) {
  long parsed = 0;
  const char* end = text.data() + text.size();
  auto [stop, problem] = std::from_chars(text.data(), end, parsed);
  if (problem != std::errc() || stop != end || parsed < minimum || parsed > maximum) return false;
  *value = parsed;
  return true;
}

bool parseSeconds(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* stop = nullptr;
  const double parsed = std::strtod(text.c_str(), &stop);
  if (stop != text.c_str() + text.size() || !std::isfinite(parsed) || parsed <= 0.0 ||
      parsed > 1.0e6) {
    return false;
  }
  *value = parsed;
  return true;
}

bool parseSize(std::string_view text, int* width, int* height) {
  const std::size_t x = text.find_first_of("xX");
  long w = 0;
  long h = 0;
  if (x == std::string_view::npos || !parseInt(text.substr(0, x), 16, 8192, &w) ||
      !parseInt(text.substr(x + 1), 16, 8192, &h)) {
    return false;
  }
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool parseHexColor(std::string_view text, RgbColor* colour) {
  if (!text.empty() && text.front() == '#') text.remove_prefix(1);
  if (text.size() != 6) return false;
  int channels[3];
  for (int i = 0; i < 3; ++i) {
    const int high = hexDigit(text[2 * i]);
    const int low = hexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    channels[i] = high * 16 + low;
  }
  *colour = RgbColor{static_cast<std::uint8_t>(channels[0]), static_cast<std::uint8_t>(channels[1]),
                     static_cast<std::uint8_t>(channels[2])};
  return true;
}

bool parseHostOptions(const std::vector<std::string>& args, HostOptions* options,
                      std::string* error) {
  HostOptions parsed;
  bool signalGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (name.rfind("--", 0) == 0) {
      const std::size_t equals = name.find('=');
      if (equals != std::string::npos) {
        value = name.substr(equals + 1);
        name.resize(equals);
        hasValue = true;
      }
    }
    // Fetches the option's value from "--name=value" or from the next argument.
    auto takeValue = [&]() {
      if (hasValue) return true;
      if (i + 1 >= args.size()) {
        *error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    auto bad = [&](const char* what) {
      *error = "bad value '" + value + "' for " + name + ": " + what;
      return false;
    };
    auto flag = [&](bool* target) {
      if (hasValue) {
        *error = "option " + name + " takes no value";
        return false;
      }
      *target = true;
      return true;
    };

    if (name == "-h" || name == "--help") {
      if (!flag(&parsed.help)) return false;
    } else if (name == "--list") {
      if (!flag(&parsed.list)) return false;
    } else if (name == "--configure") {
      if (!flag(&parsed.configure)) return false;
    } else if (name == "--module") {
      long index = 0;
      if (!takeValue()) return false;
      if (!parseInt(value, 0, 1000000, &index)) return bad("expected an index 0 or more");
      parsed.module = static_cast<int>(index);
    } else if (name == "--signal") {
      if (!takeValue()) return false;
      if (!parseSignalKind(value, &parsed.signal)) {
        return bad("expected sweep, beat, noise or silence");
      }
      signalGiven = true;
    } else if (name == "--wav") {
      if (!takeValue()) return false;
      if (value.empty()) return bad("expected a file name");
      parsed.wavPath = value;
    } else if (name == "--skin") {
      if (!takeValue()) return false;
      if (value.empty()) return bad("expected a file name");
      parsed.skinPath = value;
    } else if (name == "--fg" || name == "--bg") {
      if (!takeValue()) return false;
      if (!parseHexColor(value, name == "--fg" ? &parsed.foreground : &parsed.background)) {
        return bad("expected a colour RRGGBB");
      }
    } else if (name == "--seconds") {
      if (!takeValue()) return false;
      if (!parseSeconds(value, &parsed.seconds)) return bad("expected a positive number");
    } else if (name == "--renders") {
      if (!takeValue()) return false;
      if (!parseInt(value, 1, 1000000000, &parsed.renderLimit)) {
        return bad("expected a count of 1 or more");
      }
    } else if (name == "--size") {
      if (!takeValue()) return false;
      if (!parseSize(value, &parsed.frameWidth, &parsed.frameHeight)) {
        return bad("expected WIDTHxHEIGHT, each 16 to 8192");
      }
    } else if (name == "--resize") {
      if (!takeValue()) return false;
      const std::size_t at = value.find('@');
      if (at == std::string::npos ||
          !parseSize(std::string_view(value).substr(0, at), &parsed.resizeWidth,
                     &parsed.resizeHeight) ||
          !parseSeconds(value.substr(at + 1), &parsed.resizeAfterSeconds)) {
        return bad("expected WIDTHxHEIGHT@SECONDS, each side 16 to 8192");
      }
    } else if (name == "--full-screen") {
      if (!takeValue()) return false;
      if (!parseSeconds(value, &parsed.fullScreenAfterSeconds)) {
        return bad("expected a positive number");
      }
    } else if (!name.empty() && name[0] == '-') {
      *error = "unknown option " + name + " (see --help)";
      return false;
    } else if (parsed.pluginPath.empty()) {
      parsed.pluginPath = name;
    } else {
      *error = "more than one plug-in given: '" + parsed.pluginPath + "' and '" + name + "'";
      return false;
    }
  }
  if (parsed.help) {
    *options = parsed;
    return true;
  }
  if (parsed.pluginPath.empty()) {
    *error = "no plug-in DLL given (see --help)";
    return false;
  }
  if (signalGiven && !parsed.wavPath.empty()) {
    *error = "--signal and --wav exclude each other";
    return false;
  }
  if (parsed.list && parsed.configure) {
    *error = "--list and --configure exclude each other";
    return false;
  }
  *options = parsed;
  return true;
}

const char* hostUsage() { return kUsage; }

}  // namespace tarnevox::host
