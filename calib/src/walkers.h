// Walker entry points over a ByteSource, shared by the path-based public functions, the
// fuzz targets and the tests.
#pragma once

#include <span>

#include "base/byte_source.h"
#include "calib/locator.h"

namespace spherolux::calib_internal {

enum class Mp4Mode { kUdta, kSphericalUuid };

int WalkMp4(ByteSource& src, Mp4Mode mode, PayloadSpan* span);
int WalkJpegExif(ByteSource& src, PayloadSpan* span);
int IsStitchedPhoto(ByteSource& src);
int IsEquirectangularXmpPhoto(ByteSource& src);
// The spherical-video decision on an already located box body.
int SphericalBodyIsTrue(std::span<const uint8_t> body);

}  // namespace spherolux::calib_internal
