// Stages of the block decoder, exposed for the fuzz targets and tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "calib/block.h"

namespace spherolux::calib_internal {

// Number of leading bytes of `text` (at most `avail`) in the RFC 4648 base64 alphabet.
size_t Base64TextLength(const uint8_t* text, size_t avail);
// Decodes the first n characters (all in the alphabet) into out; a trailing group of 2 or 3
// characters gives 1 or 2 bytes, a single one nothing. Returns the bytes written.
size_t DecodeBase64Prefix(const uint8_t* text, size_t n, uint8_t* out);
// Builds the record index of a plaintext block (header at offset 0).
void IndexRecords(const std::vector<uint8_t>& block, std::vector<DecodedBlock::Entry>* index);

}  // namespace spherolux::calib_internal
