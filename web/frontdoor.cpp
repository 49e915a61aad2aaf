#include "web/frontdoor.h"

#include <openssl/evp.h>
#include <strings.h>

#include <array>
#include <cctype>
#include <cstdio>

#include "web/pagefiles.h"

namespace {

// The page and everything it loads come from its own origin (pictures also
// from the small views the page itself turned into blobs); no other site may
// frame it, take its files or learn where its links were followed from.
constexpr std::string_view SECURITY_HEADERS =
    "Content-Security-Policy: default-src 'self'; img-src 'self' blob:; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "Cross-Origin-Resource-Policy: same-origin\r\n";

constexpr std::string_view WEB_SOCKET_GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

void Digest(const EVP_MD* md, std::string_view bytes, unsigned& length, unsigned char* out) {
  if (EVP_Digest(bytes.data(), bytes.size(), out, &length, md, nullptr) != 1) length = 0;
}

std::string Sha256Hex(std::string_view bytes, size_t digits) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  Digest(EVP_sha256(), bytes, length, digest);
  std::string hex;
  char pair[3];
  for (unsigned i = 0; i < length && hex.size() < digits; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Whether a comma-separated header value holds `token`, in any letter case.
bool HasToken(std::string_view value, std::string_view token) {
  while (!value.empty()) {
    const size_t comma = value.find(',');
    if (SameText(Trim(value.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return false;
}

std::string Response(std::string_view status, std::string_view extraHeaders, std::string_view contentType,
                     std::string_view body, bool keepAlive = false) {
  std::string r;
  r.reserve(512 + body.size());
  r.append("HTTP/1.1 ").append(status).append("\r\n");
  r.append("Content-Type: ").append(contentType).append("\r\n");
  r.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
  r.append(SECURITY_HEADERS);
  r.append(extraHeaders);
  r.append(keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n");
  r.append(body);
  return r;
}

std::string Refuse(std::string_view status, std::string_view extraHeaders = {}, bool keepAlive = false) {
  const std::string body = std::string(status) + "\n";
  return Response(status, std::string("Cache-Control: no-store\r\n").append(extraHeaders), "text/plain; charset=utf-8",
                  body, keepAlive);
}

// Whether the browser asks for its connection to stay open after this request.
bool AsksToKeepAlive(const HttpRequest& request) {
  if (HasToken(request.connection, "close")) return false;
  return request.version >= 11 || HasToken(request.connection, "keep-alive");
}

// The page with what it shows of the host filled in.
std::string FillPage(std::string_view page, const WebSettings& settings) {
  std::string key;
  for (const char c : settings.shortKey) {
    if (std::isxdigit(static_cast<unsigned char>(c)) || c == ' ') key += c;
  }
  std::string filled(page);
  const auto fill = [&filled](std::string_view mark, const std::string& value) {
    const size_t at = filled.find(mark);
    if (at != std::string::npos) filled.replace(at, mark.size(), value);
  };
  fill("@KEY@", key);
  fill("@PASSWORD@", settings.password ? "1" : "0");
  return filled;
}

}  // namespace

FrontDoor::FrontDoor(const WebSettings& settings) : settings(settings) {
  for (const PageFile& file : PageFiles()) {
    Served served{std::string(file.path), std::string(file.contentType), std::string(file.bytes), {}};
    if (served.path == PAGE_PATH) served.bytes = FillPage(served.bytes, settings);
    // A new version of a file has a new tag: a browser never keeps an old script.
    served.etag = "\"" + Sha256Hex(served.bytes, 16) + "\"";
    files.push_back(std::move(served));
  }
}

const FrontDoor::Served* FrontDoor::Find(std::string_view path) const {
  for (const Served& served : files) {
    if (served.path == path) return &served;
  }
  return nullptr;
}

DoorAnswer FrontDoor::Answer(const HttpRequest& request, const Doorstep& doorstep, bool mayKeepAlive) const {
  std::string_view path = request.target;
  path = path.substr(0, path.find_first_of("?#"));
  if (settings.sharing && path.substr(0, FILES_PATH.size()) == FILES_PATH) {
    // A file is no page to redirect to: over plain text it is simply refused.
    if (settings.tlsOnly && !doorstep.tls) return {Refuse("403 Forbidden")};
    return {{}, false, false, true};
  }
  // Any other method closes: a HEAD's answer here has a body its sender
  // would not expect, which would be read as the next answer; so does a
  // body, which would be read as the next request.
  if (request.method != "GET") return {Refuse("405 Method Not Allowed", "Allow: GET\r\n")};
  if (request.contentLength > 0) return {Refuse("413 Content Too Large")};
  if (path == WEB_SOCKET_PATH) return Upgrade(request, doorstep);
  const bool keepAlive = mayKeepAlive && AsksToKeepAlive(request);
  const Served* served = Find(path);
  // A browser asks for an icon the page does not have: no reason to close.
  if (served == nullptr) return {Refuse("404 Not Found", {}, keepAlive), false, keepAlive};
  if (settings.tlsOnly && !doorstep.tls) {
    // Nothing of this chat travels in the clear, its page included.
    const std::string location = PageUrl(doorstep.localAddress, doorstep.port, true);
    return {Refuse("307 Temporary Redirect", "Location: " + location + "\r\n")};
  }
  const std::string validators = "Cache-Control: no-cache\r\nETag: " + served->etag + "\r\n";
  if (HasToken(request.ifNoneMatch, served->etag) || Trim(request.ifNoneMatch) == "*") {
    return {Response("304 Not Modified", validators, served->contentType, {}, keepAlive), false, keepAlive};
  }
  return {Response("200 OK", validators, served->contentType, served->bytes, keepAlive), false, keepAlive};
}

DoorAnswer FrontDoor::Upgrade(const HttpRequest& request, const Doorstep& doorstep) const {
  if (request.version != 11 || !HasToken(request.upgrade, "websocket") || !HasToken(request.connection, "upgrade")) {
    return {Refuse("426 Upgrade Required", "Upgrade: websocket\r\n")};
  }
  if (request.webSocketVersion != "13") return {Refuse("426 Upgrade Required", "Sec-WebSocket-Version: 13\r\n")};
  const std::string accept = WebSocketAccept(request.webSocketKey);
  if (accept.empty()) return {Refuse("400 Bad Request")};
  // A browser always says which page opens a WebSocket: only the host's own
  // may join on its visitor's behalf. A program that is no browser sends no
  // Origin and has no visitor to act for.
  if (request.hasOrigin && !IsOwnOrigin(request.origin, doorstep, settings.machineName)) {
    return {Refuse("403 Forbidden")};
  }
  if (settings.tlsOnly && !doorstep.tls) return {Refuse("403 Forbidden")};
  return {"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: " +
              accept + "\r\n\r\n",
          true};
}

std::string FrontDoor::Refusal(HttpRequestReader::State state) {
  if (state == HttpRequestReader::State::TooLarge) return Refuse("431 Request Header Fields Too Large");
  return Refuse("400 Bad Request");
}

std::string PageUrl(const std::string& address, uint16_t port, bool tls) {
  return std::string(tls ? "https://" : "http://") + address + ":" + std::to_string(port) + std::string(PAGE_PATH);
}

std::string WebSocketAccept(std::string_view key) {
  // 16 bytes in base64: 22 characters and "==".
  if (key.size() != 24 || key.substr(22) != "==") return {};
  for (const char c : key.substr(0, 22)) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/') return {};
  }
  const std::string joined = std::string(key) + std::string(WEB_SOCKET_GUID);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  Digest(EVP_sha1(), joined, length, digest);
  std::array<unsigned char, 4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1> encoded{};
  const int n = EVP_EncodeBlock(encoded.data(), digest, static_cast<int>(length));
  return std::string(reinterpret_cast<const char*>(encoded.data()), static_cast<size_t>(n));
}

bool IsOwnOrigin(std::string_view origin, const Doorstep& doorstep, std::string_view machineName) {
  const std::string_view scheme = doorstep.tls ? "https://" : "http://";
  if (origin.size() <= scheme.size() || !SameText(origin.substr(0, scheme.size()), scheme)) return false;
  std::string_view rest = origin.substr(scheme.size());
  // A browser leaves the port out where it is the scheme's own.
  const uint16_t defaultPort = doorstep.tls ? 443 : 80;
  std::string_view name = rest;
  uint16_t port = defaultPort;
  const size_t colon = rest.rfind(':');
  if (colon != std::string_view::npos) {
    name = rest.substr(0, colon);
    const std::string_view digits = rest.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    unsigned value = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) return false;
    port = static_cast<uint16_t>(value);
  }
  if (port != doorstep.port) return false;
  if (!doorstep.localAddress.empty() && SameText(name, doorstep.localAddress)) return true;
  if (doorstep.localAddress.rfind("127.", 0) == 0 && SameText(name, "localhost")) return true;
  return !machineName.empty() && SameText(name, std::string(machineName) + ".local");
}
