#include "calib/stitch_state.h"

#include <strings.h>
#include <tinyxml.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/jpeg_segments.h"
#include "calib/locator.h"
#include "calib/panorama_xmp.h"
#include "walkers.h"

namespace spherolux {
namespace calib_internal {
namespace {

constexpr int kMaxSegments = 20;
constexpr int kMaxFillBytes = 6;  // 0xFF bytes before a marker code, its own included
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

}  // namespace

// T.81, B.1.1. Up to six 0xFF bytes (none required) come before each marker code, and
// every segment read here is taken to carry a length.
int IsStitchedPhoto(ByteSource& src) {
  JpegSegmentReader segments(src, {.min_ff = 0, .max_ff = kMaxFillBytes, .standalone_markers = false});
  if (segments.ReadSoi() != ReadStatus::kOk) return 0;
  for (int n = 0; n < kMaxSegments; ++n) {
    JpegSegment segment;
    if (segments.Next(&segment) != ReadStatus::kOk) return 0;
    if (segment.marker != 0xE1) continue;
    // The segment with its two length bytes first.
    std::vector<uint8_t> bytes(segment.length);
    StoreBE16(bytes.data(), segment.length);
    if (!src.Read(bytes.data() + 2, static_cast<size_t>(segment.data_size()))) return 0;
    if (segment.data_size() >= 4 && std::equal(bytes.begin() + 2, bytes.begin() + 6, "Exif")) continue;
    return IsPanoramaSegmentOfOurs(bytes) ? 1 : 0;
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

// T.81, B.1.1 and B.2.1: marker segments up to the first scan, each with a 16-bit length
// that counts itself; XMP packets travel in APP1 (XMP Specification Part 3, 1.1.3).
int IsEquirectangularXmpPhoto(ByteSource& src) {
  JpegSegmentReader segments(src, {.min_ff = 0, .max_ff = kMaxFillBytes, .standalone_markers = false});
  if (segments.ReadSoi() != ReadStatus::kOk) return 0;
  for (int n = 0; n < kMaxXmpSegments; ++n) {
    JpegSegment segment;
    if (segments.Next(&segment) != ReadStatus::kOk) return 0;
    if (segment.marker == 0xDA || segment.marker == 0xD9) return 0;  // start of scan, end of image
    const auto data = static_cast<size_t>(segment.data_size());
    if (segment.marker != 0xE1 || data < kXmpName.size()) continue;
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
  FileSource src(path);
  if (!src.ok()) return 0;
  return calib_internal::IsStitchedPhoto(src);
}

int IsEquirectangularXmpPhoto(const char* path) {
  FileSource src(path);
  if (!src.ok()) return 0;
  return calib_internal::IsEquirectangularXmpPhoto(src);
}

int SphericalVideoFlag(const char* path) {
  PayloadSpan span;
  if (WalkMp4SphericalUuid(path, &span) != kWalkOk || span.size <= 0) return 0;
  return calib_internal::SphericalBodyIsTrue(span.bytes);
}

}  // namespace spherolux
