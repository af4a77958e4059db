#include "tools/capture/capture_settings.h"

namespace tarnevox {

namespace {

// Reads one variable into buffer; false when it is absent, empty or too long.
bool readVariable(const wchar_t* name, wchar_t* buffer, DWORD capacity) {
  DWORD length = GetEnvironmentVariableW(name, buffer, capacity);
  if (length == 0 || length >= capacity) {
    buffer[0] = L'\0';
    return false;
  }
  return true;
}

unsigned readCount(const wchar_t* name, unsigned fallback) {
  wchar_t text[32];
  if (!readVariable(name, text, 32)) return fallback;
  return parseCount(text, fallback);
}

}  // namespace

unsigned parseCount(const wchar_t* text, unsigned fallback) {
  if (text == nullptr || text[0] == L'\0') return fallback;
  unsigned long long value = 0;
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    if (*p < L'0' || *p > L'9') return fallback;
    value = value * 10 + static_cast<unsigned>(*p - L'0');
    if (value > 0xFFFFFFFFull) return fallback;
  }
  return static_cast<unsigned>(value);
}

CaptureSettings readCaptureSettings() {
  CaptureSettings settings;
  settings.enabled = readVariable(L"TARNEVOX_CAPTURE_DIR", settings.directory, MAX_PATH);
  settings.every = readCount(L"TARNEVOX_CAPTURE_EVERY", 1);
  if (settings.every == 0) settings.every = 1;
  settings.limit = readCount(L"TARNEVOX_CAPTURE_LIMIT", 0);
  settings.stallMs = readCount(L"TARNEVOX_CAPTURE_STALL_MS", 0);
  wchar_t mode[16];
  if (readVariable(L"TARNEVOX_CAPTURE_MODE", mode, 16)) {
    if (lstrcmpiW(mode, L"sequence") == 0) settings.mode = CaptureMode::kSequence;
    if (lstrcmpiW(mode, L"count") == 0) settings.mode = CaptureMode::kCount;
  }
  wchar_t fault[16];
  if (readVariable(L"TARNEVOX_CAPTURE_FAULT", fault, 16)) {
    if (lstrcmpiW(fault, L"reset") == 0) settings.fault = DeviceFault::kResetFails;
    if (lstrcmpiW(fault, L"driver") == 0) settings.fault = DeviceFault::kDriverError;
    if (lstrcmpiW(fault, L"loss") == 0) settings.fault = DeviceFault::kLoss;
  }
  settings.faultAtMs = readCount(L"TARNEVOX_CAPTURE_FAULT_AT_MS", settings.faultAtMs);
  settings.faultMs = readCount(L"TARNEVOX_CAPTURE_FAULT_MS", settings.faultMs);
  return settings;
}

bool direct3DRefused() {
  wchar_t value[8];
  return readVariable(L"TARNEVOX_CAPTURE_REFUSE", value, 8);
}

}  // namespace tarnevox
