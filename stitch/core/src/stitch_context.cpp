#include "stitch/stitch_context.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "base/bytes.h"
#include "base/row_slices.h"
#include "emblem.h"
#include "sample_plan.h"
#include "stitch/blend.h"
#include "stitch/lens_model.h"
#include "stitch/remap.h"
#include "stitch/trace.h"

namespace spherolux {

namespace {

using MapPtr = LargeArray<RemapEntry>;

}  // namespace

struct StitchContext {
  int format = 0;
  int source_width = 0;
  int source_height = 0;
  int width = 0;  // W = 2 * H
  int height = 0;
  int rotation = 0;
  DoubleFisheyeCameraPara para;  // the record the maps were built from
  int map_width = 0;
  int map_height = 0;
  MapPtr map1;  // lens 1; both maps are freed once compiled into `plan`
  MapPtr map2;  // lens 2
  SamplePlan plan;
  // Nadir strip in the output format: W x n (I420: plus two W/2 x n/2 chroma planes).
  int patch_rows = 0;
  std::unique_ptr<uint8_t[]> patch;
};

namespace {

bool Finite(float v) { return std::isfinite(v); }

bool FiniteRecord(const DoubleFisheyeCameraPara& p) {
  for (const LensCircle& c : {p.stPoint1, p.stPoint2}) {
    if (!Finite(c.x) || !Finite(c.y) || !Finite(c.radius)) return false;
  }
  return Finite(p.fLensCoef) && Finite(p.fRatio);
}

bool Horizontal(int rotation) { return rotation == 0 || rotation == 180; }

// The map the kernels take first: lens 2 on horizontal seams (it fills the outer columns),
// and on vertical ones the lens on top, lens 2 except for rotation 270.
const RemapEntry* FirstMap(int rotation, const RemapEntry* map1, const RemapEntry* map2) {
  return rotation == 270 ? map1 : map2;
}

// Bilinear sample of one channel of the emblem (stride in bytes, `bpp` bytes per pixel) at
// (x, y) in [0, 254]: rounded to nearest and capped at 255.
uint8_t EmblemSample(const uint8_t* img, int stride, int bpp, double x, double y) {
  const int x0 = static_cast<int>(x);
  const int y0 = static_cast<int>(y);
  const double fx = x - x0;
  const double fy = y - y0;
  const uint8_t* p = img + y0 * stride + x0 * bpp;
  const double top = p[0] * (1 - fx) + p[bpp] * fx;
  const double bottom = p[stride] * (1 - fx) + p[stride + bpp] * fx;
  const int v = static_cast<int>(top * (1 - fy) + bottom * fy + 0.5);
  return static_cast<uint8_t>(std::min(v, 255));
}

// Unwraps the circular emblem into a strip of n rows: row i samples the circle of radius
// 126 - i * 126 / n around the emblem's centre, column j the angle j * 2 pi / W. Row 0 is
// the rim, the last row the centre.
void BuildStrip(int format, int w, int n, uint8_t* strip) {
  const double step = 126.0 / n;
  const double turn = kLensTwoPi / w;
  uint8_t* su = strip + static_cast<size_t>(w) * n;
  uint8_t* sv = su + static_cast<size_t>(w / 2) * (n / 2);
  for (int i = 0; i < n; ++i) {
    const double radius = 126 - i * step;
    double angle = 0;
    for (int j = 0; j < w; ++j, angle += turn) {
      const double x = std::clamp(std::cos(angle) * radius + 128, 0.0, 254.0);
      const double y = std::clamp(std::sin(angle) * radius + 128, 0.0, 254.0);
      if (format == kStitchI420) {
        strip[static_cast<size_t>(i) * w + j] = EmblemSample(kEmblemI420, kEmblemSize, 1, x, y);
        if (i % 2 == 0 && j % 2 == 0) {
          // Chroma of the block's first pixel, without interpolation.
          const int c = static_cast<int>(y / 2) * (kEmblemSize / 2) + static_cast<int>(x / 2);
          const size_t o = static_cast<size_t>(i / 2) * (w / 2) + j / 2;
          su[o] = kEmblemI420[kEmblemSize * kEmblemSize + c];
          sv[o] = kEmblemI420[kEmblemSize * kEmblemSize * 5 / 4 + c];
        }
      } else {
        for (int k = 0; k < 4; ++k) {
          strip[(static_cast<size_t>(i) * w + j) * 4 + k] = EmblemSample(kEmblemBgra + k, kEmblemSize * 4, 4, x, y);
        }
      }
    }
  }
}

void TraceMap(const char* name, const RemapEntry* map, size_t count) {
  UniqueFile f = OpenTraceFile(name, "wb");
  if (!f) return;
  std::vector<uint8_t> bytes(count * 8);
  for (size_t i = 0; i < count; ++i) {
    uint8_t* p = &bytes[i * 8];
    StoreLE16(p, static_cast<uint16_t>(map[i].x));
    p[2] = map[i].wx0;
    p[3] = map[i].wx1;
    StoreLE16(p + 4, static_cast<uint16_t>(map[i].y));
    p[6] = map[i].wy0;
    p[7] = map[i].wy1;
  }
  std::fwrite(bytes.data(), 1, bytes.size(), f.get());
}

// Copies output rows [r0, r1) of the nadir strip into place: the last n rows for rotation
// 0, the first n rows turned by 180 degrees for rotation 180.
void PlaceStrip(const StitchContext& c, int r0, int r1, uint8_t* dst) {
  const int w = c.width;
  const int h = c.height;
  const int n = c.patch_rows;
  const int first = c.rotation == 0 ? h - n : 0;
  r0 = std::max(r0, first);
  r1 = std::min(r1, first + n);
  const int bpp = c.format == kStitchI420 ? 1 : 4;
  const size_t row_bytes = static_cast<size_t>(w) * bpp;
  auto place_row = [&](const uint8_t* from, uint8_t* to, size_t pixels, int pixel_bytes) {
    if (c.rotation == 0) {
      std::copy_n(from, pixels * pixel_bytes, to);
    } else {
      for (size_t j = 0; j < pixels; ++j)
        std::copy_n(from + (pixels - 1 - j) * pixel_bytes, pixel_bytes, to + j * pixel_bytes);
    }
  };
  for (int r = r0; r < r1; ++r) {
    const int i = c.rotation == 0 ? r - first : n - 1 - r;  // strip row
    place_row(c.patch.get() + i * row_bytes, dst + r * row_bytes, w, bpp);
    if (c.format == kStitchI420 && r % 2 == 0) {
      const size_t cw = w / 2;
      const size_t out_plane = cw * (h / 2);
      const size_t strip_plane = cw * (n / 2);
      const uint8_t* su = c.patch.get() + static_cast<size_t>(w) * n;
      uint8_t* ou = dst + static_cast<size_t>(w) * h;
      const int ci = c.rotation == 0 ? (r - first) / 2 : n / 2 - 1 - r / 2;
      for (int plane = 0; plane < 2; ++plane) {
        place_row(su + plane * strip_plane + ci * cw, ou + plane * out_plane + (r / 2) * cw, cw, 1);
      }
    }
  }
}

// Output rows [r0, r1) (r0 < r1) through the plan or the maps. An I420 context reads
// `planes`, the others `src`.
void StitchKernel(const StitchContext& c, const uint8_t* src, const I420View& planes, uint8_t* dst, int r0, int r1) {
  if (c.plan.groups) {
    RunSamplePlan(ActivePlanDsp(), ActiveBlendDsp(), c.plan, planes, dst, r0, r1);
    return;
  }
  const RemapEntry* first = FirstMap(c.rotation, c.map1.get(), c.map2.get());
  const RemapEntry* second = c.map1.get() == first ? c.map2.get() : c.map1.get();
  const int wm = c.map_width, hm = c.map_height;
  const RowRange rows{r0, r1};
  if (c.format == kStitchI420) {
    if (Horizontal(c.rotation)) {
      BlendHorizontalI420(planes, c.source_width, c.source_height, dst, first, second, wm, hm, rows);
    } else {
      BlendVerticalI420(planes, c.source_width, c.source_height, dst, first, second, wm, hm, rows);
    }
    return;
  }
  const int bpp = c.format == kStitchPacked24 ? 3 : 4;
  const int stride = PackedRowStride(c.source_width, bpp);
  if (Horizontal(c.rotation)) {
    BlendHorizontalPacked(src, stride, c.source_height, bpp, dst, first, second, wm, hm, rows);
  } else {
    BlendVerticalPacked(src, stride, c.source_height, bpp, dst, first, second, wm, hm, rows);
  }
}

// Output rows [r0, r1) of one frame: the kernel for the rows the strip does not cover,
// then the strip.
void StitchRows(const StitchContext& c, const uint8_t* src, const I420View& planes, uint8_t* dst, int r0, int r1) {
  int k0 = r0, k1 = r1;
  if (c.patch_rows > 0) {
    if (c.rotation == 0) k1 = std::min(r1, c.height - c.patch_rows);
    if (c.rotation == 180) k0 = std::max(r0, c.patch_rows);
  }
  if (k0 < k1) StitchKernel(c, src, planes, dst, k0, k1);
  if (c.patch_rows > 0) PlaceStrip(c, r0, r1, dst);
}

}  // namespace

size_t StitchFrameSize(int pixel_format, int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  switch (pixel_format) {
    case kStitchI420:
      return w * h + 2 * (w / 2) * (h / 2);
    case kStitchPacked24:
      return static_cast<size_t>(PackedRowStride(width, 3)) * h;
    case kStitchPacked32:
    case kStitchPacked32Alt:
      return w * 4 * h;
    default:
      return 0;
  }
}

StitchContext* CreateStitchContext(const DoubleFisheyeCameraPara* para, int source_width, int source_height, int width,
                                   int height, int pixel_format, int rotation, bool generation, bool nadir_patch,
                                   int threads) {
  if (!para) return nullptr;
  if (height < 2 || width != 2 * height || width > kMaxStitchWidth) return nullptr;
  if (para->lPointNum < 0 || para->lPointNum > kMaxControlLines) return nullptr;
  if (!FiniteRecord(*para) || para->fLensCoef < 180 || para->fLensCoef > 360) return nullptr;
  if (pixel_format < kStitchI420 || pixel_format > kStitchPacked32Alt) return nullptr;
  if (rotation != 0 && rotation != 90 && rotation != 180 && rotation != 270) return nullptr;
  if (pixel_format == kStitchI420 && (source_width % 2 != 0 || source_height % 2 != 0 || height % 2 != 0)) {
    return nullptr;
  }

  const PhotoMapGeometry geo{source_width, source_height, width, height, rotation, generation};
  int wm = 0, hm = 0;
  if (!PhotoMapSize(*para, geo, &wm, &hm)) return nullptr;
  // What the kernels can stitch: every output column (or row) covered by a lens.
  if (Horizontal(rotation) ? (hm != height || wm < height || wm > width)
                           : (wm != width || hm > height || 2 * hm < height)) {
    return nullptr;
  }

  std::unique_ptr<StitchContext> c(new (std::nothrow) StitchContext);
  if (!c) return nullptr;
  c->format = pixel_format;
  c->source_width = source_width;
  c->source_height = source_height;
  c->width = width;
  c->height = height;
  c->rotation = rotation;
  c->para = *para;
  c->map_width = wm;
  c->map_height = hm;
  const size_t entries = static_cast<size_t>(wm) * hm;
  c->map1 = AllocateLargeArray<RemapEntry>(entries);
  c->map2 = AllocateLargeArray<RemapEntry>(entries);
  if (!c->map1 || !c->map2) return nullptr;
  BuildRemapMaps(*para, geo, c->map1.get(), c->map2.get(), threads);

  // The strip only shows on the horizontal layouts, and never in 24-bit pixels. I420 keeps
  // it on whole 2 x 2 blocks: an odd count is rounded down to even.
  if (nadir_patch && Horizontal(rotation) && pixel_format != kStitchPacked24) {
    int n = width / 20;
    if (pixel_format == kStitchI420) n &= ~1;
    if (n > 0) {
      c->patch_rows = n;
      c->patch.reset(new (std::nothrow) uint8_t[StitchFrameSize(pixel_format, width, n)]);
      if (!c->patch) return nullptr;
      BuildStrip(pixel_format, width, n, c->patch.get());
    }
  }

  TraceMap("Points1.txt", c->map1.get(), entries);
  TraceMap("Points2.txt", c->map2.get(), entries);
  return c.release();
}

bool CompileStitchContext(StitchContext* ctx, int threads) {
  if (!ctx || ctx->format != kStitchI420) return false;
  if (ctx->plan.groups) return true;
  StitchContext& c = *ctx;
  const RemapEntry* first = FirstMap(c.rotation, c.map1.get(), c.map2.get());
  const RemapEntry* second = first == c.map1.get() ? c.map2.get() : c.map1.get();
  I420Seams seams;
  if (!seams.Init(Horizontal(c.rotation), first, second, c.map_width, c.map_height) ||
      !BuildSamplePlan(seams, c.source_width, c.source_height, threads, &c.plan)) {
    return false;
  }
  c.map1.reset();
  c.map2.reset();
  return true;
}

void StitchImage(const StitchContext* ctx, const uint8_t* src, uint8_t* dst, int threads) {
  if (!ctx || !src || !dst) return;
  if (ctx->format == kStitchI420) {
    StitchImagePlanes(ctx, BackToBackI420(src, ctx->source_width, ctx->source_height), dst, threads);
    return;
  }
  RunRowSlices(ctx->height, 1, threads, [&](int r0, int r1) { StitchRows(*ctx, src, {}, dst, r0, r1); });
}

bool StitchImagePlanes(const StitchContext* ctx, const I420View& src, uint8_t* dst, int threads) {
  return ctx && StitchImagePlaneRows(ctx, src, dst, 0, ctx->height, threads);
}

bool StitchImagePlaneRows(const StitchContext* ctx, const I420View& src, uint8_t* dst, int first_row, int end_row,
                          int threads) {
  if (!ctx || !dst || ctx->format != kStitchI420) return false;
  if (!src.y || !src.u || !src.v || src.y_stride < ctx->source_width || src.uv_stride < ctx->source_width / 2) {
    return false;
  }
  if (first_row < 0 || end_row > ctx->height || first_row > end_row || first_row % 2 != 0 || end_row % 2 != 0) {
    return false;
  }
  // I420 slices hold whole row pairs, so that every chroma row has one owner.
  RunRowSlices(end_row - first_row, 2, threads, [&](int r0, int r1) {
    if (r0 < r1) StitchRows(*ctx, nullptr, src, dst, first_row + r0, first_row + r1);
  });
  return true;
}

void DestroyStitchContext(StitchContext* ctx) { delete ctx; }

void StitchContextMapSize(const StitchContext* ctx, int* map_width, int* map_height) {
  *map_width = ctx ? ctx->map_width : 0;
  *map_height = ctx ? ctx->map_height : 0;
}

int StitchContextPatchRows(const StitchContext* ctx) { return ctx ? ctx->patch_rows : 0; }

}  // namespace spherolux
