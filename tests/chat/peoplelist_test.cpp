// What a client shows of who is in the chat, from the events of its endpoint.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chat/peoplelist.h"
#include "chat_support.h"
#include "protocol/extension.h"

namespace {
using Sharing = PeopleList::Sharing;
const auto t0 = PeopleList::Clock::now();

ChatEvent Event(uint16_t type, const std::string& name = {}, uint16_t count = 0, uint16_t flags = 0) {
  ChatEvent e;
  e.Type = type;
  if (!name.empty()) e.Name.Assign(name.c_str(), name.size() + 1);
  e.Count = count;
  e.Flags = flags;
  e.Time = 1000 + count;
  return e;
}

// "name" with " (you)", " (host)" as marked, in the order shown.
std::vector<std::string> Shown(const PeopleList& list) {
  std::vector<std::string> out;
  for (const auto& p : list.People()) out.push_back(p.name + (p.you ? " (you)" : "") + (p.host ? " (host)" : ""));
  return out;
}
}  // namespace

TEST(PeopleList, TheHostsListKeptCurrentByArrivalsAndDepartures) {
  PeopleList list;
  list.Started("carol", false, 500, t0);
  EXPECT_EQ(list.State(), Sharing::Asking);
  EXPECT_TRUE(list.People().empty()) << "nobody is shown before the host answers";
  EXPECT_FALSE(list.Take(Event(EVENT_PRESENT, "bob", 0, PERSON_ASKED), 2000));
  EXPECT_FALSE(list.Take(Event(EVENT_PRESENT, "Alice", 1, PERSON_HOST), 2000));
  EXPECT_FALSE(list.Take(Event(EVENT_PRESENT, "carol", 2), 2000));
  EXPECT_TRUE(list.Take(Event(EVENT_PEOPLE, {}, 3), 2000));
  EXPECT_EQ(list.State(), Sharing::Shared);
  EXPECT_FALSE(list.Look(t0 + HELLO_ANSWER_WAIT * 2));
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"Alice (host)", "bob", "carol (you)"}));
  EXPECT_EQ(list.People()[0].since, 1001u);

  EXPECT_TRUE(list.Take(Event(CHAT_JOINED, "dave"), 3000));
  EXPECT_FALSE(list.Take(Event(CHAT_JOINED, "DAVE"), 3000)) << "already there";
  EXPECT_TRUE(list.Take(Event(CHAT_DISCONNECTED, "BOB"), 3000));
  EXPECT_FALSE(list.Take(Event(CHAT_DISCONNECTED, SERVER_SHUTDOWN_NAME), 3000));
  EXPECT_FALSE(list.Take(Event(CHAT_SAYS, "dave"), 3000));
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"Alice (host)", "carol (you)", "dave"}));
  EXPECT_EQ(list.People()[2].since, 3000u);

  // Out of the chat nobody is listed; a rejoin asks again and starts afresh.
  list.Lost();
  EXPECT_TRUE(list.People().empty());
  EXPECT_FALSE(list.Take(Event(CHAT_JOINED, "erin"), 4000));
  list.Started("carol", false, 5000, t0);
  list.Take(Event(EVENT_PRESENT, "carol", 0), 5000);
  list.Take(Event(EVENT_PEOPLE, {}, 1), 5000);
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"carol (you)"}));
}

TEST(PeopleList, AHostThatDoesNotShareListsYouAndThoseWhoCameAfter) {
  // Silent for the wait: you, then the arrivals.
  PeopleList silent;
  silent.Started("zed", true, 500, t0);
  EXPECT_FALSE(silent.Look(t0 + HELLO_ANSWER_WAIT / 2));
  EXPECT_TRUE(silent.Look(t0 + HELLO_ANSWER_WAIT));
  EXPECT_EQ(silent.State(), Sharing::NotShared);
  EXPECT_TRUE(silent.Take(Event(CHAT_JOINED, "amy"), 600));
  EXPECT_EQ(Shown(silent), (std::vector<std::string>{"amy", "zed (you) (host)"}));

  // A chat line before any list tells at once; a list that comes after all is taken.
  PeopleList late;
  late.Started("zed", false, 500, t0);
  EXPECT_TRUE(late.Take(Event(CHAT_SAYS, "amy"), 600));
  EXPECT_EQ(late.State(), Sharing::NotShared);
  EXPECT_EQ(Shown(late), (std::vector<std::string>{"zed (you)"}));
  late.Take(Event(EVENT_PRESENT, "amy", 0), 700);
  late.Take(Event(EVENT_PRESENT, "zed", 1), 700);
  EXPECT_TRUE(late.Take(Event(EVENT_PEOPLE, {}, 2), 700));
  EXPECT_EQ(late.State(), Sharing::Shared);
  EXPECT_EQ(Shown(late), (std::vector<std::string>{"amy", "zed (you)"}));
}
