#pragma once
// Which nicknames a server lets in. A name is shown at the head of every line
// its owner says: it must not break a transcript line, hide or reorder
// characters, pass for somebody else's name with invisible differences, or
// pass for the server's own shutdown notice.

#include <string_view>

// Refuses control bytes (below 0x20, 0x7F), Unicode format characters
// (zero-width and direction marks, the byte-order mark, ...), leading or
// trailing blanks, and the server's shutdown name in any letter case. Bytes
// that are not UTF-8 are let through: older peers may use another code page.
bool IsAcceptableNickname(std::string_view name);
