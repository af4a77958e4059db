// The render thread of one started module and its frame clock.
#pragma once

#include <windows.h>

#include "common/status.h"

namespace tarnevox {

class Renderer;

Status startThread(Renderer* renderer);
Status stopThread(Renderer* renderer);
DWORD WINAPI renderThreadProc(LPVOID parameter);
DWORD renderThreadMain(Renderer* renderer);

}  // namespace tarnevox
