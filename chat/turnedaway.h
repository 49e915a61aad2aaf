#pragma once
// A host that cannot seat a newcomer says why inside TLS: the chat is full,
// the address holds its share, or it connects too fast. Such a refusal is for
// a while, not for good: the newcomer may try again later.

#include <cstdint>
#include <string>

bool IsTurnedAway(uint16_t reason);

// The reason in the words the window and the participant say it, such as
// "The chat is full".
std::string TurnedAwayText(uint16_t reason, uint32_t seconds);
