#pragma once
// The browser's kind of byte stream: inside a plain or a TLS stream, HTTP
// requests first, each answered in turn by the front door (the page's files,
// a refusal, or the WebSocket upgrade), then WebSocket frames each carrying
// one of the chat's messages. Each frame from the browser gives the one message
// at its front, cut to that message's own length; each message to it leaves as
// one frame.

#include <memory>
#include <vector>

#include "net/bytestream.h"
#include "web/webconnection.h"

class WebStream : public ByteStream {
 public:
  WebStream(std::unique_ptr<ByteStream> inner, const FrontDoor& door, const Doorstep& doorstep);

  bool Open(const uint8_t* bytes, size_t n, std::vector<uint8_t>& opened, std::vector<uint8_t>& own) override;
  // Bytes the inner stream has already opened: the request's first bytes.
  bool OpenInner(const std::vector<uint8_t>& plain, std::vector<uint8_t>& opened, std::vector<uint8_t>& own);
  bool Seal(const std::vector<uint8_t>& messages, const std::vector<size_t>& ends,
            std::vector<uint8_t>& sealed) override;
  // Over a plain stream each message is its frame, made in place.
  bool SealAlone(const uint8_t* bytes, size_t n, std::vector<uint8_t>& sealed) override;
  // Chat messages flow once the upgrade is done.
  bool Ready() const override { return inner->Ready() && web.Upgraded(); }
  bool Encrypted() const override { return inner->Encrypted(); }
  bool Finished() const override { return finished; }
  std::optional<std::chrono::steady_clock::time_point> Deadline() const override { return web.Deadline(); }
  bool Idle() const override { return web.BetweenRequests(); }
  // An upgraded connection gets its WebSocket close, "going away".
  bool HasGoodbye() const override { return Ready() && !finished; }
  bool Goodbye(std::vector<uint8_t>& own) override;
  bool HandsOff() const override { return web.HandsOff(); }
  // Once HandsOff: the stream the connection's bytes travel in (plain or
  // TLS), the request, and what came after its head.
  std::unique_ptr<ByteStream> TakeInner() { return std::move(inner); }
  const HttpRequest& Request() const { return web.Request(); }
  std::vector<uint8_t> TakeRest() { return web.TakeRest(); }

 private:
  std::unique_ptr<ByteStream> inner;
  WebConnection web;
  bool finished = false;
  std::vector<uint8_t> framed;  // reused for each seal
  std::vector<size_t> frameEnds;
};
