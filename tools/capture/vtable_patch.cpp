#include "tools/capture/vtable_patch.h"

#include <windows.h>

namespace tarnevox {

namespace {

struct PatchRecord {
  void** table;
  unsigned slot;
  void* original;
};

// A handful of tables (the Direct3D object's and the device's, perhaps an Ex variant)
// times three slots. Records are only ever added and are complete before patchCount
// counts them, so readers need no lock.
constexpr unsigned kMaxPatches = 16;
PatchRecord patches[kMaxPatches];
volatile LONG patchCount = 0;
SRWLOCK patchLock = SRWLOCK_INIT;

void** tableOf(const void* object) { return *static_cast<void** const*>(object); }

const PatchRecord* findPatch(void** table, unsigned slot) {
  LONG count = InterlockedCompareExchange(&patchCount, 0, 0);
  for (LONG i = 0; i < count; ++i) {
    if (patches[i].table == table && patches[i].slot == slot) return &patches[i];
  }
  return nullptr;
}

// The tables live in read-only data.
bool writeEntry(void** entry, void* value) {
  DWORD oldProtection = 0;
  if (!VirtualProtect(entry, sizeof(void*), PAGE_READWRITE, &oldProtection)) return false;
  InterlockedExchangePointer(entry, value);
  VirtualProtect(entry, sizeof(void*), oldProtection, &oldProtection);
  return true;
}

}  // namespace

bool patchSlot(void* object, unsigned slot, void* replacement) {
  void** table = tableOf(object);
  AcquireSRWLockExclusive(&patchLock);
  bool ok = true;
  if (findPatch(table, slot) == nullptr) {
    LONG count = patchCount;
    if (count >= static_cast<LONG>(kMaxPatches) || table[slot] == replacement) {
      ok = false;
    } else {
      // Counted before the entry changes, so a call through the new entry always
      // finds its original.
      patches[count] = PatchRecord{table, slot, table[slot]};
      InterlockedIncrement(&patchCount);
      ok = writeEntry(&table[slot], replacement);
    }
  }
  ReleaseSRWLockExclusive(&patchLock);
  return ok;
}

void* originalSlot(const void* object, unsigned slot) {
  const PatchRecord* record = findPatch(tableOf(object), slot);
  return record != nullptr ? record->original : nullptr;
}

}  // namespace tarnevox
