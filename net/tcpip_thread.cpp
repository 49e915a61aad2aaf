// The socket thread of both roles: waiting, accepting, receiving, and cutting
// each connection's byte stream into messages.
#include <sys/socket.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <thread>

#include "net/passtiming.h"
#include "net/socketset.h"
#include "net/tcpip.h"
#include "net/tlsstream.h"
#include "net/webstream.h"
#include "protocol/diagnostics.h"
#include "protocol/extent.h"

namespace {
// After a wait that failed (never expected: poll fails only for want of
// memory), before the next.
constexpr int FAILED_WAIT_RETRY_MS = 10;
// Out of descriptors, accepting rests this long.
constexpr std::chrono::milliseconds ACCEPT_REST{100};
using Clock = std::chrono::steady_clock;
}  // namespace

uint32_t CTCPIP::ThreadProc() {
  if (!started) return 0;
  if (IsServer()) return ServerThreadProc();
  if (IsClient()) return ClientThreadProc();
  return 0;
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
  assert(IsCurrentThread());
  {
    CMonitorGuard guard(*this);
    readSet.Reset();
    readSet.Add(mainSocket.Get());
    connections.SetPolling(true);
  }
  std::vector<pollfd> fds;
  // Each wake-up handles whatever is ready and sleeps again until something
  // is: bytes, room for output, a newcomer, a message from another thread, or
  // the nearest deadline. A quiet chat's line leaves at once; a busy one's
  // wake-ups see many senders and write their relays once per reader.
  while (active) {
    const int timeout = PrepareServerWait(fds);
    const int ready = WaitForEvents(fds.data(), fds.size(), timeout);
    if (ready < 0) {
      Diag("CTCPIP::ThreadProc() - select() - error %d\n", LastSocketError());
      // A wait that keeps failing must not spin: it is tried again once woken
      // or after a moment.
      pollfd p{wake.Fd(), POLLIN, 0};
      WaitReadable(&p, 1, FAILED_WAIT_RETRY_MS);
      continue;
    }
    if (fds.back().revents != 0) wake.Drain();
    if (!active) break;
    ServePass(fds);
  }
  DrainOutput();
  CMonitorGuard guard(*this);
  connections.CloseDeferred();
  connections.SetPolling(false);
  return 0;
}

void CTCPIP::ServePass(const std::vector<pollfd>& fds) {
  assert(IsCurrentThread());
  CMonitorGuard guard(*this);
  // What the wake-up received is relayed in it, and every relay, arrival and
  // departure leaves together at its end, one write per reader.
  BeginOutputBatch();
  if (ServeReady(fds)) HandleQueued();
  EndOutputBatch();
}

void CTCPIP::HandleQueued() {}

bool CTCPIP::ServeReady(const std::vector<pollfd>& fds) {
  connections.CloseDeferred();
  ForgetOverdueConnections();
  refusalDesk.Serve(fds, Clock::now());
  // Writing first frees the buffers that hold senders back. A reader that
  // fails goes at the end of the pass.
  for (size_t i = 0; i < deskFrom; ++i) {
    if ((fds[i].revents & (POLLOUT | POLLERR | POLLHUP)) == 0) continue;
    ServerConnections::Watched* connection = connections.Find(fds[i].fd);
    if (connection != nullptr && connection->output.WantsRoom() && !connections.WriteBlocked(*connection)) {
      Diag("CTCPIP::SendMessageToAll() - send() error %d\n", LastSocketError());
    }
  }
  // The set is cut down to the readable sockets, in ascending order.
  readySet.Reset();
  for (size_t i = 0; i < deskFrom; ++i) {
    if ((fds[i].revents & ~POLLOUT) != 0) readySet.Add(fds[i].fd);
  }
  std::sort(readySet.fd_array, readySet.fd_array + readySet.fd_count);
  if (readySet.fd_count == 0) return false;
  if (readySet.Contains(mainSocket.Get())) AcceptNewcomers();
  for (uint32_t i = 0; i < readySet.fd_count; ++i) {
    if (readySet.fd_array[i] != mainSocket.Get()) ReceiveFromConnection(readySet.fd_array[i]);
  }
  return true;
}

int CTCPIP::PrepareServerWait(std::vector<pollfd>& fds) {
  assert(IsCurrentThread());
  CMonitorGuard guard(*this);
  readySet = readSet;
  fds.clear();
  connections.BeginWait();
  const auto now = Clock::now();
  const bool accepting = now >= acceptResumesAt;
  for (uint32_t i = 0; i < readySet.fd_count; ++i) {
    const Socket s = readySet.fd_array[i];
    if (s == mainSocket.Get()) {
      // Out of descriptors, a pending connection would wake every wait at
      // once: the listener rests until the moment has passed.
      fds.push_back({accepting ? s : -s - 1, POLLIN, 0});
      continue;
    }
    const short events = connections.WaitEvents(s);
    // A connection that waits for nothing is left out: its hang-up alone
    // would otherwise end every wait at once.
    fds.push_back({events != 0 ? s : -s - 1, events, 0});
  }
  deskFrom = fds.size();
  refusalDesk.AddWaits(fds);
  fds.push_back({wake.Fd(), POLLIN, 0});
  int timeout = connections.MillisecondsToNextDeadline([this](Socket s) { return Identified(s); });
  const int desk = refusalDesk.MillisecondsToNextDeadline(now);
  if (desk >= 0) timeout = timeout < 0 ? desk : std::min(timeout, desk);
  if (!accepting) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(acceptResumesAt - now).count();
    timeout = timeout < 0 ? static_cast<int>(left) : std::min(timeout, static_cast<int>(left));
  }
  return timeout;
}

void CTCPIP::DrainOutput() {
  assert(IsCurrentThread());
  std::vector<pollfd> fds;
  for (;;) {
    int64_t left = 0;
    {
      CMonitorGuard guard(*this);
      left = std::chrono::ceil<std::chrono::milliseconds>(drainDeadline - Clock::now()).count();
      connections.WaitingOutputs(fds);
    }
    if (left <= 0 || fds.empty() || WaitForEvents(fds.data(), fds.size(), static_cast<int>(left)) <= 0) return;
    CMonitorGuard guard(*this);
    connections.WriteWhereReady(fds);
  }
}

void CTCPIP::AcceptNewcomers() {
  assert(IsCurrentThread());
  // Everyone waiting is taken in this wake-up, up to the watched set's size.
  for (uint32_t taken = 0; taken < SOCKET_SET_SIZE; ++taken) {
    uint32_t address = 0;
    const Socket s = AcceptConnection(mainSocket.Get(), address);
    if (s == INVALID_SOCKET) {
      const int error = LastSocketError();  // before the diagnostic can change it
      if (error == EAGAIN || error == EWOULDBLOCK) return;
      if (error == ECONNABORTED) continue;
      Diag("CTCPIP::ThreadProc() - accept() - error %d\n", error);
      if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
        acceptResumesAt = Clock::now() + ACCEPT_REST;
      }
      return;
    }
    // A connection that could never be read must not receive relays either,
    // nor may one machine take the seats of all the others. One turned away
    // is told why inside TLS when it asks for TLS.
    const bool counted = !(limits.loopbackExempt && IsLoopback(address));
    uint32_t seconds = 0;
    if (const uint16_t reason = Turned(address, counted, seconds); reason != 0) {
      refusalDesk.Take(s, address, reason, seconds, Clock::now());
      continue;
    }
    AdoptConnection(s, address);
  }
}

bool CTCPIP::AdoptConnection(Socket s, uint32_t address) {
  CMonitorGuard guard(*this);
  if (!readSet.Add(s)) return false;
  connections.Adopt(s, address);
  return true;
}

void CTCPIP::ReceiveFromConnection(Socket s) {
  assert(IsCurrentThread());
  ServerConnections::Watched* connection = connections.Find(s);
  if (connection == nullptr) return;  // forgotten earlier in this wake-up
  uint8_t InData[RECEIVE_SIZE];
  const long n = ReceiveSome(s, InData, sizeof InData);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
  if (n <= 0) {
    ForgetConnection(s);
    return;
  }
  connections.Took(*connection, static_cast<size_t>(n));
  HandleReceivedBytes(s, InData, static_cast<size_t>(n));
}

void CTCPIP::HandleReceivedBytes(Socket s, const uint8_t* bytes, size_t n) {
  CMonitorGuard guard(*this);
  ServerConnections::Watched* connection = connections.Find(s);
  // A connection that said its last is heard no more.
  if (connection == nullptr || ServerConnections::Ending(*connection)) return;
  std::vector<uint8_t> own;
  bool trusted = true;
  if (connection->stream) {
    trusted = connection->Take(bytes, n, own);
  } else {
    connection->firstBytes.insert(connection->firstBytes.end(), bytes, bytes + n);
    const StreamKind kind = KindOfFirstBytes(connection->firstBytes.data(), connection->firstBytes.size());
    if (kind == StreamKind::Undecided) return;
    const std::vector<uint8_t> first = std::move(connection->firstBytes);
    trusted = StartStream(*connection, kind) && connection->Take(first.data(), first.size(), own);
  }
  if (trusted && connection->stream->Encrypted() && !connection->plainSniffed) {
    trusted = SniffInsideTls(s, *connection, own);
    if (trusted && !connection->plainSniffed) {
      if (!own.empty()) connections.QueueOwn(s, own);
      return;
    }
  }
  if (!trusted) {
    ForgetConnection(s);
    return;
  }
  // A handshake's answer leaves with the pass's other output; a newcomer
  // whose answer cannot leave goes at the end of the pass.
  if (!own.empty()) connections.QueueOwn(s, own);
  if (connection->stream->HandsOff()) {
    HandOffToFileDoor(s);
    return;
  }
  CutReceived(s);
}

bool CTCPIP::StartStream(ServerConnections::Watched& connection, StreamKind kind) {
  // A host without TLS reads a handshake as the plain messages it is not,
  // and refuses it as it refuses any such first message.
  if (kind == StreamKind::Tls && hostSecurity.tls) {
    connection.stream = TlsStream::Accepting(hostSecurity.tls);
    return connection.stream != nullptr;
  }
  // A browser is answered even by a host that takes only encrypted
  // connections: its front door sends it to the encrypted page.
  if (kind == StreamKind::Web && frontDoor) {
    connection.stream =
        std::make_unique<WebStream>(std::make_unique<PlainStream>(), *frontDoor, DoorstepOf(connection.Get(), false));
    return true;
  }
  // A password travels inside TLS alone: a chat with one is encrypted only.
  if (hostSecurity.encryptedOnly || !hostSecurity.password.empty()) return false;
  connection.stream = std::make_unique<PlainStream>();
  return true;
}

bool CTCPIP::SniffInsideTls(Socket s, ServerConnections::Watched& connection, std::vector<uint8_t>& own) {
  const HttpSniff sniff = SniffHttpRequest(connection.received.data(), connection.received.size());
  if (connection.received.empty() || sniff == HttpSniff::NeedMore) return true;
  connection.plainSniffed = true;
  if (sniff == HttpSniff::No || !frontDoor) return true;
  auto web = std::make_unique<WebStream>(std::move(connection.stream), *frontDoor, DoorstepOf(s, true));
  const std::vector<uint8_t> plain = std::move(connection.received);
  connection.received.clear();
  const bool trusted = web->OpenInner(plain, connection.received, own);
  connection.stream = std::move(web);
  return trusted;
}

Doorstep CTCPIP::DoorstepOf(Socket s, bool tls) const {
  return {tls, DottedAddress(LocalAddress(s).address), listeningPort};
}

void CTCPIP::CutReceived(Socket s) {
  // Cut from a moved-out stream: handling a block may forget this very
  // connection, and with it the entry.
  std::vector<uint8_t> stream = std::move(connections.Find(s)->received);
  bool alive = true;
  CutMessages(stream, true, [&](const uint8_t* block, uint16_t length) {
    HandleServerBlock(s, block, length);
    const ServerConnections::Watched* connection = connections.Find(s);
    alive = connection != nullptr && !ServerConnections::Ending(*connection);
    return alive;
  });
  if (alive) connections.Find(s)->received = std::move(stream);
}

void CTCPIP::HandleServerBlock(Socket s, const uint8_t* block, uint16_t n) {
  const bool identified = Identified(s);
  ServerConnections::Watched* connection = connections.Find(s);
  if (!identified && IsEarlyHello(*connection, block, n)) {
    ProcessEarlyHello(s, *connection, block, n);
    return;
  }
  // The first message must identify the connection, after the chat's
  // password where it has one; anything else ends it.
  if (!identified && !Admitted(*connection)) {
    ForgetConnection(s);
    return;
  }
  ProcessIncomingData(block, n, s);
  if (identified) return;
  if (!Identified(s)) {
    ForgetConnection(s);
  } else if (connection->helloFirst && clientTable.MarkAsked(s)) {
    // Its HELLO came first: answered now that the newcomer is in.
    AnswerHello(s, connection->understands);
  }
}

void CTCPIP::ForgetOverdueConnections() {
  std::vector<Socket> unidentified, stalled;
  connections.FindOverdue([this](Socket s) { return Identified(s); }, unidentified, stalled);
  for (Socket s : unidentified) ForgetConnection(s);
  // Marked as failed: they go at the end of this pass.
  for (size_t i = 0; i < stalled.size(); ++i) Diag("CTCPIP::SendMessageToAll() - send() error %d\n", ETIMEDOUT);
}

uint32_t CTCPIP::ClientThreadProc() {
  assert(IsCurrentThread());
  const Socket s = clientSocket.Get();
  while (active) {
    // Bytes waiting to leave: watch for room, and wake at their send limit.
    // While the queue is full nothing is read, nor is a hang-up looked at:
    // the poll loop wakes this thread once it has taken half.
    const int stall = clientSocket.MillisecondsToStall(limits.sendTimeout);
    const short events = static_cast<short>((stall >= 0 ? POLLOUT : 0) | (QueueFull() ? 0 : POLLIN));
    pollfd fds[2] = {{events != 0 ? s : -1, events, 0}, {wake.Fd(), POLLIN, 0}};
    if (WaitForEvents(fds, 2, stall) < 0) {
      pollfd p{wake.Fd(), POLLIN, 0};
      WaitReadable(&p, 1, FAILED_WAIT_RETRY_MS);
      continue;
    }
    if (fds[1].revents != 0) wake.Drain();
    if (!active) break;
    if ((fds[0].revents & POLLOUT) != 0 && !clientSocket.WriteWaiting()) return LoseServer();
    if (clientSocket.MillisecondsToStall(limits.sendTimeout) == 0) return LoseServer();
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    // Everything waiting is taken each pass, one receive at a time, so that
    // a client keeps up with a server relaying several senders at once.
    for (size_t taken = 0; taken < CLIENT_PASS_READ_LIMIT && !QueueFull();) {
      uint8_t InData[RECEIVE_SIZE];
      const long n = ReceiveSome(s, InData, sizeof InData);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      // An orderly close is as final as a failure: the server is gone.
      if (n <= 0) return LoseServer();
      opened.clear();
      if (!clientSocket.Open(InData, static_cast<size_t>(n), opened)) return LoseServer();
      HandleServerBytes(opened.data(), opened.size());
      taken += static_cast<size_t>(n);
    }
  }
  DrainClientOutput();
  return 0;
}

uint32_t CTCPIP::LoseServer() {
  assert(IsCurrentThread());
  Diag("CTCPIP::ThreadProc() - recv() - Server deconnected.\n");
  Stop();
  return 1;
}

void CTCPIP::DrainClientOutput() {
  assert(IsCurrentThread());
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
    ProcessIncomingData(block, length, clientSocket.Get());
    return true;
  });
}
