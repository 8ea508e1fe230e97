// Calibration extractions: the view grids of a camera recording, built from the calibration
// block found in the file. probe/probe.h runs the one that fits a file; call these directly
// only to reach one extraction on its own.
//
// Both take a UTF-8 path and the container walker to locate the block with (WalkMp4Udta for
// videos; WalkJpegExif for photos, which selects the photo locator LocatePhotoBlock of
// calib/calibration.h) and return a calibration result code:
//   LoadSphereGrids: 0 grids built (or no arrays given), 1 camera type >= 1000 (nothing
//     built), 1000 no path, 1001 photo cannot be opened, 1002 empty photo, 1003 video
//     without udta payload, 1005 no sync word, 1006 out of memory, 1007 empty text,
//     1008 decryption failed, 1009 lens record missing or not 1652/1656 bytes, 1010
//     camera-type record missing, 1014 width != 2 * height (checked before the file).
//   LoadSingleLensGrid: 0 grid built, same circle as the previous single-lens extraction;
//     1 grid built, circle changed (the view must be rebuilt); 1000, 1003, 1004 (photo
//     in which the photo locator finds no block), 1005 to 1010 as above (1009: record not 28 bytes). A missing
//     camera-type record is also logged (base/log.h).
// On any failure the arrays keep their contents. Both may be called from any thread; the
// single-lens circles they share are guarded.
#pragma once

#include "calib/camera_para.h"
#include "calib/locator.h"
#include "stitch/single_lens.h"
#include "stitch/sphere_grid.h"

namespace spherolux {

// Fills the two dual-lens sphere grids (52 rings x 181 points of (x, y) floats each,
// kGridFloats floats allocated by the caller). With either array null the record is still
// decoded and checked, but nothing is built.
int LoadSphereGrids(ContainerWalker walker, const char* path, int width, int height, float* table_a, float* table_b);

// The single-lens grid: 49 rings x 181 points of (x, y) floats at the start of a table of
// kGridFloats floats.
constexpr int kSingleLensGridRings = 49;

// Fills the single-lens grid for a frame of width x height, and decides whether the view
// must be rebuilt.
int LoadSingleLensGrid(ContainerWalker walker, const char* path, int width, int height, float* grid);

// The circle of the last single-lens extraction (SingleLensCircleForFrame; (0, 0, 0) before
// the first).
SingleLensCircle CurrentSingleLensCircle();

}  // namespace spherolux
