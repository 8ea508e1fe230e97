// A plausible dual-lens record for tests and benchmarks: two 1920-wide lens circles side by
// side, a 200-degree field of view and a few control lines.
#pragma once

#include "calib/camera_para.h"

namespace spherolux::lens_test {

inline DoubleFisheyeCameraPara SamplePara(int32_t model = 2201, int lines = 2) {
  DoubleFisheyeCameraPara p;
  p.fLensCoef = 200.0f;
  p.lModel = model;
  p.stPoint1 = {480.0f, 480.0f, 470.0f};
  p.stPoint2 = {482.0f, 478.0f, 468.0f};
  p.fRatio = 1.0f;
  p.lPointNum = lines;
  for (int i = 0; i < lines; ++i) {
    // Nearly vertical lines across the overlap band, spread in azimuth.
    const float x = 100.0f + 1720.0f * i / (lines > 1 ? lines - 1 : 1);
    p.mstPf1[i] = {x, 400.0f, x + 4.0f, 560.0f};
    p.mstPf2[i] = {x + 2.0f, 400.0f, x + 5.0f, 560.0f};
  }
  return p;
}

}  // namespace spherolux::lens_test
