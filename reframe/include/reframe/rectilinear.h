// The flat (rectilinear, pinhole) view of an equirectangular panorama: what a camera with the
// view's rotation and horizontal field of view sees, as an I420 picture.
//
//   RenderRectilinear(panorama_view, 3840, 1920, path.At(t), out, 1920, 1080);
//
// The panorama is W x H with W = 2 H: column W/2 looks forward (yaw 0), yaw grows to the right
// and reaches ±180 at the left and right edges, row 0 is the zenith. Output pixel (x, y)
// looks along the ray ((x + 0.5 - w/2) / f, (h/2 - y - 0.5) / f, 1) turned by the view's
// rotation, f = (w/2) / tan(fov/2), and takes the bilinear sample of the panorama there
// (wrapping across the left and right edges, clamped at the poles); chroma likewise at the
// centre of each 2 x 2 block. The exact projection is computed on a grid of 16 x 16 pixel cells
// and interpolated inside them; cells where that would miss by more than a tenth of a pixel
// (next to the poles) are projected pixel by pixel. For views wider than the panorama's
// detail, the caller renders from a smaller panorama (see PanoramaWidthFor) so that no sample
// skips pixels.
//
// Pure: any thread; `threads` splits the output rows, the result does not depend on it.
#pragma once

#include <cstdint>

#include "reframe/view_path.h"
#include "stitch/blend.h"

namespace spherolux::reframe {

// The panorama width (a multiple of 4, at most `source_width`) whose pixels are about as
// dense as the output's in the middle of a view of `fov` degrees across `width` pixels.
int PanoramaWidthFor(int width, double fov, int source_width);

// The panorama rows [*first, *end) (even bounds) that RenderRectilinear reads for `view` at
// w x h: a caller that makes the panorama frame by frame needs to make only these rows.
void PanoramaRows(int pano_w, int pano_h, const ViewState& view, int w, int h, int* first, int* end);

// Renders `view` from the panorama into `out` (w x h I420, planes back to back; w and h
// even). False, writing nothing, for sizes that are not positive and even or a view without
// planes.
bool RenderRectilinear(const I420View& panorama, int pano_w, int pano_h, const ViewState& view, uint8_t* out, int w,
                       int h, int threads = 1);

}  // namespace spherolux::reframe
