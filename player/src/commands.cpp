#include "player/commands.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "ui/bar_logic.h"

namespace spherolux::player {

namespace {

// When a command applies.
enum class Rule : uint8_t {
  kAlways,
  kPlay,          // a file is current and no photo is shown
  kVideoShown,    // a video is open
  kShown,         // a photo or a video is shown
  kViewMode,      // the mode suits the shown file; any mode while nothing is shown
  kScreenRecord,  // a video is open and a recorder is plugged in
  kConverter,     // a converter is plugged in
};

struct Spec {
  CommandId id;
  const char* name;
  ArgKind args;
  Rule rule;
};

// One row per command, in the order of CommandId.
constexpr Spec kSpecs[] = {
    {CommandId::kOpen, "open-file", ArgKind::kNone, Rule::kAlways},
    {CommandId::kPlayPause, "play-pause", ArgKind::kNone, Rule::kPlay},
    {CommandId::kStop, "stop", ArgKind::kNone, Rule::kVideoShown},
    {CommandId::kSeek, "seek", ArgKind::kNumber, Rule::kVideoShown},
    {CommandId::kSeekBy, "seek-by", ArgKind::kNumber, Rule::kVideoShown},
    {CommandId::kFrameStep, "frame-step", ArgKind::kNone, Rule::kVideoShown},
    {CommandId::kViewMode, "view-mode", ArgKind::kInt, Rule::kViewMode},
    {CommandId::kTurn, "turn", ArgKind::kPair, Rule::kAlways},
    {CommandId::kZoom, "zoom", ArgKind::kInt, Rule::kAlways},
    {CommandId::kResetView, "reset-view", ArgKind::kNone, Rule::kAlways},
    {CommandId::kFlip, "flip", ArgKind::kNone, Rule::kAlways},
    {CommandId::kRotate, "rotate", ArgKind::kInt, Rule::kShown},
    {CommandId::kScreenshot, "screenshot", ArgKind::kNone, Rule::kShown},
    {CommandId::kEngineSnapshot, "engine-snapshot", ArgKind::kNone, Rule::kVideoShown},
    {CommandId::kStreamRecord, "stream-record", ArgKind::kNone, Rule::kVideoShown},
    {CommandId::kScreenRecord, "screen-record", ArgKind::kNone, Rule::kScreenRecord},
    {CommandId::kMute, "mute", ArgKind::kInt, Rule::kAlways},
    {CommandId::kToggleMute, "toggle-mute", ArgKind::kNone, Rule::kAlways},
    {CommandId::kVolume, "volume", ArgKind::kInt, Rule::kAlways},
    {CommandId::kFullScreen, "full-screen", ArgKind::kNone, Rule::kAlways},
    {CommandId::kLeaveFullScreen, "leave-full-screen", ArgKind::kNone, Rule::kAlways},
    {CommandId::kConverter, "converter", ArgKind::kNone, Rule::kConverter},
    {CommandId::kLanguage, "language", ArgKind::kNone, Rule::kAlways},
    {CommandId::kQuit, "quit", ArgKind::kNone, Rule::kAlways},
    {CommandId::kAddKeyframe, "add-keyframe", ArgKind::kNone, Rule::kVideoShown},
    {CommandId::kReframe, "reframe", ArgKind::kNone, Rule::kVideoShown},
};

constexpr bool InOrder() {
  for (size_t i = 0; i < std::size(kSpecs); ++i) {
    if (static_cast<size_t>(kSpecs[i].id) != i) return false;
  }
  return true;
}
static_assert(InOrder(), "kSpecs follows CommandId");

constexpr auto kAll = [] {
  std::array<CommandId, std::size(kSpecs)> all{};
  for (size_t i = 0; i < all.size(); ++i) all[i] = kSpecs[i].id;
  return all;
}();

const Spec& SpecOf(CommandId id) { return kSpecs[static_cast<size_t>(id)]; }

// The next space-separated word of `text`, taken off it.
std::string_view NextWord(std::string_view& text) {
  const size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    text = {};
    return {};
  }
  text.remove_prefix(start);
  const size_t end = std::min(text.find(' '), text.size());
  const std::string_view word = text.substr(0, end);
  text.remove_prefix(end);
  return word;
}

std::optional<float> Number(std::string_view word, bool integer) {
  if (word.empty()) return std::nullopt;
  if (word.front() == '+') word.remove_prefix(1);
  float value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size() || !std::isfinite(value)) return std::nullopt;
  if (integer && value != std::trunc(value)) return std::nullopt;
  return value;
}

}  // namespace

const char* NameOf(CommandId id) { return SpecOf(id).name; }
ArgKind ArgsOf(CommandId id) { return SpecOf(id).args; }
std::span<const CommandId> AllCommands() { return kAll; }

std::optional<Command> ParseCommand(std::string_view text) {
  const std::string_view name = NextWord(text);
  for (const Spec& spec : kSpecs) {
    if (name != spec.name) continue;
    Command command{spec.id};
    const int wanted = spec.args == ArgKind::kNone ? 0 : spec.args == ArgKind::kPair ? 2 : 1;
    for (int i = 0; i < wanted; ++i) {
      const std::optional<float> value = Number(NextWord(text), spec.args == ArgKind::kInt);
      if (!value) return std::nullopt;
      (i == 0 ? command.x : command.y) = *value;
    }
    if (!NextWord(text).empty()) return std::nullopt;
    return command;
  }
  return std::nullopt;
}

std::string FormatCommand(const Command& command) {
  std::string text = NameOf(command.id);
  char number[32];
  switch (ArgsOf(command.id)) {
    case ArgKind::kNone:
      break;
    case ArgKind::kInt:
      text += " " + std::to_string(command.value());
      break;
    case ArgKind::kNumber:
      std::snprintf(number, sizeof number, " %g", static_cast<double>(command.x));
      text += number;
      break;
    case ArgKind::kPair:
      std::snprintf(number, sizeof number, " %g %g", static_cast<double>(command.x), static_cast<double>(command.y));
      text += number;
      break;
  }
  return text;
}

unsigned ViewModesFor(int camera_type, int width, int height, bool is_photo) {
  const unsigned panel = ui::PanelButtonsFor(camera_type, width, height, is_photo);
  constexpr std::pair<unsigned, int> kModes[] = {{ui::kPanelSphere, 0},   {ui::kPanelTile, 1},   {ui::kPanelPlanet, 2},
                                                 {ui::kPanelHalfBall, 3}, {ui::kPanelInDome, 4}, {ui::kPanelLayer, 5}};
  unsigned modes = 0;
  for (const auto& [button, mode] : kModes) {
    if ((panel & button) != 0) modes |= 1u << mode;
  }
  if (modes != 0) modes |= 1u << 6;  // the flat view of the file as it is
  return modes;
}

bool Applies(const Command& command, const Situation& s) {
  switch (SpecOf(command.id).rule) {
    case Rule::kAlways:
      return true;
    case Rule::kPlay:
      return s.file_current && s.shown != Shown::kPhoto;
    case Rule::kVideoShown:
      return s.shown == Shown::kVideo;
    case Rule::kShown:
      return s.shown != Shown::kNothing;
    case Rule::kViewMode:
      if (command.value() < 0 || command.value() > 6) return false;
      return s.shown == Shown::kNothing || (s.view_modes & (1u << command.value())) != 0;
    case Rule::kScreenRecord:
      return s.shown == Shown::kVideo && s.screen_recorder;
    case Rule::kConverter:
      return s.converter;
  }
  return false;
}

}  // namespace spherolux::player
