#pragma once
// What a line typed in the input box asks Send to do:
// - "/msg nick text" or "/m nick text" (the command in any letter case) is a
//   private line for nick; without a nickname or a text it is not sent;
// - "/remove nick" asks to show nick out of a hosted chat; nothing is sent;
// - a line beginning with "//" is a public line without its first "/", so
//   that a line can still begin with a slash;
// - every other line is a public line exactly as typed.

#include <cstddef>
#include <string>
#include <vector>

struct TypedLine {
  enum class Kind { Public, Private, Remove, Incomplete };
  Kind kind = Kind::Public;
  std::string addressee;  // a private line's, or whom to remove
  std::string text;       // what goes out
};

// `typed` as Send takes it from the box (UTF-8, line breaks as CR LF). A
// nickname ends at the first blank, unless one of `knownNames` (any letter
// case, as the server compares them) stands there followed by a blank: names
// with blanks in them can be addressed too.
TypedLine ParseTypedLine(const std::string& typed, const std::vector<std::string>& knownNames = {});

// Bytes of the input box's limit that `typed` takes: the text that goes out,
// and for a private line its addressee field too (the count, the name and its
// NUL: what a private message holds more than a public one), so that a full
// box makes a message of the same size either way.
size_t LimitBytes(const std::string& typed, const std::vector<std::string>& knownNames = {});
