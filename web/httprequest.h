#pragma once
// The HTTP requests a browser's connection brings, one after another, read by
// Boost.Beast's parser within a fixed bound on each one's request line and
// headers. Only the headers the front door looks at are kept. A request may
// announce a body by its length (an upload); the reader stops at the head and
// leaves the body to whoever takes the request.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Request line and headers together, the blank line included.
constexpr size_t MAX_REQUEST_HEAD_BYTES = 8 * 1024;

struct HttpRequest {
  std::string method;
  std::string target;
  unsigned version = 0;  // 10 for HTTP/1.0, 11 for HTTP/1.1
  std::string host;
  std::string origin;      // empty when absent
  std::string upgrade;     // the Upgrade header's value
  std::string connection;  // the Connection header's value
  std::string webSocketKey;
  std::string webSocketVersion;
  std::string ifNoneMatch;
  std::string expect;  // "100-continue": the sender waits to hear that its body is wanted
  std::string range;   // "bytes=N-" and the like
  bool hasOrigin = false;
  uint64_t contentLength = 0;  // the announced body's length; 0 without one
};

class HttpRequestReader {
 public:
  enum class State {
    Incomplete,  // more bytes are needed
    Complete,    // Request() holds it; Next() or TakeRest() go on
    TooLarge,    // the head passed the bound
    Malformed,   // not a request this host answers: bad syntax, or a body in chunks
  };

  HttpRequestReader();
  ~HttpRequestReader();
  HttpRequestReader(const HttpRequestReader&) = delete;
  HttpRequestReader& operator=(const HttpRequestReader&) = delete;

  // Takes the next bytes from the connection; once the state is not
  // Incomplete, further bytes are not looked at.
  State Feed(const uint8_t* bytes, size_t n);
  State Current() const { return state; }
  const HttpRequest& Request() const { return request; }
  // Once Complete: reads on to the request after it, within a bound of its
  // own, beginning with bytes that came with this one (pipelined).
  State Next();
  // Bytes that came after the request's head: the first WebSocket frames, or
  // the first of its body.
  std::vector<uint8_t> TakeRest();
  // Incomplete, and nothing of the next request has come.
  bool Empty() const { return state == State::Incomplete && buffer.empty() && headTaken == 0; }

 private:
  struct Parser;
  State Parse();

  // The current request's bytes not yet taken by the parser, and whatever
  // came after them.
  std::string buffer;
  size_t headTaken = 0;  // bytes of the current head the parser has taken
  // One parser per request, kept between reads: it looks at each byte of the
  // head once, however the head is split.
  std::unique_ptr<Parser> parser;
  size_t headLength = 0;
  State state = State::Incomplete;
  HttpRequest request;
};
