#include "dialogs/merger_model.h"

#include <algorithm>
#include <cstdio>

#include "convert/client.h"
#include "convert/words.h"
#include "ui/strings.h"

namespace spherolux::dialogs {

std::vector<std::string> MergerModel::Add(const std::vector<std::string>& paths) {
  const convert::MergeSelection selection = convert::SelectMergeInputs(paths);
  files_.insert(files_.end(), selection.accepted.begin(), selection.accepted.end());
  std::vector<std::string> refusals;
  for (const std::string& path : selection.refused)
    refusals.push_back(convert::MergeRefusalText(path, ui::UiLanguage()));
  return refusals;
}

bool MergerModel::Delete(const std::vector<int>& selected) {
  if (selected.empty()) return false;
  std::vector<int> rows = selected;
  std::sort(rows.rbegin(), rows.rend());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (int row : rows) {
    if (row >= 0 && row < static_cast<int>(files_.size())) files_.erase(files_.begin() + row);
  }
  return true;
}

std::vector<int> MergerModel::Move(const std::vector<int>& selected, int step) {
  const int count = static_cast<int>(files_.size());
  std::vector<int> rows;
  for (int row : selected) {
    if (row >= 0 && row < count) rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  // Rows are taken from the end they move towards; a row that cannot move (against the end,
  // or behind a selected row that could not) keeps its place and blocks the next.
  if (step > 0) std::reverse(rows.begin(), rows.end());
  int blocked = step > 0 ? count : -1;
  for (int& row : rows) {
    const int target = row + (step > 0 ? 1 : -1);
    if (target == blocked) {
      blocked = row;
      continue;
    }
    std::swap(files_[row], files_[target]);
    row = target;
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::string MergerModel::IndexText(int row) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", row + 1);
  return text;
}

std::string MergerModel::ResultText(int result, const std::string& output) {
  if (result != 0) return convert::MergeFailureText(result, ui::UiLanguage());
  return std::string(ui::LoadString(ui::kStrMergeSavedIn)) + ui::LabelColon(": ") + output;
}

}  // namespace spherolux::dialogs
