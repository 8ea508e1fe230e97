// spherolux-view: shows a photo through the panoramic renderer in a window.
//
//   spherolux-view [--mode N] [--size WxH] [--yaw DEG] [--screenshots DIR [--format EXT]] [--lens single|dual [--field
//   DEG]] FILE
//
// Drag with the left button to turn the view (release while moving to let it coast), wheel
// to zoom, keys 0-6 for the view modes (sphere, tile, planet, half ball, in-dome, layer,
// flat), F to flip, R to reset, S for a screenshot in the current directory, Esc to quit.
// A camera photo (with a calibration block) is shown through the grids its calibration gives;
// any other 2:1 photo is shown as an equirectangular panorama. --lens shows a photo as an unstitched
// single- or dual-lens fisheye photo through the grids of an ideal equidistant lens of
// --field degrees (200 single, 210 dual). --screenshots writes DIR/mode-N.png for every mode
// and exits (--format jpg for JPEG files).
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "calib/calibration.h"
#include "ideal_lens.h"
#include "probe/probe.h"
#include "render/opengl_render.h"

namespace {

using spherolux::render::COpenglRender;
using spherolux::render::CShapeModel;
using spherolux::render::kMsgScreenshotSaved;
using spherolux::render::RenderMessageSink;

struct Options {
  std::string file;
  int mode = 0;
  int width = 1024;
  int height = 640;
  std::string screenshot_dir;
  std::string screenshot_ext = "png";
  std::string lens;  // "", "single" or "dual"
  float field = 0.0f;
  float yaw = NAN;  // start yaw of the spheres and the cap, if given
};

class ViewWindow : public QWindow, public RenderMessageSink {
 public:
  explicit ViewWindow(Options options) : options_(std::move(options)) {
    setSurfaceType(QSurface::OpenGLSurface);
    QSurfaceFormat format;
    format.setDepthBufferSize(16);
    setFormat(format);
    resize(options_.width, options_.height);
    setTitle(QString::fromStdString("spherolux-view " + options_.file));
    timer_.setInterval(25);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Refresh(); });
  }

  int result() const { return result_; }

  void Post(unsigned message) override {
    if (message == kMsgScreenshotSaved) std::printf("screenshot saved\n");
  }

 protected:
  void exposeEvent(QExposeEvent*) override {
    if (!isExposed() || renderer_ != nullptr) return;
    if (!Open()) {
      result_ = 1;
      QTimer::singleShot(0, qApp, &QCoreApplication::quit);
      return;
    }
    if (!options_.screenshot_dir.empty()) {
      QTimer::singleShot(0, [this] { SaveEveryMode(); });
    } else {
      timer_.start();
    }
  }

  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    dragging_ = true;
    last_ = press_ = event->position();
    press_clock_.start();
  }

  void mouseMoveEvent(QMouseEvent* event) override {
    if (!dragging_) return;
    // The drag turns the view by 60 degrees per half diagonal of pointer travel (x5 gain).
    const float dx = static_cast<float>(last_.x() - event->position().x()) * 5.0f;
    const float dy = static_cast<float>(event->position().y() - last_.y()) * 5.0f;
    last_ = event->position();
    if (CShapeModel* model = ActiveModel()) {
      const float half = Diagonal() / 2.0f;
      model->SetResetPending(false);
      model->AddYaw(dx * 60.0f / half);
      model->AddPitch(dy * 60.0f / half);
    }
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton || !dragging_) return;
    dragging_ = false;
    const float dt = std::max<float>(1.0f, static_cast<float>(press_clock_.elapsed()));
    const float vx = static_cast<float>(press_.x() - event->position().x()) * 1000.0f / dt;
    const float vy = static_cast<float>(event->position().y() - press_.y()) * 1000.0f / dt;
    if (CShapeModel* model = ActiveModel()) {
      model->SetYawVelocity(vx / Diagonal());
      if (renderer_->current_mode() != spherolux::render::kModeIndome) model->SetPitchVelocity(vy / Diagonal());
    }
  }

  void wheelEvent(QWheelEvent* event) override {
    if (CShapeModel* model = ActiveModel()) model->SetFov(model->fov() + (event->angleDelta().y() > 0 ? -10 : 10));
  }

  void keyPressEvent(QKeyEvent* event) override {
    const int key = event->key();
    if (key >= Qt::Key_0 && key <= Qt::Key_6) {
      renderer_->SetViewMode(key - Qt::Key_0);
    } else if (key == Qt::Key_F) {
      renderer_->SetFlip(!renderer_->flip());
    } else if (key == Qt::Key_R) {
      if (CShapeModel* model = ActiveModel()) {
        model->SetYawVelocity(0);
        model->SetPitchVelocity(0);
        model->SetResetPending(true);
      }
    } else if (key == Qt::Key_S) {
      renderer_->RequestScreenshot("spherolux-view.png");
    } else if (key == Qt::Key_Escape) {
      close();
    }
  }

 private:
  bool Open() {
    QImage probe(QString::fromStdString(options_.file));
    if (probe.isNull()) {
      std::fprintf(stderr, "spherolux-view: cannot read %s\n", options_.file.c_str());
      return false;
    }
    renderer_ = std::make_unique<COpenglRender>(this, this);
    if (renderer_->gl_major_version() < 2) {
      std::fprintf(stderr, "spherolux-view: OpenGL 2.0 is required\n");
      return false;
    }
    const int w = probe.width();
    const int h = probe.height();
    if (options_.lens == "single") {
      table_a_ = spherolux::render::IdealSingleLensGrid(w, h, options_.field > 0 ? options_.field : 200.0f);
      renderer_->SetMediaKind(spherolux::render::kMediaSingleLens, w, h, table_a_.data(), nullptr,
                              static_cast<int>(table_a_.size()));
    } else if (options_.lens == "dual") {
      spherolux::render::IdealDualLensGrids(w, h, options_.field > 0 ? options_.field : 210.0f, table_a_, table_b_);
      renderer_->SetMediaKind(spherolux::render::kMediaDualLens, w, h, table_a_.data(), table_b_.data(),
                              static_cast<int>(table_a_.size()));
    } else if (!OpenCameraPhoto(w, h)) {
      renderer_->SetMediaKind(512, w, h, nullptr, nullptr, 0);
    }
    if (renderer_->Initialise() != 0) return false;
    if (!std::isnan(options_.yaw)) {
      for (int mode : {0, 1, 2, 3, 4}) renderer_->models().ForMode(mode)->SetYaw(options_.yaw);
    }
    renderer_->ResetCurrentMode();
    renderer_->SetViewMode(options_.mode);
    return renderer_->LoadPhoto(options_.file) == 0;
  }

  // A photo whose calibration gives grids; false for any other file.
  bool OpenCameraPhoto(int w, int h) {
    const spherolux::FrameSize frame{w, h};
    const spherolux::FileProbe probe =
        spherolux::ProbeFile(options_.file.c_str(), spherolux::MediaKind::kPhoto, &frame, &grids_);
    if (probe.camera_type == spherolux::kCameraDualLens) {
      std::printf("dual-lens camera photo: grids %d\n", probe.extraction);
      if (!probe.grids_built) return false;
      renderer_->SetMediaKind(spherolux::render::kMediaDualLens, w, h, grids_.table_a.data(), grids_.table_b.data(),
                              spherolux::render::kDualLensTableFloats);
      return true;
    }
    if (probe.camera_type == spherolux::kCameraSingleLens) {
      std::printf("single-lens camera photo: grid %d\n", probe.extraction);
      if (!probe.grids_built) return false;
      renderer_->SetMediaKind(spherolux::render::kMediaSingleLens, w, h, grids_.table_a.data(), nullptr,
                              spherolux::render::kSingleLensTableFloats);
      return true;
    }
    return false;
  }

  // The flat view turns nothing.
  CShapeModel* ActiveModel() const {
    if (renderer_ == nullptr || renderer_->requested_mode() == spherolux::render::kModeFlat) return nullptr;
    return renderer_->current_model();
  }

  float Diagonal() const { return std::sqrt(static_cast<float>(width() * width() + height() * height())); }

  void Refresh() {
    if (renderer_ != nullptr) renderer_->Draw(nullptr);
  }

  void SaveEveryMode() {
    for (int mode = 0; mode < spherolux::render::kViewModeCount; ++mode) {
      renderer_->SetViewMode(mode);
      renderer_->Draw(nullptr);  // enter the mode and let its view settle
      renderer_->RequestScreenshot(options_.screenshot_dir + "/mode-" + std::to_string(mode) + "." +
                                   options_.screenshot_ext);
      renderer_->Draw(nullptr);
    }
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
  }

  Options options_;
  std::vector<float> table_a_;  // ideal lens grids (--lens)
  std::vector<float> table_b_;
  spherolux::ViewGrids grids_;  // a camera photo's grids
  std::unique_ptr<COpenglRender> renderer_;
  QTimer timer_;
  bool dragging_ = false;
  QPointF last_;
  QPointF press_;
  QElapsedTimer press_clock_;
  int result_ = 0;
};

int Usage() {
  std::fprintf(stderr,
               "usage: spherolux-view [--mode N] [--size WxH] [--yaw DEG] [--screenshots DIR [--format EXT]] [--lens "
               "single|dual "
               "[--field DEG]] FILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--mode" && i + 1 < argc) {
      options.mode = std::atoi(argv[++i]);
    } else if (arg == "--size" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%dx%d", &options.width, &options.height) != 2) return Usage();
    } else if (arg == "--screenshots" && i + 1 < argc) {
      options.screenshot_dir = argv[++i];
    } else if (arg == "--lens" && i + 1 < argc) {
      options.lens = argv[++i];
      if (options.lens != "single" && options.lens != "dual") return Usage();
    } else if (arg == "--format" && i + 1 < argc) {
      options.screenshot_ext = argv[++i];
    } else if (arg == "--yaw" && i + 1 < argc) {
      options.yaw = static_cast<float>(std::atof(argv[++i]));
    } else if (arg == "--field" && i + 1 < argc) {
      options.field = static_cast<float>(std::atof(argv[++i]));
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage();
    } else {
      options.file = arg;
    }
  }
  if (options.file.empty() || options.mode < 0 || options.mode > 6) return Usage();
  ViewWindow window(options);
  window.show();
  const int code = app.exec();
  return code != 0 ? code : window.result();
}
