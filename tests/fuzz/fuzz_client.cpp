// A client endpoint ("bob") fed any byte stream from its server, its queue
// drained as the window's poll loop drains it. Every event it yields must be
// safe to show: a known type, and terminated strings within their lengths.
#include <cstring>

#include "chat/jaselonetwork.h"
#include "fuzz_support.h"

namespace fuzz {
namespace {

void CheckString(const EventString& s, uint16_t length) {
  FUZZ_CHECK(s.get() != nullptr);
  FUZZ_CHECK(std::strlen(s.get()) <= length);
}

// As the window's poll loop drains: until the first false, which must leave
// nothing behind.
void Drain(CJaseloNetwork& client) {
  ChatEvent event;
  while (client.ProcessPacketInQueue(event)) {
    FUZZ_CHECK(event.Type >= CHAT_SAYS && event.Type <= CHAT_UNRELAYED);
    CheckString(event.Name, event.NameLength);
    if (event.Type == CHAT_JOINED || event.Type == CHAT_DISCONNECTED) continue;
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
  while (reader.Next(record, PACKET_CAPACITY)) {
    client.HandleServerBytes(record.bytes, record.size);
    if (record.control & 4) Drain(client);
  }
  Drain(client);
  return 0;
}

}  // namespace fuzz

JASELO_FUZZ_ENTRY(fuzz::ClientTarget)
