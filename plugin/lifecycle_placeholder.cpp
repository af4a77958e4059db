// The render callback arrives with the analysis; until then no frame is analysed.
#include "plugin/host_records.h"

namespace tarnevox {

int __cdecl onRender(VisModule*) { return 1; }

}  // namespace tarnevox
