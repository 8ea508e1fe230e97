// Stitch state: whether a file is a panorama stitched earlier, and the classification of a
// file that combines this with the camera-type query.
//
// Every function is synchronous, keeps no state and is safe from any thread. Paths are
// UTF-8. The tests answer 0 on every failure (unreadable file, wrong structure, missing or
// malformed metadata) and print nothing.
#pragma once

#include <string_view>

namespace spherolux {

// 1 when the JPEG carries this system's panorama XMP segment: among its first 20 marker
// segments, the first APP1 that is not Exif names GPano:UsePanoramaViewer with the value
// true (any case; only the first occurrence counts; attribute or element form) and contains
// the maker string. Else 0.
int IsStitchedPhoto(const char* path);

// 1 when the MP4 has a Spherical Video V1 uuid box whose XML root element has a child
// GSpherical:Spherical with the text "true" (any case). Element names are matched
// literally, prefix included. Else 0.
int SphericalVideoFlag(const char* path);

// Photo or video, by name alone: a name ending in ".jpg" or ".bmp" (any case) is a photo.
enum class MediaKind { kPhoto, kVideo };
MediaKind MediaKindOfPath(std::string_view path);

// IsStitchedPhoto for a photo, SphericalVideoFlag for a video.
int StitchedTest(const char* path, MediaKind kind);

enum class StitchClass {
  kDualLens,             // camera type 2: a recording to be stitched with two lenses
  kSingleLens,           // camera type 1: a recording to be stitched with one lens
  kUnusableCalibration,  // camera type 1 or 2 whose extraction failed (code >= 1000)
  kStitchedByCamera,     // camera type query 512: stitched by the camera itself
  kStitched,             // any other type, and the stitched test gives 1
  kNotPanorama,          // any other type, and the stitched test gives 0
};

// The classification from the camera-type query's result and the stitched test of the
// file's kind (consulted only for results other than 1, 2 and 512). Camera types 1 and 2
// give the lens kind, before any grid is built.
StitchClass ClassifyStitchState(int camera_type, int stitched_test);

// Refines a lens class with the result of the matching extraction: a code of 1000 or more
// makes the calibration unusable. Other classes are returned unchanged.
StitchClass ApplyExtractionResult(StitchClass cls, int extraction_code);

// "dual-lens", "single-lens", "unusable-calibration", "stitched-by-camera", "stitched",
// "not-panorama".
std::string_view StitchClassName(StitchClass cls);

}  // namespace spherolux
