// What a module's user slot holds: a mode value (0 or 1) before the first start, the
// running Renderer while the module runs, empty (0) after a stop or a failed start.
//
// Hosts may render on any thread, from two threads at once, and while the module stops.
// The slot lock orders a render call with the stop: the call holds it from finding the
// module's Renderer until its results are copied in, and the stop takes the Renderer out
// of the slot under it, so no call ever touches a Renderer that is going. The lock also
// guards the analysis's process-wide storage, which two calls at once would share.
#pragma once

#include <windows.h>

#include <cstdint>

#include "plugin/host_records.h"

namespace tarnevox {

class Renderer;

// The slot as it is now. Without the lock this is only a hint, to be read again under it.
inline Renderer* rendererOf(const VisModule* module) {
  if (module == nullptr) return nullptr;
  const std::intptr_t slot = *static_cast<const volatile std::intptr_t*>(&module->userData);
  if (slot == 0 || slot == 1) return nullptr;
  return reinterpret_cast<Renderer*>(slot);
}

// Puts a new Renderer (or, for null, nothing) into the slot.
void putRenderer(VisModule* module, Renderer* renderer);

// Empties the slot and returns the Renderer it held, if any.
Renderer* takeRenderer(VisModule* module);

// Held by a render call for the whole of its work.
class SlotLock {
 public:
  SlotLock();
  ~SlotLock();
  SlotLock(const SlotLock&) = delete;
  SlotLock& operator=(const SlotLock&) = delete;
};

}  // namespace tarnevox
