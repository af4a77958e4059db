/* A stand-in for libXinerama.so.1 that tells Wine the X screen is split into the monitors
 * listed in TARNEVOX_MONITORS ("1800x1200+0+0 1280x1024+1800+0": width x height + left +
 * top each). Xvfb cannot place its screens side by side, and Wine reads monitors from
 * RandR outputs or, without RandR, from Xinerama; so tools/private-wine.sh and tools/wine32-root.sh start Xvfb
 * without RandR and puts this library first on Wine's library path. Nothing but the
 * layout is made up: the pixels are the one X screen's.
 *
 * Built in both widths with -nostdlib and without system headers (there are no 32-bit
 * development files here): the few C library functions it calls are declared below and
 * found in the process's C library once it is loaded. */
typedef __SIZE_TYPE__ size_t;
char *getenv(const char *name);
void *calloc(size_t count, size_t size);
void free(void *memory);
int sscanf(const char *text, const char *format, ...);
#define NULL ((void *)0)

typedef struct {
  int screen_number;
  short x_org;
  short y_org;
  short width;
  short height;
} ScreenInfo;

enum { kMostMonitors = 8 };

int XineramaQueryExtension(void *display, int *event_base, int *error_base) {
  (void)display;
  *event_base = 0;
  *error_base = 0;
  return 1;
}

int XineramaQueryVersion(void *display, int *major, int *minor) {
  (void)display;
  *major = 1;
  *minor = 1;
  return 1;
}

int XineramaIsActive(void *display) {
  (void)display;
  return 1;
}

/* Freed by the caller with XFree, which is free(). */
ScreenInfo *XineramaQueryScreens(void *display, int *count) {
  const char *layout = getenv("TARNEVOX_MONITORS");
  ScreenInfo *screens = calloc(kMostMonitors, sizeof *screens);
  int n = 0, width, height, left, top, used;
  (void)display;
  while (screens != NULL && layout != NULL && n < kMostMonitors &&
         sscanf(layout, " %dx%d+%d+%d%n", &width, &height, &left, &top, &used) == 4) {
    screens[n].screen_number = n;
    screens[n].x_org = (short)left;
    screens[n].y_org = (short)top;
    screens[n].width = (short)width;
    screens[n].height = (short)height;
    ++n;
    layout += used;
  }
  *count = n;
  if (n == 0) {
    free(screens);
    return NULL;
  }
  return screens;
}
