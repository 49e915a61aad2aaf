#include "config/hostsettings.h"

#include <sstream>

#include "trust/privatefiles.h"

namespace {
constexpr size_t HOST_SETTINGS_LIMIT = 4096;
constexpr std::string_view PASSWORD_KEY = "password=";
constexpr std::string_view ENCRYPTED_ONLY_KEY = "encrypted-only=";
constexpr std::string_view SHARING_KEY = "sharing=";
constexpr std::string_view LARGEST_KEY = "share-largest-mib=";
constexpr std::string_view TOTAL_KEY = "share-total-mib=";
constexpr std::string_view HOURS_KEY = "share-hours=";

// A number of the line after `key` within [low, high]; `value` stays as it
// was for anything else.
void ReadNumber(const std::string& line, std::string_view key, uint32_t low, uint32_t high, uint32_t& value) {
  if (line.rfind(key, 0) != 0) return;
  const std::string digits = line.substr(key.size());
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return;
  const auto n = static_cast<uint32_t>(std::stoul(digits));
  if (n >= low && n <= high) value = n;
}

std::string FirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}
}  // namespace

bool IsAcceptablePassword(std::string_view password) {
  if (password.empty() || password.size() > MAX_PASSWORD_BYTES) return false;
  for (const char c : password) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return false;
  }
  return true;
}

std::string HostSettingsPath(const std::string& configPath) {
  const size_t slash = configPath.rfind('/');
  return (slash == std::string::npos ? std::string() : configPath.substr(0, slash + 1)) + HOST_SETTINGS_FILE;
}

bool ReadHostSettings(const std::string& path, HostSettings& settings, std::string& error) {
  settings = HostSettings();
  std::string text;
  bool missing = false;
  if (!ReadSmallFile(path, HOST_SETTINGS_LIMIT, text, missing, error)) return missing;
  HostSettings read;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(PASSWORD_KEY, 0) == 0) read.password = line.substr(PASSWORD_KEY.size());
    if (line.rfind(ENCRYPTED_ONLY_KEY, 0) == 0) read.encryptedOnly = line.substr(ENCRYPTED_ONLY_KEY.size()) == "1";
    if (line.rfind(SHARING_KEY, 0) == 0) read.sharing = line.substr(SHARING_KEY.size()) != "0";
    ReadNumber(line, LARGEST_KEY, 1, 1048576, read.shareLargestMiB);
    ReadNumber(line, TOTAL_KEY, 1, 1048576, read.shareTotalMiB);
    ReadNumber(line, HOURS_KEY, 1, 8760, read.shareHours);
  }
  if (!read.password.empty() && !IsAcceptablePassword(read.password)) {
    error = path + " holds a password that is empty, too long or has control characters";
    return false;
  }
  settings = read;
  return true;
}

bool WriteHostSettings(const std::string& path, const HostSettings& settings, std::string& error) {
  if (!settings.password.empty() && !IsAcceptablePassword(settings.password)) {
    error = "the password is too long or has control characters";
    return false;
  }
  std::string text =
      "# Jaselo: what the chat's host is set to beyond config.cfg. Written by the program.\n"
      "# encrypted-only=1 refuses connections that do not begin with TLS; a password\n"
      "# lets in only those who give it (and implies encrypted-only).\n"
      "# sharing=0 keeps no shared files; otherwise a file is taken up to\n"
      "# share-largest-mib, all of them up to share-total-mib, each for share-hours.\n";
  text += std::string(ENCRYPTED_ONLY_KEY) + (settings.encryptedOnly ? "1" : "0") + "\n";
  text += std::string(PASSWORD_KEY) + settings.password + "\n";
  text += std::string(SHARING_KEY) + (settings.sharing ? "1" : "0") + "\n";
  text += std::string(LARGEST_KEY) + std::to_string(settings.shareLargestMiB) + "\n";
  text += std::string(TOTAL_KEY) + std::to_string(settings.shareTotalMiB) + "\n";
  text += std::string(HOURS_KEY) + std::to_string(settings.shareHours) + "\n";
  return WritePrivateFile(path, text, error);
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error) {
  std::string text;
  bool missing = false;
  if (!ReadSmallFile(path, HOST_SETTINGS_LIMIT, text, missing, error)) return false;
  password = FirstLine(text);
  if (IsAcceptablePassword(password)) return true;
  error = "the first line of " + path + " is no password: empty, longer than " + std::to_string(MAX_PASSWORD_BYTES) +
          " bytes, or with control characters";
  return false;
}
