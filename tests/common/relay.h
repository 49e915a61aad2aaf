#pragma once
// A TCP relay placed between clients and a host: every byte passes, and a
// copy is kept for the test to look at. The host it forwards to can change
// between connections (a person in the middle answering in the real host's
// place), and bytes of the test's own can be slipped in toward the host.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "common/raw_peer.h"

class Relay {
 public:
  explicit Relay(uint16_t hostPort);
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  uint16_t Port() const { return listener.Port(); }
  // Where the connections accepted from now on are forwarded.
  void ForwardTo(uint16_t hostPort) { target = hostPort; }
  // Everything clients sent, and everything hosts sent, so far.
  Bytes FromClients();
  Bytes FromHosts();
  // Sent to the host of the latest connection, as if its client had.
  void Inject(const Bytes& bytes);

 private:
  void Run();

  RawListener listener;
  std::atomic<uint16_t> target;
  std::mutex mutex;
  Bytes fromClients, fromHosts, injected;
  std::atomic<bool> stop{false};
  std::thread thread;
};
