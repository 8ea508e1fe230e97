// The screen recorder (record/screen_recorder.h) as the main window drives it.
#pragma once

#include <string>

#include "app/player_window.h"
#include "record/screen_recorder.h"
#include "render/render_hooks.h"

namespace spherolux::app {

// Attaches the recorder to the renderer of the window's player when a recording starts, and
// passes the recorder's "saved" message on to the window. UI thread, like the window.
//
// The renderer keeps a pointer to the recorder: a bridge must outlive the window (and with it
// the player and its renderer), so it is made first and given the window afterwards.
class RecorderBridge final : public ScreenRecorder, public render::RenderMessageSink {
 public:
  RecorderBridge() : recorder_(this) {}
  void SetWindow(CVideoPlayerDlg* window) { window_ = window; }

  bool Start(const std::string& source, const std::string& output, int64_t time_ms) override;
  bool Stop() override { return recorder_.Stop(); }
  Failure failure() const override;
  // From the window's thread (Stop) or the recorder's worker (a write failed): the window is
  // told through its queue.
  void Post(unsigned message) override {
    if (window_ != nullptr) window_->post(message);
  }

 private:
  CVideoPlayerDlg* window_ = nullptr;
  record::ScreenRecorder recorder_;
};

}  // namespace spherolux::app
