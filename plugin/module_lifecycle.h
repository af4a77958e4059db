// Module start and stop: the renderer, the frame and visual windows, the render thread.
#pragma once

#include <windows.h>

#include <cstddef>

namespace tarnevox {

// The host's frame-window record. The library reads only its first word, the frame
// window, and reserves the rest for the host, which writes all of it: 288 bytes in a
// 32-bit process, and room for the wider 64-bit layouts.
#if defined(_WIN64)
inline constexpr std::size_t kHostFrameStateSize = 552;
#else
inline constexpr std::size_t kHostFrameStateSize = 288;
#endif

struct HostFrameState {
  HWND frame;
  unsigned char hostOwned[kHostFrameStateSize - sizeof(HWND)];
};

static_assert(sizeof(HostFrameState) == kHostFrameStateSize, "the host's record size");

// The host's frame-window service, reached through WM_USER with lParam 505.
using HostEmbed = HWND(__cdecl*)(HostFrameState* state);

extern HostFrameState gHostFrameState;

}  // namespace tarnevox
