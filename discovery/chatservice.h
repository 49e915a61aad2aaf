#pragma once
// What a hosted chat is announced as, and what a found one is: the DNS-SD
// service type, the instance name, the TXT record's keys, and the text of one
// found chat as the settings dialog lists it.

#include <cstdint>
#include <string>
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
  bool encrypted = false;  // the record says tls=1
  std::string key{};       // the short key it gives (16 hex digits), empty without one
};

// What a browser knows at one moment. Without a daemon to ask, `searching`
// is false and `whyNot` says why.
struct ChatListing {
  bool searching = true;
  std::string whyNot;
  std::vector<FoundChat> chats;  // one per chat, ordered by name
};

// "alice on classroom-pc — 192.0.2.10:27015", in UTF-8; control characters
// from the network show as U+FFFD, so a row stays one line.
std::string RowText(const FoundChat& chat);
