#include "media/media_player.h"

#include <malloc.h>

#include <QImage>
#include <QSaveFile>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "base/input_file.h"
#include "base/log.h"
#include "base/system.h"
#include "calib/calibration.h"
#include "convert/service.h"
#include "frame_pipeline.h"
#include "media/video_control.h"
#include "platform/messages.h"
#include "probe/probe.h"
#include "render/opengl_render.h"
#include "ui/settings.h"
#include "ui/strings.h"

namespace spherolux::media {
namespace {

namespace fs = std::filesystem;

constexpr float kDefaultFov = 90.0f;
constexpr int kZoomStep = 10;
constexpr float kDragDegreesPerHalfDiagonal = 60.0f;

// "%d_%d%d_%d%d%d_%d" of the UTC time: year, month, day, hour, minute, second, milliseconds.
std::string TimeStampName() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char name[64];
  std::snprintf(name, sizeof name, "%d_%d%d_%d%d%d_%d", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                utc.tm_min, utc.tm_sec, static_cast<int>(ms));
  return name;
}

// Milliseconds as the conversion engine's seconds: "12.345".
std::string EngineSeconds(int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
  return text;
}

// DIR/sub/, created when missing; "" when it cannot be.
std::string OutputSubdirectory(const std::string& dir, const char* sub) {
  std::error_code ec;
  const fs::path folder = fs::path(dir) / sub;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) return {};
  return folder.string() + "/";
}

// Without a sound device libvlc retries ALSA hundreds of times; the dummy output is quiet.
bool HasSoundDevice() {
  if (const char* forced = std::getenv("SPHEROLUX_AUDIO_OUTPUT")) return std::string(forced) != "adummy";
  std::error_code ec;
  if (std::getenv("PULSE_SERVER") != nullptr) return true;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
    if (fs::exists(fs::path(runtime) / "pulse" / "native", ec) || fs::exists(fs::path(runtime) / "pipewire-0", ec)) {
      return true;
    }
  }
  for (const auto& entry : fs::directory_iterator("/dev/snd", ec)) {
    if (entry.path().filename().string().rfind("pcm", 0) == 0) return true;
  }
  return false;
}

int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The engine's VA-API decoder opens the first DRM render node itself.
bool HasRenderNode() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/dev/dri", ec)) {
    if (entry.path().filename().string().rfind("renderD", 0) == 0) return true;
  }
  return false;
}

// The matrix a file states for its video (MediaInfo's names of the H.273 matrices), -1 when
// it states none that the renderer knows.
int StatedMatrix(const std::string& name) {
  if (name.find("709") != std::string::npos) return static_cast<int>(render::YuvMatrix::kBt709);
  if (name.find("2020") != std::string::npos) return static_cast<int>(render::YuvMatrix::kBt2020);
  for (const char* bt601 : {"601", "470", "170M", "FCC"}) {
    if (name.find(bt601) != std::string::npos) return static_cast<int>(render::YuvMatrix::kBt601);
  }
  return -1;
}

int StatedFullRange(const std::string& range) {
  if (range == "Full") return 1;
  return range == "Limited" ? 0 : -1;
}

// Writes `picture` as a PNG file at `path` in full (a temporary name until it is complete).
bool WritePicturePng(const ShownPicture& picture, const std::string& path) {
  QImage image;
  if (picture.yuv) {
    image = QImage(picture.width, picture.height, QImage::Format_RGB32);
    if (image.isNull()) return false;
    render::YuvToBgra(picture.Planes(), image.bits(), image.bytesPerLine());
  } else {
    image = QImage(picture.bytes.data(), picture.width, picture.height, picture.width * 4, QImage::Format_RGB32);
  }
  QSaveFile file(QString::fromStdString(path));
  return file.open(QIODevice::WriteOnly) && image.save(&file, "PNG") && file.commit();
}

std::string ChromaText(uint32_t code) {
  char text[5] = {};
  std::memcpy(text, &code, 4);
  return code != 0 ? text : "";
}

}  // namespace

CMediaPlayer::CMediaPlayer(CVideoControl* video, const char* vlc_library)
    : video_(video), frame_target_(std::make_unique<FrameTarget>()) {
  BindMediaInfo();
  api_.Load(vlc_library);
  output_dir_ = ui::DefaultOutputDir(ui::Environment::FromProcess());
  // A short-lived renderer on the real video window, only to learn what the driver offers.
  gl_major_ = render::COpenglRender(video_->surface(), nullptr).gl_major_version();
}

CMediaPlayer::~CMediaPlayer() {
  if (recording_) FinishRecording();
  ReleasePlayer();
  ReleaseMedia();
  if (instance_ != nullptr) api_.release_instance()(instance_);
  instance_ = nullptr;
  state_.store(kStateNone);
  if (renderer_ != nullptr) {
    TearDownPhoto();
    video_->SetRenderer(nullptr);
    renderer_.reset();
  }
  JoinWorkers();
}

void CMediaPlayer::SetNotify(Notify notify) {
  std::lock_guard<std::mutex> lock(notify_mutex_);
  notify_ = std::move(notify);
}

void CMediaPlayer::Emit(int code, uintptr_t wparam, intptr_t lparam) const {
  std::lock_guard<std::mutex> lock(notify_mutex_);
  if (notify_) notify_(code, wparam, lparam);
}

int CMediaPlayer::Probe(const std::string& path, bool photo) {
  if (InputStateOf(path) == InputState::kNotRegular) return kProbeNotAFile;
  if (!photo && IsNestedTooDeep(path.c_str()) == 1) return kProbeNestedTooDeep;
  const MediaFacts facts = ReadMediaFacts(path, photo);
  width_ = facts.width;
  height_ = facts.height;
  colour_matrix_ = StatedMatrix(facts.matrix_coefficients);
  colour_full_range_ = StatedFullRange(facts.colour_range);
  frame_rate_ = photo ? 0 : std::atof(MediaInfoGet(path, StreamKind::kVideo, "FrameRate").c_str());
  const FrameSize frame{width_, height_};
  const FileProbe probe = ProbeFile(path.c_str(), photo ? MediaKind::kPhoto : MediaKind::kVideo, &frame, &grids_);
  camera_type_ = probe.camera_type;
  view_mode_ = probe.view_mode;
  table_floats_ = camera_type_ == kCameraSingleLens ? render::kSingleLensTableFloats : render::kDualLensTableFloats;
  if (probe.extracted && probe.extraction == kCalibNoMemory) return kProbeNoMemory;
  return ShownByPlayer(probe) ? kProbeShown : kProbeNotShown;
}

std::vector<std::string> EngineOptions(unsigned processors, bool sound_device, bool hardware_decoder) {
  std::vector<std::string> options = {"--no-xlib", "--no-osd", "--no-video-title-show", "--no-snapshot-preview",
                                      "--quiet"};
  // One decoding thread per processor (the engine's default is one more): the drawing needs
  // the processors too, and the extra thread only adds a picture of delay and makes the
  // decoder's rush to fill its queue at the start, when pictures are lost, the harder.
  options.push_back("--avcodec-threads=" + std::to_string(std::max(1u, processors)));
  // The decoder that opens the render node itself: the pictures go to our callbacks, not to
  // an output that shares its device. The frame pipeline asks for them in memory.
  options.push_back(hardware_decoder ? "--avcodec-hw=vaapi_drm" : "--avcodec-hw=none");
  if (!sound_device) options.push_back("--aout=adummy");
  return options;
}

void PictureLossWatch::Restart(int64_t now_ms, bool new_video) {
  settled_at_ms_ = now_ms + kSettleMs;
  samples_.clear();
  if (new_video) told_ = false;
}

bool PictureLossWatch::Sample(int64_t now_ms, int64_t media_ms, int64_t displayed, double frame_rate) {
  if (told_ || now_ms < settled_at_ms_ || displayed < 0 || media_ms < 0 || frame_rate <= 0) return false;
  samples_.push_back({media_ms, displayed});
  // The oldest sample kept is the last one at least the span before this one.
  size_t first = 0;
  while (first + 1 < samples_.size() && media_ms - samples_[first + 1].media_ms >= kSpanMs) ++first;
  samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(first));
  const Counts& from = samples_.front();
  if (media_ms - from.media_ms < kSpanMs) return false;
  const double expected = static_cast<double>(media_ms - from.media_ms) * frame_rate / 1000;
  const double lost = expected - static_cast<double>(displayed - from.displayed);
  told_ = lost >= kMinLost && lost * 10 >= expected;
  return told_;
}

int RefusalText(int probe_result) {
  switch (probe_result) {
    case CMediaPlayer::kProbeNotAFile:
      return ui::kStrNotARegularFile;
    case CMediaPlayer::kProbeNestedTooDeep:
      return ui::kStrNestedTooDeep;
    default:
      return ui::kStrNotQualifiedCamera;
  }
}

bool CMediaPlayer::EnsureInstance() {
  open_error_ = api_.MissingFor(kVlcPlaybackEntries);
  if (open_error_.empty()) {
    open_error_ = api_.MissingFor(gl_major_ >= 2 ? kVlcFrameCallbackEntries : kVlcPlainPlaybackEntries);
  }
  if (!open_error_.empty()) return false;
  if (instance_ != nullptr) return true;
  const std::vector<std::string> options =
      EngineOptions(std::thread::hardware_concurrency(), HasSoundDevice(), HasRenderNode());
  std::vector<const char*> args;
  for (const std::string& option : options) args.push_back(option.c_str());
  instance_ = api_.new_instance()(static_cast<int>(args.size()), args.data());
  if (instance_ == nullptr) open_error_ = "the media engine (libvlc) could not be started";
  return instance_ != nullptr;
}

void CMediaPlayer::EnsureRenderer() {
  if (renderer_ != nullptr) return;
  renderer_ = std::make_unique<render::COpenglRender>(video_->surface(), video_);
  frame_target_->renderer = renderer_.get();
  video_->SetRenderer(renderer_.get());
}

void CMediaPlayer::TearDownPhoto() {
  if (!photo_renderer_) return;
  photo_renderer_ = false;
  if (renderer_ != nullptr) renderer_->TearDown();
  video_->ShowFlatImage(QImage());
}

int CMediaPlayer::Open(const std::string& path, bool photo) {
  open_error_.clear();
  // Photos need no media engine; videos are refused, with the reason, when it is missing.
  if (!photo && !EnsureInstance()) {
    Logf("%s\n", open_error_.c_str());
    return 0;
  }
  // The window closes the current playback first; if it does not, the player does.
  if (const int state = state_.load(); state != kStateNone && state != kStateStopped) {
    video_->SendToParent(platform::kMsgEngineEvent, platform::kNotifyEnd, 0);
    if (state_.load() != kStateNone && state_.load() != kStateStopped) Stop();
  }
  TearDownPhoto();
  path_ = path;
  if (!photo) loss_watch_.Restart(MonotonicMs(), true);

  if (photo) {
    Tracef("Open a jpg file\n");
    EnsureRenderer();
    photo_renderer_ = true;
    if (gl_major_ < 2) {
      if (!plain_question_ || !plain_question_()) return 0;
      const QImage image(QString::fromStdString(path));
      if (!image.isNull()) video_->ShowFlatImage(image);
      return 1;
    }
    video_->setFocus();
    PrepareRenderer();
    // Before Initialise, which builds the shaders for the source: a video's decoder pictures
    // (planes of YUV) would leave the photo with shaders that refuse every draw of it, and the
    // window on the video's last picture.
    renderer_->SetFrameSource(render::COpenglRender::kSourcePhoto);
    renderer_->Initialise();
    return renderer_->LoadPhoto(path) == 0 ? 1 : 0;
  }

  ReleasePlayer();
  ReleaseMedia();
  // An absolute name, which the engine cannot take for anything but a file.
  media_ = api_.media_new_path()(instance_, AbsolutePath(path).c_str());
  if (media_ == nullptr) return 0;
  player_ = api_.player_new_from_media()(media_);
  if (player_ == nullptr) return 0;
  EnsureRenderer();
  if (gl_major_ >= 2) {
    PrepareRenderer();
    renderer_->SetFrameSource(render::COpenglRender::kSourceDecoder);
    frame_target_->visible_width.store(width_);
    frame_target_->visible_height.store(height_);
    frame_target_->colour_matrix.store(colour_matrix_);
    frame_target_->colour_full_range.store(colour_full_range_);
    api_.set_format_callbacks()(player_, FrameFormat, FrameCleanup);
    api_.set_callbacks()(player_, FrameLock, FrameUnlock, FrameDisplay, frame_target_.get());
  } else {
    if (!plain_question_ || !plain_question_()) return 0;
    api_.set_xwindow()(player_, static_cast<uint32_t>(video_->surface()->winId()));
  }
  AttachEvents();
  state_.store(kStateOpened);
  frame_target_->paused.store(false);
  return 1;
}

void CMediaPlayer::PrepareRenderer() {
  renderer_->SetYuvConversion(yuv_conversion_);
  renderer_->SetMediaKind(camera_type_, width_, height_, GridA(), GridB(), table_floats_);
  renderer_->ResetCurrentMode();
  renderer_->SetViewMode(view_mode_);
  renderer_->SetRotation(0);
  zoom_value_ = renderer_->CurrentFov();
  zoom_pending_ = drag_pending_ = fling_pending_ = false;
}

void CMediaPlayer::AttachEvents() {
  libvlc_event_manager_t* events = api_.event_manager()(player_);
  for (libvlc_event_e type : {libvlc_MediaPlayerEndReached, libvlc_MediaPlayerPlaying, libvlc_MediaPlayerPaused,
                              libvlc_MediaPlayerPositionChanged}) {
    api_.event_attach()(events, type, &CMediaPlayer::OnEvent, this);
  }
}

void CMediaPlayer::OnEvent(const libvlc_event_t* event, void* opaque) {
  auto* self = static_cast<CMediaPlayer*>(opaque);
  switch (event->type) {
    case libvlc_MediaPlayerPlaying: {
      // The media's duration: the player's own length query is not safe from an event.
      const int64_t length = self->media_ != nullptr ? self->api_.media_get_duration()(self->media_) : 0;
      self->Emit(platform::kNotifyPlaying, 0, static_cast<int32_t>(length));
      break;
    }
    case libvlc_MediaPlayerPaused:
      self->Emit(platform::kNotifyPaused, 0, 0);
      break;
    case libvlc_MediaPlayerEndReached:
      self->Emit(platform::kNotifyEnd, 0, 0);
      break;
    case libvlc_MediaPlayerPositionChanged:
      self->Emit(platform::kNotifyPosition,
                 static_cast<uintptr_t>(event->u.media_player_position_changed.new_position * 100), 0);
      break;
    default:
      break;
  }
}

void CMediaPlayer::ReleasePlayer() {
  if (player_ == nullptr) return;
  // Stopping waits for the output thread to run its cleanup, which releases the GL context.
  api_.stop()(player_);
  api_.player_release()(player_);
  player_ = nullptr;
  // Snapshots still waiting for a picture get none now.
  frame_target_->DropShownPictureRequests();
  // The decoder threads' allocator arenas keep the pages of their freed picture buffers
  // (hundreds of megabytes at 4K) until asked to give them back.
  malloc_trim(0);
}

void CMediaPlayer::ReleaseMedia() {
  if (media_ == nullptr) return;
  api_.media_release()(media_);
  media_ = nullptr;
}

void CMediaPlayer::Play() {
  if (state_.load() == kStateNone || player_ == nullptr) return;
  api_.play()(player_);
  loss_watch_.Restart(MonotonicMs(), false);
  state_.store(kStatePlaying);
  frame_target_->paused.store(false);
  video_->setFocus();
}

void CMediaPlayer::Pause() {
  if (state_.load() == kStateNone || player_ == nullptr) return;
  api_.pause()(player_);
  state_.store(kStatePaused);
  frame_target_->paused.store(true);
  video_->setFocus();
}

void CMediaPlayer::Stop() {
  ResetView();
  if (state_.load() == kStateNone || player_ == nullptr) return;
  // A recording ends where the playback ends: nothing recorded so far is lost.
  if (recording_) FinishRecording();
  ReleasePlayer();
  state_.store(kStateStopped);
  frame_target_->paused.store(false);
  stopped_mark_ = true;
}

void CMediaPlayer::FrameStep() {
  if (player_ == nullptr) return;
  if (void* next = api_.Find("libvlc_media_player_next_frame")) {
    reinterpret_cast<decltype(&libvlc_media_player_next_frame)>(next)(player_);
  }
}

int CMediaPlayer::IsPlaying() const { return player_ != nullptr ? api_.is_playing()(player_) : 0; }

int64_t CMediaPlayer::Time() const { return player_ != nullptr ? api_.get_time()(player_) : 0; }

int64_t CMediaPlayer::Length() const {
  if (player_ == nullptr) return 0;
  api_.get_length()(player_);
  return media_ != nullptr ? api_.media_get_duration()(media_) : 0;
}

void CMediaPlayer::SetVolume(int volume) {
  if (state_.load() == kStateNone || player_ == nullptr) return;
  api_.set_volume()(player_, static_cast<int>(volume * 1.25));
}

void CMediaPlayer::SetMute(bool on) {
  if (state_.load() == kStateNone || player_ == nullptr) return;
  api_.set_mute()(player_, on ? 1 : 0);
}

void CMediaPlayer::Seek(float percent) {
  if (player_ == nullptr) return;
  api_.set_position()(player_, percent / 100.0f);
  loss_watch_.Restart(MonotonicMs(), false);
}

void CMediaPlayer::Rotate(int degrees) {
  if (renderer_ != nullptr) renderer_->SetRotation(degrees);
}

std::string CMediaPlayer::Snapshot() {
  if (player_ == nullptr || state_.load() == kStateNone || state_.load() == kStateStopped) return {};
  const std::string dir = OutputSubdirectory(output_dir_, "snapshots");
  if (dir.empty()) {
    Emit(kNotifySnapshot, 0, 0);
    return {};
  }
  const std::string path = dir + TimeStampName() + ".png";
  {
    std::lock_guard<std::mutex> lock(workers_mutex_);
    try {
      if (!snapshot_worker_.joinable())
        snapshot_worker_ = std::thread([this] {
          while (std::optional<std::function<void()>> snapshot = snapshots_.Pop()) (*snapshot)();
        });
    } catch (const std::system_error&) {
      Emit(kNotifySnapshot, 0, 0);
      return {};
    }
  }
  // The copy of the next picture shown comes on the output thread, which must not wait: the
  // file is written on the worker.
  frame_target_->RequestShownPicture([this, path](std::shared_ptr<const ShownPicture> picture) {
    const bool queued = picture != nullptr && snapshots_.TryPush([this, path, picture] {
      Emit(kNotifySnapshot, WritePicturePng(*picture, path) ? 1 : 0, 0);
    });
    if (!queued) Emit(kNotifySnapshot, 0, 0);
  });
  return path;
}

void CMediaPlayer::ToggleRecording() {
  const int state = state_.load();
  if (state == kStateNone || state == kStateStopped || player_ == nullptr) return;
  if (recording_) {
    FinishRecording();
    return;
  }
  record_start_ms_ = Time();
  const std::string dir = OutputSubdirectory(output_dir_, "records");
  if (dir.empty()) {
    Emit(kNotifyRecording, 0, CONVERT_ERR_CREATE_OUTPUT);
    return;
  }
  record_path_ = dir + TimeStampName() + ".mp4";
  recording_ = true;
}

void CMediaPlayer::FinishRecording() {
  recording_ = false;
  int64_t start = record_start_ms_;
  int64_t stop = Time();
  if (stop < start) std::swap(start, stop);
  // A range shorter than a second keeps one second, as the converter's trims do.
  last_record_range_ = {start, std::max<int64_t>(stop - start, 1000)};
  // The engine's stream copy (convert/engine.h), its times in seconds to the millisecond.
  const std::vector<std::string> args = {"ffmpeg", "-ss",       EngineSeconds(last_record_range_.start_ms),    "-i",
                                         path_,    "-t",        EngineSeconds(last_record_range_.duration_ms), "-c",
                                         "copy",   record_path_};
  if (service_ == nullptr) {
    Emit(kNotifyRecording, 0, CONVERT_ERR_UNSUPPORTED);
    return;
  }
  convert::ServiceJob job;
  job.output = record_path_;
  job.call = [args](const std::string&) { return convert::EngineCall{args, 0}; };
  convert::ServiceCallbacks callbacks;
  callbacks.ended = [this](const convert::ServiceResult& r) { Emit(kNotifyRecording, 0, r.result); };
  std::lock_guard<std::mutex> lock(workers_mutex_);
  remuxes_.push_back(service_->Submit(std::move(job), std::move(callbacks)));
}

void CMediaPlayer::JoinWorkers() {
  std::thread snapshot_worker;
  std::vector<uint64_t> remuxes;
  {
    std::lock_guard<std::mutex> lock(workers_mutex_);
    snapshots_.Close();
    snapshot_worker.swap(snapshot_worker_);
    remuxes.swap(remuxes_);
  }
  if (snapshot_worker.joinable()) snapshot_worker.join();
  if (service_ != nullptr)
    for (uint64_t id : remuxes) service_->Wait(id);
}

void CMediaPlayer::Zoom(int wheel) {
  if (view_mode_ == render::kModeFlat) return;
  const float fov = renderer_ != nullptr ? renderer_->CurrentFov() : kDefaultFov;
  zoom_value_ = wheel < 0 ? fov - kZoomStep : fov + kZoomStep;
  zoom_pending_ = true;
}

void CMediaPlayer::Drag(float dx, float dy) {
  if (view_mode_ == render::kModeFlat) return;
  drag_x_ = dx;
  drag_y_ = dy;
  drag_pending_ = true;
}

void CMediaPlayer::Fling(float vx, float vy) {
  if (view_mode_ == render::kModeFlat) return;
  fling_x_ = vx;
  fling_y_ = vy;
  fling_pending_ = true;
}

void CMediaPlayer::ResetView() {
  drag_pending_ = fling_pending_ = false;
  if (renderer_ == nullptr) return;
  if (render::CShapeModel* model = renderer_->current_model()) {
    model->SetYawVelocity(0);
    model->SetPitchVelocity(0);
    model->SetResetPending(true);
    zoom_value_ = model->fov();
  }
}

void CMediaPlayer::ApplyViewMode() {
  if (renderer_ != nullptr) renderer_->SetViewMode(view_mode_);
  video_->setFocus();
}

void CMediaPlayer::SetFlip(bool on) {
  if (renderer_ != nullptr) renderer_->SetFlip(on);
}

void CMediaPlayer::Refresh() {
  if (renderer_ == nullptr) return;
  render::CShapeModel* model = renderer_->current_model();
  if (zoom_pending_) {
    zoom_pending_ = false;
    if (model != nullptr) model->SetFov(zoom_value_);
  }
  if ((drag_pending_ || fling_pending_) && model != nullptr) {
    const float d = video_->Diagonal();
    model->SetDiagonal(d);
    if (drag_pending_) {
      drag_pending_ = false;
      model->SetResetPending(false);
      model->AddYaw(drag_x_ * kDragDegreesPerHalfDiagonal / (d / 2));
      model->AddPitch(drag_y_ * kDragDegreesPerHalfDiagonal / (d / 2));
    }
    if (fling_pending_) {
      fling_pending_ = false;
      model->SetResetPending(false);
      model->SetYawVelocity(fling_x_ / d);
      if (renderer_->current_mode() != render::kModeIndome) model->SetPitchVelocity(fling_y_ / d);
    }
  }
  if (photo_renderer_ && gl_major_ >= 2) renderer_->Draw(nullptr);
}

bool CMediaPlayer::DecoderFallsBehind() {
  if (state_.load() != kStatePlaying) return false;
  return loss_watch_.Sample(MonotonicMs(), Time(), GetStats().displayed, frame_rate_);
}

CMediaPlayer::Stats CMediaPlayer::GetStats() const {
  Stats stats;
  stats.frames_drawn = frame_target_->frames_drawn.load();
  stats.live_outputs = frame_target_->live_outputs.load();
  stats.outputs_started = frame_target_->outputs_started.load();
  stats.picture_width = frame_target_->picture_width.load();
  stats.picture_height = frame_target_->picture_height.load();
  stats.proposed_chroma = ChromaText(frame_target_->proposed_chroma.load());
  stats.chosen_chroma = ChromaText(frame_target_->chosen_chroma.load());
  libvlc_media_stats_t engine{};
  if (media_ != nullptr && api_.media_get_stats()(media_, &engine) != 0) {
    stats.displayed = engine.i_displayed_pictures;
    stats.lost = engine.i_lost_pictures;
  }
  return stats;
}

}  // namespace spherolux::media
