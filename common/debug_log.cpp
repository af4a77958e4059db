#include "common/debug_log.h"

#include <windows.h>

#include <cstdarg>

namespace tarnevox {

void DebugLog(const wchar_t* format, ...) {
  wchar_t buffer[2048];
  va_list args;
  va_start(args, format);
  // wvsprintfW never writes more than 1024 characters, so the buffer cannot overflow.
  wvsprintfW(buffer, format, args);
  va_end(args);
  OutputDebugStringW(buffer);
}

}  // namespace tarnevox
