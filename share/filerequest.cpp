#include "share/filerequest.h"

#include <cstring>

#include "share/sharedname.h"
#include "trust/hex.h"

namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of `key` in a query string, decoded; false when absent or broken.
bool QueryValue(std::string_view query, std::string_view key, std::string& value) {
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const size_t eq = pair.find('=');
    if (eq != std::string_view::npos && pair.substr(0, eq) == key) return PercentDecode(pair.substr(eq + 1), value);
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return false;
}

bool ReadNumber(std::string_view digits, uint64_t& value) {
  if (digits.empty() || digits.size() > 19) return false;
  value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}
}  // namespace

FileRequest ReadFileRequest(std::string_view method, std::string_view target) {
  FileRequest r;
  constexpr std::string_view prefix = "/files/";
  if (target.substr(0, prefix.size()) != prefix) return r;
  target.remove_prefix(prefix.size());
  const size_t question = target.find('?');
  const std::string_view path = target.substr(0, question);
  const std::string_view query = question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
  if (method == "GET" || method == "HEAD") {
    r.head = method == "HEAD";
    r.id = std::string(path.substr(0, path.find('/')));
    if (IsLowerHex(r.id, 32)) r.kind = FileRequest::Kind::Fetch;
    return r;
  }
  if (method != "PUT") return r;
  std::string name;
  if (path.empty() || !PercentDecode(path, name) || !QueryValue(query, "ticket", r.ticket) ||
      !QueryValue(query, "sha256", r.sha256)) {
    return r;
  }
  for (char& c : r.sha256) c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
  if (!IsLowerHex(r.sha256, 64) || r.ticket.empty()) return r;
  r.name = CleanSharedName(name);
  r.kind = FileRequest::Kind::Upload;
  return r;
}

std::string SharedFilePath(std::string_view id, std::string_view name) {
  return "/files/" + std::string(id) + "/" + PercentEncode(name);
}

bool PercentDecode(std::string_view in, std::string& out) {
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out += in[i];
      continue;
    }
    if (i + 2 >= in.size()) return false;
    const int high = HexValue(in[i + 1]), low = HexValue(in[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

std::string PercentEncode(std::string_view in) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : in) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || std::strchr("-._~", c)) {
      out += c;
    } else {
      out += {'%', digits[b >> 4], digits[b & 0xF]};
    }
  }
  return out;
}

std::string ContentDisposition(std::string_view name, bool inlined) {
  // The fallback keeps printable ASCII other than a quote or a backslash,
  // which a quoted string would have to escape.
  std::string ascii;
  for (const char c : name) ascii += (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') ? c : '_';
  return std::string(inlined ? "inline" : "attachment") + "; filename=\"" + ascii + "\"; filename*=UTF-8''" +
         PercentEncode(name);
}

RangeAsked ReadRange(std::string_view header, uint64_t size, uint64_t& first, uint64_t& last) {
  first = 0;
  last = size == 0 ? 0 : size - 1;
  constexpr std::string_view unit = "bytes=";
  if (header.substr(0, unit.size()) != unit) return RangeAsked::Whole;
  const std::string_view asked = header.substr(unit.size());
  const size_t dash = asked.find('-');
  if (dash == std::string_view::npos || asked.find(',') != std::string_view::npos) return RangeAsked::Whole;
  const std::string_view from = asked.substr(0, dash), to = asked.substr(dash + 1);
  uint64_t a = 0, b = 0;
  if (from.empty()) {
    // The last b bytes.
    if (!ReadNumber(to, b)) return RangeAsked::Whole;
    if (b == 0 || size == 0) return RangeAsked::Unsatisfiable;
    first = b >= size ? 0 : size - b;
    return RangeAsked::Part;
  }
  if (!ReadNumber(from, a) || (!to.empty() && !ReadNumber(to, b))) return RangeAsked::Whole;
  if (!to.empty() && b < a) return RangeAsked::Whole;
  if (a >= size) return RangeAsked::Unsatisfiable;
  first = a;
  if (!to.empty() && b < last) last = b;
  return RangeAsked::Part;
}

namespace {
constexpr std::string_view PNG = "image/png", JPEG = "image/jpeg", GIF = "image/gif", WEBP = "image/webp";
}  // namespace

bool IsPictureType(std::string_view type) { return type == PNG || type == JPEG || type == GIF || type == WEBP; }

std::string PictureType(const uint8_t* bytes, size_t n) {
  const auto starts = [&](std::string_view magic, size_t at = 0) {
    return n >= at + magic.size() && std::memcmp(bytes + at, magic.data(), magic.size()) == 0;
  };
  if (starts("\x89PNG\r\n\x1A\n")) return std::string(PNG);
  if (starts("\xFF\xD8\xFF")) return std::string(JPEG);
  if (starts("GIF87a") || starts("GIF89a")) return std::string(GIF);
  if (starts("RIFF") && starts("WEBP", 8)) return std::string(WEBP);
  return {};
}
