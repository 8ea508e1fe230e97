#include "calib/block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/bytes.h"
#include "block_internal.h"
#include "calib/camera_para.h"
#include "calib/locator.h"
#include "test_files.h"

namespace spherolux {
namespace {

using testing::Bytes;
using testing::Cat;
using testing::Text;

std::string DecodeText(const std::string& text) {
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = calib_internal::Base64TextLength(p, text.size());
  std::string out(n, '\0');
  out.resize(calib_internal::DecodeBase64Prefix(p, n, reinterpret_cast<uint8_t*>(out.data())));
  return out;
}

// RFC 4648, section 10 test vectors; the text ends at the first "=" or other byte outside
// the alphabet, and a lone trailing character yields nothing.
TEST(Base64Stage, DecodesUpToTheFirstByteOutsideTheAlphabet) {
  EXPECT_EQ(DecodeText("Zm9vYmFy"), "foobar");
  EXPECT_EQ(DecodeText("Zm9vYmE="), "fooba");
  EXPECT_EQ(DecodeText("Zm9vYg=="), "foob");
  EXPECT_EQ(DecodeText("Zm9v"), "foo");
  EXPECT_EQ(DecodeText("Zm8="), "fo");
  EXPECT_EQ(DecodeText("Zg=="), "f");
  EXPECT_EQ(DecodeText("Zm9vY"), "foo");
  EXPECT_EQ(DecodeText("Zm9v YmFy"), "foo");
  EXPECT_EQ(DecodeText(std::string("Zm9v\0YmFy", 9)), "foo");
  EXPECT_EQ(DecodeText("+/+/"), "\xfb\xff\xbf");
  EXPECT_EQ(DecodeText("=Zm9v"), "");
}

const Bytes kSync = Text("ARVELOINSTRUMENT");

BlockStatus Decode(const Bytes& block, DecodedBlock* out) {
  return DecodeCalibrationBlock(block.data(), block.size(), out);
}

TEST(BlockDecode, DualLensRecordsComeBackIndexed) {
  const auto para = camgen::ExampleDualPara(2201);
  const Bytes block = camgen::MakeBlock(camgen::DualLensRecords(para, 2, 1652, "unit-guid"));
  DecodedBlock decoded;
  ASSERT_EQ(Decode(block, &decoded), BlockStatus::kOk);
  ASSERT_EQ(decoded.index().size(), 3u);
  EXPECT_EQ(0, std::memcmp(decoded.bytes().data(), kSync.data(), 16));

  auto type = decoded.Find(kRecordCameraType);
  ASSERT_TRUE(type);
  ASSERT_EQ(type->size(), 4u);
  EXPECT_EQ(LoadLEI32(type->data()), 2);
  auto uuid = decoded.Find(kRecordUuid);
  ASSERT_TRUE(uuid);
  EXPECT_EQ(std::string(uuid->begin(), uuid->end()), "unit-guid");
  auto lens = decoded.Find(kRecordLensPara);
  ASSERT_TRUE(lens);
  ASSERT_EQ(lens->size(), 1652u);
  DoubleFisheyeCameraPara got;
  ASSERT_TRUE(DecodeDoubleFisheyeCameraPara(lens->data(), lens->size(), &got));
  EXPECT_EQ(got.lModel, 2201);
  EXPECT_EQ(got.fLensCoef, para.fLensCoef);
  EXPECT_EQ(got.stPoint2.x, para.stPoint2.x);
  EXPECT_EQ(got.lPointNum, para.lPointNum);
  EXPECT_EQ(got.mstPf1[1].mfP2y, para.mstPf1[1].mfP2y);
  EXPECT_FALSE(decoded.Find(99));

  // Plaintext length: 28-byte header, three records with 4-byte headers.
  EXPECT_EQ(decoded.bytes().size(), 28u + (4 + 9) + (4 + 4) + (4 + 1652));
}

TEST(BlockDecode, TextEndsAtPaddingNulOrPayloadEnd) {
  const Bytes block = testing::DualBlock();  // base64 text with "=" padding, if any
  for (const Bytes& tail : {Bytes{}, Bytes{0}, Text("=="), Text(" garbage")}) {
    const Bytes payload = Cat({block, tail});
    DecodedBlock decoded;
    EXPECT_EQ(Decode(payload, &decoded), BlockStatus::kOk);
    EXPECT_TRUE(decoded.Find(kRecordLensPara));
  }
}

TEST(BlockDecode, NoTextAfterTheSyncWord) {
  DecodedBlock decoded;
  // The payload ends within the 20 bytes after the sync word.
  for (size_t size = 16; size <= 21; ++size) {
    Bytes payload = Cat({kSync, Text("1234A")});
    payload.resize(size);
    EXPECT_EQ(Decode(payload, &decoded), BlockStatus::kEmptyText) << size;
  }
  EXPECT_EQ(Decode(Cat({kSync, Text("1234=AAAA")}), &decoded), BlockStatus::kEmptyText);
  EXPECT_TRUE(decoded.index().empty());
}

TEST(BlockDecode, DecryptionFailures) {
  struct Case {
    const char* what;
    camgen::BlockFaults faults;
  } cases[] = {
      {"pad byte 0", {.padding = 0}},
      {"pad byte 17", {.padding = 17}},
      {"ciphertext one byte short", {.drop_cipher_bytes = 1}},
      {"ciphertext 15 bytes short", {.drop_cipher_bytes = 15}},
  };
  for (const Case& c : cases) {
    DecodedBlock decoded;
    EXPECT_EQ(Decode(testing::DualBlock(2, 1652, c.faults), &decoded), BlockStatus::kDecryptFailed) << c.what;
    EXPECT_TRUE(decoded.index().empty()) << c.what;
  }
  // A pad byte inside 1..16 whose run of equal bytes is broken: the natural pad of this
  // block is 16 - (12 + 8 + 9) % 16 = 3 bytes of 3; forcing the last to 2 leaves 3, 2.
  const Bytes small = camgen::MakeBlock({camgen::CameraTypeRecord(2), {9, Bytes(5, 1)}}, {.padding = 2});
  DecodedBlock decoded;
  EXPECT_EQ(Decode(small, &decoded), BlockStatus::kDecryptFailed);
  // The same block with a correct pad of 3 decodes.
  EXPECT_EQ(Decode(camgen::MakeBlock({camgen::CameraTypeRecord(2), {9, Bytes(5, 1)}}), &decoded), BlockStatus::kOk);
  EXPECT_EQ(decoded.bytes().size(), 16u + 12 + 8 + 9);
}

TEST(BlockDecode, DeclaredLengthTooLargeLeavesTheIndexEmpty) {
  DecodedBlock decoded;
  ASSERT_EQ(Decode(testing::DualBlock(2, 1652, {.declared_length_delta = 1}), &decoded), BlockStatus::kOk);
  EXPECT_TRUE(decoded.index().empty());
  EXPECT_FALSE(decoded.Find(kRecordCameraType));
  // Shorter than the block is accepted.
  ASSERT_EQ(Decode(testing::DualBlock(2, 1652, {.declared_length_delta = -100}), &decoded), BlockStatus::kOk);
  EXPECT_EQ(decoded.index().size(), 3u);
}

TEST(BlockDecode, IndexHoldsAtMost32Records) {
  std::vector<camgen::Record> records;
  for (uint16_t i = 0; i < 40; ++i) records.push_back({uint16_t(100 + i), Bytes(2, uint8_t(i))});
  DecodedBlock decoded;
  ASSERT_EQ(Decode(camgen::MakeBlock(records), &decoded), BlockStatus::kOk);
  ASSERT_EQ(decoded.index().size(), 32u);
  EXPECT_TRUE(decoded.Find(131));
  EXPECT_FALSE(decoded.Find(132));
  EXPECT_EQ((*decoded.Find(131))[0], 31);

  // A record count above the records present indexes what is there.
  ASSERT_EQ(Decode(testing::DualBlock(2, 1652, {.record_count_delta = 20}), &decoded), BlockStatus::kOk);
  EXPECT_EQ(decoded.index().size(), 3u);
  // A lower count stops early.
  ASSERT_EQ(Decode(testing::DualBlock(2, 1652, {.record_count_delta = -2}), &decoded), BlockStatus::kOk);
  EXPECT_EQ(decoded.index().size(), 1u);
}

TEST(BlockDecode, FirstRecordOfATypeWins) {
  DecodedBlock decoded;
  const Bytes block = camgen::MakeBlock({camgen::CameraTypeRecord(1000), camgen::CameraTypeRecord(2)});
  ASSERT_EQ(Decode(block, &decoded), BlockStatus::kOk);
  EXPECT_EQ(LoadLEI32(decoded.Find(kRecordCameraType)->data()), 1000);
}

// Plaintext block: header, then the given raw record bytes.
Bytes Plain(uint32_t count, const Bytes& records, int declared_delta = 0) {
  Bytes b = Cat({kSync, Bytes(12), records});
  StoreLE32(&b[16], uint32_t(int(b.size()) + declared_delta));
  StoreLE32(&b[20], count);
  return b;
}

TEST(RecordIndex, RecordsRunningPastTheEndAreNotIndexed) {
  std::vector<DecodedBlock::Entry> index;
  // A 4-byte record, then one that claims 10 bytes with only 3 left.
  calib_internal::IndexRecords(Plain(2, {5, 0, 4, 0, 1, 0, 0, 0, 7, 0, 10, 0, 1, 2, 3}), &index);
  ASSERT_EQ(index.size(), 1u);
  EXPECT_EQ(index[0].type, 5);
  EXPECT_EQ(index[0].length, 4);
  EXPECT_EQ(index[0].offset, 32u);

  // A record header cut by the end, and a zero-length record at the very end.
  calib_internal::IndexRecords(Plain(3, {5, 0, 0, 0, 7, 0}), &index);
  ASSERT_EQ(index.size(), 1u);
  EXPECT_EQ(index[0].length, 0);

  // Shorter than the header: nothing.
  calib_internal::IndexRecords(Bytes(27, 0), &index);
  EXPECT_TRUE(index.empty());
  calib_internal::IndexRecords(Plain(1, {5, 0, 0, 0}, 1), &index);
  EXPECT_TRUE(index.empty());
}

}  // namespace
}  // namespace spherolux
