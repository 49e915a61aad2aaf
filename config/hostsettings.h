#pragma once
// What a host may be set to that config.cfg has no key for: a chat password,
// whether connections that do not begin with TLS are refused, and whether and
// within which limits it keeps the files participants share. Kept in a
// file of its own beside config.cfg (which stays as it is), one "key=value"
// line each, written whole or not at all and readable by the user alone.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr const char* HOST_SETTINGS_FILE = "host-settings.cfg";
// Longest chat password, in bytes.
constexpr size_t MAX_PASSWORD_BYTES = 128;

struct HostSettings {
  std::string password;  // empty: anyone may join
  bool encryptedOnly = false;
  bool sharing = true;
  uint32_t shareLargestMiB = 2048;  // the largest file taken
  uint32_t shareTotalMiB = 4096;    // all files kept together
  uint32_t shareHours = 24;         // how long a file is kept
  bool operator==(const HostSettings&) const = default;
};

// A password a chat can have: 1 to MAX_PASSWORD_BYTES bytes, none of them a
// control character (it is one line of a file, and typed in one line).
bool IsAcceptablePassword(std::string_view password);

// The file beside the settings file at `configPath`.
std::string HostSettingsPath(const std::string& configPath);

// Fills `settings` from the file; a missing file gives the defaults and true,
// and so does a missing key or a number out of its range for that key.
// A file that cannot be read, or holds a password that is not acceptable,
// gives the defaults and false, with the reason in `error`.
bool ReadHostSettings(const std::string& path, HostSettings& settings, std::string& error);
bool WriteHostSettings(const std::string& path, const HostSettings& settings, std::string& error);

// The password in the first line of a file (--password-file), without its
// line break.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error);
