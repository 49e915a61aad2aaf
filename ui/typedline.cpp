#include "ui/typedline.h"

#include <strings.h>

#include <string_view>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The command word at the start of `typed`, followed by a blank or the end.
bool StartsWithCommand(std::string_view typed, std::string_view command) {
  if (typed.size() < command.size() || strncasecmp(typed.data(), command.data(), command.size()) != 0) return false;
  return typed.size() == command.size() || IsBlank(typed[command.size()]);
}

// Length of the nickname at the start of `rest`: the longest known name that
// stands there whole, else everything up to the first blank.
size_t NicknameLength(std::string_view rest, const std::vector<std::string>& knownNames) {
  size_t known = 0;
  for (const std::string& name : knownNames) {
    if (name.empty() || name.size() <= known || name.size() > rest.size()) continue;
    if (strncasecmp(rest.data(), name.data(), name.size()) != 0) continue;
    if (name.size() == rest.size() || IsBlank(rest[name.size()])) known = name.size();
  }
  if (known != 0) return known;
  size_t n = 0;
  while (n < rest.size() && !IsBlank(rest[n])) ++n;
  return n;
}

}  // namespace

TypedLine ParseTypedLine(const std::string& typed, const std::vector<std::string>& knownNames) {
  TypedLine line;
  const std::string_view view(typed);
  if (view.starts_with("//")) {
    line.text = typed.substr(1);
    return line;
  }
  if (StartsWithCommand(view, "/remove")) {
    std::string_view rest = view.substr(7);
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    while (!rest.empty() && IsBlank(rest.back())) rest.remove_suffix(1);
    line.kind = rest.empty() ? TypedLine::Kind::Incomplete : TypedLine::Kind::Remove;
    line.addressee = rest;
    return line;
  }
  size_t command = 0;
  if (StartsWithCommand(view, "/msg")) command = 4;
  else if (StartsWithCommand(view, "/m")) command = 2;
  if (command == 0) {
    line.text = typed;
    return line;
  }
  line.kind = TypedLine::Kind::Incomplete;
  std::string_view rest = view.substr(command);
  while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
  const size_t nickname = NicknameLength(rest, knownNames);
  if (nickname == 0 || nickname == rest.size()) return line;
  const std::string_view addressee = rest.substr(0, nickname);
  // One blank parts the nickname from the text (a line break is one blank);
  // the text keeps any further blanks.
  rest.remove_prefix(nickname);
  rest.remove_prefix(rest.starts_with("\r\n") ? 2 : 1);
  if (rest.empty()) return line;
  line.kind = TypedLine::Kind::Private;
  line.addressee = addressee;
  line.text = rest;
  return line;
}

size_t LimitBytes(const std::string& typed, const std::vector<std::string>& knownNames) {
  const TypedLine line = ParseTypedLine(typed, knownNames);
  // An incomplete command is not sent; while it is typed it counts as it stands.
  if (line.kind == TypedLine::Kind::Incomplete || line.kind == TypedLine::Kind::Remove) return typed.size();
  if (line.kind == TypedLine::Kind::Private) return line.text.size() + 2 + line.addressee.size() + 1;
  return line.text.size();
}
