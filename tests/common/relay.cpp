#include "common/relay.h"

#include <poll.h>
#include <sys/socket.h>

#include <vector>

Relay::Relay(uint16_t hostPort) : target(hostPort), thread([this] { Run(); }) {}

Relay::~Relay() {
  stop = true;
  thread.join();
}

Bytes Relay::FromClients() {
  std::lock_guard<std::mutex> guard(mutex);
  return fromClients;
}

Bytes Relay::FromHosts() {
  std::lock_guard<std::mutex> guard(mutex);
  return fromHosts;
}

void Relay::Inject(const Bytes& bytes) {
  std::lock_guard<std::mutex> guard(mutex);
  injected.insert(injected.end(), bytes.begin(), bytes.end());
}

void Relay::Run() {
  struct Pair {
    RawPeer client, host;
  };
  std::vector<Pair> pairs;
  while (!stop) {
    RawPeer client = listener.Accept(std::chrono::milliseconds(0));
    if (client.Valid()) pairs.push_back({std::move(client), RawPeer::Dial(target)});
    std::vector<pollfd> fds;
    for (const Pair& p : pairs) {
      fds.push_back({p.client.Fd(), POLLIN, 0});
      fds.push_back({p.host.Fd(), POLLIN, 0});
    }
    poll(fds.data(), fds.size(), 10);
    std::lock_guard<std::mutex> guard(mutex);
    if (!pairs.empty() && !injected.empty() && pairs.back().host.Send(injected)) injected.clear();
    for (size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      Pair& pair = pairs[i / 2];
      const bool up = i % 2 == 0;
      uint8_t chunk[4096];
      const ssize_t n = recv(fds[i].fd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n <= 0) {
        // One side gone: the other hears it as the end of the stream.
        pair.client.Close();
        pair.host.Close();
        continue;
      }
      Bytes& copy = up ? fromClients : fromHosts;
      copy.insert(copy.end(), chunk, chunk + n);
      (up ? pair.host : pair.client).Send(chunk, static_cast<size_t>(n));
    }
    std::erase_if(pairs, [](const Pair& p) { return !p.client.Valid(); });
  }
}
