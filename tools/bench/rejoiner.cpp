#include "rejoiner.h"

#include <chrono>
#include <memory>

#include "benchclock.h"
#include "measuredendpoint.h"
#include "pollloop.h"

namespace {
using namespace std::chrono_literals;
constexpr int64_t kPeriodNs = 1'000'000'000;
// After its departure, the host needs a pass or two to forget the nickname.
constexpr auto kDepartureGrace = 150ms;
}  // namespace

void Rejoiner::Begin(uint16_t port, int64_t untilNs) {
  stop = false;
  thread = std::thread([this, port, untilNs] { Run(port, untilNs); });
}

void Rejoiner::Finish() {
  stop = true;
  if (thread.joinable()) thread.join();
}

Rejoiner::Figures Rejoiner::Taken() {
  std::lock_guard<std::mutex> guard(mutex);
  return figures;
}

void Rejoiner::Run(uint16_t port, int64_t untilNs) {
  for (int64_t start = NowNs(); !stop && start < untilNs; start += kPeriodNs) {
    std::atomic<uint64_t> people{0}, earlier{0};
    std::atomic<int64_t> answeredNs{0};
    auto network = std::make_unique<MeasuredEndpoint>("rejoin-socket");
    const int64_t connectNs = NowNs();
    {
      PollLoop loop(*network, "rejoin-poll", [&](ChatEvent& event) {
        if (event.Type == EVENT_PRESENT) ++people;
        if (event.Type == EVENT_EARLIER) ++earlier;
        if (event.Type == EVENT_PEOPLE) answeredNs = NowNs();
        event.Name.Reset();
        event.Text.Reset();
        event.Police.Reset();
      });
      const bool joined = network->StartupClient(nick.c_str()) && network->ClientConnect("127.0.0.1", port);
      if (joined) loop.Begin();
      while (!stop && NowNs() < start + kPeriodNs - kDepartureGrace.count() * 1'000'000) {
        std::this_thread::sleep_for(10ms);
      }
      if (joined) {
        network->SendDisconnectMessage(nick.c_str());
        std::this_thread::sleep_for(kDepartureGrace / 2);
        network->StopClient();
      }
      loop.End();
      std::lock_guard<std::mutex> guard(mutex);
      figures.joins += joined ? 1 : 0;
      figures.people += people;
      figures.earlier += earlier;
      if (answeredNs.load() != 0) {
        ++figures.answered;
        figures.answerMs.push_back(static_cast<float>(static_cast<double>(answeredNs.load() - connectNs) / 1e6));
      }
    }
    const int64_t next = start + kPeriodNs;
    while (!stop && NowNs() < next) std::this_thread::sleep_for(10ms);
  }
}
