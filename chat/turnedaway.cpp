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

bool IsPasswordRefusal(uint16_t reason) {
  return reason == REFUSED_WRONG_PASSWORD || reason == REFUSED_TOO_MANY_TRIES || reason == REFUSED_PASSWORD_WAIT;
}

std::string PasswordWaitText(uint16_t reason, uint32_t seconds) {
  if (reason == REFUSED_TOO_MANY_TRIES) {
    return "Too many wrong passwords came from this address: the host refuses it for a while";
  }
  if (reason != REFUSED_PASSWORD_WAIT) return "";
  return "Wrong passwords came from this address lately: the host looks at the next one in " +
         std::to_string(seconds == 0 ? 1 : seconds) + " s";
}
