// 4x4 single-precision matrices for the panoramic view.
//
// A matrix is 16 floats in column-major order, as OpenGL takes it: element m[c * 4 + r] is
// row r, column c, so a matrix can be handed to glUniformMatrix4fv unchanged (no transpose).
// Angles are in degrees. Every function is pure arithmetic on caller-owned arrays and may be
// called from any thread.
#pragma once

namespace spherolux::render {

// m := identity.
void SetIdentityM(float* m);

// m := the perspective frustum (left, right, bottom, top, near, far). Degenerate arguments
// (left == right, top == bottom, near == far, near <= 0, far <= 0) log a line (base/log.h)
// each and the matrix is still written; it then holds infinities or NaNs.
void FrustumM(float* m, float left, float right, float bottom, float top, float near_plane, float far_plane);

// out := lhs x rhs. `out` must not alias `lhs` or `rhs`.
void MultiplyMM(float* out, const float* lhs, const float* rhs);

// Column 3 of m += x * column 0 + y * column 1 + z * column 2 (post-multiplies a translation).
void TranslateM(float* m, float x, float y, float z);

// m := rotation by angle degrees about the axis (x, y, z). The three unit axes are written
// exactly; any other axis is normalised first unless its length is already exactly 1.
void SetRotateM(float* m, float angle_degrees, float x, float y, float z);

// A matrix that the view operations multiply into. Unlike the free functions, Perspective
// and LookAt do not overwrite the matrix: they post-multiply it (this := this x op), so the
// caller resets it to identity first when a fresh matrix is wanted.
struct Matrix4 {
  float m[16] = {};

  void SetIdentity() { SetIdentityM(m); }
  // this := this x frustum of a vertical field of view of fovy degrees.
  void Perspective(float fovy_degrees, float aspect, float near_plane, float far_plane);
  // this := this x view matrix of a camera at eye looking at centre with the given up vector.
  // A zero-length direction is not guarded and yields NaNs.
  void LookAt(float eye_x, float eye_y, float eye_z, float centre_x, float centre_y, float centre_z, float up_x,
              float up_y, float up_z);
  // this := this x rotation (angle degrees about the axis).
  void Rotate(float angle_degrees, float x, float y, float z);
};

}  // namespace spherolux::render
