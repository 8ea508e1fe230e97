// The program's persistent settings: the output directory (settings file) and the language
// choice (language file), both in $XDG_CONFIG_HOME/spherolux/ (~/.config/spherolux/ without it).
//
// Settings file "spheroluxplayer.ini": the output directory as raw UTF-16LE code units, no
// byte-order mark, no key, no terminator; a zero unit, if one appears, ends the text. Paths of
// any length the system takes (PATH_MAX bytes) are read back whole. Language file
// "Language.ini": one little-endian 32-bit locale id (1033 English, 2052 Chinese). Only regular
// files of at most the size their format can hold are read; any other file (a pipe, a device,
// a larger file) is ignored with a warning in the log, as if it were missing.
//
// Paths here are UTF-8. Files are replaced whole: a write goes to a temporary file beside the
// target that is renamed over it, so a failed write never leaves half a file. Every function
// reports failure by its result and never throws. Any thread; callers serialise writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "ui/strings.h"

namespace spherolux::ui {

// The environment the locations and the start-up language are taken from (getenv by default).
struct Environment {
  std::string config_home;  // XDG_CONFIG_HOME
  std::string home;         // HOME
  std::string lc_all, lc_messages, lang;
  static Environment FromProcess();
};

// $XDG_CONFIG_HOME/spherolux (or $HOME/.config/spherolux), without a trailing separator.
std::string ConfigDir(const Environment& env);
std::string SettingsFilePath(const Environment& env);
std::string LanguageFilePath(const Environment& env);
// $HOME/Videos/SPHEROLUX Video Converter/ (with the trailing separator).
std::string DefaultOutputDir(const Environment& env);

// UTF-8 <-> UTF-16 for the settings file. Invalid UTF-8 bytes become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);

// The largest settings and language files read: a path of PATH_MAX (4096) bytes in UTF-16
// code units, and the locale id.
constexpr size_t kMaxSettingsFileBytes = 2 * 4096;
constexpr size_t kLanguageFileBytes = 4;

// The text of a settings file, or nothing when it cannot be opened or read.
std::optional<std::string> ReadSettingsFile(const std::string& file);
// Writes `path` as the whole settings file, creating its folder. False on any failure, and
// for a path longer than kMaxSettingsFileBytes can hold.
bool WriteSettingsFile(const std::string& file, const std::string& path);

struct OutputDir {
  std::string path;     // empty only when nothing could be determined
  bool usable = false;  // the directory exists (or was just created)
};
// The stored output directory, else the default one, created when missing.
OutputDir LoadOutputDir(const Environment& env);
// The output directory the converter and the merger write to: the stored one when it still
// is a directory, else the default one, created when missing. `missing` (may be null) gets a
// stored directory that no longer exists, and stays untouched otherwise.
OutputDir LoadJobOutputDir(const Environment& env, std::string* missing);
// Stores a non-empty output directory; an empty one is not written. False when writing failed.
bool SaveOutputDir(const Environment& env, const std::string& path);

// `dir` + `name` with one separator between them.
std::string JoinPath(const std::string& dir, const std::string& name);

// The locale id in a language file, or nothing when it is missing or not 4 bytes long.
std::optional<uint32_t> ReadLanguageFile(const std::string& file);
bool WriteLanguageFile(const std::string& file, uint32_t locale_id);

// The language of a locale id (1033 English, 2052 Chinese, other ids kOther), and of a POSIX
// locale name ("zh_CN.UTF-8" Chinese, "en_US" English, "C"/"POSIX"/"" nothing).
Language LanguageOfLocaleId(uint32_t locale_id);
std::optional<Language> LanguageOfLocaleName(const std::string& name);
// The language at start-up: the language file's when it exists and names one, else the
// locale's (LC_ALL, LC_MESSAGES, LANG, the first one set), else English.
Language StartupLanguage(const Environment& env);

}  // namespace spherolux::ui
