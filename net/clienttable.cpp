#include "net/clienttable.h"

#include <strings.h>

#include <chrono>

uint32_t UtcSecondsNow() {
  return static_cast<uint32_t>(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
}

bool CClientTable::Add(Socket s, std::string name, uint32_t since, bool hostUser) {
  if (Has(s)) return false;
  ++generation;
  entries.emplace(s, Participant{std::move(name), since, generation, false, hostUser});
  return true;
}

void CClientTable::Remove(Socket s) {
  if (entries.erase(s) != 0) ++generation;
}

void CClientTable::Clear() {
  if (!entries.empty()) ++generation;
  entries.clear();
}

const Participant* CClientTable::Find(Socket s) const {
  const auto it = entries.find(s);
  return it != entries.end() ? &it->second : nullptr;
}

Socket CClientTable::FindByName(const char* name) const {
  if (name == nullptr) return INVALID_SOCKET;
  for (const auto& [s, participant] : entries) {
    if (strcasecmp(participant.name.c_str(), name) == 0) return s;
  }
  return INVALID_SOCKET;
}

bool CClientTable::MarkAsked(Socket s) {
  const auto it = entries.find(s);
  if (it == entries.end() || it->second.asked) return false;
  it->second.asked = true;
  return true;
}

void CClientTable::SetTicket(Socket s, std::string ticket) {
  const auto it = entries.find(s);
  if (it != entries.end()) it->second.ticket = std::move(ticket);
}

void CClientTable::SetHostUser(Socket s, bool hostUser) {
  const auto it = entries.find(s);
  if (it != entries.end()) it->second.hostUser = hostUser;
}

std::vector<Person> CClientTable::People() const {
  std::vector<Person> people;
  people.reserve(entries.size());
  for (const auto& [s, p] : entries) {
    const uint16_t flags = (p.hostUser ? PERSON_HOST : 0) | (p.asked ? PERSON_ASKED : 0);
    people.push_back({p.name, p.since, flags});
  }
  return people;
}

std::vector<std::pair<Socket, std::string>> CClientTable::Names() const {
  std::vector<std::pair<Socket, std::string>> names;
  names.reserve(entries.size());
  for (const auto& [s, p] : entries) names.emplace_back(s, p.name);
  return names;
}
