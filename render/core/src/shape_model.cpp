#include "render/shape_model.h"

#include <algorithm>
#include <cmath>

namespace spherolux::render {
namespace {

// The mesh generators use these single-precision values of pi and 2 pi.
constexpr float kPi = 3.1415926f;
constexpr float kTwoPi = 6.2831852f;
constexpr float kHalfPi = kPi / 2.0f;

// Rows of a grid table that the two-lens sphere reads (0 to 102 degrees in 2-degree steps).
constexpr int kSphereTableRows = 52;
// Sphere row on which row 0 of the back lens's table lies.
constexpr int kBackLensFirstRow = 39;

float TruncMod360(float value) { return std::fmod(std::trunc(value), 360.0f); }

void DampVelocity(std::atomic<float>& velocity) {
  const float v = velocity.load();
  velocity.store(v > -0.1f && v < 0.1f ? 0.0f : v * 0.98f);
}

// Grid points in pixels to texture coordinates, pairs (x / width, y / height).
void TableToUv(const float* table, size_t floats, int width, int height, float* uv) {
  const float w = static_cast<float>(width);
  const float h = static_cast<float>(height);
  for (size_t i = 0; i + 1 < floats; i += 2) {
    uv[i] = table[i] / w;
    uv[i + 1] = table[i + 1] / h;
  }
}

// Cap from +y down to 96 degrees, shared by the half ball and the in-dome view.
void GenerateCap(int slices, int stacks, const float* table_a, int count, int width, int height,
                 std::vector<float>& positions, std::vector<float>& uv_a) {
  float* p = positions.data();
  for (int k = 0; k <= stacks; ++k) {
    const float theta = static_cast<float>(k) * kPi / 90.0f;
    for (int l = 0; l <= slices; ++l) {
      const float phi = static_cast<float>(l) * kTwoPi / 180.0f - kHalfPi;
      *p++ = std::cos(phi) * std::sin(theta);
      *p++ = std::cos(theta);
      *p++ = std::sin(theta) * std::sin(phi);
    }
  }
  if (table_a != nullptr && count > 0) {
    TableToUv(table_a, std::min(static_cast<size_t>(count), uv_a.size()), width, height, uv_a.data());
  }
}

}  // namespace

// ---- CShapeModel ----

CShapeModel::CShapeModel(float diagonal, int slices, int stacks, bool second_uv_set)
    : diagonal_(diagonal), half_diagonal_(diagonal * 0.5f), slices_(slices), stacks_(stacks) {
  const size_t vertices = static_cast<size_t>(vertex_count());
  positions_.assign(vertices * 3, 0.0f);
  uv_a_.assign(vertices * 2, 0.0f);
  if (second_uv_set) uv_b_.assign(vertices * 2, 0.0f);

  // Two triangles per grid cell; s is the stride of one row of vertices.
  indices_.reserve(static_cast<size_t>(stacks) * slices * 6);
  const int s = slices + 1;
  for (int j = 0; j < stacks; ++j) {
    for (int k = 0; k < slices; ++k) {
      const int c = j * s + k;
      for (int index : {c, c + 1, c + s, c + s, c + 1, c + s + 1}) indices_.push_back(static_cast<uint16_t>(index));
    }
  }
}

CShapeModel::~CShapeModel() = default;

float CShapeModel::GetYaw() const { return yaw_.load(); }
float CShapeModel::GetPitch() const { return pitch_.load(); }
void CShapeModel::GenerateMesh(const float*, int, int, int, const float*) {}
void CShapeModel::NormalizeYaw() {}
void CShapeModel::NormalizePitch() {}
void CShapeModel::ResetView() {}
void CShapeModel::SetFov(float fov) { fov_.store(fov); }
void CShapeModel::SetEyeDistance(float) {}
void CShapeModel::SetFlip(bool) {}

void CShapeModel::Update(bool) {
  if (reset_pending_.load()) ResetView();
  DampVelocity(yaw_velocity_);
  DampVelocity(pitch_velocity_);
  yaw_.fetch_add(yaw_velocity_.load());
  NormalizeYaw();
  pitch_.fetch_add(pitch_velocity_.load());
  NormalizePitch();
}

void CShapeModel::SetDiagonal(float diagonal) {
  diagonal_.store(diagonal);
  half_diagonal_.store(diagonal * 0.5f);
}

void CShapeModel::SetFovLimits(float min_fov, float max_fov, float default_fov) {
  min_fov_.store(min_fov);
  max_fov_.store(max_fov);
  default_fov_.store(default_fov);
}

void CShapeModel::StoreClampedFov(float fov) {
  reset_pending_.store(false);
  const float lo = min_fov_.load();
  const float hi = max_fov_.load();
  if (fov < lo) fov = lo;
  if (fov > hi) fov = hi;
  fov_.store(fov);
}

// ---- CBallModel ----

CBallModel::CBallModel(float diagonal) : CShapeModel(diagonal, 180, 91, true) {
  yaw_.store(90.0f);
  pitch_.store(default_pitch_);
  eye_distance_.store(-1.3f);
  near_plane_ = 0.5f;
}

void CBallModel::GenerateMesh(const float* table_a, int count, int width, int height, const float* table_b) {
  const int columns = slices_ + 1;
  float* p = positions_.data();
  if (table_a != nullptr && table_b != nullptr && count > 0) {
    // Two-lens layout: lens axis on x, rows 0-90 at 2-degree steps of polar angle.
    for (int k = 0; k <= 90; ++k) {
      const float theta = static_cast<float>(k) * kPi / 90.0f;
      for (int c = 0; c < columns; ++c) {
        const float psi = static_cast<float>(c) * kTwoPi / 180.0f;
        *p++ = std::cos(theta);
        *p++ = std::sin(theta) * std::sin(psi);
        *p++ = std::sin(theta) * std::cos(psi);
      }
    }
    // The index list spans one more row than the layout: close it on the pole again, which
    // turns the last band into degenerate triangles.
    const size_t row_floats = static_cast<size_t>(columns) * 3;
    std::copy(positions_.begin() + 90 * row_floats, positions_.begin() + 91 * row_floats,
              positions_.begin() + 91 * row_floats);

    // Rows a lens does not reach get weight 0 in the blend; give them (0, 0).
    std::fill(uv_a_.begin(), uv_a_.end(), 0.0f);
    std::fill(uv_b_.begin(), uv_b_.end(), 0.0f);
    const size_t table_floats =
        std::min(static_cast<size_t>(count), static_cast<size_t>(kSphereTableRows) * kGridTableRowFloats);
    TableToUv(table_a, table_floats, width, height, uv_a_.data());
    TableToUv(table_b, table_floats, width, height, uv_b_.data() + kBackLensFirstRow * columns * 2);
    return;
  }

  // Equirectangular panorama on a 0.9-radius sphere, poles on y.
  float* uv = uv_a_.data();
  for (int k = 0; k <= 91; ++k) {
    const float theta = static_cast<float>(k) * kPi / 91.0f;
    for (int l = 0; l < columns; ++l) {
      const float phi = static_cast<float>(l) * kTwoPi / 180.0f - kHalfPi;
      *p++ = 0.9f * std::sin(theta) * std::cos(phi);
      *p++ = 0.9f * std::cos(theta);
      *p++ = 0.9f * std::sin(theta) * std::sin(phi);
      *uv++ = static_cast<float>(l) / 180.0f;
      *uv++ = static_cast<float>(k) / 91.0f;
    }
  }
}

void CBallModel::NormalizeYaw() {
  const float yaw = yaw_.load();
  if (yaw < 0.0f) {
    yaw_.store(360.0f);
  } else if (yaw > 360.0f) {
    yaw_.store(0.0f);
  }
}

void CBallModel::NormalizePitch() {
  float pitch = pitch_.load();
  if (pitch_clamp_) {
    const float lo = flip_.load() ? 90.0f : -90.0f;
    const float hi = flip_.load() ? 270.0f : 90.0f;
    pitch = std::clamp(pitch, lo, hi);
  }
  pitch_.store(TruncMod360(pitch));
}

void CBallModel::ResetView() {
  fov_.store(default_fov_.load());
  yaw_.store(90.0f);
  float pitch = flip_.load() ? 180.0f : default_pitch_;
  if (planet_) pitch -= 90.0f;
  pitch_.store(pitch);
  reset_pending_.store(false);
}

void CBallModel::SetFov(float fov) { StoreClampedFov(fov); }
void CBallModel::SetEyeDistance(float z) { eye_distance_.store(z); }

void CBallModel::SetFlip(bool on) {
  if (flip_.exchange(on) == on) return;
  pitch_.fetch_add(on ? 180.0f : -180.0f);
}

// ---- CHalfBallModel ----

CHalfBallModel::CHalfBallModel(float diagonal) : CShapeModel(diagonal, 180, 48, false) {
  eye_distance_.store(-1.3f);
  near_plane_ = 0.1f;
  ResetView();
}

void CHalfBallModel::GenerateMesh(const float* table_a, int count, int width, int height, const float*) {
  GenerateCap(slices_, stacks_, table_a, count, width, height, positions_, uv_a_);
}

void CHalfBallModel::NormalizeYaw() { yaw_.store(TruncMod360(yaw_.load())); }
void CHalfBallModel::NormalizePitch() { pitch_.store(TruncMod360(pitch_.load())); }

void CHalfBallModel::ResetView() {
  fov_.store(default_fov_.load());
  yaw_.store(0.0f);
  pitch_.store(default_pitch_ + (flip_.load() ? 180.0f : 0.0f));
  reset_pending_.store(false);
}

void CHalfBallModel::SetFov(float fov) { StoreClampedFov(fov); }

void CHalfBallModel::SetFlip(bool on) {
  if (flip_.exchange(on) == on) return;
  pitch_.fetch_add(on ? 180.0f : -180.0f);
}

// ---- CIndomeModel ----

CIndomeModel::CIndomeModel(float diagonal) : CShapeModel(diagonal, 180, 48, false) {
  eye_distance_.store(-1.3f);
  near_plane_ = 0.1f;
}

void CIndomeModel::GenerateMesh(const float* table_a, int count, int width, int height, const float*) {
  GenerateCap(slices_, stacks_, table_a, count, width, height, positions_, uv_a_);
}

void CIndomeModel::NormalizeYaw() { yaw_.store(TruncMod360(yaw_.load())); }

void CIndomeModel::NormalizePitch() {
  const bool flipped = flip_.load();
  const float pitch = std::clamp(pitch_.load(), flipped ? 115.0f : 5.0f, flipped ? 175.0f : 65.0f);
  pitch_.store(TruncMod360(pitch));
}

void CIndomeModel::ResetView() {
  fov_.store(default_fov_.load());
  yaw_.store(0.0f);
  pitch_.store(flip_.load() ? 180.0f : 0.0f);
  yaw_velocity_.store(0.0f);
  pitch_velocity_.store(0.0f);
  reset_pending_.store(false);
}

void CIndomeModel::SetFov(float fov) { StoreClampedFov(fov); }

void CIndomeModel::SetFlip(bool on) {
  flip_.store(on);
  pitch_.store(on ? 180.0f : 0.0f);
}

}  // namespace spherolux::render
