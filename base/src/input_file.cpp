#include "base/input_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace spherolux {

std::string UnreadableReason(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (::access(path.c_str(), R_OK) != 0) return std::strerror(errno);
  return {};
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return path;
  std::string joined = path;
  if (path.front() != '/') {
    std::error_code ec;
    const std::filesystem::path cwd = std::filesystem::current_path(ec);
    if (ec) return {};
    joined = cwd.string() + "/" + path;
  }
  // MediaInfo takes any name with "://" in it for a URL; one separator is the same to the
  // system as several.
  std::string out;
  out.reserve(joined.size());
  for (const char c : joined) {
    if (c != '/' || out.empty() || out.back() != '/') out.push_back(c);
  }
  return out;
}

}  // namespace spherolux
