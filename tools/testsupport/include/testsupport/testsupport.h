// Support shared by the test programs: a temporary folder that is removed with everything in
// it, and running a command or one of the built programs as a user would.
//
// For tests only. Single-threaded use; nothing throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace spherolux::testsupport {

// A fresh folder under $TMPDIR (or /tmp) named PREFIX-XXXXXX, removed with its contents when
// the object goes away, whether the test passed or failed. A member of a fixture lives for
// one test; a static one for the whole test program.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "spherolux-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Empty when the folder could not be made (the test then fails on its first write).
  const std::string& path() const { return path_; }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  // Writes a file of that name (a test failure when it cannot) and returns its path.
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
  std::string Write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

struct CommandResult {
  int exit_code = -1;  // -1 when the command could not start or was ended by a signal
  int signal = 0;      // the signal that ended it, else 0
  std::string out;     // what it wrote to stdout
  std::string err;     // and to stderr
};

// Runs `command` with /bin/sh -c, stdin from /dev/null, and waits for it.
CommandResult RunCommand(const std::string& command);
// What `command` prints on stdout (its stderr is dropped).
inline std::string Shell(const std::string& command) { return RunCommand(command).out; }

// The path of a program the build put into bin/ (spherolux-cli, spherolux-camgen, ...).
std::string BuiltProgram(const std::string& name);

// `text` in single quotes for /bin/sh.
std::string ShellQuote(const std::string& text);

// A FAT file system in an image file, mounted through FUSE (fusefat) on a folder of its own,
// as a camera's memory card is: names match regardless of case. A child process serves the
// mount in the foreground; the destructor unmounts it (fusermount -u) and ends that process
// by its id. A mount that fails when everything it needs is there is a test failure.
class FatMount {
 public:
  FatMount();
  ~FatMount();
  FatMount(const FatMount&) = delete;
  FatMount& operator=(const FatMount&) = delete;

  // The mounted folder; empty when there is no mount.
  const std::string& path() const { return path_; }
  // Why no mount could be tried (no /dev/fuse, or fusefat, mkfs.vfat or fusermount missing);
  // empty when it was.
  const std::string& missing() const { return missing_; }

 private:
  TempDir dir_{"fat-mount"};
  std::string path_, missing_, fusermount_;
  int pid_ = -1;
};

}  // namespace spherolux::testsupport
