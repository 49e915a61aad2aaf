// The socket thread of both roles: waiting, accepting, receiving, and cutting
// each connection's byte stream into messages.
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "net/passtiming.h"
#include "net/tcpip.h"
#include "protocol/diagnostics.h"
#include "protocol/extent.h"

namespace {
constexpr int EMPTY_PAUSE_MS = 10;
using Clock = std::chrono::steady_clock;
}  // namespace

uint32_t CTCPIP::ThreadProc() {
  if (!started) return 0;
  if (IsServer()) return ServerThreadProc();
  if (IsClient()) return ClientThreadProc();
  return 0;
}

void CTCPIP::PassPause(int ms) {
  pollfd p{wake.Fd(), POLLIN, 0};
  WaitReadable(&p, 1, ms);
}

template <typename Handle>
void CTCPIP::CutMessages(std::vector<uint8_t>& stream, bool toServer, Handle handle) {
  while (!stream.empty()) {
    const MessageExtent extent = FirstMessageExtent(stream.data(), stream.size(), toServer);
    if (extent.kind == ExtentKind::Incomplete) return;
    // Where no layout applies, everything buffered is one block, as far as a
    // block can hold; what lies beyond could not be read anyway.
    const size_t take = extent.kind == ExtentKind::Complete ? extent.length : stream.size();
    const size_t blockLength = std::min<size_t>(take, PACKET_CAPACITY);
    uint8_t block[PACKET_CAPACITY];
    std::copy_n(stream.begin(), blockLength, block);
    stream.erase(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(take));
    if (!handle(block, static_cast<uint16_t>(blockLength))) return;
  }
}

uint32_t CTCPIP::ServerThreadProc() {
  {
    CMonitorGuard guard(*this);
    readSet.Reset();
    readSet.Add(mainSocket);
    polling = true;
  }
  std::vector<pollfd> fds;
  while (active) {
    PassPause(PASS_PAUSE_MS);
    if (!active) break;

    const int timeout = PrepareServerWait(fds);
    const int ready = WaitForEvents(fds.data(), fds.size(), timeout);
    if (ready < 0) {
      Diag("CTCPIP::ThreadProc() - select() - error %d\n", LastSocketError());
      continue;
    }
    const bool woken = fds.back().revents != 0;
    if (woken) wake.Drain();
    if (!active) break;
    // A wait that found nothing at all (a time limit passed) pauses as an
    // empty pass does, outside the lock.
    if (!ServePass(fds) && ready - (woken ? 1 : 0) <= 0) PassPause(EMPTY_PAUSE_MS);
  }
  DrainOutput();
  CMonitorGuard guard(*this);
  CloseDeferredSockets();
  polling = false;
  return 0;
}

bool CTCPIP::ServePass(const std::vector<pollfd>& fds) {
  CMonitorGuard guard(*this);
  // Arrivals and departures of this pass leave together at its end.
  BeginOutputBatch();
  const bool received = ServeReady(fds);
  EndOutputBatch();
  return received;
}

bool CTCPIP::ServeReady(const std::vector<pollfd>& fds) {
  CloseDeferredSockets();
  ForgetOverdueConnections();
  // Writing first frees the buffers that hold senders back.
  for (size_t i = 0; i + 1 < fds.size(); ++i) {
    if ((fds[i].revents & (POLLOUT | POLLERR | POLLHUP)) == 0) continue;
    const auto it = connections.find(fds[i].fd);
    if (it != connections.end() && !it->second.output.Empty() && !WriteOutput(it->second)) {
      Diag("CTCPIP::SendMessageToAll() - send() error %d\n", LastSocketError());
      ForgetFailedReader(fds[i].fd);
    }
  }
  // The set is cut down to the readable sockets, in ascending order.
  readySet.Reset();
  for (size_t i = 0; i + 1 < fds.size(); ++i) {
    if ((fds[i].revents & ~POLLOUT) != 0) readySet.Add(fds[i].fd);
  }
  std::sort(readySet.fd_array, readySet.fd_array + readySet.fd_count);
  if (readySet.fd_count == 0) return false;
  if (readySet.Contains(mainSocket)) AcceptNewcomer();
  for (uint32_t i = 0; i < readySet.fd_count; ++i) {
    if (readySet.fd_array[i] != mainSocket) ReceiveFromConnection(readySet.fd_array[i]);
  }
  return true;
}

int CTCPIP::PrepareServerWait(std::vector<pollfd>& fds) {
  CMonitorGuard guard(*this);
  readySet = readSet;
  fds.clear();
  heldBack = false;
  for (uint32_t i = 0; i < readySet.fd_count; ++i) {
    const Socket s = readySet.fd_array[i];
    short events = POLLIN;
    const auto it = connections.find(s);
    if (it != connections.end()) {
      // A sender whose relays still wait for slow readers is read no more
      // until they drain; only the fast sender feels it.
      if (HoldsBack(it->second)) events = 0;
      heldBack = heldBack || events == 0;
      // Output not yet offered leaves at the end of the batch that appended it.
      if (!it->second.output.Empty() && !it->second.pending) events |= POLLOUT;
    }
    fds.push_back({s, events, 0});
  }
  fds.push_back({wake.Fd(), POLLIN, 0});
  return MillisecondsToNextDeadline();
}

void CTCPIP::DrainOutput() {
  std::vector<pollfd> fds;
  for (;;) {
    int64_t left = 0;
    {
      CMonitorGuard guard(*this);
      left = std::chrono::ceil<std::chrono::milliseconds>(drainDeadline - Clock::now()).count();
      fds.clear();
      for (auto& [s, connection] : connections) {
        if (!connection.output.Empty()) fds.push_back({s, POLLOUT, 0});
      }
    }
    if (left <= 0 || fds.empty() || WaitForEvents(fds.data(), fds.size(), static_cast<int>(left)) <= 0) return;
    CMonitorGuard guard(*this);
    for (const pollfd& p : fds) {
      const auto it = connections.find(p.fd);
      if (p.revents == 0 || it == connections.end()) continue;
      // A reader that failed now is left to the close that follows.
      if (!WriteOutput(it->second)) it->second.output = OutputBuffer();
    }
  }
}

void CTCPIP::AcceptNewcomer() {
  const Socket s = AcceptConnection(mainSocket);
  if (s == INVALID_SOCKET) {
    Diag("CTCPIP::ThreadProc() - accept() - error %d\n", LastSocketError());
    return;
  }
  // A connection that could never be read must not receive relays either.
  if (readSet.Full()) {
    CloseSocket(s);
    return;
  }
  AdoptConnection(s);
}

bool CTCPIP::AdoptConnection(Socket s) {
  CMonitorGuard guard(*this);
  if (!readSet.Add(s)) return false;
  SetNoDelay(s);
  if (limits.acceptedSendBuffer > 0) {
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, &limits.acceptedSendBuffer, sizeof limits.acceptedSendBuffer);
  }
  Connection& connection = connections[s];
  connection.socket.Reset(s);
  connection.acceptedAt = Clock::now();
  connection.serial = nextSerial++;
  return true;
}

void CTCPIP::ReceiveFromConnection(Socket s) {
  auto it = connections.find(s);
  if (it == connections.end()) return;  // forgotten earlier in this pass
  uint8_t InData[RECEIVE_SIZE];
  const long n = ReceiveSome(s, InData, sizeof InData);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
  if (n <= 0) {
    ForgetConnection(s);
    return;
  }
  HandleReceivedBytes(s, InData, static_cast<size_t>(n));
}

void CTCPIP::HandleReceivedBytes(Socket s, const uint8_t* bytes, size_t n) {
  CMonitorGuard guard(*this);
  auto it = connections.find(s);
  if (it == connections.end()) return;
  it->second.stream.insert(it->second.stream.end(), bytes, bytes + n);
  // Cut from a moved-out stream: handling a block may forget this very
  // connection, and with it the map entry.
  std::vector<uint8_t> stream = std::move(it->second.stream);
  bool alive = true;
  CutMessages(stream, true, [&](const uint8_t* block, uint16_t length) {
    HandleServerBlock(s, block, length);
    alive = connections.count(s) != 0;
    return alive;
  });
  if (alive) connections[s].stream = std::move(stream);
}

void CTCPIP::HandleServerBlock(Socket s, const uint8_t* block, uint16_t n) {
  const bool identified = clientTable.count(s) != 0;
  ProcessIncomingData(block, n, s);
  // The first message must identify the connection; anything else ends it.
  if (!identified && clientTable.count(s) == 0) ForgetConnection(s);
}

int CTCPIP::MillisecondsToNextDeadline() const {
  int best = -1;
  const auto now = Clock::now();
  const auto consider = [&](Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    const int ms = static_cast<int>(std::max<int64_t>(0, left.count()));
    if (best < 0 || ms < best) best = ms;
  };
  for (const auto& [s, connection] : connections) {
    if (clientTable.count(s) == 0) consider(connection.acceptedAt + limits.identifyTimeout);
    if (!connection.output.Empty()) consider(connection.lastProgress + limits.sendTimeout);
  }
  return best;
}

void CTCPIP::ForgetOverdueConnections() {
  const auto now = Clock::now();
  std::vector<Socket> unidentified, stalled;
  for (const auto& [s, connection] : connections) {
    if (clientTable.count(s) == 0 && now - connection.acceptedAt >= limits.identifyTimeout) unidentified.push_back(s);
    else if (!connection.output.Empty() && now - connection.lastProgress >= limits.sendTimeout) stalled.push_back(s);
  }
  for (Socket s : unidentified) ForgetConnection(s);
  for (Socket s : stalled) {
    Diag("CTCPIP::SendMessageToAll() - send() error %d\n", ETIMEDOUT);
    ForgetFailedReader(s);
  }
}

uint32_t CTCPIP::ClientThreadProc() {
  const Socket s = clientSocket.Get();
  while (active) {
    PassPause(PASS_PAUSE_MS);
    if (!active) break;
    // Bytes waiting to leave: watch for room, and wake at their send limit.
    const int stall = clientSocket.MillisecondsToStall(limits.sendTimeout);
    const short events = static_cast<short>(stall >= 0 ? POLLIN | POLLOUT : POLLIN);
    pollfd fds[2] = {{s, events, 0}, {wake.Fd(), POLLIN, 0}};
    if (WaitForEvents(fds, 2, stall) < 0) continue;
    if (fds[1].revents != 0) wake.Drain();
    if (!active) break;
    if ((fds[0].revents & POLLOUT) != 0 && !clientSocket.WriteWaiting()) return LoseServer();
    if (clientSocket.MillisecondsToStall(limits.sendTimeout) == 0) return LoseServer();
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    // Everything waiting is taken each pass, one receive at a time, so that
    // a client keeps up with a server relaying several senders at once.
    for (size_t taken = 0; taken < CLIENT_PASS_READ_LIMIT;) {
      uint8_t InData[RECEIVE_SIZE];
      const long n = ReceiveSome(s, InData, sizeof InData);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      // An orderly close is as final as a failure: the server is gone.
      if (n <= 0) return LoseServer();
      HandleServerBytes(InData, static_cast<size_t>(n));
      taken += static_cast<size_t>(n);
    }
  }
  DrainClientOutput();
  return 0;
}

uint32_t CTCPIP::LoseServer() {
  Diag("CTCPIP::ThreadProc() - recv() - Server deconnected.\n");
  Stop();
  return 1;
}

void CTCPIP::DrainClientOutput() {
  Clock::time_point deadline;
  {
    CMonitorGuard guard(*this);
    deadline = drainDeadline;
  }
  pollfd p{clientSocket.Get(), POLLOUT, 0};
  while (clientSocket.HasOutput()) {
    const int64_t left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || WaitForEvents(&p, 1, static_cast<int>(left)) <= 0) return;
    if (!clientSocket.WriteWaiting()) return;
  }
}

void CTCPIP::HandleServerBytes(const uint8_t* bytes, size_t n) {
  serverStream.insert(serverStream.end(), bytes, bytes + n);
  CutMessages(serverStream, false, [&](const uint8_t* block, uint16_t length) {
    ProcessIncomingData(block, length, mainSocket);
    return true;
  });
}
