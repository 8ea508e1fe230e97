#include "testsupport/testsupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace spherolux::testsupport {

TempDir::TempDir(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
  if (::mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  return Write(name, std::string(bytes.begin(), bytes.end()));
}

std::string TempDir::Write(const std::string& name, const std::string& text) const {
  const std::string path = Path(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) ADD_FAILURE() << "cannot write " << path;
  return path;
}

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return result;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return result;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) ::dup2(null, 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  if (pid < 0) {
    ::close(out[0]);
    ::close(err[0]);
    return result;
  }
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  for (int open = 2; open > 0;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[65536];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& p : fds)
    if (p.fd >= 0) ::close(p.fd);
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != pid) return result;
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

namespace {

// The path of an installed program (PATH, then the administrators' folders), or "".
std::string FindProgram(const std::string& name) {
  const char* env = std::getenv("PATH");
  const std::string dirs = std::string(env ? env : "") + ":/usr/sbin:/sbin:/usr/bin:/bin";
  for (size_t start = 0; start <= dirs.size();) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

// Waits up to `seconds` for the child `pid` to end; true when it did.
bool WaitForExit(int pid, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  do {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

constexpr long kFuseMagic = 0x65735546;  // statfs f_type of every FUSE mount

}  // namespace

FatMount::FatMount() {
  const std::string fusefat = FindProgram("fusefat"), mkfs = FindProgram("mkfs.vfat");
  fusermount_ = FindProgram("fusermount");
  if (fusermount_.empty()) fusermount_ = FindProgram("fusermount3");
  if (::access("/dev/fuse", R_OK | W_OK) != 0) missing_ = "no usable /dev/fuse";
  if (fusefat.empty() || mkfs.empty() || fusermount_.empty())
    missing_ = "fusefat, mkfs.vfat or fusermount is not installed (packages fusefat, dosfstools)";
  if (!missing_.empty()) return;
  const std::string image = dir_.Path("card.img"), mount_point = dir_.Path("card");
  std::filesystem::create_directory(mount_point);
  const int image_fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const bool sized = image_fd >= 0 && ::ftruncate(image_fd, 32 << 20) == 0;
  if (image_fd >= 0) ::close(image_fd);
  if (!sized || RunCommand(ShellQuote(mkfs) + " " + ShellQuote(image)).exit_code != 0) {
    ADD_FAILURE() << "cannot make a FAT image";
    return;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3 && null >= 0; ++fd) ::dup2(null, fd);
    ::execl(fusefat.c_str(), "fusefat", "-f", "-o", "rw+", image.c_str(), mount_point.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid < 0) {
    ADD_FAILURE() << "cannot start fusefat";
    return;
  }
  pid_ = pid;
  for (int i = 0; i < 500; ++i) {
    struct statfs fs;
    if (::statfs(mount_point.c_str(), &fs) == 0 && fs.f_type == kFuseMagic) {
      path_ = mount_point;
      return;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "fusefat did not mount " << image;
}

FatMount::~FatMount() {
  if (!path_.empty()) RunCommand(ShellQuote(fusermount_) + " -u " + ShellQuote(path_));
  if (pid_ > 0 && !WaitForExit(pid_, 5)) {
    ::kill(pid_, SIGTERM);
    if (!WaitForExit(pid_, 5)) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
}

std::string BuiltProgram(const std::string& name) { return std::string(SPHEROLUX_BINARY_DIR) + "/bin/" + name; }

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

}  // namespace spherolux::testsupport
