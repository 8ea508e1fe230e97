#include "dialogs/composite_dlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QRadioButton>
#include <QUrl>
#include <filesystem>

#include "base/system.h"
#include "convert/job.h"
#include "dialog_widgets.h"
#include "dialogs/conversion_worker.h"
#include "dialogs/multi_composite_dlg.h"
#include "dialogs/transcode_preview_dlg.h"
#include "dialogs/upload_dlg.h"
#include "photo/stitch_photo.h"
#include "platform/messages.h"
#include "ui/button_ex.h"
#include "ui/skin.h"
#include "ui/strings.h"

namespace spherolux::dialogs {

namespace msg = platform;
namespace fs = std::filesystem;

namespace {

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

// The four rotations: image button, radio button, degrees, images (normal, chosen), in
// their order from left to right.
struct Rotation {
  int button, radio, degrees, image, active;
};
constexpr Rotation kRotations[] = {
    {CCompositeDlg::kRotate0, CCompositeDlg::kRadio0, 0, ui::kImgRotate0, ui::kImgRotate0Active},
    {CCompositeDlg::kRotate90, CCompositeDlg::kRadio90, 90, ui::kImgRotate90, ui::kImgRotate90Active},
    {CCompositeDlg::kRotate180, CCompositeDlg::kRadio180, 180, ui::kImgRotate180, ui::kImgRotate180Active},
    {CCompositeDlg::kRotate270, CCompositeDlg::kRadio270, 270, ui::kImgRotate270, ui::kImgRotate270Active},
};

// The controls a job disables: Open, Merge, the rotations, the quality list and Browse.
constexpr int kEditingControls[] = {
    CCompositeDlg::kOpen,      CCompositeDlg::kMerge,     CCompositeDlg::kRotate0,     CCompositeDlg::kRotate90,
    CCompositeDlg::kRotate180, CCompositeDlg::kRotate270, CCompositeDlg::kQualityList, CCompositeDlg::kBrowse,
    CCompositeDlg::kRadio0,    CCompositeDlg::kRadio90,   CCompositeDlg::kRadio180,    CCompositeDlg::kRadio270,
};

QLabel* MakeLabel(QWidget* parent, int id, int text_id) {
  auto* label = new QLabel(text_id != 0 ? Text(text_id) : QString(), parent);
  label->setObjectName(QString("label%1").arg(id));
  label->setFont(ui::SkinFont(13));
  return label;
}

QLineEdit* MakeEdit(QWidget* parent, int id) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString("edit%1").arg(id));
  edit->setReadOnly(true);
  edit->setFont(ui::SkinFont(13));
  edit->setStyleSheet(
      "QLineEdit { background: #f7f8fa; border: 1px solid #b4bcc7; border-radius: 4px; padding: 0 6px; "
      "color: #2b3038; }");
  return edit;
}

}  // namespace

CCompositeDlg::CCompositeDlg(QWidget* parent, DialogOptions options)
    : SkinnedDialog(parent, kSize), options_(std::move(options)), model_(Exists) {
  setObjectName("converter");
  SetTitle(Text(ui::kStrConverterTitle));
  close_ = AddCloseButton(kClose);
  minimise_ = AddMinimiseButton(kMinimise);
  SetTitleButtonsMargin(10);
  close_->setObjectName(QString("button%1").arg(kClose));
  minimise_->setObjectName(QString("button%1").arg(kMinimise));

  for (auto [id, text] :
       {std::pair{kOpen, ui::kStrOpen}, {kMerge, ui::kStrMerge}, {kStart, ui::kStrStart}, {kStop, ui::kStrStop}}) {
    MakeTextButton(this, id, Text(text), ButtonLook::kAccent);
  }
  for (auto [id, text] : {std::pair{kBrowse, ui::kStrBrowse}, {kOpenDir, ui::kStrOpenDir}}) {
    MakeTextButton(this, id, Text(text), ButtonLook::kPlain);
  }
  auto* upload = new ui::CButtonEx(kUploadToggle, this);
  upload->setObjectName(QString("button%1").arg(kUploadToggle));
  upload->SetImages({ui::kImgUpload, ui::kImgDialogHover, ui::kImgUploadPressed, 0, 0, {}});
  upload->SetTooltipText(Text(ui::kStrUploadTitle));

  for (const Rotation& r : kRotations) {
    auto* button = new ui::CButtonEx(r.button, this);
    button->setObjectName(QString("button%1").arg(r.button));
    button->SetImages({r.image, ui::kImgDialogHover, r.active, 0, 0, {}});
    button->SetActiveImage(r.active);
    button->SetTooltipText(QString("%1°").arg(r.degrees));
    auto* radio = new QRadioButton(QString("%1°").arg(r.degrees), this);
    radio->setObjectName(QString("radio%1").arg(r.radio));
    radio->setFont(ui::SkinFont(12));
    radio->setAutoExclusive(true);
    QObject::connect(radio, &QRadioButton::clicked, this, [this, r] { post(ui::kWmCommand, r.radio); });
  }
  MakeLabel(this, kRotationLabel, ui::kStrSelectRotation);
  MakeLabel(this, kQualityLabel, ui::kStrVideoQuality);
  MakeLabel(this, kOutputPathLabel, ui::kStrOutputPath);
  MakeLabel(this, kOutputNameLabel, ui::kStrOutputName);
  progress_ = MakeLabel(this, kProgressLabel, 0);
  time_left_ = MakeLabel(this, kTimeLeftLabel, 0);
  progress_bar_ = new QProgressBar(this);
  progress_bar_->setObjectName(QString("bar%1").arg(kProgressBar));
  progress_bar_->setTextVisible(false);
  progress_bar_->setRange(0, kProgressSteps);
  progress_bar_->setStyleSheet(
      "QProgressBar { background: #e6e9ee; border: none; border-radius: 4px; } "
      "QProgressBar::chunk { background: #3478f6; border-radius: 4px; }");

  quality_ = new QComboBox(this);
  quality_->setObjectName(QString("combo%1").arg(kQualityList));
  quality_->setFont(ui::SkinFont(13));
  for (int text : {ui::kStrQualityLow, ui::kStrQualityMedium, ui::kStrQualityHigh}) quality_->addItem(Text(text));
  quality_->setCurrentIndex(1);
  QObject::connect(quality_, &QComboBox::currentIndexChanged, this, [this](int index) {
    model_.SetQuality(index);
    ShowModel();
  });
  output_path_ = MakeEdit(this, kOutputPath);
  output_name_ = MakeEdit(this, kOutputName);

  preview_ = new CTranscodePreviewDlg(this);
  upload_ = new CUploadDlg(this);

  model_.SetOutputDir(LoadJobOutputDir(this, options_.environment, &output_dir_stand_in_));
  output_path_->setText(QString::fromStdString(model_.output_dir()));
  output_path_->setCursorPosition(0);

  const std::string engine_dir = options_.engine_dir.empty() ? ProgramDir() : options_.engine_dir;
  if (convert::LoadEngine(engine_dir, &engine_, &engine_error_)) {
    // The worker posts; the window is alive for as long as the worker runs (the destructor
    // ends the worker first).
    worker_ = std::make_unique<ConversionWorker>(
        engine_, ConversionWorker::Callbacks{
                     [this](uint64_t id) { post(msg::kMsgJobProgress, static_cast<WParam>(id)); },
                     [this](uint64_t id, int result, bool cancelled) {
                       post(msg::kMsgJobEnded, static_cast<WParam>(id * 2 + (cancelled ? 1 : 0)), result);
                     }});
  }

  SetRotation(0);  // also proposes the (still empty) output name
  CentreOnParent(this);
  upload_->move((width() - upload_->width()) / 2, (height() - upload_->height()) / 2);
  ShowModel();
}

CCompositeDlg::~CCompositeDlg() {
  // The worker stops a running job and ends before the window its messages go to.
  worker_.reset();
}

QWidget* CCompositeDlg::control(int id) const {
  for (const char* prefix : {"button", "radio", "label", "edit", "combo", "bar"}) {
    if (auto* w = findChild<QWidget*>(QString("%1%2").arg(prefix).arg(id), Qt::FindDirectChildrenOnly)) return w;
  }
  return nullptr;
}

bool CCompositeDlg::busy() const { return worker_ != nullptr && worker_->busy(); }

namespace {

// The output name is made from the part after the folder: a name given relative to the
// current folder becomes a full path first.
std::string FullPath(const std::string& path) {
  std::error_code ec;
  const fs::path full = fs::absolute(path, ec);
  return ec ? path : full.lexically_normal().string();
}

}  // namespace

void CCompositeDlg::Preload(const std::string& path, bool photo) {
  model_.Preload(FullPath(path.substr(0, 1024)), photo);
  preview_->Load(model_.input_path(), photo);
  model_.RefreshOutputName();
  ShowModel();
}

void CCompositeDlg::ChooseFile(const std::string& path) {
  if (!model_.ChooseFile(FullPath(path))) return;
  preview_->Load(model_.input_path(), model_.photo());
  ShowModel();
}

void CCompositeDlg::ShowModel() {
  const ConverterModel::Controls& c = model_.controls();
  control(kStart)->setEnabled(c.start);
  control(kStop)->setEnabled(c.stop);
  for (int id : kEditingControls) control(id)->setEnabled(c.editing);
  output_name_->setText(QString::fromStdString(model_.output_name()));
  output_name_->setCursorPosition(0);
  progress_->setText(QString::fromStdString(model_.progress_text()));
  time_left_->setText(QString::fromStdString(model_.time_left_text()));
  // A photo job has no steps to count: the bar only shows that it is busy.
  progress_bar_->setMaximum(model_.job() == ConverterModel::Job::kPhoto ? 0 : kProgressSteps);
  progress_bar_->setValue(static_cast<int>(model_.progress() * kProgressSteps / 100 + 0.5f));
}

void CCompositeDlg::SetRotation(int degrees) {
  model_.SetRotation(degrees);
  preview_->SetRotation(degrees);
  for (const Rotation& r : kRotations) {
    static_cast<ui::CButtonEx*>(control(r.button))->SetActive(r.degrees == degrees);
    static_cast<QRadioButton*>(control(r.radio))->setChecked(r.degrees == degrees);
  }
  ShowModel();
}

platform::LParam CCompositeDlg::onMessage(unsigned message, WParam w, LParam l) {
  switch (message) {
    case ui::kWmCommand:
      Command(static_cast<int>(w));
      break;
    case msg::kMsgMinimise:
      Minimise(this);
      break;
    case msg::kMsgPhotoJob:
      RunPhotoJob();
      break;
    case msg::kMsgVideoJob:
      RunVideoJob();
      break;
    case msg::kMsgCancelForClose:
      CancelForClose();
      break;
    case msg::kMsgEndDialog:
      if (inModal()) endModal(ui::kIdOk);
      hide();
      break;
    case msg::kMsgRangeChanged:
      model_.RefreshOutputName();
      ShowModel();
      break;
    case msg::kMsgOpenMerger:
      OpenMerger();
      break;
    case msg::kMsgDropFiles: {
      const auto* dropped = reinterpret_cast<const platform::DroppedFiles*>(l);
      if (dropped != nullptr && !dropped->paths.empty() && model_.controls().editing)
        ChooseFile(dropped->paths.front());
      break;
    }
    case msg::kMsgJobProgress:
      if (worker_ != nullptr && static_cast<uint64_t>(w) == job_id_) {
        model_.OnProgress(worker_->LatestProgress());
        ShowModel();
      }
      break;
    case msg::kMsgJobEnded:
      OnJobEnded(w, l);
      break;
    default:
      return SkinnedDialog::onMessage(message, w, l);
  }
  return 0;
}

void CCompositeDlg::Command(int id) {
  switch (id) {
    case kMinimise:
      post(msg::kMsgMinimise);
      break;
    case kClose:
      SaveOutputDir();
      if (!MayClose()) break;
      post(msg::kMsgCancelForClose);
      post(msg::kMsgEndDialog);
      break;
    case kOpen:
      ChooseFileWithDialog();
      break;
    case kMerge:
      preview_->post(msg::kMsgEngineEvent, msg::kNotifyEnd, 0);
      post(msg::kMsgOpenMerger);
      break;
    case kUploadToggle:
      upload_->Toggle();
      break;
    case kStart:
      Start();
      break;
    case kStop:
      if (model_.photo() || model_.job() != ConverterModel::Job::kVideo) break;
      if (worker_ != nullptr) worker_->Stop();
      model_.Stop();
      ShowModel();
      break;
    case kBrowse:
      ChooseOutputDir();
      break;
    case kOpenDir:
      OpenOutputDir(true);
      break;
    default:
      for (const Rotation& r : kRotations) {
        if (id == r.button || id == r.radio) SetRotation(r.degrees);
      }
      break;
  }
}

void CCompositeDlg::ChooseFileWithDialog() {
  // Below OpenGL 2.0 the preview plays into the window itself; it stops while the file
  // dialog is over it.
  if (preview_->gl_major_version() < 2) preview_->post(msg::kMsgEngineEvent, msg::kNotifyEnd, 0);
  const QString start = QString::fromStdString(
      model_.input_path().empty() ? model_.output_dir() : fs::path(model_.input_path()).parent_path().string());
  const QString path = QFileDialog::getOpenFileName(
      this, Text(ui::kStrOpenFile), start,
      Text(ui::kStrFilesFilter) + " (*.mp4 *.mov *.jpg *.MP4 *.MOV *.JPG *.Mp4 *.Mov *.Jpg)");
  if (!path.isEmpty()) ChooseFile(path.toStdString());
}

void CCompositeDlg::ChooseOutputDir() {
  const QString dir = QFileDialog::getExistingDirectory(this, Text(ui::kStrSelectOutputDir),
                                                        QString::fromStdString(model_.output_dir()));
  if (dir.isEmpty()) return;
  model_.SetOutputDir(dir.toStdString());
  output_dir_stand_in_ = false;
  output_path_->setText(QString::fromStdString(model_.output_dir()));
  output_path_->setCursorPosition(0);
  // The next free name depends on the folder.
  model_.RefreshOutputName();
  ShowModel();
}

void CCompositeDlg::OpenOutputDir(bool complain) {
  std::error_code ec;
  if (model_.output_dir().empty() || !fs::is_directory(model_.output_dir(), ec)) {
    if (complain) ui::MessageBox(this, Text(ui::kStrOutputPathMissing), {}, ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
    return;
  }
  ui::OpenExternally(this, QUrl::fromLocalFile(QString::fromStdString(model_.output_dir())));
}

void CCompositeDlg::SaveOutputDir() {
  // A stand-in for a missing folder leaves the stored one for when it is back.
  if (!output_dir_stand_in_) ui::SaveOutputDir(options_.environment, model_.output_dir());
}

void CCompositeDlg::Start() {
  if (model_.input_path().empty()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  check_ = convert::CheckConversionInput(model_.input_path());
  QApplication::restoreOverrideCursor();
  if (check_.verdict != kQualified) {
    ui::MessageBox(this, QString::fromStdString(convert::RefusalText(check_)), {}, ui::BoxButtons::kOk,
                   ui::BoxIcon::kWarning);
    return;
  }
  if (!model_.photo() && worker_ == nullptr) {
    ShowEngineMissing(this, engine_error_);
    return;
  }
  const ConverterModel::Job job = model_.Start(check_.verdict);
  ShowModel();
  post(job == ConverterModel::Job::kPhoto ? msg::kMsgPhotoJob : msg::kMsgVideoJob);
}

void CCompositeDlg::RunPhotoJob() {
  const std::string output = model_.OutputPathForJob();
  progress_->setText(Text(ui::kStrStitchingImage));
  progress_->repaint();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const int result =
      StitchPhoto(model_.input_path().c_str(), output.c_str(), model_.rotation(), false, model_.quality());
  QApplication::restoreOverrideCursor();
  last_result_ = result;
  last_output_ = output;
  const ConverterModel::Answer answer = model_.OnPhotoEnded(result);
  ShowModel();
  Answer(answer);
}

void CCompositeDlg::RunVideoJob() {
  const std::string output = model_.OutputPathForJob();
  // The preview knows the length once it played; until then MediaInfo's is used.
  int64_t length = preview_->media_length_ms();
  if (length == TrimPreviewModel::kUnknownLengthMs && check_.length_ms > 0) length = check_.length_ms;
  const convert::TrimRange range = convert::RangeFromPercent(preview_->range_low(), preview_->range_high(), length);
  ConversionWorker::Job job;
  job.call = convert::ConversionCall(model_.input_path(), output, range,
                                     static_cast<convert::Quality>(quality_->currentIndex()), check_.copy);
  job.output = output;
  job.rotation = model_.rotation();
  last_call_ = job.call;
  job_output_ = output;
  job_id_ = worker_->Run(std::move(job));
}

void CCompositeDlg::OnJobEnded(WParam w, LParam result) {
  const uint64_t id = static_cast<uint64_t>(w) / 2;
  const bool cancelled = (w & 1) != 0;
  if (id != job_id_) return;  // a job the user replaced by another one
  last_result_ = static_cast<int>(result);
  last_output_ = job_output_;
  const ConverterModel::Answer answer = model_.OnVideoEnded(static_cast<int>(result), cancelled, closing_);
  ShowModel();
  if (!closing_) Answer(answer);
}

void CCompositeDlg::Answer(ConverterModel::Answer answer) {
  if (answer == ConverterModel::Answer::kAskOpenOutputDir) {
    if (ui::MessageBox(this, Text(ui::kStrOpenOutputDirQuestion), Text(ui::kStrFinish), ui::BoxButtons::kOkCancel,
                       ui::BoxIcon::kQuestion) == ui::kIdOk) {
      OpenOutputDir(false);
    }
  } else if (answer == ConverterModel::Answer::kError) {
    ui::MessageBox(this, QString::fromStdString(model_.answer_text()), {}, ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
  }
}

void CCompositeDlg::CancelForClose() {
  if (model_.photo() || !busy()) return;
  closing_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  worker_->CancelAndWait();
  QApplication::restoreOverrideCursor();
  model_.Stop();
  ShowModel();
}

bool CCompositeDlg::MayClose() {
  if (model_.job() != ConverterModel::Job::kVideo || !busy()) return true;
  return ui::MessageBox(this, Text(ui::kStrCancelStitching), {}, ui::BoxButtons::kOkCancel, ui::BoxIcon::kQuestion) ==
         ui::kIdOk;
}

void CCompositeDlg::closeEvent(QCloseEvent* event) {
  // Closed by the window manager (or Alt+F4): the same question as the close button.
  SaveOutputDir();
  if (!MayClose()) {
    event->ignore();
    return;
  }
  CancelForClose();
  SkinnedDialog::closeEvent(event);
}

void CCompositeDlg::OpenMerger() {
  if (merger_ != nullptr) return;
  CMultiCompositeDlg merger(this, options_);
  merger_ = &merger;
  merger.runModal();
  merger_ = nullptr;
}

void CCompositeDlg::resizeEvent(QResizeEvent* event) {
  SkinnedDialog::resizeEvent(event);
  const int w = width(), h = height();
  control(kOpen)->setGeometry(11, 40, 70, 35);
  control(kMerge)->setGeometry(86, 40, 70, 35);
  control(kUploadToggle)->setGeometry(w / 2 - 17, 40, 35, 35);
  control(kStart)->setGeometry(w - 155, 40, 70, 35);
  control(kStop)->setGeometry(w - 80, 40, 70, 35);
  preview_->setGeometry(11, 75, 640, 380);

  // Rotation: the label, then a row of the four image buttons with a radio button under each.
  control(kRotationLabel)->setGeometry(11, 465, 260, 22);
  int x = 14;
  for (const Rotation& r : kRotations) {
    control(r.button)->setGeometry(x, 490, 36, 36);
    control(r.radio)->setGeometry(x + 2, 528, 56, 18);
    x += 62;
  }
  // Quality, and the output name under it, to the right of the rotation group; the edits
  // end 80 pixels before the right edge.
  const int right = w - 80;
  control(kQualityLabel)->setGeometry(272, 465, 100, 26);
  quality_->setGeometry(372, 465, right - 372, 26);
  control(kOutputNameLabel)->setGeometry(272, 501, 100, 28);
  output_name_->setGeometry(372, 501, right - 372, 28);
  control(kOpenDir)->setGeometry(w - 75, 500, 60, 30);
  // The output path under the radio buttons.
  control(kOutputPathLabel)->setGeometry(11, 558, 100, 28);
  output_path_->setGeometry(110, 558, right - 110, 28);
  control(kBrowse)->setGeometry(w - 75, 558, 60, 28);

  // The bar between the progress and the time left.
  progress_->setGeometry(10, h - 28, 130, 28);
  progress_bar_->setGeometry(145, h - 19, w - 290, 10);
  time_left_->setGeometry(w - 135, h - 28, 130, 28);
}

void CCompositeDlg::paintEvent(QPaintEvent* event) {
  SkinnedDialog::paintEvent(event);
  QPainter painter(this);
  painter.setPen(QColor(177, 177, 177));
  painter.drawLine(1, height() - 37, width() - 2, height() - 37);
}

}  // namespace spherolux::dialogs
