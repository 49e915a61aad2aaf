#include "net/serverconnections.h"

#include <map>

#include <sys/socket.h>

#include <algorithm>
#include <cassert>
#include <cerrno>

ServerConnections::ServerConnections(const TransportLimits& limits, WakeEvent& wake,
                                     std::function<bool()> onSocketThread)
    : limits(limits), wake(wake), onSocketThread(std::move(onSocketThread)) {}

ServerConnections::Watched& ServerConnections::Adopt(Socket s, uint32_t address) {
  SetNoDelay(s);
  if (limits.acceptedSendBuffer > 0) {
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, &limits.acceptedSendBuffer, sizeof limits.acceptedSendBuffer);
  }
  Watched& connection = connections[s];
  connection.socket.Reset(s);
  connection.acceptedAt = Clock::now();
  connection.intake = limits.intakeBurst;
  connection.intakeAt = connection.acceptedAt;
  connection.address = address;
  connection.serial = nextSerial++;
  return connection;
}

ServerConnections::Watched* ServerConnections::Find(Socket s) {
  const auto it = connections.find(s);
  return it != connections.end() ? &it->second : nullptr;
}

const ServerConnections::Watched* ServerConnections::Find(Socket s) const {
  const auto it = connections.find(s);
  return it != connections.end() ? &it->second : nullptr;
}

size_t ServerConnections::CountFrom(uint32_t address) const {
  return static_cast<size_t>(std::count_if(connections.begin(), connections.end(),
                                           [&](const auto& entry) { return entry.second.address == address; }));
}

std::vector<std::pair<uint32_t, size_t>> ServerConnections::Busiest(size_t n) const {
  std::map<uint32_t, size_t> counts;
  for (const auto& [s, connection] : connections) ++counts[connection.address];
  std::vector<std::pair<uint32_t, size_t>> busiest(counts.begin(), counts.end());
  std::stable_sort(busiest.begin(), busiest.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  if (busiest.size() > n) busiest.resize(n);
  return busiest;
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

bool ServerConnections::Release(Socket s, Connection& out) {
  const auto it = connections.find(s);
  if (it == connections.end()) return false;
  Watched& connection = it->second;
  if (!connection.output.Empty() && (connection.output.GetState() == ConnectionOutput::State::Failed ||
                                     !Write(s, connection) || !connection.output.Empty())) {
    return false;
  }
  out.socket = std::move(connection.socket);
  out.stream = std::move(connection.stream);
  connections.erase(it);
  return true;
}

void ServerConnections::Clear() {
  // Each connection owns its socket: clearing them closes them.
  connections.clear();
  relayBacklog.clear();
  pendingWrites.clear();
  failed.clear();
  heldBack = false;
  CloseDeferred();
}

bool ServerConnections::Queue(Socket s, const CPacket& packet, uint64_t origin) {
  Watched* connection = Find(s);
  // Gone already, or a newcomer that cannot be written to yet.
  if (connection == nullptr || !connection->stream) return true;
  const auto next = connection->output.Append(packet.data, packet.length, origin, *connection->stream, batches > 0,
                                              limits.outputLimit);
  if (origin != 0 && connection->output.GetState() != ConnectionOutput::State::Failed) {
    relayBacklog[origin] += packet.length;
  }
  return Follow(s, *connection, next);
}

bool ServerConnections::QueueOwn(Socket s, const std::vector<uint8_t>& bytes) {
  Watched* connection = Find(s);
  if (connection == nullptr) return true;
  return Follow(s, *connection, connection->output.AppendOwn(bytes, batches > 0, limits.outputLimit));
}

bool ServerConnections::Follow(Socket s, Watched& connection, ConnectionOutput::Next next) {
  switch (next) {
    case ConnectionOutput::Next::Nothing: return true;
    case ConnectionOutput::Next::ListPending: pendingWrites.push_back(s); return true;
    case ConnectionOutput::Next::Write: break;
  }
  const bool wasWatched = connection.output.WantsRoom();
  if (!Write(s, connection)) return false;
  // What the socket did not take, the socket thread writes once it can.
  if (!wasWatched && connection.output.WantsRoom() && !onSocketThread()) wake.Signal();
  return true;
}

bool ServerConnections::Write(Socket s, Watched& connection) {
  const bool written =
      connection.Write(limits.outputLimit, [this](uint64_t origin, size_t n) { SettleBacklog(origin, n); });
  if (!written) MarkFailed(s, connection);
  return written;
}

void ServerConnections::MarkFailed(Socket s, Watched& connection) {
  const int error = errno;
  connection.output.Fail();
  failed.push_back(s);
  // The owner drops it at the end of the socket thread's pass at the latest.
  if (!onSocketThread()) wake.Signal();
  errno = error;
}

std::vector<int> ServerConnections::WritePending() {
  std::vector<int> errors;
  std::vector<Socket> offered;
  offered.swap(pendingWrites);
  for (Socket s : offered) {
    Watched* connection = Find(s);
    if (connection == nullptr || connection->output.GetState() != ConnectionOutput::State::Pending) continue;
    if (!Write(s, *connection)) errors.push_back(errno);
  }
  return errors;
}

std::vector<Socket> ServerConnections::TakeFailed() {
  std::vector<Socket> taken;
  taken.swap(failed);
  // A number may have failed, been dropped and come back as another
  // connection: only what is still there and Failed goes, once.
  std::sort(taken.begin(), taken.end());
  taken.erase(std::unique(taken.begin(), taken.end()), taken.end());
  std::erase_if(taken, [this](Socket s) {
    const Watched* connection = Find(s);
    return connection == nullptr || connection->output.GetState() != ConnectionOutput::State::Failed;
  });
  return taken;
}

std::vector<Socket> ServerConnections::Ended() const {
  std::vector<Socket> ended;
  for (const auto& [s, connection] : connections) {
    if (Ending(connection) && connection.output.Empty()) ended.push_back(s);
  }
  return ended;
}

void ServerConnections::WakeHeldBack() {
  if (heldBack && !onSocketThread()) wake.Signal();
}

bool ServerConnections::WriteBlocked(Watched& connection) {
  assert(connection.output.WantsRoom());
  return Write(connection.Get(), connection);
}

short ServerConnections::WaitEvents(Socket s) {
  const Watched* connection = Find(s);
  if (connection == nullptr) return POLLIN;
  // A sender whose relays still wait for slow readers is read no more until
  // they drain; only the fast sender feels it.
  short events = Ending(*connection) || IntakeAt(*connection, Clock::now()) <= 0 ? 0 : POLLIN;
  if (HoldsBack(*connection)) {
    events = 0;
    heldBack = true;
  }
  if (connection->output.WantsRoom()) events |= POLLOUT;
  return events;
}

int ServerConnections::MillisecondsToNextDeadline(const Identified& identified) const {
  // Output or failures left for a pass's end by a thread that had no pass.
  if (!failed.empty() || (batches == 0 && !pendingWrites.empty())) return 0;
  int best = -1;
  const auto now = Clock::now();
  const auto consider = [&](Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    const int ms = static_cast<int>(std::max<int64_t>(0, left.count()));
    if (best < 0 || ms < best) best = ms;
  };
  for (const auto& [s, connection] : connections) {
    // A connection whose last answer has left ends with the next pass.
    if (Ending(connection) && connection.output.Empty()) consider(now);
    if (!identified(s)) consider(IdentifyBy(connection));
    if (!connection.output.Empty()) consider(connection.output.StallsAt(limits.sendTimeout));
    // A sender that spent its intake is read again once some has come back.
    const double intake = IntakeAt(connection, now);
    if (intake <= 0 && limits.intakePerSecond > 0) {
      consider(now + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>((1 - intake) / limits.intakePerSecond)));
    }
  }
  return best;
}

void ServerConnections::FindOverdue(const Identified& identified, std::vector<Socket>& unidentified,
                                    std::vector<Socket>& stalled) {
  const auto now = Clock::now();
  for (auto& [s, connection] : connections) {
    if (!identified(s) && now >= IdentifyBy(connection)) {
      unidentified.push_back(s);
    } else if (connection.output.Stalled(now, limits.sendTimeout)) {
      errno = ETIMEDOUT;
      MarkFailed(s, connection);
      stalled.push_back(s);
    }
  }
}

Socket ServerConnections::LongestIdle(std::optional<uint32_t> address) const {
  Socket longest = INVALID_SOCKET;
  Clock::time_point since{};
  for (const auto& [s, connection] : connections) {
    if (!connection.stream || !connection.stream->Idle() || !connection.output.Empty()) continue;
    if (address && connection.address != *address) continue;
    // The earliest deadline is that of the longest wait.
    const Clock::time_point by = IdentifyBy(connection);
    if (longest == INVALID_SOCKET || by < since) {
      longest = s;
      since = by;
    }
  }
  return longest;
}

void ServerConnections::SayGoodbye() {
  for (auto& [s, connection] : connections) {
    if (!connection.stream || !connection.stream->HasGoodbye()) continue;
    if (connection.output.GetState() == ConnectionOutput::State::Failed) continue;
    // Messages still staged are sealed first: nothing is sealed after the last word.
    if (!connection.output.Empty() && !Write(s, connection)) continue;
    std::vector<uint8_t> last;
    if (!connection.stream->Goodbye(last)) continue;
    // Ended by the host's own going: nobody is told of its departure.
    connection.departed = true;
    QueueOwn(s, last);
  }
}

void ServerConnections::WaitingOutputs(std::vector<pollfd>& fds) const {
  fds.clear();
  for (const auto& [s, connection] : connections) {
    if (!connection.output.Empty() && connection.output.GetState() != ConnectionOutput::State::Failed) {
      fds.push_back({s, POLLOUT, 0});
    }
  }
}

void ServerConnections::WriteWhereReady(const std::vector<pollfd>& fds) {
  for (const pollfd& p : fds) {
    Watched* connection = Find(p.fd);
    if (p.revents == 0 || connection == nullptr) continue;
    if (connection->output.GetState() != ConnectionOutput::State::Failed) Write(p.fd, *connection);
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

ServerConnections::Clock::time_point ServerConnections::IdentifyBy(const Watched& connection) const {
  const auto deadline = connection.stream ? connection.stream->Deadline() : std::nullopt;
  return deadline ? *deadline : connection.acceptedAt + limits.identifyTimeout;
}

void ServerConnections::Took(Watched& connection, size_t n) {
  const auto now = Clock::now();
  connection.intake = IntakeAt(connection, now) - static_cast<double>(n);
  connection.intakeAt = now;
}

double ServerConnections::IntakeAt(const Watched& connection, Clock::time_point now) const {
  const double seconds = std::chrono::duration<double>(now - connection.intakeAt).count();
  return std::min(limits.intakeBurst, connection.intake + std::max(0.0, seconds) * limits.intakePerSecond);
}

bool ServerConnections::HoldsBack(const Watched& connection) const {
  const auto it = relayBacklog.find(connection.serial);
  return it != relayBacklog.end() && it->second > limits.senderBacklogLimit;
}
