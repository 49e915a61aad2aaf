// The window as a client under floods from its server: a host relaying a
// flooder, and a server pushing 400,000 short lines at once. Throughout, the
// UI thread answers, memory stays flat, a typed line leaves at once, and
// Escape closes the window within a second.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "chat/pollloop.h"
#include "linepusher.h"
#include "ui/jaselodlg.h"
#include "ui/toolkit/richedit.h"
#include "ui_test_support.h"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Under the sanitizers freed memory is held back on purpose: resident size
// says nothing there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryMeasured = false;
#else
constexpr bool kMemoryMeasured = true;
#endif

double ResidentMiB() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Shows the flood for a while, types a line, then presses Escape.
// `typedArrived` tells when the server got the typed line, if it did.
void Endure(CJaseloDlg& dlg, const std::function<std::optional<Clock::time_point>()>& typedArrived) {
  const CJaseloDlgProbe probe(dlg);
  // Measured from the first line on: the window's first painting is no stall.
  ASSERT_TRUE(PumpUntil([&] { return PlainText(probe.Transcript()->document()).contains(" says :"); }));
  const UiStallMeter stalls;
  PumpUntil([] { return false; }, 1s);
  const double settled = ResidentMiB();
  double most = settled;
  PumpUntil(
      [&] {
        most = std::max(most, ResidentMiB());
        return false;
      },
      3s);
  if (kMemoryMeasured) {
    EXPECT_LT(most - settled, 16) << "resident " << settled << " MiB, then up to " << most;
  }

  QTest::keyClicks(probe.InputBox(), "typed");
  const auto typed = Clock::now();
  QTest::keyClick(probe.InputBox(), Qt::Key_Return);
  ASSERT_TRUE(PumpUntil([&] { return typedArrived().has_value(); }));
  EXPECT_LT(*typedArrived() - typed, 500ms);

  QElapsedTimer closing;
  closing.start();
  QTest::keyClick(probe.InputBox(), Qt::Key_Escape);
  ASSERT_TRUE(PumpUntil([&] { return dlg.Ended(); }));
  EXPECT_LT(closing.elapsed(), 1000);
  EXPECT_FALSE(probe.IsPolling());
  EXPECT_LT(stalls.LongestMs(), 100) << "the UI thread was kept from its events for " << stalls.LongestMs() << " ms";
}

}  // namespace

TEST(Flood, AServerPushing400000LinesAtOnce) {
  WithinDeadline(60s, [] {
    LinePusher pusher(400000);
    CJaseloDlg dlg;
    PrepareWindow(dlg, "alice");
    StartAsClient(dlg, pusher.Port());
    Endure(dlg, [&]() -> std::optional<Clock::time_point> {
      const auto heard = pusher.HeardLines();
      if (heard.empty()) return std::nullopt;
      EXPECT_EQ(heard[0].text, "typed");
      return heard[0].at;
    });
    EXPECT_TRUE(pusher.Departed());
    if (kMemoryMeasured) {
      EXPECT_LT(ResidentMiB(), 80);
    }
  });
}

TEST(Flood, AHostRelayingAFlooder) {
  WithinDeadline(60s, [] {
    CJaseloNetwork host, flooder;
    std::atomic<int64_t> typedAt{0};
    // The flooder reads what comes back, so that it is held back, not
    // dropped; the relay of the window's typed line comes back to it too.
    CPollThread drain(flooder, [&](ChatEvent& e) {
      if (e.Text.get() && std::string_view(e.Text.get()) == "typed") typedAt = Clock::now().time_since_epoch().count();
    });
    ASSERT_TRUE(host.StartupServer());
    host.ServerListen(0);
    ASSERT_TRUE(flooder.StartupClient("flooder") && flooder.ClientConnect("127.0.0.1", host.ListeningPort()));
    drain.Begin();
    std::atomic<bool> flooding{true};
    std::thread feeder([&] {
      ChatEvent line;
      line.SetName("flooder");
      line.SetPolice("Sans");
      line.SetText(std::string(900, 'F'));
      // 400 lines a second: the host relays as fast as the window's client
      // reads, so an unpaced flooder here would measure how the test's two
      // cores share out among the flooder, the host and the window.
      for (auto next = Clock::now(); flooding; next += 2500us) {
        if (!flooder.SendChatMessage(line)) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_until(next);
      }
    });
    CJaseloDlg dlg;
    PrepareWindow(dlg, "alice");
    StartAsClient(dlg, host.ListeningPort());
    Endure(dlg, [&]() -> std::optional<Clock::time_point> {
      if (typedAt == 0) return std::nullopt;
      return Clock::time_point(Clock::duration(typedAt.load()));
    });
    flooding = false;
    feeder.join();
    drain.End();
  });
}
