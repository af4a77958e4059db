/* What the setup program must notice, played by a second process: a running player (a
   window of the player's main-window class) or a plug-in file that another program holds
   open without sharing. Also presses Next in a setup window, to reach its later pages.

     installer_helper window CLASS STOPFILE   a window of that class until STOPFILE exists
     installer_helper hold FILE STOPFILE      FILE open without sharing until STOPFILE exists
     installer_helper next TITLE              press Next in the window whose title starts
                                              with TITLE

   window and hold print "ready" once in place; the script waits for that line. */
#include <windows.h>

#include <stdio.h>

static int waitForStopFile(const wchar_t* stopFile) {
  printf("ready\n");
  fflush(stdout);
  while (GetFileAttributesW(stopFile) == INVALID_FILE_ATTRIBUTES) {
    MSG message;
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(50);
  }
  return 0;
}

static int showWindowOfClass(const wchar_t* className, const wchar_t* stopFile) {
  WNDCLASSW windowClass = {0};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(NULL);
  windowClass.lpszClassName = className;
  if (RegisterClassW(&windowClass) == 0) return 1;
  HWND window = CreateWindowExW(0, className, L"player", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                NULL, NULL, windowClass.hInstance, NULL);
  if (window == NULL) return 1;
  const int status = waitForStopFile(stopFile);
  DestroyWindow(window);
  return status;
}

static int holdFile(const wchar_t* path, const wchar_t* stopFile) {
  HANDLE file = CreateFileW(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  const int status = waitForStopFile(stopFile);
  CloseHandle(file);
  return status;
}

struct WindowSearch {
  const wchar_t* titleStart;
  HWND found;
};

static BOOL CALLBACK matchTitle(HWND window, LPARAM parameter) {
  struct WindowSearch* search = (struct WindowSearch*)parameter;
  wchar_t title[256];
  const int length = lstrlenW(search->titleStart);
  if (GetWindowTextW(window, title, 256) >= length &&
      CompareStringW(LOCALE_INVARIANT, 0, title, length, search->titleStart, length) == CSTR_EQUAL) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

/* The setup's Next button is its dialog's IDOK; its title gains a page's subtitle. */
static int pressNext(const wchar_t* titleStart) {
  for (int i = 0; i < 400; ++i) {
    struct WindowSearch search = {titleStart, NULL};
    EnumWindows(matchTitle, (LPARAM)&search);
    HWND button = search.found != NULL ? GetDlgItem(search.found, IDOK) : NULL;
    if (button != NULL && IsWindowEnabled(button)) {
      SendMessageW(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)button);
      return 0;
    }
    Sleep(50);
  }
  return 1;
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && lstrcmpW(argv[1], L"window") == 0) return showWindowOfClass(argv[2], argv[3]);
  if (argc == 4 && lstrcmpW(argv[1], L"hold") == 0) return holdFile(argv[2], argv[3]);
  if (argc == 3 && lstrcmpW(argv[1], L"next") == 0) return pressNext(argv[2]);
  fprintf(stderr, "usage: installer_helper window CLASS STOPFILE | hold FILE STOPFILE | next TITLE\n");
  return 2;
}
