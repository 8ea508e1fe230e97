// Spherical video metadata in MP4 files.
//
// Version 1: a 'uuid' box with the extended type ffcc8263-f855-4a93-8814-587a02521fdd in
// the video track, whose body is an XML document with GSpherical elements.
// Version 2: 'st3d' (stereo mode) and 'sv3d' { 'svhd', 'proj' { 'prhd', 'equi' } } in the
// video sample entry.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/mp4_boxes.h"
#include "mp4/file.h"

namespace spherolux::mp4 {

using spherolux::kSphericalV1Uuid;

// The V1 XML of a monoscopic equirectangular panorama: Spherical and Stitched true,
// ProjectionType equirectangular, StitchingSoftware `software`.
std::string SphericalV1Xml(const std::string& software);

// The spherical boxes of a file's first video track.
struct SphericalBoxes {
  std::optional<Box> v1;    // the 'uuid' box
  std::optional<Box> st3d;  // from the sample entry
  std::optional<Box> sv3d;
  bool any() const { return v1 || st3d || sv3d; }
};

SphericalBoxes ReadSphericalBoxes(Mp4File* file);

// The V1 XML text of the first video track, or empty.
std::string SphericalV1Text(Mp4File* file);

// Adds the given boxes to the first video track: V1 into the 'trak', V2 into the first
// sample entry of its 'stsd'. Spherical boxes already there are replaced. False when the
// file has no video track with a sample entry.
bool PutSphericalBoxes(Mp4File* file, const SphericalBoxes& boxes);

// Boxes describing a monoscopic equirectangular panorama (V1 and V2).
SphericalBoxes EquirectangularBoxes(const std::string& software);

}  // namespace spherolux::mp4
