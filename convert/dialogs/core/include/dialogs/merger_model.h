// What the merger dialog (CMultiCompositeDlg) decides, without its window: the list of
// stitched videos in merge order, the refusal of files that are not stitched, deleting and
// reordering rows with the index column renumbered, and the texts of its answers.
//
// Plain class, UI thread only. Paths are UTF-8.
#pragma once

#include <string>
#include <vector>

namespace spherolux::dialogs {

class MergerModel {
 public:
  // Appends the stitched videos among `paths` in their order (as absolute paths) and returns
  // the refusal text of each other file, in order (strings 495 and 496 with its path).
  std::vector<std::string> Add(const std::vector<std::string>& paths);
  // Deletes the rows `selected` (any order); false when none is selected.
  bool Delete(const std::vector<int>& selected);
  // Moves the rows `selected` (any order) one place up (`step` -1) or down (+1), keeping
  // their order; a row against that end stays, and so does a selected row right behind one
  // that stays. Returns where the selected rows are now, ascending (empty when none is
  // selected).
  std::vector<int> Move(const std::vector<int>& selected, int step);

  const std::vector<std::string>& files() const { return files_; }
  bool can_start() const { return !files_.empty(); }

  // The index column of row `row` (from 0): "001", "002", ...
  static std::string IndexText(int row);
  // "Merge file saved in: PATH", or "Merge file failed!" in the UI language and the cause.
  static std::string ResultText(int result, const std::string& output);

 private:
  std::vector<std::string> files_;
};

}  // namespace spherolux::dialogs
