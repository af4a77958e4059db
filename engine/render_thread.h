// The render thread of one started module and its frame clock.
#pragma once

#include <windows.h>

#include "common/status.h"

namespace tarnevox {

class Renderer;

Status startThread(Renderer* renderer);
Status stopThread(Renderer* renderer);

// Tells the render thread to end after its current pass and returns at once; stopThread
// then waits for it.
void requestThreadStop(Renderer* renderer);

// Waits for the handle as WaitForSingleObject does, while answering the messages that
// other threads send to the calling thread's windows. The thread that owns the visual
// window waits so for the render thread: Direct3D and the window system may send to the
// device's window from the render thread and from threads of their own, and wait for the
// answer.
DWORD waitAnsweringSentMessages(HANDLE handle, DWORD milliseconds);

DWORD WINAPI renderThreadProc(LPVOID parameter);
DWORD renderThreadMain(Renderer* renderer);

// The render thread's sleep: over at once when a stop is requested, so that a stop is
// noticed within a pause. Without a thread (no stop event) it is a plain sleep.
void pauseRenderThread(Renderer* renderer, DWORD milliseconds);

// Stops the render thread and destroys the renderer, unless the thread had to be
// terminated: then the renderer and all the thread may have held are left as they are,
// and false is returned so that the caller leaves alone what the thread used too.
bool retireRenderer(Renderer* renderer);

}  // namespace tarnevox
