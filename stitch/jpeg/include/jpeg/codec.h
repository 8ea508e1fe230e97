// The system's own JPEG codec: a Huffman DCT decoder (ITU-T T.81 sequential and
// progressive, 8-bit) and a baseline encoder, both driven by numeric identifiers and
// moving pictures as separate Y, U, V planes in strips of rows.
//
// Ownership: each context is created by its *Create call and released by its *Destroy
// call; every byte it holds comes from the allocation callback of its stream description
// and goes back through the release callback. The FILE* stays the caller's: the decoder
// reads it from its position at creation (and seeks in it to rewind or to look ahead for a
// DNL height), the encoder writes at its current position. Nothing is thrown or printed.
// A context is used by one thread at a time.
//
// Failures are result codes (kJpeg*); after a failure the context stays valid for destroy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace spherolux {

struct JpegDecoder;  // opaque
struct JpegEncoder;  // opaque

// Result codes.
inline constexpr int32_t kJpegOk = 0;
inline constexpr int32_t kJpegInvalidArgument = 0x8001;  // missing pointer, wrong size, unknown id, bad value
inline constexpr int32_t kJpegOutOfMemory = 0x8002;      // the allocation callback returned nullptr
inline constexpr int32_t kJpegBadState = 0x8008;         // refused marker, unsupported layout, wrong moment
inline constexpr int32_t kJpegCorrupt = 0x8010;          // corrupt or truncated data, failed file write
inline constexpr int32_t kJpegNotPresent = 0x8040;       // the requested item does not exist in this stream

// The text of a result code, for messages.
constexpr const char* JpegResultMessage(int32_t code) {
  switch (code) {
    case kJpegOk:
      return "done";
    case kJpegInvalidArgument:
      return "invalid argument";
    case kJpegOutOfMemory:
      return "out of memory in the JPEG codec";
    case kJpegBadState:
      return "unsupported JPEG coding process or marker";
    case kJpegCorrupt:
      return "corrupt or truncated JPEG data";
    case kJpegNotPresent:
      return "the JPEG data lacks a required part";
    default:
      return "unknown JPEG codec result";
  }
}

// Sampling codes (decoder 0x100A).
inline constexpr int32_t kJpegSampling420 = 0;  // luma 2x2, chroma 1x1
inline constexpr int32_t kJpegSampling422 = 1;  // luma 2x1, chroma 1x1
inline constexpr int32_t kJpegSampling440 = 2;  // luma 1x2, chroma 1x1
inline constexpr int32_t kJpegSampling444 = 3;
inline constexpr int32_t kJpegSamplingGrey = 4;   // one component
inline constexpr int32_t kJpegSamplingOther = 5;  // see 0x100B

using JpegAllocFn = void* (*)(size_t size);  // returns nullptr on failure
using JpegReleaseFn = void (*)(void* ptr);   // accepts what JpegAllocFn returned

// ---- Decoder ------------------------------------------------------------------------------

struct JpegDecoderStream {
  std::FILE* file = nullptr;
  JpegAllocFn alloc = nullptr;
  JpegReleaseFn release = nullptr;
};

// Identifiers: get unless noted; "size" is the buffer size the call requires.
inline constexpr uint32_t kJpegDecImageSize = 0x1001;    // 8: int32 width, height
inline constexpr uint32_t kJpegDecScale = 0x1003;        // 4: denominator 1, 2, 4, 8 (get and set)
inline constexpr uint32_t kJpegDecComponents = 0x1004;   // 4: component count
inline constexpr uint32_t kJpegDecOutputSize = 0x1006;   // 8: size at the current scale, each >= 1
inline constexpr uint32_t kJpegDecMcuSize = 0x1008;      // 8: MCU width, height in image pixels
inline constexpr uint32_t kJpegDecSampling = 0x100A;     // 4: sampling code
inline constexpr uint32_t kJpegDecSubsampling = 0x100B;  // 8: luma/chroma factor ratio, horizontal, vertical
inline constexpr uint32_t kJpegDecRewind = 0x100D;       // set, no value: back to row 0 (not progressive)
inline constexpr uint32_t kJpegDecProcess = 0x100E;      // 4: 0 sequential, 1 progressive
inline constexpr uint32_t kJpegDecIndexBudget = 0x1012;  // set, 4: accepted and kept; the decoder needs no index

// Reads the headers up to the first scan, so the sizes are known at once.
int32_t JpegDecoderCreate(JpegDecoder** out, const JpegDecoderStream& stream);
int32_t JpegDecoderGet(JpegDecoder* dec, uint32_t id, void* value, size_t size);
int32_t JpegDecoderSet(JpegDecoder* dec, uint32_t id, const void* value, size_t size);
// Delivers the next *rows output rows (clipped to those left; *rows returns the count) of
// every component at its own sampling: plane c receives component c's rows
// [ceil(r0 * vc / vmax), ceil((r0 + n) * vc / vmax)) starting at planes[c], rows
// strides[c] bytes apart, where r0 is the first row of the strip. Strips whose height is a
// multiple of the vertical chroma ratio keep chroma and luma pointers in step. Greyscale
// needs only planes[0]. Data errors still deliver the rows (damaged parts are filled as
// if the missing bits were zero) and return kJpegCorrupt.
int32_t JpegDecoderDecodeRows(JpegDecoder* dec, uint8_t* const planes[3], const int32_t strides[3], void* reserved,
                              int32_t* rows);
int32_t JpegDecoderDestroy(JpegDecoder* dec);

// ---- Encoder ------------------------------------------------------------------------------

struct JpegEncoderStream {
  std::FILE* file = nullptr;
  int32_t width = 0;              // 1..65535
  int32_t height = 0;             // 1..65535
  int32_t pixel_format = 1;       // 0..23; only 1 (planar 4:2:0, Y U V) is implemented
  int32_t sampling_override = 0;  // 0: the format's own sampling (the only value accepted)
  JpegAllocFn alloc = nullptr;
  JpegReleaseFn release = nullptr;
};

// Exif data for kJpegEncExif. It follows the letters "Exif" directly, so it normally starts
// with the two zero bytes of the Exif identifier; at most 65529 bytes. It is copied.
struct JpegExifData {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

inline constexpr uint32_t kJpegEncQuality = 0x2001;      // 4: 1..100, clamped; default 85
inline constexpr uint32_t kJpegEncExif = 0x2002;         // sizeof(JpegExifData): APP1 Exif instead of JFIF
inline constexpr uint32_t kJpegEncRounding = 0x200C;     // 4: 1 round to nearest (default), 0 truncate
inline constexpr uint32_t kJpegEncIndexBudget = 0x200F;  // 4: accepted and kept; the encoder needs no index

int32_t JpegEncoderCreate(JpegEncoder** out, const JpegEncoderStream& stream);
// Settings must come before the first rows: the headers are written with the first rows.
int32_t JpegEncoderSet(JpegEncoder* enc, uint32_t id, const void* value, size_t size);
// Encodes rows [first_row, first_row + rows) (clipped to the height); first_row must be the
// next row expected. Plane pointers and strides follow the decoder's strip convention: U and
// V receive chroma rows [ceil(first_row / 2), ceil((first_row + rows) / 2)).
int32_t JpegEncoderEncodeRows(JpegEncoder* enc, const uint8_t* const planes[3], const int32_t strides[3],
                              int32_t first_row, int32_t rows);
// Writes the end of the entropy data and EOI and flushes; every row must have been encoded.
int32_t JpegEncoderFinish(JpegEncoder* enc);
// Bytes written to the file, valid after finish.
int32_t JpegEncoderWrittenSize(JpegEncoder* enc, uint64_t* bytes);
int32_t JpegEncoderDestroy(JpegEncoder* enc);

}  // namespace spherolux
