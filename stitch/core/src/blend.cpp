#include "stitch/blend.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "blend_dsp.h"

namespace spherolux {

namespace {

// ---------------------------------------------------------------------------------------
// Scalar reference path.

void SamplePlaneScalar(const SampleSource& s, const RemapEntry* entries, int n, uint8_t* out) {
  const ptrdiff_t stride = s.stride;
  for (int j = 0; j < n; ++j) {
    const RemapEntry& e = entries[j];
    const uint8_t* p = s.src + e.y * stride + e.x;
    const uint32_t top = p[0] * uint32_t{e.wx0} + p[1] * uint32_t{e.wx1};
    const uint32_t bottom = p[stride] * uint32_t{e.wx0} + p[stride + 1] * uint32_t{e.wx1};
    out[j] = static_cast<uint8_t>((e.wy0 * top + e.wy1 * bottom + 32768) >> 16);
  }
}

template <int kBpp>
void SamplePackedScalar(const SampleSource& s, const RemapEntry* entries, int n, uint8_t* out) {
  const ptrdiff_t stride = s.stride;
  for (int j = 0; j < n; ++j) {
    const RemapEntry& e = entries[j];
    const uint8_t* p = s.src + e.y * stride + e.x * kBpp;
    for (int k = 0; k < kBpp; ++k) {
      const uint32_t top = p[k] * uint32_t{e.wx0} + p[kBpp + k] * uint32_t{e.wx1};
      const uint32_t bottom = p[stride + k] * uint32_t{e.wx0} + p[stride + kBpp + k] * uint32_t{e.wx1};
      out[j * kBpp + k] = static_cast<uint8_t>((e.wy0 * top + e.wy1 * bottom + 32768) >> 16);
    }
  }
}

void PickChromaScalar(const uint8_t* u, const uint8_t* v, size_t, int chroma_stride, const RemapEntry* entries,
                      int blocks, uint8_t* out_u, uint8_t* out_v) {
  for (int k = 0; k < blocks; ++k) {
    const RemapEntry& e = entries[2 * k];
    const size_t i = static_cast<size_t>(e.y / 2) * chroma_stride + e.x / 2;
    out_u[k] = u[i];
    out_v[k] = v[i];
  }
}

void MixScalar(const uint8_t* a, const uint8_t* b, const uint8_t* wa, const uint8_t* wb, int n, uint8_t* out) {
  for (int j = 0; j < n; ++j) out[j] = static_cast<uint8_t>((a[j] * wa[j] + b[j] * wb[j] + 128) >> 8);
}

constexpr BlendDsp kScalarDsp = {"scalar",         SamplePlaneScalar, SamplePackedScalar<3>, SamplePackedScalar<4>,
                                 PickChromaScalar, MixScalar};

// ---------------------------------------------------------------------------------------
// Geometry shared by every row of a frame.

int EvenUp(int v) { return (v + 1) & ~1; }

// A run of output columns fed by one map (the other column is -1) or by both mixed with
// the ramp starting at `weight`. A seam's first map takes wa and its second map wb, except
// at the second seam (`swap`), where the roles of the ramp halves are exchanged.
struct Span {
  int begin = 0;
  int end = 0;
  int first = -1;
  int second = -1;
  int weight = 0;
  bool swap = false;
};

struct HorizontalPlan {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> wa;  // per byte: the ramp expanded to the bytes of each pixel
  std::vector<uint8_t> wb;
  std::vector<Span> spans;
};

// Appends `s`, split so that no map column beyond the last is read: columns past the end
// repeat the map's last column. This only happens when even rounding pushes a segment
// one column further than an exactly fitting map allows.
void AddSpan(Span s, int map_width, std::vector<Span>* spans) {
  while (s.begin < s.end) {
    int room = s.end - s.begin;
    if (s.first >= 0) room = std::min(room, map_width - s.first);
    if (s.second >= 0) room = std::min(room, map_width - s.second);
    Span t = s;
    if (room >= 1) {
      t.end = s.begin + room;
    } else {
      room = 1;
      t.end = s.begin + 1;
      if (t.first >= 0) t.first = std::min(t.first, map_width - 1);
      if (t.second >= 0) t.second = std::min(t.second, map_width - 1);
    }
    spans->push_back(t);
    s.begin += room;
    if (s.first >= 0) s.first += room;
    if (s.second >= 0) s.second += room;
    s.weight += room;
  }
}

bool BuildHorizontalPlan(int map_width, int map_height, int cap, bool even, int bpp, HorizontalPlan* plan) {
  if (map_height < 1 || map_width < map_height || map_width > 2 * map_height) return false;
  const int h = map_height;
  const int w = 2 * h;
  const int diff = map_width - h;
  const int hb = std::min(diff, cap) / 2;
  plan->width = w;
  plan->height = h;
  plan->wa.assign(static_cast<size_t>(2 * hb * bpp), 0);
  plan->wb.assign(static_cast<size_t>(2 * hb * bpp), 0);
  for (int i = 0; i < 2 * hb; ++i) {
    // i / (2 hb) * 255 truncated; exact in integers for every width the caps allow.
    const int b = i * 255 / (2 * hb);
    for (int k = 0; k < bpp; ++k) {
      plan->wb[i * bpp + k] = static_cast<uint8_t>(b);
      plan->wa[i * bpp + k] = static_cast<uint8_t>(255 - b);
    }
  }
  auto round = [even](int v) { return even ? EvenUp(v) : v; };
  const int b1 = round(h / 2 - hb);
  const int b2 = round(h / 2 + hb);
  const int b3 = round(3 * h / 2 - hb);
  const int b4 = round(3 * h / 2 + hb);
  const int lens1 = diff / 2 - hb;  // second map column at the start of the first seam
  plan->spans.clear();
  AddSpan({0, b1, map_width / 2, -1, 0, false}, map_width, &plan->spans);
  AddSpan({b1, b2, map_width / 2 + b1, lens1, 0, false}, map_width, &plan->spans);
  AddSpan({b2, b3, -1, lens1 + (b2 - b1), 0, false}, map_width, &plan->spans);
  AddSpan({b3, b4, lens1, lens1 + (b3 - b1), 0, true}, map_width, &plan->spans);
  AddSpan({b4, w, lens1 + (b4 - b3), -1, 0, false}, map_width, &plan->spans);
  return true;
}

using SampleFn = void (*)(const SampleSource&, const RemapEntry*, int, uint8_t*);

// The part of `sp` inside output columns [c0, c1) (empty when begin >= end).
Span Clip(const Span& sp, int c0, int c1) {
  Span t = sp;
  t.begin = std::max(sp.begin, c0);
  t.end = std::min(sp.end, c1);
  const int d = t.begin - sp.begin;
  if (t.first >= 0) t.first += d;
  if (t.second >= 0) t.second += d;
  t.weight += d;
  return t;
}

// Output columns [c0, c1) of one row of one plane (or of packed pixels), along the spans.
void HorizontalRow(const BlendDsp& dsp, SampleFn sample, const SampleSource& s, const HorizontalPlan& plan, int bpp,
                   const RemapEntry* first_row, const RemapEntry* second_row, int c0, int c1, uint8_t* out) {
  uint8_t ta[kBlendCapPacked * 4];
  uint8_t tb[kBlendCapPacked * 4];
  for (const Span& whole : plan.spans) {
    const Span sp = Clip(whole, c0, c1);
    const int n = sp.end - sp.begin;
    if (n <= 0) continue;
    uint8_t* o = out + static_cast<ptrdiff_t>(sp.begin) * bpp;
    if (sp.second < 0) {
      sample(s, first_row + sp.first, n, o);
    } else if (sp.first < 0) {
      sample(s, second_row + sp.second, n, o);
    } else {
      // Blend spans are at most 2 * hb <= 80 columns long.
      sample(s, first_row + sp.first, n, ta);
      sample(s, second_row + sp.second, n, tb);
      const uint8_t* wf = (sp.swap ? plan.wb.data() : plan.wa.data()) + sp.weight * bpp;
      const uint8_t* ws = (sp.swap ? plan.wa.data() : plan.wb.data()) + sp.weight * bpp;
      dsp.mix(ta, tb, wf, ws, n * bpp, o);
    }
  }
}

// Frames are produced in tiles of kTileRows x kTileColumns output pixels, so that the
// scratch rows of the mixed columns stay small fixed arrays. (Smaller tiles keep the source
// pixels a tile reads closer together, but measured no faster than whole rows.) The order
// of work does not change any output byte.
constexpr int kTileRows = 16;      // even, so that I420 tiles hold whole blocks
constexpr int kTileColumns = 512;  // even

template <typename Fn>
void ForEachTile(int row_begin, int row_end, int width, const Fn& fn) {
  for (int r0 = row_begin; r0 < row_end; r0 += kTileRows) {
    const int r1 = std::min(row_end, r0 + kTileRows);
    for (int c0 = 0; c0 < width; c0 += kTileColumns) fn(r0, r1, c0, std::min(width, c0 + kTileColumns));
  }
}

// The planes of an I420 source: luma as a sampler reads it, and the chroma planes with
// the bytes of each that may be read (up to the end of its last row).
struct I420Planes {
  SampleSource luma;
  const uint8_t* u;
  const uint8_t* v;
  int chroma_stride;
  size_t chroma_size;
};

// Bytes from a plane's first row to the end of its last: the vector paths use this bound,
// so no load passes the last row even where the buffer ends right there.
size_t PlaneExtent(int stride, int width, int rows) { return static_cast<size_t>(stride) * (rows - 1) + width; }

bool SourcePlanes(const I420View& src, int w, int h, I420Planes* planes) {
  if (w < 2 || h < 2 || w % 2 != 0 || h % 2 != 0) return false;
  if (!src.y || !src.u || !src.v || src.y_stride < w || src.uv_stride < w / 2) return false;
  planes->luma = {src.y, src.y_stride, PlaneExtent(src.y_stride, w, h)};
  planes->u = src.u;
  planes->v = src.v;
  planes->chroma_stride = src.uv_stride;
  planes->chroma_size = PlaneExtent(src.uv_stride, w / 2, h / 2);
  return true;
}

inline size_t ChromaIndex(const RemapEntry& e, int chroma_stride) {
  return static_cast<size_t>(e.y / 2) * chroma_stride + e.x / 2;
}

inline uint8_t Mix(int a, int b, int wa, int wb) { return static_cast<uint8_t>((a * wa + b * wb + 128) >> 8); }

bool ClampRows(int height, bool even, int* begin, int* end) {
  *begin = std::max(*begin, 0);
  *end = std::min(*end, height);
  if (*begin > *end) return false;
  if (even && (*begin % 2 != 0 || (*end % 2 != 0 && *end != height))) return false;
  return true;
}

// Rows of the vertical layout: rows before `v1` come from the first map, rows from `v2`
// on from the second, rows between are mixed with f = (e - k) * 255 / e for the first map.
struct VerticalPlan {
  int width = 0;
  int height = 0;
  int e = 0;
  int v1 = 0;
  int v2 = 0;
  int second_base = 0;  // second map row at output row v1
  int map_height = 0;
  int FirstRow(int r) const { return std::min(r, map_height - 1); }
  int SecondRow(int r) const { return std::clamp(second_base + (r - v1), 0, map_height - 1); }
  int FirstWeight(int r) const { return (e - (r - v1)) * 255 / e; }
};

bool BuildVerticalPlan(int map_width, int map_height, bool even, VerticalPlan* plan) {
  const int w = map_width;
  const int h = w / 2;
  if (w < 2 || w % 2 != 0 || map_height < 1 || map_height > h || 2 * map_height < h) return false;
  if (even && h % 2 != 0) return false;
  int e = std::min(2 * map_height - h, kBlendCapVertical);
  if (e % 2 != 0) --e;
  const int hb = e / 2;
  plan->width = w;
  plan->height = h;
  plan->e = e;
  plan->v1 = even ? EvenUp(w / 4 - hb) : w / 4 - hb;
  plan->v2 = plan->v1 + 2 * hb;
  plan->second_base = map_height - w / 4 - hb;
  plan->map_height = map_height;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The runs of each I420 row, for callers that stitch through another form of the maps.

struct I420Seams::Layout {
  bool horizontal = true;
  const RemapEntry* first = nullptr;
  const RemapEntry* second = nullptr;
  int map_width = 0;
  HorizontalPlan h;
  VerticalPlan v;
};

I420Seams::I420Seams() = default;
I420Seams::~I420Seams() = default;

bool I420Seams::Init(bool horizontal, const RemapEntry* first, const RemapEntry* second, int map_width,
                     int map_height) {
  auto l = std::make_unique<Layout>();
  l->horizontal = horizontal;
  l->first = first;
  l->second = second;
  l->map_width = map_width;
  const bool ok = horizontal
                      ? map_height % 2 == 0 && BuildHorizontalPlan(map_width, map_height, kBlendCapI420, true, 1, &l->h)
                      : BuildVerticalPlan(map_width, map_height, true, &l->v);
  if (!ok || !first || !second) return false;
  layout_ = std::move(l);
  return true;
}

int I420Seams::width() const { return layout_->horizontal ? layout_->h.width : layout_->v.width; }
int I420Seams::height() const { return layout_->horizontal ? layout_->h.height : layout_->v.height; }

void I420Seams::Row(int r, std::vector<SeamRun>* runs) const {
  const Layout& l = *layout_;
  runs->clear();
  if (!l.horizontal) {
    const VerticalPlan& p = l.v;
    const RemapEntry* frow = l.first + static_cast<size_t>(p.FirstRow(r)) * p.width;
    const RemapEntry* srow = l.second + static_cast<size_t>(p.SecondRow(r)) * p.width;
    SeamRun run{0, p.width, r < p.v2 ? frow : srow};
    if (r >= p.v1 && r < p.v2) {
      run.b = srow;
      run.fa = static_cast<uint8_t>(p.FirstWeight(r));
      run.fb = static_cast<uint8_t>(255 - p.FirstWeight(r));
    }
    runs->push_back(run);
    return;
  }
  const HorizontalPlan& p = l.h;
  const RemapEntry* frow = l.first + static_cast<size_t>(r) * l.map_width;
  const RemapEntry* srow = l.second + static_cast<size_t>(r) * l.map_width;
  for (const Span& sp : p.spans) {
    SeamRun run{sp.begin, sp.end};
    if (sp.second < 0) {
      run.a = frow + sp.first;
    } else if (sp.first < 0) {
      run.a = srow + sp.second;
    } else {
      run.a = frow + sp.first;
      run.b = srow + sp.second;
      run.wa = (sp.swap ? p.wb.data() : p.wa.data()) + sp.weight;
      run.wb = (sp.swap ? p.wa.data() : p.wb.data()) + sp.weight;
    }
    runs->push_back(run);
  }
}

const BlendDsp& ScalarBlendDsp() { return kScalarDsp; }

const BlendDsp& ActiveBlendDsp() {
  static const BlendDsp* const dsp = [] {
    const BlendDsp* avx2 = Avx2BlendDsp();
    return avx2 ? avx2 : &kScalarDsp;
  }();
  return *dsp;
}

const char* BlendCodePath() { return ActiveBlendDsp().name; }

// ---------------------------------------------------------------------------------------
// Horizontal seams.

bool BlendHorizontalI420With(const BlendDsp& dsp, const I420View& src, int src_width, int src_height, uint8_t* dst,
                             const RemapEntry* first, const RemapEntry* second, int map_width, int map_height,
                             int row_begin, int row_end) {
  I420Planes in;
  if (!SourcePlanes(src, src_width, src_height, &in) || !dst || !first || !second) return false;
  if (map_height % 2 != 0) return false;
  HorizontalPlan plan;
  if (!BuildHorizontalPlan(map_width, map_height, kBlendCapI420, true, 1, &plan)) return false;
  if (!ClampRows(plan.height, true, &row_begin, &row_end)) return false;

  const SampleSource& luma = in.luma;
  const int w = plan.width;
  const int cw = w / 2;
  const size_t out_luma = static_cast<size_t>(w) * plan.height;
  uint8_t* out_u = dst + out_luma;
  uint8_t* out_v = out_u + out_luma / 4;

  ForEachTile(row_begin, row_end, w, [&](int r0, int r1, int c0, int c1) {
    for (int r = r0; r < r1; ++r) {
      const RemapEntry* frow = first + static_cast<size_t>(r) * map_width;
      const RemapEntry* srow = second + static_cast<size_t>(r) * map_width;
      HorizontalRow(dsp, dsp.sample_plane, luma, plan, 1, frow, srow, c0, c1, dst + static_cast<size_t>(r) * w);
      if (r % 2 != 0) continue;
      // Chroma of each 2 x 2 block through the entry of its top-left pixel.
      uint8_t* ou = out_u + static_cast<size_t>(r / 2) * cw;
      uint8_t* ov = out_v + static_cast<size_t>(r / 2) * cw;
      for (const Span& whole : plan.spans) {
        const Span sp = Clip(whole, c0, c1);
        const int cb = EvenUp(sp.begin);
        if (cb >= sp.end) continue;
        if (sp.second < 0 || sp.first < 0) {
          const RemapEntry* e = sp.second < 0 ? frow + sp.first : srow + sp.second;
          dsp.pick_chroma(in.u, in.v, in.chroma_size, in.chroma_stride, e + (cb - sp.begin), (sp.end - cb + 1) / 2,
                          ou + cb / 2, ov + cb / 2);
          continue;
        }
        for (int c = cb; c < sp.end; c += 2) {
          const int off = c - sp.begin;
          const size_t i1 = ChromaIndex(frow[sp.first + off], in.chroma_stride);
          const size_t i2 = ChromaIndex(srow[sp.second + off], in.chroma_stride);
          const int wf = (sp.swap ? plan.wb : plan.wa)[sp.weight + off];
          const int ws = (sp.swap ? plan.wa : plan.wb)[sp.weight + off];
          ou[c / 2] = Mix(in.u[i1], in.u[i2], wf, ws);
          ov[c / 2] = Mix(in.v[i1], in.v[i2], wf, ws);
        }
      }
    }
  });
  return true;
}

bool BlendHorizontalPackedWith(const BlendDsp& dsp, const uint8_t* src, int src_stride, int src_height,
                               int bytes_per_pixel, uint8_t* dst, const RemapEntry* first, const RemapEntry* second,
                               int map_width, int map_height, int row_begin, int row_end) {
  if (!src || !dst || !first || !second || src_height < 2) return false;
  if (bytes_per_pixel != 3 && bytes_per_pixel != 4) return false;
  if (src_stride < 2 * bytes_per_pixel) return false;
  HorizontalPlan plan;
  if (!BuildHorizontalPlan(map_width, map_height, kBlendCapPacked, false, bytes_per_pixel, &plan)) return false;
  if (!ClampRows(plan.height, false, &row_begin, &row_end)) return false;

  const SampleSource s{src, src_stride, static_cast<size_t>(src_stride) * src_height};
  const SampleFn sample = bytes_per_pixel == 3 ? dsp.sample_packed3 : dsp.sample_packed4;
  const size_t out_stride = static_cast<size_t>(PackedRowStride(plan.width, bytes_per_pixel));
  ForEachTile(row_begin, row_end, plan.width, [&](int r0, int r1, int c0, int c1) {
    for (int r = r0; r < r1; ++r) {
      HorizontalRow(dsp, sample, s, plan, bytes_per_pixel, first + static_cast<size_t>(r) * map_width,
                    second + static_cast<size_t>(r) * map_width, c0, c1, dst + r * out_stride);
    }
  });
  return true;
}

// ---------------------------------------------------------------------------------------
// Vertical seams.

namespace {

// Output columns [c0, c1) (at most kTileColumns) of one row of the vertical layout, for
// one plane or packed pixels. Columns map one to one onto map columns.
void VerticalRow(const BlendDsp& dsp, SampleFn sample, const SampleSource& s, const VerticalPlan& plan, int bpp,
                 const RemapEntry* first, const RemapEntry* second, int r, int c0, int c1, uint8_t* out) {
  const int w = plan.width;
  const RemapEntry* frow = first + static_cast<size_t>(plan.FirstRow(r)) * w + c0;
  const RemapEntry* srow = second + static_cast<size_t>(plan.SecondRow(r)) * w + c0;
  const int n = c1 - c0;
  uint8_t* o = out + static_cast<ptrdiff_t>(c0) * bpp;
  if (r < plan.v1) {
    sample(s, frow, n, o);
  } else if (r >= plan.v2) {
    sample(s, srow, n, o);
  } else {
    uint8_t ta[kTileColumns * 4], tb[kTileColumns * 4], wa[kTileColumns * 4], wb[kTileColumns * 4];
    const int f = plan.FirstWeight(r);
    std::fill_n(wa, n * bpp, static_cast<uint8_t>(f));
    std::fill_n(wb, n * bpp, static_cast<uint8_t>(255 - f));
    sample(s, frow, n, ta);
    sample(s, srow, n, tb);
    dsp.mix(ta, tb, wa, wb, n * bpp, o);
  }
}

}  // namespace

bool BlendVerticalI420With(const BlendDsp& dsp, const I420View& src, int src_width, int src_height, uint8_t* dst,
                           const RemapEntry* first, const RemapEntry* second, int map_width, int map_height,
                           int row_begin, int row_end) {
  I420Planes in;
  if (!SourcePlanes(src, src_width, src_height, &in) || !dst || !first || !second) return false;
  VerticalPlan plan;
  if (!BuildVerticalPlan(map_width, map_height, true, &plan)) return false;
  if (!ClampRows(plan.height, true, &row_begin, &row_end)) return false;

  const SampleSource& luma = in.luma;
  const int w = plan.width;
  const int cw = w / 2;
  const size_t out_luma = static_cast<size_t>(w) * plan.height;
  uint8_t* out_u = dst + out_luma;
  uint8_t* out_v = out_u + out_luma / 4;
  ForEachTile(row_begin, row_end, w, [&](int r0, int r1, int c0, int c1) {
    for (int r = r0; r < r1; ++r) {
      VerticalRow(dsp, dsp.sample_plane, luma, plan, 1, first, second, r, c0, c1, dst + static_cast<size_t>(r) * w);
      if (r % 2 != 0) continue;
      // Blocks [b0, b1) of this chroma row, through the entries of their top-left pixels.
      const int b0 = c0 / 2, n = (c1 - c0 + 1) / 2;
      const RemapEntry* frow = first + static_cast<size_t>(plan.FirstRow(r)) * w + c0;
      const RemapEntry* srow = second + static_cast<size_t>(plan.SecondRow(r)) * w + c0;
      uint8_t* ou = out_u + static_cast<size_t>(r / 2) * cw + b0;
      uint8_t* ov = out_v + static_cast<size_t>(r / 2) * cw + b0;
      if (r < plan.v1 || r >= plan.v2) {
        dsp.pick_chroma(in.u, in.v, in.chroma_size, in.chroma_stride, r < plan.v1 ? frow : srow, n, ou, ov);
      } else {
        // The block's chroma takes the weight of its first row.
        uint8_t fu[kTileColumns / 2], fv[kTileColumns / 2], su[kTileColumns / 2], sv[kTileColumns / 2];
        uint8_t wa[kTileColumns / 2], wb[kTileColumns / 2];
        const int f = plan.FirstWeight(r);
        std::fill_n(wa, n, static_cast<uint8_t>(f));
        std::fill_n(wb, n, static_cast<uint8_t>(255 - f));
        dsp.pick_chroma(in.u, in.v, in.chroma_size, in.chroma_stride, frow, n, fu, fv);
        dsp.pick_chroma(in.u, in.v, in.chroma_size, in.chroma_stride, srow, n, su, sv);
        dsp.mix(fu, su, wa, wb, n, ou);
        dsp.mix(fv, sv, wa, wb, n, ov);
      }
    }
  });
  return true;
}

bool BlendVerticalPackedWith(const BlendDsp& dsp, const uint8_t* src, int src_stride, int src_height,
                             int bytes_per_pixel, uint8_t* dst, const RemapEntry* first, const RemapEntry* second,
                             int map_width, int map_height, int row_begin, int row_end) {
  if (!src || !dst || !first || !second || src_height < 2) return false;
  if (bytes_per_pixel != 3 && bytes_per_pixel != 4) return false;
  if (src_stride < 2 * bytes_per_pixel) return false;
  VerticalPlan plan;
  if (!BuildVerticalPlan(map_width, map_height, false, &plan)) return false;
  if (!ClampRows(plan.height, false, &row_begin, &row_end)) return false;

  const SampleSource s{src, src_stride, static_cast<size_t>(src_stride) * src_height};
  const SampleFn sample = bytes_per_pixel == 3 ? dsp.sample_packed3 : dsp.sample_packed4;
  const size_t out_stride = static_cast<size_t>(PackedRowStride(plan.width, bytes_per_pixel));
  ForEachTile(row_begin, row_end, plan.width, [&](int r0, int r1, int c0, int c1) {
    for (int r = r0; r < r1; ++r) {
      VerticalRow(dsp, sample, s, plan, bytes_per_pixel, first, second, r, c0, c1, dst + r * out_stride);
    }
  });
  return true;
}

bool BlendHorizontalI420With(const BlendDsp& dsp, const uint8_t* src, int src_width, int src_height, uint8_t* dst,
                             const RemapEntry* first, const RemapEntry* second, int map_width, int map_height,
                             int row_begin, int row_end) {
  return BlendHorizontalI420With(dsp, BackToBackI420(src, src_width, src_height), src_width, src_height, dst, first,
                                 second, map_width, map_height, row_begin, row_end);
}

bool BlendVerticalI420With(const BlendDsp& dsp, const uint8_t* src, int src_width, int src_height, uint8_t* dst,
                           const RemapEntry* first, const RemapEntry* second, int map_width, int map_height,
                           int row_begin, int row_end) {
  return BlendVerticalI420With(dsp, BackToBackI420(src, src_width, src_height), src_width, src_height, dst, first,
                               second, map_width, map_height, row_begin, row_end);
}

// ---------------------------------------------------------------------------------------
// Public entry points on the processor's fastest path.

I420View BackToBackI420(const uint8_t* src, int width, int height) {
  if (!src) return {};
  const size_t luma = static_cast<size_t>(width) * height;
  const size_t chroma = static_cast<size_t>(width / 2) * (height / 2);
  return {src, src + luma, src + luma + chroma, width, width / 2};
}

bool BlendHorizontalI420(const I420View& src, int src_width, int src_height, uint8_t* dst, const RemapEntry* first,
                         const RemapEntry* second, int map_width, int map_height, RowRange rows) {
  return BlendHorizontalI420With(ActiveBlendDsp(), src, src_width, src_height, dst, first, second, map_width,
                                 map_height, rows.begin, rows.end);
}

bool BlendVerticalI420(const I420View& src, int src_width, int src_height, uint8_t* dst, const RemapEntry* first,
                       const RemapEntry* second, int map_width, int map_height, RowRange rows) {
  return BlendVerticalI420With(ActiveBlendDsp(), src, src_width, src_height, dst, first, second, map_width, map_height,
                               rows.begin, rows.end);
}

bool BlendHorizontalI420(const uint8_t* src, int src_width, int src_height, uint8_t* dst, const RemapEntry* first,
                         const RemapEntry* second, int map_width, int map_height, RowRange rows) {
  return BlendHorizontalI420With(ActiveBlendDsp(), src, src_width, src_height, dst, first, second, map_width,
                                 map_height, rows.begin, rows.end);
}

bool BlendVerticalI420(const uint8_t* src, int src_width, int src_height, uint8_t* dst, const RemapEntry* first,
                       const RemapEntry* second, int map_width, int map_height, RowRange rows) {
  return BlendVerticalI420With(ActiveBlendDsp(), src, src_width, src_height, dst, first, second, map_width, map_height,
                               rows.begin, rows.end);
}

bool BlendHorizontalPacked(const uint8_t* src, int src_stride, int src_height, int bytes_per_pixel, uint8_t* dst,
                           const RemapEntry* first, const RemapEntry* second, int map_width, int map_height,
                           RowRange rows) {
  return BlendHorizontalPackedWith(ActiveBlendDsp(), src, src_stride, src_height, bytes_per_pixel, dst, first, second,
                                   map_width, map_height, rows.begin, rows.end);
}

bool BlendVerticalPacked(const uint8_t* src, int src_stride, int src_height, int bytes_per_pixel, uint8_t* dst,
                         const RemapEntry* first, const RemapEntry* second, int map_width, int map_height,
                         RowRange rows) {
  return BlendVerticalPackedWith(ActiveBlendDsp(), src, src_stride, src_height, bytes_per_pixel, dst, first, second,
                                 map_width, map_height, rows.begin, rows.end);
}

}  // namespace spherolux
