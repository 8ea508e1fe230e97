// Inputs that once made a walker, the decoder or a stitched test misbehave, saved from
// fuzzing under calib/tests/malformed/. Each must end with a result, under the sanitizers
// too; the expected answers are recorded next to each file in EXPECTED.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "calib/block.h"
#include "calib/calibration.h"
#include "calib/locator.h"
#include "calib/stitch_state.h"

namespace spherolux {
namespace {

namespace fs = std::filesystem;

const fs::path kDir = fs::path(SPHEROLUX_SOURCE_DIR) / "calib/tests/malformed";

// EXPECTED lines: file name, then the codes of WalkMp4Udta, WalkMp4SphericalUuid,
// WalkJpegExif, IsStitchedPhoto, QueryCameraType.
std::map<std::string, std::vector<int>> Expected() {
  std::map<std::string, std::vector<int>> out;
  std::ifstream in(kDir / "EXPECTED");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name;
    fields >> name;
    std::vector<int> codes;
    for (std::string code; fields >> code;) codes.push_back(std::stoi(code, nullptr, 0));
    out[name] = codes;
  }
  return out;
}

TEST(MalformedInputs, EveryFileEndsWithItsRecordedResult) {
  const auto expected = Expected();
  ASSERT_FALSE(expected.empty());
  for (const auto& [name, codes] : expected) {
    SCOPED_TRACE(name);
    ASSERT_EQ(codes.size(), 5u);
    const std::string path = (kDir / name).string();
    ASSERT_TRUE(fs::exists(path));
    PayloadSpan span;
    EXPECT_EQ(WalkMp4Udta(path.c_str(), &span), codes[0]);
    EXPECT_EQ(WalkMp4SphericalUuid(path.c_str(), &span), codes[1]);
    EXPECT_EQ(WalkJpegExif(path.c_str(), &span), codes[2]);
    EXPECT_EQ(IsStitchedPhoto(path.c_str()), codes[3]);
    EXPECT_EQ(QueryCameraType(path.c_str()), codes[4]);
    SphericalVideoFlag(path.c_str());
    LoadPhotoCalibration(path.c_str());
  }
}

}  // namespace
}  // namespace spherolux
