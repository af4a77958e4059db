// Start, render and stop arrive with the engine; until then a module never starts.
#include "plugin/host_records.h"

namespace tarnevox {

int __cdecl onInit(VisModule*) { return 1; }
int __cdecl onRender(VisModule*) { return 1; }
void __cdecl onQuit(VisModule*) {}

}  // namespace tarnevox
