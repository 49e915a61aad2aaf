#include "chat_support.h"

#include <algorithm>

#include "protocol/messages.h"

namespace {
std::string Declared(const EventString& s, uint16_t n) { return s.get() ? std::string(s.get(), n) : std::string(); }
}  // namespace

Seen SeenOf(const ChatEvent& e) {
  Seen s;
  s.Type = e.Type;
  s.Name = Declared(e.Name, e.NameLength);
  if (e.Type >= EVENT_PRESENT) {
    s.Time = e.Time;
    s.Flags = e.Flags;
    s.Count = e.Count;
  }
  if (e.Type == CHAT_JOINED || e.Type == CHAT_DISCONNECTED || e.Type == EVENT_PRESENT) return s;
  s.Text = Declared(e.Text, e.TextLength);
  s.Police = Declared(e.Police, e.PoliceLength);
  s.Style = e.Style();
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
  e.SetName(name);
  e.SetText(text);
  e.SetPolice(police);
  e.Style() = {.Bold = 1, .Underline = 1, .Red = 12, .Green = 34, .Blue = 255};
  e.Type = CHAT_SAYS;
  return e;
}

PollLoop::PollLoop(CJaseloNetwork& network, bool keep)
    : CPollThread(network, keep ? EventHandler([this](ChatEvent& event) { Record(event); }) : EventHandler()) {}

void PollLoop::Record(const ChatEvent& event) {
  std::lock_guard<std::mutex> guard(mutex);
  events.push_back(SeenOf(event));
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

Server::Server() {
  network.StartupServer();
  network.ServerListen(0);
}

Server::~Server() { network.StopServer(); }

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
