#include "dialog_widgets.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <set>

#include "platform/messages.h"
#include "ui/button_ex.h"
#include "ui/settings.h"
#include "ui/skin.h"
#include "ui/skinned_dialog.h"
#include "ui/strings.h"

namespace spherolux::dialogs {

QString Text(int string_id) { return QString::fromUtf8(ui::LoadString(string_id)); }

ui::CButtonEx* MakeTextButton(QWidget* parent, int control_id, const QString& text, ButtonLook look) {
  auto* button = new ui::CButtonEx(control_id, parent);
  if (look == ButtonLook::kAccent) {
    button->SetImages({ui::kImgAccentButton,
                       ui::kImgAccentButtonHover,
                       ui::kImgAccentButtonPressed,
                       ui::kImgAccentButtonDisabled,
                       0,
                       {}});
    button->SetCaptionStyle(ui::SkinFont(14, 500), Qt::white, QColor(0xFFF4F7FA));
  } else {
    button->SetImages({ui::kImgButton, ui::kImgButtonHover, ui::kImgButtonPressed, ui::kImgButtonDisabled, 0, {}});
    button->SetCaptionStyle(ui::SkinFont(12), QColor(ui::skin_color::kDialogText),
                            QColor(ui::skin_color::kDisabledText));
  }
  button->setText(text);
  button->setObjectName(QString("button%1").arg(control_id));
  return button;
}

void CentreOnParent(ui::SkinnedDialog* dialog) {
  dialog->CentreOn(nullptr);
  const QScreen* screen = QGuiApplication::screenAt(dialog->geometry().center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  QPoint at = dialog->pos();
  at.setX(std::max(area.left(), std::min(at.x(), area.right() + 1 - dialog->width())));
  at.setY(std::max(area.top(), std::min(at.y(), area.bottom() + 1 - dialog->height())));
  dialog->move(at);
}

void Minimise(QWidget* dialog) {
  if (auto* parent = dynamic_cast<platform::MessageWindow*>(dialog->parentWidget())) {
    parent->post(platform::kMsgMinimise);
  } else {
    dialog->showMinimized();
  }
}

void ShowEngineMissing(QWidget* parent, const std::string& why) {
  ui::MessageBox(parent, QString::asprintf(ui::LoadString(ui::kStrEngineMissing), why.c_str()), {}, ui::BoxButtons::kOk,
                 ui::BoxIcon::kWarning);
}

std::string LoadJobOutputDir(QWidget* window, const ui::Environment& env, bool* stand_in) {
  std::string missing;
  const ui::OutputDir dir = ui::LoadJobOutputDir(env, &missing);
  if (!dir.usable) return {};
  *stand_in = !missing.empty();
  // The folders the user was told about in this process (UI thread only).
  static std::set<std::string> told;
  if (*stand_in && told.insert(missing).second) {
    const QString text =
        QString::asprintf(ui::LoadString(ui::kStrOutputDirFallback), missing.c_str(), dir.path.c_str());
    QTimer::singleShot(0, window, [window, text] {
      ui::MessageBox(window, text, {}, ui::BoxButtons::kOk, ui::BoxIcon::kInformation);
    });
  }
  return dir.path;
}

}  // namespace spherolux::dialogs
