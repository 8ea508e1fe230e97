// Calibration block locator: finds the metadata region of an MP4 or JPEG file that holds
// the camera's calibration block, and the block inside it.
//
// Each walker opens the file itself, reads box headers or marker segments with 64-bit
// positions (so multi-gigabyte videos cost a few reads), and closes it before returning.
// Walkers are pure functions of the file: safe to call from any thread. They print nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace spherolux {

// Walk result codes (internal to the walkers; callers look only at the span).
enum : int {
  kWalkOk = 0,
  kWalkCannotOpen = 0x80001,  // no path, file cannot be opened, no span given
  kWalkShort = 0x80002,       // short read, end of file without a find, box past the end
  kWalkMalformed = 0x80003,   // child box of size 0, JPEG not starting as expected, ...
  kWalkNoMemory = 0x80004,    // the span buffer cannot be allocated
};

// An owned copy of a metadata region. size: > 0 bytes held, 0 nothing found, -1 the walk
// ended with an error. bytes.size() == size when size > 0, else bytes is empty.
struct PayloadSpan {
  std::vector<uint8_t> bytes;
  int32_t size = 0;
};

// A container walker: fills `span` and returns a walk result code.
using ContainerWalker = int (*)(const char* path, PayloadSpan* span);

// MP4 walk, `udta` mode: the body of the first top-level, moov/ or moov/trak/ `udta`
// (or `udat`) box.
int WalkMp4Udta(const char* path, PayloadSpan* span);

// MP4 walk, `uuid` mode: the body (after the 16-byte UUID) of the first `uuid` box whose
// extended type is the Spherical Video V1 UUID ffcc8263-f855-4a93-8814-587a02521fdd.
int WalkMp4SphericalUuid(const char* path, PayloadSpan* span);

// JPEG Exif walk: the bytes of the first APP1 "Exif" segment after the signature. Only a
// JFIF APP0 may precede it.
int WalkJpegExif(const char* path, PayloadSpan* span);

// Whole-file read, the fallback of some consumers. kCannotOpen also covers files whose
// size does not fit a span (2 GiB and more) and a failed allocation.
enum class WholeFileResult { kOk, kCannotOpen, kEmpty };
WholeFileResult ReadWholeFile(const char* path, PayloadSpan* span);

// The whole-file fallback in bounded memory: scans the file in pieces for the first sync
// word and returns as the span only the block from there, that is the sync word, the next
// 4 bytes and the base64 text up to the first byte outside its alphabet (or the end of the
// file). Searching and decoding this span gives exactly what ReadWholeFile would give.
// kOk with an empty span when the file holds no sync word.
WholeFileResult ReadBlockFromWholeFile(const char* path, PayloadSpan* span);

// The 16-byte sync word that starts a calibration block.
inline constexpr char kSyncWord[] = "ARVELOINSTRUMENT";
constexpr size_t kSyncWordSize = 16;
// Offset of the base64 text from the sync word's first byte.
constexpr size_t kBlockTextOffset = 20;

// Scans for the first sync word. On success sets *offset to its position and *leftsize to
// the number of payload bytes from there to the end.
bool FindSyncWord(const uint8_t* payload, size_t size, size_t* offset, size_t* leftsize);

}  // namespace spherolux
