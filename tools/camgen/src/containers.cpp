// Embedding calibration blocks into JPEG (ITU-T T.81 marker segments, Exif APP1) and MP4
// (ISO/IEC 14496-12 boxes) files.
#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "camgen/camgen.h"

namespace spherolux::camgen {
namespace {

// --- JPEG ----------------------------------------------------------------------------

Bytes Segment(uint8_t marker, const Bytes& body) {
  Bytes s = {0xFF, marker, 0, 0};
  StoreBE16(&s[2], uint16_t(body.size() + 2));
  s.insert(s.end(), body.begin(), body.end());
  return s;
}

Bytes JfifApp0() { return Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}); }

// Exif APP1 data: signature, a little-endian TIFF header with an empty IFD, then the block.
Bytes ExifApp1(const Bytes& block) {
  Bytes body = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  body.insert(body.end(), block.begin(), block.end());
  body.push_back(0);
  return Segment(0xE1, body);
}

// --- MP4 box tree --------------------------------------------------------------------

struct Node {
  uint32_t type = 0;
  bool large = false;
  bool container = false;
  Bytes body;  // leaves only
  std::vector<Node> children;
};

bool IsContainer(uint32_t type) {
  for (const char* t : {"moov", "trak", "mdia", "minf", "stbl", "dinf", "edts"}) {
    if (type == LoadBE32(reinterpret_cast<const uint8_t*>(t))) return true;
  }
  return false;
}

uint32_t Type(const char* t) { return LoadBE32(reinterpret_cast<const uint8_t*>(t)); }

bool Parse(const uint8_t* p, size_t n, std::vector<Node>* out, int depth) {
  size_t pos = 0;
  while (pos < n) {
    if (n - pos < 8) return false;
    uint64_t size = LoadBE32(p + pos);
    Node node;
    node.type = LoadBE32(p + pos + 4);
    size_t header = 8;
    if (size == 1) {
      if (n - pos < 16) return false;
      size = LoadBE64(p + pos + 8);
      header = 16;
      node.large = true;
    } else if (size == 0) {
      size = n - pos;
    }
    if (size < header || size > n - pos) return false;
    const uint8_t* body = p + pos + header;
    size_t body_size = size_t(size) - header;
    if (IsContainer(node.type) && depth < 8) {
      node.container = true;
      if (!Parse(body, body_size, &node.children, depth + 1)) return false;
    } else {
      node.body.assign(body, body + body_size);
    }
    out->push_back(std::move(node));
    pos += size_t(size);
  }
  return true;
}

uint64_t SizeOf(const Node& node) {
  uint64_t body = 0;
  if (node.container) {
    for (const Node& c : node.children) body += SizeOf(c);
  } else {
    body = node.body.size();
  }
  return body + (node.large ? 16 : 8);
}

void Write(const Node& node, Bytes& out) {
  uint64_t size = SizeOf(node);
  size_t at = out.size();
  if (node.large) {
    out.resize(at + 16);
    StoreBE32(&out[at], 1);
    StoreBE32(&out[at + 4], node.type);
    StoreBE64(&out[at + 8], size);
  } else {
    out.resize(at + 8);
    StoreBE32(&out[at], uint32_t(size));
    StoreBE32(&out[at + 4], node.type);
  }
  if (node.container) {
    for (const Node& c : node.children) Write(c, out);
  } else {
    out.insert(out.end(), node.body.begin(), node.body.end());
  }
}

// File position of the first mdat's body, or -1.
int64_t MdatBodyPosition(const std::vector<Node>& top) {
  uint64_t pos = 0;
  for (const Node& n : top) {
    if (n.type == Type("mdat")) return int64_t(pos + (n.large ? 16 : 8));
    pos += SizeOf(n);
  }
  return -1;
}

// Adds delta to every chunk offset (stco and co64, ISO/IEC 14496-12 8.7.5).
void ShiftChunkOffsets(std::vector<Node>& nodes, int64_t delta) {
  for (Node& n : nodes) {
    if (n.container) {
      ShiftChunkOffsets(n.children, delta);
    } else if ((n.type == Type("stco") || n.type == Type("co64")) && n.body.size() >= 8) {
      bool wide = n.type == Type("co64");
      size_t width = wide ? 8 : 4;
      uint32_t count = LoadBE32(&n.body[4]);
      for (uint32_t i = 0; i < count && 8 + (i + 1) * width <= n.body.size(); ++i) {
        uint8_t* e = &n.body[8 + i * width];
        if (wide) {
          StoreBE64(e, uint64_t(int64_t(LoadBE64(e)) + delta));
        } else {
          StoreBE32(e, uint32_t(int64_t(LoadBE32(e)) + delta));
        }
      }
    }
  }
}

Node* Find(std::vector<Node>& nodes, const char* type) {
  for (Node& n : nodes) {
    if (n.type == Type(type)) return &n;
  }
  return nullptr;
}

Node Leaf(const char* type, Bytes body) {
  Node n;
  n.type = Type(type);
  n.body = std::move(body);
  return n;
}

// Parses, lets `edit` change the tree, fixes chunk offsets for the moved media data and
// writes the file again. Empty on a file that does not parse or an edit that fails.
template <typename Edit>
Bytes EditMp4(const Bytes& mp4, Edit edit) {
  std::vector<Node> top;
  if (!Parse(mp4.data(), mp4.size(), &top, 0)) return {};
  int64_t before = MdatBodyPosition(top);
  if (!edit(top)) return {};
  int64_t after = MdatBodyPosition(top);
  if (before >= 0 && after >= 0 && after != before) ShiftChunkOffsets(top, after - before);
  Bytes out;
  out.reserve(mp4.size() + 4096);
  for (const Node& n : top) Write(n, out);
  return out;
}

// Appends the block, as the body of a child box, to the udta of `parent` (created when
// missing).
void AddToUdta(std::vector<Node>& children, const Bytes& block, const char* udta_type = "udta") {
  Bytes child = Box("cali", block);
  if (Node* udta = Find(children, udta_type)) {
    udta->body.insert(udta->body.end(), child.begin(), child.end());
  } else {
    children.push_back(Leaf(udta_type, child));
  }
}

}  // namespace

Bytes EmbedInJpeg(const Bytes& jpeg, const Bytes& block, JpegPlacement placement) {
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return {};
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  size_t rest = 2;
  if (placement == JpegPlacement::kAfterJfif) {
    if (jpeg[2] == 0xFF && jpeg[3] == 0xE0 && jpeg.size() >= 6) {
      rest = 4 + LoadBE16(&jpeg[4]);
      if (rest > jpeg.size()) return {};
      out.insert(out.end(), jpeg.begin() + 2, jpeg.begin() + rest);
    } else {
      Bytes app0 = JfifApp0();
      out.insert(out.end(), app0.begin(), app0.end());
    }
  }
  Bytes app1 = ExifApp1(block);
  out.insert(out.end(), app1.begin(), app1.end());
  out.insert(out.end(), jpeg.begin() + rest, jpeg.end());
  return out;
}

Bytes EmbedInMp4(const Bytes& mp4, const Bytes& block, Mp4Placement placement) {
  return EditMp4(mp4, [&](std::vector<Node>& top) {
    Node* moov = Find(top, "moov");
    // A muxer's own moov/udta (ffmpeg writes one even without metadata) would be found
    // before a block placed deeper or later, so it becomes free space then.
    if (placement != Mp4Placement::kMoovUdta && moov) {
      if (Node* udta = Find(moov->children, "udta")) udta->type = Type("free");
    }
    switch (placement) {
      case Mp4Placement::kMoovUdta:
        if (!moov) return false;
        AddToUdta(moov->children, block);
        return true;
      case Mp4Placement::kTrakUdta: {
        Node* trak = moov ? Find(moov->children, "trak") : nullptr;
        if (!trak) return false;
        AddToUdta(trak->children, block);
        return true;
      }
      case Mp4Placement::kTopLevelUdta:
        top.push_back(Leaf("udta", Box("cali", block)));
        return true;
      case Mp4Placement::kTopLevelUdat:
        top.push_back(Leaf("udat", Box("cali", block)));
        return true;
    }
    return false;
  });
}

Bytes AddNestedUdta(const Bytes& mp4, int depth) {
  // Built from the innermost box outwards: each level is an 8-byte header around the rest.
  Bytes chain;
  for (int level = 1; level < depth; ++level) chain = Box("udta", chain);
  return EditMp4(mp4, [&](std::vector<Node>& top) {
    Node* moov = Find(top, "moov");
    if (!moov) return false;
    moov->children.push_back(Leaf("udta", chain));
    return true;
  });
}

Bytes UseLargeMdat(const Bytes& mp4) {
  return EditMp4(mp4, [](std::vector<Node>& top) {
    Node* mdat = Find(top, "mdat");
    if (!mdat) return false;
    mdat->large = true;
    return true;
  });
}

Bytes MoveMoovToFront(const Bytes& mp4) {
  return EditMp4(mp4, [](std::vector<Node>& top) {
    auto moov = std::find_if(top.begin(), top.end(), [](const Node& n) { return n.type == Type("moov"); });
    auto mdat = std::find_if(top.begin(), top.end(), [](const Node& n) { return n.type == Type("mdat"); });
    if (moov == top.end() || mdat == top.end()) return false;
    if (moov > mdat) std::rotate(mdat, moov, moov + 1);
    return true;
  });
}

Bytes SphericalV1Xml(const std::string& spherical_text, bool with_spherical_element) {
  std::string xml =
      "<?xml version=\"1.0\"?>"
      "<rdf:SphericalVideo\nxmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"\n"
      "xmlns:GSpherical=\"http://ns.google.com/videos/1.0/spherical/\">";
  if (with_spherical_element) xml += "<GSpherical:Spherical>" + spherical_text + "</GSpherical:Spherical>";
  xml +=
      "<GSpherical:Stitched>true</GSpherical:Stitched>"
      "<GSpherical:StitchingSoftware>camgen</GSpherical:StitchingSoftware>"
      "<GSpherical:ProjectionType>equirectangular</GSpherical:ProjectionType>"
      "</rdf:SphericalVideo>";
  return Bytes(xml.begin(), xml.end());
}

Bytes AddSphericalV1Box(const Bytes& mp4, const Bytes& xml, const Bytes& uuid_bytes) {
  static const Bytes kSphericalUuid = {0xff, 0xcc, 0x82, 0x63, 0xf8, 0x55, 0x4a, 0x93,
                                       0x88, 0x14, 0x58, 0x7a, 0x02, 0x52, 0x1f, 0xdd};
  Bytes body = uuid_bytes.size() == 16 ? uuid_bytes : kSphericalUuid;
  body.insert(body.end(), xml.begin(), xml.end());
  return EditMp4(mp4, [&](std::vector<Node>& top) {
    Node* moov = Find(top, "moov");
    Node* trak = moov ? Find(moov->children, "trak") : nullptr;
    if (!trak) return false;
    trak->children.push_back(Leaf("uuid", body));
    return true;
  });
}

Bytes Box(const char type[5], const Bytes& body) {
  Bytes b(8);
  StoreBE32(&b[0], uint32_t(body.size() + 8));
  std::memcpy(&b[4], type, 4);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

Bytes Box64(const char type[5], const Bytes& body) {
  Bytes b(16);
  StoreBE32(&b[0], 1);
  std::memcpy(&b[4], type, 4);
  StoreBE64(&b[8], uint64_t(body.size() + 16));
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace spherolux::camgen
