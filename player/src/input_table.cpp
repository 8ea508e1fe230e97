#include "player/input_table.h"

#include "ui/strings.h"

namespace spherolux::player {

namespace {

constexpr unsigned kMain = kMainWindow;
constexpr unsigned kPlay = kPlayWindow;
constexpr unsigned kAll = kMainWindow | kPlayWindow | kTrimPreview;

// Turning by key: 5 degrees a press.
constexpr KeyBinding kKeys[] = {
    // Playing.
    {"Space", "play-pause", kMain | kPlay},
    {".", "frame-step", kMain},
    {"PgUp", "seek-by 5", kPlay},
    {"PgDown", "seek-by -5", kPlay},
    {"M", "toggle-mute", kPlay},
    // The view.
    {"0", "view-mode 0", kMain | kPlay},
    {"1", "view-mode 1", kMain | kPlay},
    {"2", "view-mode 2", kMain | kPlay},
    {"3", "view-mode 3", kMain | kPlay},
    {"4", "view-mode 4", kMain | kPlay},
    {"5", "view-mode 5", kMain | kPlay},
    {"6", "view-mode 6", kMain | kPlay},
    {"Left", "turn -5 0", kAll},
    {"Right", "turn 5 0", kAll},
    {"Up", "turn 0 5", kAll},
    {"Down", "turn 0 -5", kAll},
    {"+", "zoom 1", kAll},
    {"=", "zoom 1", kAll},
    {"-", "zoom -1", kAll},
    {"Home", "reset-view", kAll},
    {"R", "reset-view", kPlay},
    {"F", "flip", kPlay},
    {"[", "rotate -1", kPlay},
    {"]", "rotate 1", kPlay},
    // Pictures and recordings.
    {"Shift+S", "screenshot", kMain},
    {"Shift+R", "screen-record", kMain},
    {"Ctrl+Shift+S", "engine-snapshot", kMain},
    {"Ctrl+Shift+R", "stream-record", kMain},
    {"S", "engine-snapshot", kPlay},
    {"C", "stream-record", kPlay},
    // The window.
    {"Ctrl+O", "open-file", kMain},
    {"F", "full-screen", kMain},
    {"F11", "full-screen", kMain},
    {"Esc", "leave-full-screen", kMain},
    {"Ctrl+E", "converter", kMain},
    {"K", "add-keyframe", kMain},
    {"Ctrl+K", "reframe", kMain},
    {"Ctrl+Q", "quit", kMain},
    {"Esc", "quit", kPlay},
};

constexpr MenuEntry kMenu[] = {
    {"open-file", ui::kStrOpenFile},
    {nullptr, 0},
    {"play-pause", ui::kStrPlay},
    {"screenshot", ui::kStrSnapshot},
    {"screen-record", ui::kStrRecord},
    {"engine-snapshot", ui::kStrEngineSnapshot},
    {"stream-record", ui::kStrStreamRecord},
    {"full-screen", ui::kStrFullScreen},
    {nullptr, 0},
    {"view-mode 0", ui::kStrSphere},
    {"view-mode 1", ui::kStrTile},
    {"view-mode 2", ui::kStrPlanet},
    {"view-mode 3", ui::kStrHalfBall},
    {"view-mode 4", ui::kStrInDome},
    {"view-mode 5", ui::kStrLayer},
    {"view-mode 6", ui::kStrFlatView},
    {nullptr, 0},
    {"rotate -1", ui::kStrRotateLeft},
    {"rotate 1", ui::kStrRotateRight},
    {"flip", ui::kStrDirection},
    {"reset-view", ui::kStrResetView},
    {nullptr, 0},
    {"converter", ui::kStrOpenConverter},
    {"reframe", ui::kStrReframe},
    {"language", ui::kStrLanguage},
    {"quit", ui::kStrExit},
};

}  // namespace

std::span<const KeyBinding> KeyBindings() { return kKeys; }
std::span<const MenuEntry> ContextMenu() { return kMenu; }

std::optional<Command> CommandForKey(Window window, std::string_view keys) {
  for (const KeyBinding& binding : kKeys) {
    if ((binding.windows & window) != 0 && keys == binding.keys) return ParseCommand(binding.command);
  }
  return std::nullopt;
}

std::string KeysForCommand(Window window, const Command& command) {
  for (const KeyBinding& binding : kKeys) {
    if ((binding.windows & window) != 0 && ParseCommand(binding.command) == command) return binding.keys;
  }
  return {};
}

}  // namespace spherolux::player
