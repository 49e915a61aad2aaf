#include "web/httprequest.h"

#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <limits>

namespace http = boost::beast::http;

struct HttpRequestReader::Parser {
  Parser() {
    parser.header_limit(static_cast<std::uint32_t>(MAX_REQUEST_HEAD_BYTES));
    // The body is not the parser's: whoever takes the request judges its length.
    parser.body_limit(std::numeric_limits<std::uint64_t>::max());
  }
  // A buffer body takes a body of any length without reading it: the
  // parser stops at the head, and whoever takes the request reads the rest.
  http::request_parser<http::buffer_body> parser;
};

HttpRequestReader::HttpRequestReader() : parser(std::make_unique<Parser>()) {}

HttpRequestReader::~HttpRequestReader() = default;

HttpRequestReader::State HttpRequestReader::Feed(const uint8_t* bytes, size_t n) {
  if (state != State::Incomplete) return state;
  buffer.append(reinterpret_cast<const char*>(bytes), n);
  return Parse();
}

HttpRequestReader::State HttpRequestReader::Next() {
  if (state != State::Complete) return state;
  buffer.erase(0, headLength);
  headLength = 0;
  headTaken = 0;
  request = {};
  parser = std::make_unique<Parser>();
  state = State::Incomplete;
  return buffer.empty() ? state : Parse();
}

HttpRequestReader::State HttpRequestReader::Parse() {
  // Beast takes the request line and each header line once it is whole, and
  // looks for the head's end from where its last search stopped. What it
  // took is gone from the buffer, but it counts towards the bound, which
  // Beast applies to each call's bytes alone.
  boost::beast::error_code error;
  const size_t used = parser->parser.put(boost::asio::buffer(buffer.data(), buffer.size()), error);
  if (error == http::error::need_more && !parser->parser.is_header_done()) {
    buffer.erase(0, used);
    headTaken += used;
    state = headTaken + buffer.size() > MAX_REQUEST_HEAD_BYTES ? State::TooLarge : State::Incomplete;
  } else if (error == http::error::header_limit) {
    state = State::TooLarge;
  } else if ((error && error != http::error::need_more) ||
             (!parser->parser.is_done() && (parser->parser.chunked() || !parser->parser.content_length()))) {
    // A body is taken only when its length is said beforehand, so that it
    // can be judged before a byte of it is read.
    state = State::Malformed;
  } else {
    // Its last piece may take a head past the bound that its first ones did not reach.
    state = headTaken + used > MAX_REQUEST_HEAD_BYTES ? State::TooLarge : State::Complete;
  }
  // Past the bound, or broken, the request is refused, whatever follows: nothing more is kept.
  if (state == State::TooLarge || state == State::Malformed) buffer.clear();
  if (state != State::Complete) return state;

  const auto& m = parser->parser.get();
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
  request.expect = field(http::field::expect);
  request.range = field(http::field::range);
  request.contentLength = parser->parser.content_length().value_or(0);
  headLength = used;
  return state;
}

std::vector<uint8_t> HttpRequestReader::TakeRest() {
  std::vector<uint8_t> rest;
  if (state != State::Complete) return rest;
  rest.assign(buffer.begin() + static_cast<std::ptrdiff_t>(headLength), buffer.end());
  buffer.resize(headLength);
  return rest;
}
