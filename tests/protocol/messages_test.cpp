#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/messages.h"
#include "protocol/nickname.h"

namespace {
using Bytes = std::vector<uint8_t>;

Bytes Content(const CPacket& p) { return Bytes(p.data, p.data + p.length); }

CDecodePacket DecoderOf(const CPacket& p) {
  CDecodePacket d;
  EXPECT_TRUE(d.Initialize(p));
  return d;
}

uint16_t Short(CDecodePacket& d) {
  uint16_t v = 0xFFFF;
  EXPECT_TRUE(d.GetShortValue(v));
  return v;
}

// Read as the wire carries it: the declared bytes, NUL included.
std::string Counted(const char* text) { return std::string(text, std::char_traits<char>::length(text) + 1); }

// The declared bytes a reader kept.
std::string Declared(const EventString& s, uint16_t n) { return std::string(s.get(), n); }

ChatLine BobSaysHi() {
  ChatLine line;
  line.SetName("Bob");
  line.SetPolice("Arial");
  line.SetText("hi");
  line.Style() = {.Bold = 1, .Red = 255};
  return line;
}

const Bytes kBobSaysHi = {0x01, 0x00, 0x01, 0x00, 0x04, 0x00, 0x42, 0x6F, 0x62, 0x00, 0x06, 0x00,
                          0x41, 0x72, 0x69, 0x61, 0x6C, 0x00, 0x03, 0x00, 0x68, 0x69, 0x00, 0x01,
                          0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00};
}  // namespace

TEST(WorkedExamples, ClientWelcome) {
  CPacket p;
  ASSERT_TRUE(BuildClientWelcome("Bob", 4, p));
  EXPECT_EQ(Content(p), (Bytes{0x03, 0x00, 0x04, 0x00, 0x42, 0x6F, 0x62, 0x00}));
  CDecodePacket d = DecoderOf(p);
  std::string name;
  EXPECT_EQ(Short(d), HEADER_WELCOME);
  ASSERT_TRUE(ReadCountedString(d, name));
  EXPECT_EQ(name, Counted("Bob"));
}

TEST(WorkedExamples, ArrivalNoticeAndDepartures) {
  struct Case {
    bool built;
    CPacket packet;
    uint16_t header, chatHeader;
    const char* name;
    Bytes wire;
  };
  CPacket arrival, departure, shutdown;
  const Case cases[] = {
      {BuildArrivalNotice("Bob", arrival),
       arrival,
       HEADER_WELCOME,
       CHAT_JOINED,
       "Bob",
       {0x03, 0x00, 0x03, 0x00, 0x04, 0x00, 0x42, 0x6F, 0x62, 0x00}},
      {BuildDisconnected("Bob", departure),
       departure,
       HEADER_CHAT,
       CHAT_DISCONNECTED,
       "Bob",
       {0x01, 0x00, 0x04, 0x00, 0x04, 0x00, 0x42, 0x6F, 0x62, 0x00}},
      {BuildDisconnected(SERVER_SHUTDOWN_NAME, shutdown),
       shutdown,
       HEADER_CHAT,
       CHAT_DISCONNECTED,
       "!!! SERVER !!!",
       {0x01, 0x00, 0x04, 0x00, 0x0F, 0x00, 0x21, 0x21, 0x21, 0x20, 0x53,
        0x45, 0x52, 0x56, 0x45, 0x52, 0x20, 0x21, 0x21, 0x21, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.built);
    EXPECT_EQ(Content(c.packet), c.wire);
    CDecodePacket d = DecoderOf(c.packet);
    std::string name;
    EXPECT_EQ(Short(d), c.header);
    EXPECT_EQ(Short(d), c.chatHeader);
    ASSERT_TRUE(ReadCountedString(d, name));
    EXPECT_EQ(name, Counted(c.name));
  }
}

TEST(WorkedExamples, BobSaysHiInBoldRedArial) {
  CPacket p;
  ASSERT_TRUE(BuildSays(BobSaysHi(), p));
  EXPECT_EQ(Content(p), kBobSaysHi);
  CDecodePacket d = DecoderOf(p);
  EXPECT_EQ(Short(d), HEADER_CHAT);
  EXPECT_EQ(Short(d), CHAT_SAYS);
  ChatLine f;
  ASSERT_TRUE(ReadChatLine(d, f));
  EXPECT_EQ(Declared(f.Name, f.NameLength), Counted("Bob"));
  EXPECT_EQ(Declared(f.Police, f.PoliceLength), Counted("Arial"));
  EXPECT_EQ(Declared(f.Text, f.TextLength), Counted("hi"));
  EXPECT_EQ((std::vector<uint16_t>{f.Bold, f.Italic, f.Underline, f.Red, f.Green, f.Blue}),
            (std::vector<uint16_t>{1, 0, 0, 255, 0, 0}));
}

// The same chat line behind the other chat headers; a private line names its addressee first.
TEST(Messages, PrivateAndUnrelayedCarryTheSameChatLine) {
  const Bytes line(kBobSaysHi.begin() + 4, kBobSaysHi.end());
  CPacket priv, unrelayed;
  ASSERT_TRUE(BuildPrivate("Al", BobSaysHi(), priv));
  ASSERT_TRUE(BuildUnrelayed(BobSaysHi(), unrelayed));
  Bytes expected = {0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 'A', 'l', 0x00};
  expected.insert(expected.end(), line.begin(), line.end());
  EXPECT_EQ(Content(priv), expected);
  expected = {0x01, 0x00, 0x05, 0x00};
  expected.insert(expected.end(), line.begin(), line.end());
  EXPECT_EQ(Content(unrelayed), expected);
}

// Header, chat header, three counts and six values take 22 bytes: 1002 bytes of strings fill 1024.
TEST(Messages, ChatLineFitsExactlyAtCapacityAndNotOneByteMore) {
  const std::string police(299, 'p'), text(698, 't');
  ChatLine line = BobSaysHi();
  line.SetPolice(police);
  line.SetText(text);
  line.TextLength = 698;  // 4 + 300 + 698 = 1002
  CPacket p;
  ASSERT_TRUE(BuildSays(line, p));
  EXPECT_EQ(p.length, PACKET_CAPACITY);
  CDecodePacket d = DecoderOf(p);
  ChatLine f;
  Short(d);
  Short(d);
  ASSERT_TRUE(ReadChatLine(d, f));
  EXPECT_EQ(Declared(f.Text, f.TextLength), text);
  EXPECT_EQ(f.Red, 255);

  line.TextLength = 699;
  EXPECT_FALSE(BuildSays(line, p));
  EXPECT_LE(p.length, PACKET_CAPACITY);
}

TEST(Messages, BuildersRefuseWhatCannotFitOrIsMissing) {
  const std::string huge(PACKET_CAPACITY, 'n');
  ChatLine noName = BobSaysHi();
  noName.Name.Reset();
  CPacket p;
  EXPECT_FALSE(BuildArrivalNotice(huge.c_str(), p));
  EXPECT_FALSE(BuildDisconnected(huge.c_str(), p));
  EXPECT_FALSE(BuildPrivate(huge.c_str(), BobSaysHi(), p));
  EXPECT_FALSE(BuildClientWelcome(huge.c_str(), PACKET_CAPACITY - 3, p));
  EXPECT_TRUE(BuildClientWelcome(huge.c_str(), PACKET_CAPACITY - 4, p));
  EXPECT_FALSE(BuildClientWelcome("Bob", 0, p));
  EXPECT_FALSE(BuildSays(noName, p));
  EXPECT_FALSE(BuildArrivalNotice(nullptr, p));
  EXPECT_FALSE(BuildDisconnected(nullptr, p));
  EXPECT_FALSE(BuildPrivate(nullptr, BobSaysHi(), p));
}

// The server queues what follows the transport header and puts the header back to relay it.
TEST(Messages, RelayGivesBackTheOriginalMessage) {
  Bytes original = kBobSaysHi;
  original.insert(original.end(), {0xAA, 0xBB});  // trailing bytes travel along unchanged
  CPacket payload, relayed;
  ASSERT_TRUE(payload.SetData(&original[2], static_cast<uint16_t>(original.size() - 2)));
  ASSERT_TRUE(BuildRelay(payload, relayed));
  EXPECT_EQ(Content(relayed), original);

  const Bytes full(PACKET_CAPACITY - 1, 0x33);
  ASSERT_TRUE(payload.SetData(full.data(), PACKET_CAPACITY - 2));
  EXPECT_TRUE(BuildRelay(payload, relayed));
  ASSERT_TRUE(payload.SetData(full.data(), PACKET_CAPACITY - 1));
  EXPECT_FALSE(BuildRelay(payload, relayed));
}

// Cut anywhere, even by its last byte, a chat line or a counted string cannot
// be read: a handler tests the outcome once.
TEST(Messages, TruncatedChatLineFailsToRead) {
  for (size_t cut = 4; cut < kBobSaysHi.size(); ++cut) {
    CPacket p;
    ASSERT_TRUE(p.SetData(kBobSaysHi.data(), static_cast<uint16_t>(cut)));
    CDecodePacket d = DecoderOf(p);
    Short(d);
    Short(d);
    ChatLine f;
    f.SetName("untouched");
    EXPECT_FALSE(ReadChatLine(d, f)) << "cut at " << cut;
    EXPECT_STREQ(f.Name.get(), "untouched");
  }
  CPacket departure;
  ASSERT_TRUE(BuildDisconnected("Bob", departure));
  for (uint16_t cut = 6; cut < departure.length; ++cut) {
    CPacket p;
    ASSERT_TRUE(p.SetData(departure.data, cut));
    CDecodePacket d = DecoderOf(p);
    Short(d);
    Short(d);
    std::string name = "untouched";
    EXPECT_FALSE(ReadCountedString(d, name)) << "cut at " << cut;
    EXPECT_EQ(name, "untouched");
  }
}

TEST(Nicknames, NoNameBreaksOrFakesALine) {
  for (const char* good :
       {"bob", "Ana Maria", "", "caf\xC3\xA9", "\xE9t\xE9", "\xF0\x9F\x98\x80", "!!! SERVER", "cut\xE2\x80"}) {
    EXPECT_TRUE(IsAcceptableNickname(good)) << good;
  }
  for (const char* bad :
       {"carol says :\r\nok", "tab\there", "del\x7F", " bob", "bob ", "!!! server !!!", "bob\xE2\x80\x8B",
        "\xE2\x80\x8E"
        "bob",
        "evil\xE2\x80\xAE",
        "\xEF\xBB\xBF"
        "bob",
        "soft\xC2\xADhyphen", "tag\xF3\xA0\x80\x81", "stray\x80\xE2\x80\x8B"}) {
    EXPECT_FALSE(IsAcceptableNickname(bad)) << bad;
  }
  // As this side states one: 31 bytes at most, never half a character, the
  // same name in any letter case.
  EXPECT_EQ(Nickname(std::string(30, 'x') + "\xC3\xA9").str(), std::string(30, 'x'));
  EXPECT_EQ(Nickname(std::string(40, 'x')).str(), std::string(31, 'x'));
  EXPECT_TRUE(Nickname("Bob").Is("bOB"));
  EXPECT_FALSE(Nickname("Bob").Is(nullptr));
}
