// Pieces the converter and the merger build their windows from.
#pragma once

#include <QString>
#include <string>

namespace spherolux::ui {
class CButtonEx;
class SkinnedDialog;
struct Environment;
}  // namespace spherolux::ui

class QWidget;

namespace spherolux::dialogs {

QString Text(int string_id);

// A text button on a light dialog: white text on the accent colour (the dialogs' main
// actions) or dark text on white.
enum class ButtonLook { kAccent, kPlain };
ui::CButtonEx* MakeTextButton(QWidget* parent, int control_id, const QString& text, ButtonLook look);

// Centres the dialog on its parent's window (on the screen without one) and keeps it within
// the screen's free area, its title band first.
void CentreOnParent(ui::SkinnedDialog* dialog);

// A dialog's minimise: its parent window minimises (it hears kMsgMinimise); a dialog without
// one minimises itself.
void Minimise(QWidget* dialog);

// Says that the conversion engine could not be loaded, and why.
void ShowEngineMissing(QWidget* parent, const std::string& why);

// The output folder of the converter and the merger (ui::LoadJobOutputDir), empty when none
// is usable. When it stands in for a stored folder that no longer exists, `stand_in` is set,
// and the first window of the process to meet that folder says so once it runs its events.
std::string LoadJobOutputDir(QWidget* window, const ui::Environment& env, bool* stand_in);

}  // namespace spherolux::dialogs
