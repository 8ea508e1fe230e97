// spherolux-camgen: makes camera photos and videos with a calibration block, for tests and
// benchmark scripts.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "camgen/camgen.h"

using namespace spherolux;
using namespace spherolux::camgen;

namespace {

const char kUsage[] =
    "Usage:\n"
    "  spherolux-camgen photo OUT.jpg [--type N] [--model M] [--size WxH] [--place soi|jfif]\n"
    "  spherolux-camgen video OUT.mp4 [--type N] [--model M] [--size WxH] [--seconds S]\n"
    "                   [--place moov|trak|top|udat] [--no-audio] [--large-mdat] [--faststart]\n"
    "                   [--spherical] [--no-block] [--nest-udta DEPTH] [--hevc]\n"
    "  spherolux-camgen embed IN OUT [--type N] [--model M] [--place ...] [--spherical]\n"
    "Type 1 writes a single-lens record, any other type a dual-lens record (default 2).\n"
    "Videos are H.264 unless --hevc asks for H.265.\n";

struct Options {
  int type = 2;
  int model = 2201;
  int width = 1920, height = 960;
  double seconds = 2.0;
  std::string place;
  bool audio = true, large_mdat = false, faststart = false, spherical = false, block = true, hevc = false;
  int nest_udta = 0;
};

bool Parse(int argc, char** argv, int first, Options* o) {
  for (int i = first; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--type" && (v = next())) {
      o->type = std::atoi(v);
    } else if (a == "--model" && (v = next())) {
      o->model = std::atoi(v);
    } else if (a == "--size" && (v = next())) {
      if (std::sscanf(v, "%dx%d", &o->width, &o->height) != 2) return false;
    } else if (a == "--seconds" && (v = next())) {
      o->seconds = std::atof(v);
    } else if (a == "--place" && (v = next())) {
      o->place = v;
    } else if (a == "--no-audio") {
      o->audio = false;
    } else if (a == "--large-mdat") {
      o->large_mdat = true;
    } else if (a == "--faststart") {
      o->faststart = true;
    } else if (a == "--spherical") {
      o->spherical = true;
    } else if (a == "--hevc") {
      o->hevc = true;
    } else if (a == "--no-block") {
      o->block = false;
    } else if (a == "--nest-udta" && (v = next())) {
      o->nest_udta = std::atoi(v);
    } else {
      return false;
    }
  }
  return true;
}

Bytes BlockFor(const Options& o) {
  auto records =
      o.type == 1 ? SingleLensRecords(ExampleSinglePara()) : DualLensRecords(ExampleDualPara(o.model), o.type);
  return MakeBlock(records);
}

bool IsJpeg(const Bytes& b) { return b.size() > 2 && b[0] == 0xFF && b[1] == 0xD8; }

Bytes EmbedAll(const Bytes& in, const Options& o) {
  if (IsJpeg(in)) {
    if (!o.block) return in;
    return EmbedInJpeg(in, BlockFor(o), o.place == "soi" ? JpegPlacement::kAfterSoi : JpegPlacement::kAfterJfif);
  }
  Bytes out = in;
  if (o.block) {
    Mp4Placement place = Mp4Placement::kMoovUdta;
    if (o.place == "trak") place = Mp4Placement::kTrakUdta;
    if (o.place == "top") place = Mp4Placement::kTopLevelUdta;
    if (o.place == "udat") place = Mp4Placement::kTopLevelUdat;
    out = EmbedInMp4(out, BlockFor(o), place);
  }
  if (!out.empty() && o.spherical) out = AddSphericalV1Box(out, SphericalV1Xml());
  if (!out.empty() && o.nest_udta > 0) out = AddNestedUdta(out, o.nest_udta);
  if (!out.empty() && o.large_mdat) out = UseLargeMdat(out);
  if (!out.empty() && o.faststart) out = MoveMoovToFront(out);
  return out;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "spherolux-camgen: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 64 : 0;
  }
  std::string cmd = argv[1];
  Options o;
  if (cmd == "photo" || cmd == "video") {
    if (!Parse(argc, argv, 3, &o)) return Fail(std::string("bad arguments\n") + kUsage);
    Bytes base;
    if (cmd == "photo") {
      base = MakeJpeg(o.width, o.height, 90, o.type == 1);
    } else {
      std::string dir = MakeTempDir("camgen-video");
      std::string tmp = dir + "/base.mp4";
      if (MakeMp4Clip(tmp, o.width, o.height, o.seconds, o.audio, o.hevc)) base = ReadFileBytes(tmp);
      std::remove(tmp.c_str());
      std::remove(dir.c_str());
    }
    if (base.empty()) return Fail("could not make the base media (are cjpeg and ffmpeg installed?)");
    Bytes out = EmbedAll(base, o);
    if (out.empty() || !WriteFileBytes(argv[2], out)) return Fail(std::string("could not write ") + argv[2]);
    return 0;
  }
  if (cmd == "embed" && argc >= 4) {
    if (!Parse(argc, argv, 4, &o)) return Fail(std::string("bad arguments\n") + kUsage);
    Bytes in = ReadFileBytes(argv[2]);
    if (in.empty()) return Fail(std::string("cannot read ") + argv[2]);
    Bytes out = EmbedAll(in, o);
    if (out.empty() || !WriteFileBytes(argv[3], out)) return Fail(std::string("could not write ") + argv[3]);
    return 0;
  }
  std::fputs(kUsage, stderr);
  return 64;
}
