#pragma once
// The one-line text form of a received chat event.

#include <cstdint>
#include <string>
#include <string_view>

#include "chat/chatevent.h"

// A string as a double-quoted value: backslash, quote and control bytes are
// escaped, so a value never spans lines and never ends early.
std::string QuoteValue(std::string_view bytes);

// "SAYS name=... text=... ..." and so on; empty for a type it does not know.
std::string FormatEvent(const ChatEvent& event);

// UTC seconds as 2024-06-11T09:05:00Z.
std::string UtcTime(uint32_t seconds);
