// What ProcessPacketInQueue makes of single queued payloads, the roles, and
// the poll loop that drains the queue.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "chat/linehistory.h"
#include "chat_support.h"
#include "common/test_support.h"
#include "protocol/extension.h"
#include "protocol/messages.h"

TEST(Dispatch, UnknownChatHeaderIsReportedAndDropped) {
  Injectable zed;
  ASSERT_TRUE(zed.StartupClient("Zed"));
  zed.Inject(Writer().U16(7).Counted(std::string("Bob\0", 4)).bytes);
  DiagCapture diag;
  ChatEvent event;
  EXPECT_FALSE(zed.ProcessPacketInQueue(event));
  EXPECT_EQ(diag.Text(), "CJaseloNetwork::ProcessPacketInQueue() - unrecognized header type 7.\n");
  EXPECT_EQ(event.Type, 0);
  EXPECT_EQ(zed.QueuedCount(), 0u);
}

TEST(Dispatch, ArrivalAndDepartureLeaveTheRestOfTheRecord) {
  Injectable zed;
  ASSERT_TRUE(zed.StartupClient("Zed"));
  for (uint16_t type : {CHAT_JOINED, CHAT_DISCONNECTED}) {
    SCOPED_TRACE(type);
    ChatEvent event = MakeLine("Old", "keep", "Face");
    const Seen before = SeenOf(event);
    const char* text = event.Text.get();
    const char* police = event.Police.get();
    zed.Inject(Writer().U16(type).Counted(std::string("Newbie\0", 7)).bytes);
    ASSERT_TRUE(zed.ProcessPacketInQueue(event));
    EXPECT_EQ(event.Type, type);
    EXPECT_EQ(event.NameLength, 7);
    EXPECT_STREQ(event.Name.get(), "Newbie");
    EXPECT_EQ(event.Text.get(), text);
    EXPECT_EQ(event.Police.get(), police);
    event.Type = CHAT_SAYS;
    Seen after = SeenOf(event);
    after.Name = before.Name;
    EXPECT_EQ(after, before);
  }
}

TEST(Dispatch, ReceivedStringsAreAlwaysTerminated) {
  Injectable zed;
  ASSERT_TRUE(zed.StartupClient("Zed"));
  ChatEvent event;

  // Declared length 0, and strings whose last byte is not NUL.
  zed.Inject(Writer().U16(CHAT_SAYS).Line("", "Ari", "abc").bytes);
  ASSERT_TRUE(zed.ProcessPacketInQueue(event));
  EXPECT_EQ(event.NameLength, 0);
  ASSERT_NE(event.Name.get(), nullptr);
  EXPECT_STREQ(event.Name.get(), "");
  EXPECT_EQ(event.PoliceLength, 3);
  EXPECT_STREQ(event.Police.get(), "Ari");
  EXPECT_EQ(event.TextLength, 3);
  EXPECT_STREQ(event.Text.get(), "abc");
  EXPECT_EQ(event.Blue, 30);

  zed.Inject(Writer().U16(CHAT_PRIVATE).Counted(std::string("zED\0", 4)).Line("Bo", "", "x\0yz").bytes);
  ASSERT_TRUE(zed.ProcessPacketInQueue(event));
  EXPECT_EQ(event.Type, CHAT_PRIVATE);
  EXPECT_STREQ(event.Name.get(), "Bo");
  EXPECT_STREQ(event.Police.get(), "");
  EXPECT_EQ(event.TextLength, 1);  // "x\0yz" is a std::string of one byte
  EXPECT_STREQ(event.Text.get(), "x");
  // Addressed to somebody else (here a part of the own nickname): not shown.
  event.Type = 0;
  zed.Inject(Writer().U16(CHAT_PRIVATE).Counted(std::string("ZE\0", 3)).Line("Bo", "", "x").bytes);
  EXPECT_FALSE(zed.ProcessPacketInQueue(event));
  EXPECT_EQ(event.Type, 0);

  for (uint16_t type : {CHAT_JOINED, CHAT_DISCONNECTED}) {
    zed.Inject(Writer().U16(type).Counted("Newbie").bytes);
    ASSERT_TRUE(zed.ProcessPacketInQueue(event));
    EXPECT_EQ(event.NameLength, 6);
    EXPECT_STREQ(event.Name.get(), "Newbie");
  }
}

TEST(Dispatch, SaysCutShortYieldsNothingAndIsNotRelayed) {
  DiagCapture quiet;
  Server server;  // its socket thread wakes for nothing here: drained by hand
  RawPeer alice;
  ASSERT_TRUE(alice.Join(server.Port(), "Alice"));
  ASSERT_TRUE(WaitFor([&] { return server.Present() == 1; }));

  const ChatEvent line = MakeLine("Alice", "cut me anywhere");
  const Bytes whole = Payload(Says(line));
  // Every cut, down to losing only the last byte.
  for (size_t n = 1; n < whole.size(); ++n) {
    SCOPED_TRACE(n);
    server.network.Inject(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)), "Alice");
    ChatEvent event;
    EXPECT_FALSE(server.network.ProcessPacketInQueue(event));
    EXPECT_EQ(event.Type, 0);
    EXPECT_EQ(event.Name.get(), nullptr);
  }
  server.network.Inject(whole, "Alice");
  ChatEvent event;
  EXPECT_TRUE(server.network.ProcessPacketInQueue(event));
  // The whole line is the first thing relayed: none of the cut ones went out.
  EXPECT_EQ(alice.NextMessage(), Whole(Says(line)));
}

TEST(Roles, AnEndpointTakesOneRoleOnce) {
  DiagCapture quiet;
  Server server;
  EXPECT_FALSE(server.network.StartupServer());
  EXPECT_FALSE(server.network.StartupClient("Zed"));
  EXPECT_TRUE(server.network.IsServer());
  EXPECT_TRUE(server.network.IsActive());
  EXPECT_FALSE(server.network.ClientConnect("127.0.0.1", server.Port()));

  // A second start would have dropped the connection and the nickname.
  Client zed("Zed", server.Port());
  ASSERT_TRUE(zed.joined);
  EXPECT_FALSE(zed.network.StartupClient("Other"));
  EXPECT_FALSE(zed.network.StartupServer());
  EXPECT_TRUE(zed.network.IsClient());
  EXPECT_FALSE(zed.network.IsServer());
  EXPECT_TRUE(zed.network.IsActive());
  EXPECT_EQ(zed.network.NicknameLength(), 4);
  zed.network.ServerListen(0);
  EXPECT_EQ(zed.network.ListeningPort(), 0);
  EXPECT_TRUE(WaitFor([&] { return server.Has("Zed"); }));
}

// The poll loop sleeps until its queue has news, hands over everything
// queued in order, and ends as soon as it is asked, asleep or not.
TEST(PollLoop, SleepsUntilNewsAndEndsWhenAsked) {
  DiagCapture quiet;
  Injectable zed;
  ASSERT_TRUE(zed.StartupClient("Zed"));
  for (const char* name : {"Ann", "Bob", "Cid"}) zed.Inject(Writer().U16(CHAT_JOINED).Counted(name).bytes);
  std::atomic<bool> running{true};
  WakeEvent stop;
  std::mutex mutex;
  std::vector<std::string> seen;
  std::atomic<int> passes{0};
  std::thread loop([&] {
    ChatEvent event;
    RunPollLoop(running, {&stop, &zed.News()}, [&] {
      ++passes;
      DrainQueue(zed, event, [&](ChatEvent& e) {
        const std::lock_guard lock(mutex);
        seen.emplace_back(e.Name.get());
      });
      return PollTimeout(zed);
    });
  });
  const auto count = [&] {
    const std::lock_guard lock(mutex);
    return seen.size();
  };
  EXPECT_TRUE(WaitFor([&] { return count() == 3; }));
  const int asleep = passes.load();
  zed.Inject(Writer().U16(CHAT_JOINED).Counted("Dee").bytes);
  EXPECT_TRUE(WaitFor([&] { return count() == 4; }));
  // One wake-up for the news, none while nothing came.
  EXPECT_LE(passes.load(), asleep + 2);
  running = false;
  stop.Signal();
  loop.join();
  EXPECT_EQ(seen, (std::vector<std::string>{"Ann", "Bob", "Cid", "Dee"}));

  // Without a handler the events are only taken.
  zed.Inject(Writer().U16(CHAT_JOINED).Counted("Eve").bytes);
  ChatEvent event;
  DrainQueue(zed, event, {});
  EXPECT_EQ(zed.QueuedCount(), 0u);
}

TEST(Dispatch, PeopleListsAreTakenWholeFromTheirFirstBlock) {
  Injectable zed;
  ASSERT_TRUE(zed.StartupClient("Zed"));
  const std::vector<Person> people = {{"Ann", 5, PERSON_ASKED}, {"Bo", 6, 0}};
  // A kind this side does not know, and the middle or end of a list whose
  // first block never came, yield nothing.
  for (const uint8_t flags : {uint8_t{0}, uint8_t{PEOPLE_LAST}, uint8_t{42}}) {
    CPacket part = BuildPeople(people)[0];
    part.data[flags == 42 ? 8 : 10] = flags;
    zed.InjectBlock(part);
  }
  zed.InjectBlock(BuildPeople(people)[0]);
  std::vector<Seen> seen;
  ChatEvent event;
  while (zed.ProcessPacketInQueue(event)) seen.push_back(SeenOf(event));
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].Name, std::string("Ann\0", 4));
  EXPECT_EQ(seen[0].Flags, PERSON_ASKED);
  EXPECT_EQ(seen[1].Count, 1);
  EXPECT_EQ(seen[2].Type, EVENT_PEOPLE);
  EXPECT_EQ(seen[2].Count, 2);
}

TEST(LineHistory, KeepsTheNewestLinesWithinItsBoundsOfLinesBytesAndAge) {
  CLineHistory history;
  const auto t0 = CLineHistory::Clock::now();
  const std::vector<uint8_t> small(100, 's'), large(EARLIER_LINE_CAPACITY, 'l');
  for (uint32_t i = 0; i < 250; ++i) history.Keep(small.data(), small.size(), i, i, t0);
  EXPECT_EQ(history.Count(), HISTORY_LINES);
  // Only what was relayed before the asker's generation, oldest first.
  const auto before = history.Before(100, t0);
  ASSERT_EQ(before.size(), 50u);
  EXPECT_EQ(before.front()->at, 50u);
  EXPECT_EQ(before.back()->at, 99u);
  for (uint32_t i = 0; i < 200; ++i) history.Keep(large.data(), large.size(), 300, i, t0);
  EXPECT_LE(history.Bytes(), HISTORY_BYTES);
  EXPECT_EQ(history.Count(), HISTORY_BYTES / large.size());
  // An hour later none is replayed, and the next line sends the old ones away.
  const auto later = t0 + HISTORY_AGE + std::chrono::seconds(1);
  EXPECT_TRUE(history.Before(1000, later).empty());
  history.Keep(small.data(), small.size(), 400, 1, later);
  EXPECT_EQ(history.Count(), 1u);
  history.SetLimit(0);
  history.Keep(small.data(), small.size(), 401, 2, later);
  EXPECT_EQ(history.Count(), 0u);
}
