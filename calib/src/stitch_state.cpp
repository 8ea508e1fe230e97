#include "calib/stitch_state.h"

#include <strings.h>
#include <tinyxml.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "calib/locator.h"
#include "calib/panorama_xmp.h"
#include "walkers.h"

namespace spherolux {
namespace calib_internal {
namespace {

constexpr int kMaxSegments = 20;
constexpr int kMaxFillBytes = 6;
constexpr std::string_view kViewerName = "GPano:UsePanoramaViewer";
// The XML parser recurses once per nesting level; deeper documents are refused unparsed.
constexpr int kMaxXmlNesting = 256;

bool IEqualsTrue(const std::vector<uint8_t>& seg, size_t at) {
  if (at > seg.size() || seg.size() - at < 4) return false;
  static constexpr char kTrue[] = "true";
  for (size_t i = 0; i < 4; ++i) {
    if (std::tolower(seg[at + i]) != kTrue[i]) return false;
  }
  return true;
}

bool IsPanoramaSegmentOfOurs(const std::vector<uint8_t>& seg) {
  const auto begin = seg.begin();
  const auto viewer = std::search(begin, seg.end(), kViewerName.begin(), kViewerName.end());
  if (viewer == seg.end()) return false;
  const size_t after = static_cast<size_t>(viewer - begin) + kViewerName.size();
  // Attribute form: name, '=', quote, value. Element form: name, '>', value.
  const bool use_viewer = IEqualsTrue(seg, after + 1) || IEqualsTrue(seg, after + 2);
  const bool maker = std::search(begin, seg.end(), kMakerString.begin(), kMakerString.end()) != seg.end();
  return use_viewer && maker;
}

// An estimate of the element nesting of an XML text, in one linear pass: "<name" opens,
// "</" and "/>" close. Comments and declarations are not counted.
int XmlNestingBound(std::string_view text) {
  int depth = 0;
  int deepest = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '<') {
      const char next = text[i + 1];
      if (next == '/') {
        depth = std::max(0, depth - 1);
      } else if (next != '!' && next != '?') {
        deepest = std::max(deepest, ++depth);
      }
    } else if (text[i] == '/' && text[i + 1] == '>') {
      depth = std::max(0, depth - 1);
    }
  }
  return deepest;
}

// T.81, B.1.1: a marker may be preceded by 0xFF fill bytes; every segment read here is
// taken to carry a 16-bit length that counts itself. Reads the next segment's marker code
// and length; `data` is the length of its body, which follows in the source. False when the
// segment cannot be read or runs past the end.
bool NextSegment(ByteSource& src, uint8_t* code, uint8_t (&b)[2], size_t* data) {
  *code = 0xFF;
  for (int fill = 0; *code == 0xFF; ++fill) {
    if (fill > kMaxFillBytes) return false;
    if (!src.Read(code, 1)) return false;
  }
  if (!src.Read(b, 2)) return false;
  const uint16_t length = LoadBE16(b);
  if (length < 2) return false;
  *data = length - 2u;
  return static_cast<int64_t>(*data) <= src.Size() - src.Position();
}

}  // namespace

int IsStitchedPhoto(ByteSource& src) {
  uint8_t b[2];
  if (!src.Read(b, 2) || b[0] != 0xFF || b[1] != 0xD8) return 0;
  for (int segment = 0; segment < kMaxSegments; ++segment) {
    uint8_t code = 0;
    size_t data = 0;
    if (!NextSegment(src, &code, b, &data)) return 0;
    const uint16_t length = static_cast<uint16_t>(data + 2);
    if (code != 0xE1) {
      src.Seek(src.Position() + static_cast<int64_t>(data));
      continue;
    }
    std::vector<uint8_t> seg(length);
    seg[0] = b[0];
    seg[1] = b[1];
    if (!src.Read(seg.data() + 2, data)) return 0;
    if (data >= 4 && std::equal(seg.begin() + 2, seg.begin() + 6, "Exif")) continue;
    return IsPanoramaSegmentOfOurs(seg) ? 1 : 0;
  }
  return 0;
}

namespace {

constexpr int kMaxXmpSegments = 64;
constexpr std::string_view kXmpName{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kProjectionName = "GPano:ProjectionType";
constexpr std::string_view kEquirectangular = "equirectangular";

// Does the XMP text give GPano:ProjectionType the value equirectangular? Attribute form:
// name, optional spaces, '=', optional spaces, a quote, the value, the same quote. Element
// form: name, '>', the value, '<'. Every occurrence is tried.
bool DeclaresEquirectangular(std::string_view xmp) {
  for (size_t at = xmp.find(kProjectionName); at != std::string_view::npos; at = xmp.find(kProjectionName, at + 1)) {
    size_t i = at + kProjectionName.size();
    auto skip_spaces = [&] {
      while (i < xmp.size() && (xmp[i] == ' ' || xmp[i] == '\t' || xmp[i] == '\r' || xmp[i] == '\n')) ++i;
    };
    skip_spaces();
    char end = '<';
    if (i < xmp.size() && xmp[i] == '=') {
      ++i;
      skip_spaces();
      if (i >= xmp.size() || (xmp[i] != '"' && xmp[i] != '\'')) continue;
      end = xmp[i++];
    } else if (i < xmp.size() && xmp[i] == '>') {
      ++i;
    } else {
      continue;
    }
    if (xmp.size() - i > kEquirectangular.size() &&
        strncasecmp(xmp.data() + i, kEquirectangular.data(), kEquirectangular.size()) == 0 &&
        xmp[i + kEquirectangular.size()] == end) {
      return true;
    }
  }
  return false;
}

}  // namespace

// Marker segments up to the first scan (T.81, B.2.1); XMP packets travel in APP1 (XMP
// Specification Part 3, 1.1.3).
int IsEquirectangularXmpPhoto(ByteSource& src) {
  uint8_t b[2];
  if (!src.Read(b, 2) || b[0] != 0xFF || b[1] != 0xD8) return 0;
  for (int segment = 0; segment < kMaxXmpSegments; ++segment) {
    uint8_t code = 0;
    size_t data = 0;
    if (!NextSegment(src, &code, b, &data) || code == 0xDA) return 0;  // up to the start of scan
    if (code != 0xE1 || data < kXmpName.size()) {
      src.Seek(src.Position() + static_cast<int64_t>(data));
      continue;
    }
    std::string body(data, '\0');
    if (!src.Read(body.data(), data)) return 0;
    if (std::string_view(body).substr(0, kXmpName.size()) != kXmpName) continue;
    if (DeclaresEquirectangular(std::string_view(body).substr(kXmpName.size()))) return 1;
  }
  return 0;
}

int SphericalBodyIsTrue(std::span<const uint8_t> body) {
  // The body is the whole text: it ends where the box ends, not at a terminator.
  const std::string text(body.begin(), body.end());
  if (XmlNestingBound(text) > kMaxXmlNesting) return 0;
  TiXmlDocument doc;
  doc.Parse(text.c_str());
  const TiXmlElement* root = doc.RootElement();
  if (!root) return 0;
  const TiXmlElement* spherical = root->FirstChildElement("GSpherical:Spherical");
  if (!spherical) return 0;
  const char* value = spherical->GetText();
  return value && strcasecmp(value, "true") == 0 ? 1 : 0;
}

}  // namespace calib_internal

int IsStitchedPhoto(const char* path) {
  calib_internal::FileSource src(path);
  if (!src.ok()) return 0;
  return calib_internal::IsStitchedPhoto(src);
}

int IsEquirectangularXmpPhoto(const char* path) {
  calib_internal::FileSource src(path);
  if (!src.ok()) return 0;
  return calib_internal::IsEquirectangularXmpPhoto(src);
}

int SphericalVideoFlag(const char* path) {
  PayloadSpan span;
  if (WalkMp4SphericalUuid(path, &span) != kWalkOk || span.size <= 0) return 0;
  return calib_internal::SphericalBodyIsTrue(span.bytes);
}

}  // namespace spherolux
