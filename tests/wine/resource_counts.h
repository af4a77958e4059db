// What a process holds, counted in ways that work under Wine as well as on Windows.
// Wine answers GetGuiResources and GetProcessHandleCount with 0, so besides them the
// counts come from the system's handle table, from probing GDI and window handles and
// from a thread snapshot.
#pragma once

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <vector>

namespace tarnevox::testing {

struct ResourceCounts {
  unsigned threads = 0;
  unsigned kernelHandles = 0;  // from the system handle table
  unsigned gdiObjects = 0;     // valid GDI handle values
  unsigned windows = 0;        // valid window handle values of this process
  DWORD guiGdi = 0;            // GetGuiResources, where it works
  DWORD guiUser = 0;
  DWORD processHandles = 0;    // GetProcessHandleCount, where it works
  SIZE_T privateBytes = 0;     // committed memory of this process alone
};

inline std::vector<DWORD> threadIds() {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.push_back(entry.th32ThreadID);
  }
  CloseHandle(snapshot);
  return ids;
}

inline unsigned countThreads() { return static_cast<unsigned>(threadIds().size()); }

inline unsigned countKernelHandles() {
  struct Entry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
  };
  struct Table {
    ULONG count;
    Entry entries[1];
  };
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return 0;
  std::vector<unsigned char> buffer(1 << 20);
  ULONG needed = 0;
  LONG status;
  while ((status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
         static_cast<LONG>(0xC0000004L)) {  // length mismatch
    buffer.resize(buffer.size() * 2);
  }
  if (status < 0) return 0;
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  unsigned count = 0;
  for (ULONG i = 0; i < table->count; ++i) {
    if (table->entries[i].ownerPid == GetCurrentProcessId()) ++count;
  }
  return count;
}

inline unsigned countGdiObjects() {
  unsigned count = 0;
  for (ULONG_PTR value = 1; value < 0x10000; ++value) {
    if (GetObjectType(reinterpret_cast<HGDIOBJ>(value)) != 0) ++count;
  }
  return count;
}

// Window handles are shared by every process of the session: count only this one's.
inline unsigned countWindows() {
  unsigned count = 0;
  for (ULONG_PTR value = 1; value < 0x10000; ++value) {
    const HWND window = reinterpret_cast<HWND>(value);
    DWORD process = 0;
    if (IsWindow(window) && GetWindowThreadProcessId(window, &process) != 0 &&
        process == GetCurrentProcessId()) {
      ++count;
    }
  }
  return count;
}

inline ResourceCounts countResources() {
  ResourceCounts c;
  c.threads = countThreads();
  c.kernelHandles = countKernelHandles();
  c.gdiObjects = countGdiObjects();
  c.windows = countWindows();
  c.guiGdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  c.guiUser = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  GetProcessHandleCount(GetCurrentProcess(), &c.processHandles);
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (K32GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
    // Wine reports the commit charge only as PagefileUsage, which Windows makes the same.
    c.privateBytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
  }
  return c;
}

}  // namespace tarnevox::testing
