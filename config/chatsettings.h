#pragma once
// The participant's settings as the window holds them while it runs.

#include <cstdint>

#include "protocol/headers.h"
#include "protocol/nickname.h"

struct ChatSettings {
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  EndpointRole Role = TYPE_CLIENT;
  // The file's role line named neither role ("0 0", read as the client) or both
  // ("1 1", read as the server). The line is written back as it was read until
  // the settings dialog's OK sets one role.
  bool NeitherOrBothRoles = false;
  uint16_t Port = 27015;
  uint16_t Ip[4] = {127, 0, 0, 1};  // in the order of the dotted form
  uint32_t Color = 0;               // red in bits 0-7, green 8-15, blue 16-23
  // UTF-8 bytes, NUL-terminated: at most 31 bytes of text.
  char Police[32] = "Arial";
  char Pseudo[MAX_NICKNAME_BYTES + 1] = "username";
};
