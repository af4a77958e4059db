// Reading the pictures that the capturing d3d9.dll writes: binary PPM (P6, 8-bit RGB)
// whose header carries "# frame N" and "# present N" comment lines.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/host/host_options.h"

namespace tarnevox::testing {

struct Picture {
  int width = 0;
  int height = 0;
  unsigned present = 0;  // the device's Present the frame came from
  std::vector<unsigned char> rgb;

  host::RgbColor at(int x, int y) const {
    const unsigned char* p = &rgb[3 * (static_cast<size_t>(y) * width + x)];
    return host::RgbColor{p[0], p[1], p[2]};
  }
};

inline bool readPicture(const std::wstring& path, Picture* picture) {
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return false;
  unsigned frame = 0;
  const bool header = std::fscanf(file, "P6\n# frame %u\n# present %u\n%d %d\n255", &frame,
                                  &picture->present, &picture->width, &picture->height) == 4 &&
                      std::fgetc(file) == '\n' && picture->width > 0 && picture->height > 0;
  if (header) picture->rgb.resize(static_cast<size_t>(picture->width) * picture->height * 3);
  const bool body =
      header && std::fread(picture->rgb.data(), 1, picture->rgb.size(), file) == picture->rgb.size();
  std::fclose(file);
  return body;
}

}  // namespace tarnevox::testing
