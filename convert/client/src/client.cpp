#include "convert/client.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "base/bytes.h"
#include "base/output_file.h"
#include "calib/stitch_state.h"
#include "convert/job.h"
#include "media/media_info.h"
#include "mp4/file.h"
#include "photo/stitch_photo.h"

namespace spherolux::convert {

namespace fs = std::filesystem;

bool LoadEngine(const std::string& dir, EngineApi* api, std::string* error) {
  const std::string path = (dir.empty() ? std::string(".") : dir) + "/" + kEngineFileName;
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    if (error) *error = std::string("cannot load ") + path + ": " + dlerror();
    return false;
  }
  EngineApi a;
  a.handle = h;
  bool ok = true;
  auto resolve = [&](auto& fn, const char* name) {
    void* sym = dlsym(h, name);
    if (!sym) {
      ok = false;
      if (error) *error = path + " lacks " + name;
    }
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(sym);
  };
  resolve(a.synth_trans, "synth_trans");
  resolve(a.stop_transcoding, "stop_transcoding");
  resolve(a.setposition_callback, "setposition_callback");
  resolve(a.rescale_csconvert, "rescale_csconvert");
  resolve(a.synth_image, "synth_image");
  if (!ok) {
    dlclose(h);
    return false;
  }
  *api = a;
  return true;
}

namespace {

// Why a file the qualification refused cannot be taken, when the cause is not its camera.
Cause RefusalCause(const std::string& path, MediaKind kind) {
  if (kind == MediaKind::kPhoto) {
    int width = 0, height = 0;
    return JpegFrameSize(path.c_str(), &width, &height) && !WithinPhotoLimits(width, height) ? Cause::kTooLarge
                                                                                             : Cause::kNone;
  }
  mp4::Mp4File file;
  const mp4::FileStatus status = mp4::ReadMp4File(path, &file);
  const bool cut = status == mp4::FileStatus::kTruncated ||
                   (status == mp4::FileStatus::kOk && file.Find(FourCC("mdat")) && !file.Find(FourCC("moov")));
  return cut ? Cause::kDamagedInput : Cause::kNone;
}

}  // namespace

InputCheck CheckConversionInput(const std::string& path) {
  InputCheck check;
  check.kind = MediaKindOfPath(path);
  if ((check.problem = CauseOfInputFile(path)) != Cause::kNone) return check;
  const media::MediaFacts facts = media::ReadMediaFacts(path, check.kind == MediaKind::kPhoto);
  check.width = facts.width;
  check.height = facts.height;
  check.length_ms = facts.duration_ms;
  const FrameSize frame{facts.width, facts.height};
  const FileProbe probe = ProbeFile(path.c_str(), check.kind, &frame, nullptr);
  check.verdict = QualifyForConversion(probe);
  check.copy = check.verdict == kQualified && probe.cls == StitchClass::kStitchedByCamera;
  if (check.verdict == kNotQualified) check.refusal = RefusalCause(path, check.kind);
  return check;
}

Cause CheckOutput(const std::string& output, const std::vector<std::string>& inputs, bool photo, bool overwrite) {
  std::string ext = fs::path(output).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext != (photo ? ".jpg" : ".mp4")) return Cause::kWrongExtension;
  if (fs::path(output).filename().string().size() > kMaxFileNameBytes) return Cause::kNameTooLong;
  if (IsSameFileAsAny(output, inputs)) return Cause::kOutputIsInput;
  struct stat out;
  if (::stat(output.c_str(), &out) != 0) return Cause::kNone;
  return overwrite ? Cause::kNone : Cause::kOutputExists;
}

std::string DefaultOutputPath(const std::string& input, const std::string& output_dir, bool photo) {
  std::string dir = output_dir.empty() ? fs::path(input).parent_path().string() : output_dir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  // A name the file system refuses to look up counts as free: creating it reports why.
  return ProposeOutputPath(dir, fs::path(input).filename().string(), photo, [](const std::string& p) {
    std::error_code ec;
    return fs::exists(p, ec);
  });
}

int RunOnFreeName(const std::string& named, const std::string& input, const std::string& output_dir, bool photo,
                  int taken, const std::function<int(const std::string& output)>& attempt, std::string* output) {
  if (!named.empty()) {
    *output = named;
    return attempt(named);
  }
  int result = taken;
  for (int tries = 0; tries < 100 && result == taken; ++tries) {
    *output = DefaultOutputPath(input, output_dir, photo);
    result = attempt(*output);
  }
  return result;
}

std::string DefaultMergeOutputPath(const std::string& output_dir) {
  std::string dir = output_dir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return MergeOutputPath(dir, local, [](const std::string& p) {
    std::error_code ec;
    return std::filesystem::exists(p, ec);
  });
}

MergeSelection SelectMergeInputs(const std::vector<std::string>& paths) {
  MergeSelection selection;
  for (const auto& in : paths) {
    if (SphericalVideoFlag(in.c_str()) != 1) {
      selection.refused.push_back(in);
      continue;
    }
    std::error_code ec;
    const fs::path abs = fs::absolute(in, ec);
    selection.accepted.push_back(ec ? in : abs.lexically_normal().string());
  }
  return selection;
}

namespace {

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// An unnamed file in `dir`. Where the file system has no O_TMPFILE, a private name is made
// and removed at once.
int OpenUnnamedFile(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) return fd;
  std::string name = dir + "/spherolux-merge-XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

bool WriteAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

MergeList::~MergeList() { Close(); }

void MergeList::Close() {
  for (int fd : fds_) ::close(fd);
  fds_.clear();
  path_.clear();
}

bool MergeList::Write(const std::vector<std::string>& paths, std::string* error) {
  Close();
  auto fail = [&](const std::string& why) {
    if (error) *error = why + ": " + std::strerror(errno);
    Close();
    return false;
  };
  std::error_code ec;
  const fs::path tmp = fs::temp_directory_path(ec);
  const std::string dir = ec ? "/tmp" : tmp.string();
  const int list = OpenUnnamedFile(dir);
  if (list < 0) return fail("cannot create a temporary file in " + dir);
  fds_.push_back(list);
  std::vector<std::string> names;
  for (const std::string& p : paths) {
    if (p.find('\n') == std::string::npos) {
      names.push_back(p);
      continue;
    }
    // Not a pipe's writer to wait for: a regular file opens at once, anything else is
    // refused by the engine when it looks at what the name leads to.
    const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return fail("cannot open " + p);
    fds_.push_back(fd);
    names.push_back(DescriptorPath(fd));
  }
  if (!WriteAll(list, MergeListText(names))) return fail("cannot write the list of files to merge");
  path_ = DescriptorPath(list);
  return true;
}

}  // namespace spherolux::convert
