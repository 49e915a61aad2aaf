// What a client shows of who is in the chat, from the events of its endpoint.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chat/peoplelist.h"
#include "chat_support.h"
#include "protocol/extension.h"

namespace {
ChatEvent Event(uint16_t type, const std::string& name = {}, uint16_t count = 0, uint16_t flags = 0) {
  ChatEvent e;
  e.Type = type;
  if (!name.empty()) e.Name.Assign(name.c_str(), name.size() + 1);
  e.Count = count;
  e.Flags = flags;
  return e;
}

// "name" with " (you)", " (host)" as marked, in the order shown.
std::vector<std::string> Shown(const PeopleList& list) {
  std::vector<std::string> out;
  for (const auto& p : list.People()) out.push_back(p.name + (p.you ? " (you)" : "") + (p.host ? " (host)" : ""));
  return out;
}
}  // namespace

// The window's tests show the list as a host sends it and as a silent host
// leaves it; these are the cases between.
TEST(PeopleList, NamesInAnyCaseAChatLineBeforeTheListAndALateList) {
  const auto t0 = PeopleList::Clock::now();
  PeopleList list;
  list.Started("zed", true, 500, t0);
  EXPECT_TRUE(list.People().empty()) << "nobody is shown before the host answers";
  // A chat line before any list: this host does not share it.
  EXPECT_TRUE(list.Take(Event(CHAT_SAYS, "amy"), 600));
  EXPECT_EQ(list.State(), PeopleList::Sharing::NotShared);
  EXPECT_TRUE(list.Take(Event(CHAT_JOINED, "amy"), 600));
  EXPECT_FALSE(list.Take(Event(CHAT_JOINED, "AMY"), 600)) << "already there";
  EXPECT_FALSE(list.Take(Event(CHAT_DISCONNECTED, SERVER_SHUTDOWN_NAME), 600));
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"amy", "zed (you) (host)"}));
  // A list that comes after all is taken whole.
  list.Take(Event(EVENT_PRESENT, "bob", 0), 700);
  list.Take(Event(EVENT_PRESENT, "Al", 1, PERSON_HOST), 700);
  list.Take(Event(EVENT_PRESENT, "zed", 2), 700);
  EXPECT_TRUE(list.Take(Event(EVENT_PEOPLE, {}, 3), 700));
  EXPECT_EQ(list.State(), PeopleList::Sharing::Shared);
  EXPECT_FALSE(list.Look(t0 + HELLO_ANSWER_WAIT * 2));
  EXPECT_TRUE(list.Take(Event(CHAT_DISCONNECTED, "BOB"), 800));
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"Al (host)", "zed (you) (host)"}));
}
