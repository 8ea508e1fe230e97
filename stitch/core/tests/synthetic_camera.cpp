#include "synthetic_camera.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "stitch/alignment.h"
#include "stitch/lens_model.h"

namespace spherolux::synthetic {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Incidence angle of a radius (pixels) through the lens height model scaled by k:
// tabulated once, inverted by bisection and linear interpolation.
class InverseLens {
 public:
  InverseLens(const LensProfile& table, double k) {
    for (int i = 0; i <= kSteps; ++i) {
      const double theta = kMaxTheta * i / kSteps;
      radius_.push_back(LensRadius(table, theta, k));
    }
  }
  // Negative when the radius lies beyond the tabulated range.
  double Theta(double r) const {
    if (r > radius_.back()) return -1;
    const auto it = std::lower_bound(radius_.begin(), radius_.end(), r);
    if (it == radius_.begin()) return 0;
    const int i = static_cast<int>(it - radius_.begin());
    const double f = (r - radius_[i - 1]) / (radius_[i] - radius_[i - 1]);
    return kMaxTheta * (i - 1 + f) / kSteps;
  }

 private:
  static constexpr int kSteps = 8192;
  static constexpr double kMaxTheta = 108.0 * kPi / 180;
  std::vector<double> radius_;
};

uint8_t ToByte(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

std::vector<uint8_t> RenderDualFisheye(const DoubleFisheyeCameraPara& para, int width, int height, const Scene& scene,
                                       const RenderOptions& options) {
  const int lw = width / 2;
  const float s = static_cast<float>(width) / 1920.0f;
  const CameraModel model = CameraModelForCode(para.lModel);
  const RatioRule rule = PhotoRatioRule(para.lModel, RatioBase(para.lModel, para.fRatio), false);
  const int out_h = options.output_height;
  std::vector<float> ratio(2 * out_h);
  BuildRadiusRatio(rule.variant, rule.base, 2 * out_h, ratio.data());
  const double delta = kPi / out_h;

  const int bpp = options.format == 0 ? 1 : 4;
  std::vector<uint8_t> frame(options.format == 0 ? width * height * 3 / 2 : width * height * 4, 0);
  uint8_t* fu = frame.data() + width * height;
  uint8_t* fv = fu + width * height / 4;

  for (int lens = 0; lens < 2; ++lens) {
    const LensCircle& c = lens == 0 ? para.stPoint1 : para.stPoint2;
    const int cx = static_cast<int>(c.x * s), cy = static_cast<int>(c.y * s);
    const int radius = static_cast<int>(c.radius * s);
    const InverseLens inverse(*model.profile, LensScale(*model.profile, radius, para.fLensCoef));
    const double gain = lens == 0 ? options.lens1_gain : 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < lw; ++x) {
        const double dx = x - cx, dy = y - cy;
        const double phi = std::atan2(dy, dx);
        const int i = std::clamp(static_cast<int>((phi + kPi) / delta + 0.5), 0, 2 * out_h - 1);
        const double theta = inverse.Theta(std::sqrt(dx * dx + dy * dy) / ratio[i]);
        if (theta < 0) continue;
        // Direction in the lens's frame (axis, right, down), then in the panorama's: lens 2
        // looks towards longitude 0, lens 1 towards longitude pi.
        const double a = std::cos(theta), u = std::sin(theta) * std::cos(phi), t = std::sin(theta) * std::sin(phi);
        const double wx = lens == 0 ? -a : a, wy = lens == 0 ? -u : u;
        const double gamma = std::acos(std::clamp(-t, -1.0, 1.0));  // t = -1 at the top
        double psi = std::atan2(wy, wx);
        if (psi < 0) psi += 2 * kPi;
        const int fx = x + lens * lw;
        if (options.format == 0) {
          frame[y * width + fx] = ToByte(scene(gamma, psi, 0) + gain);
          if (x % 2 == 0 && y % 2 == 0) {
            fu[(y / 2) * (width / 2) + fx / 2] = ToByte(scene(gamma, psi, 1));
            fv[(y / 2) * (width / 2) + fx / 2] = ToByte(scene(gamma, psi, 2));
          }
        } else {
          for (int k = 0; k < bpp; ++k) frame[(y * width + fx) * 4 + k] = ToByte(scene(gamma, psi, k) + gain);
        }
      }
    }
  }
  return frame;
}

double SceneAtPixel(const Scene& scene, int width, int height, int row, int column, int channel) {
  return scene(row * kPi / height, column * 2 * kPi / width, channel);
}

void MaybeWriteImage(const char* name, const std::vector<uint8_t>& frame, int format, int width, int height) {
  const char* dir = std::getenv("SPHEROLUX_TEST_IMAGES");
  if (!dir || !*dir) return;
  const std::string path = std::string(dir) + "/" + name + ".ppm";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fprintf(f, "P6\n%d %d\n255\n", width, height);
  for (int i = 0; i < width * height; ++i) {
    uint8_t px[3];
    if (format == 0) {
      px[0] = px[1] = px[2] = frame[i];
    } else {
      px[0] = frame[i * 4 + 2], px[1] = frame[i * 4 + 1], px[2] = frame[i * 4];
    }
    std::fwrite(px, 1, 3, f);
  }
  std::fclose(f);
}

}  // namespace spherolux::synthetic
