#include "sample_plan.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "base/row_slices.h"

namespace spherolux {

void* AllocateLarge(size_t bytes) {
  constexpr size_t kHugePage = size_t{2} << 20;
  const size_t align = bytes >= kHugePage ? kHugePage : 64;
  const size_t rounded = (std::max<size_t>(bytes, 1) + align - 1) / align * align;
  void* p = std::aligned_alloc(align, rounded);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (p && align == kHugePage) madvise(p, rounded, MADV_HUGEPAGE);  // a hint: refusal changes nothing
#endif
  return p;
}

namespace {

int Groups(int n) { return (n + 7) / 8; }

// Far positions of one slice of rows, and the groups that point into them; the indices
// become global once every slice is done.
struct FarSlice {
  std::vector<uint16_t> positions;
  std::vector<uint8_t*> owners;  // the dx bytes of each far group, holding a local index
};

void StoreIndex(uint8_t* dx, uint32_t index) { std::memcpy(dx, &index, sizeof(index)); }
uint32_t LoadIndex(const uint8_t* dx) {
  uint32_t index;
  std::memcpy(&index, dx, sizeof(index));
  return index;
}

// Base position (smallest column and row) of eight positions, and the rows they span
// below it, when every column lies within `reach` of the base; 0 when one does not or
// they span more than three rows.
int NearRows(const int* x, const int* y, int reach, int* xb, int* yb) {
  *xb = *std::min_element(x, x + 8);
  *yb = *std::min_element(y, y + 8);
  const int rows = *std::max_element(y, y + 8) - *yb + 1;
  if (*std::max_element(x, x + 8) - *xb > reach || rows > 3) return 0;
  return rows;
}

// Whether 16-byte loads at column xb <= width - 1 of rows up to `last` stay inside a plane
// of width x height (width >= 16) with any stride >= width: a load that runs past its
// row's end (by at most 15 bytes) still ends inside the next row, but the last row has
// none.
bool RowLoadsFit(int xb, int last, int width, int height) {
  return width >= 16 && (last <= height - 2 || (last == height - 1 && xb + 16 <= width));
}

void SetPlace(int kind, int xb, int yb, const int* x, const int* y, GroupPlace* at, FarSlice* far) {
  *at = GroupPlace{};
  at->near = static_cast<uint8_t>(kind);
  if (kind != kFar) {
    at->x = static_cast<uint16_t>(xb);
    at->y = static_cast<uint16_t>(yb);
    for (int j = 0; j < 8; ++j) {
      at->dx[j] = static_cast<uint8_t>(x[j] - xb);
      at->dy = static_cast<uint8_t>(at->dy | (y[j] - yb >= 1) << j);
      at->dy2 = static_cast<uint8_t>(at->dy2 | (y[j] - yb >= 2) << j);
    }
    return;
  }
  StoreIndex(at->dx, static_cast<uint32_t>(far->positions.size()));
  for (int j = 0; j < 8; ++j) far->positions.push_back(static_cast<uint16_t>(x[j]));
  for (int j = 0; j < 8; ++j) far->positions.push_back(static_cast<uint16_t>(y[j]));
  far->owners.push_back(at->dx);
}

// Position of pixel (block) j of a group.
void PlaceOf(const GroupPlace& at, const uint16_t* far, int j, int* x, int* y) {
  if (at.near == kFar) {
    const uint16_t* fp = far + LoadIndex(at.dx);
    *x = fp[j];
    *y = fp[8 + j];
  } else {
    *x = at.x + at.dx[j];
    *y = at.y + (at.dy >> j & 1) + (at.dy2 >> j & 1);
  }
}

// Luma group of entries e[0 .. 8): a pixel reads two bytes on its row and the row below,
// so a near group loads one row more than its pixels span (three or four).
void PackSamples(const RemapEntry* const* e, int w, int h, SampleGroup* g, FarSlice* far) {
  int x[8], y[8], xb = 0, yb = 0;
  for (int j = 0; j < 8; ++j) {
    x[j] = e[j]->x;
    y[j] = e[j]->y;
    g->wx[2 * j] = e[j]->wx0;
    g->wx[2 * j + 1] = e[j]->wx1;
    g->wy[2 * j] = e[j]->wy0;
    g->wy[2 * j + 1] = e[j]->wy1;
  }
  int rows = NearRows(x, y, 14, &xb, &yb);
  if (rows == 1) rows = 2;  // loaded as two rows like any other
  const int kind = rows == 0 || !RowLoadsFit(xb, yb + rows, w, h) ? kFar : rows == 2 ? kNear2 : kNear3;
  SetPlace(kind, xb, yb, x, y, &g->at, far);
}

// Chroma group of the blocks whose first entries are e[0 .. 8), on chroma planes of
// cw x ch: a near group loads the two or three rows its blocks span.
void PackPicks(const RemapEntry* const* e, int cw, int ch, PickGroup* g, FarSlice* far) {
  int x[8], y[8], xb = 0, yb = 0;
  for (int j = 0; j < 8; ++j) {
    x[j] = e[j]->x / 2;
    y[j] = e[j]->y / 2;
  }
  int rows = NearRows(x, y, 15, &xb, &yb);
  if (rows == 1) rows = 2;
  const int kind = rows == 0 || !RowLoadsFit(xb, yb + rows - 1, cw, ch) ? kFar : rows == 2 ? kNear2 : kNear3;
  SetPlace(kind, xb, yb, x, y, g, far);
}

// Packs n entries (n > 0) into ceil(n / 8) groups, the tail padded with the last entry;
// every `step`th entry when packing chroma blocks.
template <typename Group, typename Pack>
void PackRun(const RemapEntry* const* entries, int n, Group* out, const Pack& pack) {
  for (int i = 0; i < n; i += 8) {
    const RemapEntry* e[8];
    for (int j = 0; j < 8; ++j) e[j] = entries[std::min(i + j, n - 1)];
    pack(e, out++);
  }
}

// Sizes and offsets of every row's groups, chroma picks, mixed runs and weights, and the
// storage for them; nothing is packed yet.
bool LayOutPlan(const I420Seams& seams, SamplePlan* p) {
  const int w = p->width;
  std::vector<SeamRun> runs;
  size_t groups = 0, picks = 0, weights = 0;
  try {
    p->rows.resize(static_cast<size_t>(p->height));
    for (int r = 0; r < p->height; ++r) {
      SampleRow& row = p->rows[r];
      row.groups = groups;
      row.picks = picks;
      row.mixes = p->mixes.size();
      groups += Groups(w);
      if (r % 2 == 0) picks += Groups(w / 2);
      seams.Row(r, &runs);
      for (const SeamRun& run : runs) {
        if (!run.b || run.begin >= run.end) continue;
        MixRun m;
        m.begin = run.begin;
        m.end = run.end;
        // Blocks whose first column lies in the run.
        m.block_begin = r % 2 == 0 ? (run.begin + 1) / 2 : 0;
        m.block_end = r % 2 == 0 ? (run.end + 1) / 2 : 0;
        m.groups = groups;
        m.picks = picks;
        m.weights = weights;
        groups += Groups(m.end - m.begin);
        picks += Groups(m.block_end - m.block_begin);
        weights += 2 * static_cast<size_t>(m.end - m.begin) + 2 * static_cast<size_t>(m.block_end - m.block_begin);
        p->mixes.push_back(m);
        ++row.mix_count;
      }
    }
    p->weights.resize(weights);
  } catch (const std::bad_alloc&) {
    return false;
  }
  p->groups = AllocateLargeArray<SampleGroup>(groups);
  p->picks = AllocateLargeArray<PickGroup>(std::max<size_t>(picks, 1));
  return p->groups && p->picks;
}

// Packs rows [r0, r1) of a laid-out plan: the primary lens's groups and picks of every row,
// then each mixed run's second-lens groups, picks and weights. Far positions go to `far`.
void PackRows(const I420Seams& seams, int r0, int r1, SamplePlan* p, FarSlice* far) {
  const int w = p->width;
  const int sw = p->source_width, sh = p->source_height;
  const int cw = sw / 2, ch = sh / 2;
  auto samples = [&](const RemapEntry* const* e, SampleGroup* g) { PackSamples(e, sw, sh, g, far); };
  auto chroma = [&](const RemapEntry* const* e, PickGroup* g) { PackPicks(e, cw, ch, g, far); };
  std::vector<SeamRun> row_runs;
  std::vector<const RemapEntry*> primary(static_cast<size_t>(w)), blocks(static_cast<size_t>(w / 2) + 1);
  for (int r = r0; r < r1; ++r) {
    const SampleRow& row = p->rows[r];
    seams.Row(r, &row_runs);
    for (const SeamRun& run : row_runs) {
      for (int c = run.begin; c < run.end; ++c) primary[c] = run.a + (c - run.begin);
    }
    PackRun(primary.data(), w, &p->groups[row.groups], samples);
    if (r % 2 == 0) {
      for (int k = 0; k < w / 2; ++k) blocks[k] = primary[2 * k];
      PackRun(blocks.data(), w / 2, &p->picks[row.picks], chroma);
    }
    const MixRun* m = p->mixes.data() + row.mixes;
    for (const SeamRun& run : row_runs) {
      if (!run.b || run.begin >= run.end) continue;
      const int n = run.end - run.begin;
      std::vector<const RemapEntry*> second(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) second[i] = run.b + i;
      PackRun(second.data(), n, &p->groups[m->groups], samples);
      uint8_t* wt = p->weights.data() + m->weights;
      for (int i = 0; i < n; ++i) {
        wt[i] = static_cast<uint8_t>(run.WeightA(i));
        wt[n + i] = static_cast<uint8_t>(run.WeightB(i));
      }
      const int nb = m->block_end - m->block_begin;
      if (nb > 0) {
        for (int k = 0; k < nb; ++k) {
          const int i = 2 * (m->block_begin + k) - run.begin;
          blocks[k] = second[i];
          wt[2 * n + k] = static_cast<uint8_t>(run.WeightA(i));
          wt[2 * n + nb + k] = static_cast<uint8_t>(run.WeightB(i));
        }
        PackRun(blocks.data(), nb, &p->picks[m->picks], chroma);
      }
      ++m;
    }
  }
}

// Appends each slice's far positions to the plan and turns the slice-local indices held by
// its groups into indices of the plan's far array.
bool JoinFarSlices(std::vector<FarSlice>& slices, SamplePlan* p) {
  try {
    for (FarSlice& s : slices) {
      const uint32_t base = static_cast<uint32_t>(p->far.size());
      for (uint8_t* dx : s.owners) StoreIndex(dx, base + LoadIndex(dx));
      p->far.insert(p->far.end(), s.positions.begin(), s.positions.end());
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

bool BuildSamplePlan(const I420Seams& seams, int source_width, int source_height, int threads, SamplePlan* plan) {
  *plan = SamplePlan{};
  const int w = seams.width();
  if (w < 2 || w % 2 != 0 || source_width < 2 || source_height < 2) return false;
  SamplePlan p;
  p.width = w;
  p.height = seams.height();
  p.source_width = source_width;
  p.source_height = source_height;
  if (!LayOutPlan(seams, &p)) return false;

  // Slices of rows are packed on several threads; each keeps its far positions apart.
  std::mutex lock;
  std::vector<FarSlice> slices;
  bool ok = true;
  RunRowSlices(p.height, 2, threads, [&](int r0, int r1) {
    FarSlice far;
    try {
      PackRows(seams, r0, r1, &p, &far);
    } catch (const std::bad_alloc&) {
      std::lock_guard<std::mutex> hold(lock);
      ok = false;
      return;
    }
    std::lock_guard<std::mutex> hold(lock);
    slices.push_back(std::move(far));
  });
  if (!ok || !JoinFarSlices(slices, &p)) return false;
  *plan = std::move(p);
  return true;
}

// ---------------------------------------------------------------------------------------
// Scalar reference path.

void SampleGroupScalar(const SampleSource& s, const SampleGroup& g, const uint16_t* far, int count, uint8_t* out) {
  for (int j = 0; j < count; ++j) {
    int x, y;
    PlaceOf(g.at, far, j, &x, &y);
    const uint8_t* p = s.src + y * s.stride + x;
    const uint32_t top = p[0] * uint32_t{g.wx[2 * j]} + p[1] * uint32_t{g.wx[2 * j + 1]};
    const uint32_t bottom = p[s.stride] * uint32_t{g.wx[2 * j]} + p[s.stride + 1] * uint32_t{g.wx[2 * j + 1]};
    out[j] = static_cast<uint8_t>((g.wy[2 * j] * top + g.wy[2 * j + 1] * bottom + 32768) >> 16);
  }
}

void PickGroupScalar(const uint8_t* u, const uint8_t* v, ptrdiff_t chroma_stride, const PickGroup& g,
                     const uint16_t* far, int count, uint8_t* out_u, uint8_t* out_v) {
  for (int j = 0; j < count; ++j) {
    int x, y;
    PlaceOf(g, far, j, &x, &y);
    const ptrdiff_t i = y * chroma_stride + x;
    out_u[j] = u[i];
    out_v[j] = v[i];
  }
}

namespace {

void SampleScalar(const SampleSource& s, const SampleGroup* groups, const uint16_t* far, int n, uint8_t* out) {
  for (int i = 0; i < n; i += 8) SampleGroupScalar(s, groups[i / 8], far, std::min(8, n - i), out + i);
}

void PickScalar(const uint8_t* u, const uint8_t* v, ptrdiff_t chroma_stride, const PickGroup* groups,
                const uint16_t* far, int n, uint8_t* out_u, uint8_t* out_v) {
  for (int i = 0; i < n; i += 8) {
    PickGroupScalar(u, v, chroma_stride, groups[i / 8], far, std::min(8, n - i), out_u + i, out_v + i);
  }
}

constexpr PlanDsp kScalarPlanDsp = {"scalar", SampleScalar, PickScalar};

}  // namespace

const PlanDsp& ScalarPlanDsp() { return kScalarPlanDsp; }

const PlanDsp& ActivePlanDsp() {
  static const PlanDsp* const dsp = [] {
    const PlanDsp* avx2 = Avx2PlanDsp();
    return avx2 ? avx2 : &kScalarPlanDsp;
  }();
  return *dsp;
}

// ---------------------------------------------------------------------------------------
// Rows of a frame.

bool RunSamplePlan(const PlanDsp& dsp, const BlendDsp& mix, const SamplePlan& plan, const I420View& src, uint8_t* dst,
                   int row_begin, int row_end) {
  const int w = plan.width;
  const int h = plan.height;
  const int sw = plan.source_width;
  if (!dst || !plan.groups || !src.y || !src.u || !src.v || src.y_stride < sw || src.uv_stride < sw / 2) return false;
  row_begin = std::max(row_begin, 0);
  row_end = std::min(row_end, h);
  if (row_begin > row_end || row_begin % 2 != 0 || (row_end % 2 != 0 && row_end != h)) return false;

  const SampleSource luma{src.y, src.y_stride,
                          static_cast<size_t>(src.y_stride) * (plan.source_height - 1) + static_cast<size_t>(sw)};
  const int cw = w / 2;
  uint8_t* out_u = dst + static_cast<size_t>(w) * h;
  uint8_t* out_v = out_u + static_cast<size_t>(cw) * (h / 2);
  const SampleGroup* groups = plan.groups.get();
  const PickGroup* picks = plan.picks.get();
  const uint16_t* far = plan.far.data();
  std::vector<uint8_t> scratch(3 * static_cast<size_t>(w));
  uint8_t* ta = scratch.data();
  uint8_t* tu = ta + w;
  uint8_t* tv = tu + w;
  for (int r = row_begin; r < row_end; ++r) {
    const SampleRow& row = plan.rows[r];
    uint8_t* oy = dst + static_cast<size_t>(r) * w;
    dsp.sample(luma, groups + row.groups, far, w, oy);
    for (int k = 0; k < row.mix_count; ++k) {
      const MixRun& m = plan.mixes[row.mixes + k];
      const int n = m.end - m.begin;
      const uint8_t* wt = plan.weights.data() + m.weights;
      dsp.sample(luma, groups + m.groups, far, n, ta);
      mix.mix(oy + m.begin, ta, wt, wt + n, n, oy + m.begin);
    }
    if (r % 2 != 0) continue;
    uint8_t* ou = out_u + static_cast<size_t>(r / 2) * cw;
    uint8_t* ov = out_v + static_cast<size_t>(r / 2) * cw;
    dsp.pick(src.u, src.v, src.uv_stride, picks + row.picks, far, cw, ou, ov);
    for (int k = 0; k < row.mix_count; ++k) {
      const MixRun& m = plan.mixes[row.mixes + k];
      const int nb = m.block_end - m.block_begin;
      if (nb <= 0) continue;
      const uint8_t* wt = plan.weights.data() + m.weights + 2 * static_cast<size_t>(m.end - m.begin);
      dsp.pick(src.u, src.v, src.uv_stride, picks + m.picks, far, nb, tu, tv);
      mix.mix(ou + m.block_begin, tu, wt, wt + nb, nb, ou + m.block_begin);
      mix.mix(ov + m.block_begin, tv, wt, wt + nb, nb, ov + m.block_begin);
    }
  }
  return true;
}

}  // namespace spherolux
