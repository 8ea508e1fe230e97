// Calibration block decoding: base64 (`ARB` stage), AES-128 ECB with PKCS#7 padding
// (`ARA` stage), then the header and the TLV record index.
//
// Pure functions over their inputs; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace spherolux {

enum class BlockStatus {
  kOk,
  kNoMemory,      // the work buffer could not be allocated
  kEmptyText,     // the `ARB` stage yielded 0 bytes
  kDecryptFailed  // the `ARA` stage failed: length not a non-zero multiple of 16, bad padding
};

// Record types the system reads.
enum : uint16_t { kRecordUuid = 3, kRecordCameraType = 5, kRecordLensPara = 7 };

// The plaintext block and its record index (at most 32 entries).
class DecodedBlock {
 public:
  struct Entry {
    uint16_t type;
    uint16_t length;
    size_t offset;  // of the value inside bytes()
  };

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  const std::vector<Entry>& index() const { return index_; }

  // The value of the first indexed record of `type`, or nullopt.
  std::optional<std::span<const uint8_t>> Find(uint16_t type) const;
  // The camera-type record as a signed 32-bit value; a record too short to hold one counts
  // as missing.
  std::optional<int32_t> CameraType() const;

 private:
  friend BlockStatus DecodeCalibrationBlock(const uint8_t*, size_t, DecodedBlock*);
  std::vector<uint8_t> bytes_;
  std::vector<Entry> index_;
};

// Decodes the block that starts with the sync word at `block`; `leftsize` bytes are
// available from there (the base64 text starts 20 bytes in).
BlockStatus DecodeCalibrationBlock(const uint8_t* block, size_t leftsize, DecodedBlock* out);

// The result code each caller gives to each way a located payload can fail.
struct BlockFailureCodes {
  int no_sync;
  int no_memory;
  int empty_text;
  int decrypt_failed;
};

// Finds the first sync word in a located payload and decodes the block that starts there.
// Returns 0, or the caller's code for the failure.
int DecodeLocatedBlock(const std::vector<uint8_t>& payload, const BlockFailureCodes& codes, DecodedBlock* out);

}  // namespace spherolux
