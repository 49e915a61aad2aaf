#pragma once
// The one HTTP request a browser's connection opens with, read by Boost.Beast's
// parser within a fixed bound on the request line and headers. Only the
// headers the front door looks at are kept.

#include <cstddef>
#include <cstdint>
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
  bool hasOrigin = false;
};

class HttpRequestReader {
 public:
  enum class State {
    Incomplete,  // more bytes are needed
    Complete,    // Request() and Rest() hold it
    TooLarge,    // the head passed the bound
    Malformed,   // not a request this host answers: bad syntax, or a body
  };

  // Takes the next bytes from the connection; once the state is not
  // Incomplete, further bytes are not looked at.
  State Feed(const uint8_t* bytes, size_t n);
  State Current() const { return state; }
  const HttpRequest& Request() const { return request; }
  // Bytes that came after the request: the first WebSocket frames, if any.
  std::vector<uint8_t> TakeRest();

 private:
  State Parse();

  std::string buffer;
  size_t headLength = 0;
  State state = State::Incomplete;
  HttpRequest request;
};
