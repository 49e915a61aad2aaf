// Our own blocks under HEADER_RESERVED: their bytes, how lists are cut over
// blocks, and which blocks a receiver skips.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/extension.h"
#include "protocol/messages.h"

namespace {
using Bytes = std::vector<uint8_t>;

Bytes Content(const CPacket& p) { return Bytes(p.data, p.data + p.length); }

bool Open(const Bytes& b, ExtensionBlock& out) { return OpenExtension(b.data(), static_cast<uint16_t>(b.size()), out); }

Bytes WithShort(Bytes b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
  return b;
}
}  // namespace

TEST(Extension, PeopleBytesAndALongListOverSeveralBlocks) {
  const std::vector<CPacket> one = BuildPeople({{"Al", 0x01020304, PERSON_HOST | PERSON_ASKED}});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(Content(one[0]), (Bytes{0x02, 0x00, 'J',  'X', 0x19, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x01,
                                    0x00, 0x03, 0x00, 'A', 'l',  0x00, 0x04, 0x03, 0x02, 0x01, 0x03, 0x00}));

  // 63 people with 31-byte names take three blocks, read back whole.
  std::vector<Person> people;
  for (uint16_t i = 0; i < 63; ++i)
    people.push_back({std::string(30, 'a') + std::to_string(i % 10), 1700000000u + i, 0});
  const std::vector<CPacket> blocks = BuildPeople(people);
  ASSERT_EQ(blocks.size(), 3u);
  size_t read = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    ExtensionBlock opened;
    PeopleBlock block;
    ASSERT_TRUE(Open(Content(blocks[i]), opened) && opened.kind == EXT_PEOPLE && ReadPeople(opened.fields, block));
    EXPECT_EQ(block.flags, (i == 0 ? PEOPLE_FIRST : 0) | (i == 2 ? PEOPLE_LAST : 0));
    for (const Person& p : block.people) EXPECT_EQ(p.since, people[read++].since);
  }
  EXPECT_EQ(read, people.size());
}

TEST(Extension, APicturesSmallViewInPartsReadBackWholeAndNothingLarger) {
  std::string picture(PICTURE_LARGEST, '\0');
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>(i * 7);
  const std::vector<CPacket> blocks = BuildPicture(std::string(32, 'a'), picture);
  ASSERT_EQ(blocks.size(), PICTURE_MOST_PARTS);
  std::string read;
  for (size_t i = 0; i < blocks.size(); ++i) {
    ExtensionBlock opened;
    PicturePart part;
    ASSERT_TRUE(Open(Content(blocks[i]), opened) && opened.kind == EXT_PICTURE && ReadPicturePart(opened.fields, part));
    EXPECT_EQ(part.part, i);
    EXPECT_EQ(part.parts, PICTURE_MOST_PARTS);
    read += part.bytes;
  }
  EXPECT_EQ(read, picture);
  EXPECT_TRUE(BuildPicture("id", picture + "x").empty());
  EXPECT_TRUE(BuildPicture("id", "").empty());
  // A part past the count, or a count no picture needs, is not read.
  for (const auto& [part, parts] : {std::pair<uint16_t, uint16_t>{2, 2}, {0, PICTURE_MOST_PARTS + 1}}) {
    Bytes b = Content(BuildPicture("id", "xy")[0]);
    b = WithShort(WithShort(b, 15, part), 17, parts);
    ExtensionBlock opened;
    PicturePart read;
    ASSERT_TRUE(Open(b, opened));
    EXPECT_FALSE(ReadPicturePart(opened.fields, read)) << part << " of " << parts;
  }
}

TEST(Extension, EarlierLinesUpToTheCapacityAndBlocksThatAreSkipped) {
  ChatLine said;
  said.SetName("Bob");
  said.SetPolice("Arial");
  said.SetText(std::string(EARLIER_LINE_CAPACITY - 29, 't'));
  CPacket says, earlier;
  ASSERT_TRUE(BuildSays(said, says));
  const uint16_t lineBytes = static_cast<uint16_t>(says.length - 4);
  ASSERT_EQ(lineBytes, EARLIER_LINE_CAPACITY);
  EXPECT_FALSE(BuildEarlier(1, 0, says.data + 4, lineBytes + 1, earlier));
  ASSERT_TRUE(BuildEarlier(0xFEDCBA98, 7, says.data + 4, lineBytes, earlier));
  EXPECT_EQ(earlier.length, PACKET_CAPACITY);
  const Bytes whole = Content(earlier);
  ExtensionBlock opened;
  EarlierLine line;
  ASSERT_TRUE(Open(whole, opened) && ReadEarlier(opened.fields, line));
  EXPECT_EQ(line.at, 0xFEDCBA98u);
  EXPECT_EQ(line.left, 7);
  EXPECT_STREQ(line.line.Text.get(), said.Text.get());
  // Cut anywhere, a block is not opened, or its fields do not read.
  for (size_t n = 0; n < whole.size(); ++n) {
    const Bytes cut(whole.begin(), whole.begin() + n);
    EXPECT_FALSE(Open(n >= 6 ? WithShort(cut, 4, static_cast<uint16_t>(n)) : cut, opened) &&
                 ReadEarlier(opened.fields, line))
        << n;
  }

  // A later version, another tag or a length beyond the bytes: skipped whole.
  // A kind nobody knows opens, for its receiver to ignore; fields appended
  // behind the known ones are left unread.
  CPacket hello;
  std::string password;
  uint16_t understands = 0;
  ASSERT_TRUE(BuildHello(UNDERSTANDS_PEOPLE, "s3cret \xC3\xA9", hello));
  ASSERT_TRUE(Open(Content(hello), opened) && ReadHello(opened.fields, understands, password));
  EXPECT_EQ(password, "s3cret \xC3\xA9");
  // A pass without a password: the empty password is written before it.
  std::string pass;
  ASSERT_TRUE(BuildHello(UNDERSTANDS_PASS, "", hello, "C0FFEE"));
  ASSERT_TRUE(Open(Content(hello), opened) && ReadHello(opened.fields, understands, password, &pass));
  EXPECT_EQ(password + "|" + pass, "|C0FFEE");
  ASSERT_TRUE(BuildPass("C0FFEE", hello) && Open(Content(hello), opened) && opened.kind == EXT_PASS);
  EXPECT_TRUE(ReadPass(opened.fields, pass) && pass == "C0FFEE");
  uint32_t seconds = 1;
  ASSERT_TRUE(BuildRefused(REFUSED_TOO_MANY_TRIES, hello, 600));
  EXPECT_EQ(hello.length, EXTENSION_HEADER_SIZE + 2) << "the time goes with a removal alone";
  ASSERT_TRUE(Open(Content(hello), opened) && opened.kind == EXT_REFUSED &&
              ReadRefused(opened.fields, understands, seconds));
  EXPECT_EQ(understands, REFUSED_TOO_MANY_TRIES);
  EXPECT_EQ(seconds, 0u);
  ASSERT_TRUE(BuildRefused(REFUSED_REMOVED, hello, KEPT_OUT_UNTIL_STOP));
  ASSERT_TRUE(Open(Content(hello), opened) && ReadRefused(opened.fields, understands, seconds));
  EXPECT_EQ(seconds, KEPT_OUT_UNTIL_STOP);
  ASSERT_TRUE(BuildHello(UNDERSTANDS_EARLIER, "", hello));
  const Bytes base = Content(hello);
  EXPECT_FALSE(Open(WithShort(base, 6, EXTENSION_VERSION + 1), opened));
  EXPECT_FALSE(Open(WithShort(base, 2, 0x4A58), opened));
  EXPECT_FALSE(Open(WithShort(base, 4, static_cast<uint16_t>(base.size() + 1)), opened));
  ASSERT_TRUE(Open(WithShort(base, 8, 99), opened));
  EXPECT_EQ(opened.kind, 99);
  Bytes grown = base;
  grown.insert(grown.end(), {0x05, 0x00});
  ASSERT_TRUE(Open(WithShort(grown, 4, static_cast<uint16_t>(grown.size())), opened) &&
              ReadHello(opened.fields, understands, password));
  EXPECT_EQ(understands, UNDERSTANDS_EARLIER);
  EXPECT_EQ(password, "") << "a password field that does not read is no password";
}
