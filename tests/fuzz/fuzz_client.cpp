// A client endpoint ("bob") fed any byte stream from its server, its queue
// drained as the window's poll loop drains it. Every event it yields must be
// safe to show: a known type, and terminated strings within their lengths
// (a shared file's: whole strings within a message).
#include <cstring>

#include "chat/jaselonetwork.h"
#include "fuzz_support.h"
#include "protocol/extension.h"

namespace fuzz {
namespace {

void CheckString(const EventString& s, uint16_t length) {
  FUZZ_CHECK(s.get() != nullptr);
  FUZZ_CHECK(std::strlen(s.get()) <= length);
}

// As the window's poll loop drains: until the first false, which must leave
// nothing behind.
// `listed` counts the people of a list across drains.
void Drain(CJaseloNetwork& client, uint16_t& listed) {
  ChatEvent event;
  while (client.ProcessPacketInQueue(event)) {
    const bool known = (event.Type >= CHAT_SAYS && event.Type <= CHAT_UNRELAYED) || event.Type == EVENT_PRESENT ||
                       event.Type == EVENT_PEOPLE || event.Type == EVENT_EARLIER || event.Type == EVENT_TICKET ||
                       event.Type == EVENT_FILE || event.Type == EVENT_PICTURE;
    FUZZ_CHECK(known);
    if (event.Type == EVENT_TICKET) {
      CheckString(event.Text, event.TextLength);
      continue;
    }
    // A shared file's strings are whole strings, each within one message.
    if (event.Type == EVENT_FILE) {
      const SharedFile& f = event.File;
      for (const std::string* text : {&f.id, &f.sha256, &f.name, &f.type, &f.from, &f.to}) {
        FUZZ_CHECK(text->size() < PACKET_CAPACITY && text->find('\0') == std::string::npos);
      }
      continue;
    }
    // A picture's part is in its place among at most as many as a picture has.
    if (event.Type == EVENT_PICTURE) {
      FUZZ_CHECK(event.Count < event.Flags && event.Flags <= PICTURE_MOST_PARTS);
      FUZZ_CHECK(!event.Data.empty() && event.Data.size() <= PICTURE_PART_BYTES);
      FUZZ_CHECK(event.File.id.find('\0') == std::string::npos);
      continue;
    }
    // A list is counted from its first person to its end.
    if (event.Type == EVENT_PRESENT) {
      FUZZ_CHECK(event.Count == 0 || event.Count == listed);
      listed = static_cast<uint16_t>(event.Count + 1);
    }
    if (event.Type == EVENT_PEOPLE) {
      FUZZ_CHECK(event.Count == listed);
      listed = 0;
      continue;
    }
    CheckString(event.Name, event.NameLength);
    if (event.Type == CHAT_JOINED || event.Type == CHAT_DISCONNECTED || event.Type == EVENT_PRESENT) continue;
    CheckString(event.Police, event.PoliceLength);
    CheckString(event.Text, event.TextLength);
  }
  FUZZ_CHECK(client.QueuedCount() == 0);
}

}  // namespace

int ClientTarget(const uint8_t* data, size_t size) {
  SilenceDiagnostics();
  CJaseloNetwork client;
  FUZZ_CHECK(client.StartupClient("bob"));
  RecordReader reader(data, size);
  Record record;
  uint16_t listed = 0;
  while (reader.Next(record, PACKET_CAPACITY)) {
    client.HandleServerBytes(record.bytes, record.size);
    if (record.control & 4) Drain(client, listed);
  }
  Drain(client, listed);
  return 0;
}

}  // namespace fuzz

JASELO_FUZZ_ENTRY(fuzz::ClientTarget)
