// Baseline sequential encoder (ITU-T T.81 F.1): three components at 4:2:0 from planar
// Y, U, V rows, the typical Huffman tables of Annex K.3, quantisation tables scaled from
// Annex K.1 / K.2 by quality.
//
// Rows are gathered into one MCU row (16 luma rows, edges replicated) and coded as soon as
// it is complete, so only that strip is ever held.
#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "calib/panorama_xmp.h"
#include "dct.h"
#include "huffman.h"
#include "jpeg/codec.h"
#include "memory.h"
#include "tables.h"

namespace spherolux {

namespace {
constexpr size_t kOutputBufferSize = 1 << 16;
constexpr size_t kMaxExifSize = 65535 - 6;
}  // namespace

struct JpegEncoder {
  jpeg::Memory mem;
  std::FILE* file = nullptr;
  int width = 0, height = 0;
  int chroma_w = 0, chroma_h = 0;
  int mcus_x = 0, mcus_y = 0;

  int quality = 85;
  bool round_to_nearest = true;
  uint8_t* exif = nullptr;
  size_t exif_size = 0;

  uint16_t quant[2][64] = {};  // natural order: luminance, chrominance
  jpeg::QuantDivisors divisors[2] = {};
  jpeg::HuffmanEncodeTable dc_table[2];
  jpeg::HuffmanEncodeTable ac_table[2];

  // One MCU row of samples, padded to whole MCUs.
  uint8_t* luma = nullptr;  // 16 rows
  uint8_t* chroma[2] = {};  // 8 rows each
  int luma_stride = 0, chroma_stride = 0;
  int luma_rows = 0, chroma_rows = 0;  // rows received so far
  int mcu_row = 0;                     // next MCU row to code
  int dc_pred[3] = {};

  // Output.
  uint8_t* out = nullptr;
  size_t out_len = 0;
  uint64_t written = 0;
  bool write_failed = false;
  uint64_t acc = 0;  // pending bits in the low `bits` bits
  int bits = 0;

  bool started = false;
  bool finished = false;

  void MakeTables() {
    for (int t = 0; t < 2; ++t) {
      jpeg::ScaleQuantTable(quality, t == 1, quant[t]);
      jpeg::MakeDivisors(quant[t], round_to_nearest, &divisors[t]);
    }
  }

  // ---- Output ----

  void FlushOutput() {
    if (out_len == 0) return;
    if (!write_failed && std::fwrite(out, 1, out_len, file) != out_len) write_failed = true;
    written += out_len;
    out_len = 0;
  }
  void Reserve(size_t n) {
    if (out_len + n > kOutputBufferSize) FlushOutput();
  }
  void WriteBytes(const uint8_t* p, size_t n) {
    while (n > 0) {
      Reserve(1);
      const size_t step = std::min(n, kOutputBufferSize - out_len);
      std::memcpy(out + out_len, p, step);
      out_len += step;
      p += step;
      n -= step;
    }
  }
  void Write16(int v) {
    const uint8_t b[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    WriteBytes(b, 2);
  }
  void WriteMarker(uint8_t m) {
    const uint8_t b[2] = {0xFF, m};
    WriteBytes(b, 2);
  }

  // Entropy-coded bytes with a zero stuffed after each 0xFF (F.1.2.3).
  void EmitWord(uint32_t w) {
    Reserve(8);
    uint8_t* p = out + out_len;
    const uint8_t b0 = static_cast<uint8_t>(w >> 24), b1 = static_cast<uint8_t>(w >> 16);
    const uint8_t b2 = static_cast<uint8_t>(w >> 8), b3 = static_cast<uint8_t>(w);
    if (((~w - 0x01010101u) & w & 0x80808080u) == 0) {  // no byte of w is 0xFF
      p[0] = b0, p[1] = b1, p[2] = b2, p[3] = b3;
      out_len += 4;
      return;
    }
    for (const uint8_t b : {b0, b1, b2, b3}) {
      *p++ = b;
      if (b == 0xFF) *p++ = 0;
    }
    out_len = static_cast<size_t>(p - out);
  }

  void PutBits(uint32_t code, int n) {  // n <= 27
    acc = (acc << n) | code;
    bits += n;
    if (bits >= 32) {
      bits -= 32;
      EmitWord(static_cast<uint32_t>(acc >> bits));
    }
  }

  // Pads the last byte with 1-bits (F.1.2.3) and writes what remains.
  void FlushBits() {
    const int pad = (8 - (bits & 7)) & 7;
    if (pad) PutBits((1u << pad) - 1, pad);
    Reserve(16);
    while (bits >= 8) {
      bits -= 8;
      const uint8_t b = static_cast<uint8_t>(acc >> bits);
      out[out_len++] = b;
      if (b == 0xFF) out[out_len++] = 0;
    }
    acc = 0;
    bits = 0;
  }

  // ---- Headers (B.2) ----

  void WriteHeaders() {
    WriteMarker(0xD8);  // SOI
    if (exif) {
      WriteMarker(0xE1);
      Write16(static_cast<int>(exif_size + 6));
      WriteBytes(reinterpret_cast<const uint8_t*>("Exif"), 4);
      WriteBytes(exif, exif_size);
    } else {
      static const uint8_t kJfif[] = {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
      WriteBytes(kJfif, sizeof kJfif);
    }
    WriteBytes(kPanoramaXmpSegment.data(), kPanoramaXmpSegment.size());
    for (int t = 0; t < 2; ++t) {  // DQT, 8-bit entries in zig-zag order
      WriteMarker(0xDB);
      Write16(67);
      uint8_t body[65];
      body[0] = static_cast<uint8_t>(t);
      for (int k = 0; k < 64; ++k) body[1 + k] = static_cast<uint8_t>(quant[t][jpeg::kZigzagToNatural[k]]);
      WriteBytes(body, sizeof body);
    }
    {  // SOF0: Y 2x2 with table 0, Cb and Cr 1x1 with table 1
      WriteMarker(0xC0);
      Write16(8 + 3 * 3);
      const uint8_t body[] = {8,
                              static_cast<uint8_t>(height >> 8),
                              static_cast<uint8_t>(height),
                              static_cast<uint8_t>(width >> 8),
                              static_cast<uint8_t>(width),
                              3,
                              1,
                              0x22,
                              0,
                              2,
                              0x11,
                              1,
                              3,
                              0x11,
                              1};
      WriteBytes(body, sizeof body);
    }
    const jpeg::HuffmanSpec* specs[4] = {&jpeg::kDcLuminance, &jpeg::kAcLuminance, &jpeg::kDcChrominance,
                                         &jpeg::kAcChrominance};
    const uint8_t ids[4] = {0x00, 0x10, 0x01, 0x11};
    for (int i = 0; i < 4; ++i) {
      WriteMarker(0xC4);
      Write16(19 + specs[i]->value_count);
      WriteBytes(&ids[i], 1);
      WriteBytes(specs[i]->counts, 16);
      WriteBytes(specs[i]->values, static_cast<size_t>(specs[i]->value_count));
    }
    WriteMarker(0xDA);
    Write16(6 + 2 * 3);
    const uint8_t sos[] = {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
    WriteBytes(sos, sizeof sos);
  }

  // ---- Blocks ----

  static int BitLength(uint32_t a) { return a == 0 ? 0 : 32 - __builtin_clz(a); }

  // Bit k set when zz[k] is not zero.
  static uint64_t NonzeroMask(const int16_t* zz) {
#if defined(__SSE2__)
    uint64_t mask = 0;
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) {
      const __m128i a = _mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(zz + 16 * i)), zero);
      const __m128i b = _mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(zz + 16 * i + 8)), zero);
      mask |= uint64_t{static_cast<uint16_t>(~_mm_movemask_epi8(_mm_packs_epi16(a, b)))} << (16 * i);
    }
    return mask;
#else
    uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) mask |= uint64_t{zz[k] != 0} << k;
    return mask;
#endif
  }

  // Codes a quantised block given in natural order.
  void EncodeBlock(const int16_t* blk, int& pred, const jpeg::HuffmanEncodeTable& dc,
                   const jpeg::HuffmanEncodeTable& ac) {
    alignas(16) int16_t zz[64];
    for (int k = 0; k < 64; ++k) zz[k] = blk[jpeg::kZigzagToNatural[k]];
    // F.1.2.1: DC difference category and its extra bits (one's complement when negative).
    const int diff = zz[0] - pred;
    pred = zz[0];
    int a = diff < 0 ? -diff : diff;
    int nb = BitLength(static_cast<uint32_t>(a));
    uint32_t extra = static_cast<uint32_t>(diff < 0 ? diff - 1 : diff) & ((1u << nb) - 1);
    PutBits(uint32_t{dc.code[nb]} << nb | extra, dc.size[nb] + nb);
    // F.1.2.2: runs of zeros and AC categories, visiting only the non-zero coefficients.
    uint64_t nonzero = NonzeroMask(zz) & ~uint64_t{1};
    int last = 0;
    while (nonzero != 0) {
      const int k = __builtin_ctzll(nonzero);
      nonzero &= nonzero - 1;
      int run = k - last - 1;
      last = k;
      while (run > 15) {
        PutBits(ac.code[0xF0], ac.size[0xF0]);
        run -= 16;
      }
      int v = zz[k];
      a = v < 0 ? -v : v;
      if (a > 1023) {  // the typical tables stop at category 10
        a = 1023;
        v = v < 0 ? -1023 : 1023;
      }
      nb = BitLength(static_cast<uint32_t>(a));
      extra = static_cast<uint32_t>(v < 0 ? v - 1 : v) & ((1u << nb) - 1);
      const int sym = run << 4 | nb;
      PutBits(uint32_t{ac.code[sym]} << nb | extra, ac.size[sym] + nb);
    }
    if (last != 63) PutBits(ac.code[0x00], ac.size[0x00]);
  }

  void EncodeMcuRow() {
    alignas(32) int16_t blk[64];
    for (int mx = 0; mx < mcus_x; ++mx) {
      for (int by = 0; by < 2; ++by) {
        for (int bx = 0; bx < 2; ++bx) {
          jpeg::ForwardDctQuantize(luma + by * 8 * luma_stride + mx * 16 + bx * 8, luma_stride, divisors[0], blk);
          EncodeBlock(blk, dc_pred[0], dc_table[0], ac_table[0]);
        }
      }
      for (int c = 0; c < 2; ++c) {
        jpeg::ForwardDctQuantize(chroma[c] + mx * 8, chroma_stride, divisors[1], blk);
        EncodeBlock(blk, dc_pred[1 + c], dc_table[1], ac_table[1]);
      }
    }
    ++mcu_row;
  }

  static void CopyRow(uint8_t* dst, const uint8_t* src, int w, int padded) {
    std::memcpy(dst, src, static_cast<size_t>(w));
    std::memset(dst + w, src[w - 1], static_cast<size_t>(padded - w));
  }

  // Codes the current MCU row once its luma and chroma rows are all in, replicating the
  // last rows of the image into the padding.
  void MaybeEncodeMcuRow() {
    const int luma_end = std::min(height, 16 * (mcu_row + 1));
    const int chroma_end = std::min(chroma_h, 8 * (mcu_row + 1));
    if (luma_rows < luma_end || chroma_rows < chroma_end) return;
    for (int y = luma_end - 16 * mcu_row; y < 16; ++y)
      std::memcpy(luma + y * luma_stride, luma + (y - 1) * luma_stride, static_cast<size_t>(luma_stride));
    for (int c = 0; c < 2; ++c)
      for (int y = chroma_end - 8 * mcu_row; y < 8; ++y)
        std::memcpy(chroma[c] + y * chroma_stride, chroma[c] + (y - 1) * chroma_stride,
                    static_cast<size_t>(chroma_stride));
    EncodeMcuRow();
  }

  int32_t EncodeRows(const uint8_t* const planes[3], const int32_t strides[3], int first_row, int rows) {
    if (finished) return kJpegBadState;
    if (first_row != luma_rows) return kJpegBadState;  // rows come in order
    if (!planes[0] || !planes[1] || !planes[2] || strides[0] < width || strides[1] < chroma_w || strides[2] < chroma_w)
      return kJpegInvalidArgument;
    const int n = std::min(rows, height - first_row);
    if (!started) {
      WriteHeaders();
      started = true;
    }
    const int chroma_first = (first_row + 1) / 2;
    for (int j = 0; j < n; ++j) {
      CopyRow(luma + (luma_rows % 16) * luma_stride, planes[0] + static_cast<ptrdiff_t>(j) * strides[0], width,
              luma_stride);
      ++luma_rows;
      const int chroma_target = std::min(chroma_h, (luma_rows + 1) / 2);
      while (chroma_rows < chroma_target) {
        const ptrdiff_t rel = chroma_rows - chroma_first;
        for (int c = 0; c < 2; ++c)
          CopyRow(chroma[c] + (chroma_rows % 8) * chroma_stride, planes[1 + c] + rel * strides[1 + c], chroma_w,
                  chroma_stride);
        ++chroma_rows;
      }
      MaybeEncodeMcuRow();
    }
    return write_failed ? kJpegCorrupt : kJpegOk;
  }

  int32_t Finish() {
    if (finished) return kJpegBadState;
    if (luma_rows != height) return kJpegBadState;  // the picture is not complete
    FlushBits();
    WriteMarker(0xD9);  // EOI
    FlushOutput();
    if (std::fflush(file) != 0) write_failed = true;
    finished = true;
    return write_failed ? kJpegCorrupt : kJpegOk;
  }
};

int32_t JpegEncoderCreate(JpegEncoder** out, const JpegEncoderStream& stream) {
  if (!out) return kJpegInvalidArgument;
  *out = nullptr;
  if (!stream.file || !stream.alloc || !stream.release) return kJpegInvalidArgument;
  if (stream.width < 1 || stream.width > 65535 || stream.height < 1 || stream.height > 65535)
    return kJpegInvalidArgument;
  if (stream.pixel_format < 0 || stream.pixel_format > 23) return kJpegInvalidArgument;
  if (stream.pixel_format != 1 || stream.sampling_override != 0) return kJpegBadState;  // not implemented
  const jpeg::Memory mem{stream.alloc, stream.release};
  JpegEncoder* enc = mem.New<JpegEncoder>();
  if (!enc) return kJpegOutOfMemory;
  enc->mem = mem;
  enc->file = stream.file;
  enc->width = stream.width;
  enc->height = stream.height;
  enc->chroma_w = (stream.width + 1) / 2;
  enc->chroma_h = (stream.height + 1) / 2;
  enc->mcus_x = (stream.width + 15) / 16;
  enc->mcus_y = (stream.height + 15) / 16;
  enc->luma_stride = enc->mcus_x * 16;
  enc->chroma_stride = enc->mcus_x * 8;
  enc->luma = mem.Array<uint8_t>(static_cast<size_t>(enc->luma_stride) * 16);
  enc->chroma[0] = mem.Array<uint8_t>(static_cast<size_t>(enc->chroma_stride) * 8);
  enc->chroma[1] = mem.Array<uint8_t>(static_cast<size_t>(enc->chroma_stride) * 8);
  enc->out = mem.Array<uint8_t>(kOutputBufferSize);
  if (!enc->luma || !enc->chroma[0] || !enc->chroma[1] || !enc->out) {
    JpegEncoderDestroy(enc);
    return kJpegOutOfMemory;
  }
  jpeg::BuildEncodeTable(jpeg::kDcLuminance.counts, jpeg::kDcLuminance.values, jpeg::kDcLuminance.value_count,
                         &enc->dc_table[0]);
  jpeg::BuildEncodeTable(jpeg::kAcLuminance.counts, jpeg::kAcLuminance.values, jpeg::kAcLuminance.value_count,
                         &enc->ac_table[0]);
  jpeg::BuildEncodeTable(jpeg::kDcChrominance.counts, jpeg::kDcChrominance.values, jpeg::kDcChrominance.value_count,
                         &enc->dc_table[1]);
  jpeg::BuildEncodeTable(jpeg::kAcChrominance.counts, jpeg::kAcChrominance.values, jpeg::kAcChrominance.value_count,
                         &enc->ac_table[1]);
  enc->MakeTables();
  *out = enc;
  return kJpegOk;
}

int32_t JpegEncoderSet(JpegEncoder* enc, uint32_t id, const void* value, size_t size) {
  if (!enc || !value) return kJpegInvalidArgument;
  if (id == kJpegEncExif) {
    if (size != sizeof(JpegExifData)) return kJpegInvalidArgument;
    JpegExifData e;
    std::memcpy(&e, value, sizeof e);
    if ((e.size > 0 && !e.data) || e.size > kMaxExifSize) return kJpegInvalidArgument;
    if (enc->started) return kJpegBadState;
    uint8_t* copy = nullptr;
    if (e.size > 0) {
      copy = enc->mem.Array<uint8_t>(e.size);
      if (!copy) return kJpegOutOfMemory;
      std::memcpy(copy, e.data, e.size);
    }
    enc->mem.Free(enc->exif);
    enc->exif = copy;
    enc->exif_size = e.size;
    return kJpegOk;
  }
  if (size != 4) return kJpegInvalidArgument;
  int32_t v = 0;
  std::memcpy(&v, value, 4);
  switch (id) {
    case kJpegEncQuality:
      if (enc->started) return kJpegBadState;
      enc->quality = std::clamp(v, 1, 100);
      enc->MakeTables();
      return kJpegOk;
    case kJpegEncRounding:
      if (v != 0 && v != 1) return kJpegInvalidArgument;
      if (enc->started) return kJpegBadState;
      enc->round_to_nearest = v == 1;
      enc->MakeTables();
      return kJpegOk;
    case kJpegEncIndexBudget:
      return v >= 0 ? kJpegOk : kJpegInvalidArgument;
    default:
      return kJpegInvalidArgument;
  }
}

int32_t JpegEncoderEncodeRows(JpegEncoder* enc, const uint8_t* const planes[3], const int32_t strides[3],
                              int32_t first_row, int32_t rows) {
  if (!enc || !planes || !strides || rows < 0 || first_row < 0) return kJpegInvalidArgument;
  return enc->EncodeRows(planes, strides, first_row, rows);
}

int32_t JpegEncoderFinish(JpegEncoder* enc) {
  if (!enc) return kJpegInvalidArgument;
  return enc->Finish();
}

int32_t JpegEncoderWrittenSize(JpegEncoder* enc, uint64_t* bytes) {
  if (!enc || !bytes) return kJpegInvalidArgument;
  if (!enc->finished) return kJpegBadState;
  *bytes = enc->written;
  return kJpegOk;
}

int32_t JpegEncoderDestroy(JpegEncoder* enc) {
  if (!enc) return kJpegInvalidArgument;
  const jpeg::Memory mem = enc->mem;
  mem.Free(enc->luma);
  mem.Free(enc->chroma[0]);
  mem.Free(enc->chroma[1]);
  mem.Free(enc->out);
  mem.Free(enc->exif);
  mem.Delete(enc);
  return kJpegOk;
}

}  // namespace spherolux
