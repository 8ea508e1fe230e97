#include "calib/block.h"

#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <new>

#include "base/bytes.h"
#include "block_internal.h"
#include "calib/locator.h"

namespace spherolux {
namespace {

constexpr size_t kHeaderSize = 28;  // sync word, declared length, record count, 4 unread bytes
constexpr size_t kMaxIndexEntries = 32;
constexpr size_t kAesBlock = 16;
// The block cipher key: the 16 ASCII bytes "7777777733333333".
constexpr uint8_t kBlockKey[16] = {'7', '7', '7', '7', '7', '7', '7', '7', '3', '3', '3', '3', '3', '3', '3', '3'};

// RFC 4648, table 1. -1 for bytes outside the alphabet; "=" is outside it too.
constexpr int8_t Base64Value(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return static_cast<int8_t>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<int8_t>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<int8_t>(c - '0' + 52);
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

// FIPS-197 AES-128 in ECB mode over whole blocks; padding is checked by the caller.
bool DecryptEcb(const uint8_t* in, size_t n, uint8_t* out) {
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return false;
  if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, kBlockKey, nullptr) != 1) return false;
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  size_t done = 0;
  // EVP lengths are int: feed large inputs in pieces.
  constexpr size_t kChunk = size_t{1} << 30;
  while (done < n) {
    const size_t piece = std::min(kChunk, n - done);
    int out_len = 0;
    if (EVP_DecryptUpdate(ctx.get(), out + done, &out_len, in + done, static_cast<int>(piece)) != 1) return false;
    if (static_cast<size_t>(out_len) != piece) return false;
    done += piece;
  }
  int tail = 0;
  return EVP_DecryptFinal_ex(ctx.get(), out + done, &tail) == 1 && tail == 0;
}

}  // namespace

namespace calib_internal {

size_t Base64TextLength(const uint8_t* text, size_t avail) {
  size_t n = 0;
  while (n < avail && Base64Value(text[n]) >= 0) ++n;
  return n;
}

size_t DecodeBase64Prefix(const uint8_t* text, size_t n, uint8_t* out) {
  size_t o = 0;
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const uint32_t v = uint32_t(Base64Value(text[i])) << 18 | uint32_t(Base64Value(text[i + 1])) << 12 |
                       uint32_t(Base64Value(text[i + 2])) << 6 | uint32_t(Base64Value(text[i + 3]));
    out[o++] = uint8_t(v >> 16);
    out[o++] = uint8_t(v >> 8);
    out[o++] = uint8_t(v);
  }
  const size_t rest = n - i;
  if (rest >= 2) {
    uint32_t v = uint32_t(Base64Value(text[i])) << 18 | uint32_t(Base64Value(text[i + 1])) << 12;
    if (rest == 3) v |= uint32_t(Base64Value(text[i + 2])) << 6;
    out[o++] = uint8_t(v >> 16);
    if (rest == 3) out[o++] = uint8_t(v >> 8);
  }
  return o;
}

void IndexRecords(const std::vector<uint8_t>& block, std::vector<DecodedBlock::Entry>* index) {
  index->clear();
  const size_t end = block.size();
  if (end < kHeaderSize) return;
  const uint32_t declared = LoadLE32(block.data() + 16);
  const uint32_t count = LoadLE32(block.data() + 20);
  if (declared > end) return;
  size_t off = kHeaderSize;
  for (uint32_t i = 0; i < count && i < kMaxIndexEntries; ++i) {
    if (off >= end || end - off < 4) break;
    const uint16_t type = LoadLE16(block.data() + off);
    const uint16_t length = LoadLE16(block.data() + off + 2);
    if (length <= end - off - 4) index->push_back({type, length, off + 4});
    off += size_t{length} + 4;
  }
}

}  // namespace calib_internal

std::optional<std::span<const uint8_t>> DecodedBlock::Find(uint16_t type) const {
  for (const Entry& e : index_) {
    if (e.type == type) return std::span<const uint8_t>(bytes_.data() + e.offset, e.length);
  }
  return std::nullopt;
}

std::optional<int32_t> DecodedBlock::CameraType() const {
  auto rec = Find(kRecordCameraType);
  if (!rec || rec->size() < 4) return std::nullopt;
  return LoadLEI32(rec->data());
}

BlockStatus DecodeCalibrationBlock(const uint8_t* block, size_t leftsize, DecodedBlock* out) {
  if (!out) return BlockStatus::kNoMemory;
  out->bytes_.clear();
  out->index_.clear();
  if (!block || leftsize <= kBlockTextOffset) return BlockStatus::kEmptyText;

  const uint8_t* text = block + kBlockTextOffset;
  const size_t n = calib_internal::Base64TextLength(text, leftsize - kBlockTextOffset);
  const size_t groups = n / 4 + (n % 4 ? 1 : 0);
  const size_t decoded_max = groups * 3;
  const size_t decoded = decoded_max - (4 - n % 4) % 4;
  if (decoded == 0) return BlockStatus::kEmptyText;

  // The work buffer holds the sync word followed by the ciphertext; the output buffer has
  // room for the whole plaintext before the padding is removed.
  std::vector<uint8_t> work;
  std::vector<uint8_t> plain;
  try {
    work.assign(kSyncWordSize + decoded_max + 1, 0);
    plain.assign(kSyncWordSize + decoded + 2, 0);
  } catch (const std::bad_alloc&) {
    return BlockStatus::kNoMemory;
  }
  const size_t got = calib_internal::DecodeBase64Prefix(text, n, work.data() + kSyncWordSize);
  if (got != decoded) return BlockStatus::kEmptyText;  // cannot happen: the two counts agree
  std::memcpy(work.data(), kSyncWord, kSyncWordSize);

  // PKCS#7 (RFC 5652, 6.3): the last byte p is 1..16 and the last p bytes all equal p.
  if (decoded % kAesBlock != 0) return BlockStatus::kDecryptFailed;
  std::memcpy(plain.data(), work.data(), kSyncWordSize);
  if (!DecryptEcb(work.data() + kSyncWordSize, decoded, plain.data() + kSyncWordSize)) {
    return BlockStatus::kDecryptFailed;
  }
  const size_t total = kSyncWordSize + decoded;
  const uint8_t p = plain[total - 1];
  if (p < 1 || p > kAesBlock) return BlockStatus::kDecryptFailed;
  for (size_t i = total - p; i < total; ++i) {
    if (plain[i] != p) return BlockStatus::kDecryptFailed;
  }
  plain.resize(total - p);
  calib_internal::IndexRecords(plain, &out->index_);
  out->bytes_ = std::move(plain);
  return BlockStatus::kOk;
}

int DecodeLocatedBlock(const std::vector<uint8_t>& payload, const BlockFailureCodes& codes, DecodedBlock* out) {
  size_t offset = 0;
  size_t leftsize = 0;
  if (!FindSyncWord(payload.data(), payload.size(), &offset, &leftsize)) return codes.no_sync;
  switch (DecodeCalibrationBlock(payload.data() + offset, leftsize, out)) {
    case BlockStatus::kOk:
      return 0;
    case BlockStatus::kNoMemory:
      return codes.no_memory;
    case BlockStatus::kEmptyText:
      return codes.empty_text;
    case BlockStatus::kDecryptFailed:
      return codes.decrypt_failed;
  }
  return codes.decrypt_failed;
}

}  // namespace spherolux
