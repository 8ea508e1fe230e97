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

std::string MergerModel::IndexText(int row) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", row + 1);
  return text;
}

std::string MergerModel::ResultText(int result, const std::string& output) {
  if (result != 0) return convert::MergeFailureText(result, ui::UiLanguage());
  return std::string(ui::LoadString(ui::kStrMergeSavedIn)) + ": " + output;
}

}  // namespace spherolux::dialogs
