#include "dialogs/multi_composite_dlg.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>
#include <memory>

#include "convert/job.h"
#include "dialog_widgets.h"
#include "platform/messages.h"
#include "ui/button_ex.h"
#include "ui/list_ctrl.h"
#include "ui/skin.h"
#include "ui/strings.h"

namespace spherolux::dialogs {

namespace msg = platform;

CMultiCompositeDlg::CMultiCompositeDlg(QWidget* parent, DialogOptions options)
    : SkinnedDialog(parent, kSize), options_(std::move(options)) {
  setObjectName("merger");
  SetTitle(Text(ui::kStrMergerTitle));
  close_ = AddCloseButton(kClose);
  minimise_ = AddMinimiseButton(kMinimise);
  SetTitleButtonsMargin(10);
  for (auto [id, text] : {std::pair{kAdd, ui::kStrAdd}, {kDelete, ui::kStrDelete}, {kStart, ui::kStrStart}}) {
    buttons_.push_back(MakeTextButton(this, id, Text(text), ButtonLook::kAccent));
  }
  for (auto [id, text] : {std::pair{kMoveUp, ui::kStrMoveUp}, {kMoveDown, ui::kStrMoveDown}}) {
    buttons_.push_back(MakeTextButton(this, id, Text(text), ButtonLook::kPlain));
  }
  button(kStart)->setEnabled(false);
  list_ = new ui::CListCtrlCl(this);
  list_->setObjectName("fileList");
  const int list_w = kSize.width() - 21;
  list_->InsertColumn(0, Text(ui::kStrIndex), list_w / 5);
  list_->InsertColumn(1, Text(ui::kStrInputFiles), 4 * list_w / 5);
  // Paths keep their file names in view: the column fills the list, long paths lose their
  // middle.
  list_->horizontalHeader()->setStretchLastSection(true);
  list_->setTextElideMode(Qt::ElideMiddle);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // The empty list says what to do.
  hint_ = new QLabel(Text(ui::kStrMergerListHint), list_->viewport());
  hint_->setObjectName("emptyHint");
  hint_->setAlignment(Qt::AlignCenter);
  hint_->setWordWrap(true);
  hint_->setFont(ui::SkinFont(14));
  hint_->setStyleSheet(QString("color: %1;").arg(QColor(ui::skin_color::kHintText).name()));
  hint_->setAttribute(Qt::WA_TransparentForMouseEvents);
  auto* hint_layout = new QVBoxLayout(list_->viewport());
  hint_layout->setContentsMargins(20, 20, 20, 20);
  hint_layout->addWidget(hint_);

  output_dir_ = LoadJobOutputDir(this, options_.environment, &output_dir_stand_in_);
  CentreOnParent(this);
}

ui::CButtonEx* CMultiCompositeDlg::button(int id) const {
  for (ui::CButtonEx* b : buttons_) {
    if (b->controlId() == id) return b;
  }
  return nullptr;
}

void CMultiCompositeDlg::resizeEvent(QResizeEvent* event) {
  SkinnedDialog::resizeEvent(event);
  const int w = width(), h = height();
  button(kAdd)->setGeometry(11, 40, 70, 35);
  button(kDelete)->setGeometry(86, 40, 70, 35);
  button(kMoveUp)->setGeometry(176, 40, 70, 35);
  button(kMoveDown)->setGeometry(251, 40, 70, 35);
  button(kStart)->setGeometry(w - 85, 40, 70, 35);
  list_->setGeometry(11, 85, w - 21, h - 105);
}

void CMultiCompositeDlg::ChooseFiles() {
  const QStringList chosen = QFileDialog::getOpenFileNames(
      this, Text(ui::kStrSelectFilesTitle), QString::fromStdString(output_dir_),
      Text(ui::kStrMediaFilesFilter) + " (*.mp4);;" + Text(ui::kStrAllFilesFilter) + " (*)");
  std::vector<std::string> paths;
  for (const QString& path : chosen) paths.push_back(path.toStdString());
  if (!paths.empty()) AddFiles(paths);
}

void CMultiCompositeDlg::AddFiles(const std::vector<std::string>& paths) {
  for (const std::string& refusal : model_.Add(paths)) {
    ui::MessageBox(this, QString::fromStdString(refusal), {}, ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
  }
  ShowRows();
  list_->setFocus();
}

void CMultiCompositeDlg::DeleteSelected() {
  if (!model_.Delete(list_->SelectedRows())) {
    ui::MessageBox(this, Text(ui::kStrSelectFiles), {}, ui::BoxButtons::kOk, ui::BoxIcon::kInformation);
    return;
  }
  list_->clearSelection();
  ShowRows();
}

void CMultiCompositeDlg::MoveSelected(int step) {
  const std::vector<int> rows = model_.Move(list_->SelectedRows(), step);
  if (rows.empty()) {
    ui::MessageBox(this, Text(ui::kStrSelectFiles), {}, ui::BoxButtons::kOk, ui::BoxIcon::kInformation);
    return;
  }
  ShowRows();
  // The moved rows stay selected, so that pressing again moves them on.
  list_->clearSelection();
  for (int row : rows) {
    list_->selectionModel()->select(list_->model()->index(row, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  list_->scrollTo(list_->model()->index(step < 0 ? rows.front() : rows.back(), 0));
  list_->setFocus();
}

void CMultiCompositeDlg::ShowRows() {
  const std::vector<std::string>& files = model_.files();
  list_->DeleteAllItems();
  for (size_t i = 0; i < files.size(); ++i) {
    const int row = list_->InsertItem(static_cast<int>(i), QString::fromStdString(MergerModel::IndexText(int(i))));
    list_->SetItemText(row, 1, QString::fromStdString(files[i]));
  }
  button(kStart)->setEnabled(model_.can_start());
  hint_->setVisible(files.empty());
}

int CMultiCompositeDlg::Merge() {
  if (!model_.can_start()) return -1;
  if (options_.service == nullptr) {
    ShowEngineMissing(this, options_.engine_error);
    return -1;
  }
  // The list lives as long as the job that reads it.
  auto list = std::make_shared<convert::MergeList>();
  std::string error;
  if (!list->Write(model_.files(), &error)) {
    ui::MessageBox(this, Text(ui::kStrMergeFailed) + "\n" + QString::fromStdString(error), Text(ui::kStrFinish));
    return -1;
  }
  const std::string output = convert::DefaultMergeOutputPath(output_dir_);
  convert::ServiceJob job;
  job.output = output;
  job.call = [list](const std::string& out) { return convert::EngineCall{convert::MergeArgs(list->path(), out), 0}; };

  // The list and its buttons take no input while the engine joins the files; the dialog
  // keeps painting, and closing it stops the merge (kMsgMergerClose).
  for (ui::CButtonEx* b : buttons_) b->setEnabled(false);
  list_->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QEventLoop wait;
  convert::ServiceResult ended;
  convert::ServiceCallbacks callbacks;
  callbacks.ended = [&](const convert::ServiceResult& r) {
    ended = r;  // read after the loop, which the queued quit ends
    QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
  };
  merge_id_ = options_.service->Submit(std::move(job), std::move(callbacks));
  wait.exec();
  merge_id_ = 0;
  QApplication::restoreOverrideCursor();
  for (ui::CButtonEx* b : buttons_) b->setEnabled(true);
  list_->setEnabled(true);
  ShowRows();
  const int result = ended.result;
  if (ended.stopped) return CONVERT_ERR_STOPPED;

  if (result == 0) last_output_ = output;
  ui::MessageBox(this, QString::fromStdString(MergerModel::ResultText(result, output)), Text(ui::kStrFinish),
                 ui::BoxButtons::kOk, result == 0 ? ui::BoxIcon::kInformation : ui::BoxIcon::kWarning);
  return result;
}

platform::LParam CMultiCompositeDlg::onMessage(unsigned message, WParam w, LParam l) {
  switch (message) {
    case ui::kWmCommand:
      switch (static_cast<int>(w)) {
        case kMinimise:
          Minimise(this);
          return 0;
        case kClose:
          // A stand-in for a missing folder leaves the stored one for when it is back.
          if (!output_dir_stand_in_) ui::SaveOutputDir(options_.environment, output_dir_);
          post(msg::kMsgMergerClose);
          return 0;
        case kAdd:
          ChooseFiles();
          return 0;
        case kDelete:
          DeleteSelected();
          return 0;
        case kMoveUp:
        case kMoveDown:
          MoveSelected(static_cast<int>(w) == kMoveUp ? -1 : 1);
          return 0;
        case kStart:
          post(msg::kMsgMergerRun);
          return 0;
        default:
          return SkinnedDialog::onMessage(message, w, l);
      }
    case msg::kMsgMergerClose:
      if (merge_id_ != 0) options_.service->Stop(merge_id_);
      if (inModal()) endModal(0);
      hide();
      return 0;
    case msg::kMsgMergerRun:
      Merge();
      return 0;
    default:
      return SkinnedDialog::onMessage(message, w, l);
  }
}

}  // namespace spherolux::dialogs
