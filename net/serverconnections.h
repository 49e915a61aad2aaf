#pragma once
// A server's watched connections: each one's socket, byte stream, received
// bytes and output (a Connection), with when it came, from where, and which
// connection it is; the unsent relays each sender answers for; the batches in
// which a pass's relays collect; the connections whose output failed, for the
// owner to drop at the end of the pass; the closes left to the socket thread;
// and the time limits on newcomers and stuck readers. Its owner's endpoint
// lock guards it all. It knows nothing of nicknames: whether a connection has
// identified itself is the owner's to say.

#include <poll.h>

#include <cassert>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "net/connection.h"
#include "net/sockets.h"
#include "net/transportlimits.h"
#include "protocol/packet.h"

class ServerConnections {
 public:
  using Clock = std::chrono::steady_clock;
  using Identified = std::function<bool(Socket)>;

  struct Watched : Connection {
    std::vector<uint8_t> firstBytes;  // what came before its stream's kind was known
    bool plainSniffed = false;        // inside TLS: its first plain bytes were looked at
    Clock::time_point acceptedAt;
    uint32_t address = 0;   // the peer's IPv4 address, in host order
    bool departed = false;  // its own departure is already queued
    uint64_t serial = 0;    // tells this connection from a later one on the same number
    // Inside TLS a HELLO may come before the welcome: what it asked for, and
    // whether it gave the chat's password.
    bool helloFirst = false;
    uint16_t understands = 0;
    bool admitted = false;
    // Refused: what it sends is ignored, and it goes once its refusal has left.
    bool closing = false;
    // Bytes it may still send before it is read no more for a while, as of
    // `intakeAt`; below zero after a receive that took more than was left.
    double intake = 0;
    Clock::time_point intakeAt{};
  };

  // `onSocketThread` tells whether the caller is the socket thread, which
  // `wake` wakes when output waits for it to write.
  ServerConnections(const TransportLimits& limits, WakeEvent& wake, std::function<bool()> onSocketThread);

  // Watches an accepted socket, owned here from now on.
  Watched& Adopt(Socket s, uint32_t address);
  // Watched connections from one address.
  size_t CountFrom(uint32_t address) const;
  // The addresses that hold the most connections, most first, at most `n`.
  std::vector<std::pair<uint32_t, size_t>> Busiest(size_t n) const;
  Watched* Find(Socket s);
  const Watched* Find(Socket s) const;
  // Takes a connection out. What waited for it will never leave: its senders
  // owe nothing for it. Its socket closes now, or on the socket thread if
  // that thread may be polling it.
  void Drop(Socket s);
  // Takes a connection out whole, its socket and stream moved to `out`, for
  // another owner; what it had to send leaves first. False when that cannot
  // leave at once (the connection stays, for the owner to drop).
  bool Release(Socket s, Connection& out);
  void Clear();

  // Appends a message for `s`, relayed on behalf of the connection with the
  // serial `origin` (0: the server's own); or bytes its stream must send of
  // its own. Inside a batch it waits for the batch's end; outside one, or past
  // the output bound, it is written at once. False when this made the
  // connection fail (errno says why): it is then Failed, for the owner to drop.
  bool Queue(Socket s, const CPacket& packet, uint64_t origin);
  bool QueueOwn(Socket s, const std::vector<uint8_t>& bytes);
  // While any batch is open, appended output waits for a batch's end.
  void BeginBatch() { ++batches; }
  void EndBatch() {
    assert(batches > 0);
    --batches;
  }
  bool InBatch() const { return batches > 0; }
  // Offers every output left Pending by a batch to its socket, once each; the
  // error of each connection that failed.
  std::vector<int> WritePending();
  // The connections that failed since the last call, for the owner to drop.
  std::vector<Socket> TakeFailed();
  // Connections that said their last (refused here, or a stream that ended:
  // an answer that closes, a WebSocket closed) and whose output has left, for the
  // owner to drop. Nothing more is read from them meanwhile.
  std::vector<Socket> Ended() const;
  static bool Ending(const Watched& connection) {
    return connection.closing || (connection.stream && connection.stream->Finished());
  }
  // A sender held back during the socket thread's wait may be read again
  // once relays have left: wakes that thread.
  void WakeHeldBack();
  // A receive of n bytes from `connection` spends its intake.
  void Took(Watched& connection, size_t n);
  // The socket thread's write once a socket has room; false when the
  // connection failed.
  bool WriteBlocked(Watched& connection);

  // The socket thread's wait: what to wait for on `s`. A sender whose relays
  // wait unsent beyond its bound is not read; output left over from a write
  // is watched for room, output not yet offered leaves at its batch's end.
  short WaitEvents(Socket s);
  void BeginWait() { heldBack = false; }
  // The wait's time limit: the nearest identify or send limit (-1: none; 0
  // when output or failures wait for a pass's end).
  int MillisecondsToNextDeadline(const Identified& identified) const;
  // Newcomers past the identify limit; readers that took nothing for the send
  // limit while bytes waited for them are marked Failed and listed in `stalled`.
  void FindOverdue(const Identified& identified, std::vector<Socket>& unidentified, std::vector<Socket>& stalled);

  // The connection that has waited longest while Idle (from `address`, if
  // given), whose output has left; INVALID_SOCKET when there is none.
  Socket LongestIdle(std::optional<uint32_t> address) const;
  // At closing, before the last notices leave: each stream's last word of
  // its own (a browser's WebSocket close), after what already waits for it.
  void SayGoodbye();
  // At closing: the connections with output waiting, and the writes once
  // their sockets have room (a reader that fails now is left to the close).
  void WaitingOutputs(std::vector<pollfd>& fds) const;
  void WriteWhereReady(const std::vector<pollfd>& fds);

  // While the socket thread may be polling, closes wait for it.
  void SetPolling(bool on) { polling = on; }
  void CloseDeferred();

 private:
  bool Follow(Socket s, Watched& connection, ConnectionOutput::Next next);
  bool Write(Socket s, Watched& connection);
  void MarkFailed(Socket s, Watched& connection);
  void SettleBacklog(uint64_t origin, size_t n);
  bool HoldsBack(const Watched& connection) const;
  // The intake as of `now`, refilled at the limits' rate.
  double IntakeAt(const Watched& connection, Clock::time_point now) const;
  // When a connection that has not identified itself goes.
  Clock::time_point IdentifyBy(const Watched& connection) const;

  const TransportLimits& limits;
  WakeEvent& wake;
  const std::function<bool()> onSocketThread;
  // Ordered by socket value, as every walk of the server's is.
  std::map<Socket, Watched> connections;
  uint64_t nextSerial = 1;
  // Bytes of each sender's relays that wait unsent, by connection serial.
  std::map<uint64_t, size_t> relayBacklog;
  int batches = 0;                    // batches open now, on any thread
  std::vector<Socket> pendingWrites;  // connections made Pending by a batch
  std::vector<Socket> failed;         // connections made Failed, not yet taken by the owner
  bool heldBack = false;              // the socket thread's wait leaves some sender unread
  bool polling = false;               // the socket thread may be waiting on these sockets
  std::vector<UniqueSocket> deferredClose;
  std::vector<uint8_t> framed;  // a browser's message as its frame, made anew for each
};
