// CCompositeDlg: the converter. It turns one camera video or photo into a stitched panorama
// in the output directory: choose a file (Open, a drop on the picture, or handed over by the
// player window), see it and select a range in the trim preview, pick rotation and quality,
// Start; Stop ends a video job and leaves no file. Jobs run on the process's conversion
// service (convert/service.h): videos through the conversion engine with progress and time
// left shown once a second, photos through the photo pipeline; the window stays responsive
// meanwhile. Merge opens the merger, the upload button the upload shortcuts.
//
// The rules and the job are ConverterModel's (dialogs/converter_model.h); this window shows
// its state and hands the job to the service. The service's callbacks touch no widget: they
// post their figures to the UI thread. Closing while a video job runs asks first; on OK the
// job is stopped (the UI thread waits for the service to finish cleaning up) and its file
// removed.
//
// UI thread only.
#pragma once

#include <memory>
#include <string>

#include "convert/client.h"
#include "dialogs/converter_model.h"
#include "dialogs/dialog_options.h"
#include "ui/skinned_dialog.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QRadioButton;

namespace spherolux::ui {
class CButtonEx;
}

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
  };
  // The progress bar counts in tenths of a percent.
  static constexpr int kProgressSteps = 1000;
  static constexpr QSize kSize{660, 640};

  CCompositeDlg(QWidget* parent, DialogOptions options = {});
  ~CCompositeDlg() override;

  // The file the player window hands over (at most 1024 characters): shown in the trim
  // preview with its proposed output name.
  void Preload(const std::string& path, bool photo);
  // A file chosen with Open (tests call it instead of the file dialog). Dropped while a
  // video job runs.
  void ChooseFile(const std::string& path);

  const ConverterModel& model() const { return model_; }
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

  CTranscodePreviewDlg* preview_ = nullptr;
  CUploadDlg* upload_ = nullptr;
  CMultiCompositeDlg* merger_ = nullptr;
  ui::CButtonEx* close_ = nullptr;
  ui::CButtonEx* minimise_ = nullptr;
  QComboBox* quality_ = nullptr;
  QLineEdit* output_path_ = nullptr;
  QLineEdit* output_name_ = nullptr;
  QLabel* progress_ = nullptr;
  QLabel* time_left_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
};

}  // namespace spherolux::dialogs
