// Fuzzes the block decoder three ways, chosen by the first input byte:
//   0: the input is a stored block (sync word, 4 bytes, base64 text) as found in a file;
//   1: the input is a plaintext block, indexed directly;
//   2: the input is a plaintext body that is padded, encrypted and base64-encoded here, so
//      the fuzzer reaches the header and record parsing through the whole decoder.
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "block_internal.h"
#include "calib/block.h"
#include "calib/camera_para.h"
#include "calib/locator.h"

using namespace spherolux;

namespace {

std::vector<uint8_t> Encrypt(const std::vector<uint8_t>& plain) {
  static const uint8_t key[16] = {'7', '7', '7', '7', '7', '7', '7', '7', '3', '3', '3', '3', '3', '3', '3', '3'};
  std::vector<uint8_t> out(plain.size() + 16);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int n = 0, tail = 0;
  EVP_EncryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key, nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_EncryptUpdate(ctx, out.data(), &n, plain.data(), int(plain.size()));
  EVP_EncryptFinal_ex(ctx, out.data() + n, &tail);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(size_t(n + tail));
  return out;
}

std::string Base64(const std::vector<uint8_t>& d) {
  static const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s;
  for (size_t i = 0; i < d.size(); i += 3) {
    uint32_t v = uint32_t(d[i]) << 16;
    if (i + 1 < d.size()) v |= uint32_t(d[i + 1]) << 8;
    if (i + 2 < d.size()) v |= d[i + 2];
    const size_t chars = std::min<size_t>(4, d.size() - i + 1);
    for (size_t k = 0; k < chars; ++k) s += a[(v >> (18 - 6 * k)) & 63];
  }
  return s;
}

void UseRecords(const DecodedBlock& block) {
  const size_t size = block.bytes().size();
  for (const auto& e : block.index()) {
    if (e.offset + e.length > size) __builtin_trap();
  }
  if (block.index().size() > 32) __builtin_trap();
  if (auto rec = block.Find(kRecordLensPara)) {
    DoubleFisheyeCameraPara dual;
    SingleFisheyeCameraPara single;
    DecodeDoubleFisheyeCameraPara(rec->data(), rec->size(), &dual);
    DecodeSingleFisheyeCameraPara(rec->data(), rec->size(), &single);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0] % 3;
  ++data;
  --size;
  DecodedBlock block;
  if (mode == 0) {
    if (DecodeCalibrationBlock(data, size, &block) == BlockStatus::kOk) UseRecords(block);
    return 0;
  }
  std::vector<uint8_t> plain(kSyncWordSize);
  std::memcpy(plain.data(), kSyncWord, kSyncWordSize);
  plain.insert(plain.end(), data, data + size);
  if (mode == 1) {
    std::vector<DecodedBlock::Entry> index;
    calib_internal::IndexRecords(plain, &index);
    for (const auto& e : index) {
      if (e.offset + e.length > plain.size()) __builtin_trap();
    }
    return 0;
  }
  // PKCS#7 pad the body (everything after the sync word), encrypt, encode, store.
  std::vector<uint8_t> body(plain.begin() + kSyncWordSize, plain.end());
  const size_t pad = 16 - body.size() % 16;
  body.insert(body.end(), pad, uint8_t(pad));
  const std::string text = Base64(Encrypt(body));
  std::vector<uint8_t> stored(kBlockTextOffset);
  std::memcpy(stored.data(), kSyncWord, kSyncWordSize);
  stored.insert(stored.end(), text.begin(), text.end());
  if (DecodeCalibrationBlock(stored.data(), stored.size(), &block) != BlockStatus::kOk) __builtin_trap();
  if (block.bytes() != plain) __builtin_trap();
  UseRecords(block);
  return 0;
}
