// The front door and a browser's WebSocket, as a server endpoint serves them:
// one connection's bytes, HTTP requests first (a well-formed upgrade, or the
// input's own bytes, as many requests as they hold), then frames (the
// input's bytes as they are, or each record wrapped in a masked binary frame
// so that the chat behind the door is reached). The harness reads back what
// the connection is sent and checks it: HTTP responses one after another,
// each with the page's safety headers unless it is the upgrade and with a
// Connection header, nothing after one that closes, no more of them than a
// connection is answered; after the upgrade, frames that each carry exactly
// one whole message that a designed client could cut, naming only
// identified people.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "chat/jaselonetwork.h"
#include "fuzz_support.h"
#include "protocol/extension.h"
#include "protocol/extent.h"
#include "share/filerequest.h"
#include "share/sharedname.h"
#include "web/webconnection.h"

namespace fuzz {
namespace {

constexpr size_t RECEIVE_SIZE = PACKET_CAPACITY;
const std::string UPGRADE =
    "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
// Record controls.
constexpr uint8_t OWN_REQUEST = 1;  // first record: its bytes are the request
constexpr uint8_t FRAMED = 2;       // later records: wrapped in one masked binary frame
constexpr uint8_t DRAIN = 4;        // the poll loop drains the queue afterwards

// The input as a file door's target and Range header: a name never leaves
// its folder, and a range never reaches past the file.
void CheckFileRequest(std::string_view bytes) {
  for (const char* method : {"PUT", "GET"}) {
    const FileRequest r = ReadFileRequest(method, std::string("/files/").append(bytes));
    FUZZ_CHECK(r.name.find('/') == std::string::npos && r.name.size() <= SHARED_NAME_BYTES);
    FUZZ_CHECK(r.kind != FileRequest::Kind::Fetch || r.id.size() == 32);
  }
  for (const uint64_t size : {uint64_t{0}, uint64_t{1}, uint64_t{1000}}) {
    uint64_t first = 0, last = 0;
    if (ReadRange(bytes, size, first, last) == RangeAsked::Part) FUZZ_CHECK(first <= last && last < size);
  }
}

class WebHarness {
 public:
  WebHarness() {
    FUZZ_CHECK(server.StartupServer());
    int ends[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0);
    fcntl(ends[1], F_SETFL, O_NONBLOCK);
    endpointSide = ends[0];
    peerSide = ends[1];
    if (!server.AdoptConnection(endpointSide)) close(endpointSide);
  }
  ~WebHarness() { close(peerSide); }

  void Run(const uint8_t* data, size_t size) {
    CheckFileRequest(std::string_view(reinterpret_cast<const char*>(data), size));
    RecordReader reader(data, size);
    Record record;
    bool first = true;
    while (reader.Next(record, RECEIVE_SIZE)) {
      if (first && (record.control & OWN_REQUEST) == 0)
        Deliver(reinterpret_cast<const uint8_t*>(UPGRADE.data()), UPGRADE.size());
      first = false;
      if ((record.control & FRAMED) != 0) {
        std::vector<uint8_t> frame;
        browser.Send(record.bytes, record.size, frame);
        Deliver(frame.data(), frame.size());
      } else {
        Deliver(record.bytes, record.size);
      }
      if ((record.control & DRAIN) != 0) Drain();
    }
    Drain();
  }

 private:
  void Deliver(const uint8_t* bytes, size_t n) {
    // The server tells a browser by the connection's first bytes; an input
    // that opens otherwise is a native participant, the other targets' ground.
    if (kind == HttpSniff::NeedMore) {
      opening.insert(opening.end(), bytes, bytes + std::min<size_t>(n, 64));
      kind = SniffHttpRequest(opening.data(), opening.size());
    }
    // At most one receive's worth at a time, as the socket thread hands them.
    for (size_t at = 0; at < n; at += RECEIVE_SIZE) {
      server.HandleReceivedBytes(endpointSide, bytes + at, std::min(RECEIVE_SIZE, n - at));
    }
    Observe();
  }

  void Drain() {
    ChatEvent event;
    while (server.ProcessPacketInQueue(event)) {
    }
    Observe();
  }

  void Observe() {
    for (const auto& [s, name] : server.ClientTable()) known.insert(Lower(name));
    uint8_t buffer[4096];
    for (;;) {
      const ssize_t n = recv(peerSide, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      received.insert(received.end(), buffer, buffer + n);
    }
    if (kind != HttpSniff::Yes) {
      received.clear();
      return;
    }
    if (!upgraded) ReadResponses();
    if (!upgraded || received.empty()) return;
    std::vector<uint8_t> answer;
    browser.Receive(
        received.data(), received.size(), [this](const uint8_t* m, size_t n) { CheckMessage(m, n); }, answer);
    received.clear();
  }

  void ReadResponses() {
    for (;;) {
      const std::string text(received.begin(), received.end());
      const size_t end = text.find("\r\n\r\n");
      if (end == std::string::npos) {
        FUZZ_CHECK(text.size() < 4096);
        return;
      }
      // Nothing follows an answer that closed the connection.
      FUZZ_CHECK(!closed);
      const std::string head = text.substr(0, end + 4);
      FUZZ_CHECK(head.rfind("HTTP/1.1 ", 0) == 0);
      if (head.rfind("HTTP/1.1 101 ", 0) == 0) {
        upgraded = true;
        received.erase(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(end + 4));
        return;
      }
      FUZZ_CHECK(head.find("\r\nContent-Security-Policy: default-src 'self';") != std::string::npos);
      FUZZ_CHECK(head.find("\r\nX-Content-Type-Options: nosniff\r\n") != std::string::npos);
      const bool keepAlive = head.find("\r\nConnection: keep-alive\r\n") != std::string::npos;
      FUZZ_CHECK(keepAlive || head.find("\r\nConnection: close\r\n") != std::string::npos);
      const size_t length = head.find("\r\nContent-Length: ");
      FUZZ_CHECK(length != std::string::npos);
      const size_t whole = end + 4 + std::stoul(head.substr(length + 18));
      if (text.size() < whole) return;  // the body's rest comes with a later read
      FUZZ_CHECK(++responses <= KEEP_ALIVE_REQUESTS);
      closed = !keepAlive;
      received.erase(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(whole));
    }
  }

  void CheckMessage(const uint8_t* m, size_t n) {
    FUZZ_CHECK(n <= PACKET_CAPACITY);
    const MessageExtent extent = FirstMessageExtent(m, n, false);
    FUZZ_CHECK(extent.kind == ExtentKind::Complete && extent.length == n);
    // Our own blocks open whole; they name only people identified.
    if (m[0] == HEADER_RESERVED && m[1] == 0) {
      ExtensionBlock block;
      PeopleBlock people;
      FUZZ_CHECK(OpenExtension(m, static_cast<uint16_t>(n), block));
      if (block.kind == EXT_PEOPLE && ReadPeople(block.fields, people)) {
        for (const Person& p : people.people) FUZZ_CHECK(known.count(Lower(p.name)) != 0);
      }
      return;
    }
    // Nobody is named who was never identified (a line may state its sender's
    // nickname in another letter case).
    FUZZ_CHECK(known.count(ReadNamed(m, n).name) != 0);
  }

  CJaseloNetwork server;
  Socket endpointSide = INVALID_SOCKET;
  int peerSide = -1;
  WebSocketSession browser{64 * 1024, WebSocketSession::Side::Visitor};
  std::vector<uint8_t> opening;
  HttpSniff kind = HttpSniff::NeedMore;
  std::vector<uint8_t> received;
  unsigned responses = 0;
  bool closed = false;  // an answer closed the connection
  bool upgraded = false;
  std::set<std::string> known;
};

}  // namespace

int WebTarget(const uint8_t* data, size_t size) {
  SilenceDiagnostics();
  WebHarness harness;
  harness.Run(data, size);
  return 0;
}

}  // namespace fuzz

JASELO_FUZZ_ENTRY(fuzz::WebTarget)
