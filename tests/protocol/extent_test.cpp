#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "protocol/extension.h"
#include "protocol/extent.h"
#include "protocol/messages.h"

namespace {
using Bytes = std::vector<uint8_t>;
constexpr bool kToServer = true;
constexpr bool kToClient = false;

// Exactly n bytes on the heap, so that a read past them trips AddressSanitizer.
MessageExtent Extent(const uint8_t* bytes, size_t n, bool toServer) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[n]);
  std::copy(bytes, bytes + n, exact.get());
  return FirstMessageExtent(exact.get(), n, toServer);
}
MessageExtent Extent(const Bytes& b, bool toServer) { return Extent(b.data(), b.size(), toServer); }
MessageExtent Extent(const Bytes& b, size_t n, bool toServer) { return Extent(b.data(), n, toServer); }

Bytes Content(const CPacket& p) { return Bytes(p.data, p.data + p.length); }
Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

testing::AssertionResult Is(const MessageExtent& e, ExtentKind kind, size_t length = 0) {
  const bool same = e.kind == kind && (kind != ExtentKind::Complete || e.length == length);
  if (same) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "kind " << static_cast<int>(e.kind) << " length " << e.length;
}

ChatLine Line(const std::string& name, const std::string& police, const std::string& text) {
  ChatLine v;
  v.SetName(name);
  v.SetPolice(police);
  v.SetText(text);
  v.Style() = {.Italic = 1, .Green = 128};
  return v;
}

struct Layout {
  const char* name;
  Bytes bytes;
  bool toServer;
  std::vector<size_t> countOffsets;  // where each string's 16-bit count lies
};

// Every layout, in each role that receives it.
std::vector<Layout> Layouts() {
  const std::string bob = "Bob", arial = "Arial", hi = "hi";
  const ChatLine line = Line(bob, arial, hi);
  CPacket welcome, arrival, says, priv, unrelayed, gone;
  EXPECT_TRUE(BuildClientWelcome("Bob", 4, welcome) && BuildArrivalNotice("Bob", arrival) && BuildSays(line, says) &&
              BuildPrivate("Al", line, priv) && BuildUnrelayed(line, unrelayed) && BuildDisconnected("Bob", gone));
  const Bytes joinedOnChat = {0x01, 0x00, 0x03, 0x00, 0x03, 0x00, 'A', 'l', 0x00};
  CPacket hello, earlier;
  EXPECT_TRUE(BuildHello(UNDERSTANDS_PEOPLE, "", hello) && BuildEarlier(7, 0, says.data + 4, says.length - 4, earlier));
  std::vector<Layout> all = {{"client welcome", Content(welcome), kToServer, {2}},
                             {"arrival notice", Content(arrival), kToClient, {4}},
                             {"hello", Content(hello), kToServer, {}},
                             {"earlier line", Content(earlier), kToClient, {}}};
  for (bool role : {kToServer, kToClient}) {
    all.push_back({"says", Content(says), role, {4, 10, 18}});
    all.push_back({"private", Content(priv), role, {4, 9, 15, 23}});
    all.push_back({"unrelayed", Content(unrelayed), role, {4, 10, 18}});
    all.push_back({"disconnected", Content(gone), role, {4}});
    all.push_back({"joined behind HEADER_CHAT", joinedOnChat, role, {4}});
  }
  return all;
}

// The message with `extra` filler bytes added to the string whose count lies at `countOffset`.
Bytes Grow(Bytes b, size_t countOffset, size_t extra) {
  const size_t count = b[countOffset] | (b[countOffset + 1] << 8);
  b.insert(b.begin() + countOffset + 2 + count, extra, 'z');
  b[countOffset] = static_cast<uint8_t>(count + extra);
  b[countOffset + 1] = static_cast<uint8_t>((count + extra) >> 8);
  return b;
}
}  // namespace

TEST(Extent, EveryLayoutIsCutWhereItEnds) {
  for (const Layout& l : Layouts()) {
    SCOPED_TRACE(std::string(l.name) + (l.toServer ? " to server" : " to client"));
    const Bytes& m = l.bytes;
    EXPECT_TRUE(Is(Extent(m, l.toServer), ExtentKind::Complete, m.size()));
    for (size_t n = 0; n < m.size(); ++n) {
      EXPECT_TRUE(Is(Extent(m, n, l.toServer), ExtentKind::Incomplete)) << n << " bytes";
    }
    const Bytes two = Concat(m, m);
    EXPECT_TRUE(Is(Extent(two, l.toServer), ExtentKind::Complete, m.size()));
    EXPECT_TRUE(Is(Extent(two, m.size() + m.size() / 2, l.toServer), ExtentKind::Complete, m.size()));
  }
}

// A count is refused as soon as it is buffered if the message could not fit even with every later
// string empty; a count that could still fit waits.
TEST(Extent, DeclaredExtentOverCapacityIsNoLayoutAtOnce) {
  for (const Layout& l : Layouts()) {
    const size_t size = l.bytes.size();
    for (size_t i = 0; i < l.countOffsets.size(); ++i) {
      const size_t at = l.countOffsets[i];
      SCOPED_TRACE(std::string(l.name) + " count at " + std::to_string(at));
      size_t later = 0;
      for (size_t j = i + 1; j < l.countOffsets.size(); ++j) later += l.bytes[l.countOffsets[j]];

      const Bytes full = Grow(l.bytes, at, PACKET_CAPACITY - size);
      ASSERT_EQ(full.size(), PACKET_CAPACITY);
      EXPECT_TRUE(Is(Extent(full, l.toServer), ExtentKind::Complete, PACKET_CAPACITY));
      EXPECT_TRUE(Is(Extent(full, at + 2, l.toServer), ExtentKind::Incomplete));
      const Bytes edge = Grow(l.bytes, at, PACKET_CAPACITY - size + later);
      EXPECT_TRUE(Is(Extent(edge, at + 2, l.toServer), ExtentKind::Incomplete));

      const Bytes over = Grow(l.bytes, at, PACKET_CAPACITY + 1 - size + later);
      EXPECT_TRUE(Is(Extent(over, at + 2, l.toServer), ExtentKind::NoLayout));
      EXPECT_TRUE(Is(Extent(over, PACKET_CAPACITY, l.toServer), ExtentKind::NoLayout));
    }
  }
}

TEST(Extent, HeadersWithoutALayout) {
  struct Case {
    Bytes bytes;
    bool toServer;
    ExtentKind kind;
  };
  const Case cases[] = {
      {{}, kToServer, ExtentKind::Incomplete},
      {{0x01}, kToClient, ExtentKind::Incomplete},
      {{0x01, 0x00, 0x01}, kToServer, ExtentKind::Incomplete},
      {{0x02, 0x00, 0x01, 0x00, 0x04, 0x00, 'B', 'o', 'b', 0x00}, kToServer, ExtentKind::NoLayout},
      // Under HEADER_RESERVED only our own tag and a length that can be a
      // block's make a layout.
      {{0x02, 0x00}, kToClient, ExtentKind::Incomplete},
      {{0x02, 0x00, 'J', 'X', 0x0C}, kToServer, ExtentKind::Incomplete},
      {{0x02, 0x00, 'J', 'X', 0x05, 0x00}, kToClient, ExtentKind::NoLayout},
      {{0x02, 0x00, 'J', 'X', 0x01, 0x04}, kToServer, ExtentKind::NoLayout},
      {{0x00, 0x00}, kToServer, ExtentKind::NoLayout},
      {{0x04, 0x00}, kToClient, ExtentKind::NoLayout},
      {{0xFF, 0xFF}, kToServer, ExtentKind::NoLayout},
      {{0x01, 0x00, 0x00, 0x00}, kToServer, ExtentKind::NoLayout},
      {{0x01, 0x00, 0x06, 0x00}, kToClient, ExtentKind::NoLayout},
      {{0x01, 0x00, 0xFF, 0xFF}, kToServer, ExtentKind::NoLayout},
      {{0x03, 0x00, 0x06, 0x00}, kToClient, ExtentKind::NoLayout},
      // To a server the same bytes are a client welcome whose name has 6 bytes.
      {{0x03, 0x00, 0x06, 0x00}, kToServer, ExtentKind::Incomplete},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(Is(Extent(c.bytes, c.toServer), c.kind)) << testing::PrintToString(c.bytes) << c.toServer;
  }
}

// Mostly small 16-bit words, so that known headers and short counts come up often.
TEST(ExtentProperty, RandomBytesAreNeverOverreadAndCutConsistently) {
  std::mt19937 rng(20240611);
  int seen[3] = {};
  for (int i = 0; i < 20000; ++i) {
    const size_t n = (i % 10 == 0) ? rng() % 1400 : rng() % 80;
    Bytes b;
    while (b.size() < n) {
      if (rng() % 10 == 0) b.push_back(static_cast<uint8_t>(rng()));  // shifts the words off alignment
      const uint32_t word = rng() % 5 ? rng() % 7 : rng();
      b.insert(b.end(), {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)});
    }
    b.resize(n);
    const bool toServer = rng() % 2;
    const MessageExtent e = Extent(b, toServer);
    ++seen[static_cast<int>(e.kind)];
    if (n >= PACKET_CAPACITY) {
      ASSERT_NE(e.kind, ExtentKind::Incomplete);
    }
    if (e.kind != ExtentKind::Complete) continue;
    ASSERT_GE(e.length, 2u);
    ASSERT_LE(e.length, n);
    // The cut depends only on the message's own bytes.
    ASSERT_TRUE(Is(Extent(b, e.length, toServer), ExtentKind::Complete, e.length));
    ASSERT_TRUE(Is(Extent(b, e.length - 1, toServer), ExtentKind::Incomplete));
  }
  for (int count : seen) EXPECT_GT(count, 100);
}

// What a receiver does: append each piece, then cut every whole message off the front.
TEST(ExtentProperty, StreamInRandomPiecesYieldsTheOriginalMessages) {
  std::mt19937 rng(7);
  auto text = [&rng](size_t max) {
    std::string s(rng() % max, '\0');
    for (char& c : s) c = static_cast<char>('a' + rng() % 26);
    return s;
  };
  for (bool toServer : {kToServer, kToClient}) {
    std::vector<Bytes> sent;
    Bytes stream;
    while (sent.size() < 300) {
      const size_t max = rng() % 8 == 0 ? 400 : 20;
      const std::string a = text(max), b = text(max), c = text(max);
      const ChatLine line = Line(a, b, c);
      CPacket p;
      bool built = false;
      switch (rng() % 6) {
        case 0:
          built = toServer ? BuildClientWelcome(a.c_str(), static_cast<uint16_t>(a.size() + 1), p)
                           : BuildArrivalNotice(a.c_str(), p);
          break;
        case 1: built = BuildSays(line, p); break;
        case 2: built = BuildPrivate(b.c_str(), line, p); break;
        case 3: built = BuildUnrelayed(line, p); break;
        case 4: built = BuildDisconnected(a.c_str(), p); break;
        case 5:
          built = BuildEarlier(1, 0, reinterpret_cast<const uint8_t*>(c.data()), static_cast<uint16_t>(c.size()), p);
          break;
      }
      if (!built) continue;
      sent.push_back(Content(p));
      stream = Concat(stream, sent.back());
    }

    std::vector<Bytes> received;
    Bytes buffer;
    for (size_t pos = 0; pos < stream.size();) {
      const size_t end = std::min(stream.size(), pos + 1 + (rng() % 3 ? rng() % 40 : rng() % 1500));
      buffer.insert(buffer.end(), stream.begin() + pos, stream.begin() + end);
      pos = end;
      for (;;) {
        const MessageExtent e = Extent(buffer, toServer);
        ASSERT_NE(e.kind, ExtentKind::NoLayout);
        if (e.kind == ExtentKind::Incomplete) break;
        received.emplace_back(buffer.begin(), buffer.begin() + e.length);
        buffer.erase(buffer.begin(), buffer.begin() + e.length);
      }
    }
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(received, sent);
  }
}
