// The input table against the README's key table, and the menu's commands.
#include "player/input_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace spherolux::player {
namespace {

// The `quoted` words of a table cell, with "`a`–`b`" ranges spelt out ("`0`–`2`" gives 0, 1,
// 2; "`view-mode 0`–`view-mode 2`" likewise by the last number).
std::vector<std::string> Quoted(const std::string& cell) {
  std::vector<std::string> words;
  const std::string dash = "\u2013";
  for (size_t at = cell.find('`'); at != std::string::npos;) {
    const size_t end = cell.find('`', at + 1);
    if (end == std::string::npos) break;
    std::string word = cell.substr(at + 1, end - at - 1);
    const size_t next = cell.find('`', end + 1);
    if (!words.empty() && cell.compare(at - dash.size(), dash.size(), dash) == 0) {
      const std::string first = words.back();
      const size_t digit = first.find_last_not_of("0123456789") + 1;
      const int from = std::stoi(first.substr(digit)), to = std::stoi(word.substr(digit));
      for (int n = from + 1; n <= to; ++n) words.push_back(first.substr(0, digit) + std::to_string(n));
    } else {
      words.push_back(word);
    }
    at = next;
  }
  return words;
}

// The README's key table as (key, command) pairs.
std::set<std::pair<std::string, std::string>> ReadmeKeys() {
  std::ifstream in(SPHEROLUX_SOURCE_DIR "/README.md");
  std::set<std::pair<std::string, std::string>> keys;
  bool in_table = false;
  for (std::string line; std::getline(in, line);) {
    if (line == "| key | command | action |") {
      in_table = true;
      continue;
    }
    if (!in_table || line.rfind("|---", 0) == 0) continue;
    if (line.empty() || line[0] != '|') break;
    std::vector<std::string> cells;
    std::stringstream row(line.substr(1));
    for (std::string cell; std::getline(row, cell, '|');) cells.push_back(cell);
    const std::vector<std::string> bound = Quoted(cells.at(0)), commands = Quoted(cells.at(1));
    EXPECT_TRUE(commands.size() == 1 || commands.size() == bound.size()) << line;
    for (size_t i = 0; i < bound.size(); ++i) keys.emplace(bound[i], commands[commands.size() == 1 ? 0 : i]);
  }
  return keys;
}

TEST(InputTable, TheReadmesKeyTableIsTheMainWindowsKeys) {
  const auto readme = ReadmeKeys();
  ASSERT_GE(readme.size(), 20u) << "the README's key table was not found";
  std::set<std::pair<std::string, std::string>> table;
  for (const KeyBinding& binding : KeyBindings()) {
    if ((binding.windows & kMainWindow) != 0) table.emplace(binding.keys, binding.command);
  }
  for (const auto& [key, command] : table) {
    EXPECT_TRUE(readme.count({key, command})) << "the README lacks `" << key << "` → " << command;
  }
  for (const auto& [key, command] : readme) {
    EXPECT_TRUE(table.count({key, command})) << "the input table lacks `" << key << "` → " << command;
  }
}

TEST(InputTable, EveryBindingAndMenuEntryNamesACommand) {
  std::map<std::pair<unsigned, std::string>, int> bound;
  for (const KeyBinding& binding : KeyBindings()) {
    EXPECT_TRUE(ParseCommand(binding.command)) << binding.command;
    for (unsigned window : {kMainWindow, kPlayWindow, kTrimPreview}) {
      if ((binding.windows & window) != 0) {
        const int times = ++bound[std::make_pair(window, std::string(binding.keys))];
        EXPECT_EQ(times, 1) << binding.keys << " bound twice";
      }
    }
  }
  for (const MenuEntry& entry : ContextMenu()) {
    if (entry.command != nullptr) {
      EXPECT_TRUE(ParseCommand(entry.command)) << entry.command;
    }
  }
  EXPECT_EQ(CommandForKey(kMainWindow, "3"), (Command{CommandId::kViewMode, 3}));
  EXPECT_EQ(CommandForKey(kPlayWindow, "Esc"), (Command{CommandId::kQuit}));
  EXPECT_FALSE(CommandForKey(kTrimPreview, "Space"));
  EXPECT_EQ(KeysForCommand(kMainWindow, {CommandId::kConverter}), "Ctrl+E");
  EXPECT_EQ(KeysForCommand(kMainWindow, {CommandId::kEngineSnapshot}), "Ctrl+Shift+S");
}

}  // namespace
}  // namespace spherolux::player
