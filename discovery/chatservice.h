#pragma once
// What a hosted chat is announced as, and what a found one is: the DNS-SD
// service type, the instance name, the TXT record's keys, and the text of one
// found chat as the settings dialog lists it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The DNS-SD service type of a chat.
inline constexpr const char* CHAT_SERVICE_TYPE = "_jaselo._tcp";
// Version of the TXT record's layout (key txtvers).
inline constexpr const char* CHAT_TXT_VERSION = "1";
// TXT keys of an encrypted chat: tls=1, and key= the short form of its key.
inline constexpr const char* TXT_TLS = "tls";
inline constexpr const char* TXT_KEY = "key";
// Longest instance name DNS-SD allows, in bytes: one DNS label.
constexpr size_t MAX_INSTANCE_NAME_BYTES = 63;

// "<nick> on <machine>", cut to one DNS label at a character boundary; the
// machine's name alone for an empty nickname.
std::string InstanceName(const std::string& nick, const std::string& machine);
// The machine's name as the network knows it: the host name up to its first dot.
std::string MachineName();

struct FoundChat {
  std::string name;     // the instance name
  std::string nick;     // the host's nickname from the TXT record, empty without one
  std::string address;  // dotted IPv4
  uint16_t port = 0;
  int people = -1;         // how many are in the chat, from the TXT record; -1 when it does not say
  bool encrypted = false;  // the record says tls=1
  std::string key{};       // the short key it gives (16 hex digits), empty without one
};

// What a browser knows at one moment. Without a daemon to ask, `searching`
// is false and `whyNot` says why.
struct ChatListing {
  bool searching = true;
  std::string whyNot;
  std::vector<FoundChat> chats;  // one per chat, in the order ListedBefore gives
};

// "alice on classroom-pc — 192.0.2.10:27015 — 4 people — encrypted, key 3F2A
// 9C01 77B4 E0D2" (without the count when the chat does not give one; "— not
// encrypted" for a chat without TLS), in UTF-8. What came from the network
// cannot lie about what stands beside it: control characters and
// bidirectional controls show as U+FFFD, so a row stays one line in its
// order, and two chats of the same name differ by their address and key.
std::string RowText(const FoundChat& chat);
// The people count of a TXT value: a small decimal number, or -1.
int PeopleCount(const std::string& value);

// The order people expect of names: letter case aside, and a run of digits
// by its value ("room 2" before "room 10").
bool NaturalLess(std::string_view a, std::string_view b);
// As the list shows chats: by name in that order, then address and port.
bool ListedBefore(const FoundChat& a, const FoundChat& b);

// What a browser keeps of a resolved announcement, whatever the network
// sent: the name cut to one DNS label, the nickname to a nickname's length,
// and the key only when it is a short key.
FoundChat Found(const std::string& name, const std::string& nick, const std::string& address, uint16_t port,
                const std::string& tls, const std::string& key);
