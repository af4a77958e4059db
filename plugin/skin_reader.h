// Reading the skin colours from the host and applying them to a running module.
#pragma once

#include <windows.h>

#include "plugin/skin_colors.h"

namespace tarnevox {

struct VisModule;

// Process-wide, used only on the host thread that runs the callbacks.
extern SkinColors gSkinColors;
extern HBITMAP skinBitmap;

// Replaces the held skin bitmap with a fresh one from the host and re-reads the table.
void readSkinColors(HWND hostWindow);

// Re-reads the skin and colours the module's renderer: foreground entry 1, background 0.
void applySkinColors(VisModule* module);

// Deletes the held skin bitmap, if any.
void releaseSkinBitmap();

}  // namespace tarnevox
