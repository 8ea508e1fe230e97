// MP4 box tree (ISO/IEC 14496-12, 4.2 "Object structure").
//
// A box is read into a tree: known containers are split into children, every other box
// keeps its body byte for byte. Writing the tree back gives the same bytes, except that
// damaged sizes are repaired (a child claiming more than its parent holds is clamped to
// the parent's end). Reading is bounded: nesting deeper than kMaxBoxDepth is kept as an
// opaque body, and no size in the input is trusted beyond the bytes actually present.
//
// Pure functions over their inputs; safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "base/mp4_boxes.h"

namespace spherolux::mp4 {

constexpr int kMaxBoxDepth = kMaxMp4BoxDepth;

struct Box {
  uint32_t type = 0;                   // four-character code, big-endian (FourCC("moov"))
  std::array<uint8_t, 16> usertype{};  // extended type, meaningful when type is 'uuid'
  bool container = false;              // true: the body is prefix + children + trailing
  bool wide_size = false;              // written with a 64-bit size even when it fits 32 bits
  std::vector<uint8_t> prefix;         // container fields before the first child (version,
                                       // flags, entry count, sample entry fields)
  std::vector<Box> children;           // container children in file order
  std::vector<uint8_t> trailing;       // container bytes after the last child that form no box
  std::vector<uint8_t> data;           // body of a leaf box (after the header and usertype)

  // Data kept in a source file instead of memory (big leaves such as 'mdat'): when
  // source_size > 0 the body is source_size bytes at source_offset of the file it was read
  // from, and `data` is empty.
  int64_t source_offset = -1;
  uint64_t source_size = 0;

  // Size of the whole box as it would be written now.
  uint64_t Size() const;
  uint64_t BodySize() const;

  Box* Find(uint32_t child_type);
  const Box* Find(uint32_t child_type) const;
};

enum class ParseStatus { kOk, kTruncated, kMalformed };

// Parses the boxes of `bytes` into `out` (appended). Boxes whose size runs past the end are
// clamped to it and kTruncated is reported; a header that cannot be read ends parsing with
// the remaining bytes dropped and kMalformed. `depth` is the nesting level of `bytes`.
ParseStatus ParseBoxes(std::span<const uint8_t> bytes, std::vector<Box>* out, int depth = 0);

// Whether a box of `boxes` (at nesting level `depth`) is a container kept whole at
// kMaxBoxDepth that still holds boxes: a file nested deeper than this reader goes. Readers
// without such a bound recurse through it until their stack runs out.
bool NestsTooDeep(std::span<const Box> boxes, int depth = 0);

// Appends the serialised box (header, body) to `out`. Boxes whose body lives in a source
// file cannot be serialised in memory: false, nothing appended.
bool SerializeBox(const Box& box, std::vector<uint8_t>* out);

// Helpers for building boxes.
Box MakeLeaf(uint32_t type, std::vector<uint8_t> data);
Box MakeContainer(uint32_t type, std::vector<Box> children, std::vector<uint8_t> prefix = {});
// A full box (ISO/IEC 14496-12, 4.2): version, 24-bit flags, then the payload.
Box MakeFullBox(uint32_t type, uint8_t version, uint32_t flags, std::span<const uint8_t> payload);

// Depth-first search for every box of `type` under `boxes` (containers only).
void FindAll(std::vector<Box>& boxes, uint32_t type, std::vector<Box*>* found);

// Four-character code of a string such as "moov" (4 characters).
uint32_t TypeCode(std::string_view four);
std::string_view TypeName(uint32_t type, char (&buf)[5]);

}  // namespace spherolux::mp4
