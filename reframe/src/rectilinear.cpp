#include "reframe/rectilinear.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/row_slices.h"
#include "sample_row.h"

namespace spherolux::reframe {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kCell = 16;
constexpr float kTolerance = 0.1f;  // panorama pixels

// The view's projection: output positions to panorama positions.
class Projection {
 public:
  Projection(const ViewState& view, int w, int h, int pano_w, int pano_h) : w_(w), h_(h), pw_(pano_w), ph_(pano_h) {
    const double tan_half = std::tan(std::clamp(view.fov, 1.0, 179.0) * kPi / 360.0);
    f_ = (w / 2.0) / tan_half;
    const std::array<double, 3> x = RotateToWorld(view.rotation, {1, 0, 0}),
                                y = RotateToWorld(view.rotation, {0, 1, 0}),
                                z = RotateToWorld(view.rotation, {0, 0, 1});
    for (int i = 0; i < 3; ++i) {
      m_[i * 3] = x[i];
      m_[i * 3 + 1] = y[i];
      m_[i * 3 + 2] = z[i];
    }
  }

  // The panorama position seen at output position (px, py) (continuous, pixel centres at +0.5).
  void Exact(double px, double py, float* u, float* v) const {
    const double rx = (px - w_ / 2.0) / f_, ry = (h_ / 2.0 - py) / f_;
    const double wx = m_[0] * rx + m_[1] * ry + m_[2], wy = m_[3] * rx + m_[4] * ry + m_[5],
                 wz = m_[6] * rx + m_[7] * ry + m_[8];
    const double lon = std::atan2(wx, wz), lat = std::atan2(wy, std::hypot(wx, wz));
    *u = static_cast<float>((lon / (2 * kPi) + 0.5) * pw_);
    *v = static_cast<float>((0.5 - lat / kPi) * ph_);
  }

  int pano_w() const { return pw_; }

  // Whether the world's pole in direction `up` (+1 the zenith, -1 the nadir) lies within the
  // output rectangle [0, w] x [0, h].
  bool Sees(int up) const {
    const double x = m_[3] * up, y = m_[4] * up, z = m_[5] * up;
    return z > 0 && std::fabs(f_ * x / z) <= w_ / 2.0 && std::fabs(f_ * y / z) <= h_ / 2.0;
  }

 private:
  int w_, h_, pw_, ph_;
  double f_ = 1;
  double m_[9] = {};
};

// The projection on the corners of 16 x 16 cells, interpolated inside the cells that allow it.
class Grid {
 public:
  Grid(const Projection& p, int w, int h) : p_(p), cols_(w / kCell + 2), rows_(h / kCell + 2) {
    u_.resize(static_cast<size_t>(cols_) * rows_);
    v_.resize(u_.size());
    for (int j = 0; j < rows_; ++j)
      for (int i = 0; i < cols_; ++i) p.Exact(i * kCell, j * kCell, &u_[Index(i, j)], &v_[Index(i, j)]);
    exact_.resize(static_cast<size_t>(cols_ - 1) * (rows_ - 1));
    for (int j = 0; j + 1 < rows_; ++j)
      for (int i = 0; i + 1 < cols_; ++i) {
        bool exact = false;
        for (const auto& [fx, fy] : {std::pair{0.5f, 0.5f}, {0.5f, 0.0f}, {0.0f, 0.5f}}) {
          float u, v, iu, iv;
          p.Exact((i + fx) * kCell, (j + fy) * kCell, &u, &v);
          Interpolate(i, j, fx, fy, &iu, &iv);
          exact = exact || std::fabs(Wrapped(u - iu)) > kTolerance || std::fabs(v - iv) > kTolerance;
        }
        exact_[static_cast<size_t>(j) * (cols_ - 1) + i] = exact;
      }
  }

  // The panorama positions seen along the row at height py, at px = x0 + k * step for
  // k = 0..n-1 (within [0, w]), in 16.16 fixed point, u already wrapped into [0, pano width).
  void Row(float x0, float step, int n, float py, int32_t* u, int32_t* v) const {
    const int j = static_cast<int>(py) / kCell;
    const float fy = py / kCell - j;
    const float w = static_cast<float>(p_.pano_w()), dx = step / kCell;
    const int32_t wrap = static_cast<int32_t>(w * 65536.0f);
    // The position where this row crosses the left edge of cell i.
    const auto edge = [&](int i, float* eu, float* ev) {
      const size_t a = Index(i, j), c = Index(i, j + 1);
      *eu = u_[a] + Wrapped(u_[c] - u_[a]) * fy;
      *ev = v_[a] + (v_[c] - v_[a]) * fy;
    };
    float ul = 0, vl = 0, ur = 0, vr = 0, cu = 0, cv = 0;
    int left = -1;  // the cell whose left edge ul, vl hold
    for (int k = 0; k < n;) {
      const float px = x0 + k * step;
      const int i = static_cast<int>(px) / kCell;
      // The pixels of this row that fall into cell i.
      const int count = std::clamp(static_cast<int>(std::ceil(((i + 1) * kCell - px) / step)), 1, n - k);
      if (exact_[static_cast<size_t>(j) * (cols_ - 1) + i]) {
        for (int m = 0; m < count; ++m) {
          p_.Exact(px + m * step, py, &cu, &cv);
          Store(cu, cv, w, u + k + m, v + k + m);
        }
      } else {
        if (left != i) edge(i, &ul, &vl);
        edge(i + 1, &ur, &vr);
        const float du_cell = Wrapped(ur - ul), dv_cell = vr - vl;
        // Along the cell the position moves by equal steps: added in fixed point.
        const float fx = px / kCell - i;
        int32_t fu, fv;
        Store(ul + du_cell * fx, vl + dv_cell * fx, w, &fu, &fv);
        const auto du = static_cast<int32_t>(du_cell * dx * 65536.0f),
                   dv = static_cast<int32_t>(dv_cell * dx * 65536.0f);
        for (int m = 0; m < count; ++m) {
          const int32_t pu = fu + m * du;
          u[k + m] = pu + (pu < 0 ? wrap : 0) - (pu >= wrap ? wrap : 0);
          v[k + m] = fv + m * dv;
        }
        left = i + 1;
        ul = ur;
        vl = vr;
      }
      k += count;
    }
  }

 private:
  size_t Index(int i, int j) const { return static_cast<size_t>(j) * cols_ + i; }
  float Wrapped(float du) const {
    const float w = static_cast<float>(p_.pano_w());
    return du > w / 2 ? du - w : du < -w / 2 ? du + w : du;
  }
  void Interpolate(int i, int j, float fx, float fy, float* u, float* v) const {
    const size_t a = Index(i, j), b = Index(i + 1, j), c = Index(i, j + 1), d = Index(i + 1, j + 1);
    // Corners taken on the same side of the panorama's left and right edges as the first.
    const float u0 = u_[a], ub = u0 + Wrapped(u_[b] - u0), uc = u0 + Wrapped(u_[c] - u0), ud = u0 + Wrapped(u_[d] - u0);
    *u = (u0 * (1 - fx) + ub * fx) * (1 - fy) + (uc * (1 - fx) + ud * fx) * fy;
    *v = (v_[a] * (1 - fx) + v_[b] * fx) * (1 - fy) + (v_[c] * (1 - fx) + v_[d] * fx) * fy;
  }

  static void Store(float u, float v, float w, int32_t* fu, int32_t* fv) {
    u = u < 0 ? u + w : u >= w ? u - w : u;
    *fu = static_cast<int32_t>(u * 65536.0f);
    *fv = static_cast<int32_t>(v * 65536.0f);
  }

  const Projection& p_;
  int cols_, rows_;
  std::vector<float> u_, v_;
  std::vector<uint8_t> exact_;
};

}  // namespace

void SampleRowScalar(const PlaneRef& plane, const int32_t* u, const int32_t* v, int n, int shift, uint8_t* out) {
  const int pw = plane.width, ph = plane.height;
  for (int k = 0; k < n; ++k) {
    const int32_t su = (u[k] >> shift) - 32768;
    const int32_t sv = std::clamp((v[k] >> shift) - 32768, 0, (ph - 1) << 16);
    int x0 = su >> 16;
    const int ax = (su >> 8) & 0xFF, ay = (sv >> 8) & 0xFF;
    if (x0 < 0) x0 += pw;
    const int x1 = x0 + 1 == pw ? 0 : x0 + 1;
    const int y0 = sv >> 16, y1 = std::min(y0 + 1, ph - 1);
    const uint8_t* r0 = plane.data + static_cast<size_t>(y0) * plane.stride;
    const uint8_t* r1 = plane.data + static_cast<size_t>(y1) * plane.stride;
    const int top = (r0[x0] << 8) + (r0[x1] - r0[x0]) * ax, bottom = (r1[x0] << 8) + (r1[x1] - r1[x0]) * ax;
    out[k] = static_cast<uint8_t>(((top << 8) + (bottom - top) * ay + 32768) >> 16);
  }
}

SampleRowFn ActiveSampleRow() {
  static const SampleRowFn active = SampleRowAvx2() ? SampleRowAvx2() : SampleRowScalar;
  return active;
}

int PanoramaWidthFor(int width, double fov, int source_width) {
  const double wanted = width * 360.0 / std::clamp(fov, 1.0, 170.0);
  return std::max(4, static_cast<int>(std::min<double>(wanted, source_width)) & ~3);
}

void PanoramaRows(int pano_w, int pano_h, const ViewState& view, int w, int h, int* first, int* end) {
  const Projection p(view, w, h, pano_w, pano_h);
  // Latitude has no extreme inside the view but at a pole, so the rows seen lie between the
  // lowest and highest row met along the rectangle's border (walked a pixel at a time) or
  // reach a pole the view holds. Margins cover the bilinear neighbours and the grid's error.
  float top = p.Sees(1) ? 0 : static_cast<float>(pano_h), bottom = p.Sees(-1) ? static_cast<float>(pano_h) : 0;
  auto meet = [&](double x, double y) {
    float u, v;
    p.Exact(x, y, &u, &v);
    top = std::min(top, v);
    bottom = std::max(bottom, v);
  };
  for (int x = 0; x <= w; ++x) {
    meet(x, 0);
    meet(x, h);
  }
  for (int y = 0; y <= h; ++y) {
    meet(0, y);
    meet(w, y);
  }
  constexpr int kMargin = 4;
  *first = std::clamp(static_cast<int>(std::floor(top)) - kMargin, 0, pano_h) & ~1;
  *end = std::min(pano_h, (static_cast<int>(std::ceil(bottom)) + kMargin + 1) & ~1);
}

bool RenderRectilinear(const I420View& panorama, int pano_w, int pano_h, const ViewState& view, uint8_t* out, int w,
                       int h, int threads) {
  if (w <= 0 || h <= 0 || w % 2 != 0 || h % 2 != 0 || pano_w < 4 || pano_h < 2 || !panorama.y || !panorama.u ||
      !panorama.v || !out)
    return false;
  const Projection projection(view, w, h, pano_w, pano_h);
  const Grid grid(projection, w, h);
  uint8_t* const out_u = out + static_cast<size_t>(w) * h;
  uint8_t* const out_v = out_u + static_cast<size_t>(w / 2) * (h / 2);
  const SampleRowFn sample = ActiveSampleRow();
  const PlaneRef luma{panorama.y, panorama.y_stride, pano_w, pano_h};
  const PlaneRef chroma_u{panorama.u, panorama.uv_stride, pano_w / 2, pano_h / 2};
  const PlaneRef chroma_v{panorama.v, panorama.uv_stride, pano_w / 2, pano_h / 2};
  RunRowSlices(h, 2, threads, [&](int begin, int end) {
    std::vector<int32_t> u(static_cast<size_t>(w)), v(static_cast<size_t>(w));
    for (int y = begin; y < end; ++y) {
      grid.Row(0.5f, 1.0f, w, y + 0.5f, u.data(), v.data());
      sample(luma, u.data(), v.data(), w, 0, out + static_cast<size_t>(y) * w);
      if (y % 2 != 0) continue;
      // Chroma at the centre of each 2 x 2 block, in the half-size planes.
      grid.Row(1.0f, 2.0f, w / 2, y + 1.0f, u.data(), v.data());
      const size_t c = static_cast<size_t>(y / 2) * (w / 2);
      sample(chroma_u, u.data(), v.data(), w / 2, 1, out_u + c);
      sample(chroma_v, u.data(), v.data(), w / 2, 1, out_v + c);
    }
  });
  return true;
}

}  // namespace spherolux::reframe
