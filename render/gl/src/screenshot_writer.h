// Writes a screenshot file, choosing the encoder from the path's extension.
#pragma once

#include <cstdint>
#include <string>

namespace spherolux::render {

// `pixels`: width x height pixels of 4 bytes (blue, green, red, unused), top row first.
// ".jpg"/".jpeg" go through our JPEG encoder, every other extension through Qt's image
// writer. Returns false when nothing was written.
bool WriteScreenshot(const std::string& path, const uint8_t* pixels, int width, int height);

}  // namespace spherolux::render
