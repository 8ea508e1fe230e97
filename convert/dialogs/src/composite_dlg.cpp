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
#include <QSignalBlocker>
#include <QUrl>
#include <algorithm>
#include <filesystem>

#include "convert/job.h"
#include "convert/words.h"
#include "dialog_widgets.h"
#include "dialogs/multi_composite_dlg.h"
#include "dialogs/transcode_preview_dlg.h"
#include "dialogs/upload_dlg.h"
#include "platform/messages.h"
#include "ui/bar_logic.h"
#include "ui/button_ex.h"
#include "ui/list_ctrl.h"
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

// The controls a job disables: Open, Merge, the rotations, the quality and codec lists and
// Browse.
constexpr int kEditingControls[] = {
    CCompositeDlg::kOpen,      CCompositeDlg::kMerge,     CCompositeDlg::kRotate0,     CCompositeDlg::kRotate90,
    CCompositeDlg::kRotate180, CCompositeDlg::kRotate270, CCompositeDlg::kQualityList, CCompositeDlg::kCodecList,
    CCompositeDlg::kBrowse,    CCompositeDlg::kRadio0,    CCompositeDlg::kRadio90,     CCompositeDlg::kRadio180,
    CCompositeDlg::kRadio270,
};

// The codec list's entries in the order of convert::Codec: the codecs' own names, the same
// in every language.
constexpr const char* kCodecNames[] = {"H.264", "H.265"};

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
    : SkinnedDialog(parent, kSize),
      options_(std::move(options)),
      model_(Exists),
      service_(options_.service),
      queue_(Exists) {
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
    if (queue_shown_ && !showing_job_) queue_.SetQuality(static_cast<size_t>(selected_), index);
    ShowModel();
  });
  codec_ = new QComboBox(this);
  codec_->setObjectName(QString("combo%1").arg(kCodecList));
  codec_->setFont(ui::SkinFont(13));
  for (const char* name : kCodecNames) codec_->addItem(name);
  codec_->setToolTip(Text(ui::kStrDescVideoCodec));
  codec_->setAccessibleName(Text(ui::kStrVideoCodec));
  codec_->setAccessibleDescription(Text(ui::kStrDescVideoCodec));
  QObject::connect(codec_, &QComboBox::currentIndexChanged, this, [this](int index) {
    const auto codec = static_cast<convert::Codec>(index);
    model_.SetCodec(codec);
    if (queue_shown_ && !showing_job_) queue_.SetCodec(static_cast<size_t>(selected_), codec);
    ShowModel();
  });
  output_path_ = MakeEdit(this, kOutputPath);
  output_name_ = MakeEdit(this, kOutputName);

  preview_ = new CTranscodePreviewDlg(this);
  upload_ = new CUploadDlg(this);

  // The queue, hidden until several files are given.
  queue_list_ = new ui::CListCtrlCl(this);
  queue_list_->setObjectName(QString("list%1").arg(kQueueList));
  queue_list_->InsertColumn(0, Text(ui::kStrQueueFile), 165);
  queue_list_->InsertColumn(1, Text(ui::kStrQueueOutputName), 185);
  queue_list_->InsertColumn(2, Text(ui::kStrQueueState), 150);
  queue_list_->horizontalHeader()->setStretchLastSection(true);
  queue_list_->setTextElideMode(Qt::ElideMiddle);
  queue_list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  queue_list_->setSelectionMode(QAbstractItemView::SingleSelection);
  queue_list_->hide();
  QObject::connect(queue_list_, &QTableWidget::itemSelectionChanged, this, [this] {
    const std::vector<int> rows = queue_list_->SelectedRows();
    if (!rows.empty() && rows.front() != selected_) SelectJob(rows.front());
  });
  for (auto [id, text] : {std::pair{kQueueUp, ui::kStrMoveUp},
                          {kQueueDown, ui::kStrMoveDown},
                          {kQueueRemove, ui::kStrQueueRemove},
                          {kQueueStopAll, ui::kStrQueueStopAll}}) {
    MakeTextButton(this, id, Text(text), ButtonLook::kPlain)->hide();
  }

  model_.SetOutputDir(LoadJobOutputDir(this, options_.environment, &output_dir_stand_in_));
  output_path_->setText(QString::fromStdString(model_.output_dir()));
  output_path_->setCursorPosition(0);

  SetRotation(0);  // also proposes the (still empty) output name
  CentreOnParent(this);
  upload_->move((width() - upload_->width()) / 2, (height() - upload_->height()) / 2);
  ShowModel();
}

CCompositeDlg::~CCompositeDlg() {
  // The job is stopped, and ends before the window its callbacks post to.
  if (job_id_ != 0) {
    service_->Stop(job_id_);
    service_->Wait(job_id_);
  }
}

QWidget* CCompositeDlg::control(int id) const {
  for (const char* prefix : {"button", "radio", "label", "edit", "combo", "bar", "list"}) {
    if (auto* w = findChild<QWidget*>(QString("%1%2").arg(prefix).arg(id), Qt::FindDirectChildrenOnly)) return w;
  }
  return nullptr;
}

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
  if (queue_shown_) {
    ChooseFiles({path});
    return;
  }
  if (!model_.ChooseFile(FullPath(path))) return;
  preview_->Load(model_.input_path(), model_.photo());
  ShowModel();
}

void CCompositeDlg::ChooseFiles(const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  if (!queue_shown_) {
    if (paths.size() == 1) {
      ChooseFile(paths.front());
      return;
    }
    // Several files take the place of the one chosen, as a choice with Open does, but not
    // while its job runs.
    if (busy() || model_.job() != ConverterModel::Job::kNone) return;
    queue_shown_ = true;
    queue_.SetOutputDir(model_.output_dir());
    queue_list_->show();
    for (int id : {kQueueUp, kQueueDown, kQueueRemove, kQueueStopAll}) control(id)->show();
    resize(kSize.width(), kSize.height() + kQueueHeight);
    CentreOnParent(this);
  }
  std::vector<std::string> full;
  for (const std::string& path : paths) full.push_back(FullPath(path));
  const int first = static_cast<int>(queue_.entries().size());
  // New jobs take the rotation, quality and codec shown.
  queue_.Add(full, model_.rotation(), model_.quality(), model_.codec());
  if (selected_ < 0) {
    SelectJob(first);
  } else {
    ShowModel();
  }
}

void CCompositeDlg::SelectJob(int row) {
  if (row < 0 || row >= static_cast<int>(queue_.entries().size())) return;
  selected_ = row;
  const ConverterQueue::Entry& job = queue_.entry(static_cast<size_t>(row));
  preview_->Load(job.input, job.photo, job.low, job.high);
  // The controls show the job's settings without editing it.
  showing_job_ = true;
  SetRotation(job.rotation);
  quality_->setCurrentIndex(job.quality);
  codec_->setCurrentIndex(static_cast<int>(job.codec));
  showing_job_ = false;
  ShowModel();
}

void CCompositeDlg::ShowModel() {
  if (queue_shown_) {
    ShowQueue();
    return;
  }
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
  if (queue_shown_ && !showing_job_) queue_.SetRotation(static_cast<size_t>(selected_), degrees);
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
    case msg::kMsgVideoJob:
      RunJob();
      break;
    case msg::kMsgCancelForClose:
      CancelForClose();
      break;
    case msg::kMsgEndDialog:
      if (inModal()) endModal(ui::kIdOk);
      hide();
      break;
    case msg::kMsgRangeChanged:
      if (queue_shown_) {
        queue_.SetRange(static_cast<size_t>(selected_), preview_->range_low(), preview_->range_high(),
                        preview_->media_length_ms());
      } else {
        model_.RefreshOutputName();
      }
      ShowModel();
      break;
    case msg::kMsgOpenMerger:
      OpenMerger();
      break;
    case msg::kMsgDropFiles: {
      const auto* dropped = reinterpret_cast<const platform::DroppedFiles*>(l);
      if (dropped != nullptr && (queue_shown_ || model_.controls().editing)) ChooseFiles(dropped->paths);
      break;
    }
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
      if (queue_shown_) {
        StartQueue();
      } else {
        Start();
      }
      break;
    case kQueueStopAll:
      StopQueue(true);
      break;
    case kQueueUp:
    case kQueueDown:
      MoveSelectedJob(id == kQueueUp ? -1 : 1);
      break;
    case kQueueRemove:
      RemoveSelectedJob();
      break;
    case kStop:
      if (queue_shown_) {
        StopQueue(false);
        break;
      }
      if (model_.photo() || model_.job() != ConverterModel::Job::kVideo) break;
      if (job_id_ != 0) service_->Stop(job_id_);
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
  const QStringList chosen = QFileDialog::getOpenFileNames(
      this, Text(ui::kStrOpenFile), start,
      Text(ui::kStrFilesFilter) + " (*.mp4 *.mov *.jpg *.MP4 *.MOV *.JPG *.Mp4 *.Mov *.Jpg)");
  std::vector<std::string> paths;
  for (const QString& path : chosen) paths.push_back(path.toStdString());
  ChooseFiles(paths);
}

void CCompositeDlg::ChooseOutputDir() {
  const QString dir = QFileDialog::getExistingDirectory(this, Text(ui::kStrSelectOutputDir),
                                                        QString::fromStdString(model_.output_dir()));
  if (dir.isEmpty()) return;
  model_.SetOutputDir(dir.toStdString());
  queue_.SetOutputDir(model_.output_dir());
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
    ui::MessageBox(this, QString::fromStdString(convert::RefusalText(check_, ui::UiLanguage())), {},
                   ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
    return;
  }
  if (service_ == nullptr) {
    ShowEngineMissing(this, options_.engine_error);
    return;
  }
  const ConverterModel::Job job = model_.Start(check_.verdict);
  ShowModel();
  post(job == ConverterModel::Job::kPhoto ? msg::kMsgPhotoJob : msg::kMsgVideoJob);
}

void CCompositeDlg::RunJob() {
  // The preview knows the length once it played; until then MediaInfo's is used.
  int64_t length = preview_->media_length_ms();
  if (length == TrimPreviewModel::kUnknownLengthMs && check_.length_ms > 0) length = check_.length_ms;
  const convert::TrimRange range = convert::RangeFromPercent(preview_->range_low(), preview_->range_high(), length);
  convert::ServiceJob job = model_.MakeJob(range, check_.copy);
  if (model_.photo()) {
    progress_->setText(Text(ui::kStrStitchingImage));
  } else {
    // The call as the service makes it when the job starts, with the name as it stands now.
    last_call_ = job.call(model_.OutputPathForJob());
  }
  job_id_ = service_->Submit(std::move(job), PostingCallbacks(
                                                 [this](const convert::JobProgress& p) {
                                                   model_.OnProgress(p);
                                                   ShowModel();
                                                 },
                                                 [this](const convert::ServiceResult& r) { OnJobEnded(r); }));
}

convert::ServiceCallbacks CCompositeDlg::PostingCallbacks(std::function<void(const convert::JobProgress&)> progress,
                                                          std::function<void(const convert::ServiceResult&)> ended) {
  // The callbacks run on the service's thread: they post to this window, which outlives the
  // job (the destructor waits for it).
  convert::ServiceCallbacks callbacks;
  callbacks.progress = [this, progress = std::move(progress)](const convert::JobProgress& p) {
    QMetaObject::invokeMethod(
        this, [progress, p] { progress(p); }, Qt::QueuedConnection);
  };
  callbacks.ended = [this, ended = std::move(ended)](const convert::ServiceResult& r) {
    QMetaObject::invokeMethod(
        this, [ended, r] { ended(r); }, Qt::QueuedConnection);
  };
  return callbacks;
}

void CCompositeDlg::OnJobEnded(const convert::ServiceResult& r) {
  job_id_ = 0;
  last_result_ = r.result;
  last_output_ = r.output;
  ConverterModel::Answer answer;
  if (model_.job() == ConverterModel::Job::kPhoto) {
    answer = model_.OnPhotoEnded(r.result);
  } else {
    answer = model_.OnVideoEnded(r.result, r.stopped, closing_);
  }
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
  if (queue_shown_) {
    if (!queue_.running()) return;
    queue_.StopAll();
  } else if (model_.photo() || !busy()) {
    return;
  }
  closing_ = true;
  if (job_id_ != 0) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    service_->Stop(job_id_);
    service_->Wait(job_id_);
    job_id_ = 0;  // cleaned up; its end, still on its way, reports nothing while closing
    QApplication::restoreOverrideCursor();
  }
  if (!queue_shown_) model_.Stop();
  ShowModel();
}

bool CCompositeDlg::MayClose() {
  const bool running = queue_shown_ ? queue_.running() : model_.job() == ConverterModel::Job::kVideo && busy();
  if (!running) return true;
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
  // The codec in the column of the buttons beside the edits (a little wider, for the arrow).
  codec_->setGeometry(w - 76, 465, 62, 26);
  control(kOutputNameLabel)->setGeometry(272, 501, 100, 28);
  output_name_->setGeometry(372, 501, right - 372, 28);
  control(kOpenDir)->setGeometry(w - 75, 500, 60, 30);
  // The output path under the radio buttons.
  control(kOutputPathLabel)->setGeometry(11, 558, 100, 28);
  output_path_->setGeometry(110, 558, right - 110, 28);
  control(kBrowse)->setGeometry(w - 75, 558, 60, 28);

  if (queue_shown_) {
    // The queue under the output path, its buttons in a column at the right.
    const int top = kSize.height() - 42;
    queue_list_->setGeometry(11, top, w - 100, kQueueHeight - 10);
    int y = top;
    for (int id : {kQueueUp, kQueueDown, kQueueRemove, kQueueStopAll}) {
      control(id)->setGeometry(w - 80, y, 70, 30);
      y += 35;
    }
  }

  // The bar between the progress and the time left.
  progress_->setGeometry(10, h - 28, 130, 28);
  progress_bar_->setGeometry(145, h - 19, w - 290, 10);
  time_left_->setGeometry(w - 135, h - 28, 130, 28);
}

void CCompositeDlg::ShowQueue() {
  const bool running = queue_.running();
  const bool chosen = selected_ >= 0 && selected_ < static_cast<int>(queue_.entries().size());
  const bool editable = chosen && queue_.editable(static_cast<size_t>(selected_));
  control(kStart)->setEnabled(queue_.can_start());
  control(kStop)->setEnabled(job_id_ != 0);
  // A job that may still change takes the rotation, quality and codec; files can be added
  // while the queue runs, another folder and the merger wait for its end.
  for (int id : kEditingControls) control(id)->setEnabled(editable);
  control(kOpen)->setEnabled(true);
  control(kMerge)->setEnabled(!running);
  control(kBrowse)->setEnabled(!running);
  control(kQueueUp)->setEnabled(editable && selected_ > 0);
  control(kQueueDown)->setEnabled(editable && selected_ + 1 < static_cast<int>(queue_.entries().size()));
  control(kQueueRemove)
      ->setEnabled(chosen && queue_.entry(static_cast<size_t>(selected_)).state != ConverterQueue::State::kRunning);
  control(kQueueStopAll)->setEnabled(running);
  output_name_->setText(
      chosen ? QString::fromStdString(ui::FileNameOf(queue_.entry(static_cast<size_t>(selected_)).output)) : QString());
  output_name_->setCursorPosition(0);

  // The labels and the bar follow the running job.
  const int row = queue_.running_row();
  const ConverterQueue::Entry* job = row >= 0 ? &queue_.entry(static_cast<size_t>(row)) : nullptr;
  const float percent = job != nullptr ? job->percent : 0;
  if (job != nullptr && job->photo) {
    progress_->setText(Text(ui::kStrStitchingImage));
  } else {
    progress_->setText(QString::fromStdString(convert::ProgressText(percent, ui::UiLanguage())));
  }
  time_left_->setText(
      QString::fromStdString(convert::TimeLeftText(job != nullptr ? job->remaining_seconds : 0, ui::UiLanguage())));
  progress_bar_->setMaximum(job != nullptr && job->photo ? 0 : kProgressSteps);
  progress_bar_->setValue(static_cast<int>(percent * kProgressSteps / 100 + 0.5f));
  ShowQueueRows();
}

void CCompositeDlg::ShowQueueRows() {
  // Rebuilding the rows is no choice of the user's.
  const QSignalBlocker block(queue_list_);
  const std::vector<ConverterQueue::Entry>& jobs = queue_.entries();
  queue_list_->setRowCount(static_cast<int>(jobs.size()));
  for (size_t i = 0; i < jobs.size(); ++i) {
    const int row = static_cast<int>(i);
    const QString state = QString::fromStdString(queue_.StateText(i));
    queue_list_->SetItemText(row, 0, QString::fromStdString(ui::FileNameOf(jobs[i].input)));
    queue_list_->SetItemText(row, 1, QString::fromStdString(ui::FileNameOf(jobs[i].output)));
    queue_list_->SetItemText(row, 2, state);
    queue_list_->item(row, 0)->setToolTip(QString::fromStdString(jobs[i].input));
    queue_list_->item(row, 1)->setToolTip(QString::fromStdString(jobs[i].output));
    queue_list_->item(row, 2)->setToolTip(state);
  }
  queue_list_->clearSelection();
  if (selected_ >= 0 && selected_ < queue_list_->rowCount()) queue_list_->selectRow(selected_);
}

void CCompositeDlg::StartQueue() {
  if (service_ == nullptr) {
    ShowEngineMissing(this, options_.engine_error);
    return;
  }
  if (!queue_.Start()) return;
  RunNextInQueue();
}

void CCompositeDlg::RunNextInQueue() {
  for (;;) {
    const int row = queue_.Next();
    if (row < 0) {
      ShowModel();
      if (!queue_.stopped_all()) ShowQueueSummary();
      return;
    }
    const ConverterQueue::Entry& job = queue_.entry(static_cast<size_t>(row));
    const uint64_t entry = job.id;
    // Each file is judged when its turn comes, as Start judges a single one; one that does
    // not qualify fails with the reason, and the queue goes on.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const convert::InputCheck check = convert::CheckConversionInput(job.input);
    QApplication::restoreOverrideCursor();
    if (check.verdict != kQualified) {
      queue_.OnRefused(entry, convert::RefusalText(check, ui::UiLanguage()));
      continue;
    }
    job_id_ = service_->Submit(queue_.MakeJob(static_cast<size_t>(row), check.length_ms, check.copy),
                               PostingCallbacks(
                                   [this, entry](const convert::JobProgress& p) {
                                     queue_.OnProgress(entry, p);
                                     ShowModel();
                                   },
                                   [this, entry](const convert::ServiceResult& r) { OnQueueJobEnded(entry, r); }));
    ShowModel();
    return;
  }
}

void CCompositeDlg::OnQueueJobEnded(uint64_t entry, const convert::ServiceResult& r) {
  job_id_ = 0;
  last_result_ = r.result;
  last_output_ = r.output;
  queue_.OnEnded(entry, r.result, r.stopped, r.output);
  if (closing_) {
    ShowModel();
    return;
  }
  RunNextInQueue();
}

void CCompositeDlg::ShowQueueSummary() {
  int done = 0;
  QString text = QString::fromStdString(queue_.Summary(&done));
  if (done == 0) {
    ui::MessageBox(this, text, Text(ui::kStrFinish), ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
    return;
  }
  text += "\n\n" + Text(ui::kStrOpenOutputDirQuestion);
  if (ui::MessageBox(this, text, Text(ui::kStrFinish), ui::BoxButtons::kOkCancel, ui::BoxIcon::kQuestion) ==
      ui::kIdOk) {
    OpenOutputDir(false);
  }
}

void CCompositeDlg::MoveSelectedJob(int step) {
  if (selected_ < 0 || !queue_.Move(static_cast<size_t>(selected_), step)) return;
  selected_ += step;  // the job stays selected and in the preview
  ShowModel();
}

void CCompositeDlg::RemoveSelectedJob() {
  if (selected_ < 0 || !queue_.Remove(static_cast<size_t>(selected_))) return;
  const int count = static_cast<int>(queue_.entries().size());
  if (count == 0) {
    selected_ = -1;
    preview_->post(msg::kMsgEngineEvent, msg::kNotifyEnd, 0);
    ShowModel();
    return;
  }
  const int next = std::min(selected_, count - 1);
  selected_ = -1;
  SelectJob(next);
}

void CCompositeDlg::StopQueue(bool all) {
  if (all) queue_.StopAll();
  if (job_id_ != 0) service_->Stop(job_id_);
  ShowModel();
}

void CCompositeDlg::paintEvent(QPaintEvent* event) {
  SkinnedDialog::paintEvent(event);
  QPainter painter(this);
  painter.setPen(QColor(177, 177, 177));
  painter.drawLine(1, height() - 37, width() - 2, height() - 37);
}

}  // namespace spherolux::dialogs
