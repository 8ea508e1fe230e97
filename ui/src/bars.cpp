#include "ui/bars.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "platform/messages.h"
#include "platform/window_frame.h"
#include "ui/skin.h"
#include "ui/slider_ex.h"
#include "ui/strings.h"
#include "ui/tooltip.h"

namespace spherolux::ui {

using platform::LParam;
using platform::WParam;
namespace msg = platform;

// ---------------------------------------------------------------------------------------------

SkinnedBar::SkinnedBar(platform::MessageWindow* owner, QWidget* parent, Qt::WindowFlags flags, int strip,
                       unsigned hover_msg, unsigned leave_msg)
    : MessageWindow(parent, flags), owner_(owner), strip_(strip), hover_msg_(hover_msg), leave_msg_(leave_msg) {
  setFont(SkinFont(14));
}

CButtonEx* SkinnedBar::button(int control_id) const {
  const auto it = buttons_.find(control_id);
  return it != buttons_.end() ? it->second : nullptr;
}

namespace {

// What a button posting `msg` (with `l`) does, for screen readers; 0 when the message does not
// tell.
int DescriptionOf(unsigned msg, LParam l) {
  switch (msg) {
    case msg::kMsgClose:
      return kStrDescClose;
    case msg::kMsgMaximiseRestore:
      return kStrDescFullScreen;
    case msg::kMsgMinimise:
      return kStrDescMinimise;
    case msg::kMsgMenu:
      return kStrDescLanguage;
    case msg::kMsgTogglePanel:
      return kStrDescViewModes;
    case msg::kMsgViewCommand:
      return l == msg::kViewDirection ? kStrDescDirection : l == msg::kViewReset ? kStrDescResetView : kStrDescViewMode;
    case msg::kMsgPlayPause:
      return kStrDescPlay;
    case msg::kMsgEngineEvent:
      return kStrDescStop;
    case msg::kMsgNextFrame:
      return kStrDescNextFrame;
    case msg::kMsgOpenFile:
      return kStrDescOpenFile;
    case msg::kMsgConverter:
      return kStrDescConverter;
    case msg::kMsgScreenshot:
      return kStrDescScreenshot;
    default:
      return 0;
  }
}

}  // namespace

CButtonEx* SkinnedBar::AddButton(int control_id, const ButtonImages& images, const QString& tooltip, unsigned msg,
                                 WParam w, LParam l) {
  auto* b = new CButtonEx(control_id, this);
  ButtonImages with_strip = images;
  with_strip.strip = strip_;
  b->SetImages(with_strip);
  b->SetTooltipText(tooltip);
  if (const int description = DescriptionOf(msg, l)) b->setAccessibleDescription(LoadString(description));
  buttons_[control_id] = b;
  if (msg != 0) posts_[control_id] = Post{msg, w, l};
  return b;
}

void SkinnedBar::Place(CButtonEx* button, int x, int y) {
  button->move(x, y);
  ButtonImages images = button->images();
  images.strip_origin = QPoint(x, y);
  button->SetImages(images);
}

LParam SkinnedBar::onMessage(unsigned message, WParam w, LParam) {
  if (message != kWmCommand) return 0;
  const int id = static_cast<int>(w);
  if (const auto it = posts_.find(id); it != posts_.end() && owner_ != nullptr) {
    owner_->post(it->second.msg, it->second.w, it->second.l);
  }
  OnButton(id);
  return 0;
}

void SkinnedBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  DrawSkinImagePart(painter, rect(), strip_, QPoint(0, 0));
}

void SkinnedBar::enterEvent(QEnterEvent* event) {
  if (hover_msg_ != 0 && owner_ != nullptr) owner_->post(hover_msg_);
  MessageWindow::enterEvent(event);
}

void SkinnedBar::leaveEvent(QEvent* event) {
  if (leave_msg_ != 0 && owner_ != nullptr) owner_->post(leave_msg_);
  MessageWindow::leaveEvent(event);
}

namespace {

ButtonImages Looks(int normal, int pressed, int hover = kImgHover, int disabled = 0) {
  return {normal, hover, pressed, disabled, 0, {}};
}

}  // namespace

// ---------------------------------------------------------------------------------------------

CCaptionDlg::CCaptionDlg(platform::MessageWindow* owner)
    : SkinnedBar(owner, owner, {}, kImgCaptionStrip, msg::kMsgCaptionHover, msg::kMsgCaptionLeave) {
  AddButton(kPalette, Looks(kImgPalette, kImgPalettePressed), {}, msg::kMsgPalette)->hide();
  AddButton(kMenu, Looks(kImgLanguage, kImgLanguagePressed), LoadString(kStrLanguage), msg::kMsgMenu);
  AddButton(kMinimise, Looks(kImgMinimise, kImgMinimisePressed), LoadString(kStrMinimise), msg::kMsgMinimise);
  AddButton(kMaximise, Looks(kImgMaximise, kImgMaximisePressed), LoadString(kStrMaximise), msg::kMsgMaximiseRestore);
  AddButton(kClose, Looks(kImgClose, kImgClosePressed, kImgCloseHover), LoadString(kStrClose), msg::kMsgClose);
  AddButton(kPanelToggle, Looks(kImgViewModes, kImgViewModesPressed), LoadString(kStrViewModes), msg::kMsgTogglePanel)
      ->SetActiveImage(kImgViewModesActive);
  const struct {
    int id, normal, pressed, active, tip;
    LParam mode;
  } modes[] = {
      {kFlat, kImgFlat, kImgFlatPressed, kImgFlatActive, kStrFlatView, 6},
      {kSphere, kImgSphere, kImgSpherePressed, kImgSphereActive, kStrSphere, 0},
      {kHalfBall, kImgHalfBall, kImgHalfBallPressed, kImgHalfBallActive, kStrHalfBall, 3},
      {kInDome, kImgInDome, kImgInDomePressed, kImgInDomeActive, kStrInDome, 4},
      {kLayer, kImgLayer, kImgLayerPressed, kImgLayerActive, kStrLayer, 5},
      {kDirection, kImgDirection, kImgDirectionPressed, kImgDirectionActive, kStrDirection, msg::kViewDirection},
  };
  for (const auto& m : modes) {
    AddButton(m.id, Looks(m.normal, m.pressed), LoadString(m.tip), msg::kMsgViewCommand, 0, m.mode)
        ->SetActiveImage(m.active);
  }
  title_ = new QLabel(this);
  title_->setFont(SkinFont(14, 500));
  title_->setStyleSheet(QString("color: #%1;").arg(skin_color::kTitleText & 0xFFFFFF, 6, 16, QChar('0')));
  title_->setAttribute(Qt::WA_TransparentForMouseEvents);
  resize(1022, kHeight);
  SetTitle(LoadString(kStrAppTitle));
  SetViewSet(0);
}

void CCaptionDlg::paintEvent(QPaintEvent* event) {
  SkinnedBar::paintEvent(event);
  QPainter painter(this);
  DrawSkinImage(painter, QRect(8, 6, 18, 18), kImgLogo);
}

void CCaptionDlg::SetTitle(const QString& title) {
  title_->setText(title);
  title_->setToolTip(title);
}

QString CCaptionDlg::title() const { return title_->text(); }

void CCaptionDlg::SetMaximised(bool maximised) {
  CButtonEx* max = button(kMaximise);
  ButtonImages images = max->images();
  images.normal = maximised ? kImgRestore : kImgMaximise;
  images.pressed = maximised ? kImgRestorePressed : kImgMaximisePressed;
  images.hover = kImgHover;
  max->SetImages(images);
  max->SetTooltipText(LoadString(maximised ? kStrRestore : kStrMaximise));
}

void CCaptionDlg::SetViewSet(unsigned panel_buttons) {
  view_set_ = panel_buttons;
  Layout();
}

void CCaptionDlg::SetActiveMode(int mode) {
  const std::pair<int, int> modes[] = {{kFlat, 6}, {kSphere, 0}, {kHalfBall, 3}, {kInDome, 4}, {kLayer, 5}};
  for (const auto& [id, m] : modes) button(id)->SetActive(m == mode);
}

void CCaptionDlg::SetFlipped(bool flipped) { button(kDirection)->SetActive(flipped); }
void CCaptionDlg::SetPanelShown(bool shown) { button(kPanelToggle)->SetActive(shown); }

void CCaptionDlg::Layout() {
  const int w = width();
  // The view-mode buttons that suit the file, after the fixed ones; the others are hidden and
  // parked on the grid all the same.
  const bool sphere_set = (view_set_ & kPanelSphere) != 0;
  const bool dome_set = (view_set_ & kPanelHalfBall) != 0;
  // Direction lives on the floating panel; the caption keeps the views one switches between.
  std::vector<std::pair<int, bool>> order = {
      {kClose, true},
      {kMaximise, true},
      {kMinimise, true},
      {kMenu, true},
      {kPanelToggle, view_set_ != 0},
      {kFlat, view_set_ != 0},
      {kSphere, sphere_set},
      {kLayer, dome_set},
      {kInDome, dome_set},
      {kHalfBall, dome_set},
      {kDirection, false},
  };
  int slot = 0;
  for (const auto& [id, shown] : order) {
    CButtonEx* b = button(id);
    b->setVisible(shown);
    Place(b, CaptionSlotX(w, std::min(slot, 8)), 0);
    if (shown) ++slot;
  }
  const int title_right = CaptionSlotX(w, slot) + 30 - 8;
  title_->setGeometry(34, 0, std::max(0, title_right - 34), kHeight);
  update();
}

void CCaptionDlg::resizeEvent(QResizeEvent* event) {
  Layout();
  SkinnedBar::resizeEvent(event);
}

void CCaptionDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return SkinnedBar::mousePressEvent(event);
  pressed_ = true;
  press_ = event->globalPosition().toPoint();
}

void CCaptionDlg::mouseMoveEvent(QMouseEvent* event) {
  // The move starts once the pointer travels, so that a double click still reaches us.
  if (!pressed_ || (event->globalPosition().toPoint() - press_).manhattanLength() < QApplication::startDragDistance()) {
    return;
  }
  pressed_ = false;
  QWidget* window = this->window();
  if (!(window->windowState() & (Qt::WindowFullScreen | Qt::WindowMaximized))) {
    platform::BeginWindowMove(window, this, press_);
  }
}

void CCaptionDlg::mouseReleaseEvent(QMouseEvent*) { pressed_ = false; }

void CCaptionDlg::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && owner() != nullptr) owner()->post(msg::kMsgMaximiseRestore);
}

// ---------------------------------------------------------------------------------------------

CBOTTOMDLG::CBOTTOMDLG(platform::MessageWindow* owner)
    : SkinnedBar(owner, owner, {}, kImgBottomStrip, msg::kMsgBottomHover, 0) {
  AddButton(kLoop, Looks(kImgLoop, kImgLoopPressed, kImgHoverBottom), {}, msg::kMsgLoop)->hide();
  AddButton(kPlay, {kImgPlay, kImgPlayHover, kImgPlayPressed, kImgPlayDisabled, 0, {}}, LoadString(kStrPlay),
            msg::kMsgPlayPause);
  // Stop: the player window closes the playback, then stops a screen recording.
  AddButton(kStop, Looks(kImgStop, kImgStopPressed, kImgHoverBottom, kImgStopDisabled), LoadString(kStrStopPlayback),
            msg::kMsgEngineEvent, msg::kNotifyEnd, msg::kStopByWindow);
  AddButton(kVolumeButton, Looks(kImgSoundOn, kImgSoundOnPressed, kImgHoverBottom), LoadString(kStrMute));
  AddButton(kOpenFile, Looks(kImgOpen, kImgOpenPressed, kImgHoverBottom), LoadString(kStrOpenFile), msg::kMsgOpenFile);
  AddButton(kConverter, Looks(kImgConverter, kImgConverterPressed, kImgHoverBottom, kImgConverterDisabled),
            LoadString(kStrOpenConverter), msg::kMsgConverter);
  AddButton(kFlipper, Looks(kImgFlipper, kImgFlipperPressed, kImgHoverBottom), {}, msg::kMsgFlipper)->hide();
  AddButton(kRewind, Looks(kImgRewind, kImgRewindPressed, kImgHoverBottom), {}, msg::kMsgRewind)->hide();
  AddButton(kForward, Looks(kImgNextFrame, kImgNextFramePressed, kImgHoverBottom, kImgNextFrameDisabled),
            LoadString(kStrNextFrame), msg::kMsgNextFrame);
  AddButton(kNext, Looks(kImgNext, kImgNextPressed, kImgHoverBottom))->hide();
  AddButton(kBack, Looks(kImgBack, kImgBackPressed, kImgHoverBottom))->hide();

  button(kVolumeButton)->setAccessibleDescription(LoadString(kStrDescMute));
  seek_ = new CSliderCtrlEx(kSeekSlider, this);
  seek_->SetRange(0, 100);
  seek_->setAccessibleName(LoadString(kStrSeekBar));
  seek_->setAccessibleDescription(LoadString(kStrDescSeekBar));
  seek_->setMouseTracking(true);
  seek_->installEventFilter(this);
  volume_ = new CSliderVolume(kVolumeSlider, this);
  volume_->SetRange(0, 100);
  volume_->SetPos(50);
  volume_->setToolTip(LoadString(kStrVolume));
  volume_->setAccessibleName(LoadString(kStrVolume));
  volume_->setAccessibleDescription(LoadString(kStrDescVolume));

  const auto label = [this](QRgb color) {
    auto* l = new QLabel(this);
    l->setFont(SkinFont(13));
    l->setStyleSheet(QString("color: #%1;").arg(color & 0xFFFFFF, 6, 16, QChar('0')));
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    return l;
  };
  time_ = label(skin_color::kTitleText);
  total_ = label(skin_color::kBarText);
  SetTime(0);
  SetTotalTime(0);
  resize(1022, kHeight);
  SetMediumOpen(false);
  Layout();
}

void CBOTTOMDLG::SetPlaying(bool playing) {
  playing_ = playing;
  CButtonEx* play = button(kPlay);
  play->SetImages(playing ? ButtonImages{kImgPause, kImgPauseHover, kImgPausePressed, kImgPauseDisabled, 0, {}}
                          : ButtonImages{kImgPlay, kImgPlayHover, kImgPlayPressed, kImgPlayDisabled, 0, {}});
  play->SetTooltipText(LoadString(playing ? kStrPause : kStrPlay));
  Layout();
}

void CBOTTOMDLG::SetPosition(int percent) { seek_->SetPos(percent); }

void CBOTTOMDLG::SetTime(int64_t ms) { time_->setText(QString::fromStdString(FormatTime(ms))); }

void CBOTTOMDLG::SetTotalTime(int64_t ms) {
  total_ms_ = ms;
  total_->setText("/ " + QString::fromStdString(FormatTime(ms)));
}

QString CBOTTOMDLG::timeText() const { return time_->text(); }
QString CBOTTOMDLG::totalText() const { return total_->text().mid(2); }

void CBOTTOMDLG::SetMediumOpen(bool open) {
  button(kStop)->setEnabled(open);
  button(kForward)->setEnabled(open);
  seek_->setEnabled(open);
  if (!open) seek_->SetPos(0);
}

void CBOTTOMDLG::SetConverterAvailable(bool available) {
  converter_available_ = available;
  button(kConverter)->setVisible(available);
  Layout();
}

void CBOTTOMDLG::Layout() {
  const int w = width();
  seek_->setGeometry(8, 3, std::max(0, w - 16), 16);
  const int row = 21;  // top of the 34-pixel control row
  Place(button(kPlay), 12, row - 3);
  Place(button(kStop), 58, row);
  Place(button(kForward), 96, row);
  time_->adjustSize();
  total_->adjustSize();
  time_->move(142, row + (34 - time_->height()) / 2);
  total_->move(time_->geometry().right() + 6, time_->y());
  volume_->setGeometry(w - 100, row + 9, 86, 16);
  int x = w - 100 - 40;
  Place(button(kVolumeButton), x, row);
  if (converter_available_) {
    x -= 40;
    Place(button(kConverter), x, row);
  }
  x -= 40;
  Place(button(kOpenFile), x, row);
  // The hidden buttons keep a place, out of the way.
  for (int id : {kLoop, kFlipper, kRewind, kNext, kBack}) Place(button(id), 0, row);
}

void CBOTTOMDLG::resizeEvent(QResizeEvent* event) {
  Layout();
  SkinnedBar::resizeEvent(event);
}

void CBOTTOMDLG::OnButton(int control_id) {
  if (control_id == kStop && owner() != nullptr) {
    owner()->post(msg::kMsgRecordStop);
  } else if (control_id == kVolumeButton) {
    SetMuted(!muted_);
  }
}

void CBOTTOMDLG::SetMuted(bool muted) {
  muted_ = muted;
  CButtonEx* vol = button(kVolumeButton);
  vol->SetImages(muted_ ? Looks(kImgMuted, kImgMutedPressed, kImgHoverBottom)
                        : Looks(kImgSoundOn, kImgSoundOnPressed, kImgHoverBottom));
  vol->SetTooltipText(LoadString(muted_ ? kStrSoundOn : kStrMute));
  Layout();
  if (owner() != nullptr) owner()->post(msg::kMsgMute, muted_ ? 1 : 0);
}

bool CBOTTOMDLG::eventFilter(QObject* watched, QEvent* event) {
  // Hovering the seek bar of an open medium tells the time under the pointer.
  if (watched == seek_ && event->type() == QEvent::MouseMove && seek_->isEnabled() && total_ms_ > 0) {
    const int x = static_cast<int>(static_cast<QMouseEvent*>(event)->position().x());
    const QRect channel = seek_->ChannelRect();
    const double share = std::clamp(double(x - channel.left()) / std::max(1, channel.width()), 0.0, 1.0);
    ShowTooltip(seek_, QString::fromStdString(FormatTime(static_cast<int64_t>(share * double(total_ms_)))), x);
  } else if (watched == seek_ && event->type() == QEvent::Leave) {
    HideTooltip(seek_);
  }
  return SkinnedBar::eventFilter(watched, event);
}

LParam CBOTTOMDLG::onMessage(unsigned message, WParam w, LParam l) {
  if (message == platform::kWmHScroll && owner() != nullptr) {
    const int position = static_cast<int>(platform::HighWord(w));
    if (l == kVolumeSlider) {
      // Turning the volume while muted means to hear it.
      if (muted_) SetMuted(false);
      owner()->post(msg::kMsgVolume, kVolumeSource, position);
    } else if (l == kSeekSlider && position != 100) {
      // The very end is not sought: it would end the medium at once.
      owner()->post(msg::kMsgSeek, kSeekSource, position);
    }
    return 0;
  }
  return SkinnedBar::onMessage(message, w, l);
}

// ---------------------------------------------------------------------------------------------

CFloatDlg::CFloatDlg(platform::MessageWindow* owner, MediaFacts* facts, std::function<int64_t()> clock)
    : SkinnedBar(owner, owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus, kImgPanelStrip,
                 msg::kMsgPanelHover, msg::kMsgPanelLeave),
      facts_(facts),
      clock_(std::move(clock)) {
  if (!clock_) {
    clock_ = [] {
      static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
      }();
      return static_cast<int64_t>(timer.elapsed());
    };
  }
  setAttribute(Qt::WA_ShowWithoutActivating);
  const struct {
    int id, normal, pressed, active, tip;
    unsigned msg;
    LParam l;
  } buttons[] = {
      {kSphere, kImgPanelSphere, kImgPanelSpherePressed, kImgPanelSphereActive, kStrSphere, msg::kMsgViewCommand, 0},
      {kTile, kImgPanelTile, kImgPanelTilePressed, kImgPanelTileActive, kStrTile, msg::kMsgViewCommand, 1},
      {kPlanet, kImgPanelPlanet, kImgPanelPlanetPressed, kImgPanelPlanetActive, kStrPlanet, msg::kMsgViewCommand, 2},
      {kHalfBall, kImgPanelHalfBall, kImgPanelHalfBallPressed, kImgPanelHalfBallActive, kStrHalfBall,
       msg::kMsgViewCommand, 3},
      {kInDome, kImgPanelInDome, kImgPanelInDomePressed, kImgPanelInDomeActive, kStrInDome, msg::kMsgViewCommand, 4},
      {kLayer, kImgPanelLayer, kImgPanelLayerPressed, kImgPanelLayerActive, kStrLayer, msg::kMsgViewCommand, 5},
      {kDirection, kImgPanelDirection, kImgPanelDirectionPressed, kImgPanelDirectionActive, kStrDirection,
       msg::kMsgViewCommand, msg::kViewDirection},
      {kReset, kImgPanelReset, kImgPanelResetPressed, 0, kStrResetView, msg::kMsgViewCommand, msg::kViewReset},
      {kSnapshot, kImgPanelSnapshot, kImgPanelSnapshotPressed, 0, kStrSnapshot, msg::kMsgScreenshot, 0},
      {kRecord, kImgRecordIdle, kImgRecordIdlePressed, 0, kStrRecord, 0, 0},
      {kConverter, kImgPanelConverter, kImgPanelConverterPressed, 0, kStrOpenConverter, msg::kMsgConverter, 0},
  };
  for (const auto& b : buttons) {
    AddButton(b.id, Looks(b.normal, b.pressed), LoadString(b.tip), b.msg, 0, b.l)->SetActiveImage(b.active);
  }
  button(kRecord)->SetActiveImage(0);
  button(kRecord)->setAccessibleDescription(LoadString(kStrDescRecord));
  resize(1024, kHeight);
  Reset();
}

void CFloatDlg::SetFile(const std::string& path) {
  const bool photo = IsPhotoPath(path);
  int width = 0, height = 0;
  if (facts_ == nullptr || !facts_->FrameSize(path, photo, &width, &height)) width = height = 0;
  const int camera_type = facts_ != nullptr ? facts_->CameraType(path) : 0;
  visible_ = PanelButtonsFor(camera_type, width, height, photo);
  Layout();
}

void CFloatDlg::Reset() {
  visible_ = 0;
  SetRecording(false);
  SetFlipped(false);
  Layout();
}

void CFloatDlg::SetActiveMode(int mode) {
  const std::pair<int, int> modes[] = {{kSphere, 0},   {kTile, 1},   {kPlanet, 2},
                                       {kHalfBall, 3}, {kInDome, 4}, {kLayer, 5}};
  for (const auto& [id, m] : modes) button(id)->SetActive(m == mode);
}

void CFloatDlg::SetFlipped(bool flipped) { button(kDirection)->SetActive(flipped); }

void CFloatDlg::SetRecordingDisabled(bool disabled) {
  rule_.SetDisabled(disabled);
  ShowRecordLook();
}

void CFloatDlg::SetRecording(bool recording) {
  rule_.SetRecording(recording, clock_());
  if (rule_.recording()) {
    setTimer(kBlinkTimer, kBlinkMs);
  } else {
    killTimer(kBlinkTimer);
  }
  blink_phase_ = false;
  ShowRecordLook();
}

void CFloatDlg::SetConverterAvailable(bool available) {
  converter_available_ = available;
  Layout();
}

void CFloatDlg::ShowRecordLook() {
  CButtonEx* record = button(kRecord);
  if (rule_.disabled()) {
    record->SetImages({kImgRecordDisabled, 0, 0, 0, kImgPanelStrip, record->images().strip_origin});
    record->setEnabled(false);
    record->SetTooltipText(LoadString(kStrRecorderMissing));
    return;
  }
  record->setEnabled(true);
  const int normal = !rule_.recording() ? kImgRecordIdle : blink_phase_ ? kImgRecordDim : kImgRecordOn;
  record->SetImages({normal, kImgHover, kImgRecordIdlePressed, 0, kImgPanelStrip, record->images().strip_origin});
  record->SetTooltipText(LoadString(rule_.recording() ? kStrStopRecording : kStrRecord));
}

void CFloatDlg::OnButton(int control_id) {
  if (control_id != kRecord || owner() == nullptr) return;
  switch (rule_.Press(clock_())) {
    case RecordButtonRule::Action::kStart:
      owner()->post(msg::kMsgRecordStart);
      setTimer(kBlinkTimer, kBlinkMs);
      break;
    case RecordButtonRule::Action::kStop:
      owner()->post(msg::kMsgRecordStop);
      killTimer(kBlinkTimer);
      break;
    case RecordButtonRule::Action::kNone:
      return;
  }
  blink_phase_ = false;
  ShowRecordLook();
}

void CFloatDlg::onTimer(unsigned id) {
  if (id != kBlinkTimer) return;
  blink_phase_ = !blink_phase_;
  ShowRecordLook();
}

void CFloatDlg::Layout() {
  // Groups from left to right: view modes, direction and reset, snapshot and record, converter;
  // centred on the panel. The converter joins any file the panel shows buttons for.
  constexpr unsigned kConverterBit = 1u << 31;
  const unsigned shown_bits = visible_ | (converter_available_ && visible_ != 0 ? kConverterBit : 0u);
  const std::vector<std::vector<std::pair<int, unsigned>>> groups = {
      {{kSphere, kPanelSphere},
       {kTile, kPanelTile},
       {kPlanet, kPanelPlanet},
       {kHalfBall, kPanelHalfBall},
       {kInDome, kPanelInDome},
       {kLayer, kPanelLayer}},
      {{kDirection, kPanelDirection}, {kReset, kPanelReset}},
      {{kSnapshot, kPanelSnapshot}, {kRecord, kPanelRecord}},
      {{kConverter, kConverterBit}},
  };
  constexpr int kStep = 36, kGap = 22;
  std::vector<std::vector<int>> shown;
  int total = 0;
  for (const auto& group : groups) {
    std::vector<int> ids;
    for (const auto& [id, bit] : group) {
      const bool visible = (shown_bits & bit) != 0;
      button(id)->setVisible(visible);
      if (visible) ids.push_back(id);
    }
    if (!ids.empty()) {
      total += (total > 0 ? kGap : 0) + static_cast<int>(ids.size()) * kStep;
      shown.push_back(ids);
    }
  }
  int x = (width() - total) / 2;
  for (const auto& ids : shown) {
    for (int id : ids) {
      Place(button(id), x + (kStep - 30) / 2, 0);
      x += kStep;
    }
    x += kGap;
  }
  update();
}

void CFloatDlg::resizeEvent(QResizeEvent* event) {
  Layout();
  SkinnedBar::resizeEvent(event);
}

}  // namespace spherolux::ui
