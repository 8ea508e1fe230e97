// spherolux-cli probe FILE...: what kind of camera file each file is, as one JSON object
// per line.
#include "probe/probe.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "calib/calibration.h"
#include "command.h"
#include "json.h"

namespace {

using namespace spherolux;

// Why the file cannot be read, or empty when it can (an empty file can). Folders, pipes and
// devices cannot.
std::string UnreadableReason(const char* path) {
  if (std::string why = cli::UnreadableReason(path); !why.empty()) return why;
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return std::strerror(errno);
  char byte;
  const size_t got = std::fread(&byte, 1, 1, f);
  const bool failed = got == 0 && std::ferror(f);
  const int error = errno ? errno : EIO;
  std::fclose(f);
  return failed ? std::strerror(error) : std::string();
}

// The label is free text of up to 12 bytes; bytes above 0x7F are taken as Latin-1 so the
// output stays valid UTF-8.
std::string LabelText(const char (&label)[12]) {
  std::string out;
  for (char c : label) {
    const auto b = static_cast<unsigned char>(c);
    if (b == 0) break;
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | b >> 6);
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

void Circle(cli::JsonWriter& w, const char* key, const LensCircle& c) {
  w.Key(key);
  w.BeginObject();
  w.Key("x");
  w.Float(c.x);
  w.Key("y");
  w.Float(c.y);
  w.Key("radius");
  w.Float(c.radius);
  w.EndObject();
}

void Lines(cli::JsonWriter& w, const char* key, const ControlLine (&lines)[kMaxControlLines]) {
  w.Key(key);
  w.BeginArray();
  for (const ControlLine& l : lines) {
    w.BeginArray();
    w.Float(l.mfP1x);
    w.Float(l.mfP1y);
    w.Float(l.mfP2x);
    w.Float(l.mfP2y);
    w.EndArray();
  }
  w.EndArray();
}

void Calibration(cli::JsonWriter& w, const PhotoCalibration& c) {
  w.Key("calibration");
  w.BeginObject();
  if (c.camera_type == kCameraDualLens) {
    const DoubleFisheyeCameraPara& p = c.dual;
    w.Key("record");
    w.String("DoubleFisheyeCameraPara");
    w.Key("szLabel");
    w.String(LabelText(p.szLabel));
    w.Key("fLensCoef");
    w.Float(p.fLensCoef);
    w.Key("lModel");
    w.Int(p.lModel);
    Circle(w, "stPoint1", p.stPoint1);
    Circle(w, "stPoint2", p.stPoint2);
    w.Key("fRatio");
    w.Float(p.fRatio);
    w.Key("lPointNum");
    w.Int(p.lPointNum);
    Lines(w, "mstPf1", p.mstPf1);
    Lines(w, "mstPf2", p.mstPf2);
  } else {
    const SingleFisheyeCameraPara& p = c.single;
    w.Key("record");
    w.String("SingleFisheyeCameraPara");
    w.Key("stPfCenter");
    w.BeginObject();
    w.Key("x");
    w.Float(p.stPfCenter.x);
    w.Key("y");
    w.Float(p.stPfCenter.y);
    w.EndObject();
    w.Key("radius");
    w.Float(p.fRadius);
  }
  w.EndObject();
}

int RunProbe(std::span<char* const> args) {
  // Probe takes no options: every argument is a file, except the first "--" (which ends the
  // options of every subcommand).
  std::vector<const char*> files(args.begin(), args.end());
  if (const auto end = std::find(files.begin(), files.end(), std::string_view("--")); end != files.end())
    files.erase(end);
  if (files.empty()) {
    std::fprintf(stderr, "spherolux-cli probe: no file given (usage: spherolux-cli probe FILE...)\n");
    return cli::kExitUsage;
  }
  int status = cli::kExitOk;
  for (const char* path : files) {
    if (const std::string why = UnreadableReason(path); !why.empty()) {
      std::fprintf(stderr, "spherolux-cli probe: cannot read %s: %s\n", path, why.c_str());
      status = cli::kExitUnreadable;
      continue;
    }
    // Without a frame size nothing is extracted: the class follows the camera type.
    const MediaKind kind = MediaKindOfPath(path);
    const FileProbe probe = ProbeFile(path, kind, nullptr, nullptr);
    PhotoCalibration record;
    if (probe.camera_type == kCameraSingleLens || probe.camera_type == kCameraDualLens) {
      ReadCameraCalibration(path, &record);
    }

    cli::JsonWriter w;
    w.BeginObject();
    w.Key("path");
    w.String(path);
    w.Key("kind");
    w.String(kind == MediaKind::kPhoto ? "photo" : "video");
    w.Key("camera_type");
    w.Int(probe.camera_type);
    w.Key("class");
    w.String(StitchClassName(probe.cls));
    w.Key(kind == MediaKind::kPhoto ? "stitched_photo" : "spherical_video");
    w.Int(probe.stitched_test);
    if (record.camera_type == kCameraSingleLens || record.camera_type == kCameraDualLens) Calibration(w, record);
    w.EndObject();
    std::puts(w.str().c_str());
  }
  return status;
}

const cli::Registration kProbe{
    "probe", "FILE...",
    "Tells what each file is: one JSON object per line with path, kind (\"photo\" for names\n"
    "ending in .jpg or .bmp, else \"video\"), camera_type (the camera-type query: 1 single-lens,\n"
    "2 dual-lens, 512 stitched by the camera, -1 or 1001..1015 when no usable block), class\n"
    "(dual-lens, single-lens, stitched-by-camera, stitched, not-panorama), stitched_photo or\n"
    "spherical_video (0/1), and calibration with every field of the lens record when one was\n"
    "read (control lines as [x1,y1,x2,y2]). Exit 2 when a file cannot be read at all.",
    RunProbe};

}  // namespace
