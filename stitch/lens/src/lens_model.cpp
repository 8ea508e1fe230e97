#include "stitch/lens_model.h"

#include <iterator>

#include "lens_eval.h"

namespace spherolux {
namespace {

// Lens design data. The first, second and last rows of each table and the height that the
// model gives at 90 degrees are those of the lens; the rows in between are a cubic through
// them (stitch/lens/tools/gen_lens_tables.py derives and checks them).
#include "lens_tables.inc"

static_assert(std::size(kL1Angles) == 51 && std::size(kL1Heights) == 51);
static_assert(std::size(kL2Angles) == 220 && std::size(kL2Heights) == 220);
static_assert(std::size(kL3Angles) == 51 && std::size(kL3Heights) == 51);
static_assert(std::size(kL4Angles) == 51 && std::size(kL4Heights) == 51);
static_assert(std::size(kL5Angles) == 210 && std::size(kL5Heights) == 210);
static_assert(std::size(kL6Angles) == 51 && std::size(kL6Heights) == 51);
static_assert(std::size(kL7Angles) == 51 && std::size(kL7Heights) == 51);
static_assert(std::size(kL8Angles) == 51 && std::size(kL8Heights) == 51);

#define SPHEROLUX_LENS_TABLE(name) \
  LensProfile { static_cast<int>(std::size(name##Angles)), name##Angles, name##Heights }

constexpr LensProfile kTables[8] = {
    SPHEROLUX_LENS_TABLE(kL1), SPHEROLUX_LENS_TABLE(kL2), SPHEROLUX_LENS_TABLE(kL3), SPHEROLUX_LENS_TABLE(kL4),
    SPHEROLUX_LENS_TABLE(kL5), SPHEROLUX_LENS_TABLE(kL6), SPHEROLUX_LENS_TABLE(kL7), SPHEROLUX_LENS_TABLE(kL8),
};

#undef SPHEROLUX_LENS_TABLE

}  // namespace

const LensProfile* LensTable(int number) {
  if (number < 1 || number > 8) return nullptr;
  return &kTables[number - 1];
}

LensModel LensModelForCode(int32_t model_code) {
  int table = 6;
  int lens_class = 0;
  switch (model_code) {
    case 2:
      table = 1;
      break;
    case 3:
      table = 2;
      break;
    case 4:
      table = 3;
      break;
    case 5:
      table = 4;
      break;
    case 300:
    case 301:
    case 400:
    case 401:
    case 700:
    case 701:
    case 703:
    case 1300:
    case 1301:
      table = 3;
      lens_class = 1;
      break;
    case 302:
    case 303:
    case 1600:
    case 2500:
    case 2501:
      table = 3;
      break;
    case 702:
      table = 5;
      break;
    case 1000:
    case 1001:
      table = 3;
      lens_class = 2;
      break;
    case 1002:
      table = 6;
      lens_class = 2;
      break;
    case 1901:
      table = 7;
      break;
    case 2200:
      table = 8;
      break;
    case 2201:
      table = 6;
      break;
    case 2202:
      table = 6;
      lens_class = 1;
      break;
    default:
      break;
  }
  double offset = 12.5;
  if (model_code == 401 || model_code == 1301) offset = 14.0;
  if (model_code == 703) offset = -12.0;
  return LensModel{&kTables[table - 1], table, lens_class, offset};
}

float RatioBase(int32_t model_code, float ratio) {
  if (model_code == 300 || model_code == 301) return static_cast<float>(ratio + 0.003);
  if (model_code == 3) return static_cast<float>(ratio - 0.003);
  return ratio;
}

double LensRadius(const LensProfile& table, double theta, double k) {
  return lens_internal::LensHeight(table, theta) * k;
}

double LensScale(const LensProfile& table, double radius, double fov_degrees) {
  return radius / lens_internal::LensHeight(table, fov_degrees * kLensPi / 360.0);
}

}  // namespace spherolux
