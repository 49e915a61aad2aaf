#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/test_support.h"
#include "protocol/decodepacket.h"
#include "protocol/encodepacket.h"
#include "protocol/packet.h"

namespace {
using Bytes = std::vector<uint8_t>;

Bytes Content(const CEncodePacket& e) { return Bytes(e.data, e.data + e.length); }
Bytes Content(const CPacket& p) { return Bytes(p.data, p.data + p.length); }

CPacket PacketOf(const Bytes& bytes) {
  CPacket p;
  EXPECT_TRUE(p.SetData(bytes.data(), static_cast<uint16_t>(bytes.size())));
  return p;
}

// An encoder holding `n` bytes of a recognisable pattern.
void FillTo(CEncodePacket& e, size_t n) {
  e.Reset();
  for (size_t i = 0; i < n; ++i) ASSERT_TRUE(e.AddValue(static_cast<int32_t>(i * 7), 1));
}
}  // namespace

TEST(Encoder, AppendsLittleEndianFieldsWithoutPadding) {
  CEncodePacket e;
  EXPECT_TRUE(e.AddValue(1, 2));
  EXPECT_TRUE(e.AddValue(0x1AB, 1));  // only the low-order byte
  EXPECT_TRUE(e.AddValue(0x01020304, 4));
  EXPECT_TRUE(e.AddString("abc", 0));  // measured: letters and NUL
  EXPECT_TRUE(e.AddString("xyz", 2));
  EXPECT_EQ(Content(e), (Bytes{0x01, 0x00, 0xAB, 0x04, 0x03, 0x02, 0x01, 'a', 'b', 'c', 0, 'x', 'y'}));

  CEncodePacket p;
  ASSERT_TRUE(p.SetBuffer("\x02\x00\x41", 3));
  EXPECT_TRUE(p.PrependValue(1, 2));
  EXPECT_EQ(Content(p), (Bytes{0x01, 0x00, 0x02, 0x00, 0x41}));
}

class EncoderCapacity : public testing::TestWithParam<uint16_t> {};

// Every way of growing the content: reaching 1024 exactly works, one byte more is refused untouched.
TEST_P(EncoderCapacity, ExactlyFullSucceedsOneMoreIsRefusedUnchanged) {
  const uint16_t width = GetParam();
  CEncodePacket e;
  FillTo(e, PACKET_CAPACITY - width);
  EXPECT_TRUE(e.AddValue(-1, width));
  EXPECT_EQ(e.length, PACKET_CAPACITY);

  FillTo(e, PACKET_CAPACITY - width);
  EXPECT_TRUE(e.PrependValue(-1, width));
  EXPECT_EQ(e.length, PACKET_CAPACITY);
  EXPECT_EQ(e.data[PACKET_CAPACITY - 1], static_cast<uint8_t>((PACKET_CAPACITY - width - 1) * 7));

  const std::string text(width - 1, 'q');  // measured string: width bytes with its NUL
  FillTo(e, PACKET_CAPACITY - width);
  EXPECT_TRUE(e.AddString(text.c_str(), 0));
  EXPECT_EQ(e.length, PACKET_CAPACITY);

  FillTo(e, PACKET_CAPACITY - width + 1);
  const Bytes before = Content(e);
  EXPECT_FALSE(e.AddValue(-1, width));
  EXPECT_FALSE(e.PrependValue(-1, width));
  EXPECT_FALSE(e.AddString(text.c_str(), 0));
  EXPECT_FALSE(e.AddString(text.c_str(), width));
  EXPECT_EQ(Content(e), before);
}

INSTANTIATE_TEST_SUITE_P(Widths, EncoderCapacity, testing::Values(1, 2, 4));

TEST(Encoder, SetBufferAndSetDataRefuseMoreThanCapacity) {
  const Bytes big(PACKET_CAPACITY + 1, 0x5A);
  const std::string fits(PACKET_CAPACITY - 1, 'x'), tooLong(PACKET_CAPACITY, 'y');
  CEncodePacket e;
  EXPECT_TRUE(e.SetBuffer(big.data(), PACKET_CAPACITY));
  EXPECT_EQ(e.length, PACKET_CAPACITY);
  ASSERT_TRUE(e.SetBuffer("ab", 2));
  EXPECT_FALSE(e.SetBuffer(big.data(), PACKET_CAPACITY + 1));
  EXPECT_EQ(Content(e), (Bytes{'a', 'b'}));

  CPacket p;
  EXPECT_TRUE(p.SetData(big.data(), PACKET_CAPACITY));
  EXPECT_EQ(p.length, PACKET_CAPACITY);
  ASSERT_TRUE(p.SetData("ab", 2));
  EXPECT_FALSE(p.SetData(big.data(), PACKET_CAPACITY + 1));
  EXPECT_FALSE(p.SetData(tooLong.c_str(), 0));  // measured: 1024 letters and a NUL
  EXPECT_EQ(Content(p), (Bytes{'a', 'b'}));
  ASSERT_TRUE(p.SetData("abc", 0));
  EXPECT_EQ(Content(p), (Bytes{'a', 'b', 'c', 0}));
  EXPECT_TRUE(p.SetData(fits.c_str(), 0));
  EXPECT_EQ(p.length, PACKET_CAPACITY);
}

TEST(Packet, CopyAndAssignmentCarryLengthAndBytes) {
  const CPacket original = PacketOf({1, 2, 3});
  CPacket copy(original);
  EXPECT_EQ(Content(copy), (Bytes{1, 2, 3}));
  CPacket assigned = PacketOf({9, 9, 9, 9, 9});
  assigned = original;
  EXPECT_EQ(Content(assigned), (Bytes{1, 2, 3}));
  copy.data[0] = 7;  // copies are independent
  EXPECT_EQ(original.data[0], 1);
}

TEST(Decoder, ReadsBackWhatTheEncoderWrote) {
  CEncodePacket e;
  ASSERT_TRUE(e.AddValue(0xBEEF, 2) && e.AddValue(0x7F, 1) && e.AddValue(-2, 4) && e.AddString("hey", 0));
  CPacket p;
  e.GetPacket(p);
  CDecodePacket d;
  ASSERT_TRUE(d.Initialize(p));
  uint16_t s = 0;
  uint8_t c = 0;
  uint32_t l = 0;
  char text[4] = {};
  EXPECT_TRUE(d.GetShortValue(s) && d.GetCharValue(c) && d.GetLongValue(l) && d.GetString(text, 4));
  EXPECT_EQ(std::make_tuple(s, c, l, std::string(text)), std::make_tuple(0xBEEF, 0x7F, 0xFFFFFFFEu, "hey"));
  EXPECT_FALSE(d.GetCharValue(c));
}

// A read that begins inside the data is completed from the array; after it every read fails.
TEST(Decoder, ReadRunningPastTheEndIsCompletedThenEveryReadFails) {
  CDecodePacket d;
  ASSERT_TRUE(d.Initialize(PacketOf({0x41, 0x42, 0x43})));
  uint16_t s = 0;
  ASSERT_TRUE(d.GetShortValue(s));
  EXPECT_TRUE(d.GetShortValue(s));
  EXPECT_EQ(s, 0x0043);
  EXPECT_EQ(d.cursor, 4);

  uint8_t c = 0;
  uint32_t l = 0;
  char buf[1];
  EXPECT_FALSE(d.GetCharValue(c));
  EXPECT_FALSE(d.GetShortValue(s));
  EXPECT_FALSE(d.GetLongValue(l));
  EXPECT_FALSE(d.GetString(buf, 0));
  EXPECT_FALSE(d.GetString(buf, 1));
  EXPECT_EQ(d.cursor, 4);

  // A shorter packet leaves the rest of the array as it was; the completion comes from there.
  ASSERT_TRUE(d.Initialize(PacketOf({0x09})));
  EXPECT_TRUE(d.GetShortValue(s));
  EXPECT_EQ(s, 0x4209);
}

TEST(Decoder, ReadPastTheArrayIsRefusedWithoutMovingTheCursor) {
  Bytes full(PACKET_CAPACITY, 0x11);
  CDecodePacket d;
  ASSERT_TRUE(d.Initialize(PacketOf(full)));
  std::vector<char> buf(70000, 'u');
  uint32_t l = 0;
  uint16_t s = 0;
  EXPECT_FALSE(d.GetString(buf.data(), 65535));
  ASSERT_TRUE(d.GetString(buf.data(), PACKET_CAPACITY - 2));
  EXPECT_FALSE(d.GetString(buf.data(), 3));
  EXPECT_FALSE(d.GetLongValue(l));
  EXPECT_EQ(d.cursor, PACKET_CAPACITY - 2);
  EXPECT_EQ(buf[PACKET_CAPACITY - 2], 'u');
  EXPECT_TRUE(d.GetShortValue(s));
  EXPECT_EQ(d.cursor, PACKET_CAPACITY);
}

TEST(Decoder, GetStringWithNullBufferOrZeroCount) {
  CDecodePacket d;
  ASSERT_TRUE(d.Initialize(PacketOf({'a', 'b'})));
  DiagCapture diag;
  char buf[2] = {'u', 'u'};
  EXPECT_FALSE(d.GetString(nullptr, 1));
  EXPECT_TRUE(d.GetString(buf, 0));
  EXPECT_EQ(d.cursor, 0);
  EXPECT_EQ(buf[0], 'u');
  EXPECT_EQ(diag.Text(), "");
}

TEST(Decoder, ReadsBeforeInitializeFailWithTheirOwnLine) {
  CDecodePacket d;
  DiagCapture diag;
  EXPECT_FALSE(d.Initialize(CPacket()));
  uint8_t c = 0;
  uint16_t s = 0;
  uint32_t l = 0;
  char buf[1];
  EXPECT_FALSE(d.GetCharValue(c));
  EXPECT_FALSE(d.GetShortValue(s));
  EXPECT_FALSE(d.GetLongValue(l));
  EXPECT_FALSE(d.GetString(buf, 1));
  EXPECT_FALSE(d.GetString(nullptr, 1));
  EXPECT_EQ(diag.Text(),
            "CDecodePacket::GetCharValue() - DecodePacket non initialized\n"
            "CDecodePacket::GetShortValue() - DecodePacket non initialized\n"
            "CDecodePacket::GetLongValue() - DecodePacket non initialized\n"
            "CDecodePacket::GetString() - DecodePacket non initialized\n"
            "CDecodePacket::GetString() - DecodePacket non initialized\n");
}
