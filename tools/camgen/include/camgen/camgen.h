// camgen: builds camera files for tests — calibration blocks (with chosen faults), and
// JPEG photos and MP4 videos that carry them.
//
// The block format is written independently of the decoder in calib/: records are
// serialised, PKCS#7-padded, AES-128-ECB encrypted (OpenSSL) and base64-encoded here, so
// tests of the decoder do not check it against itself. Functions that make base media run
// real tools: cjpeg for photos, ffmpeg for videos. Everything returns bytes or a success
// flag; nothing throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "calib/camera_para.h"

namespace spherolux::camgen {

using Bytes = std::vector<uint8_t>;

// One TLV record of a calibration block.
struct Record {
  uint16_t type;
  Bytes value;
};

// A plausible record for a 1920 x 960 dual-fisheye frame: circles of radius 470 centred in
// each half (a circle's centre is given within its own lens image, so both are (480, 480)), a 200-degree field of view,
// ratio base 1.0 and two control lines per lens.
DoubleFisheyeCameraPara ExampleDualPara(int32_t model = 2201);
// A plausible single-lens record: centre (960, 540) of a 1080-line frame, radius 530.
SingleFisheyeCameraPara ExampleSinglePara();

// Records 3 (uuid), 5 (camera type) and 7 (the lens record of para_size bytes: 1652 or
// 1656, the extra bytes zero).
std::vector<Record> DualLensRecords(const DoubleFisheyeCameraPara& para, int32_t camera_type = 2,
                                    size_t para_size = kDoubleFisheyeParaSize,
                                    const std::string& uuid = "3f2a8c1e-5b7d-4e09-9a61-c0d2e4f6a8b0");
std::vector<Record> SingleLensRecords(const SingleFisheyeCameraPara& para, int32_t camera_type = 1,
                                      const std::string& uuid = "3f2a8c1e-5b7d-4e09-9a61-c0d2e4f6a8b0");
Record CameraTypeRecord(int32_t camera_type);

// Faults to build into a block.
struct BlockFaults {
  int padding = -1;               // >= 0: force the last plaintext byte (the pad) to this value
  int drop_cipher_bytes = 0;      // remove this many bytes from the end of the ciphertext
  int declared_length_delta = 0;  // added to the header's declared length
  int record_count_delta = 0;     // added to the header's record count
};

// The decoded block (plaintext as the decoder sees it: sync word, declared length, record
// count, reserved word, records).
Bytes MakePlainBlock(const std::vector<Record>& records, const BlockFaults& faults = {});
// The block as stored in a file: sync word, 4 unread bytes, base64 text. No terminator.
Bytes MakeBlock(const std::vector<Record>& records, const BlockFaults& faults = {});

// RFC 4648 base64 with "=" padding.
std::string Base64Encode(const Bytes& data);

// JPEG: inserts an APP1 "Exif" segment holding a minimal TIFF header and the block, either
// directly after SOI or after the JFIF APP0 that follows SOI (inserted when missing).
enum class JpegPlacement { kAfterSoi, kAfterJfif };
Bytes EmbedInJpeg(const Bytes& jpeg, const Bytes& block, JpegPlacement placement = JpegPlacement::kAfterJfif);

// MP4: puts the block into a `udta` box at the given place. Sizes of enclosing boxes and the
// chunk offsets (stco/co64) are fixed, so the file still plays. For every place but
// kMoovUdta an existing moov/udta (muxers write their own) becomes a `free` box, so that the
// block is the one a reader finds. Empty result on bad input.
enum class Mp4Placement { kMoovUdta, kTrakUdta, kTopLevelUdta, kTopLevelUdat };
Bytes EmbedInMp4(const Bytes& mp4, const Bytes& block, Mp4Placement placement = Mp4Placement::kMoovUdta);
// Appends to moov a chain of `depth` `udta` boxes, each holding only the next (8 bytes of
// header per level), after any udta already there: a file nested deeper than readers go.
Bytes AddNestedUdta(const Bytes& mp4, int depth);
// Rewrites the (first) mdat header with a 64-bit size (size field 1), fixing chunk offsets.
Bytes UseLargeMdat(const Bytes& mp4);
// Moves moov in front of mdat (as a streaming-optimised file has it), fixing chunk offsets.
Bytes MoveMoovToFront(const Bytes& mp4);

// The XML body of a Spherical Video V1 box; `spherical_text` is the text of
// GSpherical:Spherical ("true", "TRUE", "false", ...). With `with_spherical_element` false
// the root has no such child.
Bytes SphericalV1Xml(const std::string& spherical_text = "true", bool with_spherical_element = true);
// Adds a `uuid` box with the Spherical Video V1 UUID (or `uuid_bytes` when given, 16
// bytes) and the XML into the first trak.
Bytes AddSphericalV1Box(const Bytes& mp4, const Bytes& xml, const Bytes& uuid_bytes = {});

// Raw boxes for walker tests: a 32-bit-size box and a box with a 64-bit size.
Bytes Box(const char type[5], const Bytes& body);
Bytes Box64(const char type[5], const Bytes& body);
Bytes Concat(std::initializer_list<Bytes> parts);

// A dual-fisheye test picture (two textured circles side by side; one circle for
// single-lens) encoded by cjpeg at the given quality and sampling ("2x2", "2x1", "1x1").
Bytes MakeJpeg(int width, int height, int quality = 90, bool single_lens = false, const std::string& sampling = "2x2");
// The JPEG with the size its first baseline frame header (SOF0) declares replaced, the
// image data left as it is: a photo that claims a size it does not hold.
Bytes DeclareJpegSize(Bytes jpeg, int width, int height);
// A short H.264 clip made by ffmpeg (testsrc2, optional sine audio in AAC), moov at the end;
// with `hevc` H.265 in 'hvc1' sample entries, as cameras record it.
bool MakeMp4Clip(const std::string& path, int width, int height, double seconds, bool audio, bool hevc = false);

Bytes ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const Bytes& bytes);
// A fresh empty directory under $TMPDIR (or /tmp) for a test's files.
std::string MakeTempDir(const std::string& prefix = "camgen");

}  // namespace spherolux::camgen
