#include "chat/peoplelist.h"

#include <strings.h>

#include <algorithm>

#include "protocol/extension.h"
#include "protocol/headers.h"

namespace {
bool SameName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }
std::string NameOf(const ChatEvent& event) { return event.Name.get() ? std::string(event.Name.get()) : std::string(); }
}  // namespace

void PeopleList::Started(const std::string& name, bool hosting, uint32_t nowUtc, Clock::time_point now) {
  sharing = Sharing::Asking;
  you = name;
  youAreHost = hosting;
  startedAt = now;
  people.clear();
  receiving.clear();
  // Until the host answers, or as the start of a list it will not send.
  Add(people, Marked({you, nowUtc}));
}

void PeopleList::Lost() {
  sharing = Sharing::Out;
  people.clear();
  receiving.clear();
}

PeopleList::Person PeopleList::Marked(Person person) const {
  person.you = SameName(person.name, you);
  person.host = person.host || (person.you && youAreHost);
  return person;
}

bool PeopleList::Add(std::vector<Person>& to, Person person) const {
  if (person.name.empty() || to.size() >= MAX_LISTED_PEOPLE) return false;
  for (const Person& p : to) {
    if (SameName(p.name, person.name)) return false;
  }
  to.push_back(std::move(person));
  return true;
}

bool PeopleList::Remove(const std::string& name) {
  const auto gone =
      std::remove_if(people.begin(), people.end(), [&](const Person& p) { return SameName(p.name, name); });
  if (gone == people.end()) return false;
  people.erase(gone, people.end());
  return true;
}

bool PeopleList::Arrived(const std::string& name, uint32_t nowUtc) { return Add(people, Marked({name, nowUtc})); }

bool PeopleList::Take(const ChatEvent& event, uint32_t nowUtc) {
  if (sharing == Sharing::Out) return false;
  const bool wasShown = sharing == Sharing::Shared || sharing == Sharing::NotShared;
  switch (event.Type) {
    case EVENT_PRESENT:
      if (event.Count == 0) receiving.clear();
      Add(receiving, Marked({NameOf(event), event.Time, (event.Flags & PERSON_HOST) != 0}));
      return false;
    case EVENT_PEOPLE:
      // Also when it comes after all: a late answer is still the whole list.
      people.swap(receiving);
      receiving.clear();
      sharing = Sharing::Shared;
      return true;
    case EVENT_EARLIER: return false;
    default: break;
  }
  // Our hosts answer before anything else: a chat message first means this
  // host will not.
  if (sharing == Sharing::Asking) sharing = Sharing::NotShared;
  bool changed = !wasShown;
  if (event.Type == CHAT_JOINED) changed = Arrived(NameOf(event), nowUtc) || changed;
  if (event.Type == CHAT_DISCONNECTED && NameOf(event) != SERVER_SHUTDOWN_NAME)
    changed = Remove(NameOf(event)) || changed;
  return changed;
}

bool PeopleList::Look(Clock::time_point now) {
  if (sharing != Sharing::Asking || now - startedAt < HELLO_ANSWER_WAIT) return false;
  sharing = Sharing::NotShared;
  return true;
}

size_t PeopleList::Count() const { return sharing == Sharing::Out || sharing == Sharing::Asking ? 0 : people.size(); }

std::vector<PeopleList::Person> PeopleList::People() const {
  if (sharing == Sharing::Out || sharing == Sharing::Asking) return {};
  std::vector<Person> sorted = people;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Person& a, const Person& b) { return strcasecmp(a.name.c_str(), b.name.c_str()) < 0; });
  return sorted;
}
