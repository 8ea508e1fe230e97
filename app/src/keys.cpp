#include "app/keys.h"

#include "ui/skin.h"
#include "ui/strings.h"

namespace spherolux::app {

int MenuIcon(const player::Command& command) {
  using player::CommandId;
  switch (command.id) {
    case CommandId::kOpen:
      return ui::kImgOpen;
    case CommandId::kScreenshot:
      return ui::kImgPanelSnapshot;
    case CommandId::kFlip:
      return ui::kImgPanelDirection;
    case CommandId::kResetView:
      return ui::kImgPanelReset;
    case CommandId::kConverter:
      return ui::kImgPanelConverter;
    case CommandId::kLanguage:
      return ui::kImgLanguage;
    default:
      return 0;
  }
}

QString Text(int id) { return QString::fromUtf8(ui::LoadString(id)); }
QString Text(int id, const QString& arg) { return Text(id).replace("%s", arg); }

}  // namespace spherolux::app
