#pragma once
// UTF-8 as the program reads and cuts it. Texts are cut only between
// characters, so that a fixed-size field or a message never ends in half of
// one. Bytes that are not UTF-8 (another code page's, a broken sequence) pass
// one by one and never hold a text back.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct Utf8Char {
  // Bytes it takes: a lead byte with the continuation bytes it announces, as
  // far as they follow; 1 for a byte that is not UTF-8; 0 only for no text.
  size_t length = 0;
  // A complete sequence of a valid lead byte: codePoint holds its value.
  bool wellFormed = false;
  uint32_t codePoint = 0;
};

// The character at the start of `text`.
Utf8Char ReadUtf8Char(std::string_view text);

// Length of the longest prefix of `text` of at most `limit` bytes that does not
// end inside a character. A text that fits is kept whole.
size_t Utf8PrefixLength(std::string_view text, size_t limit);

// `text` with each control character (C0, DEL, C1), each bidirectional
// control (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069) and
// the line and paragraph separators shown as U+FFFD, so that a name from the
// network can neither break a line, nor forge one, nor turn around or hide
// what stands beside it.
std::string ControlsShown(std::string_view text);
// True for the characters ControlsShown replaces.
bool IsUnsafeInName(uint32_t codePoint);
