#include "trust/passbook.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "trust/privatefiles.h"

namespace {
// Far more hosts with a password than any user joins.
constexpr size_t PASSES_KEPT = 256;
constexpr size_t PASSES_LIMIT = 64 * 1024;
// A pass is hex digits, as the host makes it; anything else is not kept.
constexpr size_t PASS_DIGITS = 64;

bool IsPass(const std::string& pass) {
  return pass.size() == PASS_DIGITS &&
         std::all_of(pass.begin(), pass.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

std::vector<std::string> Lines(const std::string& path) {
  std::string content, error;
  bool missing = false;
  std::vector<std::string> lines;
  if (!ReadSmallFile(path, PASSES_LIMIT, content, missing, error)) return lines;
  std::istringstream in(content);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Names(const std::string& line, const std::string& keyHex) {
  return line.size() > keyHex.size() && line.compare(0, keyHex.size(), keyHex) == 0 && line[keyHex.size()] == ' ';
}
}  // namespace

std::string PassBook::Find(const KeyDigest& key) {
  const std::lock_guard guard(mutex);
  const std::string keyHex = key.Hex();
  for (const std::string& line : Lines(path)) {
    if (!Names(line, keyHex)) continue;
    const std::string pass = line.substr(keyHex.size() + 1);
    return IsPass(pass) ? pass : "";
  }
  return "";
}

bool PassBook::Keep(const KeyDigest& key, const std::string& pass, std::string& error) {
  if (!IsPass(pass)) {
    error = "not a pass";
    return false;
  }
  const std::lock_guard guard(mutex);
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakePrivateFolder(path.substr(0, slash), error)) return false;
  const std::string keyHex = key.Hex();
  std::vector<std::string> lines = Lines(path);
  std::erase_if(lines, [&](const std::string& line) { return Names(line, keyHex); });
  if (lines.size() >= PASSES_KEPT) lines.erase(lines.begin(), lines.end() - (PASSES_KEPT - 1));
  lines.push_back(keyHex + " " + pass);
  std::string content;
  for (const std::string& line : lines) content += line + "\n";
  return WritePrivateFile(path, content, error);
}
