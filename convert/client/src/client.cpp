#include "convert/client.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cctype>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "base/bytes.h"
#include "base/output_file.h"
#include "calib/stitch_state.h"
#include "convert/job.h"
#include "media/media_info.h"
#include "mp4/file.h"
#include "photo/stitch_photo.h"
#include "ui/strings.h"

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

std::string RefusalText(const InputCheck& check) {
  if (check.problem != Cause::kNone) return CauseText(check.problem);
  if (check.refusal != Cause::kNone) return CauseText(check.refusal);
  return ui::LoadString(check.verdict);
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

std::string MergeRefusalText(const std::string& path) {
  return std::string(ui::LoadString(ui::kStrNotYetStitched)) + "\n" + ui::LoadString(ui::kStrFilePath) + ": " + path;
}

MergeList::~MergeList() {
  std::error_code ec;
  if (!folder_.empty()) fs::remove_all(folder_, ec);
}

bool MergeList::Write(const std::vector<std::string>& paths, std::string* error) {
  if (folder_.empty()) {
    std::error_code ec;
    const fs::path tmp = fs::temp_directory_path(ec);
    std::string pattern = ((ec ? fs::path("/tmp") : tmp) / "spherolux-merge-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      if (error) *error = "cannot create a temporary folder";
      return false;
    }
    folder_ = pattern;
    path_ = folder_ + "/filelist.txt";
  }
  std::ofstream f(path_, std::ios::binary | std::ios::trunc);
  f << MergeListText(paths);
  f.close();
  if (!f) {
    if (error) *error = "cannot write " + path_;
    return false;
  }
  return true;
}

}  // namespace spherolux::convert
