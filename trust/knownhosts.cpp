#include "trust/knownhosts.h"

#include <optional>
#include <sstream>
#include <vector>

#include "trust/privatefiles.h"

namespace {
// Far more hosts than any user meets; a larger file is not ours.
constexpr size_t KNOWN_HOSTS_LIMIT = 1024 * 1024;

const char* const HEADER =
    "# Hosts this Jaselo client has met: address, port, and the SHA-256 of the host's\n"
    "# certificate. A host whose key differs is refused. Delete a line to forget a host.\n";

struct Entry {
  std::string address;
  uint16_t port = 0;
  KeyDigest key;
};

// The address and the port a line begins with: the host it is about, whatever follows.
bool NamesHost(const std::string& line, const std::string& address, uint16_t port) {
  std::istringstream in(line);
  std::string first, second;
  if (!(in >> first >> second) || first != address) return false;
  return second == std::to_string(port);
}

std::optional<Entry> Parse(const std::string& line) {
  std::istringstream in(line);
  Entry entry;
  unsigned long port = 0;
  std::string hex, rest;
  if (!(in >> entry.address >> port >> hex) || (in >> rest) || port > 65535) return std::nullopt;
  const auto key = KeyDigest::FromHex(hex);
  if (!key) return std::nullopt;
  entry.port = static_cast<uint16_t>(port);
  entry.key = *key;
  return entry;
}

std::string LineOf(const std::string& address, uint16_t port, const KeyDigest& key) {
  return address + " " + std::to_string(port) + " " + key.Hex();
}

bool ReadLines(const std::string& path, std::vector<std::string>& lines, std::string& error) {
  std::string content;
  bool missing = false;
  if (!ReadSmallFile(path, KNOWN_HOSTS_LIMIT, content, missing, error)) return missing;
  std::istringstream in(content);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return true;
}

}  // namespace

HostEntry KnownHosts::Look(const std::string& address, uint16_t port) {
  std::lock_guard<std::mutex> guard(mutex);
  std::vector<std::string> lines;
  HostEntry entry;
  if (!ReadLines(path, lines, entry.reason)) {
    entry.state = HostEntry::State::Unreadable;
    return entry;
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!NamesHost(lines[i], address, port)) continue;
    const auto parsed = Parse(lines[i]);
    entry.state = parsed ? HostEntry::State::Met : HostEntry::State::BadLine;
    if (parsed) entry.key = parsed->key;
    entry.line = i + 1;
    return entry;
  }
  return entry;
}

bool KnownHosts::Remember(const std::string& address, uint16_t port, const KeyDigest& key, std::string& error) {
  std::lock_guard<std::mutex> guard(mutex);
  std::vector<std::string> lines;
  if (!ReadLines(path, lines, error)) return false;
  std::string content = lines.empty() ? HEADER : "";
  bool replaced = false;
  for (const std::string& line : lines) {
    if (!NamesHost(line, address, port)) {
      content += line + "\n";
    } else if (!replaced) {
      content += LineOf(address, port, key) + "\n";
      replaced = true;
    }
  }
  if (!replaced) content += LineOf(address, port, key) + "\n";
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakePrivateFolder(path.substr(0, slash), error)) return false;
  return WritePrivateFile(path, content, error);
}
