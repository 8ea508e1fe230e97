// Camera calibration records carried in the type-7 record of a calibration block.
//
// Both records are little-endian on disk. They are decoded and encoded field by field
// (never by casting a buffer), so the in-memory structs carry no layout promise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace spherolux {

// An image circle of one lens: centre and radius in pixels of a frame 1920 pixels wide.
struct LensCircle {
  float x = 0;
  float y = 0;
  float radius = 0;
};

// A control line: two end points in pixels of a 1920 x 960 equirectangular reference frame.
struct ControlLine {
  float mfP1x = 0;
  float mfP1y = 0;
  float mfP2x = 0;
  float mfP2y = 0;
};

constexpr int kMaxControlLines = 50;

// Dual-lens record, 1652 bytes on disk (a 1656-byte record carries 4 ignored bytes more).
struct DoubleFisheyeCameraPara {
  char szLabel[12] = {};                 // NUL-terminated label, carried along, never interpreted
  float fLensCoef = 0;                   // field of view of each lens in degrees (full aperture)
  int32_t lModel = 0;                    // camera model code; >= 300 sets the generation flag
  LensCircle stPoint1;                   // lens 1 circle
  LensCircle stPoint2;                   // lens 2 circle
  float fRatio = 0;                      // base value of the radius ratio
  int32_t lPointNum = 0;                 // used entries of mstPf1 / mstPf2 (0..50 in a sound record)
  ControlLine mstPf1[kMaxControlLines];  // source-side control lines
  ControlLine mstPf2[kMaxControlLines];  // destination-side control lines
};

constexpr size_t kDoubleFisheyeParaSize = 1652;
constexpr size_t kDoubleFisheyeParaSizeLong = 1656;

// Single-lens record, 28 bytes on disk.
struct SingleFisheyeCameraPara {
  uint8_t reserved[16] = {};  // not read by the system
  struct {
    float x = 0;
    float y = 0;
  } stPfCenter;       // circle centre in pixels of the camera's 1080-line frame
  float fRadius = 0;  // circle radius
};

constexpr size_t kSingleFisheyeParaSize = 28;

// Decodes the first 1652 bytes of `bytes`. False when size < 1652.
bool DecodeDoubleFisheyeCameraPara(const uint8_t* bytes, size_t size, DoubleFisheyeCameraPara* out);
// Encodes into exactly 1652 bytes.
void EncodeDoubleFisheyeCameraPara(const DoubleFisheyeCameraPara& para, uint8_t out[kDoubleFisheyeParaSize]);

// Decodes 28 bytes. False when size < 28.
bool DecodeSingleFisheyeCameraPara(const uint8_t* bytes, size_t size, SingleFisheyeCameraPara* out);
void EncodeSingleFisheyeCameraPara(const SingleFisheyeCameraPara& para, uint8_t out[kSingleFisheyeParaSize]);

}  // namespace spherolux
