// Debugger output: one formatted line through OutputDebugStringW.
#pragma once

namespace tarnevox {

// Formats with wvsprintfW (so %s takes a wide string) into 2048 wide characters.
void DebugLog(const wchar_t* format, ...);

}  // namespace tarnevox
