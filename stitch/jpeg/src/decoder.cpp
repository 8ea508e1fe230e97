// Huffman DCT decoder (ITU-T T.81): baseline and extended sequential (F.2) and progressive
// (G.2) processes, 8-bit samples, one to four components.
//
// A sequential frame whose first scan carries every component is decoded while the rows
// are delivered, one MCU row at a time, straight from the file. Progressive frames and
// sequential frames split into several scans are decoded whole into quantised
// coefficients on the first row call; rows are then made from those, MCU row by MCU row.
#include <sys/types.h>

#include <algorithm>
#include <cstring>

#include "dct.h"
#include "huffman.h"
#include "jpeg/codec.h"
#include "memory.h"
#include "tables.h"

namespace spherolux {

namespace jpeg {
namespace {

constexpr size_t kInputBufferSize = 1 << 17;  // holds any marker segment whole
constexpr int kMaxComponents = 4;

// Markers (T.81 table B.1).
enum Marker : uint8_t {
  kSof0 = 0xC0,
  kSof1 = 0xC1,
  kSof2 = 0xC2,
  kDht = 0xC4,
  kRst0 = 0xD0,
  kSoi = 0xD8,
  kEoi = 0xD9,
  kSos = 0xDA,
  kDqt = 0xDB,
  kDnl = 0xDC,
  kDri = 0xDD,
  kApp0 = 0xE0,
  kCom = 0xFE,
  kTem = 0x01,
};

// Buffered reading of the file with absolute positions, for seeking back.
struct Input {
  std::FILE* file = nullptr;
  uint8_t* buf = nullptr;
  uint8_t* pos = nullptr;
  uint8_t* end = nullptr;
  int64_t buf_offset = 0;  // file offset of buf[0]
  bool eof = false;

  // Makes at least n bytes available from pos; false when the file ends first.
  bool Ensure(size_t n) {
    if (static_cast<size_t>(end - pos) >= n) return true;
    if (eof) return false;
    const size_t keep = static_cast<size_t>(end - pos);
    std::memmove(buf, pos, keep);
    buf_offset += pos - buf;
    pos = buf;
    end = buf + keep;
    while (static_cast<size_t>(end - pos) < n) {
      const size_t got = std::fread(end, 1, kInputBufferSize - static_cast<size_t>(end - buf), file);
      if (got == 0) {
        eof = true;
        return false;
      }
      end += got;
    }
    return true;
  }
  int64_t Tell() const { return buf_offset + (pos - buf); }
  bool Seek(int64_t offset) {
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    buf_offset = offset;
    pos = end = buf;
    eof = false;
    return true;
  }
  int ReadByte() { return Ensure(1) ? *pos++ : -1; }
  bool Skip(size_t n) {
    while (n > 0) {
      if (!Ensure(1)) return false;
      const size_t step = std::min(n, static_cast<size_t>(end - pos));
      pos += step;
      n -= step;
    }
    return true;
  }
};

struct Component {
  int id = 0;
  int h = 1, v = 1;  // sampling factors
  int tq = 0;        // quantisation table
  int td = 0, ta = 0;
  int width = 0, height = 0;         // samples at full scale
  int blocks_w = 0, blocks_h = 0;    // blocks coded in a scan of this component alone
  int padded_bw = 0, padded_bh = 0;  // blocks covered by the MCUs
  int16_t* coefs = nullptr;          // whole-image coefficients (buffered decoding)
  uint8_t* rows = nullptr;           // one MCU row of samples at the output scale
  int rows_stride = 0, rows_count = 0;
  int out_w = 0, out_h = 0;  // at the output scale
  int next_row = 0;          // next row to deliver
  int dc_pred = 0;
};

struct BitReader {
  uint64_t acc = 0;  // valid bits at the top
  int bits = 0;
  int padding = 0;  // zero bits appended after a marker or the end of the file
  bool stopped = false;
};

}  // namespace
}  // namespace jpeg

using namespace jpeg;  // NOLINT: the codec's own helpers

struct JpegDecoder {
  jpeg::Memory mem;
  Input in;
  BitReader br;

  // Tables.
  uint16_t quant_zigzag[4][64] = {};
  uint16_t quant_natural[4][64] = {};
  bool quant_defined[4] = {};
  HuffmanDecodeTable dc_tables[4];
  HuffmanDecodeTable ac_tables[4];
  int restart_interval = 0;

  // Frame.
  bool have_frame = false;
  bool progressive = false;
  int width = 0, height = 0;
  int ncomp = 0;
  Component comp[kMaxComponents];
  int hmax = 1, vmax = 1;
  int mcus_x = 0, mcus_y = 0;

  // Current scan.
  int scan_ncomp = 0;
  int scan_comp[kMaxComponents] = {};
  int ss = 0, se = 63, ah = 0, al = 0;
  int eobrun = 0;
  int restarts_left = 0;
  int next_restart = 0;

  // Decoding state.
  bool buffered = false;     // whole-image coefficients
  bool coefs_ready = false;  // buffered: every scan read
  int64_t scan_data_offset = 0;
  bool seekable = false;
  int scale_shift = 0;
  int rows_shift = -1;  // scale the row buffers were made for
  int out_w = 0, out_h = 0;
  int next_row = 0;          // next output row
  int mcu_row_ready = -1;    // MCU row held in the row buffers
  int mcu_row_decoded = -1;  // streaming: last MCU row read from the file
  bool corrupt = false;
  bool ended = false;  // EOI seen

  // ---- Bit reading (F.2.2.5, with byte stuffing and markers of B.1.1.5) ----

  void Fill() {
    while (br.bits <= 56) {
      if (br.stopped) {
        br.bits += 8;
        br.padding += 8;
        continue;
      }
      if (in.end - in.pos < 2 && !in.Ensure(2)) {
        if (in.end - in.pos == 0 || *in.pos == 0xFF) {
          br.stopped = true;  // the data ends: zeros from here on
          continue;
        }
      }
      const uint8_t b = *in.pos;
      if (b == 0xFF) {
        const uint8_t next = in.pos[1];
        if (next == 0x00) {
          in.pos += 2;
        } else if (next == 0xFF) {
          ++in.pos;  // fill byte before a marker
          continue;
        } else {
          br.stopped = true;  // a marker ends the entropy-coded segment
          continue;
        }
      } else {
        ++in.pos;
      }
      br.acc |= uint64_t{b} << (56 - br.bits);
      br.bits += 8;
    }
  }

  int GetBits(int n) {  // 0 <= n <= 16
    if (n == 0) return 0;
    if (br.bits < n) Fill();
    const int v = static_cast<int>(br.acc >> (64 - n));
    br.acc <<= n;
    br.bits -= n;
    return v;
  }
  int GetBit() { return GetBits(1); }

  static int Extend(int v, int s) {  // F.2.2.1
    return s == 0 ? 0 : v < (1 << (s - 1)) ? v - (1 << s) + 1 : v;
  }

  int DecodeSymbol(const HuffmanDecodeTable& t) {
    if (br.bits < 16) Fill();
    const int e = t.lookup[br.acc >> (64 - jpeg::kHuffmanLookupBits)];
    if (e != 0) {
      const int len = e >> 8;
      br.acc <<= len;
      br.bits -= len;
      return e & 0xFF;
    }
    for (int l = jpeg::kHuffmanLookupBits + 1; l <= 16; ++l) {
      const int32_t code = static_cast<int32_t>(br.acc >> (64 - l));
      if (code <= t.max_code[l]) {
        br.acc <<= l;
        br.bits -= l;
        return t.values[(code + t.value_offset[l]) & 0xFF];
      }
    }
    corrupt = true;  // no such code
    return 0;
  }

  void CheckUnderrun() {
    if (br.bits < br.padding) corrupt = true;  // bits past the end of the data were used
  }

  void ResetBits() {
    CheckUnderrun();
    br = BitReader{};
  }

  // Moves past the RSTn marker that must follow a restart interval (F.2.2.4 / B.2.1).
  void ProcessRestart() {
    ResetBits();
    for (;;) {  // skip to the next marker
      if (!in.Ensure(2)) {
        corrupt = true;
        br.stopped = true;
        break;
      }
      if (in.pos[0] == 0xFF && in.pos[1] != 0x00 && in.pos[1] != 0xFF) break;
      ++in.pos;
    }
    if (!br.stopped) {
      const uint8_t m = in.pos[1];
      if (m >= kRst0 && m <= kRst0 + 7) {
        if (m != kRst0 + next_restart) corrupt = true;
        in.pos += 2;
      } else {
        corrupt = true;  // another marker: the rest of the scan decodes as zeros
        br.stopped = true;
      }
    }
    next_restart = (next_restart + 1) & 7;
    for (int i = 0; i < ncomp; ++i) comp[i].dc_pred = 0;
    eobrun = 0;
    restarts_left = restart_interval;
  }

  void BeforeMcu() {
    if (restart_interval == 0) return;
    if (restarts_left == 0) ProcessRestart();
    --restarts_left;
  }

  // ---- Block decoding ----

  int DecodeDc(Component& c) {
    const int s = DecodeSymbol(dc_tables[c.td]);
    if (s > 16) {
      corrupt = true;
      return c.dc_pred;
    }
    const int diff = Extend(GetBits(s), s);
    c.dc_pred = static_cast<int16_t>(c.dc_pred + diff);  // wraps on corrupt data, as 16-bit DPCM
    return c.dc_pred;
  }

  static int16_t Dequantise(int v, int q) {
    return static_cast<int16_t>(std::clamp(v * q, -jpeg::kMaxDequantised, jpeg::kMaxDequantised));
  }

  // Sequential block, dequantised into natural order (block zeroed by the caller).
  // Returns whether any AC coefficient was set.
  bool DecodeBlockDequantised(Component& c, int16_t* blk) {
    const uint16_t* q = quant_zigzag[c.tq];
    blk[0] = Dequantise(DecodeDc(c), q[0]);
    const HuffmanDecodeTable& ac = ac_tables[c.ta];
    bool any = false;
    for (int k = 1; k < 64;) {
      if (br.bits < 16) Fill();
      const int32_t f = ac.fast_ac[br.acc >> (64 - kHuffmanLookupBits)];
      if (f != 0) {  // code and coefficient in one look-up
        k += (f >> 8) & 15;
        const int used = f & 0xFF;
        br.acc <<= used;
        br.bits -= used;
        if (k > 63) {
          corrupt = true;
          break;
        }
        blk[kZigzagToNatural[k]] = Dequantise(f >> 16, q[k]);
        any = true;
        ++k;
        continue;
      }
      const int rs = DecodeSymbol(ac);
      const int r = rs >> 4, s = rs & 15;
      if (s != 0) {
        k += r;
        if (k > 63) {
          corrupt = true;
          break;
        }
        blk[kZigzagToNatural[k]] = Dequantise(Extend(GetBits(s), s), q[k]);
        any = true;
        ++k;
      } else {
        if (r != 15) break;
        k += 16;
      }
    }
    return any;
  }

  // Sequential block into quantised coefficients (natural order).
  void DecodeBlockQuantised(Component& c, int16_t* blk) {
    blk[0] = static_cast<int16_t>(DecodeDc(c));
    const HuffmanDecodeTable& ac = ac_tables[c.ta];
    for (int k = 1; k < 64;) {
      const int rs = DecodeSymbol(ac);
      const int r = rs >> 4, s = rs & 15;
      if (s != 0) {
        k += r;
        if (k > 63) {
          corrupt = true;
          break;
        }
        blk[kZigzagToNatural[k]] = static_cast<int16_t>(Extend(GetBits(s), s));
        ++k;
      } else {
        if (r != 15) break;
        k += 16;
      }
    }
  }

  // G.1.2.1: first DC scan and DC refinement.
  void DecodeDcFirst(Component& c, int16_t* blk) { blk[0] = static_cast<int16_t>(DecodeDc(c) * (1 << al)); }
  void DecodeDcRefine(int16_t* blk) {
    if (GetBit()) blk[0] = static_cast<int16_t>(blk[0] | (1 << al));
  }

  // G.1.2.2: first AC scan of a spectral band, with end-of-band runs.
  void DecodeAcFirst(Component& c, int16_t* blk) {
    if (eobrun > 0) {
      --eobrun;
      return;
    }
    const HuffmanDecodeTable& ac = ac_tables[c.ta];
    for (int k = ss; k <= se; ++k) {
      const int rs = DecodeSymbol(ac);
      const int r = rs >> 4, s = rs & 15;
      if (s != 0) {
        k += r;
        if (k > 63) {
          corrupt = true;
          break;
        }
        blk[kZigzagToNatural[k]] = static_cast<int16_t>(Extend(GetBits(s), s) * (1 << al));
      } else if (r == 15) {
        k += 15;
      } else {
        eobrun = (1 << r) + GetBits(r) - 1;
        break;
      }
    }
  }

  // G.1.2.3: AC refinement; a correction bit for every coefficient already non-zero.
  void DecodeAcRefine(Component& c, int16_t* blk) {
    const int p1 = 1 << al;
    const int m1 = -p1;
    int k = ss;
    auto refine = [&](int16_t& coef) {
      if (GetBit() && (coef & p1) == 0) coef = static_cast<int16_t>(coef + (coef >= 0 ? p1 : m1));
    };
    if (eobrun == 0) {
      const HuffmanDecodeTable& ac = ac_tables[c.ta];
      for (; k <= se; ++k) {
        const int rs = DecodeSymbol(ac);
        int r = rs >> 4;
        int s = rs & 15;
        if (s != 0) {
          if (s != 1) corrupt = true;
          s = GetBit() ? p1 : m1;
        } else if (r != 15) {
          eobrun = (1 << r) + GetBits(r);
          break;
        }
        do {  // skip r zero-history coefficients, refining the non-zero ones passed
          int16_t& coef = blk[kZigzagToNatural[k]];
          if (coef != 0) {
            refine(coef);
          } else if (--r < 0) {
            break;
          }
          ++k;
        } while (k <= se);
        if (s != 0) blk[kZigzagToNatural[k]] = static_cast<int16_t>(s);  // k <= 64 maps inside
      }
    }
    if (eobrun > 0) {
      for (; k <= se; ++k) {
        int16_t& coef = blk[kZigzagToNatural[k]];
        if (coef != 0) refine(coef);
      }
      --eobrun;
    }
  }

  // ---- Output ----

  void BlockToSamples(const int16_t* dequantised, bool ac_present, uint8_t* out, int stride) const {
    const int n = 8 >> scale_shift;
    if (!ac_present || scale_shift == 3) {
      const uint8_t v = static_cast<uint8_t>(std::clamp(128 + ((dequantised[0] + 4) >> 3), 0, 255));
      if (n == 8) {
        const uint64_t row = 0x0101010101010101ull * v;
        for (int y = 0; y < 8; ++y) std::memcpy(out + y * stride, &row, 8);
        return;
      }
      for (int y = 0; y < n; ++y) std::memset(out + y * stride, v, static_cast<size_t>(n));
    } else if (scale_shift == 0) {
      jpeg::InverseDct8x8(dequantised, out, stride);
    } else {
      jpeg::InverseDctReduced(dequantised, scale_shift, out, stride);
    }
  }

  // Streaming: reads MCU row `row` of the single scan into the row buffers.
  void DecodeMcuRow(int row) {
    const int bs = 8 >> scale_shift;
    alignas(16) int16_t blk[64];
    for (int mx = 0; mx < mcus_x; ++mx) {
      BeforeMcu();
      for (int i = 0; i < scan_ncomp; ++i) {
        Component& c = comp[scan_comp[i]];
        for (int by = 0; by < c.v; ++by) {
          for (int bx = 0; bx < c.h; ++bx) {
            std::memset(blk, 0, sizeof blk);
            const bool ac = DecodeBlockDequantised(c, blk);
            BlockToSamples(blk, ac, c.rows + by * bs * c.rows_stride + (mx * c.h + bx) * bs, c.rows_stride);
          }
        }
      }
    }
    CheckUnderrun();
    mcu_row_decoded = row;
  }

  // Buffered: makes MCU row `row` from the stored coefficients.
  void CoefsToMcuRow(int row) {
    const int bs = 8 >> scale_shift;
    alignas(16) int16_t blk[64];
    for (int i = 0; i < ncomp; ++i) {
      Component& c = comp[i];
      const uint16_t* q = quant_natural[c.tq];
      for (int by = 0; by < c.v; ++by) {
        const int16_t* src = c.coefs + (static_cast<size_t>(row * c.v + by) * c.padded_bw) * 64;
        for (int bx = 0; bx < c.padded_bw; ++bx, src += 64) {
          bool ac = false;
          blk[0] = Dequantise(src[0], q[0]);
          for (int k = 1; k < 64; ++k) {
            blk[k] = Dequantise(src[k], q[k]);
            ac |= blk[k] != 0;
          }
          BlockToSamples(blk, ac, c.rows + by * bs * c.rows_stride + bx * bs, c.rows_stride);
        }
      }
    }
  }

  void ProduceMcuRow(int row) {
    if (buffered) {
      CoefsToMcuRow(row);
    } else {
      while (mcu_row_decoded < row) DecodeMcuRow(mcu_row_decoded + 1);
    }
    mcu_row_ready = row;
  }

  // ---- Buffered scans ----

  int16_t* CoefBlock(Component& c, int bx, int by) {
    return c.coefs + (static_cast<size_t>(by) * c.padded_bw + bx) * 64;
  }

  void DecodeBlockOfScan(Component& c, int16_t* blk) {
    if (!progressive) {
      DecodeBlockQuantised(c, blk);
    } else if (ss == 0) {
      if (ah == 0) {
        DecodeDcFirst(c, blk);
      } else {
        DecodeDcRefine(blk);
      }
    } else if (ah == 0) {
      DecodeAcFirst(c, blk);
    } else {
      DecodeAcRefine(c, blk);
    }
  }

  void DecodeBufferedScan() {
    if (scan_ncomp == 1) {
      Component& c = comp[scan_comp[0]];
      for (int by = 0; by < c.blocks_h; ++by) {
        for (int bx = 0; bx < c.blocks_w; ++bx) {
          BeforeMcu();
          DecodeBlockOfScan(c, CoefBlock(c, bx, by));
        }
      }
    } else {
      for (int my = 0; my < mcus_y; ++my) {
        for (int mx = 0; mx < mcus_x; ++mx) {
          BeforeMcu();
          for (int i = 0; i < scan_ncomp; ++i) {
            Component& c = comp[scan_comp[i]];
            for (int by = 0; by < c.v; ++by)
              for (int bx = 0; bx < c.h; ++bx) DecodeBlockOfScan(c, CoefBlock(c, mx * c.h + bx, my * c.v + by));
          }
        }
      }
    }
    ResetBits();
  }

  int32_t DecodeAllScans() {
    for (;;) {
      DecodeBufferedScan();
      bool got_scan = false;
      const int32_t rc = ReadMarkers(&got_scan);
      if (rc != kJpegOk) {
        // A stream cut short after some scans still gives the picture those scans carry.
        corrupt = true;
        if (rc != kJpegCorrupt) return rc;
        break;
      }
      if (!got_scan) break;
    }
    coefs_ready = true;
    return kJpegOk;
  }

  // ---- Marker segments (B.2) ----

  // Finds the next marker, skipping anything that is not one.
  int32_t NextMarker(uint8_t* marker) {
    for (;;) {
      if (!in.Ensure(2)) return kJpegCorrupt;
      if (in.pos[0] != 0xFF) {
        ++in.pos;
        continue;
      }
      const uint8_t m = in.pos[1];
      if (m == 0xFF) {
        ++in.pos;
        continue;
      }
      in.pos += 2;
      if (m == 0x00) continue;
      *marker = m;
      return kJpegOk;
    }
  }

  // Reads a segment's length and makes its payload available at in.pos.
  int32_t SegmentPayload(size_t* length) {
    if (!in.Ensure(2)) return kJpegCorrupt;
    const size_t len = static_cast<size_t>(in.pos[0] << 8 | in.pos[1]);
    if (len < 2) return kJpegCorrupt;
    in.pos += 2;
    if (!in.Ensure(len - 2)) return kJpegCorrupt;
    *length = len - 2;
    return kJpegOk;
  }

  int32_t ReadDqt(const uint8_t* p, size_t n) {
    while (n > 0) {
      const int pq = p[0] >> 4, tq = p[0] & 15;
      const size_t need = 1 + (pq ? 128 : 64);
      if (pq > 1 || tq > 3 || n < need) return kJpegCorrupt;
      for (int k = 0; k < 64; ++k) {
        const uint16_t v = pq ? static_cast<uint16_t>(p[1 + 2 * k] << 8 | p[2 + 2 * k]) : p[1 + k];
        quant_zigzag[tq][k] = v;
        quant_natural[tq][kZigzagToNatural[k]] = v;
      }
      quant_defined[tq] = true;
      p += need;
      n -= need;
    }
    return kJpegOk;
  }

  int32_t ReadDht(const uint8_t* p, size_t n) {
    while (n > 0) {
      if (n < 17) return kJpegCorrupt;
      const int tc = p[0] >> 4, th = p[0] & 15;
      if (tc > 1 || th > 3) return kJpegCorrupt;
      int count = 0;
      for (int i = 0; i < 16; ++i) count += p[1 + i];
      if (count > 256 || n < 17 + static_cast<size_t>(count)) return kJpegCorrupt;
      HuffmanDecodeTable& t = tc == 0 ? dc_tables[th] : ac_tables[th];
      if (!jpeg::BuildDecodeTable(p + 1, p + 17, count, &t)) return kJpegCorrupt;
      p += 17 + count;
      n -= 17 + static_cast<size_t>(count);
    }
    return kJpegOk;
  }

  int32_t ReadSof(uint8_t marker, const uint8_t* p, size_t n) {
    if (have_frame) return kJpegCorrupt;  // one frame per image
    if (n < 6) return kJpegCorrupt;
    if (p[0] != 8) return kJpegBadState;  // only 8-bit samples
    const int count = p[5];
    if ((p[3] << 8 | p[4]) == 0 || count < 1 || count > kMaxComponents || n != 6 + 3 * static_cast<size_t>(count))
      return kJpegCorrupt;
    height = p[1] << 8 | p[2];
    width = p[3] << 8 | p[4];
    ncomp = count;
    for (int i = 0; i < ncomp; ++i) {
      Component& c = comp[i];
      c.id = p[6 + 3 * i];
      c.h = p[7 + 3 * i] >> 4;
      c.v = p[7 + 3 * i] & 15;
      c.tq = p[8 + 3 * i];
      if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4 || c.tq > 3) return kJpegCorrupt;
      for (int j = 0; j < i; ++j)
        if (comp[j].id == c.id) return kJpegCorrupt;
    }
    if (ncomp == 1) comp[0].h = comp[0].v = 1;  // a lone component is never interleaved (A.2.2)
    progressive = marker == kSof2;
    have_frame = true;
    return kJpegOk;
  }

  int32_t ReadSos(const uint8_t* p, size_t n) {
    if (!have_frame || n < 1) return kJpegCorrupt;
    const int ns = p[0];
    if (ns < 1 || ns > ncomp || n != 4 + 2 * static_cast<size_t>(ns)) return kJpegCorrupt;
    int blocks = 0;
    for (int i = 0; i < ns; ++i) {
      const int id = p[1 + 2 * i];
      int idx = -1;
      for (int j = 0; j < ncomp; ++j)
        if (comp[j].id == id) idx = j;
      if (idx < 0) return kJpegCorrupt;
      for (int j = 0; j < i; ++j)
        if (scan_comp[j] == idx) return kJpegCorrupt;
      scan_comp[i] = idx;
      comp[idx].td = p[2 + 2 * i] >> 4;
      comp[idx].ta = p[2 + 2 * i] & 15;
      if (comp[idx].td > 3 || comp[idx].ta > 3) return kJpegCorrupt;
      blocks += comp[idx].h * comp[idx].v;
    }
    if (ns > 1 && blocks > 10) return kJpegCorrupt;  // B.2.3
    scan_ncomp = ns;
    ss = p[1 + 2 * ns];
    se = p[2 + 2 * ns];
    ah = p[3 + 2 * ns] >> 4;
    al = p[3 + 2 * ns] & 15;
    if (progressive) {
      if (ss > se || se > 63 || ah > 13 || al > 13) return kJpegCorrupt;
      if (ss == 0 && se != 0) return kJpegCorrupt;
      if (ss > 0 && ns != 1) return kJpegCorrupt;
    } else {
      ss = 0;
      se = 63;
      ah = al = 0;
    }
    for (int i = 0; i < ns; ++i) {
      Component& c = comp[scan_comp[i]];
      const bool needs_dc = !progressive || (ss == 0 && ah == 0);
      const bool needs_ac = !progressive || ss > 0;
      // Streams that omit their tables (as motion JPEG does) get the typical ones of K.3.
      if (needs_dc && !dc_tables[c.td].defined) {
        const jpeg::HuffmanSpec& s = c.td == 0 ? jpeg::kDcLuminance : jpeg::kDcChrominance;
        jpeg::BuildDecodeTable(s.counts, s.values, s.value_count, &dc_tables[c.td]);
      }
      if (needs_ac && !ac_tables[c.ta].defined) {
        const jpeg::HuffmanSpec& s = c.ta == 0 ? jpeg::kAcLuminance : jpeg::kAcChrominance;
        jpeg::BuildDecodeTable(s.counts, s.values, s.value_count, &ac_tables[c.ta]);
      }
      c.dc_pred = 0;
    }
    eobrun = 0;
    restarts_left = restart_interval;
    next_restart = 0;
    br = BitReader{};
    return kJpegOk;
  }

  // Reads marker segments until a scan starts (*scan = true) or EOI.
  int32_t ReadMarkers(bool* scan) {
    *scan = false;
    for (;;) {
      uint8_t m = 0;
      int32_t rc = NextMarker(&m);
      if (rc != kJpegOk) return rc;
      if (m == kEoi) {
        ended = true;
        return kJpegOk;
      }
      if ((m >= kRst0 && m <= kRst0 + 7) || m == kTem) continue;
      if (m == kSoi) return kJpegCorrupt;
      const bool known = m == kSof0 || m == kSof1 || m == kSof2 || m == kDht || m == kDqt || m == kDri || m == kDnl ||
                         m == kSos || (m >= kApp0 && m <= kApp0 + 15) || m == kCom;
      if (!known) return kJpegBadState;  // other SOFn, DAC, JPG, JPGn, reserved codes
      size_t n = 0;
      if (m >= kApp0 && m <= kApp0 + 15) {
        if (!in.Ensure(2)) return kJpegCorrupt;
        const size_t len = static_cast<size_t>(in.pos[0] << 8 | in.pos[1]);
        if (len < 2) return kJpegCorrupt;
        in.pos += 2;
        if (!in.Skip(len - 2)) return kJpegCorrupt;
        continue;
      }
      if (m == kCom) {
        if (!in.Ensure(2)) return kJpegCorrupt;
        const size_t len = static_cast<size_t>(in.pos[0] << 8 | in.pos[1]);
        if (len < 2) return kJpegCorrupt;
        in.pos += 2;
        if (!in.Skip(len - 2)) return kJpegCorrupt;
        continue;
      }
      rc = SegmentPayload(&n);
      if (rc != kJpegOk) return rc;
      const uint8_t* p = in.pos;
      switch (m) {
        case kDqt:
          rc = ReadDqt(p, n);
          break;
        case kDht:
          rc = ReadDht(p, n);
          break;
        case kDri:
          if (n != 2) return kJpegCorrupt;
          restart_interval = p[0] << 8 | p[1];
          break;
        case kDnl:
          if (n != 2) return kJpegCorrupt;
          if (have_frame && height == 0) height = p[0] << 8 | p[1];
          break;
        case kSos:
          rc = ReadSos(p, n);
          if (rc == kJpegOk) *scan = true;
          break;
        default:
          rc = ReadSof(m, p, n);
          break;
      }
      in.pos += n;
      if (rc != kJpegOk || *scan) return rc;
    }
  }

  // A frame of height 0 takes its height from the DNL segment after the first scan
  // (B.2.5): look ahead through the entropy data, then come back.
  int32_t FindDnlHeight() {
    if (!seekable) return kJpegBadState;
    const int64_t back = in.Tell();
    int32_t rc = kJpegCorrupt;
    for (;;) {
      if (!in.Ensure(2)) break;
      if (in.pos[0] != 0xFF || in.pos[1] == 0x00 || in.pos[1] == 0xFF ||
          (in.pos[1] >= kRst0 && in.pos[1] <= kRst0 + 7)) {
        ++in.pos;
        continue;
      }
      if (in.pos[1] == kDnl && in.Ensure(6)) {
        const int len = in.pos[2] << 8 | in.pos[3];
        height = in.pos[4] << 8 | in.pos[5];
        if (len == 4 && height > 0) rc = kJpegOk;
      }
      break;
    }
    if (!in.Seek(back)) return kJpegCorrupt;
    return rc;
  }

  void ComputeGeometry() {
    hmax = vmax = 1;
    for (int i = 0; i < ncomp; ++i) {
      hmax = std::max(hmax, comp[i].h);
      vmax = std::max(vmax, comp[i].v);
    }
    mcus_x = (width + 8 * hmax - 1) / (8 * hmax);
    mcus_y = (height + 8 * vmax - 1) / (8 * vmax);
    for (int i = 0; i < ncomp; ++i) {
      Component& c = comp[i];
      c.width = (width * c.h + hmax - 1) / hmax;
      c.height = (height * c.v + vmax - 1) / vmax;
      c.blocks_w = (c.width + 7) / 8;
      c.blocks_h = (c.height + 7) / 8;
      c.padded_bw = mcus_x * c.h;
      c.padded_bh = mcus_y * c.v;
    }
  }

  void ComputeOutputSize() {
    out_w = std::max(1, width >> scale_shift);
    out_h = std::max(1, height >> scale_shift);
    for (int i = 0; i < ncomp; ++i) {
      Component& c = comp[i];
      c.out_w = (out_w * c.h + hmax - 1) / hmax;
      c.out_h = (out_h * c.v + vmax - 1) / vmax;
    }
  }

  int SamplingCode() const {
    if (ncomp == 1) return kJpegSamplingGrey;
    if (ncomp != 3) return kJpegSamplingOther;
    const Component& y = comp[0];
    const Component& u = comp[1];
    const Component& v = comp[2];
    if (u.h != v.h || u.v != v.v || y.h != hmax || y.v != vmax || y.h % u.h != 0 || y.v % u.v != 0)
      return kJpegSamplingOther;
    const int fx = y.h / u.h, fy = y.v / u.v;
    if (fx == 2 && fy == 2) return kJpegSampling420;
    if (fx == 2 && fy == 1) return kJpegSampling422;
    if (fx == 1 && fy == 2) return kJpegSampling440;
    if (fx == 1 && fy == 1) return kJpegSampling444;
    return kJpegSamplingOther;
  }

  void FreeRowBuffers() {
    for (int i = 0; i < kMaxComponents; ++i) {
      mem.Free(comp[i].rows);
      comp[i].rows = nullptr;
    }
    rows_shift = -1;
  }

  int32_t AllocateRowBuffers() {
    if (rows_shift == scale_shift) return kJpegOk;
    FreeRowBuffers();
    const int bs = 8 >> scale_shift;
    for (int i = 0; i < ncomp; ++i) {
      Component& c = comp[i];
      c.rows_stride = c.padded_bw * bs;
      c.rows_count = c.v * bs;
      c.rows = mem.Array<uint8_t>(static_cast<size_t>(c.rows_stride) * c.rows_count);
      if (!c.rows) return kJpegOutOfMemory;
    }
    rows_shift = scale_shift;
    return kJpegOk;
  }

  int32_t AllocateCoefficients() {
    for (int i = 0; i < ncomp; ++i) {
      Component& c = comp[i];
      if (c.coefs) continue;
      const size_t blocks = static_cast<size_t>(c.padded_bw) * static_cast<size_t>(c.padded_bh);
      c.coefs = mem.Array<int16_t>(blocks * 64);
      if (!c.coefs) return kJpegOutOfMemory;
      std::memset(c.coefs, 0, blocks * 64 * sizeof(int16_t));
    }
    return kJpegOk;
  }

  void ResetOutput() {
    next_row = 0;
    mcu_row_ready = -1;
    for (int i = 0; i < ncomp; ++i) comp[i].next_row = 0;
  }

  int32_t Open() {
    if (!in.Ensure(2) || in.pos[0] != 0xFF || in.pos[1] != kSoi) return kJpegCorrupt;
    in.pos += 2;
    bool scan = false;
    int32_t rc = ReadMarkers(&scan);
    if (rc != kJpegOk) return rc;
    if (!scan) return kJpegCorrupt;  // EOI before any scan
    if (height == 0) {
      rc = FindDnlHeight();
      if (rc != kJpegOk) return rc;
    }
    for (int i = 0; i < ncomp; ++i)
      if (!quant_defined[comp[i].tq]) return kJpegCorrupt;
    ComputeGeometry();
    ComputeOutputSize();
    scan_data_offset = in.Tell();
    buffered = progressive || scan_ncomp != ncomp;
    return kJpegOk;
  }

  int32_t Rewind() {
    if (progressive) return kJpegBadState;
    if (!buffered) {
      if (!seekable || !in.Seek(scan_data_offset)) return kJpegBadState;
      br = BitReader{};
      for (int i = 0; i < ncomp; ++i) comp[i].dc_pred = 0;
      eobrun = 0;
      restarts_left = restart_interval;
      next_restart = 0;
      mcu_row_decoded = -1;
      corrupt = false;
    }
    ResetOutput();
    return kJpegOk;
  }

  int32_t DecodeRows(uint8_t* const planes[3], const int32_t strides[3], int32_t* rows) {
    if (ncomp != 1 && ncomp != 3) return kJpegBadState;
    const int planes_needed = ncomp == 1 ? 1 : 3;
    for (int i = 0; i < planes_needed; ++i)
      if (!planes[i] || strides[i] < comp[i].out_w) return kJpegInvalidArgument;
    int32_t rc = AllocateRowBuffers();
    if (rc != kJpegOk) return rc;
    if (buffered && !coefs_ready) {
      // The whole-image coefficients are only allocated once rows are asked for, so that
      // reading the headers of a large progressive file stays cheap.
      rc = AllocateCoefficients();
      if (rc == kJpegOk) rc = DecodeAllScans();
      if (rc != kJpegOk) return rc;
    }
    const int n = std::min(*rows, out_h - next_row);
    const int r1 = next_row + n;
    int end[kMaxComponents];
    uint8_t* dst[kMaxComponents];
    for (int i = 0; i < planes_needed; ++i) {
      Component& c = comp[i];
      end[i] = std::min(c.out_h, static_cast<int>((static_cast<int64_t>(r1) * c.v + vmax - 1) / vmax));
      dst[i] = planes[i];
    }
    for (;;) {
      bool pending = false;
      for (int i = 0; i < planes_needed; ++i) {
        Component& c = comp[i];
        while (c.next_row < end[i] && c.next_row / c.rows_count == mcu_row_ready) {
          std::memcpy(dst[i], c.rows + static_cast<size_t>(c.next_row % c.rows_count) * c.rows_stride,
                      static_cast<size_t>(c.out_w));
          dst[i] += strides[i];
          ++c.next_row;
        }
        pending |= c.next_row < end[i];
      }
      if (!pending || mcu_row_ready + 1 >= mcus_y) break;
      ProduceMcuRow(mcu_row_ready + 1);
    }
    next_row = r1;
    *rows = n;
    return corrupt ? kJpegCorrupt : kJpegOk;
  }
};

int32_t JpegDecoderCreate(JpegDecoder** out, const JpegDecoderStream& stream) {
  if (!out) return kJpegInvalidArgument;
  *out = nullptr;
  if (!stream.file || !stream.alloc || !stream.release) return kJpegInvalidArgument;
  const jpeg::Memory mem{stream.alloc, stream.release};
  JpegDecoder* dec = mem.New<JpegDecoder>();
  if (!dec) return kJpegOutOfMemory;
  dec->mem = mem;
  dec->in.file = stream.file;
  dec->in.buf = mem.Array<uint8_t>(kInputBufferSize);
  if (!dec->in.buf) {
    JpegDecoderDestroy(dec);
    return kJpegOutOfMemory;
  }
  dec->in.pos = dec->in.end = dec->in.buf;
  const off_t start = ftello(stream.file);
  dec->seekable = start >= 0 && fseeko(stream.file, start, SEEK_SET) == 0;
  dec->in.buf_offset = start >= 0 ? static_cast<int64_t>(start) : 0;
  const int32_t rc = dec->Open();
  if (rc != kJpegOk) {
    JpegDecoderDestroy(dec);
    return rc;
  }
  *out = dec;
  return kJpegOk;
}

int32_t JpegDecoderGet(JpegDecoder* dec, uint32_t id, void* value, size_t size) {
  if (!dec || !value) return kJpegInvalidArgument;
  int32_t v[2] = {0, 0};
  size_t want = 4;
  switch (id) {
    case kJpegDecImageSize:
      v[0] = dec->width, v[1] = dec->height, want = 8;
      break;
    case kJpegDecScale:
      v[0] = 1 << dec->scale_shift;
      break;
    case kJpegDecComponents:
      v[0] = dec->ncomp;
      break;
    case kJpegDecOutputSize:
      v[0] = dec->out_w, v[1] = dec->out_h, want = 8;
      break;
    case kJpegDecMcuSize:
      v[0] = 8 * dec->hmax, v[1] = 8 * dec->vmax, want = 8;
      break;
    case kJpegDecSampling:
      v[0] = dec->SamplingCode();
      break;
    case kJpegDecSubsampling: {
      if (size != 8) return kJpegInvalidArgument;
      if (dec->ncomp < 2) return kJpegNotPresent;
      const Component& c = dec->comp[1];
      if (dec->hmax % c.h != 0 || dec->vmax % c.v != 0) return kJpegNotPresent;  // not a whole ratio
      v[0] = dec->hmax / c.h, v[1] = dec->vmax / c.v, want = 8;
      break;
    }
    case kJpegDecProcess:
      v[0] = dec->progressive ? 1 : 0;
      break;
    default:
      return kJpegInvalidArgument;
  }
  if (size != want) return kJpegInvalidArgument;
  std::memcpy(value, v, want);
  return kJpegOk;
}

int32_t JpegDecoderSet(JpegDecoder* dec, uint32_t id, const void* value, size_t size) {
  if (!dec) return kJpegInvalidArgument;
  if (id == kJpegDecRewind) return dec->Rewind();
  if (!value || size != 4) return kJpegInvalidArgument;
  int32_t v = 0;
  std::memcpy(&v, value, 4);
  switch (id) {
    case kJpegDecScale: {
      const int shift = v == 1 ? 0 : v == 2 ? 1 : v == 4 ? 2 : v == 8 ? 3 : -1;
      if (shift < 0) return kJpegInvalidArgument;
      if (dec->next_row != 0) return kJpegBadState;  // not in the middle of the picture
      dec->scale_shift = shift;
      dec->ComputeOutputSize();
      dec->mcu_row_ready = -1;
      return kJpegOk;
    }
    case kJpegDecIndexBudget:
      return v >= 0 ? kJpegOk : kJpegInvalidArgument;
    default:
      return kJpegInvalidArgument;
  }
}

int32_t JpegDecoderDecodeRows(JpegDecoder* dec, uint8_t* const planes[3], const int32_t strides[3], void*,
                              int32_t* rows) {
  if (!dec || !planes || !strides || !rows || *rows < 0) return kJpegInvalidArgument;
  return dec->DecodeRows(planes, strides, rows);
}

int32_t JpegDecoderDestroy(JpegDecoder* dec) {
  if (!dec) return kJpegInvalidArgument;
  const jpeg::Memory mem = dec->mem;
  dec->FreeRowBuffers();
  for (int i = 0; i < kMaxComponents; ++i) mem.Free(dec->comp[i].coefs);
  mem.Free(dec->in.buf);
  mem.Delete(dec);
  return kJpegOk;
}

}  // namespace spherolux
