// Replacing entries of a COM object's virtual table. Direct3D shares one table among
// all objects of a class, so a patch reaches every later object of that class too.
#pragma once

namespace tarnevox {

// Points the object's table entry `slot` at replacement and remembers the entry it
// held. Patching an entry twice keeps the first original. False when the table cannot
// be written or the record of originals is full.
bool patchSlot(void* object, unsigned slot, void* replacement);

// The entry that patchSlot replaced in the object's table, or null if it never did.
void* originalSlot(const void* object, unsigned slot);

}  // namespace tarnevox
