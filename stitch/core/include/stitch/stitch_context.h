// Photo stitching context: turns dual-fisheye frames of one size into equirectangular
// panoramas (width = 2 x height) through two remap maps computed once per context.
//
//   StitchContext* ctx = CreateStitchContext(&para, 3840, 1920, 3840, 1920,
//                                            kStitchI420, 0, false, true);
//   if (!ctx) ...                                  // refused: see CreateStitchContext
//   CompileStitchContext(ctx, 2);                  // optional: for many I420 frames
//   StitchImage(ctx, frame, panorama, 2);          // any number of frames, any thread
//   StitchImagePlanes(ctx, {y, u, v, y_stride, uv_stride}, panorama, 2);  // I420 planes
//   DestroyStitchContext(ctx);
//
// Pixel formats (every byte of a pixel is treated alike, so channel order is free):
//   kStitchI420     0  luma plane, then two chroma planes of half width and height
//   kStitchPacked24 1  3 bytes per pixel, rows padded to a multiple of 4 bytes
//   kStitchPacked32 2  4 bytes per pixel
//   kStitchPacked32Alt 3  4 bytes per pixel (same layout as 2)
//
// Rotation 0 puts lens 1's axis at the panorama's centre column and lens 2's at its left
// and right edges; 180 turns that panorama upside down; 90 and 270 put the lens axes on the
// poles. With the nadir patch, rotations 0 and 180 cover the ground under the camera (the
// bottom W / 20 rows for 0, the top rows turned for 180) with the unwrapped emblem of the
// project; 24-bit contexts and rotations 90 and 270 never carry it.
//
// A context is immutable after creation (and CompileStitchContext, if called): StitchImage
// only reads it, so one context serves any number of threads at once, each with its own
// output buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "calib/camera_para.h"
#include "stitch/blend.h"

namespace spherolux {

enum StitchPixelFormat : int {
  kStitchI420 = 0,
  kStitchPacked24 = 1,
  kStitchPacked32 = 2,
  kStitchPacked32Alt = 3,
};

// Output width bound of a context. The maps are allocated per context, so the bound only
// keeps a hostile size from asking for tens of gigabytes; 5376 x 2688 camera photos fit.
constexpr int kMaxStitchWidth = 16384;

struct StitchContext;

// Makes a context for frames of source_width x source_height (lenses stacked when the
// frame is taller than wide) stitched to width x height. Returns null, with nothing
// allocated, when: para is null; width != 2 * height, width > kMaxStitchWidth or the output is empty;
// para->lPointNum is outside 0..50; the field of view, circles or ratio are not finite or
// the field of view does not give both lenses at least half the sphere (below 180 or
// above 360 degrees); the format or rotation is not one listed above; an I420 context has
// an odd source side or an output height that is not even; the maps or patch cannot be
// allocated. When SPHEROLUX_TRACE_DIR names a folder, the two maps are written there raw
// as Points1.txt and Points2.txt.
// `threads` builds the maps in that many row slices at once; the maps do not depend on it.
StitchContext* CreateStitchContext(const DoubleFisheyeCameraPara* para, int source_width, int source_height, int width,
                                   int height, int pixel_format, int rotation, bool generation, bool nadir_patch,
                                   int threads = 1);

// Compiles an I420 context's maps into a plan made for the per-frame work (per-row groups
// of eight output pixels in output order, with their source rows and weights unpacked
// once) and frees the maps; later frames stitch about a third faster, with the same
// bytes. It costs about as much memory as the maps and as much time as a few frames, so it
// pays for video and not for a single photo. Call it before the context is shared between
// threads. Returns false for a null context, a context of another format or when memory
// runs out; the context then stitches through its maps as before. `threads` as above.
bool CompileStitchContext(StitchContext* ctx, int threads = 1);

// Stitches one frame. `src` holds a whole source frame and `dst` room for a whole output
// frame, both in the context's format (StitchFrameSize). The output rows are split into
// `threads` disjoint slices (fewer for small frames, at least one) run at once; the
// result does not depend on the number of threads. Does nothing for a null context.
void StitchImage(const StitchContext* ctx, const uint8_t* src, uint8_t* dst, int threads = 1);

// Stitches one I420 frame given as three planes with their own strides (a decoder's frame,
// read in place), like StitchImage otherwise; the output is the same as StitchImage's of
// the same pixels back to back. Returns false, writing nothing, for a null context or
// output, a context of another format, or a view with a null plane or a stride below its
// plane's width (see I420View).
bool StitchImagePlanes(const StitchContext* ctx, const I420View& src, uint8_t* dst, int threads = 1);

// Stitches only output rows [first_row, end_row) of one I420 frame (both even, within the
// output; the other rows of `dst` are left as they are), with the same bytes there as
// StitchImagePlanes: for a caller that shows a part of the panorama. False, writing
// nothing, where StitchImagePlanes is, or for rows out of order, odd or outside the output.
bool StitchImagePlaneRows(const StitchContext* ctx, const I420View& src, uint8_t* dst, int first_row, int end_row,
                          int threads = 1);

// Frees the maps, the patch and the context. Does nothing for null.
void DestroyStitchContext(StitchContext* ctx);

// Bytes of a frame of the given format and size (0 for an unknown format).
size_t StitchFrameSize(int pixel_format, int width, int height);

// Map size of a context (Wm x Hm) and the rows of its nadir strip (0 without a patch).
void StitchContextMapSize(const StitchContext* ctx, int* map_width, int* map_height);
int StitchContextPatchRows(const StitchContext* ctx);

}  // namespace spherolux
