#pragma once
// One WebSocket after the upgrade, over wslay: wire bytes in, whole messages
// out, and each message out as one binary frame. The host holds one per
// browser; the tools and tests that stand in for a browser hold the other
// side. It never touches a socket: what it has to send is appended to the
// caller's output, so the connection's limits and its once-per-pass write
// stay the caller's.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct wslay_event_context;
struct wslay_frame_context;

class WebSocketSession {
 public:
  enum class Status {
    Open,
    // The browser closed, or broke the protocol (an unmasked or text frame,
    // a message larger than `maxMessage`): what was appended to `out` is the
    // closing frame, and the connection ends once it has left.
    Closing,
  };
  using Message = std::function<void(const uint8_t* bytes, size_t n)>;

  enum class Side { Host, Visitor };  // a visitor masks what it sends

  explicit WebSocketSession(size_t maxMessage, Side side = Side::Host);
  ~WebSocketSession();
  WebSocketSession(const WebSocketSession&) = delete;
  WebSocketSession& operator=(const WebSocketSession&) = delete;

  // Takes bytes from the browser. Each whole binary message goes to
  // `message`, after wslay has done with the bytes (so `message` may send);
  // answers the session owes (a pong, a close) are appended to `out`.
  Status Receive(const uint8_t* bytes, size_t n, const Message& message, std::vector<uint8_t>& out);
  // One message as one binary frame, appended to `out`; nothing once closing.
  void Send(const uint8_t* bytes, size_t n, std::vector<uint8_t>& out);
  // The host's own end of the connection: a close frame with `code`.
  void Close(uint16_t code, std::vector<uint8_t>& out);
  Status Current() const;
  // The status the other side's close frame gave (1006, "abnormal", before one came).
  uint16_t CloseCodeReceived() const;

 private:
  static long OnRecv(wslay_event_context* ctx, uint8_t* buffer, size_t length, int flags, void* self);
  static long OnSend(wslay_event_context* ctx, const uint8_t* data, size_t length, int flags, void* self);
  static void OnMessage(wslay_event_context* ctx, const void* arg, void* self);
  void Flush(std::vector<uint8_t>& out);

  wslay_event_context* context = nullptr;
  // The messages' own frames go out through wslay's frame layer: no copy
  // and no queue per message, which a host relaying to many browsers feels.
  wslay_frame_context* frames = nullptr;
  const Side side;
  // While a call runs: the bytes wslay may still read, and where its output goes.
  const uint8_t* input = nullptr;
  size_t inputLeft = 0;
  std::vector<uint8_t>* output = nullptr;
  std::vector<std::vector<uint8_t>> received;
};
