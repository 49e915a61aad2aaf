#include "net/refusaldesk.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "net/bytestream.h"
#include "net/tlsstream.h"
#include "protocol/extension.h"

namespace {
constexpr size_t RECEIVE_CHUNK = 4096;
}  // namespace

struct RefusalDesk::Newcomer {
  UniqueSocket socket;
  uint32_t address = 0;
  uint16_t reason = 0;
  uint32_t seconds = 0;
  Clock::time_point until{};
  std::unique_ptr<TlsStream> stream;  // once its first byte says TLS
  std::vector<uint8_t> out;           // what waits to leave
  bool told = false;                  // the refusal is sealed into `out`
};

RefusalDesk::RefusalDesk(size_t capacity, size_t perAddress, std::chrono::milliseconds patience)
    : capacity(capacity), perAddress(perAddress), patience(patience) {}

RefusalDesk::~RefusalDesk() = default;

bool RefusalDesk::MakeRoom(uint32_t address) {
  const auto fromAddress =
      std::count_if(newcomers.begin(), newcomers.end(), [&](const auto& n) { return n->address == address; });
  const bool crowded = static_cast<size_t>(fromAddress) >= perAddress;
  if (!crowded && newcomers.size() < capacity) return true;
  // Whoever holds a place without having begun a handshake gives it up
  // first, the longest there first: silent connections cannot keep the desk
  // full and send an honest newcomer's TLS away unanswered.
  const auto silent = std::find_if(newcomers.begin(), newcomers.end(),
                                   [&](const auto& n) { return !n->stream && (!crowded || n->address == address); });
  if (silent == newcomers.end()) return false;
  newcomers.erase(silent);
  return true;
}

void RefusalDesk::Take(Socket s, uint32_t address, uint16_t reason, uint32_t seconds, Clock::time_point now) {
  UniqueSocket socket(s);
  if (!tls || !MakeRoom(address)) return;
  auto n = std::make_unique<Newcomer>();
  n->socket = std::move(socket);
  n->address = address;
  n->reason = reason;
  n->seconds = seconds;
  n->until = now + patience;
  newcomers.push_back(std::move(n));
}

void RefusalDesk::AddWaits(std::vector<pollfd>& fds) const {
  for (const auto& n : newcomers) {
    fds.push_back({n->socket.Get(), static_cast<short>(POLLIN | (n->out.empty() ? 0 : POLLOUT)), 0});
  }
}

void RefusalDesk::Serve(const std::vector<pollfd>& fds, Clock::time_point now) {
  std::erase_if(newcomers, [&](const std::unique_ptr<Newcomer>& n) {
    if (now >= n->until) return true;
    const auto ready = std::find_if(fds.begin(), fds.end(), [&](const pollfd& p) { return p.fd == n->socket.Get(); });
    if (ready == fds.end() || ready->revents == 0) return false;
    if ((ready->revents & POLLOUT) != 0 && !Write(*n)) return true;
    return (ready->revents & ~POLLOUT) != 0 && !Read(*n);
  });
}

bool RefusalDesk::Read(Newcomer& n) {
  uint8_t bytes[RECEIVE_CHUNK];
  const long got = ReceiveSome(n.socket.Get(), bytes, sizeof bytes);
  if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
  if (got == 0) return false;
  // Told already: what the client still sends (its welcome, behind its
  // handshake) is read and dropped until it closes, so that the close is not
  // a reset that could throw the refusal away before the client reads it.
  if (n.told) return true;
  if (!n.stream) {
    if (KindOfFirstBytes(bytes, static_cast<size_t>(got)) != StreamKind::Tls) return false;
    n.stream = TlsStream::Accepting(tls);
    if (!n.stream) return false;
  }
  std::vector<uint8_t> opened;
  if (!n.stream->Open(bytes, static_cast<size_t>(got), opened, n.out)) return false;
  if (n.stream->Ready()) {
    CPacket refused;
    if (!BuildRefused(n.reason, refused, n.seconds)) return false;
    const std::vector<uint8_t> message(refused.data, refused.data + refused.length);
    if (!n.stream->Seal(message, {message.size()}, n.out)) return false;
    n.told = true;
  }
  return Write(n);
}

bool RefusalDesk::Write(Newcomer& n) {
  if (n.out.empty()) return true;
  const long sent = SendSome(n.socket.Get(), n.out.data(), n.out.size());
  if (sent < 0) return false;
  n.out.erase(n.out.begin(), n.out.begin() + sent);
  // All said: nothing more goes out, and the client's close ends it.
  if (n.told && n.out.empty()) shutdown(n.socket.Get(), SHUT_WR);
  return true;
}

int RefusalDesk::MillisecondsToNextDeadline(Clock::time_point now) const {
  if (newcomers.empty()) return -1;
  Clock::time_point next = Clock::time_point::max();
  for (const auto& n : newcomers) next = std::min(next, n->until);
  return static_cast<int>(std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(next - now).count()));
}

void RefusalDesk::Clear() { newcomers.clear(); }
