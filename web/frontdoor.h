#pragma once
// What the host answers a browser on the chat's own port: the page's few
// files to a GET, the WebSocket upgrade on one path to a request from the
// host's own page, and a short refusal to everything else. Every response
// keeps the page to its own origin and closes the connection once sent,
// except the upgrade, after which the connection is a participant.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "web/httprequest.h"

// Where the page's WebSocket joins the chat.
inline constexpr std::string_view WEB_SOCKET_PATH = "/ws";
// Where the page is: what the host prints, shows as a QR code and announces.
inline constexpr std::string_view PAGE_PATH = "/";

// What the host is, as the page shows it and its requests are judged.
struct WebSettings {
  bool tlsOnly = false;       // plain connections are not let in: the page is served over TLS only
  bool password = false;      // the page asks for the chat's password
  std::string shortKey{};     // the host key's short form, shown on the page (hex digits and blanks)
  std::string machineName{};  // "<machineName>.local" is one of the host's own names
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
  // True for the 101: the connection is a WebSocket from now on. Otherwise it
  // ends once the response has left.
  bool upgrade = false;
};

class FrontDoor {
 public:
  explicit FrontDoor(const WebSettings& settings);

  DoorAnswer Answer(const HttpRequest& request, const Doorstep& doorstep) const;
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
