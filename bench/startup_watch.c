/* startup_watch: starts a program on the X display and watches the screen until the program's
 * window is up and until it shows a picture; prints both times in milliseconds after the start.
 *
 *   startup_watch TIMEOUT_MS COMMAND [ARGS...]
 *
 * "Window up": more than 2 % of the screen differs from the empty screen's black. "Picture":
 * more than 4 % of the screen is strongly coloured (max - min channel > 90): the test clips are
 * colourful, while both programs' own controls are grey (the idle logo of our window covers
 * under 1 %). The screen is read every 10 ms with XGetImage; the program is ended after the
 * picture (or the timeout) together with its process group. Output: one JSON line. */
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double NowMs(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: startup_watch TIMEOUT_MS COMMAND [ARGS...]\n");
    return 2;
  }
  const double timeout = atof(argv[1]);
  Display* display = XOpenDisplay(NULL);
  if (display == NULL) {
    fprintf(stderr, "startup_watch: no X display\n");
    return 2;
  }
  const Window root = DefaultRootWindow(display);
  XWindowAttributes attributes;
  XGetWindowAttributes(display, root, &attributes);
  const int width = attributes.width, height = attributes.height;

  const double start = NowMs();
  const pid_t child = fork();
  if (child == 0) {
    setpgid(0, 0);
    /* The programs' own chatter stays out of the report. */
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) {
      dup2(null_fd, STDOUT_FILENO);
      dup2(null_fd, STDERR_FILENO);
    }
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  setpgid(child, child);

  double window_ms = -1, picture_ms = -1;
  while (NowMs() - start < timeout && picture_ms < 0) {
    XImage* image = XGetImage(display, root, 0, 0, width, height, AllPlanes, ZPixmap);
    if (image != NULL) {
      long lit = 0, coloured = 0, total = 0;
      for (int y = 0; y < height; y += 2) {
        for (int x = 0; x < width; x += 2) {
          const unsigned long p = XGetPixel(image, x, y);
          const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
          const int hi = r > g ? (r > b ? r : b) : (g > b ? g : b);
          const int lo = r < g ? (r < b ? r : b) : (g < b ? g : b);
          lit += hi > 16;
          coloured += hi - lo > 90;
          ++total;
        }
      }
      XDestroyImage(image);
      const double now = NowMs() - start;
      if (window_ms < 0 && lit * 50 > total) window_ms = now;
      if (coloured * 25 > total) picture_ms = now;
    }
    int status;
    if (waitpid(child, &status, WNOHANG) == child) break;
    usleep(10000);
  }
  kill(-child, SIGTERM);
  usleep(300000);
  kill(-child, SIGKILL);
  waitpid(child, NULL, 0);
  printf("{\"window_ms\":%.0f,\"picture_ms\":%.0f}\n", window_ms, picture_ms);
  XCloseDisplay(display);
  return picture_ms < 0 ? 1 : 0;
}
