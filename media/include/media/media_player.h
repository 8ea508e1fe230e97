// CMediaPlayer: plays one photo or video at a time in a CVideoControl, panoramically
// through the renderer, with libvlc as the decoder.
//
// Opening. Probe classifies the file (camera-type query, MediaInfo size, view mode, the
// grids of a camera recording) and refuses what is no panorama; Open then shows a photo on
// the window thread or prepares a video whose pictures the engine hands to the frame
// pipeline on its own output thread. Open refuses, with a message in open_error(), when the
// media engine or an entry it needs is missing.
//
// States: 0 nothing open, 1 opened, 2 playing, 3 paused, 4 stopped. Open (video) → 1;
// Play → 2; Pause → 3; Stop → 4 (the media player is released; open again to play). A
// photo open leaves the state as it was.
//
// View requests (Zoom, Drag, Fling, ResetView) are stored and applied by Refresh, which the
// window calls for each drawn video frame (message 0x500) and every 25 ms for a photo.
//
// Threads. Every operation runs on the window thread that owns the video control. Engine
// events arrive on the engine's threads and only call the notify callback (which must only
// post). Stop waits for the engine's output thread to finish; that thread never waits for
// the window thread. Snapshots run one after another on one worker thread, stream
// recordings as jobs of the conversion service; both report through the notify callback, and
// the destructor waits for them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/queue.h"
#include "media/media_info.h"
#include "media/vlc_api.h"
#include "probe/probe.h"
#include "render/yuv.h"

class QImage;

namespace spherolux::convert {
class ConversionService;
}

namespace spherolux::render {
class COpenglRender;
}

namespace spherolux::media {

class CVideoControl;
struct FrameTarget;

// Notify codes of the player's own work, beyond the engine's events.
constexpr int kNotifySnapshot = 1262;   // wParam: 1 the snapshot file was written, 0 it failed
constexpr int kNotifyRecording = 1263;  // lParam: the conversion engine's result (0 written)

enum PlayerState : int { kStateNone = 0, kStateOpened = 1, kStatePlaying = 2, kStatePaused = 3, kStateStopped = 4 };

// The options the player starts libvlc with: one decoding thread per processor; decoding on
// the machine's VA-API device when it has one (`hardware_decoder`: a DRM render node), its
// pictures copied back to planar YUV in memory for the frame pipeline, and the engine's own
// fall back to software decoding for what the device cannot decode; no probing of devices
// otherwise; the silent sound output without a sound device.
std::vector<std::string> EngineOptions(unsigned processors, bool sound_device, bool hardware_decoder);

// Whether the decoder keeps up with a video. Fed, while the video plays, the position in it
// and the engine's running count of displayed pictures, Sample answers true once per video
// when, over the last seconds of the video, a tenth of its pictures or more were not shown
// (the engine drops pictures that come too late, in the decoder or before the display, which
// keeps the sound in sync). The first seconds after an open or a seek are not judged: the
// decoder fills its queue then and loses a few pictures whatever the size.
class PictureLossWatch {
 public:
  static constexpr int64_t kSettleMs = 1500;  // not judged after an open or a seek
  static constexpr int64_t kSpanMs = 2000;    // the span of the video judged
  static constexpr int kMinLost = 8;          // fewer losses are never told

  // A new video (`new_video`: it may be told about again) or a seek, at `now_ms`.
  void Restart(int64_t now_ms, bool new_video);
  // At `now_ms`, the video at `media_ms` with `displayed` pictures shown so far, of
  // `frame_rate` a second (unknown, <= 0: nothing is judged).
  bool Sample(int64_t now_ms, int64_t media_ms, int64_t displayed, double frame_rate);

 private:
  struct Counts {
    int64_t media_ms, displayed;
  };
  int64_t settled_at_ms_ = 0;
  std::vector<Counts> samples_;
  bool told_ = false;
};

class CMediaPlayer {
 public:
  // Notify callback: (code, wparam, lparam) with the codes of platform/messages.h
  // (kNotifyEnd, kNotifyPaused, kNotifyPlaying with the length in ms as lParam,
  // kNotifyPosition with the position x 100 as wParam) and the two below. Called on engine
  // and worker threads; it must return at once (post, never wait).
  using Notify = std::function<void(int code, uintptr_t wparam, intptr_t lparam)>;
  // Asked before a plain (non-panoramic) playback when OpenGL 2.0 is missing: true to go on.
  // The window asks, in its language; without a question nothing is played plainly.
  using PlainPlaybackQuestion = std::function<bool()>;

  // Binds MediaInfo, loads the engine table and reads the GL major version on the control's
  // window. View mode 2. `vlc_library` other than the default is for tests.
  explicit CMediaPlayer(CVideoControl* video, const char* vlc_library = kVlcLibrary);
  ~CMediaPlayer();
  CMediaPlayer(const CMediaPlayer&) = delete;
  CMediaPlayer& operator=(const CMediaPlayer&) = delete;

  void SetNotify(Notify notify);
  void SetPlainPlaybackQuestion(PlainPlaybackQuestion question) { plain_question_ = std::move(question); }
  // Snapshots go to DIR/snapshots/, stream recordings to DIR/records/ (created when needed);
  // DIR is ui::DefaultOutputDir until set.
  void SetOutputDirectory(const std::string& dir) { output_dir_ = dir; }
  const std::string& output_directory() const { return output_dir_; }
  // The process's conversion service (convert/service.h), which runs the stream-record
  // remux; it outlives the player. Without one a recording ends as unsupported.
  void SetConversionService(convert::ConversionService* service) { service_ = service; }

  // 0 accept; non-zero refuse: kProbeNoMemory when the grids could not be allocated,
  // kProbeNotAFile for a folder, pipe or device (opening a pipe would hold the window thread
  // for good), kProbeNestedTooDeep for an MP4 whose boxes nest deeper than our box reader goes
  // (the engine's readers would run out of stack), else kProbeNotShown. No library but our own
  // readers sees a file refused as no file or nested too deep.
  enum ProbeResult : int {
    kProbeShown = 0,
    kProbeNoMemory = -1,
    kProbeNotShown = 1,
    kProbeNotAFile = 2,
    kProbeNestedTooDeep = 3,
  };
  int Probe(const std::string& path, bool photo);
  // 1 success, 0 failure (open_error() says why when the engine is missing).
  int Open(const std::string& path, bool photo);
  const std::string& open_error() const { return open_error_; }

  void Play();
  void Pause();
  void Stop();
  // The next picture, paused; nothing when no video is open.
  void FrameStep();
  int IsPlaying() const;
  int64_t Time() const;
  int64_t Length() const;
  // 0-100 percent; the engine gets trunc(v * 1.25).
  void SetVolume(int volume);
  void SetMute(bool on);
  // 0-100 percent of the length.
  void Seek(float percent);
  // 0, 90, 180 or 270 degrees, applied by the renderer to the picture.
  void Rotate(int degrees);
  // Writes the next picture shown (the paused one while paused), at the size it was decoded,
  // as a PNG file in DIR/snapshots/ on a worker thread; the path, or "" when nothing plays.
  // kNotifySnapshot follows, also when the playback ends before a picture is shown.
  std::string Snapshot();
  // Starts or ends a stream recording of the playing file. At the end, the range played
  // meanwhile is copied (no re-encoding) to DIR/records/NAME.mp4 by the conversion engine
  // on a worker thread; kNotifyRecording follows with the engine's result code as lParam.
  // Nothing in state 0 or 4.
  void ToggleRecording();
  bool recording() const { return recording_; }
  // The range of the playing file that the last finished recording copies.
  struct RecordRange {
    int64_t start_ms = 0;
    int64_t duration_ms = 0;
  };
  RecordRange last_record_range() const { return last_record_range_; }

  void Zoom(int wheel);
  void Drag(float dx, float dy);
  void Fling(float vx, float vy);
  void ResetView();
  void SetViewMode(int mode) { view_mode_ = mode; }
  int view_mode() const { return view_mode_; }
  void ApplyViewMode();
  void SetFlip(bool on);
  void Refresh();

  int state() const { return state_.load(); }
  int gl_major_version() const { return gl_major_; }
  int camera_type() const { return camera_type_; }
  int width() const { return width_; }
  int height() const { return height_; }
  bool stopped_mark() const { return stopped_mark_; }
  void ClearStoppedMark() { stopped_mark_ = false; }
  render::COpenglRender* renderer() const { return renderer_.get(); }
  // Where the renderer turns YUV pictures into RGB (render/opengl_render.h), from the next
  // open on; the renderer's own choice by default.
  void SetYuvConversion(render::YuvConversion conversion) { yuv_conversion_ = conversion; }
  const VlcApi& api() const { return api_; }

  // Playback counters of the current medium.
  struct Stats {
    uint64_t frames_drawn = 0;  // pictures drawn by the frame pipeline
    int live_outputs = 0;       // video outputs between format and cleanup
    uint64_t outputs_started = 0;
    int picture_width = 0;  // the picture size the engine proposed
    int picture_height = 0;
    std::string proposed_chroma;  // the engine's chroma for the pictures ("I420", ...)
    std::string chosen_chroma;    // the chroma the frame pipeline took them in
    int displayed = -1;           // the engine's statistics (-1 unknown)
    int lost = -1;
  };
  Stats GetStats() const;
  // True once per video, at the call after the decoder has lost too many pictures
  // (PictureLossWatch); the window calls it twice a second while a video plays.
  bool DecoderFallsBehind();

 private:
  bool EnsureInstance();
  void ReleasePlayer();
  void ReleaseMedia();
  void EnsureRenderer();
  void TearDownPhoto();
  // The probed medium's kind, grids and view mode for the renderer; the view requests and the
  // picture's rotation start afresh.
  void PrepareRenderer();
  void AttachEvents();
  void Emit(int code, uintptr_t wparam, intptr_t lparam) const;
  void FinishRecording();
  void JoinWorkers();
  static void OnEvent(const libvlc_event_t* event, void* self);
  const float* GridA() const { return grids_.table_a.empty() ? nullptr : grids_.table_a.data(); }
  const float* GridB() const { return grids_.table_b.empty() ? nullptr : grids_.table_b.data(); }

  CVideoControl* video_;
  VlcApi api_;
  std::string open_error_;
  std::string output_dir_;
  convert::ConversionService* service_ = nullptr;
  PlainPlaybackQuestion plain_question_;
  mutable std::mutex notify_mutex_;
  Notify notify_;  // guarded by notify_mutex_

  std::atomic<int> state_{kStateNone};
  libvlc_instance_t* instance_ = nullptr;
  libvlc_media_t* media_ = nullptr;
  libvlc_media_player_t* player_ = nullptr;
  int gl_major_ = 0;
  std::unique_ptr<render::COpenglRender> renderer_;
  std::unique_ptr<FrameTarget> frame_target_;
  PictureLossWatch loss_watch_;
  bool photo_renderer_ = false;  // the renderer was initialised on this thread for a photo
  render::YuvConversion yuv_conversion_ = render::YuvConversion::kAuto;

  // View requests (window thread).
  float zoom_value_ = 90.0f;
  bool zoom_pending_ = false;
  float drag_x_ = 0, drag_y_ = 0;
  bool drag_pending_ = false;
  float fling_x_ = 0, fling_y_ = 0;
  bool fling_pending_ = false;

  // The medium.
  int camera_type_ = 0;
  int width_ = 0;
  int height_ = 0;
  int colour_matrix_ = -1;  // the video's stated colour (FrameTarget has the meaning)
  int colour_full_range_ = -1;
  double frame_rate_ = 0;  // pictures a second as the file states it, 0 unknown
  ViewGrids grids_;        // filled by Probe for camera files
  int table_floats_ = 0;
  int view_mode_ = 2;
  std::string path_;

  bool stopped_mark_ = false;
  bool recording_ = false;
  int64_t record_start_ms_ = 0;
  std::string record_path_;
  RecordRange last_record_range_;

  std::mutex workers_mutex_;
  // Snapshots, written one after another on one worker from the copies the output hands over;
  // the worker starts with the first snapshot and drains the queue at the end.
  BoundedQueue<std::function<void()>> snapshots_{64};
  std::thread snapshot_worker_;    // guarded by workers_mutex_
  std::vector<uint64_t> remuxes_;  // guarded by workers_mutex_: the service's jobs, waited for at the end
};

// The string-table id (ui/strings.h) of the message that tells the user why Probe refused a
// file, for a non-zero result of Probe.
int RefusalText(int probe_result);

}  // namespace spherolux::media
