#pragma once
// A server's watched connections: each one's socket, the bytes received from
// it not yet cut into messages, and its output; the unsent relays each sender
// answers for; the batches in which a pass's relays collect; the closes left
// to the socket thread; and the time limits on newcomers and stuck readers.
// Its owner's endpoint lock guards it all. It knows nothing of nicknames:
// whether a connection has identified itself is the owner's to say.

#include <poll.h>

#include <cassert>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include <memory>

#include "net/outputbuffer.h"
#include "net/sockets.h"
#include "net/transportlimits.h"
#include "protocol/packet.h"
#include "web/webconnection.h"

class ServerConnections {
 public:
  using Clock = std::chrono::steady_clock;
  using Identified = std::function<bool(Socket)>;

  struct Connection {
    UniqueSocket socket;
    std::vector<uint8_t> stream;  // received bytes not yet cut into messages
    OutputBuffer output;          // messages for it that its socket has not taken yet
    Clock::time_point acceptedAt;
    // When it last took bytes, or when bytes began to wait for it.
    Clock::time_point lastProgress;
    bool departed = false;  // its own departure is already queued
    bool pending = false;   // appended in a batch, not yet offered to its socket
    uint64_t serial = 0;    // tells this connection from a later one on the same number
    bool sniffed = false;   // its first bytes have told what kind of peer it is
    // A browser's: its request, then the WebSocket that carries its messages.
    std::unique_ptr<WebConnection> web;
    bool closing = false;  // nothing more is read; it ends once its output has left
  };

  // `onSocketThread` tells whether the caller is the socket thread, which
  // `wake` wakes when output waits for it to write.
  ServerConnections(const TransportLimits& limits, WakeEvent& wake, std::function<bool()> onSocketThread);

  // Watches an accepted socket, owned here from now on.
  Connection& Adopt(Socket s);
  Connection* Find(Socket s);
  const Connection* Find(Socket s) const;
  // Takes a connection out. What waited for it will never leave: its senders
  // owe nothing for it. Its socket closes now, or on the socket thread if
  // that thread may be polling it.
  void Drop(Socket s);
  void Clear();

  // Appends a message for `s`, relayed on behalf of the connection with the
  // serial `origin` (0: the server's own). Outside a batch, or past the
  // output bound, it also writes what the socket takes at once. False when
  // the connection has to go: it failed, or holds more than a reader that
  // keeps up ever would (errno says which).
  bool Queue(Socket s, const CPacket& packet, uint64_t origin);
  // Bytes the connection's own protocol answers with (an HTTP response, a
  // WebSocket control frame), under the same rules as a message.
  bool QueueRaw(Socket s, const std::vector<uint8_t>& bytes);
  // While any batch is open, appended output waits for a batch's end.
  void BeginBatch() { ++batches; }
  void EndBatch() {
    assert(batches > 0);
    --batches;
  }
  // Offers every output appended in a batch to its socket, once each; the
  // connections that failed, for the owner to forget (which may append
  // departures: call again until none fail).
  std::vector<Socket> WritePending();
  // A sender held back during the socket thread's wait may be read again
  // once relays have left: wakes that thread.
  void WakeHeldBack();
  // The socket thread's write of a connection's waiting output; false when
  // the connection failed.
  bool Write(Connection& connection);

  // The socket thread's wait: what to wait for on `s`. A sender whose relays
  // wait unsent beyond its bound is not read; output left over from a write
  // is watched for room, output not yet offered leaves at its batch's end.
  short WaitEvents(Socket s);
  void BeginWait() { heldBack = false; }
  // The wait's time limit: the nearest identify or send limit (-1: none).
  int MillisecondsToNextDeadline(const Identified& identified) const;
  // Newcomers past the identify limit, and readers that took nothing for the
  // send limit while bytes waited for them.
  void FindOverdue(const Identified& identified, std::vector<Socket>& unidentified, std::vector<Socket>& stalled) const;
  // Closing connections whose output has left.
  void FindFinished(std::vector<Socket>& finished) const;

  // At closing: the connections with output waiting, and the writes once
  // their sockets have room (a reader that fails now is left to the close).
  void WaitingOutputs(std::vector<pollfd>& fds) const;
  void WriteWhereReady(const std::vector<pollfd>& fds);

  // While the socket thread may be polling, closes wait for it.
  void SetPolling(bool on) { polling = on; }
  void CloseDeferred();

 private:
  bool Offer(Connection& connection, bool watched);
  bool Append(Socket s, const uint8_t* bytes, size_t n, uint64_t origin);
  void SettleBacklog(uint64_t origin, size_t n);
  bool HoldsBack(const Connection& connection) const;

  const TransportLimits& limits;
  WakeEvent& wake;
  const std::function<bool()> onSocketThread;
  // Ordered by socket value, as every walk of the server's is.
  std::map<Socket, Connection> connections;
  uint64_t nextSerial = 1;
  // Bytes of each sender's relays that wait unsent, by connection serial.
  std::map<uint64_t, size_t> relayBacklog;
  int batches = 0;                    // batches open now, on any thread
  std::vector<Socket> pendingWrites;  // connections appended to in a batch
  bool heldBack = false;              // the socket thread's wait leaves some sender unread
  bool polling = false;               // the socket thread may be waiting on these sockets
  std::vector<UniqueSocket> deferredClose;
  std::vector<uint8_t> framed;  // a browser's message as its frame, made anew for each
};
