#pragma once
// The settings file: fourteen CR LF lines, read once at start and written once
// at exit. No function here reports anything to the user.

#include <string>
#include <string_view>

#include "config/chatsettings.h"

// Fills `settings` from the file at `path`. Returns false, leaving `settings`
// untouched, when the file cannot be opened or is not a regular file.
// Otherwise returns true and sets every field: a malformed file gives 0 (or an
// empty text) for every value from its first mismatch on. The role is the
// server exactly when the file's Server value is not 0; a role line naming
// neither role or both sets NeitherOrBothRoles.
bool ReadConfigFile(const std::string& path, ChatSettings& settings);

// Replaces the file at `path` with the settings as text. The old file stays
// whole until the new one is complete; where no file can be made beside it (a
// read-only folder) it is rewritten in place. A symbolic link, even a dangling
// one, is written through and stays a link. Failures are silent and leave no
// temporary file behind.
void WriteConfigFile(const std::string& path, const ChatSettings& settings);

// Writes a default-constructed ChatSettings.
void WriteDefaultConfigFile(const std::string& path);

// A nickname as the settings keep it: without control characters (they would
// break the file's lines or a line of the transcript), without leading or
// trailing blanks (the formatted read skips leading ones, and a server refuses
// both). A nickname of blanks only becomes the empty nickname.
std::string NicknameForSettings(std::string_view text);
// A font face name as the settings keep it: without control characters and
// without leading blanks.
std::string FaceNameForSettings(std::string_view text);

// Stores `text` in a Police or Pseudo field: at most 31 bytes, cut before a
// UTF-8 character that would not fit whole, NUL-terminated and zero-filled.
void CopySettingText(char (&field)[32], std::string_view text);
