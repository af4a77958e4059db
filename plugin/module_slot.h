// What a module's user slot holds: a mode value (0 or 1) before the first start, the
// running Renderer while the module runs, empty (0) after a stop or a failed start.
#pragma once

#include "plugin/host_records.h"

namespace tarnevox {

class Renderer;

inline Renderer* rendererOf(const VisModule* module) {
  if (module == nullptr || module->userData == 0 || module->userData == 1) return nullptr;
  return reinterpret_cast<Renderer*>(module->userData);
}

}  // namespace tarnevox
