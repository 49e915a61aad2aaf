#include "linepusher.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "protocol/extent.h"
#include "protocol/messages.h"

namespace {
constexpr size_t CHUNK_BYTES = 64 * 1024;

// Line `i`: its number, six digits, as the text.
void AppendLine(size_t i, std::vector<uint8_t>& out) {
  char text[8];
  std::snprintf(text, sizeof text, "%06zu", i % 1000000);
  ChatLine line;
  line.SetName("push");
  line.SetPolice("Sans");
  line.SetText(text);
  CPacket packet;
  BuildSays(line, packet);
  out.insert(out.end(), packet.data, packet.data + packet.length);
}

int Listen(uint16_t wanted, uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(wanted);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 1) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  port = ntohs(addr.sin_port);
  return fd;
}
}  // namespace

LinePusher::LinePusher(size_t lines, uint16_t wanted) : lines(lines), wakeFd(eventfd(0, EFD_CLOEXEC)) {
  const int listener = Listen(wanted, port);
  if (listener >= 0) thread = std::thread([this, listener] { Run(listener); });
}

LinePusher::~LinePusher() {
  const uint64_t one = 1;
  if (write(wakeFd, &one, sizeof one) < 0) std::perror("eventfd");
  if (thread.joinable()) thread.join();
  close(wakeFd);
}

std::vector<LinePusher::Heard> LinePusher::HeardLines() const {
  const std::lock_guard lock(mutex);
  return heard;
}

int LinePusher::AcceptPlain(int listener) {
  for (;;) {
    pollfd waiting[2] = {{listener, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const bool accepted = poll(waiting, 2, -1) > 0 && waiting[0].revents != 0;
    const int fd = accepted ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    if (fd < 0) return -1;
    // Like a server of the plain protocol, it cannot read a TLS handshake and
    // closes such a connection: the client comes back in plain text.
    uint8_t first = 0;
    pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (poll(p, 2, -1) > 0 && p[0].revents != 0 && recv(fd, &first, 1, MSG_PEEK) == 1 && first != 0x16) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      return fd;
    }
    close(fd);
    if (p[1].revents != 0) return -1;
  }
}

void LinePusher::Run(int listener) {
  const int fd = AcceptPlain(listener);
  close(listener);
  if (fd < 0) return;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  std::vector<uint8_t> chunk;
  size_t sent = 0, made = 0, bytes = 0;
  for (;;) {
    if (sent == chunk.size() && made < lines) {
      chunk.clear();
      sent = 0;
      while (made < lines && chunk.size() + LINE_BYTES <= CHUNK_BYTES) AppendLine(made++, chunk);
    }
    const bool more = sent < chunk.size();
    pollfd p[2] = {{fd, static_cast<short>(POLLIN | (more ? POLLOUT : 0)), 0}, {wakeFd, POLLIN, 0}};
    if (poll(p, 2, -1) < 0 && errno != EINTR) break;
    if (p[1].revents != 0) break;
    if ((p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !Receive(fd)) break;
    if ((p[0].revents & POLLOUT) != 0 && more) {
      const ssize_t n = send(fd, chunk.data() + sent, chunk.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
      if (n > 0) {
        sent += static_cast<size_t>(n);
        bytes += static_cast<size_t>(n);
        pushed = bytes / LINE_BYTES;
      }
    }
  }
  closed = true;
  close(fd);
}

bool LinePusher::Receive(int fd) {
  uint8_t buffer[4096];
  const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  if (n == 0) return false;
  incoming.insert(incoming.end(), buffer, buffer + n);
  for (;;) {
    const MessageExtent e = FirstMessageExtent(incoming.data(), incoming.size(), true);
    if (e.kind == ExtentKind::Incomplete) return true;
    const size_t length = e.kind == ExtentKind::Complete ? e.length : incoming.size();
    CPacket message;
    CDecodePacket decoder;
    uint16_t header = 0, chatHeader = 0;
    ChatLine line;
    std::string name;
    if (message.SetData(incoming.data(), static_cast<uint16_t>(std::min<size_t>(length, PACKET_CAPACITY))) &&
        decoder.Initialize(message) && decoder.GetShortValue(header)) {
      if (header == HEADER_WELCOME) joined = true;
      if (header == HEADER_CHAT && decoder.GetShortValue(chatHeader)) {
        if (chatHeader == CHAT_SAYS && ReadChatLine(decoder, line)) {
          const std::lock_guard lock(mutex);
          heard.push_back({line.Text.get(), Clock::now()});
        }
        if (chatHeader == CHAT_DISCONNECTED && ReadCountedString(decoder, name)) departed = true;
      }
    }
    incoming.erase(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(length));
  }
}
