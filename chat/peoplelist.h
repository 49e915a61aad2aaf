#pragma once
// Who is in the chat, as one participant's client learns it: from the host's
// list when the host shares it, otherwise from the arrivals seen since
// joining; kept current by the arrival and departure notices. It is fed the
// events of the own client endpoint in their order, and looked at once per
// pass; it has no thread of its own.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "chat/chatevent.h"

// How long a host may take to answer the HELLO sent behind the welcome. Our
// hosts answer within one pass of their socket thread, before anything else
// they send the newcomer; a host that lets this pass, or sends something
// else first, does not share its list.
constexpr std::chrono::milliseconds HELLO_ANSWER_WAIT{1000};

class PeopleList {
 public:
  using Clock = std::chrono::steady_clock;

  enum class Sharing {
    Out,        // not in the chat: nobody is listed
    Asking,     // joined, waiting for the host's answer
    Shared,     // the host's list, kept current
    NotShared,  // the host does not share it: you and those who came after
  };

  struct Person {
    std::string name;
    uint32_t since = 0;  // UTC seconds
    bool host = false;   // the host's own user
    bool you = false;
  };

  // A connection has started (the first one or a rejoin) under the nickname
  // `you`; `youAreHost` when this window hosts the chat.
  void Started(const std::string& you, bool youAreHost, uint32_t nowUtc, Clock::time_point now);
  // The connection ended: out of the chat.
  void Lost();
  // One event of the own client; true when what is shown changed.
  bool Take(const ChatEvent& event, uint32_t nowUtc);
  // Once the host has had its moment to answer; true when a silent host was
  // just found not to share.
  bool Look(Clock::time_point now);

  Sharing State() const { return sharing; }
  // Nobody while out or asking; sorted without regard to letter case.
  std::vector<Person> People() const;
  // How many People() would list, without sorting them.
  size_t Count() const;

 private:
  bool Add(std::vector<Person>& to, Person person) const;
  bool Remove(const std::string& name);
  bool Arrived(const std::string& name, uint32_t nowUtc);
  Person Marked(Person person) const;

  Sharing sharing = Sharing::Out;
  std::string you;
  bool youAreHost = false;
  Clock::time_point startedAt{};
  // What is shown once the state allows, and the host's list being received.
  std::vector<Person> people;
  std::vector<Person> receiving;
};
