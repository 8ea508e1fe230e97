#include "base/input_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace spherolux {

InputState InputStateOf(const std::string& path, int* error) {
  int ignored = 0;
  int& code = error != nullptr ? *error : ignored;
  code = 0;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    code = errno;
    return InputState::kUnreachable;
  }
  if (S_ISDIR(st.st_mode)) code = EISDIR;
  if (!S_ISREG(st.st_mode)) return InputState::kNotRegular;
  if (::access(path.c_str(), R_OK) != 0) {
    code = errno;
    return InputState::kNotReadable;
  }
  return InputState::kReadable;
}

std::string UnreadableReason(const std::string& path) {
  int error = 0;
  switch (InputStateOf(path, &error)) {
    case InputState::kReadable:
      return {};
    case InputState::kNotRegular:
      if (error == 0) return "not a regular file";
      break;
    case InputState::kUnreachable:
    case InputState::kNotReadable:
      break;
  }
  return std::strerror(error);
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
