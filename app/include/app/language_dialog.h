// CDlgSetLanguage: the language dialog. A list of the two languages, preselected with the
// language in effect; OK with another language stores its locale id in the language file
// (settings.h) and restarts the program so that it starts in that language. The same language,
// or no selection, only closes the dialog. UI thread only.
#pragma once

#include <functional>

#include "ui/skinned_dialog.h"
#include "ui/strings.h"

class QComboBox;
class QLabel;

namespace spherolux::app {

class CDlgSetLanguage : public ui::SkinnedDialog {
 public:
  enum ControlId : int { kOk = 1033, kList = 1097, kLabel = 1185 };
  static constexpr QSize kSize{240, 140};

  // `language_file` is where the choice goes; `restart` starts the program again and returns
  // whether it did (after which the dialog asks `owner` to close with kMsgClose).
  CDlgSetLanguage(platform::MessageWindow* owner, std::string language_file, ui::Language current,
                  std::function<bool()> restart);

  // The item preselected for `language`: 0 English, 1 Chinese, -1 for any other.
  static int PreselectedItem(ui::Language language);
  // Shows the dialog centred on its owner with the preselection of the current language.
  void Open();
  QComboBox* list() const { return list_; }

 protected:
  LParam onMessage(unsigned msg, WParam w, LParam l) override;

 private:
  void OnOk();

  platform::MessageWindow* owner_;
  std::string language_file_;
  ui::Language current_;
  std::function<bool()> restart_;
  QLabel* label_;
  QComboBox* list_;
};

}  // namespace spherolux::app
