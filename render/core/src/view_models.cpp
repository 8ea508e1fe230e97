#include "render/view_models.h"

namespace spherolux::render {
namespace {

void ApplyLimits(CShapeModel& model, float min_fov, float max_fov, float fov) {
  model.SetFovLimits(min_fov, max_fov, fov);
  model.SetFovRaw(fov);
}

}  // namespace

void RotateTextureCoordinates(const float* in, int pairs, int degrees, float* out) {
  for (int i = 0; i < pairs; ++i) {
    const float u = in[2 * i];
    const float v = in[2 * i + 1];
    // The point (u, v) of the turned picture shows the picture's point (su, sv).
    float su = u;
    float sv = v;
    switch (degrees) {
      case 90:
        su = v;
        sv = 1.0f - u;
        break;
      case 180:
        su = 1.0f - u;
        sv = 1.0f - v;
        break;
      case 270:
        su = 1.0f - v;
        sv = u;
        break;
      default:
        break;
    }
    out[2 * i] = su;
    out[2 * i + 1] = sv;
  }
}

std::optional<Viewport> ComputeViewport(int mode, int width, int height, bool flip) {
  switch (mode) {
    case kModeSphere:
    case kModeTile:
    case kModePlanet:
    case kModeHalfBall:
    case kModeLayer:
      if (height > width) return Viewport{(width - height) / 2, 0, height, height};
      return Viewport{0, (height - width) / 2, width, width};
    case kModeIndome:
      return flip ? Viewport{0, 0, width, 2 * height} : Viewport{0, -height, width, 2 * height};
    case kModeFlat:
      return Viewport{0, 0, width, height};
    default:
      return std::nullopt;
  }
}

ViewModelSet::ViewModelSet(float diagonal)
    : sphere_a_(std::make_unique<CBallModel>(diagonal)),
      sphere_b_(std::make_unique<CBallModel>(diagonal)),
      sphere_c_(std::make_unique<CBallModel>(diagonal)),
      cap_(std::make_unique<CHalfBallModel>(diagonal)),
      indome_(std::make_unique<CIndomeModel>(diagonal)),
      layer_(std::make_unique<CLayerModel>(diagonal)) {
  sphere_b_->set_pitch_clamp(true);
  sphere_c_->set_planet(true);
  sphere_c_->AddPitch(-90.0f);
}

CShapeModel* ViewModelSet::ForMode(int mode) const {
  switch (mode) {
    case kModeSphere:
      return sphere_a_.get();
    case kModeTile:
      return sphere_b_.get();
    case kModePlanet:
      return sphere_c_.get();
    case kModeHalfBall:
      return cap_.get();
    case kModeIndome:
      return indome_.get();
    case kModeLayer:
      return layer_.get();
    default:
      return nullptr;
  }
}

bool ViewModelSet::SetMediaKind(int kind, int width, int height, const float* table_a, const float* table_b,
                                int table_floats) {
  if (kind == kMediaSingleLens) {
    cap_->GenerateMesh(table_a, table_floats, width, height, table_b);
    ApplyLimits(*cap_, 60, 134, 122);
    indome_->GenerateMesh(table_a, table_floats, width, height, table_b);
    ApplyLimits(*indome_, 60, 70, 65);
    layer_->GenerateMesh(table_a, table_floats, width, height, table_b);
    ApplyLimits(*layer_, 60, 90, 85);
    return true;
  }
  if (kind == kMediaDualLens) {
    for (CBallModel* sphere : {sphere_a_.get(), sphere_b_.get(), sphere_c_.get()}) {
      sphere->GenerateMesh(table_a, table_floats, width, height, table_b);
    }
    ApplyLimits(*sphere_a_, 70, 136, 136);
    ApplyLimits(*sphere_b_, 90, 90, 90);
    ApplyLimits(*sphere_c_, 100, 160, 160);
    sphere_c_->SetEyeDistance(-1.0f);
    return true;
  }
  if (width == 2 * height) {
    for (CBallModel* sphere : {sphere_a_.get(), sphere_b_.get(), sphere_c_.get()}) {
      sphere->GenerateMesh(nullptr, 0, width, height, nullptr);
    }
    ApplyLimits(*sphere_a_, 65, 126, 126);
    ApplyLimits(*sphere_b_, 80, 80, 80);
    ApplyLimits(*sphere_c_, 100, 160, 160);
    sphere_c_->SetEyeDistance(-0.88f);
    return true;
  }
  return false;
}

void ViewModelSet::SetFlip(bool on) {
  sphere_a_->SetFlip(on);
  sphere_b_->SetFlip(on);
  sphere_c_->SetFlip(on);
  cap_->SetFlip(on);
  indome_->SetFlip(on);
}

}  // namespace spherolux::render
