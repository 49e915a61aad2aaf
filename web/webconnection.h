#pragma once
// One connection that opened with an HTTP request: the request and the
// front door's answer, then, after an upgrade, the WebSocket whose binary
// messages are the chat's messages. It never touches a socket: it takes the
// connection's bytes and appends what is to be sent to the caller's output.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "web/frontdoor.h"
#include "web/httprequest.h"
#include "web/websocketsession.h"

// Whether a connection's first bytes are an HTTP request line: a method of
// capital letters and a blank. `NeedMore` until there are enough of them.
enum class HttpSniff { No, Yes, NeedMore };
HttpSniff SniffHttpRequest(const uint8_t* bytes, size_t n);

class WebConnection {
 public:
  using Message = WebSocketSession::Message;

  WebConnection(const FrontDoor& door, const Doorstep& doorstep);

  // Takes the next bytes from the browser. Each whole chat message goes to
  // `message`, answers to `out`. False once the connection is to end when
  // what `out` holds has left: a page was served, a request refused, or the
  // WebSocket closed.
  bool Receive(const uint8_t* bytes, size_t n, const Message& message, std::vector<uint8_t>& out);
  // Upgraded: from now on the connection carries the chat's messages.
  bool Upgraded() const { return session != nullptr; }
  // One chat message to the browser, as one frame; nothing before the upgrade.
  void Send(const uint8_t* bytes, size_t n, std::vector<uint8_t>& out);
  // The host ends the connection itself.
  void Close(std::vector<uint8_t>& out);

 private:
  const FrontDoor& door;
  const Doorstep doorstep;
  HttpRequestReader request;
  std::unique_ptr<WebSocketSession> session;
  bool ending = false;
};
