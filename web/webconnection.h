#pragma once
// One connection that opened with an HTTP request: its requests and the
// front door's answers, in order, then, after an upgrade, the WebSocket whose
// binary messages are the chat's messages. It never touches a socket: it
// takes the connection's bytes and appends what is to be sent to the
// caller's output.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
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
  using Clock = std::chrono::steady_clock;

  WebConnection(const FrontDoor& door, const Doorstep& doorstep);

  // Takes the next bytes from the browser. Each whole chat message goes to
  // `message`, answers to `out`, one for each whole request in the order
  // they came. False once the connection is to end when what `out` holds
  // has left: an answer that closes it, a request refused, the browser's
  // last request of the connection, or the WebSocket closed.
  bool Receive(const uint8_t* bytes, size_t n, const Message& message, std::vector<uint8_t>& out,
               Clock::time_point now = Clock::now());
  // Upgraded: from now on the connection carries the chat's messages.
  bool Upgraded() const { return session != nullptr; }
  // One chat message to the browser, as one frame; nothing before the upgrade.
  void Send(const uint8_t* bytes, size_t n, std::vector<uint8_t>& out);
  // The host ends the connection itself: an upgraded one gets the WebSocket's
  // close frame, "going away".
  void Close(std::vector<uint8_t>& out);
  // When the browser's next request must have come whole (or, upgraded on a
  // kept-alive connection, its welcome). None before the first answer: the
  // server's own limit on newcomers holds then.
  std::optional<Clock::time_point> Deadline() const { return deadline; }
  // A shared file's request came: the connection is the file door's from
  // now on, with the request and the bytes after its head.
  bool HandsOff() const { return handOff; }
  const HttpRequest& Request() const { return request.Request(); }
  std::vector<uint8_t> TakeRest() { return request.TakeRest(); }
  // Kept open after an answer, and nothing of a next request has come.
  bool BetweenRequests() const { return answered > 0 && !session && !ending && request.Empty(); }

 private:
  bool Upgrade(const Message& message, std::vector<uint8_t>& out, Clock::time_point now);

  const FrontDoor& door;
  const Doorstep doorstep;
  HttpRequestReader request;
  std::unique_ptr<WebSocketSession> session;
  bool ending = false;
  bool handOff = false;
  unsigned answered = 0;
  std::optional<Clock::time_point> deadline;
};
