// A server endpoint fed any byte stream from one identified connection
// ("alice") and one unidentified newcomer, its queue drained as the poll loop
// drains it. The connections are socketpair ends, so relays really go out;
// the harness reads them back and checks what every client would receive:
// whole messages that a client can cut, and lines only under the nickname of
// the connection that sent them.
#include <fcntl.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "chat/jaselonetwork.h"
#include "fuzz_support.h"
#include "protocol/extension.h"
#include "protocol/extent.h"
#include "web/webconnection.h"

namespace fuzz {
namespace {

constexpr int MAX_NEWCOMERS = 16;
// At most one receive's worth of bytes at a time, as the socket thread hands them.
constexpr size_t RECEIVE_SIZE = PACKET_CAPACITY;

struct Link {
  Socket endpointSide = INVALID_SOCKET;  // owned by the endpoint once adopted
  int peerSide = -1;                     // the "client": ours
  std::vector<uint8_t> received;
  std::vector<uint8_t> sent;  // its first bytes, enough to tell a browser
  bool identified = false;
  // Whether what it sent held our tag, as any HELLO must.
  bool sentTag = false;
  uint8_t lastSent = 0;
};

class ServerHarness {
 public:
  ServerHarness() {
    TransportLimits limits;
    limits.sendTimeout = std::chrono::milliseconds(1000);
    server.SetLimits(limits);
    FUZZ_CHECK(server.StartupServer());
    a = Open();
    static const uint8_t welcome[] = {0x03, 0x00, 0x06, 0x00, 'a', 'l', 'i', 'c', 'e', 0x00};
    server.HandleReceivedBytes(a->endpointSide, welcome, sizeof welcome);
    Observe(nullptr);
    FUZZ_CHECK(a->identified);
    b = Open();
  }

  ~ServerHarness() {
    for (auto& link : links) {
      if (link->peerSide >= 0) close(link->peerSide);
    }
  }

  void Run(const uint8_t* data, size_t size) {
    RecordReader reader(data, size);
    Record record;
    int newcomers = 0;
    while (reader.Next(record, RECEIVE_SIZE)) {
      Link* to = a;
      if ((record.control & 3) == 1) to = b;
      if ((record.control & 3) == 2 && newcomers < MAX_NEWCOMERS) {
        ++newcomers;
        // The old newcomer's client goes away without a word.
        close(b->peerSide);
        b->peerSide = -1;
        b = Open();
        to = b;
      }
      // Whatever is drained next came from this link alone when the queue was empty.
      const bool soleSource = server.QueuedCount() == 0;
      if (to->sent.size() < 8) to->sent.insert(to->sent.end(), record.bytes, record.bytes + record.size);
      for (size_t i = 0; i < record.size; ++i) {
        to->sentTag = to->sentTag || (to->lastSent == 'J' && record.bytes[i] == 'X');
        to->lastSent = record.bytes[i];
      }
      server.HandleReceivedBytes(to->endpointSide, record.bytes, record.size);
      Observe(nullptr);
      if (record.control & 4) Drain(soleSource ? to : nullptr);
    }
    Drain(nullptr);
  }

 private:
  Link* Open() {
    int ends[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0);
    fcntl(ends[1], F_SETFL, O_NONBLOCK);
    auto link = std::make_unique<Link>();
    link->endpointSide = ends[0];
    link->peerSide = ends[1];
    if (!server.AdoptConnection(ends[0])) close(ends[0]);
    links.push_back(std::move(link));
    return links.back().get();
  }

  // As a poll loop drains: until the first false. Nothing may be left behind,
  // or a peer that sends only messages yielding nothing outgrows the drain.
  void Drain(Link* source) {
    const auto before = Names();
    const std::string sourceName = source ? NameOf(source) : std::string();
    ChatEvent event;
    while (server.ProcessPacketInQueue(event)) Observe(source ? &sourceName : nullptr);
    Observe(source ? &sourceName : nullptr);
    FUZZ_CHECK(server.QueuedCount() == 0);
    if (!source) return;
    // Only a client's own departure removes it (or a failed send to a client gone).
    for (const auto& name : before) {
      if (Names().count(name) == 0) FUZZ_CHECK(name == sourceName || goneNames.count(name) != 0);
    }
  }

  std::set<std::string> Names() {
    std::set<std::string> names;
    for (const auto& [s, name] : server.ClientTable()) names.insert(Lower(name));
    return names;
  }

  std::string NameOf(const Link* link) {
    for (const auto& [s, name] : server.ClientTable()) {
      if (s == link->endpointSide) return Lower(name);
    }
    return std::string();
  }

  // Reads what every client received and checks it message by message.
  void Observe(const std::string* onlySpeaker) {
    for (auto& link : links) {
      if (link->peerSide < 0 && linkNames.count(link.get()) != 0) goneNames.insert(linkNames[link.get()]);
    }
    std::set<std::string> seen;
    for (const auto& [s, name] : server.ClientTable()) {
      // No two nicknames alike in any letter case.
      FUZZ_CHECK(seen.insert(Lower(name)).second);
      knownNames.insert(Lower(name));
      for (auto& link : links) {
        if (link->peerSide >= 0 && link->endpointSide == s) {
          link->identified = true;
          linkNames[link.get()] = Lower(name);
        }
      }
    }
    for (auto& link : links) {
      if (link->peerSide < 0) continue;
      uint8_t buffer[4096];
      for (;;) {
        const ssize_t n = recv(link->peerSide, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        link->received.insert(link->received.end(), buffer, buffer + n);
      }
      // A browser is answered in HTTP; fuzz_web follows what it is sent.
      if (SniffHttpRequest(link->sent.data(), link->sent.size()) != HttpSniff::No) continue;
      // A connection never identified is never written to.
      if (!link->identified) FUZZ_CHECK(link->received.empty());
      CheckReceived(*link, onlySpeaker);
    }
  }

  // Every send completes before the call that made it returns, so whatever a
  // client has received is a whole number of messages.
  void CheckReceived(Link& link, const std::string* onlySpeaker) {
    auto& bytes = link.received;
    while (!bytes.empty()) {
      const MessageExtent extent = FirstMessageExtent(bytes.data(), bytes.size(), false);
      FUZZ_CHECK(extent.kind == ExtentKind::Complete);
      CPacket packet;
      FUZZ_CHECK(packet.SetData(bytes.data(), static_cast<uint16_t>(extent.length)));
      bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(extent.length));
      if (CheckOurBlock(link, packet)) continue;
      const auto [header, chatHeader, name] = ReadNamed(packet.data, packet.length);
      // Nobody is named on the wire who was never identified.
      FUZZ_CHECK(knownNames.count(name) != 0);
      if (header == HEADER_WELCOME) {
        FUZZ_CHECK(chatHeader == CHAT_JOINED);
      } else if (onlySpeaker) {
        FUZZ_CHECK(name == *onlySpeaker || (chatHeader == CHAT_DISCONNECTED && goneNames.count(name) != 0));
      }
    }
  }

  // Our own blocks go only to a connection that asked, and name only people
  // identified; false when the message is not one of ours.
  bool CheckOurBlock(const Link& link, const CPacket& packet) {
    if (packet.length < 2 || packet.data[0] != HEADER_RESERVED || packet.data[1] != 0) return false;
    FUZZ_CHECK(link.sentTag);
    ExtensionBlock block;
    FUZZ_CHECK(OpenExtension(packet.data, packet.length, block));
    PeopleBlock people;
    EarlierLine earlier;
    if (block.kind == EXT_PEOPLE) {
      FUZZ_CHECK(ReadPeople(block.fields, people));
      for (const Person& p : people.people) FUZZ_CHECK(knownNames.count(Lower(p.name)) != 0);
    } else {
      FUZZ_CHECK(block.kind == EXT_EARLIER && ReadEarlier(block.fields, earlier));
      FUZZ_CHECK(knownNames.count(Lower(earlier.line.Name.get())) != 0);
    }
    return true;
  }

  CJaseloNetwork server;
  std::vector<std::unique_ptr<Link>> links;
  std::map<const Link*, std::string> linkNames;
  std::set<std::string> knownNames;
  std::set<std::string> goneNames;  // nicknames of clients whose peer went away
  Link* a = nullptr;
  Link* b = nullptr;
};

}  // namespace

int ServerTarget(const uint8_t* data, size_t size) {
  SilenceDiagnostics();
  ServerHarness harness;
  harness.Run(data, size);
  return 0;
}

}  // namespace fuzz

JASELO_FUZZ_ENTRY(fuzz::ServerTarget)
