#include "gui_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <tuple>

#include "camera_files.h"
#include "dialogs/range_slider.h"
#include "testing/message_recorder.h"
#include "ui/button_ex.h"

namespace spherolux::dialogs::testing {

namespace fs = std::filesystem;

DialogOptions Scratch::Options() const {
  DialogOptions options;
  options.environment.home = Path("home");
  options.environment.config_home = Path("config");
  // One service for the test program, as the program has one: the engine from the build.
  static const std::unique_ptr<convert::ConversionService> service = convert::ConversionService::Load(
      fs::path(testsupport::BuiltProgram("spherolux-cli")).parent_path().string(), &options.engine_error);
  options.service = service.get();
  return options;
}

std::string Scratch::OutputDir() const { return ui::DefaultOutputDir(Options().environment); }

std::string Scratch::Video(const std::string& name, const std::string& args) {
  return Camgen("video", Path(name), args);
}
std::string Scratch::Photo(const std::string& name, const std::string& args) {
  return Camgen("photo", Path(name), args);
}

BoxAnswerer::BoxAnswerer(int fallback) : fallback_(fallback) {
  timer_.setInterval(30);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
  timer_.start();
}

void BoxAnswerer::Look() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() != "messageBox" || !w->isVisible()) continue;
    const auto* text = w->findChild<QLabel*>("messageText");
    texts.push_back(text != nullptr ? text->text().toStdString() : std::string());
    captions.push_back(w->windowTitle().toStdString());
    int answer = fallback_;
    if (!queue_.empty()) {
      answer = queue_.front();
      queue_.pop_front();
    }
    auto* button = w->findChild<ui::CButtonEx*>(QString("answer%1").arg(answer));
    if (button == nullptr) button = w->findChild<ui::CButtonEx*>();  // a box with one button
    if (button != nullptr) button->click();
    return;
  }
}

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
  return spherolux::testing::PumpUntil(done, timeout_ms);
}

void Pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  spherolux::testing::PumpUntil([&] { return clock.elapsed() >= ms; }, ms + 1000);
}

void DragThumb(CRangeSlider* slider, int from, int to) {
  for (auto [type, x, buttons] : {std::tuple{QEvent::MouseButtonPress, from, Qt::LeftButton},
                                  {QEvent::MouseMove, to, Qt::LeftButton},
                                  {QEvent::MouseButtonRelease, to, Qt::NoButton}}) {
    const QPointF at(x, 8);
    QMouseEvent event(type, at, slider->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      Qt::MouseButtons(buttons), Qt::NoModifier);
    QApplication::sendEvent(slider, &event);
  }
}

QImage ScreenShot(QWidget* widget) {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return widget->grab().toImage();
  const QPoint at = widget->mapToGlobal(QPoint(0, 0));
  return screen->grabWindow(0, at.x(), at.y(), widget->width(), widget->height()).toImage();
}

double LitShare(const QImage& image) {
  int lit = 0, all = 0;
  for (int y = 0; y < image.height(); y += 5) {
    for (int x = 0; x < image.width(); x += 5, ++all) lit += qGray(image.pixel(x, y)) > 40;
  }
  return all == 0 ? 0.0 : static_cast<double>(lit) / all;
}

double ChangedShare(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return 1.0;
  int changed = 0, all = 0;
  for (int y = 0; y < a.height(); y += 5) {
    for (int x = 0; x < a.width(); x += 5, ++all) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      changed += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q)) > 48;
    }
  }
  return all == 0 ? 0.0 : static_cast<double>(changed) / all;
}

void KeepScreenShot(QWidget* widget, const std::string& name) {
  const char* dir = std::getenv("SPHEROLUX_SHOTS");
  if (dir == nullptr || *dir == '\0') return;
  Pump(300);
  fs::create_directories(dir);
  ScreenShot(widget).save(QString::fromStdString(std::string(dir) + "/" + name + ".png"));
}

}  // namespace spherolux::dialogs::testing
