#include "web/httprequest.h"

#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>

namespace http = boost::beast::http;

HttpRequestReader::State HttpRequestReader::Feed(const uint8_t* bytes, size_t n) {
  if (state != State::Incomplete) return state;
  buffer.append(reinterpret_cast<const char*>(bytes), n);
  state = Parse();
  // Past the bound the request is refused, whatever follows: nothing more is kept.
  if (state == State::TooLarge) buffer.clear();
  return state;
}

HttpRequestReader::State HttpRequestReader::Parse() {
  // The parser takes the head whole or not at all, so each try starts afresh
  // on everything received so far; a head is at most 8 KiB.
  http::request_parser<http::empty_body> parser;
  parser.header_limit(static_cast<std::uint32_t>(MAX_REQUEST_HEAD_BYTES));
  boost::beast::error_code error;
  const size_t used = parser.put(boost::asio::buffer(buffer.data(), buffer.size()), error);
  if (error == http::error::need_more) {
    return buffer.size() > MAX_REQUEST_HEAD_BYTES ? State::TooLarge : State::Incomplete;
  }
  if (error == http::error::header_limit) return State::TooLarge;
  // A request with a body (a length, or chunks) is no request for a page.
  if (error || !parser.is_done()) return State::Malformed;

  const auto& m = parser.get();
  const auto field = [&m](http::field name) { return std::string(m[name]); };
  request.method = std::string(m.method_string());
  request.target = std::string(m.target());
  request.version = m.version();
  request.host = field(http::field::host);
  request.hasOrigin = m.find(http::field::origin) != m.end();
  request.origin = field(http::field::origin);
  request.upgrade = field(http::field::upgrade);
  request.connection = field(http::field::connection);
  request.webSocketKey = field(http::field::sec_websocket_key);
  request.webSocketVersion = field(http::field::sec_websocket_version);
  request.ifNoneMatch = field(http::field::if_none_match);
  headLength = used;
  return State::Complete;
}

std::vector<uint8_t> HttpRequestReader::TakeRest() {
  std::vector<uint8_t> rest;
  if (state != State::Complete) return rest;
  rest.assign(buffer.begin() + static_cast<std::ptrdiff_t>(headLength), buffer.end());
  buffer.resize(headLength);
  return rest;
}
