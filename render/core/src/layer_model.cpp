#include <algorithm>
#include <cmath>

#include "render/shape_model.h"

namespace spherolux::render {
namespace {

// The layer reads grid rows 9-48 (polar angles 18 to 96 degrees of one fisheye), so a grid
// needs at least 49 rows; rotation and mirroring work on those 49 rows.
constexpr int kLayerTableRows = 49;
constexpr int kLayerTableFloats = kLayerTableRows * kGridTableRowFloats;
constexpr int kLayerRows = 80;
constexpr int kLayerColumns = 91;
// Distinct columns of a grid row: column 180 repeats column 0.
constexpr int kDistinctColumns = kGridTableColumns - 1;

// dst row r, column c := src row r, column c + columns, cyclic over the 180 distinct columns.
void RotateColumns(const std::vector<float>& src, std::vector<float>& dst, int columns) {
  std::copy(src.begin(), src.end(), dst.begin());
  const int shift = ((columns % kDistinctColumns) + kDistinctColumns) % kDistinctColumns;
  for (int r = 0; r < kLayerTableRows; ++r) {
    const float* in = src.data() + r * kGridTableRowFloats;
    float* out = dst.data() + r * kGridTableRowFloats;
    for (int c = 0; c < kDistinctColumns; ++c) {
      const int from = (c + shift) % kDistinctColumns;
      out[2 * c] = in[2 * from];
      out[2 * c + 1] = in[2 * from + 1];
    }
    out[2 * kDistinctColumns] = out[0];
    out[2 * kDistinctColumns + 1] = out[1];
  }
}

// Rows in reverse order, each row reversed (the picture turned by 180 degrees).
void Mirror(const std::vector<float>& src, std::vector<float>& dst) {
  std::copy(src.begin(), src.end(), dst.begin());
  for (int r = 0; r < kLayerTableRows; ++r) {
    const float* in = src.data() + (kLayerTableRows - 1 - r) * kGridTableRowFloats;
    float* out = dst.data() + r * kGridTableRowFloats;
    for (int c = 0; c < kGridTableColumns; ++c) {
      out[2 * c] = in[2 * (kGridTableColumns - 1 - c)];
      out[2 * c + 1] = in[2 * (kGridTableColumns - 1 - c) + 1];
    }
  }
}

}  // namespace

CLayerModel::CLayerModel(float diagonal) : CShapeModel(diagonal, 90, 79, false) {
  pitch_.store(180.0f);
  eye_distance_.store(-1.0f);
  near_plane_ = 0.1f;
}

float CLayerModel::GetYaw() const { return 0.0f; }
float CLayerModel::GetPitch() const { return 180.0f; }

void CLayerModel::GenerateMesh(const float* table_a, int count, int width, int height, const float*) {
  fov_.store(80.0f);
  if (table_a == nullptr || count < kLayerTableFloats) return;
  width_ = width;
  height_ = height;
  table_length_ = count;
  const size_t length = static_cast<size_t>(count);
  working_.assign(table_a, table_a + length);
  scratch_[0].assign(length, 0.0f);
  scratch_[1].assign(length, 0.0f);
  mirrored_.assign(length, 0.0f);

  // Two strips side by side in depth order: rows 0-39 rise to y = 0, rows 40-79 start there.
  float* p = positions_.data();
  for (int k = 0; k < kLayerRows; ++k) {
    const float y = k <= 39 ? static_cast<float>(k - 39) / 80.0f : static_cast<float>(k - 40) / 80.0f;
    for (int l = 0; l < kLayerColumns; ++l) {
      *p++ = -static_cast<float>(l - 45) / 90.0f * 0.93f;
      *p++ = y;
      *p++ = 0.0f;
    }
  }
  Rebuild(0);
}

void CLayerModel::RegenerateUv(const float* table) {
  const float w = static_cast<float>(width_);
  const float h = static_cast<float>(height_);
  float* uv = uv_a_.data();
  for (int k = 0; k < kLayerRows; ++k) {
    const int row = k <= 39 ? k + 9 : k - 31;
    const int first_column = k <= 39 ? 0 : 90;
    const float* point = table + (row * kGridTableColumns + first_column) * 2;
    for (int l = 0; l < kLayerColumns; ++l) {
      *uv++ = point[2 * l] / w;
      *uv++ = point[2 * l + 1] / h;
    }
  }
}

void CLayerModel::Rebuild(int columns) {
  if (working_.empty()) return;
  std::vector<float>& scratch = scratch_[scratch_toggle_ ? 1 : 0];
  scratch_toggle_ = !scratch_toggle_;
  RotateColumns(working_, scratch, columns);
  std::copy(scratch.begin(), scratch.end(), working_.begin());
  if (flip_) {
    Mirror(working_, mirrored_);
    RegenerateUv(mirrored_.data());
  } else {
    RegenerateUv(working_.data());
  }
  uv_dirty_.store(true);
}

void CLayerModel::NormalizeYaw() {
  // Yaw is a per-frame delta here: any non-zero value turns the grid, then it is consumed.
  const float yaw = yaw_.load();
  if (yaw != last_applied_yaw_ || yaw != 0.0f) {
    uv_dirty_.store(true);
    last_applied_yaw_ = yaw;
    int columns = std::isfinite(yaw) ? static_cast<int>(std::fmod(std::trunc(yaw), 180.0f)) : 0;
    if (flip_) columns = -columns;
    Rebuild(columns);
  }
  yaw_.store(0.0f);
}

void CLayerModel::NormalizePitch() { pitch_.store(180.0f); }

void CLayerModel::ResetView() {
  const float target = default_fov_.load();
  float fov = fov_.load();
  if (std::fabs(fov - target) >= 1.0f) {
    fov += fov < target ? 1.0f : -1.0f;
    fov_.store(fov);
  }
  if (std::fabs(fov - target) < 1.0f) reset_pending_.store(false);
}

void CLayerModel::SetFov(float fov) { StoreClampedFov(fov); }

void CLayerModel::Update(bool flip) {
  CShapeModel::Update(flip);
  if (flip != flip_) {
    flip_ = flip;
    uv_dirty_.store(true);
    Rebuild(0);
  }
}

}  // namespace spherolux::render
