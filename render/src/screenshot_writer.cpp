#include "screenshot_writer.h"

#include <QImage>
#include <QString>

namespace spherolux::render {

bool WriteScreenshot(const std::string& path, const uint8_t* pixels, int width, int height) {
  if (path.empty() || width <= 0 || height <= 0) return false;
  // Little-endian B, G, R, X bytes are QImage's 0xffRRGGBB words.
  const QImage image(pixels, width, height, width * 4, QImage::Format_RGB32);
  return image.save(QString::fromStdString(path));
}

}  // namespace spherolux::render
