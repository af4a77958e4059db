#include "plugin/module_slot.h"

namespace tarnevox {
namespace {

// Made when the library is loaded, before the host can call anything.
struct LibraryLock {
  LibraryLock() { InitializeCriticalSection(&section); }
  ~LibraryLock() { DeleteCriticalSection(&section); }
  CRITICAL_SECTION section;
};
LibraryLock gSlotLock;

}  // namespace

SlotLock::SlotLock() { EnterCriticalSection(&gSlotLock.section); }

SlotLock::~SlotLock() { LeaveCriticalSection(&gSlotLock.section); }

void putRenderer(VisModule* module, Renderer* renderer) {
  SlotLock held;
  module->userData = reinterpret_cast<std::intptr_t>(renderer);
}

Renderer* takeRenderer(VisModule* module) {
  SlotLock held;
  Renderer* renderer = rendererOf(module);
  if (renderer != nullptr) module->userData = 0;
  return renderer;
}

}  // namespace tarnevox
