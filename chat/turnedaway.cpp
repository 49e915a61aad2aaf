#include "chat/turnedaway.h"

#include "protocol/extension.h"

bool IsTurnedAway(uint16_t reason) {
  return reason == REFUSED_CHAT_FULL || reason == REFUSED_ADDRESS_FULL || reason == REFUSED_TOO_FAST;
}

std::string TurnedAwayText(uint16_t reason, uint32_t seconds) {
  switch (reason) {
    case REFUSED_CHAT_FULL: return "The chat is full";
    case REFUSED_ADDRESS_FULL: return "Too many connections come from your address";
    case REFUSED_TOO_FAST:
      return "Your address connects too fast: try again in " + std::to_string(seconds == 0 ? 1 : seconds) + " s";
    default: return "The host turned the connection away";
  }
}
