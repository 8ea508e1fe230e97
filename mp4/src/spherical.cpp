#include "mp4/spherical.h"

#include <algorithm>

#include "base/bytes.h"

namespace spherolux::mp4 {
namespace {

constexpr uint32_t kUuid = FourCC("uuid");
constexpr uint32_t kSt3d = FourCC("st3d");
constexpr uint32_t kSv3d = FourCC("sv3d");

bool IsV1(const Box& b) { return b.type == kUuid && b.usertype == kSphericalV1Uuid; }

Box* FirstVideoTrack(Mp4File* file) {
  auto tracks = TracksWithHandler(file, FourCC("vide"));
  return tracks.empty() ? nullptr : tracks.front();
}

// The first sample entry of a track ('mdia'/'minf'/'stbl'/'stsd'), when it was parsed
// into a container.
Box* FirstSampleEntry(Box* trak) {
  Box* b = trak;
  for (uint32_t t : {FourCC("mdia"), FourCC("minf"), FourCC("stbl"), FourCC("stsd")}) {
    b = b ? b->Find(t) : nullptr;
  }
  if (!b || !b->container || b->children.empty()) return nullptr;
  Box* entry = &b->children.front();
  return entry->container ? entry : nullptr;
}

void RemoveIf(std::vector<Box>& v, bool (*pred)(const Box&)) { std::erase_if(v, pred); }

}  // namespace

std::string SphericalV1Xml(const std::string& software) {
  return "<?xml version=\"1.0\"?>"
         "<rdf:SphericalVideo\n"
         "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"\n"
         "xmlns:GSpherical=\"http://ns.google.com/videos/1.0/spherical/\">"
         "<GSpherical:Spherical>true</GSpherical:Spherical>"
         "<GSpherical:Stitched>true</GSpherical:Stitched>"
         "<GSpherical:StitchingSoftware>" +
         software +
         "</GSpherical:StitchingSoftware>"
         "<GSpherical:ProjectionType>equirectangular</GSpherical:ProjectionType>"
         "</rdf:SphericalVideo>";
}

SphericalBoxes EquirectangularBoxes(const std::string& software) {
  SphericalBoxes s;
  Box v1;
  v1.type = kUuid;
  v1.usertype = kSphericalV1Uuid;
  const std::string xml = SphericalV1Xml(software);
  v1.data.assign(xml.begin(), xml.end());
  s.v1 = std::move(v1);

  // st3d: stereo_mode 0, monoscopic.
  const uint8_t mono[1] = {0};
  s.st3d = MakeFullBox(kSt3d, 0, 0, mono);

  // svhd: metadata_source, a NUL-terminated string.
  std::vector<uint8_t> source(software.begin(), software.end());
  source.push_back(0);
  Box svhd = MakeFullBox(FourCC("svhd"), 0, 0, source);
  // prhd: pose yaw, pitch, roll in 16.16 fixed point, all 0.
  const uint8_t pose[12] = {};
  Box prhd = MakeFullBox(FourCC("prhd"), 0, 0, pose);
  // equi: projection bounds top, bottom, left, right (0.32 fixed point), all 0: the full sphere.
  const uint8_t bounds[16] = {};
  Box equi = MakeFullBox(FourCC("equi"), 0, 0, bounds);
  Box proj = MakeContainer(FourCC("proj"), {std::move(prhd), std::move(equi)});
  s.sv3d = MakeContainer(kSv3d, {std::move(svhd), std::move(proj)});
  return s;
}

SphericalBoxes ReadSphericalBoxes(Mp4File* file) {
  SphericalBoxes s;
  Box* trak = FirstVideoTrack(file);
  if (!trak) return s;
  for (const auto& c : trak->children)
    if (IsV1(c)) {
      s.v1 = c;
      break;
    }
  if (Box* entry = FirstSampleEntry(trak)) {
    if (const Box* b = entry->Find(kSt3d)) s.st3d = *b;
    if (const Box* b = entry->Find(kSv3d)) s.sv3d = *b;
  }
  return s;
}

std::string SphericalV1Text(Mp4File* file) {
  SphericalBoxes s = ReadSphericalBoxes(file);
  if (!s.v1 || s.v1->container) return {};
  return std::string(s.v1->data.begin(), s.v1->data.end());
}

bool PutSphericalBoxes(Mp4File* file, const SphericalBoxes& boxes) {
  Box* trak = FirstVideoTrack(file);
  if (!trak) return false;
  Box* entry = FirstSampleEntry(trak);
  if (!entry) return false;
  if (boxes.st3d || boxes.sv3d) {
    RemoveIf(entry->children, [](const Box& b) { return b.type == kSt3d || b.type == kSv3d; });
    if (boxes.st3d) entry->children.push_back(*boxes.st3d);
    if (boxes.sv3d) entry->children.push_back(*boxes.sv3d);
  }
  if (boxes.v1) {
    RemoveIf(trak->children, IsV1);
    trak->children.push_back(*boxes.v1);
  }
  return true;
}

}  // namespace spherolux::mp4
