// Decode and encode speed of the codec on a camera-sized 4:2:0 photo.
//
// The photo is the file named by the environment variable JPEG_BENCH_FILE (bench/
// jpeg_vs_libjpeg.sh makes one with cjpeg), or else a synthetic picture of 5376 x 2688
// encoded once by our own encoder. Counters report megapixels per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jpeg/codec.h"

namespace {

using namespace spherolux;

struct Photo {
  int width = 0, height = 0;
  std::vector<uint8_t> jpeg;  // the file's bytes
  std::vector<uint8_t> i420;  // its decoded planes
};

std::vector<uint8_t> ReadAll(const char* path) {
  std::vector<uint8_t> d;
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return d;
  std::fseek(f, 0, SEEK_END);
  d.resize(static_cast<size_t>(std::ftell(f)));
  std::fseek(f, 0, SEEK_SET);
  if (std::fread(d.data(), 1, d.size(), f) != d.size()) d.clear();
  std::fclose(f);
  return d;
}

bool Decode(const std::vector<uint8_t>& jpeg, Photo* p) {
  std::FILE* f = fmemopen(const_cast<uint8_t*>(jpeg.data()), jpeg.size(), "rb");
  if (!f) return false;
  JpegDecoderStream s;
  s.file = f;
  s.alloc = std::malloc;
  s.release = std::free;
  JpegDecoder* dec = nullptr;
  bool ok = JpegDecoderCreate(&dec, s) == kJpegOk;
  if (ok) {
    int32_t wh[2];
    JpegDecoderGet(dec, kJpegDecImageSize, wh, 8);
    p->width = wh[0];
    p->height = wh[1];
    const int w = (wh[0] + 1) & ~1, h = (wh[1] + 1) & ~1;
    p->i420.resize(static_cast<size_t>(w) * h * 3 / 2);
    uint8_t* planes[3] = {p->i420.data(), p->i420.data() + w * h, p->i420.data() + w * h + w * h / 4};
    const int32_t strides[3] = {w, w / 2, w / 2};
    for (int row = 0; ok && row < wh[1]; row += 16) {  // 16-row strips, as the photo pipeline decodes
      int32_t rows = 16;
      ok = JpegDecoderDecodeRows(dec, planes, strides, nullptr, &rows) == kJpegOk;
      planes[0] += 16 * strides[0];
      planes[1] += 8 * strides[1];
      planes[2] += 8 * strides[2];
    }
    JpegDecoderDestroy(dec);
  }
  std::fclose(f);
  return ok;
}

std::vector<uint8_t> Encode(const Photo& p, int quality) {
  char* buf = nullptr;
  size_t len = 0;
  std::FILE* f = open_memstream(&buf, &len);
  JpegEncoderStream s;
  s.file = f;
  s.width = p.width;
  s.height = p.height;
  s.alloc = std::malloc;
  s.release = std::free;
  JpegEncoder* enc = nullptr;
  std::vector<uint8_t> out;
  if (JpegEncoderCreate(&enc, s) == kJpegOk) {
    JpegEncoderSet(enc, kJpegEncQuality, &quality, 4);
    const int w = (p.width + 1) & ~1, h = (p.height + 1) & ~1;
    const uint8_t* planes[3] = {p.i420.data(), p.i420.data() + w * h, p.i420.data() + w * h + w * h / 4};
    const int32_t strides[3] = {w, w / 2, w / 2};
    if (JpegEncoderEncodeRows(enc, planes, strides, 0, p.height) == kJpegOk && JpegEncoderFinish(enc) == kJpegOk) {
      std::fflush(f);
      out.assign(buf, buf + len);
    }
    JpegEncoderDestroy(enc);
  }
  std::fclose(f);
  std::free(buf);
  return out;
}

const Photo& TestPhoto() {
  static const Photo photo = [] {
    Photo p;
    if (const char* path = std::getenv("JPEG_BENCH_FILE")) {
      p.jpeg = ReadAll(path);
      if (!p.jpeg.empty() && Decode(p.jpeg, &p)) return p;
      std::fprintf(stderr, "cannot decode %s\n", path);
      std::exit(1);
    }
    p.width = 5376;
    p.height = 2688;
    p.i420.resize(static_cast<size_t>(p.width) * p.height * 3 / 2);
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x)
        p.i420[static_cast<size_t>(y) * p.width + x] =
            static_cast<uint8_t>(128 + 60 * std::sin(x * 0.01) * std::cos(y * 0.013) + ((x ^ y) & 15));
    for (size_t i = static_cast<size_t>(p.width) * p.height; i < p.i420.size(); ++i)
      p.i420[i] = static_cast<uint8_t>(128 + (i % 37));
    p.jpeg = Encode(p, 90);
    Decode(p.jpeg, &p);
    return p;
  }();
  return photo;
}

void BM_Decode(benchmark::State& state) {
  const Photo& src = TestPhoto();
  Photo p;
  for (auto _ : state) {
    if (!Decode(src.jpeg, &p)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(p.i420.data());
  }
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(src.width) * src.height / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Encode(benchmark::State& state) {
  const Photo& src = TestPhoto();
  for (auto _ : state) {
    std::vector<uint8_t> out = Encode(src, static_cast<int>(state.range(0)));
    if (out.empty()) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(src.width) * src.height / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Encode)->Arg(90)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
