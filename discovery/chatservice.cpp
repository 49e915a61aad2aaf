#include "discovery/chatservice.h"

#include <unistd.h>

#include <climits>

#include "protocol/utf8.h"

namespace {
// Cuts `text` to at most `bytes` without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}
}  // namespace

std::string InstanceName(const std::string& nick, const std::string& machine) {
  return CutUtf8(nick.empty() ? machine : nick + " on " + machine, MAX_INSTANCE_NAME_BYTES);
}

std::string MachineName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  std::string machine(name);
  return machine.substr(0, machine.find('.'));
}

std::string RowText(const FoundChat& chat) {
  return ControlsShown(chat.name) + " \xE2\x80\x94 " + chat.address + ":" + std::to_string(chat.port);
}
