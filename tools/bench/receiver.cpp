#include "receiver.h"

#include <charconv>
#include <cstring>

#include "benchclock.h"

bool ParseLine(const char* text, Delivery& d) {
  if (text == nullptr || text[0] != 'J' || text[1] != ' ') return false;
  const char* p = text + 2;
  const char* end = p + std::strlen(p);
  auto next = [&](auto& value) {
    const auto [ptr, ec] = std::from_chars(p, end, value);
    if (ec != std::errc()) return false;
    p = ptr < end ? ptr + 1 : ptr;
    return true;
  };
  return next(d.sender) && next(d.seq) && next(d.sendNs);
}

std::string LineText(int sender, uint32_t seq, int64_t sendNs, int textBytes) {
  std::string text = "J " + std::to_string(sender) + " " + std::to_string(seq) + " " + std::to_string(sendNs) + " ";
  if (static_cast<int>(text.size()) < textBytes) text.append(static_cast<size_t>(textBytes) - text.size(), 'x');
  return text;
}

bool Receiver::Join(uint16_t port, const ClientSecurity& security, bool overWeb) {
  network.SetClientSecurity(security);
  if (!network.StartupClient(nick.c_str())) return false;
  if (overWeb) {
    CPacket welcome;
    if (!BuildClientWelcome(nick.c_str(), static_cast<uint16_t>(nick.size() + 1), welcome)) return false;
    web = std::make_unique<WebLink>();
    // The link's thread stands in for the endpoint's socket thread.
    if (!web->Open(port, welcome, [this](const uint8_t* m, size_t n) { network.HandleServerBytes(m, n); })) {
      return false;
    }
  } else if (!network.ClientConnect("127.0.0.1", port)) {
    return false;
  }
  loop.Begin();
  return true;
}

bool Receiver::Say(const std::string& text) {
  if (!web) return network.SendChatMessage(line.With(text));
  CPacket packet;
  return BuildSays(line.With(text), packet) && web->Send(packet);
}

void Receiver::OnEvent(ChatEvent& event) {
  const int64_t now = NowNs();
  switch (event.Type) {
    case CHAT_SAYS: {
      Delivery d{};
      if (ParseLine(event.Text.get(), d)) {
        d.receivedNs = now;
        deliveries.push_back(d);
        ++delivered;
      } else if (event.Text.get() != nullptr && event.Text.get()[0] == 'W') {
        ++warmups;
      } else if (event.Text.get() != nullptr && event.Text.get()[0] == 'F') {
        ++floodLines;
      }
      break;
    }
    case CHAT_JOINED: ++joins; break;
    case CHAT_DISCONNECTED:
      if (departures.recording && event.Name.get() != nullptr) {
        std::lock_guard<std::mutex> guard(departures.mutex);
        departures.names.insert(event.Name.get());
      }
      break;
    default: break;
  }
  // The window releases each event's strings once shown.
  event.Name.Reset();
  event.Text.Reset();
  event.Police.Reset();
}
