// Frame sizes of media files for spherolux-cli: the JPEG's own frame header for photos and
// the first video stream's size (read with libavformat) for videos.
//
// Both open the file themselves and close it before returning; safe from any thread.
#pragma once

namespace spherolux {

// Width and height from the first SOFn frame header (ITU-T T.81, B.2.2) of a JPEG file.
// False when the file cannot be read, is not a JPEG, or has no frame header with a
// non-zero size before the first scan.
bool JpegFrameSize(const char* path, int* width, int* height);

// Width and height of the first video stream. False when libavformat cannot open the file
// or it has no video stream of known size.
bool VideoFrameSize(const char* path, int* width, int* height);

}  // namespace spherolux
