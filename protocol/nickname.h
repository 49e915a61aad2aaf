#pragma once
// Which nicknames a server lets in. A name is shown at the head of every line
// its owner says: it must not break a transcript line, hide or reorder
// characters, pass for somebody else's name with invisible differences, or
// pass for the server's own shutdown notice.

#include <cstddef>
#include <string>
#include <string_view>

// Longest nickname, in bytes of UTF-8.
constexpr size_t MAX_NICKNAME_BYTES = 31;

// A nickname as this side states it: at most MAX_NICKNAME_BYTES, cut between
// characters. Two nicknames are the same in any letter case.
class Nickname {
 public:
  Nickname() = default;
  explicit Nickname(std::string_view text);
  const char* c_str() const { return text.c_str(); }
  const std::string& str() const { return text; }
  // Whether `name` (null: no name) is this nickname.
  bool Is(const char* name) const;

 private:
  std::string text;
};

// Refuses control bytes (below 0x20, 0x7F), Unicode format characters
// (zero-width and direction marks, the byte-order mark, ...), leading or
// trailing blanks, and the server's shutdown name in any letter case. Bytes
// that are not UTF-8 are let through: older peers may use another code page.
bool IsAcceptableNickname(std::string_view name);
