#pragma once
// The record in which one chat message reaches the window, and in which the
// window hands an outgoing line to the senders.

#include <cstdint>

#include "protocol/chatline.h"

// A chat line and what it is: a CHAT_ header value. An arrival or a departure
// sets only the name.
struct ChatEvent : ChatLine {
  uint16_t Type = 0;
};
