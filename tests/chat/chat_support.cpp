#include "chat_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "common/test_support.h"
#include "protocol/extent.h"
#include "protocol/messages.h"

namespace {
using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point until) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

std::string Declared(const EventString& s, uint16_t n) { return s.get() ? std::string(s.get(), n) : std::string(); }
}  // namespace

Seen SeenOf(const ChatEvent& e) {
  Seen s;
  s.Type = e.Type;
  s.Name = Declared(e.Name, e.NameLength);
  if (e.Type == CHAT_JOINED || e.Type == CHAT_DISCONNECTED) return s;
  s.Text = Declared(e.Text, e.TextLength);
  s.Police = Declared(e.Police, e.PoliceLength);
  s.Bold = e.Bold;
  s.Italic = e.Italic;
  s.Underline = e.Underline;
  s.Red = e.Red;
  s.Green = e.Green;
  s.Blue = e.Blue;
  return s;
}

Seen NameEvent(uint16_t type, const std::string& name) {
  Seen s;
  s.Type = type;
  s.Name = name + '\0';
  return s;
}

ChatEvent MakeLine(const std::string& name, const std::string& text, const std::string& police) {
  ChatEvent e;
  e.Name.Assign(name.data(), name.size());
  e.NameLength = static_cast<uint16_t>(name.size() + 1);
  e.Text.Assign(text.data(), text.size());
  e.TextLength = static_cast<uint16_t>(text.size() + 1);
  e.Police.Assign(police.data(), police.size());
  e.PoliceLength = static_cast<uint16_t>(police.size() + 1);
  e.Bold = 1;
  e.Underline = 1;
  e.Red = 12;
  e.Green = 34;
  e.Blue = 255;
  e.Type = CHAT_SAYS;
  return e;
}

void PollLoop::Begin() {
  running = true;
  Start();
}

void PollLoop::End() {
  running = false;
  Wait();
}

uint32_t PollLoop::ThreadProc() {
  ChatEvent event;  // reused for every call, as the window does
  while (running) {
    std::this_thread::sleep_for(50ms);
    while (network.ProcessPacketInQueue(event)) {
      if (!keep) continue;
      std::lock_guard<std::mutex> guard(mutex);
      events.push_back(SeenOf(event));
    }
  }
  return 0;
}

std::vector<Seen> PollLoop::Events() const {
  std::lock_guard<std::mutex> guard(mutex);
  return events;
}

std::vector<Seen> PollLoop::EventsOfType(uint16_t type) const {
  std::vector<Seen> out;
  for (const Seen& e : Events()) {
    if (e.Type == type) out.push_back(e);
  }
  return out;
}

bool PollLoop::HasEvent(const Seen& wanted) const {
  const auto all = Events();
  return std::find(all.begin(), all.end(), wanted) != all.end();
}

Server::Server(bool poll) {
  network.StartupServer();
  network.ServerListen(0);
  if (poll) loop.Begin();
}

Server::~Server() {
  loop.End();
  network.StopServer();
}

bool Server::Has(const std::string& nickname) {
  for (const auto& [socket, name] : network.ClientTable()) {
    if (name == nickname) return true;
  }
  return false;
}

Client::Client(const std::string& nickname, uint16_t port) {
  joined = network.StartupClient(nickname.c_str()) && network.ClientConnect("127.0.0.1", port);
  loop.Begin();
}

Client::~Client() {
  loop.End();
  network.StopClient();
}

RawPeer::~RawPeer() {
  if (fd >= 0) close(fd);
}

bool RawPeer::Connect(uint16_t port) {
  fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const sockaddr_in addr = Loopback(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) return false;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return true;
}

bool RawPeer::Send(const Bytes& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool RawPeer::Join(uint16_t port, const std::string& nickname) {
  CPacket welcome;
  return Connect(port) &&
         BuildClientWelcome(nickname.c_str(), static_cast<uint16_t>(nickname.size() + 1), welcome) &&
         Send(Content(welcome));
}

bool RawPeer::Fill(Clock::time_point until) {
  if (closed) return false;
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, MsUntil(until)) <= 0) return false;
  uint8_t chunk[4096];
  const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
  if (n <= 0) {
    closed = true;
    return false;
  }
  pending.insert(pending.end(), chunk, chunk + n);
  return true;
}

Bytes RawPeer::NextMessage(std::chrono::milliseconds deadline) {
  const auto until = Clock::now() + deadline;
  for (;;) {
    if (!pending.empty()) {
      const MessageExtent extent = FirstMessageExtent(pending.data(), pending.size(), false);
      if (extent.kind == ExtentKind::Complete) {
        Bytes message(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(extent.length));
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(extent.length));
        return message;
      }
    }
    if (!Fill(until)) return {};
  }
}

Bytes RawPeer::Read(size_t n, std::chrono::milliseconds deadline) {
  const auto until = Clock::now() + deadline;
  while (pending.size() < n && Fill(until)) {
  }
  const size_t take = std::min(n, pending.size());
  Bytes out(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(take));
  pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(take));
  return out;
}

bool RawPeer::ClosedWithin(std::chrono::milliseconds deadline) {
  const auto until = Clock::now() + deadline;
  while (!closed && Clock::now() < until) Fill(until);
  return closed;
}

RawListener::RawListener() {
  fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in addr = Loopback(0);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) return;
  sockaddr_in bound{};
  socklen_t len = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
  port = ntohs(bound.sin_port);
}

RawListener::~RawListener() {
  if (fd >= 0) close(fd);
}

RawPeer RawListener::Accept(std::chrono::milliseconds deadline) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(deadline.count())) <= 0) return RawPeer();
  return RawPeer(accept4(fd, nullptr, nullptr, SOCK_CLOEXEC));
}

Writer& Writer::U16(uint16_t v) {
  bytes.push_back(static_cast<uint8_t>(v & 0xFF));
  bytes.push_back(static_cast<uint8_t>(v >> 8));
  return *this;
}

Writer& Writer::Raw(const std::string& s) {
  bytes.insert(bytes.end(), s.begin(), s.end());
  return *this;
}

Writer& Writer::Counted(const std::string& s, int count) {
  return U16(static_cast<uint16_t>(count < 0 ? s.size() : static_cast<size_t>(count))).Raw(s);
}

Writer& Writer::Line(const std::string& name, const std::string& police, const std::string& text) {
  Counted(name).Counted(police).Counted(text);
  for (uint16_t v : {1, 0, 1, 10, 20, 30}) U16(v);
  return *this;
}

Bytes Content(const CPacket& packet) { return Bytes(packet.data, packet.data + packet.length); }

Bytes SaysBytes(const ChatEvent& line) {
  CPacket packet;
  BuildSays(LineOf(line), packet);
  return Content(packet);
}
