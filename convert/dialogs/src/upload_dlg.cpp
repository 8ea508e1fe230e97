#include "dialogs/upload_dlg.h"

#include <QLabel>
#include <QUrl>

#include "dialog_widgets.h"
#include "ui/button_ex.h"
#include "ui/skin.h"
#include "ui/strings.h"

namespace spherolux::dialogs {

namespace {

// YouTube and Youku take uploads on pages of their own; Facebook has none for a personal
// account, where a video is posted from the composer of the home page.
constexpr UploadService kServices[] = {
    {1033, "YouTube", ui::kImgUploadVideo, true, "https://www.youtube.com/upload"},
    {1034, "Facebook", ui::kImgUploadSocial, true, "https://www.facebook.com/"},
    {1035, "Youku", ui::kImgUploadGlobe, false, "https://mp.youku.com/"},
};

constexpr int kButtonSide = 60;
constexpr int kButtonTop = 36;

}  // namespace

std::span<const UploadService> UploadServices() { return kServices; }

CUploadDlg::CUploadDlg(QWidget* parent) : SkinnedDialog(parent, kSize) {
  // A child of the converter, not a window of its own.
  setWindowFlags(Qt::Widget);
  setObjectName("uploadShortcuts");
  SetTitle(Text(ui::kStrUploadTitle));
  int x = 35;
  for (const UploadService& service : kServices) {
    auto* button = new ui::CButtonEx(service.control_id, this);
    button->setObjectName(QString("upload%1").arg(service.control_id));
    button->SetImages({service.image, 0, 0, 0, 0, {}});
    button->SetTooltipText(service.name);
    button->setCursor(Qt::PointingHandCursor);
    button->setGeometry(x, kButtonTop, kButtonSide, kButtonSide);
    auto* name = new QLabel(service.name, this);
    name->setFont(ui::SkinFont(12));
    name->setAlignment(Qt::AlignCenter);
    name->setGeometry(x - 10, kButtonTop + kButtonSide + 2, kButtonSide + 20, 18);
    button->setVisible(service.visible);
    name->setVisible(service.visible);
    if (service.visible) x += kButtonSide + 20;
  }
  hide();
}

void CUploadDlg::Toggle() {
  setVisible(isHidden());
  if (isVisible()) raise();
}

platform::LParam CUploadDlg::onMessage(unsigned msg, WParam w, LParam l) {
  if (msg == ui::kWmCommand) {
    for (const UploadService& service : kServices) {
      if (service.control_id != static_cast<int>(w)) continue;
      hide();
      ui::OpenExternally(parentWidget() != nullptr ? parentWidget() : this, QUrl(QString::fromUtf8(service.url)));
      return 0;
    }
  }
  return SkinnedDialog::onMessage(msg, w, l);
}

}  // namespace spherolux::dialogs
