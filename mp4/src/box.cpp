#include "mp4/box.h"

#include <algorithm>
#include <cstring>

#include "base/byte_source.h"
#include "base/bytes.h"
#include "base/mp4_boxes.h"

namespace spherolux::mp4 {
namespace {

constexpr uint32_t kUuid = FourCC("uuid");

// Containers whose body is nothing but child boxes (ISO/IEC 14496-12, 8.x).
constexpr uint32_t kPlainContainers[] = {FourCC("moov"), FourCC("trak"), FourCC("mdia"), FourCC("minf"),
                                         FourCC("stbl"), FourCC("dinf"), FourCC("edts"), FourCC("mvex"),
                                         FourCC("moof"), FourCC("traf"), FourCC("mfra"), FourCC("tref"),
                                         FourCC("sinf"), FourCC("schi"), FourCC("sv3d"), FourCC("proj")};

// Visual sample entries (ISO/IEC 14496-12, 12.1.3): 78 bytes of fields before the child boxes.
constexpr uint32_t kVisualSampleEntries[] = {FourCC("avc1"), FourCC("avc3"), FourCC("hvc1"), FourCC("hev1"),
                                             FourCC("mp4v"), FourCC("encv"), FourCC("vp09"), FourCC("av01")};
constexpr size_t kVisualSampleEntryFields = 78;

bool Contains(std::span<const uint32_t> list, uint32_t type) {
  return std::find(list.begin(), list.end(), type) != list.end();
}

// The types ParseBody may split into children.
bool MayHoldBoxes(uint32_t t) {
  return Contains(kPlainContainers, t) || Contains(kVisualSampleEntries, t) || t == FourCC("udta") ||
         t == FourCC("meta") || t == FourCC("stsd");
}

// Splits `body` into prefix + children + trailing. `exact` asks for children that tile the
// body exactly (used where a box may hold raw data instead of boxes); false when they do not.
bool ParseContainerBody(Box* box, std::span<const uint8_t> body, size_t prefix, bool exact, int depth) {
  if (body.size() < prefix) return false;
  std::vector<Box> children;
  auto rest = body.subspan(prefix);
  ParseStatus st = ParseBoxes(rest, &children, depth + 1);
  size_t used = 0;
  for (const auto& c : children) used += static_cast<size_t>(c.Size());
  if (exact && (st != ParseStatus::kOk || used != rest.size())) return false;
  if (st == ParseStatus::kTruncated) {
    // The last child was clamped to our end: its size field is repaired on writing.
    used = rest.size();
  }
  box->container = true;
  box->prefix.assign(body.begin(), body.begin() + static_cast<ptrdiff_t>(prefix));
  box->children = std::move(children);
  box->trailing.assign(rest.begin() + static_cast<ptrdiff_t>(std::min(used, rest.size())), rest.end());
  return true;
}

void ParseBody(Box* box, std::span<const uint8_t> body, int depth) {
  const uint32_t t = box->type;
  if (depth < kMaxBoxDepth && MayHoldBoxes(t)) {
    if (Contains(kPlainContainers, t) && ParseContainerBody(box, body, 0, false, depth)) return;
    // 'udta' usually holds boxes, but cameras also store raw blocks there: split it only
    // when its children tile it exactly, so that nothing is lost either way.
    if (t == FourCC("udta") && ParseContainerBody(box, body, 0, true, depth)) return;
    // 'meta' is a full box in ISO files (8.11.1) and a plain container in QuickTime files,
    // where the handler box comes first.
    if (t == FourCC("meta")) {
      size_t prefix = (body.size() >= 8 && LoadBE32(body.data() + 4) == FourCC("hdlr")) ? 0 : 4;
      if (ParseContainerBody(box, body, prefix, true, depth)) return;
    }
    // 'stsd' (8.5.2): version, flags, entry count, then the sample entries.
    if (t == FourCC("stsd") && ParseContainerBody(box, body, 8, false, depth)) return;
    if (Contains(kVisualSampleEntries, t) && ParseContainerBody(box, body, kVisualSampleEntryFields, false, depth))
      return;
  }
  box->container = false;
  box->data.assign(body.begin(), body.end());
}

}  // namespace

uint64_t Box::BodySize() const {
  if (source_size > 0) return source_size;
  if (!container) return data.size();
  uint64_t n = prefix.size() + trailing.size();
  for (const auto& c : children) n += c.Size();
  return n;
}

uint64_t Box::Size() const {
  uint64_t body = BodySize();
  size_t header = 8 + (type == kUuid ? 16 : 0);
  if (wide_size || body + header > 0xffffffffull) header += 8;
  return body + header;
}

Box* Box::Find(uint32_t child_type) {
  for (auto& c : children)
    if (c.type == child_type) return &c;
  return nullptr;
}

const Box* Box::Find(uint32_t child_type) const {
  for (const auto& c : children)
    if (c.type == child_type) return &c;
  return nullptr;
}

bool NestsTooDeep(std::span<const Box> boxes, int depth) {
  for (const Box& box : boxes) {
    if (box.container) {
      if (NestsTooDeep(box.children, depth + 1)) return true;
    } else if (depth >= kMaxBoxDepth && MayHoldBoxes(box.type) && box.data.size() >= 8) {
      return true;
    }
  }
  return false;
}

ParseStatus ParseBoxes(std::span<const uint8_t> bytes, std::vector<Box>* out, int depth) {
  MemorySource src(bytes);
  Mp4BoxReader reader(src, 0, src.Size());
  for (;;) {
    Mp4Box h;
    const ReadStatus st = reader.Next(&h);
    if (st == ReadStatus::kEnd) return reader.trailing() > 0 ? ParseStatus::kMalformed : ParseStatus::kOk;
    if (st != ReadStatus::kOk) return ParseStatus::kMalformed;
    Box box;
    box.type = h.type;
    box.wide_size = h.size_field == 1;
    auto body = bytes.subspan(static_cast<size_t>(h.body()), static_cast<size_t>(h.body_size()));
    if (box.type == kUuid) {
      if (body.size() < 16) return ParseStatus::kMalformed;
      std::memcpy(box.usertype.data(), body.data(), 16);
      body = body.subspan(16);
    }
    ParseBody(&box, body, depth);
    out->push_back(std::move(box));
    if (h.cut) return ParseStatus::kTruncated;
  }
}

bool SerializeBox(const Box& box, std::vector<uint8_t>* out) {
  if (box.source_size > 0) return false;
  const uint64_t size = box.Size();
  const size_t start = out->size();
  const bool wide = box.wide_size || size > 0xffffffffull;
  out->resize(start + (wide ? 16 : 8));
  uint8_t* p = out->data() + start;
  StoreBE32(p, wide ? 1 : static_cast<uint32_t>(size));
  StoreBE32(p + 4, box.type);
  if (wide) StoreBE64(p + 8, size);
  if (box.type == kUuid) out->insert(out->end(), box.usertype.begin(), box.usertype.end());
  if (!box.container) {
    out->insert(out->end(), box.data.begin(), box.data.end());
    return true;
  }
  out->insert(out->end(), box.prefix.begin(), box.prefix.end());
  for (const auto& c : box.children)
    if (!SerializeBox(c, out)) {
      out->resize(start);
      return false;
    }
  out->insert(out->end(), box.trailing.begin(), box.trailing.end());
  return true;
}

Box MakeLeaf(uint32_t type, std::vector<uint8_t> data) {
  Box b;
  b.type = type;
  b.data = std::move(data);
  return b;
}

Box MakeContainer(uint32_t type, std::vector<Box> children, std::vector<uint8_t> prefix) {
  Box b;
  b.type = type;
  b.container = true;
  b.children = std::move(children);
  b.prefix = std::move(prefix);
  return b;
}

Box MakeFullBox(uint32_t type, uint8_t version, uint32_t flags, std::span<const uint8_t> payload) {
  std::vector<uint8_t> data(4);
  StoreBE32(data.data(), uint32_t{version} << 24 | (flags & 0xffffff));
  data.insert(data.end(), payload.begin(), payload.end());
  return MakeLeaf(type, std::move(data));
}

void FindAll(std::vector<Box>& boxes, uint32_t type, std::vector<Box*>* found) {
  for (auto& b : boxes) {
    if (b.type == type) found->push_back(&b);
    if (b.container) FindAll(b.children, type, found);
  }
}

uint32_t TypeCode(std::string_view four) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = v << 8 | (i < four.size() ? uint8_t(four[i]) : uint8_t(' '));
  return v;
}

std::string_view TypeName(uint32_t type, char (&buf)[5]) {
  for (int i = 0; i < 4; ++i) {
    char c = static_cast<char>(type >> (24 - 8 * i));
    buf[i] = (c >= 32 && c < 127) ? c : '?';
  }
  buf[4] = 0;
  return std::string_view(buf, 4);
}

}  // namespace spherolux::mp4
