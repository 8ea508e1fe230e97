// Helpers for the codec tests: synthetic pictures, PPM and raw files, running the
// reference tools, decoding and encoding whole pictures, and PSNR.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jpeg/codec.h"
#include "testsupport/jpeg_planes.h"

namespace spherolux::jpegtest {

// A directory of this test process under the system temporary folder.
std::string TempPath(const std::string& name);

// Runs a shell command; returns its exit status (tests assert it is 0).
int RunCommand(const std::string& command);

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& data);

// Interleaved 8-bit pixels, 1 (grey) or 3 (RGB) channels.
struct Image {
  int width = 0, height = 0, channels = 3;
  std::vector<uint8_t> pixels;
};

// Smooth gradients, hard edges, a checkerboard and a little deterministic noise.
Image MakeTestImage(int width, int height, uint32_t seed = 1);
bool WritePnm(const std::string& path, const Image& image);
bool ReadPnm(const std::string& path, Image* image);

// Whole files decoded with our decoder (see testsupport/jpeg_planes.h).
using testsupport::DecodeJpegFile;
using testsupport::Planes;

// I420 planes of an RGB picture (JFIF equations, chroma averaged over 2x2).
Planes RgbToI420(const Image& rgb);

// RGB by the JFIF equations with each chroma sample repeated over the luma samples it
// covers (what djpeg -nosmooth does); greyscale stays one channel.
Image PlanesToRgb(const Planes& p);

// Encodes I420 planes with our encoder; returns the first non-zero code.
int32_t EncodeI420(const std::string& path, const Planes& p, int quality, int strip = 0, int rounding = 1);

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
double Psnr(const Image& a, const Image& b);

// Allocation callbacks that count, and can be made to fail from the n-th call on.
struct CountingAllocator {
  static void Reset(int fail_at = -1);
  static void* Alloc(size_t size);
  static void Release(void* p);
  static int allocations, releases, fail_at;
  static int64_t outstanding_bytes;
};

}  // namespace spherolux::jpegtest
