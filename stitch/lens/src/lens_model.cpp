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

// Every camera model code the cameras use, and what it selects (CameraModel gives the
// meaning of each column); any other code selects kOtherModel.
struct ModelRow {
  int32_t code;
  int table;
  int lens_class;
  double parallax_offset;
  double ratio_offset;
  bool ratio_lowered;
  bool video_ratio_b;
  bool photo_ratio_b;
  double ratio_shift;
  bool quarter_turn;
};

constexpr double kB = 12.5;  // the parallax offset of every code but 401, 703 and 1301

// clang-format off
constexpr ModelRow kModels[] = {
    // code  table class offset  ratio   lowered video B photo B shift   quarter turn
    {2,      1,    0,    kB,     0.0,    false,  false,  false,  0.0,    false},
    {3,      2,    0,    kB,     -0.003, false,  false,  false,  0.0,    false},
    {4,      3,    0,    kB,     0.0,    false,  false,  false,  0.0,    false},
    {5,      4,    0,    kB,     0.0,    false,  false,  false,  0.0,    false},
    {300,    3,    1,    kB,     0.003,  true,   false,  false,  0.0,    false},
    {301,    3,    1,    kB,     0.003,  true,   false,  false,  0.0,    false},
    {302,    3,    0,    kB,     0.0,    false,  false,  false,  0.0,    false},
    {303,    3,    0,    kB,     0.0,    false,  false,  false,  0.0,    false},
    {400,    3,    1,    kB,     0.0,    true,   false,  false,  0.0,    false},
    {401,    3,    1,    14.0,   0.0,    true,   true,   true,   0.0,    false},
    {700,    3,    1,    kB,     0.0,    true,   false,  false,  0.0,    false},
    {701,    3,    1,    kB,     0.0,    true,   false,  false,  0.0,    false},
    {702,    5,    0,    kB,     0.0,    false,  false,  false,  0.0,    false},
    {703,    3,    1,    -12.0,  0.0,    true,   false,  true,   0.0,    false},
    {1000,   3,    2,    kB,     0.0,    false,  false,  false,  -0.004, false},
    {1001,   3,    2,    kB,     0.0,    false,  false,  false,  0.0,    false},
    {1002,   6,    2,    kB,     0.0,    false,  false,  false,  0.0,    false},
    {1300,   3,    1,    kB,     0.0,    true,   false,  false,  0.0,    false},
    {1301,   3,    1,    14.0,   0.0,    true,   true,   true,   0.0,    false},
    {1600,   3,    0,    kB,     0.0,    false,  false,  false,  0.0,    false},
    {1901,   7,    0,    kB,     0.0,    false,  false,  false,  0.0,    false},
    {2200,   8,    0,    kB,     0.0,    false,  false,  false,  0.0,    false},
    {2201,   6,    0,    kB,     0.0,    false,  false,  false,  0.0,    false},
    {2202,   6,    1,    kB,     0.0,    false,  false,  false,  0.0,    false},
    {2500,   3,    0,    kB,     0.0,    false,  false,  false,  0.0,    false},
    {2501,   3,    0,    kB,     0.0,    false,  false,  false,  0.0,    true},
};
// clang-format on
constexpr ModelRow kOtherModel = {0, 6, 0, kB, 0.0, false, false, false, 0.0, false};

}  // namespace

const LensProfile* LensTable(int number) {
  if (number < 1 || number > 8) return nullptr;
  return &kTables[number - 1];
}

CameraModel CameraModelForCode(int32_t model_code) {
  const ModelRow* row = &kOtherModel;
  for (const ModelRow& known : kModels) {
    if (known.code == model_code) row = &known;
  }
  return CameraModel{&kTables[row->table - 1], row->table,         row->lens_class,    row->parallax_offset,
                     row->ratio_offset,        row->ratio_lowered, row->video_ratio_b, row->photo_ratio_b,
                     row->ratio_shift,         row->quarter_turn};
}

float RatioBase(int32_t model_code, float ratio) {
  const double offset = CameraModelForCode(model_code).ratio_offset;
  return offset == 0.0 ? ratio : static_cast<float>(ratio + offset);
}

double LensRadius(const LensProfile& table, double theta, double k) {
  return lens_internal::LensHeight(table, theta) * k;
}

double LensScale(const LensProfile& table, double radius, double fov_degrees) {
  return radius / lens_internal::LensHeight(table, fov_degrees * kLensPi / 360.0);
}

}  // namespace spherolux
