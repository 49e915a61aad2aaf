#pragma once
// The record in which one chat message reaches the window, and in which the
// window hands an outgoing line to the senders.

#include <cstdint>
#include <string>

#include "protocol/chatline.h"
#include "protocol/extension.h"

// Events of our own messages; their values lie beyond every chat header.
// A person of the list of those present: Name, Time (since when, UTC
// seconds), Flags (PERSON_HOST, PERSON_ASKED), Count (place in the list: 0
// starts a new list).
constexpr uint16_t EVENT_PRESENT = 0x100;
// The list of those present is whole: Count people.
constexpr uint16_t EVENT_PEOPLE = 0x101;
// More people than a chat can hold: a host that lists more is not believed.
constexpr uint16_t MAX_LISTED_PEOPLE = 1024;
// A public line said before the own arrival: the line, Time (when the host
// relayed it, UTC seconds), Count (earlier lines still to come after it).
constexpr uint16_t EVENT_EARLIER = 0x102;
// The host keeps shared files and gave its upload ticket: Text.
constexpr uint16_t EVENT_TICKET = 0x103;
// A file shared with everyone or with the own user alone: File.
constexpr uint16_t EVENT_FILE = 0x104;
// One part of a shared file's small picture: File.id, Count (the part),
// Flags (how many parts), Data (its bytes).
constexpr uint16_t EVENT_PICTURE = 0x105;

// A chat line and what it is: a CHAT_ header value or an EVENT_ value. An
// arrival or a departure sets only the name.
struct ChatEvent : ChatLine {
  uint16_t Type = 0;
  uint32_t Time = 0;
  uint16_t Flags = 0;
  uint16_t Count = 0;
  SharedFile File{};
  std::string Data;
};
