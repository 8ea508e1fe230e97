#include "ui/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/log.h"

namespace spherolux::ui {

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The whole of a regular file of at most `max_bytes`, or nothing. A missing file is no news;
// anything else that is not such a file (a pipe, a device, a folder, a larger file) is
// ignored with a warning. The file is opened without waiting and only its first bytes are
// read, so that neither a pipe nor an endless device can hold the start-up.
std::optional<std::vector<uint8_t>> ReadSmallFile(const std::string& file, size_t max_bytes) {
  const int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) Logf("warning: %s is ignored: %s", file.c_str(), std::strerror(errno));
    return std::nullopt;
  }
  struct stat st;
  const char* refusal = nullptr;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    refusal = "not a regular file";
  } else if (static_cast<uint64_t>(st.st_size) > max_bytes) {
    refusal = "larger than it can be";
  }
  std::vector<uint8_t> bytes(max_bytes + 1);
  size_t got = 0;
  while (refusal == nullptr && got < bytes.size()) {
    const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) refusal = std::strerror(errno);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  // A file that grew after the size was asked is no better.
  if (refusal == nullptr && got > max_bytes) refusal = "larger than it can be";
  if (refusal != nullptr) {
    Logf("warning: %s is ignored: %s", file.c_str(), refusal);
    return std::nullopt;
  }
  bytes.resize(got);
  return bytes;
}

// Writes `bytes` to a temporary file in the target's folder and renames it over the target.
bool ReplaceFile(const std::string& file, const void* bytes, size_t size) {
  std::error_code ec;
  const fs::path target(file);
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
  std::string temp = file + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  // mkstemp creates the file for its owner only; a settings file gets the usual permissions.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  const auto* p = static_cast<const uint8_t*>(bytes);
  size_t left = size;
  bool ok = true;
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  ok = close(fd) == 0 && ok;
  if (ok) ok = std::rename(temp.c_str(), file.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

}  // namespace

Environment Environment::FromProcess() {
  Environment env;
  env.config_home = Env("XDG_CONFIG_HOME");
  env.home = Env("HOME");
  env.lc_all = Env("LC_ALL");
  env.lc_messages = Env("LC_MESSAGES");
  env.lang = Env("LANG");
  return env;
}

std::string ConfigDir(const Environment& env) {
  // The XDG base directory rules ignore a relative XDG_CONFIG_HOME.
  if (!env.config_home.empty() && env.config_home[0] == '/') return JoinPath(env.config_home, "spherolux");
  return JoinPath(JoinPath(env.home, ".config"), "spherolux");
}

std::string SettingsFilePath(const Environment& env) { return JoinPath(ConfigDir(env), "spheroluxplayer.ini"); }
std::string LanguageFilePath(const Environment& env) { return JoinPath(ConfigDir(env), "Language.ini"); }

std::string DefaultOutputDir(const Environment& env) {
  return JoinPath(JoinPath(env.home, "Videos"), "SPHEROLUX Video Converter") + "/";
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  size_t i = 0;
  const size_t n = text.size();
  auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  while (i < n) {
    const uint8_t b = byte(i);
    char32_t cp = 0xFFFD;
    size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else if (b >= 0xC2 && b < 0xE0) {
      len = 2;
    } else if (b >= 0xE0 && b < 0xF0) {
      len = 3;
    } else if (b >= 0xF0 && b < 0xF5) {
      len = 4;
    }
    if (len > 1) {
      bool valid = i + len <= n;
      for (size_t k = 1; valid && k < len; ++k) valid = (byte(i + k) & 0xC0) == 0x80;
      if (valid) {
        cp = b & (0x7F >> len);
        for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (byte(i + k) & 0x3F);
        // Overlong forms, surrogates and values past U+10FFFF are not characters.
        const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
        if (overlong || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) cp = 0xFFFD;
      } else {
        cp = 0xFFFD;
        len = 1;
      }
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;  // a lone surrogate
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::optional<std::string> ReadSettingsFile(const std::string& file) {
  const auto bytes = ReadSmallFile(file, kMaxSettingsFileBytes);
  if (!bytes) return std::nullopt;
  // The whole file is the path; a trailing odd byte is not a code unit.
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes->size(); i += 2) {
    const char16_t unit = static_cast<char16_t>((*bytes)[i] | ((*bytes)[i + 1] << 8));
    if (unit == 0) break;
    units.push_back(unit);
  }
  return Utf16ToUtf8(units);
}

bool WriteSettingsFile(const std::string& file, const std::string& path) {
  const std::u16string units = Utf8ToUtf16(path);
  // What could not be read back is not written.
  if (units.size() * 2 > kMaxSettingsFileBytes) return false;
  std::vector<uint8_t> bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t unit : units) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return ReplaceFile(file, bytes.data(), bytes.size());
}

OutputDir LoadOutputDir(const Environment& env) {
  OutputDir result;
  std::error_code ec;
  if (auto stored = ReadSettingsFile(SettingsFilePath(env)); stored && !stored->empty()) {
    result.path = *stored;
    result.usable = fs::is_directory(result.path, ec);
    return result;
  }
  if (env.home.empty()) return result;
  result.path = DefaultOutputDir(env);
  fs::create_directories(result.path, ec);
  result.usable = fs::is_directory(result.path, ec);
  return result;
}

OutputDir LoadJobOutputDir(const Environment& env, std::string* missing) {
  OutputDir dir = LoadOutputDir(env);
  if (dir.usable || env.home.empty()) return dir;
  const std::string fallback = DefaultOutputDir(env);
  // A stored default folder that was deleted is simply made again.
  const auto bare = [](std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
  };
  if (missing != nullptr && bare(dir.path) != bare(fallback)) *missing = dir.path;
  std::error_code ec;
  fs::create_directories(fallback, ec);
  return {fallback, fs::is_directory(fallback, ec)};
}

bool SaveOutputDir(const Environment& env, const std::string& path) {
  if (path.empty()) return true;
  return WriteSettingsFile(SettingsFilePath(env), path);
}

std::optional<uint32_t> ReadLanguageFile(const std::string& file) {
  const auto bytes = ReadSmallFile(file, kLanguageFileBytes);
  if (!bytes || bytes->size() < 4) return std::nullopt;
  const auto& b = *bytes;
  return static_cast<uint32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24));
}

bool WriteLanguageFile(const std::string& file, uint32_t locale_id) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(locale_id), static_cast<uint8_t>(locale_id >> 8),
                            static_cast<uint8_t>(locale_id >> 16), static_cast<uint8_t>(locale_id >> 24)};
  return ReplaceFile(file, bytes, sizeof bytes);
}

Language LanguageOfLocaleId(uint32_t locale_id) {
  // The primary language is the low 10 bits: 9 English, 4 Chinese.
  switch (locale_id & 0x3FF) {
    case 0x09:
      return Language::kEnglish;
    case 0x04:
      return Language::kChinese;
    default:
      return Language::kOther;
  }
}

std::optional<Language> LanguageOfLocaleName(const std::string& name) {
  if (name.empty()) return std::nullopt;
  if (name.rfind("zh", 0) == 0) return Language::kChinese;
  if (name.rfind("en", 0) == 0 || name == "C" || name.rfind("C.", 0) == 0 || name == "POSIX") {
    return Language::kEnglish;
  }
  return Language::kOther;
}

Language StartupLanguage(const Environment& env) {
  if (auto id = ReadLanguageFile(LanguageFilePath(env))) {
    const Language stored = LanguageOfLocaleId(*id);
    if (stored != Language::kOther) return stored;
  }
  for (const std::string* name : {&env.lc_all, &env.lc_messages, &env.lang}) {
    if (auto language = LanguageOfLocaleName(*name)) return *language;
  }
  return Language::kEnglish;
}

}  // namespace spherolux::ui
