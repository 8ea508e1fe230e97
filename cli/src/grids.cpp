// spherolux-cli grids FILE [--size WxH]: the view grids the player would draw a camera file
// through, as one JSON object.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "calib/calibration.h"
#include "command.h"
#include "json.h"
#include "media/media_info.h"
#include "probe/extract.h"
#include "probe/probe.h"

namespace {

using namespace spherolux;

// "WxH" with both sides positive.
bool ParseSize(std::string_view text, int* width, int* height) {
  const std::string s(text);
  char* end = nullptr;
  const long w = std::strtol(s.c_str(), &end, 10);
  if (end == s.c_str() || (*end != 'x' && *end != 'X')) return false;
  const char* rest = end + 1;
  const long h = std::strtol(rest, &end, 10);
  if (end == rest || *end != '\0') return false;
  if (w <= 0 || h <= 0 || w > 1 << 20 || h > 1 << 20) return false;
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

// A grid as [x, y] pairs, ring after ring.
void Points(cli::JsonWriter& w, const char* key, const float* grid, size_t points) {
  w.Key(key);
  w.BeginArray();
  for (size_t i = 0; i < points; ++i) {
    w.BeginArray();
    w.Float(grid[2 * i]);
    w.Float(grid[2 * i + 1]);
    w.EndArray();
  }
  w.EndArray();
}

int RunGrids(std::span<char* const> args) {
  const char* path = nullptr;
  int width = 0;
  int height = 0;
  bool sized = false;
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!options_ended && arg == "--") {
      options_ended = true;
    } else if (options_ended || arg.empty() || arg[0] != '-') {
      if (path != nullptr) {
        std::fprintf(stderr, "spherolux-cli grids: one file only (usage: spherolux-cli grids FILE [--size WxH])\n");
        return cli::kExitUsage;
      }
      path = args[i];
    } else if (arg == "--size") {
      if (i + 1 >= args.size() || !ParseSize(args[i + 1], &width, &height)) {
        std::fprintf(stderr, "spherolux-cli grids: --size needs WxH with positive sides\n");
        return cli::kExitUsage;
      }
      sized = true;
      ++i;
    } else {
      std::fprintf(stderr, "spherolux-cli grids: unknown option %s\n", args[i]);
      return cli::kExitUsage;
    }
  }
  if (path == nullptr) {
    std::fprintf(stderr, "spherolux-cli grids: no file given (usage: spherolux-cli grids FILE [--size WxH])\n");
    return cli::kExitUsage;
  }
  if (const std::string why = cli::UnreadableReason(path); !why.empty()) {
    std::fprintf(stderr, "spherolux-cli grids: cannot read %s: %s\n", path, why.c_str());
    return cli::kExitUnreadable;
  }

  const MediaKind kind = MediaKindOfPath(path);
  if (!sized) {
    // Videos are measured as the player measures them, by MediaInfo.
    const bool found = kind == MediaKind::kPhoto ? JpegFrameSize(path, &width, &height)
                                                 : media::MediaFrameSize(path, false, &width, &height);
    if (!found) {
      std::fprintf(stderr, "spherolux-cli grids: cannot read the frame size of %s (give --size WxH)\n", path);
      return cli::kExitUnreadable;
    }
  }

  const FrameSize frame{width, height};
  ViewGrids grids;
  const FileProbe probe = ProbeFile(path, kind, &frame, &grids);
  const int result = probe.extraction;

  cli::JsonWriter w;
  w.BeginObject();
  w.Key("path");
  w.String(path);
  w.Key("result");
  w.Int(result);
  w.Key("camera_type");
  w.Int(probe.camera_type);
  w.Key("width");
  w.Int(width);
  w.Key("height");
  w.Int(height);
  if (probe.grids_built && probe.camera_type == kCameraSingleLens) {
    Points(w, "table_a", grids.table_a.data(), static_cast<size_t>(kGridColumns) * kSingleLensGridRings);
    w.Key("refresh");
    w.Bool(probe.refresh);
  } else if (probe.grids_built) {
    Points(w, "table_a", grids.table_a.data(), static_cast<size_t>(kGridColumns) * kGridRings);
    Points(w, "table_b", grids.table_b.data(), static_cast<size_t>(kGridColumns) * kGridRings);
  }
  w.EndObject();
  std::puts(w.str().c_str());
  if (result >= 1000 || result < 0) {
    std::fprintf(stderr, "spherolux-cli grids: %s: calibration cannot be used (result %d)\n", path, result);
    return cli::kExitFailure;
  }
  return cli::kExitOk;
}

const cli::Registration kGrids{"grids", "FILE [--size WxH]",
                               "Build the view grids of a camera photo or video from its calibration (JSON).\n"
                               "The frame size comes from --size, else from the file itself.",
                               RunGrids};

}  // namespace
