// The generator is the oracle of the calibration tests, so it is checked here against
// independent references: RFC 4648 vectors, OpenSSL's own decoder and decryption, and
// ffmpeg/djpeg decoding the edited files exactly like the originals.
#include "camgen/camgen.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "testsupport/testsupport.h"

namespace spherolux::camgen {
namespace {

uint32_t BE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
uint32_t LE32(const uint8_t* p) { return uint32_t(p[0]) | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

std::string Capture(const std::string& cmd) { return testsupport::Shell(cmd); }

// Ciphertext of a stored block through OpenSSL's base64 decoder, then AES-128-ECB
// decryption without padding removal.
Bytes DecryptStoredBlock(const Bytes& block, size_t* cipher_size) {
  std::string text(block.begin() + 20, block.end());
  Bytes raw(text.size());
  int n = EVP_DecodeBlock(raw.data(), reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
  EXPECT_GE(n, 0);
  size_t pads = 0;
  for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) ++pads;
  raw.resize(size_t(n) - pads);
  *cipher_size = raw.size();
  if (raw.size() % 16) return {};
  const unsigned char key[] = "7777777733333333";
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes plain(raw.size() + 16);
  int a = 0, b = 0;
  EVP_DecryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key, nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_DecryptUpdate(ctx, plain.data(), &a, raw.data(), int(raw.size()));
  EVP_DecryptFinal_ex(ctx, plain.data() + a, &b);
  EVP_CIPHER_CTX_free(ctx);
  plain.resize(size_t(a + b));
  return plain;
}

TEST(Camgen, Base64MatchesRfc4648Vectors) {
  auto enc = [](const char* s) { return Base64Encode(Bytes(s, s + std::strlen(s))); };
  EXPECT_EQ(enc(""), "");
  EXPECT_EQ(enc("f"), "Zg==");
  EXPECT_EQ(enc("fo"), "Zm8=");
  EXPECT_EQ(enc("foo"), "Zm9v");
  EXPECT_EQ(enc("foob"), "Zm9vYg==");
  EXPECT_EQ(enc("fooba"), "Zm9vYmE=");
  EXPECT_EQ(enc("foobar"), "Zm9vYmFy");
}

TEST(Camgen, BlockDecryptsToHeaderAndRecords) {
  auto records = DualLensRecords(ExampleDualPara(), 2, 1656);
  Bytes block = MakeBlock(records);
  ASSERT_GT(block.size(), 20u);
  EXPECT_EQ(std::string(block.begin(), block.begin() + 16), "ARVELOINSTRUMENT");
  size_t cipher_size = 0;
  Bytes plain = DecryptStoredBlock(block, &cipher_size);
  ASSERT_EQ(cipher_size % 16, 0u);
  ASSERT_FALSE(plain.empty());
  uint8_t pad = plain.back();
  ASSERT_GE(pad, 1);
  ASSERT_LE(pad, 16);
  for (size_t i = 0; i < pad; ++i) EXPECT_EQ(plain[plain.size() - 1 - i], pad);
  plain.resize(plain.size() - pad);
  // Plaintext after the sync word: declared length (sync word included), record count,
  // reserved word, then records 3, 5 and 7.
  EXPECT_EQ(LE32(&plain[0]), plain.size() + 16);
  EXPECT_EQ(LE32(&plain[4]), 3u);
  size_t off = 12;
  EXPECT_EQ(plain[off], 3);
  EXPECT_EQ(plain[off + 2], 36);
  off += 4 + 36;
  EXPECT_EQ(plain[off], 5);
  EXPECT_EQ(plain[off + 2], 4);
  EXPECT_EQ(LE32(&plain[off + 4]), 2u);
  off += 8;
  EXPECT_EQ(plain[off], 7);
  EXPECT_EQ(plain[off + 2] | plain[off + 3] << 8, 1656);
  EXPECT_EQ(off + 4 + 1656, plain.size());
  EXPECT_EQ(LE32(&plain[off + 4 + 16]), 2201u);  // lModel
}

TEST(Camgen, BlockFaultsShowInTheCiphertext) {
  auto records = SingleLensRecords(ExampleSinglePara());
  size_t cipher_size = 0;
  Bytes plain = DecryptStoredBlock(MakeBlock(records, {.padding = 17}), &cipher_size);
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(plain.back(), 17);
  DecryptStoredBlock(MakeBlock(records, {.drop_cipher_bytes = 5}), &cipher_size);
  EXPECT_NE(cipher_size % 16, 0u);
  Bytes big = MakePlainBlock(records, {.declared_length_delta = 9});
  EXPECT_EQ(LE32(&big[16]), big.size() + 9);
}

TEST(Camgen, JpegWithBlockDecodesLikeTheOriginal) {
  Bytes jpeg = MakeJpeg(96, 48);
  ASSERT_FALSE(jpeg.empty());
  const testsupport::TempDir scratch("camgen");
  const std::string& dir = scratch.path();
  ASSERT_TRUE(WriteFileBytes(dir + "/a.jpg", jpeg));
  Bytes block = MakeBlock(DualLensRecords(ExampleDualPara()));
  for (auto place : {JpegPlacement::kAfterSoi, JpegPlacement::kAfterJfif}) {
    Bytes with = EmbedInJpeg(jpeg, block, place);
    ASSERT_FALSE(with.empty());
    size_t app1 = place == JpegPlacement::kAfterSoi ? 2 : 4 + (with[4] << 8 | with[5]);
    EXPECT_EQ(with[app1], 0xFF);
    EXPECT_EQ(with[app1 + 1], 0xE1);
    EXPECT_EQ(std::string(with.begin() + app1 + 4, with.begin() + app1 + 8), "Exif");
    ASSERT_TRUE(WriteFileBytes(dir + "/b.jpg", with));
    EXPECT_EQ(Capture("djpeg -ppm '" + dir + "/a.jpg' | md5sum"), Capture("djpeg -ppm '" + dir + "/b.jpg' | md5sum"));
  }
}

// Top-level box types in order.
std::vector<std::string> TopLevel(const Bytes& mp4) {
  std::vector<std::string> types;
  size_t pos = 0;
  while (pos + 8 <= mp4.size()) {
    uint64_t size = BE32(&mp4[pos]);
    if (size == 1) size = uint64_t(BE32(&mp4[pos + 8])) << 32 | BE32(&mp4[pos + 12]);
    types.emplace_back(mp4.begin() + pos + 4, mp4.begin() + pos + 8);
    if (size < 8) break;
    pos += size;
  }
  return types;
}

TEST(Camgen, Mp4EditsKeepTheMediaPlayable) {
  const testsupport::TempDir scratch("camgen");
  const std::string& dir = scratch.path();
  std::string base = dir + "/base.mp4";
  ASSERT_TRUE(MakeMp4Clip(base, 128, 64, 1.0, true));
  // H.265 as cameras record it: in 'hvc1' sample entries.
  const std::string hevc = dir + "/hevc.mp4";
  ASSERT_TRUE(MakeMp4Clip(hevc, 128, 64, 1.0, false, true));
  EXPECT_EQ(Capture("ffprobe -v error -show_entries stream=codec_name,codec_tag_string -of csv=p=0 '" + hevc + "'"),
            "hevc,hvc1\n");
  std::string reference = Capture("ffmpeg -nostdin -loglevel error -i '" + base + "' -f md5 -");
  ASSERT_FALSE(reference.empty());
  Bytes mp4 = ReadFileBytes(base);
  Bytes block = MakeBlock(DualLensRecords(ExampleDualPara()));

  struct Case {
    const char* name;
    Bytes file;
  };
  std::vector<Case> cases = {
      {"moov", EmbedInMp4(mp4, block, Mp4Placement::kMoovUdta)},
      {"trak", EmbedInMp4(mp4, block, Mp4Placement::kTrakUdta)},
      {"top", EmbedInMp4(mp4, block, Mp4Placement::kTopLevelUdta)},
      {"udat", EmbedInMp4(mp4, block, Mp4Placement::kTopLevelUdat)},
      {"large", UseLargeMdat(EmbedInMp4(mp4, block, Mp4Placement::kMoovUdta))},
      {"front", MoveMoovToFront(EmbedInMp4(mp4, block, Mp4Placement::kTrakUdta))},
      {"spherical", AddSphericalV1Box(mp4, SphericalV1Xml())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.file.empty());
    std::string path = dir + "/" + c.name + ".mp4";
    ASSERT_TRUE(WriteFileBytes(path, c.file));
    EXPECT_EQ(Capture("ffmpeg -nostdin -loglevel error -i '" + path + "' -f md5 -"), reference);
    std::string text(c.file.begin(), c.file.end());
    if (std::string(c.name) != "spherical") {
      EXPECT_NE(text.find("ARVELOINSTRUMENT"), std::string::npos);
    }
  }
  // The block is the only udta a reader meets: the muxer's own moov/udta was merged into
  // (moov) or freed (other places).
  auto count = [](const Bytes& b, const std::string& what) {
    std::string s(b.begin(), b.end());
    size_t n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(cases[0].file, "udta"), 1u);
  EXPECT_EQ(count(cases[1].file, "udta"), 1u);
  EXPECT_EQ(count(cases[2].file, "udta"), 1u);
  EXPECT_EQ(count(cases[3].file, "udta"), 0u);
  EXPECT_EQ(TopLevel(cases[3].file).back(), "udat");
  EXPECT_EQ(TopLevel(cases[2].file).back(), "udta");
  auto front = TopLevel(cases[5].file);
  EXPECT_LT(std::find(front.begin(), front.end(), "moov"), std::find(front.begin(), front.end(), "mdat"));
  // The 64-bit mdat header has the size field 1.
  const Bytes& large = cases[4].file;
  size_t pos = 0;
  while (pos + 8 <= large.size() && std::string(large.begin() + pos + 4, large.begin() + pos + 8) != "mdat") {
    pos += BE32(&large[pos]);
  }
  ASSERT_LT(pos + 8, large.size());
  EXPECT_EQ(BE32(&large[pos]), 1u);
  std::string sph(cases[6].file.begin(), cases[6].file.end());
  EXPECT_NE(sph.find("<GSpherical:Spherical>true</GSpherical:Spherical>"), std::string::npos);
}

TEST(Camgen, BadBaseFilesGiveEmptyResults) {
  Bytes junk = {1, 2, 3};
  EXPECT_TRUE(EmbedInJpeg(junk, {1}).empty());
  EXPECT_TRUE(EmbedInMp4(junk, {1}).empty());
  // A box claiming more than the file holds.
  Bytes lying = Concat({Box("ftyp", {'i', 's', 'o', 'm'}), Bytes{0, 0, 0x10, 0, 'm', 'o', 'o', 'v'}});
  EXPECT_TRUE(EmbedInMp4(lying, {1}).empty());
}

}  // namespace
}  // namespace spherolux::camgen
