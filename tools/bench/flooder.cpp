#include "flooder.h"

#include "benchclock.h"

Flooder::Flooder(int index) : nick("flood" + std::to_string(index)), index(index), line(nick) {}

Flooder::~Flooder() {
  Finish();
  loop.End();
}

bool Flooder::Join(uint16_t port, const ClientSecurity& security) {
  network.SetClientSecurity(security);
  if (!network.StartupClient(nick.c_str()) || !network.ClientConnect("127.0.0.1", port)) return false;
  loop.Begin();
  return true;
}

void Flooder::Begin(int64_t untilNs, uint64_t maxLines) {
  stop = false;
  sender = std::thread([this, untilNs, maxLines] { Flood(untilNs, maxLines); });
}

void Flooder::Finish() {
  stop = true;
  // A send waiting on a full socket would wait out the endpoint's send limit;
  // closing the connection ends it at once.
  if (sender.joinable()) network.StopClient();
  if (sender.joinable()) sender.join();
}

void Flooder::Flood(int64_t untilNs, uint64_t maxLines) {
  // "F": neither a measured line nor a warm-up to the honest receivers.
  const std::string head = "F " + std::to_string(index) + " ";
  for (uint64_t seq = 1; seq <= maxLines && !stop && NowNs() < untilNs; ++seq) {
    std::string text = head + std::to_string(seq) + " ";
    text.append(kTextBytes - text.size(), 'x');
    // A send that timed out with nothing written leaves the connection whole.
    if (network.SendChatMessage(line.With(text))) {
      ++sent;
    } else {
      ++failed;
      if (!network.IsActive()) return;
    }
  }
}
