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

// A refused password: a wrong one, or one not looked at because wrong ones
// came from the address lately (REFUSED_PASSWORD_WAIT, or
// REFUSED_TOO_MANY_TRIES from older hosts). No try follows by itself.
bool IsPasswordRefusal(uint16_t reason);
// Why a password was not looked at, in words, such as "Wrong passwords came
// from this address lately: the host looks at the next one in 4 s"; empty for
// a plain wrong password.
std::string PasswordWaitText(uint16_t reason, uint32_t seconds);
