// A browser's connection as a server endpoint serves it over a real loopback
// socket: an idle page connection gives its seat to a newcomer, and the
// WebSocket close comes when the host stops. (Requests in turn on one
// connection and its idle limit are the front door's own tests.)
#include <gtest/gtest.h>

#include "common/raw_peer.h"
#include "common/test_support.h"
#include "common/web_peer.h"
#include "common/wire.h"
#include "net/tcpip.h"

namespace {
using std::chrono::milliseconds;

class Browser : public testing::Test {
 protected:
  void SetUp() override {
    WebSettings settings;
    settings.keepAliveIdle = milliseconds(300);
    server.SetWebSettings(settings);
    ASSERT_TRUE(server.Startup(TYPE_SERVER));
    server.StartListening(0);
    port = server.ListeningPort();
    ASSERT_NE(port, 0);
  }

  CTCPIP server;
  uint16_t port = 0;
};

TEST_F(Browser, AnIdlePageConnectionGivesItsSeatToANewcomer) {
  TransportLimits limits;
  limits.maxPerAddress = 1;
  limits.loopbackExempt = false;
  CTCPIP crowded;
  crowded.SetLimits(limits);
  ASSERT_TRUE(crowded.Startup(TYPE_SERVER));
  crowded.StartListening(0);
  WebPeer page, socket;
  ASSERT_EQ(page.Request(crowded.ListeningPort(), "GET / HTTP/1.1\r\n\r\n"), "HTTP/1.1 200 OK");
  ASSERT_TRUE(socket.Join(crowded.ListeningPort(), "phone"));
  EXPECT_TRUE(page.Raw().WaitClosed(milliseconds(2000))) << "before its idle time";
  EXPECT_TRUE(WaitFor([&] { return crowded.ClientCount() == 1; }));
  // A participant gives up nothing.
  RawPeer desk;
  ASSERT_TRUE(desk.Join(crowded.ListeningPort(), "desk"));
  EXPECT_TRUE(desk.WaitClosed());
  EXPECT_EQ(crowded.ClientCount(), 1u);
}

TEST_F(Browser, HearsTheHostGoAfterTheLastNoticesAndANativePeerHearsNothingMore) {
  DiagCapture quiet;
  RawPeer native;
  ASSERT_TRUE(native.Join(port, "desk"));
  WebPeer web;
  ASSERT_TRUE(web.Join(port, "phone"));
  ASSERT_TRUE(WaitFor([&] { return server.ClientCount() == 2; }));
  const CPacket shutdown = Departure(SERVER_SHUTDOWN_NAME);
  server.SendMessageToAll(shutdown);
  server.Stop();
  EXPECT_EQ(web.NextMessage(), Whole(shutdown));
  EXPECT_EQ(web.CloseCode(), 1001);
  server.Cleanup();
  EXPECT_EQ(native.NextMessage(), Whole(Arrival("phone")));
  EXPECT_EQ(native.NextMessage(), Whole(shutdown));
  EXPECT_TRUE(native.ReadSome().empty()) << "not even the browser's departure";
  EXPECT_TRUE(native.WaitClosed());
}

}  // namespace
