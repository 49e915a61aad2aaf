#pragma once
// An extra client that sends 900-character lines as fast as its sends go, on
// a thread of its own, while the honest clients run the workload. Its poll
// loop takes what it is shown and drops it, so the host never sees it as a
// reader that stopped.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "measuredendpoint.h"
#include "net/security.h"
#include "outgoingline.h"
#include "pollloop.h"

class Flooder {
 public:
  static constexpr int kTextBytes = 900;

  explicit Flooder(int index);
  ~Flooder();
  Flooder(const Flooder&) = delete;
  Flooder& operator=(const Flooder&) = delete;

  bool Join(uint16_t port, const ClientSecurity& security);
  // Sends until Finish, until `untilNs` (bench clock), or after `maxLines`,
  // whichever comes first.
  void Begin(int64_t untilNs, uint64_t maxLines);
  // Stops the sending and, if it ran, closes the connection.
  void Finish();
  void AskToHalt() { loop.AskToEnd(); }

  uint64_t Sent() const { return sent.load(); }
  uint64_t Failed() const { return failed.load(); }
  bool Connected() { return network.IsActive(); }

  const std::string nick;

 private:
  void Flood(int64_t untilNs, uint64_t maxLines);

  const int index;
  OutgoingLine line;  // touched by the sending thread only
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> sent{0};
  std::atomic<uint64_t> failed{0};
  std::thread sender;
  MeasuredEndpoint network{"flood-socket"};
  // After the endpoint: it stops first, its thread using the endpoint.
  PollLoop loop{network, "flood-poll", [](ChatEvent& event) {
                  event.Name.Reset();
                  event.Text.Reset();
                  event.Police.Reset();
                }};
};
