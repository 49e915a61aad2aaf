#pragma once
// An honest bench client: an endpoint with its own poll loop, recording every
// timed line it is shown, and who it heard leave.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "analysis.h"
#include "measuredendpoint.h"
#include "net/security.h"
#include "outgoingline.h"
#include "pollloop.h"
#include "weblink.h"

// Departures of bench clients that somebody heard while the workload ran.
struct Departures {
  std::mutex mutex;
  std::set<std::string> names;
  std::atomic<bool> recording{false};
};

// Reads "J <sender> <seq> <send ns>" from the front of a line's text.
bool ParseLine(const char* text, Delivery& d);

// A line's text: its identity and send time, padded to the chosen size.
std::string LineText(int sender, uint32_t seq, int64_t sendNs, int textBytes);

// One client endpoint with its own poll loop, recording what it is shown.
class Receiver {
 public:
  Receiver(int index, size_t expected, Departures& departures)
      : nick("bench" + std::to_string(index)), departures(departures), line(nick) {
    deliveries.reserve(expected);
  }

  // `security` says whether it joins inside TLS; `overWeb`, whether it joins
  // as a browser does, over a WebSocket (in plain text).
  bool Join(uint16_t port, const ClientSecurity& security, bool overWeb = false);

  // From the sending thread, as the window's Send does from its own.
  bool Say(const std::string& text);
  bool Connected() { return web ? web->Connected() : network.IsActive(); }
  uint32_t MessageBytes(const std::string& text) { return line.Bytes(text); }

  void AskToHalt() { loop.AskToEnd(); }
  void Halt() { loop.End(); }

  const std::string nick;
  std::vector<Delivery> deliveries;  // written by the poll loop only
  std::atomic<uint64_t> delivered{0};
  std::atomic<uint64_t> joins{0};
  std::atomic<uint64_t> warmups{0};
  std::atomic<uint64_t> floodLines{0};  // the flooders' lines it was shown
  MeasuredEndpoint network{"client-socket"};

 private:
  // Over a WebSocket, in place of the endpoint's own connection.
  std::unique_ptr<WebLink> web;
  void OnEvent(ChatEvent& event);

  Departures& departures;
  OutgoingLine line;  // touched by the sending thread only
  // Last, so that it stops first: its thread uses everything above.
  PollLoop loop{network, "client-poll", [this](ChatEvent& event) { OnEvent(event); }};
};
