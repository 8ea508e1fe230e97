#include "base/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <iterator>

namespace spherolux {
namespace {

// Folder ("." when none) and file name of a path.
void SplitPath(const std::string& path, std::string* dir, std::string* name) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    *dir = ".";
    *name = path;
  } else {
    *dir = slash == 0 ? "/" : path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
}

// Six letters or digits, different on every call.
std::string RandomSuffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  uint8_t bytes[6];
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    // No entropy yet: a counter mixed with the process id and the clock is unique enough,
    // since O_EXCL settles any clash.
    static std::atomic<uint64_t> counter{0};
    uint64_t v = counter.fetch_add(1) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(::getpid()) << 32 ^
                 static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (uint8_t& b : bytes) {
      b = static_cast<uint8_t>(v);
      v = v >> 8 | v << 56;
    }
  }
  std::string s;
  for (uint8_t b : bytes) s += kChars[b % (sizeof kChars - 1)];
  return s;
}

// ".NAME.XXXXXX" in `dir`, NAME cut at a UTF-8 character boundary so that the whole name
// stays within NAME_MAX bytes.
std::string HiddenName(const std::string& dir, const std::string& name) {
  constexpr size_t kRoom = NAME_MAX - 8;  // the dot before, the dot and six characters after
  size_t keep = name.size();
  if (keep > kRoom) {
    keep = kRoom;
    while (keep > 0 && (static_cast<uint8_t>(name[keep]) & 0xC0) == 0x80) --keep;
  }
  return dir + "/." + name.substr(0, keep) + "." + RandomSuffix();
}

// Calls make(candidate) with fresh hidden names until one is not taken. False with errno
// set when a call fails for another reason.
template <typename Make>
bool WithFreshHiddenName(const std::string& target, std::string* made, const Make& make) {
  std::string dir, name;
  SplitPath(target, &dir, &name);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = HiddenName(dir, name);
    if (make(candidate)) {
      *made = std::move(candidate);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool SameFile(int fd, const std::string& path) {
  struct stat mine, there;
  return ::fstat(fd, &mine) == 0 && ::lstat(path.c_str(), &there) == 0 && mine.st_dev == there.st_dev &&
         mine.st_ino == there.st_ino;
}

// The files a signal handler removes: named temporaries and claims of live OutputFiles.
// A slot is claimed with a compare-and-swap and filled before it is marked live, so that the
// handler reads only whole entries.
struct SignalSlot {
  std::atomic<int> state{0};  // 0 free, 1 being filled, 2 live
  dev_t dev = 0;
  ino_t ino = 0;
  char path[PATH_MAX] = {};
};
SignalSlot g_signal_slots[32];

int RegisterForSignal(const std::string& path, int fd) {
  struct stat st;
  if (path.size() >= PATH_MAX || ::fstat(fd, &st) != 0) return -1;
  for (int i = 0; i < static_cast<int>(std::size(g_signal_slots)); ++i) {
    SignalSlot& slot = g_signal_slots[i];
    int expected = 0;
    if (!slot.state.compare_exchange_strong(expected, 1)) continue;
    slot.dev = st.st_dev;
    slot.ino = st.st_ino;
    path.copy(slot.path, path.size());
    slot.path[path.size()] = '\0';
    slot.state.store(2);
    return i;
  }
  return -1;  // more live files than slots: that one is left to the destructor
}

void Unregister(int* slot) {
  if (*slot >= 0) g_signal_slots[*slot].state.store(0);
  *slot = -1;
}

}  // namespace

void DiscardOutputFilesOnSignal() {
  for (SignalSlot& slot : g_signal_slots) {
    if (slot.state.load() != 2) continue;
    struct stat st;
    if (::lstat(slot.path, &st) == 0 && st.st_dev == slot.dev && st.st_ino == slot.ino) ::unlink(slot.path);
  }
}

OutputStatus OutputFile::Fail(OutputStatus status, int error) {
  error_ = error;
  return status;
}

OutputStatus OutputFile::Create(const std::string& target, const OutputOptions& options) {
  Discard();
  error_ = 0;
  inputs_.clear();
  target_ = target;
  overwrite_ = options.overwrite;
  std::string dir, name;
  SplitPath(target, &dir, &name);
  if (name.empty() || name == "." || name == "..") return Fail(OutputStatus::kCannotCreate, EISDIR);
  if (name.size() > NAME_MAX) return Fail(OutputStatus::kCannotCreate, ENAMETOOLONG);
  if (IsSameFileAsAny(target, options.inputs)) return Fail(OutputStatus::kIsInput, 0);
  struct stat st;
  for (const std::string& input : options.inputs)
    if (::stat(input.c_str(), &st) == 0) inputs_.push_back({input, st.st_dev, st.st_ino, st.st_size, st.st_mtim});
  if (!overwrite_ && ::lstat(target.c_str(), &st) == 0) return Fail(OutputStatus::kExists, EEXIST);
  if (options.claim && !overwrite_ && !Claim(dir, options.named_temporary))
    return Fail(errno == EEXIST ? OutputStatus::kExists : OutputStatus::kCannotCreate, errno);
  if (!options.named_temporary) {
    const int fd = ::open(dir.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0666);
    if (fd >= 0) {
      // Writers that take a path, and Publish, reach the file through /proc.
      std::string proc = "/proc/self/fd/" + std::to_string(fd);
      if (::access(proc.c_str(), F_OK) == 0) {
        fd_ = fd;
        path_ = std::move(proc);
        named_ = false;
        return OutputStatus::kOk;
      }
      ::close(fd);
    }
  }
  const bool made = WithFreshHiddenName(target, &path_, [this](const std::string& candidate) {
    fd_ = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd_ >= 0;
  });
  if (!made) {
    const int error = errno;
    DropClaim();
    return Fail(OutputStatus::kCannotCreate, error);
  }
  named_ = true;
  temp_slot_ = RegisterForSignal(path_, fd_);
  return OutputStatus::kOk;
}

OutputStatus OutputFile::LinkUnnamed() {
  if (!overwrite_) {
    // linkat never replaces an existing name.
    if (::linkat(AT_FDCWD, path_.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0) return OutputStatus::kOk;
    return Fail(errno == EEXIST ? OutputStatus::kExists : OutputStatus::kCannotCreate, errno);
  }
  // Replacing: link under a hidden name, then rename that over the target in one step.
  std::string hidden;
  const bool linked = WithFreshHiddenName(target_, &hidden, [this](const std::string& candidate) {
    return ::linkat(AT_FDCWD, path_.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0;
  });
  if (!linked) return Fail(OutputStatus::kCannotCreate, errno);
  if (::rename(hidden.c_str(), target_.c_str()) == 0) return OutputStatus::kOk;
  const int error = errno;
  ::unlink(hidden.c_str());
  return Fail(OutputStatus::kCannotCreate, error);
}

OutputStatus OutputFile::RenameNamed() {
  if (overwrite_) {
    if (::rename(path_.c_str(), target_.c_str()) == 0) return OutputStatus::kOk;
    return Fail(OutputStatus::kCannotCreate, errno);
  }
  if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) == 0) return OutputStatus::kOk;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
    return Fail(errno == EEXIST ? OutputStatus::kExists : OutputStatus::kCannotCreate, errno);
  // The file system cannot rename without replacing; a hard link refuses an existing name.
  if (::link(path_.c_str(), target_.c_str()) == 0) {
    ::unlink(path_.c_str());
    return OutputStatus::kOk;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS && errno != EMLINK)
    return Fail(errno == EEXIST ? OutputStatus::kExists : OutputStatus::kCannotCreate, errno);
  // Nor has it links (FAT and exFAT through FUSE): look, then rename. Only a file that takes
  // the name in between is replaced.
  struct stat st;
  if (::lstat(target_.c_str(), &st) == 0) return Fail(OutputStatus::kExists, EEXIST);
  if (errno != ENOENT) return Fail(OutputStatus::kCannotCreate, errno);
  if (::rename(path_.c_str(), target_.c_str()) == 0) return OutputStatus::kOk;
  return Fail(OutputStatus::kCannotCreate, errno);
}

// Puts the finished file in the place of this object's claim: the two names are swapped in
// one step, and the file that comes out must be the claim (else it is swapped back: the
// name was taken over by someone else's file, which stays).
OutputStatus OutputFile::SwapForClaim() {
  std::string finished = path_;
  if (!named_) {
    const bool linked = WithFreshHiddenName(target_, &finished, [this](const std::string& candidate) {
      return ::linkat(AT_FDCWD, path_.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
    if (!linked) return Fail(OutputStatus::kCannotCreate, errno);
  }
  // Whatever ends up under `finished` that is not the published file goes.
  auto result = [&](OutputStatus status, int error) {
    if (!named_ || status == OutputStatus::kOk) ::unlink(finished.c_str());
    return status == OutputStatus::kOk ? status : Fail(status, error);
  };
  if (::renameat2(AT_FDCWD, finished.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) == 0) {
    if (SameFile(claim_fd_, finished)) return result(OutputStatus::kOk, 0);
    ::renameat2(AT_FDCWD, finished.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE);
    return result(OutputStatus::kExists, EEXIST);
  }
  if (errno == ENOENT) {
    // The claim is gone: the name is free unless someone else has just taken it.
    if (::renameat2(AT_FDCWD, finished.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) == 0)
      return OutputStatus::kOk;
    return result(errno == EEXIST ? OutputStatus::kExists : OutputStatus::kCannotCreate, errno);
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return result(OutputStatus::kCannotCreate, errno);
  // The file system cannot swap names: replace the claim if it is still there.
  if (!SameFile(claim_fd_, target_)) return result(OutputStatus::kExists, EEXIST);
  if (::rename(finished.c_str(), target_.c_str()) != 0) return result(OutputStatus::kCannotCreate, errno);
  return OutputStatus::kOk;
}

// The claim is made without a name and registered for the signal handler before it is
// linked under the target name, so that a signal at any moment finds it either not yet
// there or registered. (With a named fallback the window between creating and registering
// remains.) False with errno set.
bool OutputFile::Claim(const std::string& dir, bool named) {
  const int fd = named ? -1 : ::open(dir.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0666);
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  if (fd >= 0 && ::access(proc.c_str(), F_OK) == 0) {
    claim_fd_ = fd;
    claim_slot_ = RegisterForSignal(target_, fd);
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  } else {
    if (fd >= 0) ::close(fd);
    claim_fd_ = ::open(target_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (claim_fd_ >= 0) {
      claim_slot_ = RegisterForSignal(target_, claim_fd_);
      return true;
    }
  }
  const int error = errno;
  DropClaim();
  errno = error;
  return false;
}

void OutputFile::DropClaim() {
  // Unlinked before the handler forgets it: a signal in between finds nothing to remove.
  if (claim_fd_ >= 0 && SameFile(claim_fd_, target_)) ::unlink(target_.c_str());
  Unregister(&claim_slot_);
  if (claim_fd_ >= 0) ::close(claim_fd_);
  claim_fd_ = -1;
}

// Whether the inputs are still the files Create saw, unchanged, and none of them is the target.
OutputStatus OutputFile::CheckInputs() {
  std::vector<std::string> paths;
  for (const InputState& input : inputs_) {
    struct stat st;
    if (::stat(input.path.c_str(), &st) != 0 || st.st_dev != input.dev || st.st_ino != input.ino ||
        st.st_size != input.size || st.st_mtim.tv_sec != input.mtime.tv_sec ||
        st.st_mtim.tv_nsec != input.mtime.tv_nsec)
      return Fail(OutputStatus::kInputChanged, 0);
    paths.push_back(input.path);
  }
  return IsSameFileAsAny(target_, paths) ? Fail(OutputStatus::kIsInput, 0) : OutputStatus::kOk;
}

OutputStatus OutputFile::Publish() {
  if (fd_ < 0) return Fail(OutputStatus::kCannotCreate, EBADF);
  // The data reaches the disk before the name does: after a crash the target holds either
  // what was there before or the complete new file. EINVAL: the file system cannot sync.
  if (::fsync(fd_) != 0 && errno != EINVAL) {
    const int error = errno;
    Discard();
    return Fail(OutputStatus::kWriteFailed, error);
  }
  OutputStatus status = CheckInputs();
  if (status == OutputStatus::kOk) status = claim_fd_ >= 0 ? SwapForClaim() : named_ ? RenameNamed() : LinkUnnamed();
  if (status != OutputStatus::kOk) {
    Discard();
    return status;
  }
  Unregister(&temp_slot_);
  Unregister(&claim_slot_);
  if (claim_fd_ >= 0) ::close(claim_fd_);
  claim_fd_ = -1;
  ::close(fd_);
  fd_ = -1;
  path_.clear();
  named_ = false;
  return OutputStatus::kOk;
}

void OutputFile::Discard() {
  DropClaim();
  // Only the file this object made: the name may have been taken over since.
  if (fd_ >= 0 && named_ && SameFile(fd_, path_)) ::unlink(path_.c_str());
  Unregister(&temp_slot_);
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  path_.clear();
  named_ = false;
}

}  // namespace spherolux
