// Real input for GUI tests: pointer, button, wheel and key events injected into the X
// server with the XTest extension, as a user's devices would produce them.
#pragma once

struct _XDisplay;

namespace spherolux::media::testing {

class XInput {
 public:
  XInput();  // the display of $DISPLAY
  ~XInput();
  XInput(const XInput&) = delete;
  XInput& operator=(const XInput&) = delete;

  bool ok() const { return display_ != nullptr; }
  // Each event is processed by the server `delay_ms` after the previous one, so the events'
  // own times are that far apart.
  void MoveTo(int x, int y, unsigned delay_ms = 0);
  void Button(int button, bool press, unsigned delay_ms = 0);  // 1 left, 4/5 wheel up/down
  // A key by its X keysym name ("Left", "plus", "Home").
  void Key(const char* name);
  // Sends what is queued and waits until the server has processed it.
  void Sync();

 private:
  _XDisplay* display_ = nullptr;
};

}  // namespace spherolux::media::testing
