#include "net/serverconnections.h"

#include <sys/socket.h>

#include <algorithm>
#include <cassert>
#include <cerrno>

ServerConnections::ServerConnections(const TransportLimits& limits, WakeEvent& wake,
                                     std::function<bool()> onSocketThread)
    : limits(limits), wake(wake), onSocketThread(std::move(onSocketThread)) {}

ServerConnections::Connection& ServerConnections::Adopt(Socket s) {
  SetNoDelay(s);
  if (limits.acceptedSendBuffer > 0) {
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, &limits.acceptedSendBuffer, sizeof limits.acceptedSendBuffer);
  }
  Connection& connection = connections[s];
  connection.socket.Reset(s);
  connection.acceptedAt = Clock::now();
  connection.serial = nextSerial++;
  return connection;
}

ServerConnections::Connection* ServerConnections::Find(Socket s) {
  const auto it = connections.find(s);
  return it != connections.end() ? &it->second : nullptr;
}

const ServerConnections::Connection* ServerConnections::Find(Socket s) const {
  const auto it = connections.find(s);
  return it != connections.end() ? &it->second : nullptr;
}

void ServerConnections::Drop(Socket s) {
  const auto it = connections.find(s);
  if (it == connections.end()) return;
  it->second.output.ForEachHeld([this](uint64_t origin, size_t n) { SettleBacklog(origin, n); });
  UniqueSocket socket = std::move(it->second.socket);
  connections.erase(it);
  // Closing a descriptor another thread may be polling would let its number
  // be reused under that thread: other threads only shut it down and leave
  // the close to the socket thread.
  if (onSocketThread() || !polling) return;  // closed here, as `socket` goes
  ShutdownSocket(socket.Get());
  deferredClose.push_back(std::move(socket));
  wake.Signal();
}

void ServerConnections::Clear() {
  // Each connection owns its socket: clearing them closes them.
  connections.clear();
  relayBacklog.clear();
  pendingWrites.clear();
  heldBack = false;
  CloseDeferred();
}

bool ServerConnections::Queue(Socket s, const CPacket& packet, uint64_t origin) {
  Connection* connection = Find(s);
  if (connection == nullptr) return true;  // already on its way out
  if (!connection->web) return Append(s, packet.data, packet.length, origin);
  // A browser takes each message as one WebSocket frame, once it has joined.
  if (!connection->web->Upgraded()) return true;
  framed.clear();
  connection->web->Send(packet.data, packet.length, framed);
  return framed.empty() || Append(s, framed.data(), framed.size(), origin);
}

bool ServerConnections::QueueRaw(Socket s, const std::vector<uint8_t>& bytes) {
  return bytes.empty() || Append(s, bytes.data(), bytes.size(), 0);
}

bool ServerConnections::Append(Socket s, const uint8_t* bytes, size_t n, uint64_t origin) {
  Connection* connection = Find(s);
  if (connection == nullptr) return true;
  // The socket thread waits for room on a connection whose output is left
  // over from a write, not on one whose output has yet to be offered.
  const bool watched = !connection->output.Empty() && !connection->pending;
  if (connection->output.Empty()) connection->lastProgress = Clock::now();
  connection->output.Append(bytes, n, origin);
  if (origin != 0) relayBacklog[origin] += n;
  if (batches > 0 && connection->output.Size() <= limits.outputLimit) {
    if (!connection->pending) pendingWrites.push_back(s);
    connection->pending = true;
    return true;
  }
  return Offer(*connection, watched);
}

bool ServerConnections::Offer(Connection& connection, bool watched) {
  if (!Write(connection)) return false;
  if (connection.output.Size() > limits.outputLimit) {
    errno = ENOBUFS;
    return false;
  }
  // What the socket did not take, the socket thread writes once it can.
  if (!watched && !connection.output.Empty() && !onSocketThread()) wake.Signal();
  return true;
}

std::vector<Socket> ServerConnections::WritePending() {
  std::vector<Socket> offered, failed;
  offered.swap(pendingWrites);
  for (Socket s : offered) {
    Connection* connection = Find(s);
    if (connection == nullptr || !connection->pending) continue;
    if (!Offer(*connection, false)) failed.push_back(s);
  }
  return failed;
}

void ServerConnections::WakeHeldBack() {
  if (heldBack && !onSocketThread()) wake.Signal();
}

bool ServerConnections::Write(Connection& connection) {
  connection.pending = false;
  const long taken =
      connection.output.Write(connection.socket.Get(), [this](uint64_t origin, size_t n) { SettleBacklog(origin, n); });
  if (taken < 0) return false;
  if (taken > 0) connection.lastProgress = Clock::now();
  return true;
}

short ServerConnections::WaitEvents(Socket s) {
  const Connection* connection = Find(s);
  if (connection == nullptr) return POLLIN;
  // A sender whose relays still wait for slow readers is read no more until
  // they drain; only the fast sender feels it.
  short events = connection->closing ? 0 : POLLIN;
  if (HoldsBack(*connection)) {
    events = 0;
    heldBack = true;
  }
  if (!connection->output.Empty() && !connection->pending) events |= POLLOUT;
  return events;
}

int ServerConnections::MillisecondsToNextDeadline(const Identified& identified) const {
  int best = -1;
  const auto now = Clock::now();
  const auto consider = [&](Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    const int ms = static_cast<int>(std::max<int64_t>(0, left.count()));
    if (best < 0 || ms < best) best = ms;
  };
  for (const auto& [s, connection] : connections) {
    // A connection whose last answer has left ends with the next pass.
    if (connection.closing && connection.output.Empty()) consider(now);
    if (!identified(s)) consider(connection.acceptedAt + limits.identifyTimeout);
    if (!connection.output.Empty()) consider(connection.lastProgress + limits.sendTimeout);
  }
  return best;
}

void ServerConnections::FindOverdue(const Identified& identified, std::vector<Socket>& unidentified,
                                    std::vector<Socket>& stalled) const {
  const auto now = Clock::now();
  for (const auto& [s, connection] : connections) {
    if (!identified(s) && now - connection.acceptedAt >= limits.identifyTimeout) unidentified.push_back(s);
    else if (!connection.output.Empty() && now - connection.lastProgress >= limits.sendTimeout) stalled.push_back(s);
  }
}

void ServerConnections::FindFinished(std::vector<Socket>& finished) const {
  for (const auto& [s, connection] : connections) {
    if (connection.closing && connection.output.Empty()) finished.push_back(s);
  }
}

void ServerConnections::WaitingOutputs(std::vector<pollfd>& fds) const {
  fds.clear();
  for (const auto& [s, connection] : connections) {
    if (!connection.output.Empty()) fds.push_back({s, POLLOUT, 0});
  }
}

void ServerConnections::WriteWhereReady(const std::vector<pollfd>& fds) {
  for (const pollfd& p : fds) {
    Connection* connection = Find(p.fd);
    if (p.revents == 0 || connection == nullptr) continue;
    if (!Write(*connection)) connection->output = OutputBuffer();
  }
}

void ServerConnections::CloseDeferred() {
  assert(onSocketThread() || !polling);
  deferredClose.clear();
}

void ServerConnections::SettleBacklog(uint64_t origin, size_t n) {
  const auto it = relayBacklog.find(origin);
  if (it == relayBacklog.end()) return;
  it->second -= std::min(it->second, n);
  if (it->second == 0) relayBacklog.erase(it);
}

bool ServerConnections::HoldsBack(const Connection& connection) const {
  const auto it = relayBacklog.find(connection.serial);
  return it != relayBacklog.end() && it->second > limits.senderBacklogLimit;
}
