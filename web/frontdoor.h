#pragma once
// What the host answers a browser on the chat's own port: the page's few
// files to a GET, the WebSocket upgrade on one path to a request from the
// host's own page, and a short refusal to everything else. Every response
// keeps the page to its own origin. A file, or its absence, leaves the
// connection open for the browser's next request, so that the page's files
// come over one or two connections (each a TLS handshake over https); a
// refusal closes it; after the upgrade the connection is a participant.
// Requests for shared files are not answered here: their connection is
// handed whole to the host's file door, which moves their bytes.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "web/httprequest.h"

// Where the page's WebSocket joins the chat.
inline constexpr std::string_view WEB_SOCKET_PATH = "/ws";
// Where the page is: what the host prints, shows as a QR code and announces.
inline constexpr std::string_view PAGE_PATH = "/";
// Where shared files are uploaded and fetched, below this.
inline constexpr std::string_view FILES_PATH = "/files/";

// After an answer that leaves a browser's connection open, the time it has
// for the whole head of its next request (or, upgraded, for its welcome):
// ample between a page's files, which follow one another within
// milliseconds, and short because browsers open their WebSocket on a
// connection of its own: idle page connections (up to six) hold seats,
// though a newcomer that finds none takes that of the longest idle.
inline constexpr std::chrono::milliseconds KEEP_ALIVE_IDLE{5000};
// Requests one connection is answered; the last answer closes it.
inline constexpr unsigned KEEP_ALIVE_REQUESTS = 100;

// What the host is, as the page shows it and its requests are judged.
struct WebSettings {
  bool tlsOnly = false;       // plain connections are not let in: the page is served over TLS only
  bool password = false;      // the page asks for the chat's password
  std::string shortKey{};     // the host key's short form, shown on the page (hex digits and blanks)
  std::string machineName{};  // "<machineName>.local" is one of the host's own names
  bool sharing = false;       // the host keeps shared files: their requests go to its file door
  std::chrono::milliseconds keepAliveIdle = KEEP_ALIVE_IDLE;
  unsigned keepAliveRequests = KEEP_ALIVE_REQUESTS;
};

// The connection a request came on: whether it is encrypted, and the host's
// own address and port it reached.
struct Doorstep {
  bool tls = false;
  std::string localAddress;  // dotted IPv4
  uint16_t port = 0;
};

struct DoorAnswer {
  std::string response;
  // True for the 101: the connection is a WebSocket from now on.
  bool upgrade = false;
  // The response said the connection stays open for another request;
  // otherwise (and not upgraded) it ends once the response has left.
  bool keepAlive = false;
  // A shared file's request, with no answer here: the connection goes to
  // the file door as it is.
  bool handOff = false;
};

class FrontDoor {
 public:
  explicit FrontDoor(const WebSettings& settings);

  // `mayKeepAlive`: the connection may take another request after this one,
  // if the browser asks to keep it (HTTP/1.1 without `Connection: close`, or
  // HTTP/1.0 with `Connection: keep-alive`).
  DoorAnswer Answer(const HttpRequest& request, const Doorstep& doorstep, bool mayKeepAlive = false) const;
  const WebSettings& Settings() const { return settings; }
  // The answer to a request that could not be read (too large, malformed).
  static std::string Refusal(HttpRequestReader::State state);

 private:
  struct Served {
    std::string path;
    std::string contentType;
    std::string bytes;
    std::string etag;
  };
  DoorAnswer Upgrade(const HttpRequest& request, const Doorstep& doorstep) const;
  const Served* Find(std::string_view path) const;

  WebSettings settings;
  std::vector<Served> files;
};

// "http://192.0.2.10:27015/", or https: where the page is reached.
std::string PageUrl(const std::string& address, uint16_t port, bool tls);
// The value a 101 answers a Sec-WebSocket-Key with; empty for a key that is
// not the base64 of 16 bytes.
std::string WebSocketAccept(std::string_view key);
// Whether a browser's Origin is one of the host's own: its scheme, the
// address or the machine's name, and the port the request came to.
bool IsOwnOrigin(std::string_view origin, const Doorstep& doorstep, std::string_view machineName);
