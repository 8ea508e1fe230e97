#include "app/reframe_panel.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryFile>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <fstream>

#include "app/keys.h"
#include "base/log.h"
#include "convert/client.h"
#include "convert/job.h"
#include "convert/service.h"
#include "convert/words.h"
#include "media/media_player.h"
#include "probe/probe.h"
#include "render/opengl_render.h"
#include "render/shape_model.h"
#include "render/view_models.h"
#include "ui/skin.h"
#include "ui/skinned_dialog.h"
#include "ui/strings.h"

namespace spherolux::app {

namespace {

constexpr QRgb kPanelColour = 0xFF1E2126;  // as the bottom bar's middle
constexpr QRgb kStripColour = 0xFF14161A;
constexpr QRgb kControlColour = 0xFF2B3038;
constexpr QRgb kEdgeColour = 0xFF3A404A;
constexpr int kTickMs = 40;
constexpr int kStripTop = 5;
constexpr int kStripHeight = 18;
constexpr int kRowTop = 29;
constexpr int kRowHeight = 28;
constexpr int kMarkReach = 6;  // pixels either side of a mark that pick it

struct SizePreset {
  int width, height;
};
constexpr SizePreset kPresets[] = {{1920, 1080}, {1080, 1920}, {1080, 1080}, {3840, 2160}};
constexpr int kCustom = static_cast<int>(std::size(kPresets));

QString StyleSheet() {
  const QString text = QColor(ui::skin_color::kTitleText).name();
  const QString control = QColor(kControlColour).name();
  const QString edge = QColor(kEdgeColour).name();
  const QString accent = QColor(ui::skin_color::kAccent).name();
  const QString disabled = QColor(ui::skin_color::kDisabledText).name();
  return QString(
             "QPushButton, QComboBox, QSpinBox { color: %1; background: %2; border: 1px solid %3; border-radius: 3px;"
             " padding: 0 6px; }"
             "QPushButton:hover, QComboBox:hover, QSpinBox:hover { border-color: %4; }"
             "QPushButton:checked { background: %4; border-color: %4; }"
             "QPushButton:disabled, QComboBox:disabled, QSpinBox:disabled { color: %5; }"
             "QComboBox QAbstractItemView { color: %1; background: %2; selection-background-color: %4; }"
             "QProgressBar { color: %1; background: %2; border: 1px solid %3; border-radius: 3px; text-align: center; }"
             "QProgressBar::chunk { background: %4; }")
      .arg(text, control, edge, accent, disabled);
}

reframe::PlayerSphere SphereOf(int media_kind) {
  if (media_kind == render::kMediaDualLens) return reframe::PlayerSphere::kDualLens;
  if (media_kind == render::kMediaSingleLens) return reframe::PlayerSphere::kSingleLens;
  return reframe::PlayerSphere::kPanorama;
}

}  // namespace

// The keyframes over the video's length, with the time played so far.
class KeyframeStrip : public QWidget {
 public:
  KeyframeStrip(QWidget* parent, reframe::KeyframeTrack& track) : QWidget(parent), track_(track) {
    setFocusPolicy(Qt::ClickFocus);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(Text(ui::kStrKeyframeStrip));
    setAccessibleDescription(Text(ui::kStrKeyframeStrip));
    setToolTip(Text(ui::kStrKeyframeStrip));
  }

  std::function<void(int index)> jump;
  void SetLength(double seconds) { length_ = seconds; }
  void SetTime(double seconds) {
    if (std::fabs(seconds - time_) * Scale() < 0.5) return;
    time_ = seconds;
    update();
  }
  int selected() const { return selected_; }
  void Select(int index) {
    selected_ = index;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(kStripColour));
    const int mid = height() / 2;
    p.fillRect(QRect(kInset, mid - 1, width() - 2 * kInset, 2), QColor(kEdgeColour));
    if (length_ > 0) {
      const int played = XOf(time_);
      p.fillRect(QRect(kInset, mid - 1, played - kInset, 2), QColor(ui::skin_color::kBarText));
      p.fillRect(QRect(played - 1, 1, 2, height() - 2), QColor(ui::skin_color::kBarText));
    }
    const auto& keys = track_.keys();
    for (size_t i = 0; i < keys.size(); ++i) {
      const int x = XOf(keys[i].t);
      QPainterPath diamond;
      const int r = 6;
      diamond.moveTo(x, mid - r);
      diamond.lineTo(x + r, mid);
      diamond.lineTo(x, mid + r);
      diamond.lineTo(x - r, mid);
      diamond.closeSubpath();
      const bool chosen = static_cast<int>(i) == selected_;
      p.fillPath(diamond, QColor(chosen ? ui::skin_color::kTitleText : ui::skin_color::kAccent));
    }
  }

  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton || length_ <= 0) return;
    const double t = TimeOf(event->position().x());
    selected_ = track_.Nearest(t, kMarkReach / Scale());
    dragging_ = selected_ >= 0;
    moved_ = false;
    press_x_ = event->position().x();
    update();
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (!dragging_ || (!moved_ && std::fabs(event->position().x() - press_x_) < 3)) return;
    moved_ = true;
    track_.Move(selected_, TimeOf(event->position().x()), length_);
    update();
  }
  void mouseReleaseEvent(QMouseEvent*) override {
    if (dragging_ && !moved_ && jump) jump(selected_);
    dragging_ = false;
  }
  void keyPressEvent(QKeyEvent* event) override {
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) && track_.Remove(selected_)) {
      selected_ = -1;
      update();
      return;
    }
    QWidget::keyPressEvent(event);
  }

 private:
  static constexpr int kInset = 8;
  double Scale() const { return length_ > 0 ? (width() - 2 * kInset) / length_ : 0; }
  int XOf(double t) const { return kInset + static_cast<int>(std::lround(t * Scale())); }
  double TimeOf(double x) const { return std::clamp((x - kInset) / Scale(), 0.0, length_); }

  reframe::KeyframeTrack& track_;
  double length_ = 0;
  double time_ = 0;
  int selected_ = -1;
  bool dragging_ = false;
  bool moved_ = false;
  double press_x_ = 0;
};

ReframePanel::ReframePanel(QWidget* parent, std::function<media::CMediaPlayer&()> player,
                           convert::ConversionService* service, std::function<void()> close)
    : QWidget(parent), player_(std::move(player)), close_request_(std::move(close)), service_(service) {
  setObjectName("reframePanel");
  setFont(ui::SkinFont(13));
  setStyleSheet(StyleSheet());
  setAccessibleName(Text(ui::kStrReframe));
  setAccessibleDescription(Text(ui::kStrReframe));

  strip_ = new KeyframeStrip(this, track_);
  strip_->jump = [this](int index) { JumpTo(index); };
  const auto button = [this](int text, bool checkable) {
    auto* b = new QPushButton(Text(text), this);
    b->setCheckable(checkable);
    b->setFocusPolicy(Qt::NoFocus);
    b->setAccessibleName(Text(text));
    b->setAccessibleDescription(Text(text));
    return b;
  };
  add_ = button(ui::kStrAddKeyframe, false);
  add_->setToolTip(Text(ui::kStrAddKeyframe) + " (K)");
  record_ = button(ui::kStrRecordPath, true);
  play_path_ = button(ui::kStrPlayPath, true);
  save_ = button(ui::kStrSavePath, false);
  load_ = button(ui::kStrLoadPath, false);
  export_ = button(ui::kStrExport, false);
  export_->setEnabled(service_ != nullptr);
  close_ = button(ui::kStrCloseReframe, false);
  close_->setText(QString(QChar(0x2715)));

  size_ = new QComboBox(this);
  size_->setFocusPolicy(Qt::NoFocus);
  for (const SizePreset& preset : kPresets) size_->addItem(QString("%1 × %2").arg(preset.width).arg(preset.height));
  size_->addItem(Text(ui::kStrCustomSize));
  size_->setAccessibleName(Text(ui::kStrOutputSize));
  size_->setAccessibleDescription(Text(ui::kStrOutputSize));
  size_->setToolTip(Text(ui::kStrOutputSize));
  for (QSpinBox** spin : {&width_, &height_}) {
    *spin = new QSpinBox(this);
    (*spin)->setRange(64, 7680);
    (*spin)->setSingleStep(2);
    (*spin)->setButtonSymbols(QAbstractSpinBox::NoButtons);
    (*spin)->setAlignment(Qt::AlignCenter);
    (*spin)->setAccessibleName(Text(ui::kStrCustomSize));
    (*spin)->setAccessibleDescription(Text(ui::kStrOutputSize));
  }
  width_->setValue(kPresets[0].width);
  height_->setValue(kPresets[0].height);
  SizeChosen(0);

  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  progress_->setAccessibleName(Text(ui::kStrProgress));
  progress_->setAccessibleDescription(Text(ui::kStrProgress));
  progress_->hide();

  connect(add_, &QPushButton::clicked, this, [this] { AddKeyframe(); });
  connect(record_, &QPushButton::toggled, this, [this](bool on) { SetRecording(on); });
  connect(play_path_, &QPushButton::toggled, this, [this](bool on) { SetPlayingPath(on); });
  connect(size_, &QComboBox::currentIndexChanged, this, [this](int index) { SizeChosen(index); });
  connect(save_, &QPushButton::clicked, this, [this] { SavePath(); });
  connect(load_, &QPushButton::clicked, this, [this] { LoadPath(); });
  connect(export_, &QPushButton::clicked, this, [this] { Export(); });
  connect(close_, &QPushButton::clicked, this, [this] {
    if (close_request_) close_request_();
  });

  timer_ = new QTimer(this);
  timer_->setInterval(kTickMs);
  connect(timer_, &QTimer::timeout, this, [this] { Tick(); });
}

ReframePanel::~ReframePanel() {
  // The service's callbacks post to this panel: none may come after it is gone.
  if (job_ != 0) {
    service_->Stop(job_);
    service_->Wait(job_);
  }
}

void ReframePanel::resizeEvent(QResizeEvent*) {
  strip_->setGeometry(12, kStripTop, width() - 24, kStripHeight);
  int x = 12;
  const auto place = [&x](QWidget* w, int width, int gap = 6) {
    w->setGeometry(x, kRowTop, width, kRowHeight);
    x += width + gap;
  };
  place(add_, 104);
  place(record_, 104);
  place(play_path_, 96, 18);
  place(size_, 118);
  place(width_, 56, 4);
  place(height_, 56, 18);
  place(save_, 124);
  place(load_, 124, 18);
  place(export_, 80);
  close_->setGeometry(width() - 12 - 28, kRowTop, 28, kRowHeight);
  // An export's progress takes the strip's place.
  progress_->setGeometry(strip_->geometry());
}

void ReframePanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(kPanelColour));
  p.fillRect(QRect(0, 0, width(), 1), QColor(kEdgeColour));
}

void ReframePanel::showEvent(QShowEvent* event) {
  timer_->start();
  QWidget::showEvent(event);
}

void ReframePanel::hideEvent(QHideEvent* event) {
  timer_->stop();
  SetRecording(false);
  SetPlayingPath(false);
  QWidget::hideEvent(event);
}

void ReframePanel::SetFile(const std::string& path, const std::string& output_dir) {
  if (path != path_) {
    track_.Clear();
    strip_->Select(-1);
  }
  path_ = path;
  output_dir_ = output_dir;
  Refresh();
}

void ReframePanel::MediumEnded() {
  SetRecording(false);
  SetPlayingPath(false);
}

bool ReframePanel::recording() const { return record_->isChecked(); }
bool ReframePanel::playingPath() const { return play_path_->isChecked(); }

int ReframePanel::outputWidth() const { return width_->value() & ~1; }
int ReframePanel::outputHeight() const { return height_->value() & ~1; }

double ReframePanel::Length() const {
  const int64_t ms = player_().Length();
  return ms > 0 ? static_cast<double>(ms) / 1000.0 : 0;
}

bool ReframePanel::ShownView(reframe::PlayerView* view, reframe::PlayerSphere* sphere) const {
  media::CMediaPlayer& player = player_();
  const int mode = player.view_mode();
  render::COpenglRender* renderer = player.renderer();
  if (renderer == nullptr || mode == render::kModeFlat || mode == render::kModeLayer) return false;
  const render::CShapeModel* model = renderer->models().ForMode(mode);
  if (model == nullptr) return false;
  view->yaw = model->GetYaw();
  view->pitch = model->GetPitch();
  view->fov = model->fov();
  view->eye_distance = model->eye_distance();
  view->flipped = renderer->flip();
  *sphere = SphereOf(renderer->media_kind());
  return true;
}

bool ReframePanel::AddKeyframe() {
  reframe::PlayerView view;
  reframe::PlayerSphere sphere;
  if (!ShownView(&view, &sphere)) return false;
  const double t = static_cast<double>(player_().Time()) / 1000.0;
  const reframe::ViewKey key = reframe::KeyFromPlayerView(sphere, view, std::max(0.0, t));
  Tracef("keyframe at %.3f s: yaw %.2f, pitch %.2f, roll %.2f, fov %.2f (model yaw %.2f, pitch %.2f, fov %.2f)", key.t,
         key.yaw, key.pitch, key.roll, key.fov, view.yaw, view.pitch, view.fov);
  strip_->Select(track_.Add(key));
  Refresh();
  return true;
}

void ReframePanel::ShowKey(const reframe::ViewKey& key) {
  reframe::PlayerView shown;
  reframe::PlayerSphere sphere;
  if (!ShownView(&shown, &sphere)) return;
  render::CShapeModel* model = player_().renderer()->models().ForMode(player_().view_mode());
  const reframe::PlayerView view = reframe::PlayerViewFor(sphere, key, shown);
  model->SetYawVelocity(0);
  model->SetPitchVelocity(0);
  model->SetYaw(static_cast<float>(view.yaw));
  model->SetPitch(static_cast<float>(view.pitch));
  model->SetFov(static_cast<float>(view.fov));
}

void ReframePanel::JumpTo(int index) {
  if (index < 0 || index >= static_cast<int>(track_.keys().size())) return;
  const reframe::ViewKey key = track_.keys()[static_cast<size_t>(index)];
  const double length = Length();
  if (length > 0) player_().Seek(static_cast<float>(100.0 * key.t / length));
  ShowKey(key);
  player_().Refresh();
}

void ReframePanel::SetRecording(bool on) {
  if (on && playingPath()) play_path_->setChecked(false);
  if (record_->isChecked() != on) record_->setChecked(on);  // comes back here through toggled
  if (!on) FinishRecording();
}

void ReframePanel::SetPlayingPath(bool on) {
  if (on && recording()) record_->setChecked(false);
  if (play_path_->isChecked() != on) play_path_->setChecked(on);
}

void ReframePanel::FinishRecording() {
  if (recorder_.empty()) return;
  const double first = recorder_.first(), last = recorder_.last();
  track_.ReplaceSpan(first, last, recorder_.Finish());
  strip_->Select(-1);
  Refresh();
}

void ReframePanel::Tick() {
  media::CMediaPlayer& player = player_();
  const double t = static_cast<double>(player.Time()) / 1000.0;
  strip_->SetLength(Length());
  strip_->SetTime(t);
  if (player.state() != media::kStatePlaying) return;
  if (recording()) {
    reframe::PlayerView view;
    reframe::PlayerSphere sphere;
    if (ShownView(&view, &sphere)) recorder_.Offer(reframe::KeyFromPlayerView(sphere, view, t));
  } else if (playingPath()) {
    reframe::ViewPath path;
    if (track_.ToPath(&path)) {
      const reframe::ViewState v = path.At(t);
      ShowKey({t, v.yaw, v.pitch, v.roll, v.fov});
    }
  }
}

void ReframePanel::SizeChosen(int index) {
  const bool custom = index == kCustom;
  width_->setEnabled(custom);
  height_->setEnabled(custom);
  if (!custom && index >= 0) {
    width_->setValue(kPresets[index].width);
    height_->setValue(kPresets[index].height);
  }
}

void ReframePanel::Refresh() {
  const bool keys = !track_.empty();
  play_path_->setEnabled(keys || playingPath());
  save_->setEnabled(keys);
  export_->setEnabled(service_ != nullptr && (keys || job_ != 0));
  strip_->update();
}

void ReframePanel::SavePath() {
  reframe::ViewPath path;
  if (!track_.ToPath(&path)) return;
  const QString filter = Text(ui::kStrViewPathFilter) + " (*.json)";
  QString start = QString::fromStdString(path_);
  start = start.left(start.lastIndexOf('.')) + ".json";
  QString file = QFileDialog::getSaveFileName(this, Text(ui::kStrSavePath), start, filter);
  if (file.isEmpty()) return;
  std::ofstream out(file.toStdString(), std::ios::binary | std::ios::trunc);
  out << path.ToJson();
  out.close();
  if (!out) {
    ui::MessageBox(this, Text(ui::kStrViewPathNotSaved, file), {}, ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
  }
}

void ReframePanel::LoadPath() {
  const QString filter = Text(ui::kStrViewPathFilter) + " (*.json);;" + Text(ui::kStrAllFilesFilter) + " (*)";
  const QString file = QFileDialog::getOpenFileName(this, Text(ui::kStrLoadPath),
                                                    QString::fromStdString(path_).section('/', 0, -2), filter);
  if (file.isEmpty()) return;
  reframe::ViewPath path;
  std::string error;
  if (!reframe::ViewPath::ReadFile(file.toStdString(), &path, &error)) {
    ui::MessageBox(this, Text(ui::kStrViewPathNotRead, file + ": " + QString::fromStdString(error)), {},
                   ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
    return;
  }
  SetRecording(false);
  track_.Load(path);
  strip_->Select(-1);
  Refresh();
}

void ReframePanel::Export() {
  if (job_ != 0) {
    service_->Stop(job_);
    return;
  }
  reframe::ViewPath path;
  if (service_ == nullptr || path_.empty()) return;
  SetRecording(false);
  if (!track_.ToPath(&path)) {
    ui::MessageBox(this, Text(ui::kStrNoKeyframes), {}, ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
    return;
  }
  // The input as the converter qualifies it; a panorama stitched earlier is read as it is.
  const ui::Language language = ui::UiLanguage();
  const convert::InputCheck check = convert::CheckConversionInput(path_);
  const bool panorama = check.problem == convert::Cause::kNone && check.verdict != kQualified &&
                        StitchedTest(path_.c_str(), MediaKind::kVideo) == 1;
  if (check.problem != convert::Cause::kNone || (check.verdict != kQualified && !panorama) || check.length_ms <= 0) {
    ui::MessageBox(this, QString::fromStdString(convert::RefusalText(check, language)), {}, ui::BoxButtons::kOk,
                   ui::BoxIcon::kWarning);
    return;
  }
  // The path goes to the engine as a file, kept until the job ends.
  job_path_ = std::make_unique<QTemporaryFile>(QDir::tempPath() + "/spherolux-path-XXXXXX.json");
  if (!job_path_->open() || job_path_->write(QByteArray::fromStdString(path.ToJson())) < 0 || !job_path_->flush()) {
    ui::MessageBox(this, Text(ui::kStrViewPathNotSaved, job_path_->fileName()), {}, ui::BoxButtons::kOk,
                   ui::BoxIcon::kWarning);
    job_path_.reset();
    return;
  }
  job_path_->close();

  convert::ServiceJob job;
  job.input = path_;
  job.output_dir = output_dir_.empty() || output_dir_.back() == '/' ? output_dir_ : output_dir_ + "/";
  const std::string input = path_, file = job_path_->fileName().toStdString();
  const convert::TrimRange range = convert::RangeFromPercent(0, 100, check.length_ms);
  const int w = outputWidth(), h = outputHeight();
  job.call = [=](const std::string& output) {
    return convert::ReframeCall(input, output, range, convert::Quality::kMedium, file, w, h, panorama);
  };
  // The service's thread: post only.
  convert::ServiceCallbacks callbacks;
  callbacks.progress = [this](const convert::JobProgress& p) {
    const int percent = static_cast<int>(p.percent);
    const int left = p.remaining_seconds;
    QMetaObject::invokeMethod(
        this,
        [this, percent, left] {
          progress_->setValue(percent);
          progress_->setFormat("%p%   " + Text(ui::kStrTimeLeft) + ui::LabelColon(": ") +
                               QString::fromStdString(convert::FormatClock(int64_t{left} * 1000)));
        },
        Qt::QueuedConnection);
  };
  callbacks.ended = [this](const convert::ServiceResult& r) {
    QMetaObject::invokeMethod(
        this, [this, r] { ExportEnded(r.result, r.stopped, r.output); }, Qt::QueuedConnection);
  };
  progress_->setValue(0);
  progress_->setFormat("%p%");
  strip_->hide();
  progress_->show();
  export_->setText(Text(ui::kStrStop));
  job_ = service_->Submit(std::move(job), std::move(callbacks));
}

void ReframePanel::ExportEnded(int result, bool stopped, const std::string& output) {
  job_ = 0;
  job_path_.reset();
  progress_->hide();
  strip_->show();
  export_->setText(Text(ui::kStrExport));
  Refresh();
  if (stopped) return;
  if (result == 0) {
    ui::MessageBox(this, Text(ui::kStrReframeSavedIn) + ui::LabelColon(": ") + QString::fromStdString(output),
                   Text(ui::kStrFinish));
  } else {
    ui::MessageBox(this, QString::fromStdString(convert::VideoFailureText(result, ui::UiLanguage())), {},
                   ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
  }
}

}  // namespace spherolux::app
