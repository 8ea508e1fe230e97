// CMultiCompositeDlg: the merger. The user lists stitched videos (Add, Delete, Up and Down
// to reorder; the empty list says what to do) and Start joins them in that order into one
// MP4 in the output directory by stream copy through the conversion engine. Files that are
// not stitched are refused one by one, with their path; the others are still added. The
// merge runs on the process's conversion service; meanwhile the list and its buttons take no
// input, the dialog repaints, and closing it stops the merge (which leaves no file). A merge
// that ends gets a message naming the file or the failure.
//
// The rules are MergerModel's (dialogs/merger_model.h). Opened modally by the converter.
// UI thread only.
#pragma once

#include <string>
#include <vector>

#include "convert/client.h"
#include "dialogs/dialog_options.h"
#include "dialogs/merger_model.h"
#include "ui/skinned_dialog.h"

class QLabel;

namespace spherolux::ui {
class CButtonEx;
class CListCtrlCl;
}  // namespace spherolux::ui

namespace spherolux::dialogs {

class CMultiCompositeDlg : public ui::SkinnedDialog {
 public:
  enum ControlId : int {
    kMinimise = 1172,
    kClose = 1173,
    kAdd = 1174,
    kDelete = 1175,
    kStart = 1177,
    kList = 1119,
    kMoveUp = 1180,
    kMoveDown = 1181,
  };
  static constexpr QSize kSize{720, 480};

  CMultiCompositeDlg(QWidget* parent, DialogOptions options = {});

  // The files chosen in the Add dialog, as if chosen there (tests and drops call it too).
  void AddFiles(const std::vector<std::string>& paths);
  // Deletes the selected rows (message 489 when none is selected).
  void DeleteSelected();
  // Moves the selected rows one place up (-1) or down (+1), as Up and Down do (message 489
  // when none is selected); they stay selected.
  void MoveSelected(int step);
  // Runs the merge of the listed files and returns when it has ended; returns the engine's
  // result (-1 when nothing ran, CONVERT_ERR_STOPPED when closing the dialog stopped it).
  int Merge();

  const MergerModel& model() const { return model_; }
  ui::CListCtrlCl* list() const { return list_; }
  ui::CButtonEx* button(int id) const;
  const std::string& output_dir() const { return output_dir_; }
  // The file the last successful merge wrote.
  const std::string& last_output() const { return last_output_; }

 protected:
  LParam onMessage(unsigned msg, WParam w, LParam l) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ChooseFiles();
  void ShowRows();

  DialogOptions options_;
  MergerModel model_;
  std::string output_dir_;
  bool output_dir_stand_in_ = false;  // for a stored folder that no longer exists
  uint64_t merge_id_ = 0;             // the merge that runs on the service, 0 when none
  ui::CListCtrlCl* list_ = nullptr;
  QLabel* hint_ = nullptr;
  ui::CButtonEx* close_ = nullptr;
  ui::CButtonEx* minimise_ = nullptr;
  std::vector<ui::CButtonEx*> buttons_;
  std::string last_output_;
};

}  // namespace spherolux::dialogs
