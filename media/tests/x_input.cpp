#include "x_input.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace spherolux::media::testing {

XInput::XInput() : display_(XOpenDisplay(nullptr)) {}

XInput::~XInput() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

void XInput::MoveTo(int x, int y, unsigned delay_ms) { XTestFakeMotionEvent(display_, -1, x, y, delay_ms); }

void XInput::Button(int button, bool press, unsigned delay_ms) {
  XTestFakeButtonEvent(display_, static_cast<unsigned>(button), press ? True : False, delay_ms);
}

void XInput::Key(const char* name) {
  const KeyCode code = XKeysymToKeycode(display_, XStringToKeysym(name));
  XTestFakeKeyEvent(display_, code, True, 0);
  XTestFakeKeyEvent(display_, code, False, 0);
}

void XInput::Sync() { XSync(display_, False); }

}  // namespace spherolux::media::testing
