// Stitch state: whether a file is a panorama stitched earlier. probe/probe.h combines these
// tests with the camera-type query into the class of a file.
//
// Every function is synchronous, keeps no state and is safe from any thread. Paths are
// UTF-8. The tests answer 0 on every failure (unreadable file, wrong structure, missing or
// malformed metadata) and print nothing.
#pragma once

namespace spherolux {

// 1 when the JPEG carries this system's panorama XMP segment: among its first 20 marker
// segments, the first APP1 that is not Exif names GPano:UsePanoramaViewer with the value
// true (any case; only the first occurrence counts; attribute or element form) and contains
// the maker string. Else 0.
int IsStitchedPhoto(const char* path);

// 1 when the MP4 has a Spherical Video V1 uuid box whose XML root element has a child
// GSpherical:Spherical with the text "true" (any case). Element names are matched
// literally, prefix included. Else 0.
int SphericalVideoFlag(const char* path);

// 1 when the JPEG carries an XMP packet, as panorama tools other than this one write it, that
// declares an equirectangular projection: an APP1 segment named "http://ns.adobe.com/xap/1.0/"
// before the first scan (at most 64 marker segments) in which GPano:ProjectionType has the
// value "equirectangular" (any case; attribute or element form). Else 0.
int IsEquirectangularXmpPhoto(const char* path);

}  // namespace spherolux
