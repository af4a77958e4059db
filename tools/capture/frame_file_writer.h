// Writing captured pictures as binary PPM files (P6, 8-bit RGB), which image tools read
// directly. Two comment lines in the header, "# frame N" and "# present N", carry the
// file's number and the ordinal of the device's Present it came from.
#pragma once

#include <windows.h>

#include "tools/capture/capture_settings.h"

namespace tarnevox {

struct FramePicture {
  const BYTE* rgb;  // width * height * 3 bytes, rows top to bottom
  UINT width;
  UINT height;
  unsigned frame;    // 1 for the first file this process writes; numbers the sequence
  unsigned present;  // the ordinal of the Present of its device, 1 for the first
};

// "latest.ppm" in latest mode, "frame-00001.ppm" style in sequence mode.
bool frameFilePath(const CaptureSettings& settings, unsigned frame, wchar_t* path,
                   size_t capacity);

// Creates the capture folder itself (not its parents) when it is missing.
void ensureCaptureDirectory(const CaptureSettings& settings);

// Writes a temporary file and renames it over the final name, so that a reader never
// sees a partly written picture under that name.
bool writeFrameFile(const CaptureSettings& settings, const FramePicture& picture);

}  // namespace tarnevox
