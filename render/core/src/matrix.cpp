#include "render/matrix.h"

#include <cmath>
#include <cstring>

#include "base/log.h"

namespace spherolux::render {
namespace {

constexpr float kDegreesToRadians = 0.017453292f;
constexpr double kHalfDegreesToRadians = 0.008726646259971648;

void Normalise(float& x, float& y, float& z) {
  const float inv = 1.0f / std::sqrt(x * x + y * y + z * z);
  x *= inv;
  y *= inv;
  z *= inv;
}

void MultiplyInto(float* m, const float* rhs) {
  float lhs[16];
  std::memcpy(lhs, m, sizeof lhs);
  MultiplyMM(m, lhs, rhs);
}

}  // namespace

void SetIdentityM(float* m) {
  for (int i = 0; i < 16; ++i) m[i] = 0.0f;
  m[0] = m[5] = m[10] = m[15] = 1.0f;
}

void FrustumM(float* m, float left, float right, float bottom, float top, float near_plane, float far_plane) {
  // The checks only report: callers rely on the matrix being written whatever the arguments.
  if (left == right) Logf("FrustumM:left == right");
  if (top == bottom) Logf("FrustumM:top == bottom");
  if (near_plane == far_plane) Logf("FrustumM:near == far");
  if (near_plane <= 0.0f) Logf("FrustumM:near <= 0.0f");
  if (far_plane <= 0.0f) Logf("FrustumM:far <= 0.0f");

  const float rw = 1.0f / (right - left);
  const float rh = 1.0f / (top - bottom);
  const float rd = 1.0f / (near_plane - far_plane);
  for (int i = 0; i < 16; ++i) m[i] = 0.0f;
  m[0] = 2.0f * near_plane * rw;
  m[5] = 2.0f * near_plane * rh;
  m[8] = (right + left) * rw;
  m[9] = (top + bottom) * rh;
  m[10] = (far_plane + near_plane) * rd;
  m[14] = 2.0f * far_plane * near_plane * rd;
  m[11] = -1.0f;
}

void MultiplyMM(float* out, const float* lhs, const float* rhs) {
  for (int i = 0; i < 4; ++i) {
    const float* column = rhs + i * 4;
    for (int r = 0; r < 4; ++r) {
      float sum = lhs[r] * column[0];
      sum += lhs[4 + r] * column[1];
      sum += lhs[8 + r] * column[2];
      sum += lhs[12 + r] * column[3];
      out[i * 4 + r] = sum;
    }
  }
}

void TranslateM(float* m, float x, float y, float z) {
  for (int r = 0; r < 4; ++r) m[12 + r] += m[r] * x + m[4 + r] * y + m[8 + r] * z;
}

void SetRotateM(float* m, float angle_degrees, float x, float y, float z) {
  m[3] = m[7] = m[11] = 0.0f;
  m[12] = m[13] = m[14] = 0.0f;
  m[15] = 1.0f;
  const float radians = angle_degrees * kDegreesToRadians;
  const float s = std::sin(radians);
  const float c = std::cos(radians);
  if (x == 1.0f && y == 0.0f && z == 0.0f) {
    m[5] = c;
    m[10] = c;
    m[6] = s;
    m[9] = -s;
    m[1] = m[2] = m[4] = m[8] = 0.0f;
    m[0] = 1.0f;
  } else if (x == 0.0f && y == 1.0f && z == 0.0f) {
    m[0] = c;
    m[10] = c;
    m[8] = s;
    m[2] = -s;
    m[1] = m[4] = m[6] = m[9] = 0.0f;
    m[5] = 1.0f;
  } else if (x == 0.0f && y == 0.0f && z == 1.0f) {
    m[0] = c;
    m[5] = c;
    m[1] = s;
    m[4] = -s;
    m[2] = m[6] = m[8] = m[9] = 0.0f;
    m[10] = 1.0f;
  } else {
    const float length = std::sqrt(x * x + y * y + z * z);
    if (length != 1.0f) {
      const float inv = 1.0f / length;
      x *= inv;
      y *= inv;
      z *= inv;
    }
    const float nc = 1.0f - c;
    const float xy = x * y;
    const float yz = y * z;
    const float zx = z * x;
    const float xs = x * s;
    const float ys = y * s;
    const float zs = z * s;
    m[0] = x * x * nc + c;
    m[4] = xy * nc - zs;
    m[8] = zx * nc + ys;
    m[1] = xy * nc + zs;
    m[5] = y * y * nc + c;
    m[9] = yz * nc - xs;
    m[2] = zx * nc - ys;
    m[6] = yz * nc + xs;
    m[10] = z * z * nc + c;
  }
}

void Matrix4::Perspective(float fovy_degrees, float aspect, float near_plane, float far_plane) {
  const float top = near_plane * static_cast<float>(std::tan(fovy_degrees * kHalfDegreesToRadians));
  const float bottom = -top;
  const float right = top * aspect;
  const float left = bottom * aspect;
  float frustum[16];
  FrustumM(frustum, left, right, bottom, top, near_plane, far_plane);
  MultiplyInto(m, frustum);
}

void Matrix4::LookAt(float eye_x, float eye_y, float eye_z, float centre_x, float centre_y, float centre_z, float up_x,
                     float up_y, float up_z) {
  float fx = centre_x - eye_x;
  float fy = centre_y - eye_y;
  float fz = centre_z - eye_z;
  Normalise(fx, fy, fz);
  // s = f x up
  float sx = fy * up_z - fz * up_y;
  float sy = fz * up_x - fx * up_z;
  float sz = fx * up_y - fy * up_x;
  Normalise(sx, sy, sz);
  // v = s x f
  const float vx = sy * fz - sz * fy;
  const float vy = sz * fx - sx * fz;
  const float vz = sx * fy - sy * fx;

  float view[16] = {};
  view[0] = sx;
  view[1] = vx;
  view[2] = -fx;
  view[4] = sy;
  view[5] = vy;
  view[6] = -fy;
  view[8] = sz;
  view[9] = vz;
  view[10] = -fz;
  view[15] = 1.0f;
  TranslateM(view, -eye_x, -eye_y, -eye_z);
  MultiplyInto(m, view);
}

void Matrix4::Rotate(float angle_degrees, float x, float y, float z) {
  float rotation[16];
  SetRotateM(rotation, angle_degrees, x, y, z);
  MultiplyInto(m, rotation);
}

}  // namespace spherolux::render
