#include "discovery/chatservice.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <tuple>

#include "protocol/nickname.h"
#include "protocol/utf8.h"
#include "trust/keydigest.h"

namespace {
// Cuts `text` to at most `bytes` without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}
}  // namespace

std::string InstanceName(const std::string& nick, const std::string& machine) {
  return CutUtf8(nick.empty() ? machine : nick + " on " + machine, MAX_INSTANCE_NAME_BYTES);
}

std::string MachineName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  std::string machine(name);
  return machine.substr(0, machine.find('.'));
}

std::string RowText(const FoundChat& chat) {
  const std::string dash = " \xE2\x80\x94 ";
  std::string row = ControlsShown(chat.name) + dash + chat.address + ":" + std::to_string(chat.port);
  if (chat.people == 1) row += dash + "1 person";
  else if (chat.people >= 0) row += dash + std::to_string(chat.people) + " people";
  // A listed key is already a short key's 16 hex digits.
  if (chat.encrypted && !chat.key.empty()) return row + dash + "encrypted, key " + GroupedShortKey(chat.key);
  return row + dash + (chat.encrypted ? "encrypted, no key given" : "not encrypted");
}

int PeopleCount(const std::string& value) {
  // A chat holds at most a few dozen: four digits are plenty.
  if (value.empty() || value.size() > 4) return -1;
  int n = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

bool NaturalLess(std::string_view a, std::string_view b) {
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      // Numbers by value: leading zeros aside, the longer run is larger.
      const size_t endA = a.find_first_not_of("0123456789", i), endB = b.find_first_not_of("0123456789", j);
      std::string_view runA = a.substr(i, endA - i), runB = b.substr(j, endB - j);
      runA.remove_prefix(std::min(runA.find_first_not_of('0'), runA.size()));
      runB.remove_prefix(std::min(runB.find_first_not_of('0'), runB.size()));
      if (runA.size() != runB.size()) return runA.size() < runB.size();
      if (runA != runB) return runA < runB;
      i = std::min(endA, a.size());
      j = std::min(endB, b.size());
      continue;
    }
    const int ca = std::tolower(static_cast<unsigned char>(a[i])), cb = std::tolower(static_cast<unsigned char>(b[j]));
    if (ca != cb) return ca < cb;
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;  // equal but for letter case or zeros: still one order
}

bool ListedBefore(const FoundChat& a, const FoundChat& b) {
  if (NaturalLess(a.name, b.name)) return true;
  if (NaturalLess(b.name, a.name)) return false;
  return std::tie(a.address, a.port) < std::tie(b.address, b.port);
}

FoundChat Found(const std::string& name, const std::string& nick, const std::string& address, uint16_t port,
                const std::string& tls, const std::string& key) {
  FoundChat chat;
  chat.name = name.substr(0, Utf8PrefixLength(name, MAX_INSTANCE_NAME_BYTES));
  chat.nick = nick.substr(0, Utf8PrefixLength(nick, MAX_NICKNAME_BYTES));
  chat.address = address;
  chat.port = port;
  chat.encrypted = tls == "1";
  const bool hex = key.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
  // Anything but a short key could never match a host's key.
  if (chat.encrypted && hex && key.size() == KeyDigest::SHORT_DIGITS) chat.key = key;
  return chat;
}
