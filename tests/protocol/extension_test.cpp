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

void SetShort(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
}  // namespace

TEST(Extension, PeopleBytesAndALongListOverSeveralBlocks) {
  const std::vector<CPacket> one = BuildPeople({{"Al", 0x01020304, PERSON_HOST | PERSON_ASKED}});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(Content(one[0]), (Bytes{0x02, 0x00, 'J',  'X', 0x19, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x01,
                                    0x00, 0x03, 0x00, 'A', 'l',  0x00, 0x04, 0x03, 0x02, 0x01, 0x03, 0x00}));

  // 63 people with 31-byte names take three blocks.
  std::vector<Person> people;
  for (uint16_t i = 0; i < 63; ++i) {
    std::string name(31, static_cast<char>('a' + i % 26));
    name[0] = static_cast<char>('A' + i / 26);
    people.push_back({name, 1700000000u + i, static_cast<uint16_t>(i % 4)});
  }
  const std::vector<CPacket> blocks = BuildPeople(people);
  ASSERT_EQ(blocks.size(), 3u);
  std::vector<Person> read;
  for (size_t i = 0; i < blocks.size(); ++i) {
    SCOPED_TRACE(i);
    ExtensionBlock opened;
    PeopleBlock block;
    ASSERT_TRUE(Open(Content(blocks[i]), opened));
    EXPECT_EQ(opened.kind, EXT_PEOPLE);
    ASSERT_TRUE(ReadPeople(opened.fields, block));
    EXPECT_EQ(block.flags, (i == 0 ? PEOPLE_FIRST : 0) | (i == 2 ? PEOPLE_LAST : 0));
    read.insert(read.end(), block.people.begin(), block.people.end());
  }
  ASSERT_EQ(read.size(), people.size());
  for (size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].name, people[i].name);
    EXPECT_EQ(read[i].since, people[i].since);
    EXPECT_EQ(read[i].flags, people[i].flags);
  }
  // A name no block could hold is left out; an empty list is still one whole list.
  EXPECT_EQ(BuildPeople({{std::string(1010, 'x'), 0, 0}}).size(), 1u);
  ExtensionBlock opened;
  PeopleBlock empty;
  ASSERT_TRUE(Open(Content(BuildPeople({})[0]), opened) && ReadPeople(opened.fields, empty));
  EXPECT_EQ(empty.flags, PEOPLE_FIRST | PEOPLE_LAST);
  EXPECT_TRUE(empty.people.empty());
}

TEST(Extension, EarlierLinesUpToTheCapacityAndBlocksThatAreSkipped) {
  ChatLine said;
  said.SetName("Bob");
  said.SetPolice("Arial");
  said.SetText(std::string(EARLIER_LINE_CAPACITY - 29, 't'));
  said.Style() = {.Italic = 1, .Blue = 200};
  CPacket says, earlier;
  ASSERT_TRUE(BuildSays(said, says));
  const uint16_t lineBytes = static_cast<uint16_t>(says.length - 4);
  ASSERT_EQ(lineBytes, EARLIER_LINE_CAPACITY);
  ASSERT_TRUE(BuildEarlier(0xFEDCBA98, 7, says.data + 4, lineBytes, earlier));
  EXPECT_EQ(earlier.length, PACKET_CAPACITY);
  EXPECT_FALSE(BuildEarlier(1, 0, says.data + 4, lineBytes + 1, earlier));
  ASSERT_TRUE(BuildEarlier(0xFEDCBA98, 7, says.data + 4, lineBytes, earlier));

  const Bytes whole = Content(earlier);
  ExtensionBlock opened;
  EarlierLine line;
  ASSERT_TRUE(Open(whole, opened));
  EXPECT_EQ(opened.kind, EXT_EARLIER);
  ASSERT_TRUE(ReadEarlier(opened.fields, line));
  EXPECT_EQ(line.at, 0xFEDCBA98u);
  EXPECT_EQ(line.left, 7);
  EXPECT_STREQ(line.line.Text.get(), said.Text.get());
  EXPECT_EQ(line.line.Style(), said.Style());

  // Cut anywhere, a block is not opened, or its fields do not read.
  for (size_t n = 0; n < whole.size(); ++n) {
    Bytes cut(whole.begin(), whole.begin() + n);
    if (n >= 6) SetShort(cut, 4, static_cast<uint16_t>(n));
    ExtensionBlock o;
    EarlierLine l;
    EXPECT_FALSE(Open(cut, o) && ReadEarlier(o.fields, l)) << n;
  }

  // A later version, another tag or a length beyond the bytes: skipped whole.
  // A kind nobody knows opens, for its receiver to ignore; fields appended
  // behind the known ones are left unread.
  CPacket hello;
  ASSERT_TRUE(BuildHello(UNDERSTANDS_EARLIER, hello));
  const Bytes base = Content(hello);
  Bytes later = base, tag = base, longer = base, unknown = base, grown = base;
  SetShort(later, 6, EXTENSION_VERSION + 1);
  SetShort(tag, 2, 0x4A58);
  SetShort(longer, 4, static_cast<uint16_t>(base.size() + 1));
  SetShort(unknown, 8, 99);
  grown.insert(grown.end(), {0x05, 0x00});
  SetShort(grown, 4, static_cast<uint16_t>(grown.size()));
  for (const Bytes* skipped : {&later, &tag, &longer}) EXPECT_FALSE(Open(*skipped, opened));
  ASSERT_TRUE(Open(unknown, opened));
  EXPECT_EQ(opened.kind, 99);
  uint16_t understands = 0;
  ASSERT_TRUE(Open(grown, opened) && ReadHello(opened.fields, understands));
  EXPECT_EQ(understands, UNDERSTANDS_EARLIER);
}
