// The packet codec and the message-extent function on arbitrary bytes.
// Besides memory safety, it checks that the framing and the readers agree:
// what the readers accept of a message the extent function calls complete is
// exactly that message, and the builders only make messages the framing cuts
// back whole.
#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "protocol/decodepacket.h"
#include "protocol/extension.h"
#include "protocol/extent.h"
#include "protocol/messages.h"

namespace fuzz {
namespace {

// Reads the message's fields in layout order; true when every read succeeded.
bool ReadLayout(CDecodePacket& d, bool toServer) {
  uint16_t header = 0;
  if (!d.GetShortValue(header)) return false;
  std::string text;
  if (header == HEADER_WELCOME && toServer) return ReadCountedString(d, text);
  uint16_t chatHeader = 0;
  if (!d.GetShortValue(chatHeader)) return false;
  ChatLine line;
  switch (chatHeader) {
    case CHAT_SAYS:
    case CHAT_UNRELAYED: return ReadChatLine(d, line);
    case CHAT_PRIVATE: return ReadCountedString(d, text) && ReadChatLine(d, line);
    case CHAT_JOINED:
    case CHAT_DISCONNECTED: return ReadCountedString(d, text);
    default: return false;
  }
}

void CheckExtent(const uint8_t* data, size_t size, bool toServer) {
  const MessageExtent extent = FirstMessageExtent(data, size, toServer);
  if (extent.kind != ExtentKind::Complete) return;
  const size_t length = extent.length;
  FUZZ_CHECK(length >= 2 && length <= size && length <= PACKET_CAPACITY);
  // A message that arrives in pieces waits for its last byte.
  FUZZ_CHECK(FirstMessageExtent(data, length - 1, toServer).kind == ExtentKind::Incomplete);
  const MessageExtent alone = FirstMessageExtent(data, length, toServer);
  FUZZ_CHECK(alone.kind == ExtentKind::Complete && alone.length == length);

  CPacket packet;
  FUZZ_CHECK(packet.SetData(data, static_cast<uint16_t>(length)));
  CDecodePacket decoder;
  FUZZ_CHECK(decoder.Initialize(packet));
  // A reader may still refuse it (an empty last string cannot be read), but
  // what it accepts is exactly the message: no byte of the next one.
  if (ReadLayout(decoder, toServer)) FUZZ_CHECK(decoder.cursor == length);
}

// Whatever block a reader is given (a receiver also hands on blocks no layout
// fits), what it accepts lies within the block: a message it took for whole
// would otherwise be relayed shorter than its layout.
void CheckReadersStayInside(const uint8_t* data, size_t size, bool toServer) {
  CPacket packet;
  // (A count of 0 would ask SetData to measure a terminated string.)
  if (size == 0 || !packet.SetData(data, static_cast<uint16_t>(std::min<size_t>(size, PACKET_CAPACITY)))) return;
  CDecodePacket decoder;
  if (decoder.Initialize(packet) && ReadLayout(decoder, toServer)) FUZZ_CHECK(decoder.cursor <= decoder.length);
}

// Our own blocks: whatever a reader accepts of a PEOPLE block, built again,
// reads back the same people.
void CheckExtension(const uint8_t* data, size_t size) {
  ExtensionBlock block;
  if (!OpenExtension(data, static_cast<uint16_t>(std::min<size_t>(size, PACKET_CAPACITY)), block)) return;
  uint16_t understands = 0;
  EarlierLine earlier;
  PeopleBlock people;
  std::string password;
  if (block.kind == EXT_HELLO) ReadHello(block.fields, understands, password);
  if (block.kind == EXT_REFUSED) {
    uint32_t seconds = 0;
    ReadRefused(block.fields, understands, seconds);
  }
  if (block.kind == EXT_EARLIER) ReadEarlier(block.fields, earlier);
  if (block.kind != EXT_PEOPLE || !ReadPeople(block.fields, people)) return;
  std::vector<Person> again;
  for (const CPacket& built : BuildPeople(people.people)) {
    ExtensionBlock b;
    PeopleBlock part;
    FUZZ_CHECK(OpenExtension(built.data, built.length, b) && ReadPeople(b.fields, part));
    FUZZ_CHECK(FirstMessageExtent(built.data, built.length, false).length == built.length);
    again.insert(again.end(), part.people.begin(), part.people.end());
  }
  FUZZ_CHECK(again.size() == people.people.size());
  for (size_t i = 0; i < again.size(); ++i) {
    FUZZ_CHECK(again[i].name == people.people[i].name && again[i].since == people.people[i].since);
  }
}

// Getters in an order chosen by the data itself: the cursor never moves back,
// a failed read never moves it, and once the data is exhausted nothing reads.
void CheckDecoder(const uint8_t* data, size_t size) {
  CPacket packet;
  if (!packet.SetData(data, static_cast<uint16_t>(std::min<size_t>(size, PACKET_CAPACITY)))) return;
  CDecodePacket d;
  if (!d.Initialize(packet)) return;
  uint8_t buffer[PACKET_CAPACITY];
  bool exhausted = false;
  for (size_t step = 0; step < 64; ++step) {
    const uint16_t before = d.cursor;
    const uint8_t op = data[step % size];
    bool ok = false;
    uint16_t width = 0;
    if (op % 4 == 0) {
      uint8_t v;
      ok = d.GetCharValue(v);
      width = 1;
    } else if (op % 4 == 1) {
      uint16_t v;
      ok = d.GetShortValue(v);
      width = 2;
    } else if (op % 4 == 2) {
      uint32_t v;
      ok = d.GetLongValue(v);
      width = 4;
    } else {
      width = static_cast<uint16_t>(op * 5);
      ok = d.GetString(buffer, std::min<uint16_t>(width, sizeof buffer));
      width = std::min<uint16_t>(width, sizeof buffer);
    }
    FUZZ_CHECK(d.cursor <= PACKET_CAPACITY);
    if (ok) {
      FUZZ_CHECK(!exhausted && d.cursor == before + width);
    } else {
      FUZZ_CHECK(d.cursor == before);
    }
    if (d.cursor >= d.length) exhausted = true;
  }
}

// A line built from the input goes out only when it fits, and then the
// framing cuts it whole and the reader gives back what was put in.
void CheckBuilders(const uint8_t* data, size_t size) {
  if (size < 6) return;
  const size_t nameLength = std::min<size_t>(data[0] | (data[1] & 3) << 8, size);
  const size_t policeLength = std::min<size_t>(data[2] | (data[3] & 3) << 8, size - nameLength);
  const std::string name(reinterpret_cast<const char*>(data), nameLength);
  const std::string police(reinterpret_cast<const char*>(data) + nameLength, policeLength);
  const std::string text(reinterpret_cast<const char*>(data) + nameLength + policeLength,
                         std::min<size_t>(size - nameLength - policeLength, 2 * PACKET_CAPACITY));
  ChatLine view;
  view.SetName(name);
  view.SetPolice(police);
  view.SetText(text);
  view.Style() = {.Bold = data[4], .Blue = data[5]};

  CPacket packet;
  const size_t needed = 4 + 6 + view.NameLength + view.PoliceLength + view.TextLength + 12;
  const bool built = BuildSays(view, packet);
  FUZZ_CHECK(built == (needed <= PACKET_CAPACITY));
  if (!built) return;
  const MessageExtent extent = FirstMessageExtent(packet.data, packet.length, false);
  FUZZ_CHECK(extent.kind == ExtentKind::Complete && extent.length == packet.length);
  CDecodePacket d;
  FUZZ_CHECK(d.Initialize(packet));
  uint16_t header = 0;
  uint16_t chatHeader = 0;
  ChatLine line;
  FUZZ_CHECK(d.GetShortValue(header) && d.GetShortValue(chatHeader) && ReadChatLine(d, line));
  FUZZ_CHECK(std::string(line.Name.get(), line.NameLength) == std::string(name.c_str(), name.size() + 1));
  FUZZ_CHECK(std::string(line.Text.get(), line.TextLength) == std::string(text.c_str(), text.size() + 1));
  FUZZ_CHECK(line.Bold == view.Bold && line.Blue == view.Blue);

  // The relay of its payload gives back the message byte for byte.
  CPacket payload;
  FUZZ_CHECK(payload.SetData(packet.data + 2, static_cast<uint16_t>(packet.length - 2)));
  CPacket relay;
  FUZZ_CHECK(BuildRelay(payload, relay));
  FUZZ_CHECK(relay.length == packet.length && std::memcmp(relay.data, packet.data, packet.length) == 0);

  // Kept and replayed, the line comes back whole too, when it fits a block.
  CPacket earlier;
  const uint16_t lineBytes = static_cast<uint16_t>(packet.length - 4);
  FUZZ_CHECK(BuildEarlier(1, 0, packet.data + 4, lineBytes, earlier) == (lineBytes <= EARLIER_LINE_CAPACITY));
  if (lineBytes > EARLIER_LINE_CAPACITY) return;
  ExtensionBlock opened;
  EarlierLine replayed;
  FUZZ_CHECK(FirstMessageExtent(earlier.data, earlier.length, false).length == earlier.length);
  FUZZ_CHECK(OpenExtension(earlier.data, earlier.length, opened) && ReadEarlier(opened.fields, replayed));
  FUZZ_CHECK(std::string(replayed.line.Text.get(), replayed.line.TextLength) ==
             std::string(text.c_str(), text.size() + 1));
}

}  // namespace

int CodecTarget(const uint8_t* data, size_t size) {
  SilenceDiagnostics();
  CheckExtent(data, size, true);
  CheckExtent(data, size, false);
  CheckReadersStayInside(data, size, true);
  CheckReadersStayInside(data, size, false);
  if (size > 0) CheckDecoder(data, size);
  CheckExtension(data, size);
  CheckBuilders(data, size);
  return 0;
}

}  // namespace fuzz

JASELO_FUZZ_ENTRY(fuzz::CodecTarget)
