#pragma once
// Newcomers the host does not take in: the chat is full, their address holds
// its share, connects too fast, or was shown out. A newcomer that begins TLS
// gets its handshake finished and a REFUSED block saying why before the
// close, so that its client never takes a busy host for one that speaks no
// TLS and joins in plain text. Anything else is closed at once, as a host
// that speaks only plain messages would. The desk holds a few at a time, two
// per address, each for a moment at most: a flood costs it no more than that.

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "net/sockets.h"
#include "net/tlscontext.h"

class TlsStream;

class RefusalDesk {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RefusalDesk(size_t capacity = 8, size_t perAddress = 2,
                       std::chrono::milliseconds patience = std::chrono::milliseconds(2000));
  ~RefusalDesk();
  RefusalDesk(const RefusalDesk&) = delete;
  RefusalDesk& operator=(const RefusalDesk&) = delete;

  // The host's TLS; null: every newcomer is closed at once.
  void SetTls(std::shared_ptr<TlsContext> context) { tls = std::move(context); }
  // Takes the accepted socket `s` to refuse for `reason` (REFUSED_*), with
  // `seconds` until the address is let in again (0: no time is said).
  void Take(Socket s, uint32_t address, uint16_t reason, uint32_t seconds, Clock::time_point now);
  // What each newcomer at the desk waits for, appended to `fds`.
  void AddWaits(std::vector<pollfd>& fds) const;
  // Moves on those a wait found ready (found by socket in `fds`), and lets go
  // of those whose moment has passed.
  void Serve(const std::vector<pollfd>& fds, Clock::time_point now);
  // The nearest moment, or -1 when nobody waits.
  int MillisecondsToNextDeadline(Clock::time_point now) const;
  size_t Count() const { return newcomers.size(); }
  void Clear();

 private:
  struct Newcomer;
  // False when no place can be made for a newcomer from `address`; newcomers
  // join at the end, so the first is the longest there.
  bool MakeRoom(uint32_t address);
  // False once the newcomer is done with.
  bool Read(Newcomer& n);
  bool Write(Newcomer& n);

  size_t capacity;
  size_t perAddress;
  std::chrono::milliseconds patience;
  std::shared_ptr<TlsContext> tls;
  std::vector<std::unique_ptr<Newcomer>> newcomers;
};
