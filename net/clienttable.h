#pragma once
// A server's table of identified clients and what it knows of each one: the
// nickname its welcome gave, when that was, whether it asked for our own
// messages, whether it is the host's own user. Entries are ordered by socket
// value, and every walk follows that order. No two nicknames are equal
// without regard to letter case: the welcome's handling makes sure of it.
// Its owner's endpoint lock guards it.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "net/sockets.h"
#include "protocol/extension.h"

struct Participant {
  std::string name;
  uint32_t since = 0;       // identified at, UTC seconds
  uint64_t generation = 0;  // the table's generation right after it was added
  bool asked = false;       // sent HELLO
  bool hostUser = false;    // the host's own user
  // The upload ticket it was given when it asked for shared files; empty
  // when it did not ask.
  std::string ticket{};
};

// The host's clock as the people lists and the kept lines carry it.
uint32_t UtcSecondsNow();

class CClientTable {
 public:
  // Identifies the connection on `s`; false, and nothing changes, when it
  // already has an entry.
  bool Add(Socket s, std::string name, uint32_t since, bool hostUser);
  void Remove(Socket s);
  void Clear();

  const Participant* Find(Socket s) const;
  bool Has(Socket s) const { return entries.count(s) != 0; }
  // The first entry in table order whose nickname equals `name` without
  // regard to letter case, or INVALID_SOCKET.
  Socket FindByName(const char* name) const;
  // A connection's first HELLO: true once, for an identified connection.
  bool MarkAsked(Socket s);
  void SetHostUser(Socket s, bool hostUser);
  void SetTicket(Socket s, std::string ticket);

  size_t Count() const { return entries.size(); }
  // Moves on with every identification and every removal, so that what
  // happened before somebody joined can be told from what came after.
  uint64_t Generation() const { return generation; }
  // Everybody present, in table order, as a PEOPLE list carries them.
  std::vector<Person> People() const;
  std::vector<std::pair<Socket, std::string>> Names() const;
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (const auto& [s, participant] : entries) visit(s, participant);
  }

 private:
  std::map<Socket, Participant> entries;
  uint64_t generation = 0;
};
