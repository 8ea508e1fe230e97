// Calibration blocks: records, header, PKCS#7, AES-128-ECB (FIPS-197) and base64
// (RFC 4648).
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "camgen/camgen.h"

namespace spherolux::camgen {
namespace {

constexpr char kSync[] = "ARVELOINSTRUMENT";
constexpr unsigned char kKey[16] = {'7', '7', '7', '7', '7', '7', '7', '7', '3', '3', '3', '3', '3', '3', '3', '3'};

void PutLE32(Bytes& b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = uint8_t(v >> (8 * i));
}

void AppendLE16(Bytes& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}

Bytes Encrypt(const Bytes& plain) {
  struct CtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
  };
  std::unique_ptr<EVP_CIPHER_CTX, CtxFree> ctx(EVP_CIPHER_CTX_new());
  Bytes out(plain.size() + 16);
  int n1 = 0, n2 = 0;
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, kKey, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      EVP_EncryptUpdate(ctx.get(), out.data(), &n1, plain.data(), int(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), out.data() + n1, &n2) != 1) {
    return {};
  }
  out.resize(size_t(n1 + n2));
  return out;
}

}  // namespace

DoubleFisheyeCameraPara ExampleDualPara(int32_t model) {
  DoubleFisheyeCameraPara p;
  std::memcpy(p.szLabel, "TESTCAM", 8);
  p.fLensCoef = 200.0f;
  p.lModel = model;
  p.stPoint1 = {480.0f, 480.0f, 470.0f};
  p.stPoint2 = {480.0f, 480.0f, 470.0f};  // centres are relative to each lens's half
  p.fRatio = 1.0f;
  p.lPointNum = 2;
  // Two near-vertical lines in the 1920 x 960 reference frame, one at each seam; the
  // destination lines sit a few pixels beside the source lines. The warp scales the polar
  // angle by destination P1.y over source P2.y, so those two meet on the equator (y = 480)
  // and the example warps azimuths only, as a well-calibrated camera's lines do.
  p.mstPf1[0] = {470.0f, 300.0f, 472.0f, 480.0f};
  p.mstPf1[1] = {1450.0f, 300.0f, 1448.0f, 480.0f};
  p.mstPf2[0] = {474.0f, 480.0f, 475.0f, 660.0f};
  p.mstPf2[1] = {1446.0f, 480.0f, 1445.0f, 660.0f};
  return p;
}

SingleFisheyeCameraPara ExampleSinglePara() {
  SingleFisheyeCameraPara p;
  p.stPfCenter.x = 960.0f;
  p.stPfCenter.y = 540.0f;
  p.fRadius = 530.0f;
  return p;
}

Record CameraTypeRecord(int32_t camera_type) {
  Record r{5, Bytes(4)};
  PutLE32(r.value, 0, uint32_t(camera_type));
  return r;
}

std::vector<Record> DualLensRecords(const DoubleFisheyeCameraPara& para, int32_t camera_type, size_t para_size,
                                    const std::string& uuid) {
  Record lens{7, Bytes(para_size < kDoubleFisheyeParaSize ? kDoubleFisheyeParaSize : para_size, 0)};
  EncodeDoubleFisheyeCameraPara(para, lens.value.data());
  lens.value.resize(para_size);
  return {Record{3, Bytes(uuid.begin(), uuid.end())}, CameraTypeRecord(camera_type), lens};
}

std::vector<Record> SingleLensRecords(const SingleFisheyeCameraPara& para, int32_t camera_type,
                                      const std::string& uuid) {
  Record lens{7, Bytes(kSingleFisheyeParaSize)};
  EncodeSingleFisheyeCameraPara(para, lens.value.data());
  return {Record{3, Bytes(uuid.begin(), uuid.end())}, CameraTypeRecord(camera_type), lens};
}

Bytes MakePlainBlock(const std::vector<Record>& records, const BlockFaults& faults) {
  Bytes b(28, 0);
  std::memcpy(b.data(), kSync, 16);
  for (const Record& r : records) {
    AppendLE16(b, r.type);
    AppendLE16(b, uint16_t(r.value.size()));
    b.insert(b.end(), r.value.begin(), r.value.end());
  }
  PutLE32(b, 16, uint32_t(int64_t(b.size()) + faults.declared_length_delta));
  PutLE32(b, 20, uint32_t(int64_t(records.size()) + faults.record_count_delta));
  return b;
}

Bytes MakeBlock(const std::vector<Record>& records, const BlockFaults& faults) {
  Bytes plain = MakePlainBlock(records, faults);
  // The ciphertext covers everything after the sync word, padded to whole AES blocks
  // (PKCS#7: p bytes of value p, 1 <= p <= 16).
  Bytes body(plain.begin() + 16, plain.end());
  size_t pad = 16 - body.size() % 16;
  body.insert(body.end(), pad, uint8_t(pad));
  if (faults.padding >= 0) body.back() = uint8_t(faults.padding);
  Bytes cipher = Encrypt(body);
  if (faults.drop_cipher_bytes > 0)
    cipher.resize(cipher.size() - std::min<size_t>(cipher.size(), faults.drop_cipher_bytes));
  std::string text = Base64Encode(cipher);
  Bytes block(20 + text.size(), 0);
  std::memcpy(block.data(), kSync, 16);
  std::copy(text.begin(), text.end(), block.begin() + 20);
  return block;
}

std::string Base64Encode(const Bytes& data) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
    for (int k = 3; k >= 0; --k) out += kAlphabet[(v >> (6 * k)) & 63];
  }
  size_t rest = data.size() - i;
  if (rest == 1) {
    uint32_t v = uint32_t(data[i]) << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (rest == 2) {
    uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

}  // namespace spherolux::camgen
