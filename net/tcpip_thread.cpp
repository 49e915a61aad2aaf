// The socket thread of both roles: waiting, accepting, receiving, and cutting
// each connection's byte stream into messages.
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "net/tcpip.h"
#include "protocol/diagnostics.h"
#include "protocol/extent.h"

namespace {
constexpr int PASS_PAUSE_MS = 50;
constexpr int EMPTY_PAUSE_MS = 10;
constexpr size_t RECEIVE_SIZE = PACKET_CAPACITY;
using Clock = std::chrono::steady_clock;
}  // namespace

uint32_t CTCPIP::ThreadProc() {
  if (!started) return 0;
  if (isServer) return ServerThreadProc();
  if (isClient) return ClientThreadProc();
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
  Lock();
  readSet.Reset();
  readSet.Add(mainSocket);
  Unlock();

  std::vector<pollfd> fds;
  while (active) {
    PassPause(PASS_PAUSE_MS);
    if (!active) break;

    Lock();
    readySet = readSet;
    const int timeout = MillisecondsToNextIdentifyDeadline();
    Unlock();

    fds.clear();
    for (uint32_t i = 0; i < readySet.fd_count; ++i) fds.push_back({readySet.fd_array[i], POLLIN, 0});
    fds.push_back({wake.Fd(), POLLIN, 0});
    const int ready = WaitReadable(fds.data(), fds.size(), timeout);
    if (ready < 0) {
      Diag("CTCPIP::ThreadProc() - select() - error %d\n", LastSocketError());
      continue;
    }
    if (fds.back().revents != 0) wake.Drain();
    if (!active) break;

    Lock();
    CloseDeferredSockets();
    CloseUnidentifiedPastDeadline();
    // The set is cut down to the ready sockets, in ascending order.
    readySet.Reset();
    for (size_t i = 0; i + 1 < fds.size(); ++i) {
      if (fds[i].revents != 0) readySet.Add(fds[i].fd);
    }
    std::sort(readySet.fd_array, readySet.fd_array + readySet.fd_count);
    if (readySet.fd_count == 0) {
      Unlock();
      PassPause(EMPTY_PAUSE_MS);
      continue;
    }
    if (readySet.Contains(mainSocket)) AcceptNewcomer();
    for (uint32_t i = 0; i < readySet.fd_count; ++i) {
      if (readySet.fd_array[i] != mainSocket) ReceiveFromConnection(readySet.fd_array[i]);
    }
    Unlock();
  }
  Lock();
  CloseDeferredSockets();
  Unlock();
  return 0;
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
  Lock();
  const bool added = readSet.Add(s);
  if (added) {
    SetNoDelay(s);
    if (limits.acceptedSendBuffer > 0) {
      setsockopt(s, SOL_SOCKET, SO_SNDBUF, &limits.acceptedSendBuffer, sizeof limits.acceptedSendBuffer);
    }
    Connection& connection = connections[s];
    connection.acceptedAt = Clock::now();
    connection.serial = nextSerial++;
  }
  Unlock();
  return added;
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
  Lock();
  auto it = connections.find(s);
  if (it == connections.end()) {
    Unlock();
    return;
  }
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
  Unlock();
}

void CTCPIP::HandleServerBlock(Socket s, const uint8_t* block, uint16_t n) {
  const bool identified = clientTable.count(s) != 0;
  ProcessIncomingData(block, n, s);
  // The first message must identify the connection; anything else ends it.
  if (!identified && clientTable.count(s) == 0) ForgetConnection(s);
}

int CTCPIP::MillisecondsToNextIdentifyDeadline() const {
  int best = -1;
  const auto now = Clock::now();
  for (const auto& [s, connection] : connections) {
    if (clientTable.count(s) != 0) continue;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(connection.acceptedAt + limits.identifyTimeout - now);
    const int ms = static_cast<int>(std::max<int64_t>(0, left.count()));
    if (best < 0 || ms < best) best = ms;
  }
  return best;
}

void CTCPIP::CloseUnidentifiedPastDeadline() {
  const auto now = Clock::now();
  std::vector<Socket> late;
  for (const auto& [s, connection] : connections) {
    if (clientTable.count(s) == 0 && now - connection.acceptedAt >= limits.identifyTimeout) late.push_back(s);
  }
  for (Socket s : late) ForgetConnection(s);
}

uint32_t CTCPIP::ClientThreadProc() {
  while (active) {
    PassPause(PASS_PAUSE_MS);
    if (!active) break;
    pollfd fds[2] = {{mainSocket, POLLIN, 0}, {wake.Fd(), POLLIN, 0}};
    if (WaitReadable(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) {
      wake.Drain();
      continue;
    }
    uint8_t InData[RECEIVE_SIZE];
    const long n = ReceiveSome(mainSocket, InData, sizeof InData);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) {
      // An orderly close is as final as a failure: the server is gone.
      Diag("CTCPIP::ThreadProc() - recv() - Server deconnected.\n");
      Stop();
      return 1;
    }
    HandleServerBytes(InData, static_cast<size_t>(n));
  }
  return 0;
}

void CTCPIP::HandleServerBytes(const uint8_t* bytes, size_t n) {
  serverStream.insert(serverStream.end(), bytes, bytes + n);
  CutMessages(serverStream, false, [&](const uint8_t* block, uint16_t length) {
    ProcessIncomingData(block, length, mainSocket);
    return true;
  });
}
