#include "calib/camera_para.h"

#include <cstring>

#include "base/bytes.h"

namespace spherolux {
namespace {

// Byte offsets of the dual-lens record.
constexpr size_t kOffLabel = 0;
constexpr size_t kOffLensCoef = 12;
constexpr size_t kOffModel = 16;
constexpr size_t kOffPoint1 = 20;
constexpr size_t kOffPoint2 = 32;
constexpr size_t kOffRatio = 44;
constexpr size_t kOffPointNum = 48;
constexpr size_t kOffPf1 = 52;
constexpr size_t kOffPf2 = 852;
constexpr size_t kControlLineSize = 16;

LensCircle LoadCircle(const uint8_t* p) { return {LoadLEFloat(p), LoadLEFloat(p + 4), LoadLEFloat(p + 8)}; }

void StoreCircle(uint8_t* p, const LensCircle& c) {
  StoreLEFloat(p, c.x);
  StoreLEFloat(p + 4, c.y);
  StoreLEFloat(p + 8, c.radius);
}

ControlLine LoadLine(const uint8_t* p) {
  return {LoadLEFloat(p), LoadLEFloat(p + 4), LoadLEFloat(p + 8), LoadLEFloat(p + 12)};
}

void StoreLine(uint8_t* p, const ControlLine& l) {
  StoreLEFloat(p, l.mfP1x);
  StoreLEFloat(p + 4, l.mfP1y);
  StoreLEFloat(p + 8, l.mfP2x);
  StoreLEFloat(p + 12, l.mfP2y);
}

}  // namespace

bool DecodeDoubleFisheyeCameraPara(const uint8_t* bytes, size_t size, DoubleFisheyeCameraPara* out) {
  if (!bytes || !out || size < kDoubleFisheyeParaSize) return false;
  std::memcpy(out->szLabel, bytes + kOffLabel, sizeof out->szLabel);
  out->fLensCoef = LoadLEFloat(bytes + kOffLensCoef);
  out->lModel = LoadLEI32(bytes + kOffModel);
  out->stPoint1 = LoadCircle(bytes + kOffPoint1);
  out->stPoint2 = LoadCircle(bytes + kOffPoint2);
  out->fRatio = LoadLEFloat(bytes + kOffRatio);
  out->lPointNum = LoadLEI32(bytes + kOffPointNum);
  for (int i = 0; i < kMaxControlLines; ++i) {
    out->mstPf1[i] = LoadLine(bytes + kOffPf1 + i * kControlLineSize);
    out->mstPf2[i] = LoadLine(bytes + kOffPf2 + i * kControlLineSize);
  }
  return true;
}

void EncodeDoubleFisheyeCameraPara(const DoubleFisheyeCameraPara& para, uint8_t out[kDoubleFisheyeParaSize]) {
  std::memcpy(out + kOffLabel, para.szLabel, sizeof para.szLabel);
  StoreLEFloat(out + kOffLensCoef, para.fLensCoef);
  StoreLE32(out + kOffModel, static_cast<uint32_t>(para.lModel));
  StoreCircle(out + kOffPoint1, para.stPoint1);
  StoreCircle(out + kOffPoint2, para.stPoint2);
  StoreLEFloat(out + kOffRatio, para.fRatio);
  StoreLE32(out + kOffPointNum, static_cast<uint32_t>(para.lPointNum));
  for (int i = 0; i < kMaxControlLines; ++i) {
    StoreLine(out + kOffPf1 + i * kControlLineSize, para.mstPf1[i]);
    StoreLine(out + kOffPf2 + i * kControlLineSize, para.mstPf2[i]);
  }
}

bool DecodeSingleFisheyeCameraPara(const uint8_t* bytes, size_t size, SingleFisheyeCameraPara* out) {
  if (!bytes || !out || size < kSingleFisheyeParaSize) return false;
  std::memcpy(out->reserved, bytes, sizeof out->reserved);
  out->stPfCenter.x = LoadLEFloat(bytes + 16);
  out->stPfCenter.y = LoadLEFloat(bytes + 20);
  out->fRadius = LoadLEFloat(bytes + 24);
  return true;
}

void EncodeSingleFisheyeCameraPara(const SingleFisheyeCameraPara& para, uint8_t out[kSingleFisheyeParaSize]) {
  std::memcpy(out, para.reserved, sizeof para.reserved);
  StoreLEFloat(out + 16, para.stPfCenter.x);
  StoreLEFloat(out + 20, para.stPfCenter.y);
  StoreLEFloat(out + 24, para.fRadius);
}

}  // namespace spherolux
