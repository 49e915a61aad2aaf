#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "common/test_support.h"
#include "net/packetqueue.h"
#include "net/thread.h"

TEST(PacketQueue, PopsInPushOrderAndOwnsWhatIsLeft) {
  CPacketQueue queue;
  queue.Push("one", 3);
  queue.Push("two!", 4);
  queue.Push("x", 1);
  EXPECT_EQ(queue.GetCount(), 3u);
  for (const char* expected : {"one", "two!", "x"}) {
    const auto packet = queue.Pop();
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(packet->data), packet->length), expected);
  }
  EXPECT_EQ(queue.Pop(), nullptr);
  EXPECT_EQ(queue.GetCount(), 0u);
  // Left for the destructor: the sanitizer run reports a leak if it drops them.
  queue.Push("left", 4);
  queue.Push("behind", 6);
}

TEST(PacketQueue, RefusesNullAndMoreThanAPacketHolds) {
  CPacketQueue queue;
  std::vector<uint8_t> big(PACKET_CAPACITY + 1, 'z');
  queue.Push(nullptr, 4);
  queue.Push(big.data(), PACKET_CAPACITY + 1);
  EXPECT_EQ(queue.GetCount(), 0u);
  queue.Push(big.data(), PACKET_CAPACITY);
  ASSERT_EQ(queue.GetCount(), 1u);
  EXPECT_EQ(queue.Pop()->length, PACKET_CAPACITY);
}

TEST(PacketQueue, ZeroCountTakesTheStringAndClearEmptiesTheQueue) {
  CPacketQueue queue;
  queue.Clear();
  queue.Push("abc", 0);
  const auto packet = queue.Pop();
  ASSERT_NE(packet, nullptr);
  ASSERT_EQ(packet->length, 4);
  EXPECT_EQ(std::memcmp(packet->data, "abc", 4), 0);
  queue.Push("a", 1);
  queue.Push("b", 1);
  queue.Clear();
  EXPECT_EQ(queue.GetCount(), 0u);
  EXPECT_EQ(queue.Pop(), nullptr);
}

TEST(Monitor, ReentrantAndReleasedToOthersOnlyAfterEveryUnlock) {
  CMonitor monitor;
  monitor.Lock();
  monitor.Lock();  // would deadlock if not re-entrant
  std::atomic<bool> taken{false};
  std::thread other([&] {
    monitor.Lock();
    taken = true;
    monitor.Unlock();
  });
  monitor.Unlock();
  // Absence can only be checked by giving the other thread time to misbehave.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(taken);
  monitor.Unlock();
  EXPECT_TRUE(WaitFor([&] { return taken.load(); }));
  other.join();
}

namespace {
class GatedThread : public CThread {
 public:
  std::atomic<bool> open{false};
  std::atomic<bool> ran{false};
  std::atomic<bool> returned{false};
  uint32_t ThreadProc() override {
    ran = true;
    while (!open) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    returned = true;
    return 0;
  }
};
}  // namespace

TEST(Thread, WaitAfterCloseStillWaitsForThreadProc) {
  GatedThread t;
  t.Start();
  ASSERT_TRUE(WaitFor([&] { return t.ran.load(); }));
  t.Close();
  t.Close();  // a second Close does nothing
  EXPECT_FALSE(t.HasHandle());
  EXPECT_FALSE(t.returned);  // Close neither waits for nor stops the thread
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    t.open = true;
  });
  t.Wait();
  EXPECT_TRUE(t.returned);
  opener.join();
}

TEST(Thread, NeverStartedThreadClosesAndWaitsAtOnceAndAPlainOneReturnsZero) {
  GatedThread idle;
  idle.Close();
  idle.Wait();
  EXPECT_FALSE(idle.ran);
  CThread plain;
  EXPECT_EQ(plain.ThreadProc(), 0u);
  plain.Start();
  EXPECT_TRUE(plain.HasHandle());
  plain.Wait();
}
