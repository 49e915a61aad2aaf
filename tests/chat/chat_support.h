#pragma once
// What the chat tests share: a poll loop like the window's, endpoints that
// record what they are shown, and a small writer for hand-made payloads. The
// hostile side's raw loopback peer is common/raw_peer.h, the messages built
// for it common/wire.h.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "chat/jaselonetwork.h"
#include "chat/pollloop.h"
#include "common/raw_peer.h"
#include "common/wire.h"

using namespace std::chrono_literals;

// An event as received: each string holds exactly its declared bytes.
struct Seen {
  uint16_t Type = 0;
  std::string Name, Text, Police;
  LineStyle Style;
  // Events of our own messages only.
  uint32_t Time = 0;
  uint16_t Flags = 0, Count = 0;
  bool operator==(const Seen&) const = default;
};
Seen SeenOf(const ChatEvent& event);
// A departure or arrival as a client sees it: the name and its NUL.
Seen NameEvent(uint16_t type, const std::string& name);

// An outgoing chat line as the window fills it.
ChatEvent MakeLine(const std::string& name, const std::string& text, const std::string& police = "Arial");

// Drains a client endpoint as the window's poll thread does, keeping the
// events or dropping them.
class PollLoop : public CPollThread {
 public:
  PollLoop(CJaseloNetwork& network, bool keep);
  ~PollLoop() override { End(); }
  std::vector<Seen> Events() const;
  std::vector<Seen> EventsOfType(uint16_t type) const;
  bool HasEvent(const Seen& e) const;

 private:
  void Record(const ChatEvent& event);
  mutable std::mutex mutex;
  std::vector<Seen> events;
};

// An endpoint whose queue a test can fill directly, as its socket thread would.
class Injectable : public CJaseloNetwork {
 public:
  void Inject(const Bytes& payload, const std::string& sender = {}) {
    packetQueue.Push(payload.data(), static_cast<uint16_t>(payload.size()), INVALID_SOCKET, sender);
  }
  // One of our own blocks from the server, whole.
  void InjectBlock(const CPacket& block) { packetQueue.PushExtension(block.data, block.length); }
};

// A server endpoint listening on a free loopback port; its socket thread
// handles what it receives.
struct Server {
  Server();
  ~Server();
  uint16_t Port() const { return network.ListeningPort(); }
  size_t Present() { return network.ClientTable().size(); }
  bool Has(const std::string& nickname);
  Injectable network;
};

// A client endpoint that joins a server, with its own recording poll loop.
struct Client {
  Client(const std::string& nickname, uint16_t port);
  ~Client();
  CJaseloNetwork network;
  PollLoop loop{network, true};
  bool joined = false;
};

// Hand-made messages, little-endian, for what the builders cannot produce.
class Writer {
 public:
  Writer& U16(uint16_t v);
  Writer& Raw(const std::string& bytes);
  // A 16-bit count followed by the bytes (the count need not match).
  Writer& Counted(const std::string& bytes, int count = -1);
  // A chat line with the given strings as they are (no NUL is added).
  Writer& Line(const std::string& name, const std::string& police, const std::string& text);
  Bytes bytes;
};
