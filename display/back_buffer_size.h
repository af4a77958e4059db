// The back buffer's size: the visual window's client area, within what a device can
// hold, and when a window that changed size gets a back buffer of its new size.
#pragma once

#include <cstdint>

namespace tarnevox {

struct BufferSize {
  std::uint32_t width;
  std::uint32_t height;

  friend bool operator==(const BufferSize&, const BufferSize&) = default;
};

// No side beyond this, whatever the window: a larger window gets the largest buffer
// scaled into it by Present, at a bounded cost per frame.
inline constexpr std::uint32_t kMaxBackBufferSide = 4096;

// A window's new size is taken once it has held this long: the window system has then
// finished moving the window (under Wine, a reset while the window is being resized can
// leave its OpenGL surface at the old size). A drag is followed when it pauses.
inline constexpr std::uint32_t kResizeSettleMs = 50;

// And the device is reset at most this often, however often the size settles; between
// resets Present scales the last buffer into the window.
inline constexpr std::uint32_t kResizeIntervalMs = 100;

// One side: the client extent, at least 1 (a device has no empty buffer), at most the
// cap or the device's own limit where that is smaller (0: the device named none).
inline std::uint32_t backBufferSide(std::int32_t clientExtent, std::uint32_t deviceLimit) {
  std::uint32_t limit = kMaxBackBufferSide;
  if (deviceLimit != 0 && deviceLimit < limit) limit = deviceLimit;
  if (clientExtent < 1) return 1;
  const auto extent = static_cast<std::uint32_t>(clientExtent);
  return extent < limit ? extent : limit;
}

inline BufferSize backBufferSizeFor(std::int32_t clientWidth, std::int32_t clientHeight,
                                    std::uint32_t deviceMaxWidth, std::uint32_t deviceMaxHeight) {
  return BufferSize{backBufferSide(clientWidth, deviceMaxWidth),
                    backBufferSide(clientHeight, deviceMaxHeight)};
}

// The size the window had at the last look, and since when (milliseconds on a wrapping
// 32-bit tick count).
struct SizeWatch {
  BufferSize seen;
  std::uint32_t seenSinceMs;
};

// Called on every pass with the size the window asks for. True when the buffer should be
// made `wanted` now: it differs from `current`, the window has kept that size for
// kResizeSettleMs, and the device was created or last reset kResizeIntervalMs ago or more.
inline bool resizeDue(SizeWatch& watch, BufferSize current, BufferSize wanted,
                      std::uint32_t nowMs, std::uint32_t lastResetMs) {
  if (!(watch.seen == wanted)) {
    watch.seen = wanted;
    watch.seenSinceMs = nowMs;
  }
  return !(current == wanted) && nowMs - watch.seenSinceMs >= kResizeSettleMs &&
         nowMs - lastResetMs >= kResizeIntervalMs;
}

}  // namespace tarnevox
