// CCompositeDlg: the converter. It turns one camera video or photo into a stitched panorama
// in the output directory: choose a file (Open, a drop on the picture, or handed over by the
// player window), see it and select a range in the trim preview, pick rotation, quality and
// video codec (H.264 or H.265, in a small list beside the quality), Start; Stop ends a video
// job and leaves no file. Jobs run on the process's conversion service (convert/service.h):
// videos through the conversion engine with progress and time left shown once a second,
// photos through the photo pipeline; the window stays responsive meanwhile. Merge opens the
// merger, the upload button the upload shortcuts.
//
// Given several files at once (Open with several selected, a drop of several, or
// ChooseFiles), the converter becomes a queue: the window grows by a list under its
// controls with one job per file, its state and its output name. Selecting a row shows its
// file in the preview, and a job that still waits takes the range, rotation, quality and
// codec chosen there. Start runs the jobs one after another in the order of the list (Up,
// Down and Remove change it); Stop ends the running job and the queue goes on, Stop all ends the
// queue. Once it has run through, one summary says how many were converted, which were not
// and why, and asks to open the output directory. With one file nothing of this shows.
//
// The rules and the jobs are ConverterModel's and ConverterQueue's
// (dialogs/converter_model.h, dialogs/converter_queue.h); this window shows their state
// and hands the jobs to the service. The service's callbacks touch no widget: they
// post their figures to the UI thread. Closing while a video job or the queue runs asks
// first; on OK the job is stopped (the UI thread waits for the service to finish cleaning
// up), its file removed, and no other job starts.
//
// UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "convert/client.h"
#include "dialogs/converter_model.h"
#include "dialogs/converter_queue.h"
#include "dialogs/dialog_options.h"
#include "ui/skinned_dialog.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QRadioButton;

namespace spherolux::ui {
class CButtonEx;
class CListCtrlCl;
}  // namespace spherolux::ui

namespace spherolux::dialogs {

class CTranscodePreviewDlg;
class CUploadDlg;
class CMultiCompositeDlg;

class CCompositeDlg : public ui::SkinnedDialog {
 public:
  enum ControlId : int {
    kMinimise = 1154,
    kClose = 1151,
    kOpen = 1005,
    kMerge = 1006,
    kUploadToggle = 1066,
    kStart = 1157,
    kStop = 1048,
    kRotate0 = 1033,
    kRotate180 = 1034,
    kRotate270 = 1035,
    kRotate90 = 1036,
    kRadio0 = 1167,
    kRadio180 = 1164,
    kRadio270 = 1165,
    kRadio90 = 1168,
    kRotationLabel = 1166,
    kQualityLabel = 1169,
    kQualityList = 1097,
    kOutputPathLabel = 1170,
    kOutputPath = 1046,
    kBrowse = 1152,
    kOutputNameLabel = 1171,
    kOutputName = 1047,
    kOpenDir = 1153,
    kProgressLabel = 1162,
    kTimeLeftLabel = 1163,
    kProgressBar = 1190,
    // The queue, shown once several files were given.
    kQueueList = 1191,
    kQueueUp = 1192,
    kQueueDown = 1193,
    kQueueRemove = 1194,
    kQueueStopAll = 1195,
    // The video codec, beside the quality.
    kCodecList = 1196,
  };
  // The progress bar counts in tenths of a percent.
  static constexpr int kProgressSteps = 1000;
  static constexpr QSize kSize{660, 640};
  // The height the queue adds to the window.
  static constexpr int kQueueHeight = 150;

  CCompositeDlg(QWidget* parent, DialogOptions options = {});
  ~CCompositeDlg() override;

  // The file the player window hands over (at most 1024 characters): shown in the trim
  // preview with its proposed output name.
  void Preload(const std::string& path, bool photo);
  // A file chosen with Open (tests call it instead of the file dialog). Dropped while a
  // video job runs; added to the queue once it shows.
  void ChooseFile(const std::string& path);
  // Files chosen or handed over together: one is chosen as with ChooseFile; several make
  // the queue (replacing the file chosen before), and once it shows, every file given is
  // added to it.
  void ChooseFiles(const std::vector<std::string>& paths);

  const ConverterModel& model() const { return model_; }
  // The queue (empty until several files were given) and its selected row (-1 for none).
  bool queue_shown() const { return queue_shown_; }
  const ConverterQueue& queue() const { return queue_; }
  int selected_job() const { return selected_; }
  // Selects a row of the queue as a click on it does.
  void SelectJob(int row);
  CTranscodePreviewDlg* preview() const { return preview_; }
  CUploadDlg* upload() const { return upload_; }
  CMultiCompositeDlg* merger() const { return merger_; }
  // The control with the id (null for an unknown id).
  QWidget* control(int id) const;
  // A job runs (from its hand-over to the service until its end reached the window).
  bool busy() const { return job_id_ != 0; }
  // The engine's result and the file of the last video job that ended (for its owner and
  // the tests).
  int last_result() const { return last_result_; }
  const std::string& last_output() const { return last_output_; }
  // The engine call of the last video job that started.
  const convert::EngineCall& last_call() const { return last_call_; }

 protected:
  LParam onMessage(unsigned msg, WParam w, LParam l) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Command(int id);
  void ChooseFileWithDialog();
  void ChooseOutputDir();
  void OpenOutputDir(bool complain);
  void SaveOutputDir();
  void SetRotation(int degrees);
  void Start();
  void RunJob();
  void OnJobEnded(const convert::ServiceResult& result);
  void Answer(ConverterModel::Answer answer);
  // True when no video job runs, or the user agreed to cancel it (string 484).
  bool MayClose();
  void CancelForClose();
  void OpenMerger();
  void ShowModel();
  // The queue.
  void ShowQueue();
  void ShowQueueRows();
  void StartQueue();
  void RunNextInQueue();
  void OnQueueJobEnded(uint64_t entry, const convert::ServiceResult& result);
  void ShowQueueSummary();
  void MoveSelectedJob(int step);
  void RemoveSelectedJob();
  void StopQueue(bool all);
  // The callbacks of a job: they post to this window what the service reports.
  convert::ServiceCallbacks PostingCallbacks(std::function<void(const convert::JobProgress&)> progress,
                                             std::function<void(const convert::ServiceResult&)> ended);

  DialogOptions options_;
  // The output folder stands in for a stored one that no longer exists (until Browse).
  bool output_dir_stand_in_ = false;
  ConverterModel model_;
  convert::ConversionService* service_;
  convert::InputCheck check_;  // the check of the job that starts
  uint64_t job_id_ = 0;        // the job the window waits for, 0 when none
  bool closing_ = false;
  int last_result_ = 0;
  std::string last_output_;
  convert::EngineCall last_call_;
  bool queue_shown_ = false;
  ConverterQueue queue_;
  int selected_ = -1;
  // The selected job is being shown: the controls set for it do not edit it.
  bool showing_job_ = false;

  CTranscodePreviewDlg* preview_ = nullptr;
  CUploadDlg* upload_ = nullptr;
  CMultiCompositeDlg* merger_ = nullptr;
  ui::CButtonEx* close_ = nullptr;
  ui::CButtonEx* minimise_ = nullptr;
  QComboBox* quality_ = nullptr;
  QComboBox* codec_ = nullptr;
  QLineEdit* output_path_ = nullptr;
  QLineEdit* output_name_ = nullptr;
  QLabel* progress_ = nullptr;
  QLabel* time_left_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  ui::CListCtrlCl* queue_list_ = nullptr;
};

}  // namespace spherolux::dialogs
