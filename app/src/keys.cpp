#include "app/keys.h"

#include "ui/skin.h"
#include "ui/strings.h"

namespace spherolux::app {

namespace msg = platform;

namespace {

constexpr KeyBinding kKeys[] = {
    {"Space", nullptr, msg::kMsgPlayPause, 0},    {"F", "F11", msg::kMsgMaximiseRestore, 0},
    {"Esc", nullptr, kKeyLeaveFullScreen, 0},     {"Ctrl+O", nullptr, msg::kMsgOpenFile, 0},
    {"Shift+S", nullptr, msg::kMsgScreenshot, 0}, {"Shift+R", nullptr, kKeyRecord, 0},
    {"Ctrl+E", nullptr, msg::kMsgConverter, 0},   {"0", nullptr, msg::kMsgViewCommand, 0},
    {"1", nullptr, msg::kMsgViewCommand, 1},      {"2", nullptr, msg::kMsgViewCommand, 2},
    {"3", nullptr, msg::kMsgViewCommand, 3},      {"4", nullptr, msg::kMsgViewCommand, 4},
    {"5", nullptr, msg::kMsgViewCommand, 5},      {"6", nullptr, msg::kMsgViewCommand, 6},
    {"Ctrl+Q", nullptr, msg::kMsgClose, 0},
};

constexpr MenuEntry kMenu[] = {
    {msg::kMsgOpenFile, 0, ui::kStrOpenFile, ui::kImgOpen, "Ctrl+O", false},
    {0, 0, 0, 0, nullptr, false},
    {msg::kMsgPlayPause, 0, ui::kStrPlay, 0, "Space", true},
    {msg::kMsgScreenshot, 0, ui::kStrSnapshot, ui::kImgPanelSnapshot, "Shift+S", true},
    {kKeyRecord, 0, ui::kStrRecord, 0, "Shift+R", true},
    {msg::kMsgMaximiseRestore, 0, ui::kStrFullScreen, 0, "F", false},
    {0, 0, 0, 0, nullptr, false},
    {msg::kMsgRotateLeft, 0, ui::kStrRotateLeft, 0, nullptr, true},
    {msg::kMsgRotateRight, 0, ui::kStrRotateRight, 0, nullptr, true},
    {msg::kMsgViewCommand, msg::kViewDirection, ui::kStrDirection, ui::kImgPanelDirection, nullptr, true},
    {msg::kMsgViewCommand, msg::kViewReset, ui::kStrResetView, ui::kImgPanelReset, nullptr, true},
    {0, 0, 0, 0, nullptr, false},
    {msg::kMsgConverter, 0, ui::kStrOpenConverter, ui::kImgPanelConverter, "Ctrl+E", false},
    {msg::kMsgMenu, 0, ui::kStrLanguage, ui::kImgLanguage, nullptr, false},
    {msg::kMsgClose, 0, ui::kStrExit, 0, "Ctrl+Q", false},
};

}  // namespace

std::span<const KeyBinding> KeyBindings() { return kKeys; }
std::span<const MenuEntry> ContextMenu() { return kMenu; }

QString Text(int id) { return QString::fromUtf8(ui::LoadString(id)); }
QString Text(int id, const QString& arg) { return Text(id).replace("%s", arg); }

}  // namespace spherolux::app
