// The front door on its own: reading requests within their bound, what the
// host answers each kind of request with, and one connection's requests in turn.
#include <gtest/gtest.h>

#include <string>

#include "web/frontdoor.h"
#include "web/pagefiles.h"
#include "web/webconnection.h"

namespace {

using Clock = std::chrono::steady_clock;

HttpRequestReader::State Read(HttpRequestReader& reader, const std::string& bytes) {
  return reader.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

HttpRequest Parsed(const std::string& bytes) {
  HttpRequestReader reader;
  EXPECT_EQ(Read(reader, bytes), HttpRequestReader::State::Complete) << bytes;
  return reader.Request();
}

const Doorstep kPlain{false, "192.0.2.10", 27015};
const Doorstep kTls{true, "192.0.2.10", 27015};

std::string Upgrade(const std::string& extra) {
  return "GET /ws HTTP/1.1\r\nHost: 192.0.2.10:27015\r\nUpgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n"
         "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n" +
         extra + "\r\n";
}

std::string StatusOf(const DoorAnswer& a) { return a.response.substr(0, a.response.find("\r\n")); }

// One connection's bytes to the front door, its messages to `messages`; false once it is to end.
bool Feed(WebConnection& web, const std::string& bytes, std::vector<uint8_t>& out, Clock::time_point now = {},
          std::vector<std::vector<uint8_t>>* messages = nullptr) {
  std::vector<std::vector<uint8_t>> ignored;
  auto& to = messages ? *messages : ignored;
  return web.Receive(
      reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
      [&to](const uint8_t* m, size_t n) { to.emplace_back(m, m + n); }, out, now);
}

// The status codes of the responses a connection sent, in order, and the
// last one's Connection header: "200 404 keep-alive".
std::string Answers(const std::vector<uint8_t>& out) {
  const std::string text(out.begin(), out.end());
  std::string said;
  for (size_t at = text.find("HTTP/1.1 "); at != std::string::npos; at = text.find("HTTP/1.1 ", at + 1)) {
    said += text.substr(at + 9, 4);
  }
  const size_t connection = text.rfind("\r\nConnection: ") + 14;
  return said + text.substr(connection, text.find('\r', connection) - connection);
}

TEST(RequestReader, TakesARequestInPiecesAndKeepsWhatFollows) {
  HttpRequestReader reader;
  const std::string request = "GET /jaselo.js?v=2 HTTP/1.1\r\nHost: h\r\nOrigin: http://h:1\r\n\r\n";
  for (size_t i = 0; i + 1 < request.size(); ++i) {
    ASSERT_EQ(Read(reader, request.substr(i, 1)), HttpRequestReader::State::Incomplete) << i;
  }
  EXPECT_EQ(Read(reader, request.substr(request.size() - 1) + "\x81\x80"), HttpRequestReader::State::Complete);
  EXPECT_EQ(reader.Request().method, "GET");
  EXPECT_EQ(reader.Request().target, "/jaselo.js?v=2");
  EXPECT_EQ(reader.Request().version, 11u);
  EXPECT_TRUE(reader.Request().hasOrigin);
  EXPECT_EQ(reader.TakeRest(), (std::vector<uint8_t>{0x81, 0x80}));
}

TEST(RequestReader, RefusesAHeadPastEightKibibytesAndBodies) {
  HttpRequestReader large;
  const std::string head = "GET / HTTP/1.1\r\nX-Pad: " + std::string(9 * 1024, 'a') + "\r\n\r\n";
  EXPECT_EQ(Read(large, head), HttpRequestReader::State::TooLarge);
  // Dribbled in small pieces, without ever ending, it is refused at the bound too.
  HttpRequestReader dribbled;
  auto state = Read(dribbled, "GET / HTTP/1.1\r\n");
  for (int i = 0; i < 2000 && state == HttpRequestReader::State::Incomplete; ++i) state = Read(dribbled, "X: y\r\n");
  EXPECT_EQ(state, HttpRequestReader::State::TooLarge);
  HttpRequestReader lastPiece;
  ASSERT_EQ(Read(lastPiece, "GET / HTTP/1.1\r\nX: " + std::string(7000, 'a') + "\r\nY"),
            HttpRequestReader::State::Incomplete);
  EXPECT_EQ(Read(lastPiece, ": " + std::string(1500, 'b') + "\r\n\r\n"), HttpRequestReader::State::TooLarge);
  // Just within the bound is still a request.
  std::string fits = "GET / HTTP/1.1\r\nX-Pad: ";
  fits += std::string(MAX_REQUEST_HEAD_BYTES - fits.size() - 4, 'a') + "\r\n\r\n";
  HttpRequestReader within;
  EXPECT_EQ(Read(within, fits), HttpRequestReader::State::Complete);

  // A body said by its length is left to whoever takes the request; one in
  // chunks, whose length nobody knows before it has come, is refused.
  HttpRequestReader body;
  EXPECT_EQ(Read(body, "PUT /files/a HTTP/1.1\r\nContent-Length: 3000000000\r\nExpect: 100-continue\r\n\r\nabc"),
            HttpRequestReader::State::Complete);
  EXPECT_EQ(body.Request().contentLength, 3000000000U);
  EXPECT_EQ(body.Request().expect, "100-continue");
  EXPECT_EQ(body.TakeRest(), (std::vector<uint8_t>{'a', 'b', 'c'}));
  HttpRequestReader chunked;
  EXPECT_EQ(Read(chunked, "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc"),
            HttpRequestReader::State::Malformed);
  HttpRequestReader garbage;
  EXPECT_EQ(Read(garbage, "GET / HTTP/1.1\r\nBad Header\r\n\r\n"), HttpRequestReader::State::Malformed);
}

TEST(RequestReader, ReadsRequestsOneAfterAnotherEachWithinItsOwnBound) {
  // Two heads of 6 KiB are past the bound together, and each is within it.
  const auto head = [](char path) {
    const std::string h = std::string("GET /") + path + " HTTP/1.1\r\nX-Pad: ";
    return h + std::string(6 * 1024 - h.size() - 4, 'a') + "\r\n\r\n";
  };
  HttpRequestReader reader;
  ASSERT_EQ(Read(reader, head('a') + head('b').substr(0, 3000)), HttpRequestReader::State::Complete);
  EXPECT_EQ(reader.Next(), HttpRequestReader::State::Incomplete);
  ASSERT_EQ(Read(reader, head('b').substr(3000) + head('c')), HttpRequestReader::State::Complete);
  EXPECT_EQ(reader.Request().target, "/b");
  ASSERT_EQ(reader.Next(), HttpRequestReader::State::Complete) << "pipelined";
  EXPECT_EQ(reader.Request().target, "/c");
  // The next one dribbled past the bound is refused.
  ASSERT_EQ(reader.Next(), HttpRequestReader::State::Incomplete);
  auto state = Read(reader, "GET / HTTP/1.1\r\n");
  for (int i = 0; i < 2000 && state == HttpRequestReader::State::Incomplete; ++i) state = Read(reader, "X: y\r\n");
  EXPECT_EQ(state, HttpRequestReader::State::TooLarge);
}

TEST(FrontDoor, ServesThePageFilesWithTheirSafetyHeaders) {
  const FrontDoor door({.shortKey = "3F2A 9C01 77B4 E0D2\"><p>"});
  size_t total = 0;
  for (const PageFile& file : PageFiles()) {
    const DoorAnswer a = door.Answer(Parsed("GET " + std::string(file.path) + " HTTP/1.1\r\n\r\n"), kPlain);
    EXPECT_EQ(StatusOf(a), "HTTP/1.1 200 OK") << file.path;
    EXPECT_FALSE(a.upgrade);
    for (const char* header : {"Content-Security-Policy: default-src 'self';", "X-Content-Type-Options: nosniff\r\n",
                               "Cache-Control: no-cache\r\n", "ETag: \"", "Connection: close\r\n"}) {
      EXPECT_NE(a.response.find(header), std::string::npos) << file.path << " lacks " << header;
    }
    total += a.response.size();
  }
  // The first load, every file and its headers, stays small for a phone.
  EXPECT_LT(total, 100u * 1024);

  const std::string page = door.Answer(Parsed("GET /?join HTTP/1.1\r\n\r\n"), kPlain).response;
  EXPECT_NE(page.find("data-key=\"3F2A 9C01 77B4 E0D2\""), std::string::npos) << "the key, and nothing but hex";
  EXPECT_NE(page.find("data-password=\"0\""), std::string::npos);

  // A browser that has the current version is told so; a changed file has a new tag.
  const std::string etag = page.substr(page.find("ETag: ") + 6, 18);
  EXPECT_EQ(StatusOf(door.Answer(Parsed("GET / HTTP/1.1\r\nIf-None-Match: " + etag + "\r\n\r\n"), kPlain)),
            "HTTP/1.1 304 Not Modified");
  const FrontDoor other({.shortKey = "0000"});
  EXPECT_EQ(StatusOf(other.Answer(Parsed("GET / HTTP/1.1\r\nIf-None-Match: " + etag + "\r\n\r\n"), kPlain)),
            "HTTP/1.1 200 OK");
}

TEST(FrontDoor, RefusesAllButGetOfItsOwnPaths) {
  const FrontDoor door({});
  EXPECT_EQ(StatusOf(door.Answer(Parsed("POST / HTTP/1.1\r\n\r\n"), kPlain)), "HTTP/1.1 405 Method Not Allowed");
  EXPECT_EQ(StatusOf(door.Answer(Parsed("HEAD / HTTP/1.1\r\n\r\n"), kPlain)), "HTTP/1.1 405 Method Not Allowed");
  EXPECT_EQ(StatusOf(door.Answer(Parsed("GET /../etc/passwd HTTP/1.1\r\n\r\n"), kPlain)), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(StatusOf(door.Answer(Parsed("GET http://evil/ HTTP/1.1\r\n\r\n"), kPlain)), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(FrontDoor::Refusal(HttpRequestReader::State::TooLarge).substr(0, 12), "HTTP/1.1 431");
  EXPECT_EQ(FrontDoor::Refusal(HttpRequestReader::State::Malformed).substr(0, 12), "HTTP/1.1 400");
  // A host that takes only encrypted connections sends plain visitors to its encrypted page.
  const FrontDoor tlsOnly({.tlsOnly = true, .password = true});
  const DoorAnswer moved = tlsOnly.Answer(Parsed("GET / HTTP/1.1\r\n\r\n"), kPlain);
  EXPECT_EQ(StatusOf(moved), "HTTP/1.1 307 Temporary Redirect");
  EXPECT_NE(moved.response.find("Location: https://192.0.2.10:27015/\r\n"), std::string::npos);
  const DoorAnswer page = tlsOnly.Answer(Parsed("GET / HTTP/1.1\r\n\r\n"), kTls);
  EXPECT_NE(page.response.find("data-password=\"1\""), std::string::npos);
  // A sharing host's file requests go to its file door unanswered, over TLS
  // alone when the chat takes only encrypted connections.
  const FrontDoor sharing({.tlsOnly = true, .sharing = true});
  const DoorAnswer put = sharing.Answer(Parsed("PUT /files/a.txt HTTP/1.1\r\nContent-Length: 9\r\n\r\n"), kTls);
  EXPECT_TRUE(put.handOff && put.response.empty());
  EXPECT_EQ(StatusOf(sharing.Answer(Parsed("GET /files/0 HTTP/1.1\r\n\r\n"), kPlain)), "HTTP/1.1 403 Forbidden");
}

TEST(FrontDoor, UpgradesOnlyAWellFormedRequestFromItsOwnPage) {
  const FrontDoor door({.machineName = "classroom-pc"});
  const DoorAnswer a = door.Answer(Parsed(Upgrade("Origin: http://192.0.2.10:27015\r\n")), kPlain);
  EXPECT_TRUE(a.upgrade);
  // The accept value of RFC 6455's own example.
  EXPECT_EQ(a.response,
            "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n");
  EXPECT_TRUE(door.Answer(Parsed(Upgrade("Origin: http://Classroom-PC.local:27015\r\n")), kPlain).upgrade);
  EXPECT_TRUE(door.Answer(Parsed(Upgrade("")), kPlain).upgrade) << "no browser, no Origin";
  EXPECT_TRUE(door.Answer(Parsed(Upgrade("Origin: https://192.0.2.10:27015\r\n")), kTls).upgrade);

  for (const std::string origin : {"http://evil.example:27015", "http://192.0.2.10:27016", "http://192.0.2.10",
                                   "https://192.0.2.10:27015", "null", "http://192.0.2.10:27015.evil", ""}) {
    EXPECT_EQ(StatusOf(door.Answer(Parsed(Upgrade("Origin: " + origin + "\r\n")), kPlain)), "HTTP/1.1 403 Forbidden")
        << origin;
  }
  EXPECT_EQ(StatusOf(door.Answer(Parsed("GET /ws HTTP/1.1\r\n\r\n"), kPlain)), "HTTP/1.1 426 Upgrade Required");
  std::string badKey = Upgrade("");
  badKey.replace(badKey.find("dGhl"), 4, "d*hl");
  EXPECT_EQ(StatusOf(door.Answer(Parsed(badKey), kPlain)), "HTTP/1.1 400 Bad Request");
  std::string oldVersion = Upgrade("");
  oldVersion.replace(oldVersion.find("Version: 13"), 11, "Version: 8");
  EXPECT_EQ(StatusOf(door.Answer(Parsed(oldVersion), kPlain)), "HTTP/1.1 426 Upgrade Required");
  const FrontDoor tlsOnly({.tlsOnly = true});
  EXPECT_EQ(StatusOf(tlsOnly.Answer(Parsed(Upgrade("")), kPlain)), "HTTP/1.1 403 Forbidden");
  EXPECT_TRUE(tlsOnly.Answer(Parsed(Upgrade("")), kTls).upgrade);
  EXPECT_TRUE(IsOwnOrigin("http://localhost:80", {false, "127.0.0.1", 80}, ""));
  EXPECT_FALSE(IsOwnOrigin("http://localhost:80", kPlain, ""));
}

TEST(WebConnection, AnswersItsRequestsInOrderEachInItsOwnTime) {
  const FrontDoor door({});
  WebConnection web(door, kPlain);
  std::vector<uint8_t> out;
  const Clock::time_point start = Clock::now(), later = start + std::chrono::seconds(3);
  EXPECT_FALSE(web.Deadline()) << "the server's limit on newcomers holds for the first request";
  ASSERT_TRUE(Feed(web, "GET / HTTP/1.1\r\nHost: h\r\n\r\n", out, start));
  EXPECT_EQ(web.Deadline(), start + KEEP_ALIVE_IDLE);
  // Requests that came in one read are answered in the order they came; one
  // still in pieces waits for the rest.
  ASSERT_TRUE(Feed(web, "GET /nothing HTTP/1.1\r\n\r\nGET /jaselo.css HTTP/1.1\r\n\r\nGET /wi", out, later));
  ASSERT_TRUE(Feed(web, "re.js HTTP/1.1\r\n\r\n", out, later));
  EXPECT_EQ(Answers(out), "200 404 200 200 keep-alive");
  EXPECT_EQ(web.Deadline(), later + KEEP_ALIVE_IDLE);

  // The WebSocket on the same connection, its first frame in the same read.
  const std::string frame = {'\x82', '\x84', 0, 0, 0, 0, 3, 0, 4, 0};
  std::vector<std::vector<uint8_t>> messages;
  out.clear();
  ASSERT_TRUE(Feed(web, Upgrade("") + frame, out, later, &messages));
  EXPECT_EQ(messages, (std::vector<std::vector<uint8_t>>{{3, 0, 4, 0}}));
  // The host going away closes it with 1001.
  out.clear();
  web.Close(out);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x88, 0x02, 0x03, 0xe9}));
  EXPECT_FALSE(Feed(web, frame, out));
}

TEST(WebConnection, ClosesWhenAskedAfterTheLastAllowedRequestOrARefusal) {
  const std::string page = "GET / HTTP/1.1\r\n\r\n";
  const struct Case {
    unsigned cap;
    std::string wire, answers;
  } cases[] = {
      {100, "GET / HTTP/1.1\r\nConnection: close\r\n\r\n" + page, "200 close"},
      {100, "GET / HTTP/1.0\r\n\r\n" + page, "200 close"},
      {100, "GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", "200 keep-alive"},
      {2, page + page + page, "200 200 close"},
      {100, page + "GET / HTTP/1.1\r\nX: " + std::string(9000, 'a'), "200 431 close"},
      {100, page + "POST / HTTP/1.1\r\nContent-Length: 1\r\n\r\nx" + page, "200 405 close"},
      {100, "GET / HTTP/1.1\r\nContent-Length: 1\r\n\r\nx" + page, "413 close"},  // its body is no next request
      {100, "GET /files/0123 HTTP/1.1\r\n\r\n", "404 keep-alive"},                // a host that shares nothing
      {100, "HEAD / HTTP/1.1\r\n\r\n" + page, "405 close"},  // its answer has a body HEAD does not expect
      {100, "GET /ws HTTP/1.1\r\n\r\n" + page, "426 close"},
  };
  for (const Case& c : cases) {
    WebSettings settings;
    settings.keepAliveRequests = c.cap;
    const FrontDoor door(settings);
    WebConnection web(door, kPlain);
    std::vector<uint8_t> out;
    EXPECT_EQ(Feed(web, c.wire, out), c.answers.ends_with("keep-alive")) << c.wire.substr(0, 40);
    EXPECT_EQ(Answers(out), c.answers) << c.wire.substr(0, 40);
  }
}

}  // namespace
