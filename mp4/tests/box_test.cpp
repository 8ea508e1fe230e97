#include "mp4/box.h"

#include <gtest/gtest.h>

#include <string>

#include "base/bytes.h"

namespace spherolux::mp4 {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Raw(const char type[5], const Bytes& body) {
  Bytes out(8);
  StoreBE32(out.data(), static_cast<uint32_t>(8 + body.size()));
  std::copy(type, type + 4, out.begin() + 4);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Serialize(const std::vector<Box>& boxes) {
  Bytes out;
  for (const auto& b : boxes) EXPECT_TRUE(SerializeBox(b, &out));
  return out;
}

TEST(BoxTree, RoundTripKeepsUnknownBoxesAndRawUdta) {
  // moov { mvhd, xyz1 (unknown), udta (raw camera bytes that are no boxes), trak { tkhd } },
  // then a uuid box and an unknown top-level box.
  Bytes raw_udta = {'A', 'R', 'V', 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  Bytes uuid_body(16, 0xab);
  uuid_body.push_back('x');
  Bytes file = Cat({Raw("ftyp", {'i', 's', 'o', 'm', 0, 0, 2, 0}),
                    Raw("moov", Cat({Raw("mvhd", Bytes(100, 1)), Raw("xyz1", {9, 9, 9}), Raw("udta", raw_udta),
                                     Raw("trak", Raw("tkhd", Bytes(84, 2)))})),
                    Raw("uuid", uuid_body), Raw("zzzz", {})});
  std::vector<Box> boxes;
  ASSERT_EQ(ParseBoxes(file, &boxes), ParseStatus::kOk);
  ASSERT_EQ(boxes.size(), 4u);
  const Box& moov = boxes[1];
  ASSERT_TRUE(moov.container);
  ASSERT_EQ(moov.children.size(), 4u);
  EXPECT_EQ(moov.children[1].type, TypeCode("xyz1"));
  EXPECT_FALSE(moov.children[2].container);  // raw udta kept as one body
  EXPECT_EQ(moov.children[2].data, raw_udta);
  ASSERT_NE(moov.Find(TypeCode("trak")), nullptr);
  EXPECT_EQ(moov.Find(TypeCode("trak"))->children.at(0).type, TypeCode("tkhd"));
  EXPECT_EQ(boxes[2].usertype[0], 0xab);
  EXPECT_EQ(boxes[2].data, Bytes{'x'});
  EXPECT_EQ(Serialize(boxes), file);
}

TEST(BoxTree, UdtaOfBoxesAndMetaAreSplit) {
  // QuickTime meta (handler first) and ISO meta (version/flags first) inside udta.
  Bytes qt_meta = Raw("meta", Cat({Raw("hdlr", Bytes(25, 0)), Raw("ilst", {})}));
  Bytes iso_meta = Raw("meta", Cat({Bytes{0, 0, 0, 0}, Raw("hdlr", Bytes(25, 0))}));
  Bytes udta = Raw("udta", Cat({qt_meta, iso_meta}));
  std::vector<Box> boxes;
  ASSERT_EQ(ParseBoxes(udta, &boxes), ParseStatus::kOk);
  ASSERT_TRUE(boxes[0].container);
  ASSERT_EQ(boxes[0].children.size(), 2u);
  EXPECT_TRUE(boxes[0].children[0].prefix.empty());
  EXPECT_EQ(boxes[0].children[0].children.size(), 2u);
  EXPECT_EQ(boxes[0].children[1].prefix.size(), 4u);
  EXPECT_EQ(boxes[0].children[1].children.size(), 1u);
  EXPECT_EQ(Serialize(boxes), udta);
}

TEST(BoxTree, SampleEntryWithTrailingBytesRoundTrips) {
  // stsd { avc1 { 78 bytes of fields, avcC, 4 zero bytes some writers append } }
  Bytes avc1 = Raw("avc1", Cat({Bytes(78, 3), Raw("avcC", {1, 2, 3}), Bytes(4, 0)}));
  Bytes stsd = Raw("stsd", Cat({Bytes{0, 0, 0, 0, 0, 0, 0, 1}, avc1}));
  std::vector<Box> boxes;
  ParseBoxes(stsd, &boxes);
  ASSERT_EQ(boxes.size(), 1u);
  const Box& entry = boxes[0].children.at(0);
  EXPECT_TRUE(entry.container);
  EXPECT_EQ(entry.prefix.size(), 78u);
  ASSERT_EQ(entry.children.size(), 1u);
  EXPECT_EQ(entry.children[0].type, TypeCode("avcC"));
  EXPECT_EQ(entry.trailing, Bytes(4, 0));
  EXPECT_EQ(Serialize(boxes), stsd);
}

TEST(BoxTree, WideSizesAreReadAndKept) {
  // A box with a 64-bit size field (size = 1, then largesize) of 16 + 3 bytes.
  Bytes b = {0, 0, 0, 1, 'f', 'r', 'e', 'e', 0, 0, 0, 0, 0, 0, 0, 19, 7, 8, 9};
  std::vector<Box> boxes;
  ASSERT_EQ(ParseBoxes(b, &boxes), ParseStatus::kOk);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].wide_size);
  EXPECT_EQ(boxes[0].data, (Bytes{7, 8, 9}));
  EXPECT_EQ(boxes[0].Size(), 19u);
  EXPECT_EQ(Serialize(boxes), b);
}

TEST(BoxTree, DamagedSizesAreBoundedByTheParent) {
  // The child claims 1000 bytes inside a parent of 8 + 12: it is clamped to 12.
  Bytes child = {0, 0, 0x03, 0xe8, 'a', 'b', 'c', 'd', 1, 2, 3, 4};
  Bytes moov = Raw("moov", child);
  std::vector<Box> boxes;
  EXPECT_EQ(ParseBoxes(moov, &boxes), ParseStatus::kOk);
  ASSERT_EQ(boxes.at(0).children.size(), 1u);
  EXPECT_EQ(boxes[0].children[0].data, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(boxes[0].Size(), moov.size());
  // Written back, the child's size says what it holds.
  Bytes out = Serialize(boxes);
  EXPECT_EQ(LoadBE32(out.data() + 8), 12u);

  // A size of 0 means "to the end of the parent".
  Bytes zero = Raw("trak", {0, 0, 0, 0, 'x', 'x', 'x', 'x', 5, 6});
  boxes.clear();
  EXPECT_EQ(ParseBoxes(zero, &boxes), ParseStatus::kOk);
  EXPECT_EQ(boxes.at(0).children.at(0).data, (Bytes{5, 6}));

  // Top level: a size beyond the input is reported and clamped; a header cut short and
  // a size smaller than the header are malformed.
  boxes.clear();
  EXPECT_EQ(ParseBoxes(Bytes{0, 0, 0, 50, 'f', 'r', 'e', 'e', 1}, &boxes), ParseStatus::kTruncated);
  EXPECT_EQ(boxes.at(0).data, Bytes{1});
  boxes.clear();
  EXPECT_EQ(ParseBoxes(Bytes{0, 0, 0, 50, 'f'}, &boxes), ParseStatus::kMalformed);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(ParseBoxes(Bytes{0, 0, 0, 4, 'f', 'r', 'e', 'e'}, &boxes), ParseStatus::kMalformed);
  EXPECT_EQ(ParseBoxes(Bytes{0, 0, 0, 1, 'f', 'r', 'e', 'e', 0, 0, 0, 0, 0, 0, 0, 3}, &boxes), ParseStatus::kMalformed);
}

TEST(BoxTree, GarbageInsideContainerIsKeptAsTrailingBytes) {
  // Three bytes after the last child cannot form a box header.
  Bytes moov = Raw("moov", Cat({Raw("mvhd", {1}), Bytes{7, 7, 7}}));
  std::vector<Box> boxes;
  ParseBoxes(moov, &boxes);
  ASSERT_EQ(boxes.at(0).children.size(), 1u);
  EXPECT_EQ(boxes[0].trailing, (Bytes{7, 7, 7}));
  EXPECT_EQ(Serialize(boxes), moov);
}

TEST(BoxTree, NestingIsCapped) {
  // 40 nested 'trak' boxes: the parser stops splitting at kMaxBoxDepth and keeps the rest
  // as one body, so the bytes survive and the recursion stays bounded.
  Bytes inner = Raw("tkhd", {1, 2, 3});
  for (int i = 0; i < 40; ++i) inner = Raw("trak", inner);
  std::vector<Box> boxes;
  ASSERT_EQ(ParseBoxes(inner, &boxes), ParseStatus::kOk);
  int depth = 0;
  const Box* b = &boxes[0];
  while (b->container && !b->children.empty()) {
    b = &b->children[0];
    ++depth;
  }
  EXPECT_EQ(depth, kMaxBoxDepth);
  EXPECT_FALSE(b->container);
  EXPECT_EQ(Serialize(boxes), inner);
}

TEST(BoxTree, BuiltBoxesSerialise) {
  const uint8_t payload[2] = {0xaa, 0xbb};
  Box full = MakeFullBox(TypeCode("prhd"), 1, 0x000203, payload);
  Box c = MakeContainer(TypeCode("proj"), {full});
  Bytes out;
  ASSERT_TRUE(SerializeBox(c, &out));
  Bytes expected = Raw("proj", Raw("prhd", {1, 0, 2, 3, 0xaa, 0xbb}));
  EXPECT_EQ(out, expected);

  // A body kept in a source file cannot be serialised in memory.
  Box ranged;
  ranged.type = TypeCode("mdat");
  ranged.source_offset = 0;
  ranged.source_size = 10;
  out.clear();
  EXPECT_FALSE(SerializeBox(ranged, &out));
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace spherolux::mp4
