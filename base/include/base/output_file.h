// Writing a file so that nobody ever finds it half-written.
//
//   OutputFile out;
//   if (out.Create("/videos/clip.mp4") != OutputStatus::kOk) ... out.error() says why
//   write through out.fd(), or open out.path() again (a writer that takes a path)
//   if (out.Publish() != OutputStatus::kOk) ...   // the file appears under its name here
//
// The temporary lives in the target's folder, so publishing is one link or rename. Where
// the file system allows it the temporary has no name at all (O_TMPFILE) until Publish links
// it in: a process that is killed leaves nothing behind. Elsewhere it is a hidden file
// ".NAME.XXXXXX" beside the target (its name cut to fit NAME_MAX). Discard(), and the
// destructor of an unpublished file, remove only the temporary this object made.
//
// Publish never replaces a file that already has the target name, whether it was there
// before Create or appeared meanwhile, unless the options ask to overwrite. New files get
// the permissions of any new file (0666 less the umask).
//
// A name the program picks itself can be claimed at once (OutputOptions.claim): Create then
// makes an empty file under the target name, so that no other run can pick that name while
// this one works, and Publish swaps the finished file for that claim in one step. A claim
// that was not published is removed with the temporary, if it is still this object's. Only
// a process killed outright (SIGKILL) leaves it behind, empty.
//
// The files an output is made from (OutputOptions.inputs) are never replaced by it: Create
// refuses a target that is one of them (IsSameFileAsAny of base/same_file.h), and Publish
// checks again, and also that each input is still the file Create saw, of the same size and
// modification time. An input that changed meanwhile fails the output, which then never
// takes a name, so that neither a file made from half-changed data nor one that replaces
// its own input is published.
//
// A program that ends on a signal calls DiscardOutputFilesOnSignal() from its handler: it
// removes the named temporaries and claims of every live OutputFile of this program.
//
// One thread at a time uses an OutputFile; distinct objects are independent. Nothing
// throws; failures are an OutputStatus with the errno of the failing call in error().
#pragma once

#include <sys/types.h>
#include <time.h>

#include <string>
#include <vector>

#include "base/same_file.h"

namespace spherolux {

enum class OutputStatus {
  kOk,
  kExists,        // the target exists and overwriting was not asked for; nothing was replaced
  kCannotCreate,  // the folder takes no new file (missing, read-only, name too long, ...)
  kWriteFailed,   // the written data could not be flushed to the disk
  kIsInput,       // the target is one of the inputs; nothing was replaced
  kInputChanged,  // an input changed between Create and Publish; nothing was published
};

struct OutputOptions {
  bool overwrite = false;           // Publish replaces an existing target
  bool named_temporary = false;     // always use a named temporary (file systems known to lack O_TMPFILE)
  bool claim = false;               // take the target name at once with an empty file (not with overwrite)
  std::vector<std::string> inputs;  // the files the output is made from, which it must not replace
};

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { Discard(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Makes the empty temporary for `target` (and the claim, when asked for), and notes what
  // the inputs are now. kIsInput when the target is one of the inputs; kExists when the
  // target exists and overwriting is off (Publish checks again); kCannotCreate when no
  // temporary can be made there. A second Create discards the first temporary.
  OutputStatus Create(const std::string& target, const OutputOptions& options = {});

  // The temporary's descriptor (read and write), owned by this object; -1 before Create.
  int fd() const { return fd_; }
  // A path that opens the temporary (/proc/self/fd/N for an unnamed one) for writers that
  // take a path. Valid until Publish or Discard.
  const std::string& path() const { return path_; }
  const std::string& target() const { return target_; }

  // Flushes the data to the disk and gives the file its target name. On any failure the
  // temporary is removed: kExists (the target appeared, nothing replaced), kIsInput (the
  // target is now one of the inputs), kInputChanged, kWriteFailed, or kCannotCreate (the
  // name cannot be given).
  OutputStatus Publish();

  // Removes the temporary and the claim unless they were published; does nothing when there
  // is none.
  void Discard();

  // errno of the last failure (0 when none).
  int error() const { return error_; }

 private:
  OutputStatus Fail(OutputStatus status, int error);
  bool CreateNamed(const std::string& dir, const std::string& name);
  OutputStatus LinkUnnamed();
  OutputStatus RenameNamed();
  OutputStatus SwapForClaim();
  bool Claim(const std::string& dir, bool named);
  void DropClaim();
  OutputStatus CheckInputs();

  // An input as Create found it.
  struct InputState {
    std::string path;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime = {};
  };

  std::string target_;
  std::string path_;
  bool named_ = false;  // path_ is a hidden name in the folder (else /proc/self/fd/N)
  bool overwrite_ = false;
  int fd_ = -1;
  int claim_fd_ = -1;  // the empty file under the target name, while claimed
  int error_ = 0;
  int temp_slot_ = -1, claim_slot_ = -1;  // entries of the signal-time clean-up table
  std::vector<InputState> inputs_;
};

// Removes the named temporaries and claims of every OutputFile that has not published or
// discarded them. Async-signal-safe: for a handler of SIGINT or SIGTERM that ends the
// process. Removes only files that are still the ones those objects made.
void DiscardOutputFilesOnSignal();

}  // namespace spherolux
