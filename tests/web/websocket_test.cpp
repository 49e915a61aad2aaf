// The WebSocket session on its own: frames as a browser sends them (masked,
// perhaps fragmented, split anywhere), and frames as the host sends them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/websocketsession.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A frame as a browser sends it: masked, with the mask's bytes chosen here.
Bytes ClientFrame(uint8_t opcode, const Bytes& payload, bool fin = true, bool masked = true) {
  Bytes frame{static_cast<uint8_t>((fin ? 0x80 : 0) | opcode)};
  const uint8_t maskBit = masked ? 0x80 : 0;
  if (payload.size() < 126) {
    frame.push_back(static_cast<uint8_t>(maskBit | payload.size()));
  } else {
    frame.push_back(maskBit | 126);
    frame.push_back(static_cast<uint8_t>(payload.size() >> 8));
    frame.push_back(static_cast<uint8_t>(payload.size()));
  }
  const uint8_t mask[4] = {0x37, 0xfa, 0x21, 0x3d};
  if (masked) frame.insert(frame.end(), mask, mask + 4);
  for (size_t i = 0; i < payload.size(); ++i) frame.push_back(masked ? payload[i] ^ mask[i % 4] : payload[i]);
  return frame;
}

struct Received {
  std::vector<Bytes> messages;
  Bytes out;
  WebSocketSession::Status status = WebSocketSession::Status::Open;
};

Received Feed(WebSocketSession& session, const Bytes& wire, size_t piece = SIZE_MAX) {
  Received r;
  for (size_t at = 0; at < wire.size(); at += piece) {
    const size_t n = std::min(piece, wire.size() - at);
    r.status = session.Receive(
        wire.data() + at, n, [&r](const uint8_t* bytes, size_t len) { r.messages.emplace_back(bytes, bytes + len); },
        r.out);
  }
  return r;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(WebSocketSession, HandsOnEachWholeBinaryMessageHoweverTheBytesArrive) {
  const Bytes welcome{0x03, 0x00, 0x04, 0x00, 'B', 'o', 'b', 0x00};
  const Bytes line(1024, 0x41);  // a full packet needs the 16-bit length form
  const Bytes wire = Join({ClientFrame(2, welcome), ClientFrame(2, Bytes(line.begin(), line.begin() + 500), false),
                           ClientFrame(9, {'p'}),  // a ping between the fragments
                           ClientFrame(0, Bytes(line.begin() + 500, line.end()))});
  for (const size_t piece : {size_t{1}, size_t{7}, wire.size()}) {
    WebSocketSession session(1024);
    const Received r = Feed(session, wire, piece);
    ASSERT_EQ(r.messages.size(), 2u) << piece;
    EXPECT_EQ(r.messages[0], welcome);
    EXPECT_EQ(r.messages[1], line);
    EXPECT_EQ(r.out, (Bytes{0x8a, 0x01, 'p'})) << "the ping's pong";
    EXPECT_EQ(r.status, WebSocketSession::Status::Open);
  }
}

TEST(WebSocketSession, FramesEachMessageAsOneUnmaskedBinaryFrame) {
  WebSocketSession session(1024);
  Bytes out;
  const Bytes small{0x01, 0x00, 0x04, 0x00};
  session.Send(small.data(), small.size(), out);
  EXPECT_EQ(out, Join({{0x82, 0x04}, small}));
  out.clear();
  const Bytes full(1024, 0x5a);
  session.Send(full.data(), full.size(), out);
  EXPECT_EQ(out, Join({{0x82, 126, 0x04, 0x00}, full}));
}

TEST(WebSocketSession, EndsOnACloseOrAnythingABrowserWouldNeverSend) {
  const Bytes departure{0x01, 0x00, 0x04, 0x00, 0x04, 0x00, 'B', 'o', 'b', 0x00};
  struct Case {
    const char* what;
    Bytes wire;
    uint16_t code;  // the close frame's status code
    size_t handedOn;
  } cases[] = {
      {"a departure, then a close", Join({ClientFrame(2, departure), ClientFrame(8, {0x03, 0xe8})}), 1000, 1},
      {"an unmasked frame", ClientFrame(2, departure, true, false), 1002, 0},
      {"a text frame", ClientFrame(1, {'h', 'i'}), 1003, 0},
      {"a message past the packet size", ClientFrame(2, Bytes(1025, 0)), 1009, 0},
      {"fragments past the packet size", Join({ClientFrame(2, Bytes(600, 0), false), ClientFrame(0, Bytes(600, 0))}),
       1009, 0},
  };
  for (const Case& c : cases) {
    WebSocketSession session(1024);
    Received r = Feed(session, c.wire);
    EXPECT_EQ(r.status, WebSocketSession::Status::Closing) << c.what;
    EXPECT_EQ(r.messages.size(), c.handedOn) << c.what;
    ASSERT_GE(r.out.size(), 4u) << c.what;
    EXPECT_EQ(r.out[0], 0x88) << c.what;
    EXPECT_EQ(r.out[2] << 8 | r.out[3], c.code) << c.what;
    // Nothing more is read or sent once closing.
    r = Feed(session, ClientFrame(2, departure));
    EXPECT_TRUE(r.messages.empty() && r.out.empty()) << c.what;
    session.Send(departure.data(), departure.size(), r.out);
    EXPECT_TRUE(r.out.empty()) << c.what;
  }
  WebSocketSession hostCloses(1024);
  Bytes out;
  hostCloses.Close(1001, out);
  EXPECT_EQ(out, (Bytes{0x88, 0x02, 0x03, 0xe9}));
  EXPECT_EQ(hostCloses.Current(), WebSocketSession::Status::Closing);
}

}  // namespace
