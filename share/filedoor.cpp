#include "share/filedoor.h"

#include <poll.h>

#include <algorithm>

namespace {
constexpr std::chrono::milliseconds EXPIRY_LOOK{60000};
}  // namespace

FileDoor::FileDoor(FileStore& store, FileDoorRules rules, FileDoorLimits limits)
    : store(store), rules(std::move(rules)), limits(limits) {}

FileDoor::~FileDoor() { Stop(); }

bool FileDoor::Start() {
  if (running.exchange(true)) return false;
  thread = std::thread([this] { Run(); });
  return true;
}

void FileDoor::Stop() {
  running = false;
  wake.Signal();
  if (thread.joinable()) thread.join();
  const std::lock_guard lock(mutex);
  arriving.clear();
}

void FileDoor::Take(FileExchange&& exchange) {
  {
    const std::lock_guard lock(mutex);
    // A door that is not open closes what comes, as the exchange goes.
    if (!running) return;
    arriving.push_back(std::move(exchange));
  }
  wake.Signal();
}

void FileDoor::Admit(std::vector<FileExchange>& arrived, Transfer::Clock::time_point now) {
  for (FileExchange& exchange : arrived) {
    const uint32_t from = exchange.address;
    const auto fromThere = static_cast<size_t>(
        std::count_if(transfers.begin(), transfers.end(), [from](const auto& t) { return t->Address() == from; }));
    if (transfers.size() >= limits.transfers || fromThere >= limits.perAddress) {
      transfers.push_back(std::make_unique<Transfer>(std::move(exchange), "503 Service Unavailable",
                                                     "the host moves as many files as it can: try again shortly",
                                                     "Retry-After: 5\r\n"));
    } else {
      transfers.push_back(std::make_unique<Transfer>(std::move(exchange), store, rules, now));
    }
  }
  arrived.clear();
}

void FileDoor::Run() {
  std::vector<FileExchange> arrived;
  std::vector<pollfd> fds;
  auto nextExpiry = Transfer::Clock::now();
  while (running) {
    {
      const std::lock_guard lock(mutex);
      arrived.swap(arriving);
    }
    auto now = Transfer::Clock::now();
    Admit(arrived, now);
    // Files whose time has passed go within a minute, whether or not
    // anyone asks for them.
    if (now >= nextExpiry) {
      store.Expire();
      nextExpiry = now + EXPIRY_LOOK;
    }
    fds.clear();
    auto next = nextExpiry;
    for (const auto& t : transfers) {
      fds.push_back({t->Get(), t->Events(), 0});
      next = std::min(next, t->Deadline());
    }
    fds.push_back({wake.Fd(), POLLIN, 0});
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    const int timeout = static_cast<int>(std::clamp<int64_t>(left, 0, EXPIRY_LOOK.count()));
    if (WaitForEvents(fds.data(), fds.size(), timeout) < 0) continue;
    if (fds.back().revents != 0) wake.Drain();
    now = Transfer::Clock::now();
    // Each transfer is served, or let go once over or past its time.
    size_t kept = 0;
    for (size_t i = 0; i < transfers.size(); ++i) {
      if (transfers[i]->Serve(fds[i].revents, now)) transfers[kept++] = std::move(transfers[i]);
    }
    transfers.resize(kept);
  }
  transfers.clear();
}
