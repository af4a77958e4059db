// What the capturing d3d9.dll does, taken from the environment each time a device is
// created, so one process can switch capture on and off between devices.
#pragma once

#include <windows.h>

namespace tarnevox {

enum class CaptureMode {
  kLatest,    // one file, "latest.ppm", replaced as a whole on every capture
  kSequence,  // "frame-00001.ppm", "frame-00002.ppm", ...
  kCount,     // no pictures: "presents.log" gets a line for each device (its adapter),
              // every Nth Present and each Present whose back buffer has another size
              // than the one before
};

// A fault that turns the real device bad for the tests and measurements of recovery.
enum class DeviceFault {
  kNone,
  kResetFails,   // "reset": lost, then every Reset fails (D3DERR_DRIVERINTERNALERROR)
  kDriverError,  // "driver": every TestCooperativeLevel and Present answers a driver error
  kLoss,         // "loss": lost for a while (TARNEVOX_CAPTURE_FAULT_MS), then Reset works
};

struct CaptureSettings {
  bool enabled = false;       // TARNEVOX_CAPTURE_DIR set and not empty
  wchar_t directory[MAX_PATH] = {};
  unsigned every = 1;         // TARNEVOX_CAPTURE_EVERY: every Nth Present of a device
  unsigned limit = 0;         // TARNEVOX_CAPTURE_LIMIT: files per device, 0 = no limit
  CaptureMode mode = CaptureMode::kLatest;  // TARNEVOX_CAPTURE_MODE: latest | sequence | count
  // TARNEVOX_CAPTURE_STALL_MS: every Present of the device first waits this long, as in a
  // stalled driver (capture on or off).
  unsigned stallMs = 0;
  // TARNEVOX_CAPTURE_FAULT: reset | driver | loss, for the first device of the process
  // that is made while it is set, TARNEVOX_CAPTURE_FAULT_AT_MS (1000) after its creation.
  DeviceFault fault = DeviceFault::kNone;
  unsigned faultAtMs = 1000;
  unsigned faultMs = 3000;  // TARNEVOX_CAPTURE_FAULT_MS: how long a loss lasts
};

CaptureSettings readCaptureSettings();

// TARNEVOX_CAPTURE_REFUSE set and not empty, read at each Direct3DCreate9: it returns
// nothing, as where Direct3D is switched off.
bool direct3DRefused();

// Parses a decimal count; anything else (empty, signs, junk, overflow) gives fallback.
unsigned parseCount(const wchar_t* text, unsigned fallback);

}  // namespace tarnevox
