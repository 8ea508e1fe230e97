// Builds every record-driven table from arbitrary 1652-byte records (and the single-lens
// tables from lens 1's circle) and checks that every coordinate stays inside its frame. The first bytes after the
// record choose sizes and the rotation, so the fuzzer also reaches small and odd geometries.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "calib/camera_para.h"
#include "stitch/remap.h"
#include "stitch/single_lens.h"
#include "stitch/sphere_grid.h"

using namespace spherolux;

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "lens fuzzer: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kDoubleFisheyeParaSize) return 0;
  DoubleFisheyeCameraPara para;
  if (!DecodeDoubleFisheyeCameraPara(data, size, &para)) return 0;
  const uint8_t* extra = data + kDoubleFisheyeParaSize;
  const size_t extra_size = size - kDoubleFisheyeParaSize;
  auto pick = [&](size_t i, int fallback) { return i < extra_size ? extra[i] : fallback; };

  // Video grids on a frame whose width is twice its height.
  const int grid_height = 4 + pick(0, 60) * 4;
  std::vector<float> a(kGridFloats, -1.0f);
  std::vector<float> b(kGridFloats, -1.0f);
  BuildSphereGrids(para, 2 * grid_height, grid_height, kGridColumns, kGridRings, pick(1, 0) & 1, a.data(), b.data());
  const float half = static_cast<float>(grid_height);
  for (size_t i = 0; i < kGridFloats; i += 2) {
    Check(a[i] >= 0.0f && a[i] <= half - 1 && a[i + 1] >= 0.0f && a[i + 1] <= half - 1, "table A point outside");
    Check(b[i] >= half && b[i] <= 2 * half - 1 && b[i + 1] >= 0.0f && b[i + 1] <= half - 1, "table B point outside");
  }

  const int rotations[4] = {0, 90, 180, 270};

  // Single-lens grid and remap with lens 1's circle as the single-lens circle.
  {
    const int w = 8 + pick(8, 40) % 64 * 2;
    const int h = 8 + pick(9, 20) % 64 * 2;
    std::vector<float> grid(2 * 49 * 181, -1.0f);
    BuildSingleLensGrid(w, h, 180, 48, para.stPoint1.x, para.stPoint1.y, 192.0f, para.stPoint1.radius, grid.data());
    for (size_t i = 0; i < grid.size(); i += 2) {
      Check(grid[i] >= 0.0f && grid[i] <= w - 1 && grid[i + 1] >= 0.0f && grid[i + 1] <= h - 1,
            "single-lens grid point outside");
    }
    const int out_w = 2 + pick(10, 30) % 48 * 2;
    const int out_h = out_w / 2;
    std::vector<SingleLensRemapEntry> table(static_cast<size_t>(out_w) * out_h);
    if (BuildSingleLensRemap(w, h, para.stPoint1.x, para.stPoint1.y, 190.0f, para.stPoint1.radius, table.data(), out_w,
                             out_h, rotations[pick(11, 0) & 3])) {
      for (const SingleLensRemapEntry& e : table) {
        const bool none = e.x == -1 && e.y == -1;
        Check(none || (e.x >= 0 && e.x <= (w - 1) * 256 && e.y >= 0 && e.y <= (h - 1) * 256),
              "single-lens entry outside");
      }
      std::vector<uint8_t> src(static_cast<size_t>(w) * h + 2 * (w / 2) * (h / 2), 100);
      std::vector<uint8_t> out(static_cast<size_t>(out_w) * out_h + 2 * (out_w / 2) * (out_h / 2));
      RemapSingleLens(src.data(), w, h, out.data(), out_w, out_h, table.data());
    }
  }

  // Photo maps on a small output (small enough for many runs per second).
  PhotoMapGeometry geo;
  geo.height = 2 + pick(2, 30) % 40;
  geo.width = 2 * geo.height;
  geo.source_width = 4 + pick(3, 60) % 100 * 2;
  geo.source_height = 4 + pick(4, 30) % 100 * 2;
  geo.rotation = rotations[pick(5, 0) & 3];
  geo.generation = pick(6, 0) & 1;
  if (para.lPointNum < 0 || para.lPointNum > kMaxControlLines) para.lPointNum = pick(7, 0) % (kMaxControlLines + 1);
  int wm = 0;
  int hm = 0;
  if (!PhotoMapSize(para, geo, &wm, &hm)) return 0;
  std::vector<RemapEntry> m1(static_cast<size_t>(wm) * hm);
  std::vector<RemapEntry> m2(m1.size());
  BuildRemapMaps(para, geo, m1.data(), m2.data());
  for (const std::vector<RemapEntry>* m : {&m1, &m2}) {
    for (const RemapEntry& e : *m) {
      Check(e.x >= 0 && e.x + 1 < geo.source_width, "map x outside the frame");
      Check(e.y >= 0 && e.y + 1 < geo.source_height, "map y outside the frame");
      Check(e.wx0 + e.wx1 == 255 && e.wy0 + e.wy1 == 255, "weights do not sum to 255");
    }
  }
  return 0;
}
