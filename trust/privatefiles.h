#pragma once
// The user's data folder and the small files in it that are the user's alone:
// the host key, the hosts met before, the host's settings. Each is written
// whole or not at all, and readable by its owner only from the moment it
// exists.

#include <cstddef>
#include <string>
#include <string_view>

// $<variable>/jaselo, or $HOME/<underHome>/jaselo when the variable is unset,
// empty or not absolute; empty when neither can be found.
std::string UserBaseFolder(const char* variable, const char* underHome);

// $XDG_DATA_HOME/jaselo, or $HOME/.local/share/jaselo.
std::string DataFolderPath();

// Writes all of `bytes` to `fd`, going on after an interrupted write.
bool WriteWhole(int fd, std::string_view bytes);

// Makes `folder` and its missing parents, each readable by the user alone;
// folders that exist are left as they are.
bool MakePrivateFolder(const std::string& folder, std::string& error);

// Replaces `path` with `content`: written to a new file that only the user
// may read (created exclusively with mode 0600), flushed, then renamed over
// `path`. On failure `path` is left as it was.
bool WritePrivateFile(const std::string& path, const std::string& content, std::string& error);
// The same for a file that must not be replaced once there: when another
// writer made `path` first, `existed` is set and nothing is written.
bool CreatePrivateFile(const std::string& path, const std::string& content, bool& existed, std::string& error);

// The whole file, refused when it holds more than `limit` bytes. `missing`
// tells a file that does not exist from one that cannot be read.
bool ReadSmallFile(const std::string& path, size_t limit, std::string& content, bool& missing, std::string& error);
