// The X screen for end-to-end tests.
#include "testsupport/screen.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include "testsupport/testsupport.h"

namespace spherolux::testsupport {

QImage Screen() {
  return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

void Xdotool(const std::string& args) { RunCommand("xdotool " + args); }

void ClickAt(int x, int y) { Xdotool("mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1"); }

double LitShare(const QImage& image, const QRect& area) {
  int lit = 0, total = 0;
  for (int y = area.top(); y <= area.bottom(); y += 4) {
    for (int x = area.left(); x <= area.right(); x += 4, ++total) {
      const QRgb p = image.pixel(x, y);
      lit += qRed(p) + qGreen(p) + qBlue(p) > 120 ? 1 : 0;
    }
  }
  return total > 0 ? double(lit) / total : 0;
}

}  // namespace spherolux::testsupport
