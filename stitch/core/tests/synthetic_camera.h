// Renders dual-fisheye test frames of a scene defined on the sphere, by running the lens
// model backwards: every fisheye pixel's incidence angle is found from its distance to the
// circle centre (through the lens table and the radius ratio), and the scene is sampled in
// that direction. Side-by-side frames only; lens 1 on the left.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "calib/camera_para.h"

namespace spherolux::synthetic {

// A scene: channel value (0..255) at polar angle gamma from the panorama's top
// (0..pi) and longitude psi (0..2 pi, increasing with the panorama column).
using Scene = std::function<double(double gamma, double psi, int channel)>;

struct RenderOptions {
  int format = 0;         // 0 I420, 2 four bytes per pixel
  double lens1_gain = 0;  // added to every value lens 1 sees (exposure difference)
  int output_height = 0;  // H of the panorama the radius ratio is sampled for (W = 2H)
};

// A frame of width x height (lens images width / 2 x height) for the record, which must
// use no control lines and a camera model with lens class 0.
std::vector<uint8_t> RenderDualFisheye(const DoubleFisheyeCameraPara& para, int width, int height, const Scene& scene,
                                       const RenderOptions& options);

// The scene's value at output pixel (row, column) of a W x H panorama stitched with
// rotation 0: gamma = row * pi / H, psi = column * 2 pi / W.
double SceneAtPixel(const Scene& scene, int width, int height, int row, int column, int channel);

// Writes a binary PPM of an I420 frame's luma or of a 4-byte frame's first three bytes,
// when SPHEROLUX_TEST_IMAGES names a folder (for looking at results); otherwise nothing.
void MaybeWriteImage(const char* name, const std::vector<uint8_t>& frame, int format, int width, int height);

}  // namespace spherolux::synthetic
