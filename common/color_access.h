// Whole-channel access to a colour that one thread rewrites while another draws with it.
// Each channel is read and written atomically, so a reader sees every channel either
// before or after a change; a frame may mix old and new channels, the next one cannot.
#pragma once

#include <atomic>

#include "common/color.h"

namespace tarnevox {

inline void storeColor(ColorF& target, const ColorF& value) {
  std::atomic_ref<float>(target.alpha).store(value.alpha, std::memory_order_relaxed);
  std::atomic_ref<float>(target.red).store(value.red, std::memory_order_relaxed);
  std::atomic_ref<float>(target.green).store(value.green, std::memory_order_relaxed);
  std::atomic_ref<float>(target.blue).store(value.blue, std::memory_order_relaxed);
}

inline ColorF loadColor(const ColorF& source) {
  ColorF& shared = const_cast<ColorF&>(source);
  return ColorF{std::atomic_ref<float>(shared.alpha).load(std::memory_order_relaxed),
                std::atomic_ref<float>(shared.red).load(std::memory_order_relaxed),
                std::atomic_ref<float>(shared.green).load(std::memory_order_relaxed),
                std::atomic_ref<float>(shared.blue).load(std::memory_order_relaxed)};
}

}  // namespace tarnevox
