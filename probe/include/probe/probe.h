// What a media file is to the player, the converter and the trim preview: the camera that
// recorded it, whether it still needs stitching, the view mode and grids it is shown
// through, and whether the converter takes it.
//
// ProbeFile runs the sequence every caller shares: the camera-type query, the calibration
// extraction that fits the camera type (probe/extract.h), the stitched test of the file's
// kind, and the classification. The frame size is the caller's: the GUI asks MediaInfo, the
// command line reads the file's headers (JpegFrameSize below for photos).
//
// Paths are UTF-8. Every function is synchronous and runs on the calling thread; any thread
// may call. The single-lens extraction updates the process-wide single-lens circles (its
// refresh decision, probe/extract.h); nothing else keeps state. Failures are values in the
// result: codes of the calibration result table, never exceptions.
#pragma once

#include <string_view>
#include <vector>

namespace spherolux {

// Photo or video, by name alone: a name ending in ".jpg" or ".bmp" (any case) is a photo.
enum class MediaKind { kPhoto, kVideo };
MediaKind MediaKindOfPath(std::string_view path);

enum class StitchClass {
  kDualLens,             // camera type 2 with usable calibration: stitched with two lenses
  kSingleLens,           // camera type 1 with usable calibration: stitched with one lens
  kUnusableCalibration,  // camera type 1 or 2 whose extraction failed (code >= 1000)
  kStitchedByCamera,     // camera-type query 512: stitched by the camera itself
  kStitched,             // any other type, and the stitched test gives 1
  kNotPanorama,          // any other type, and the stitched test gives 0
};

// The classes of the table of stitch states: the camera-type query's result, the stitched
// test of the file's kind (consulted only for results other than 1, 2 and 512) and, for camera
// types 1 and 2, the extraction's code (>= 1000: unusable; null: not run).
StitchClass ClassifyStitchState(int camera_type, int stitched_test, const int* extraction_code = nullptr);

// "dual-lens", "single-lens", "unusable-calibration", "stitched-by-camera", "stitched",
// "not-panorama".
std::string_view StitchClassName(StitchClass cls);

// The frame size of the medium in pixels.
struct FrameSize {
  int width = 0;
  int height = 0;
};

// The view grids of a camera file: table A and table B of kGridFloats floats each
// (probe/extract.h). A single-lens grid uses the first 49 rings x 181 points of table A.
struct ViewGrids {
  std::vector<float> table_a;
  std::vector<float> table_b;
};

struct FileProbe {
  MediaKind kind = MediaKind::kVideo;
  int camera_type = 0;    // the camera-type query: 1, 2, 512, or what else it returned
  int stitched_test = 0;  // StitchedTest of the file: 1 or 0
  StitchClass cls = StitchClass::kNotPanorama;
  int view_mode = 2;         // the renderer's mode to open in: 3 for camera type 1, else 2
  bool extracted = false;    // an extraction ran (a frame size was given)
  int extraction = 0;        // its result code (probe/extract.h) when it ran
  bool refresh = false;      // single-lens: the circle changed, the view must be rebuilt
  bool grids_built = false;  // the grids were filled
};

// Classifies `path`. With `frame` null no extraction runs and the lens classes are given
// from the camera type alone. With a frame size, the extraction that fits runs: the
// single-lens one for camera type 1, the dual-lens one for any other (a camera type of 1000
// or more makes it return 1); only for camera types 1 and 2 does its result decide the
// class. With `grids` given as well, the extraction fills them (allocated here; when that
// fails the extraction is reported as kCalibNoMemory). On a failed extraction the grids keep
// their previous contents.
FileProbe ProbeFile(const char* path, MediaKind kind, const FrameSize* frame, ViewGrids* grids);

// Whether a file is a panorama stitched earlier, 1 or 0: this system's own marks
// (IsStitchedPhoto, SphericalVideoFlag of calib/stitch_state.h), or the marks most other
// panorama tools write: a photo's XMP GPano:ProjectionType "equirectangular"
// (IsEquirectangularXmpPhoto), a video's Spherical Video V2 equirectangular projection
// (IsEquirectangularV2Video).
int StitchedTest(const char* path, MediaKind kind);

// 1 when the first video track's sample entry carries a Spherical Video V2 'sv3d' box whose
// projection ('proj') is equirectangular ('equi'), else 0 (also for files that are no MP4).
int IsEquirectangularV2Video(const char* path);

// 1 when the boxes of an MP4 file nest deeper than our own box reader goes
// (mp4::NestsTooDeep), else 0 (also for files that are no MP4). The player refuses such a
// file before the media engine reads it: the engine's readers follow the nesting without a
// bound and run out of stack.
int IsNestedTooDeep(const char* path);

// The player's decision: camera recordings with usable calibration and stitched panoramas
// are shown; files of the other classes are refused (string 481).
bool ShownByPlayer(const FileProbe& probe);

// The converter's qualification check, as a message id of the string table.
enum Qualification : int {
  kQualified = 0,
  kNotQualified = 481,     // "This file is not captured by a qualified camera!"
  kAlreadyStitched = 482,  // "This file is already stitched!"
};
// Camera recordings with usable calibration and recordings stitched by the camera qualify;
// of the others, a file whose stitched test gives 1 is already stitched. The probe needs an
// extraction (a frame size) for camera types 1 and 2; without one they qualify by type.
Qualification QualifyForConversion(const FileProbe& probe);

// Width and height from the first SOFn frame header (ITU-T T.81, B.2.2) of a JPEG file.
// False when the file cannot be read, is not a JPEG, or has no frame header with a
// non-zero size before the first scan.
bool JpegFrameSize(const char* path, int* width, int* height);

}  // namespace spherolux
