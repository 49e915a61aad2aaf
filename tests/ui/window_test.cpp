// The chat window: the Send flow, the poll loop and the transcript, with real
// widgets and real endpoints on the loopback.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <map>
#include <thread>

#include "chat/pollloop.h"
#include "common/raw_peer.h"
#include "common/relay.h"
#include "common/test_support.h"
#include "common/wire.h"
#include "net/tlscontext.h"
#include "protocol/headers.h"
#include "trust/hostidentity.h"
#include "trust/knownhosts.h"
#include "trust/privatefiles.h"
#include "ui/backgroundalert.h"
#include "ui/jaselodlg.h"
#include "ui/resource.h"
#include "ui/toolkit/richedit.h"
#include "ui/trustprompts.h"
#include "ui_test_support.h"

namespace {

const QColor kGrey(128, 128, 128);
const QColor kPink(255, 128, 255);
const QColor kGreen(90, 230, 90);

// The first line of a window that joined a host of the plain protocol.
const QString kPlain = "Connected to the server, not encrypted: this host offers no encryption\n\n";

// The first line of a window that hosts the chat: its own client joined it
// with the key kept in the data folder.
QString HostsKeyLine() {
  HostIdentity identity;
  std::string error;
  EXPECT_TRUE(LoadOrMakeHostIdentity(DataFolderPath(), identity, error)) << error;
  return QString::fromStdString("Connected to the server, encrypted (key " + identity.key.Grouped() + ")\n\n");
}

void ExpectRun(const Run& r, const QString& text, const QString& face, const QColor& color, bool bold, bool italic,
               bool underline) {
  EXPECT_EQ(r.text, text);
  EXPECT_EQ(r.face, face) << r.text.toStdString();
  EXPECT_EQ(r.color, color) << r.text.toStdString();
  EXPECT_EQ(r.bold, bold) << r.text.toStdString();
  EXPECT_EQ(r.italic, italic) << r.text.toStdString();
  EXPECT_EQ(r.underline, underline) << r.text.toStdString();
  EXPECT_FALSE(r.hasHeight) << "no append sets a height";
}

}  // namespace

TEST(ChatWindow, EnterSendsOneLineWithTheWindowsStyleAndEmptiesTheBox) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "alice");
  const CJaseloDlgProbe probe(dlg);
  const uint16_t port = StartAsServer(dlg);
  ASSERT_NE(port, 0);
  Peer peer("peer");
  ASSERT_TRUE(peer.Join(dlg, port));
  ASSERT_TRUE(PumpUntil([&] { return PlainText(probe.Transcript()->document()).contains("peer joined"); }));

  // The style fields, not what the box shows, travel with the line.
  ChatSettings& s = probe.Settings();
  std::snprintf(s.Police, sizeof s.Police, "%s", "Liberation Serif");
  s.Color = MakeColor(10, 20, 30);
  s.Bold = true;
  s.Underline = true;
  ASSERT_FALSE(probe.InputBox()->GetDefaultCharFormat().Effects & CFE_BOLD);

  QTest::keyClicks(probe.InputBox(), "hello %s world");
  QTest::keyClick(probe.InputBox(), Qt::Key_Return);
  EXPECT_EQ(probe.InputBox()->toPlainText(), QString());

  ASSERT_TRUE(peer.WaitForEvents(1));
  ASSERT_TRUE(peer.Say("marker"));
  ASSERT_TRUE(peer.WaitForEvents(2));
  const Received& line = peer.events[0];
  EXPECT_EQ(line.type, CHAT_SAYS);
  EXPECT_EQ(line.name, "alice");
  EXPECT_EQ(line.text, "hello %s world");
  EXPECT_EQ(line.police, "Liberation Serif");
  EXPECT_EQ(line.style, (LineStyle{.Bold = 1, .Italic = 0, .Underline = 1, .Red = 10, .Green = 20, .Blue = 30}));
  EXPECT_EQ(peer.events[1].text, "marker") << "exactly one line was sent";

  // In the server role the own line shows once, through the own client.
  ASSERT_TRUE(PumpUntil([&] { return PlainText(probe.Transcript()->document()).contains("marker"); }));
  EXPECT_EQ(PlainText(probe.Transcript()->document()).count("hello %s world"), 1);
}

TEST(ChatWindow, AnEmptyBoxSendsNothing) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "alice");
  const CJaseloDlgProbe probe(dlg);
  const uint16_t port = StartAsServer(dlg);
  Peer peer("peer");
  ASSERT_TRUE(peer.Join(dlg, port));

  QTest::keyClick(probe.InputBox(), Qt::Key_Return);
  probe.Button(IDC_SEND)->click();
  QTest::keyClicks(probe.InputBox(), "   ");
  QTest::keyClick(probe.InputBox(), Qt::Key_Return);  // blanks are a line like any other

  ASSERT_TRUE(peer.WaitForEvents(1));
  EXPECT_EQ(peer.events[0].text, "   ");
}

TEST(ChatWindow, SlashMsgSendsAPrivateLineThatTheSenderSeesAtOnce) {
  RawListener listener;  // the server: it reads what the window sends
  CJaseloDlg dlg;
  PrepareWindow(dlg, "al");
  const CJaseloDlgProbe probe(dlg);
  ChatSettings& s = probe.Settings();
  std::snprintf(s.Police, sizeof s.Police, "%s", "Serif");
  s.Color = MakeColor(1, 2, 3);
  s.Italic = true;
  RawPeer server;
  std::thread accept([&] { server = listener.AcceptPlain(); });
  StartAsClient(dlg, listener.Port());
  accept.join();
  ASSERT_TRUE(server.Valid());
  ASSERT_EQ(server.Read(7), (Bytes{0x03, 0x00, 0x03, 0x00, 'a', 'l', 0x00}));
  ASSERT_EQ(server.Read(2), (Bytes{0x02, 0x00})) << "the HELLO behind the welcome";
  server.Read(10);
  CRichEdit* box = probe.InputBox();

  // Without a text nothing goes and the line stays.
  QTest::keyClicks(box, "/msg bob");
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(box->toPlainText(), "/msg bob");
  box->clear();
  QTest::keyClicks(box, "/msg bob hi");
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(box->toPlainText(), QString());
  const Bytes style{0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00};
  Bytes privately{0x01, 0x00, 0x02, 0x00, 0x04, 0x00, 'b', 'o', 'b',  0x00, 0x03, 0x00, 'a', 'l',
                  0x00, 0x06, 0x00, 'S',  'e',  'r',  'i', 'f', 0x00, 0x03, 0x00, 'h',  'i', 0x00};
  privately.insert(privately.end(), style.begin(), style.end());
  EXPECT_EQ(server.NextMessage(std::chrono::milliseconds(5000), true), privately);

  // The sender's own line shows though nothing came back from the server.
  ASSERT_TRUE(PumpUntil([&] { return PlainText(probe.Transcript()->document()).endsWith("\n\n"); }));
  EXPECT_EQ(PlainText(probe.Transcript()->document()), kPlain + "(*private*) to bob :\nhi\n\n");

  // "//" keeps a leading slash: a public line without the first one.
  QTest::keyClicks(box, "//x");
  QTest::keyClick(box, Qt::Key_Return);
  Bytes publicly{0x01, 0x00, 0x01, 0x00, 0x03, 0x00, 'a',  'l',  0x00, 0x06, 0x00,
                 'S',  'e',  'r',  'i',  'f',  0x00, 0x03, 0x00, '/',  'x',  0x00};
  publicly.insert(publicly.end(), style.begin(), style.end());
  EXPECT_EQ(server.NextMessage(std::chrono::milliseconds(5000), true), publicly);
  probe.StopPollLoop();
}

// A server that speaks only the plain protocol, driven by the test: what the
// window sends is read, and relayed back when the test says.
RawPeer JoinRawServer(CJaseloDlg& dlg, RawListener& listener) {
  RawPeer server;
  std::thread accept([&] { server = listener.AcceptPlain(); });
  StartAsClient(dlg, listener.Port());
  accept.join();
  EXPECT_EQ(server.NextMessage(std::chrono::milliseconds(5000), true), Whole(Welcome("alice")));
  EXPECT_EQ(server.NextMessage(std::chrono::milliseconds(5000), true).size(), 12u) << "the HELLO";
  return server;
}

TEST(ChatWindow, TheOwnLineShowsOnlyWhenTheServerRelaysIt) {
  RawListener listener;
  CJaseloDlg dlg;
  PrepareWindow(dlg, "alice");
  const CJaseloDlgProbe probe(dlg);
  RawPeer server = JoinRawServer(dlg, listener);
  ASSERT_TRUE(probe.IsRunning());

  QTest::keyClicks(probe.InputBox(), "echo?");
  QTest::keyClick(probe.InputBox(), Qt::Key_Return);
  const Bytes line = server.NextMessage(std::chrono::milliseconds(5000), true);
  ASSERT_FALSE(line.empty());
  // Give the poll loop its chance: nothing may appear without the relay.
  PumpUntil([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(PlainText(probe.Transcript()->document()), kPlain);

  ASSERT_TRUE(server.Send(line));
  ASSERT_TRUE(PumpUntil([&] { return PlainText(probe.Transcript()->document()).contains("echo?"); }));
  EXPECT_EQ(PlainText(probe.Transcript()->document()), kPlain + "alice says :\necho?\n\n");
  probe.StopPollLoop();
}

TEST(ChatWindow, ALineThatCannotGoStaysAndALostConnectionIsSaidOnce) {
  RawListener listener;
  CJaseloDlg dlg;
  PrepareWindow(dlg, "alice");
  const CJaseloDlgProbe probe(dlg);
  RawPeer server = JoinRawServer(dlg, listener);
  ASSERT_TRUE(probe.IsRunning());
  CRichEdit* box = probe.InputBox();
  const QString transcript = kPlain + "alice says :\nfirst\n\nConnection to the server lost !\n\n";

  // Too long for one message (possible only past the box's limit): not sent, kept.
  box->LimitText(5000);
  TypeText(box, QString(2000, 'x'));
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(box->toPlainText(), QString(2000, 'x'));
  box->clear();
  box->LimitText(MAX_INPUT_BYTES);

  QTest::keyClicks(box, "first");
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(box->toPlainText(), QString());
  const Bytes line = server.NextMessage(std::chrono::milliseconds(5000), true);
  ASSERT_FALSE(line.empty());
  // The relay arrives before the end, so it shows before the notice.
  ASSERT_TRUE(server.Send(line));
  server.Close();
  ASSERT_TRUE(PumpUntil([&] { return probe.ConnectionLost(); }));
  PumpUntil([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(PlainText(probe.Transcript()->document()), transcript);
  const auto runs = Runs(probe.Transcript()->document());
  ExpectRun(runs.back(), "Connection to the server lost !\n\n", "Courier New", kGreen, false, false, false);

  // From now on Send leaves the line where it is.
  QTest::keyClicks(box, "kept");
  QTest::keyClick(box, Qt::Key_Return);
  probe.Button(IDC_SEND)->click();
  EXPECT_EQ(box->toPlainText(), "kept");
  // Waiting for a try to join again, the window closes at once.
  QElapsedTimer closing;
  closing.start();
  dlg.OnCancel();
  ASSERT_TRUE(PumpUntil([&] { return dlg.Ended(); }));
  EXPECT_LT(closing.elapsed(), 500);
  EXPECT_FALSE(probe.IsPolling());
  EXPECT_EQ(PlainText(probe.Transcript()->document()), transcript);

  // In the server role, the own client's connection counts the same way.
  CJaseloDlg host;
  PrepareWindow(host, "host");
  const CJaseloDlgProbe hostProbe(host);
  StartAsServer(host);
  ASSERT_TRUE(PumpUntil([&] { return hostProbe.ServerNetwork().ClientTable().size() == 1; }));
  hostProbe.ServerNetwork().RemoveClientByName("host");
  EXPECT_TRUE(PumpUntil([&] {
    return PlainText(hostProbe.Transcript()->document()) == HostsKeyLine() + "Connection to the server lost !\n\n";
  }));
}

TEST(ChatWindow, AfterALossATryJoinsTheRestartedServerButARefusedNicknameIsNotTriedAgain) {
  CJaseloNetwork server;
  const auto startServer = [&](uint16_t port) {
    server.StartupServer();
    server.ServerListen(port);
    return server.ListeningPort();
  };
  const uint16_t port = startServer(0);
  CJaseloDlg dlg;
  PrepareWindow(dlg, "alice");
  const CJaseloDlgProbe probe(dlg);
  StartAsClient(dlg, port);
  ASSERT_TRUE(PumpUntil([&] { return server.ClientTable().size() == 1; }));
  server.SendDisconnectMessage(SERVER_SHUTDOWN_NAME);
  server.StopServer();
  server.Cleanup();
  ASSERT_TRUE(PumpUntil([&] { return probe.ConnectionLost(); }));
  QElapsedTimer sinceLoss;
  sinceLoss.start();
  ASSERT_EQ(startServer(port), port);
  Peer bob("bob");
  ASSERT_TRUE(bob.Connect(port));
  QTest::keyClicks(probe.InputBox(), "kept");
  probe.Button(IDC_SEND)->click();  // not back in yet: the line stays
  ASSERT_TRUE(bob.WaitForEvents(1));
  EXPECT_EQ(bob.events[0].name, "alice");
  // The first try, 1 s after the loss give or take a tenth.
  EXPECT_GE(sinceLoss.elapsed(), 850);
  EXPECT_LT(sinceLoss.elapsed(), 2500);
  const QString restored = kPlain + "!!! SERVER !!! is disconnected !\n\nConnection to the server lost !\n\n" + kPlain +
                           "Connection to the server restored !\n\n";
  ASSERT_TRUE(PumpUntil([&] { return PlainText(probe.Transcript()->document()) == restored; }));
  // One run: the notices look like the departure before them.
  ExpectRun(Runs(probe.Transcript()->document()).back(), restored, "Courier New", kGreen, false, false, false);
  probe.Button(IDC_SEND)->click();
  ASSERT_TRUE(bob.WaitForEvents(2));
  EXPECT_EQ(bob.events[1].text, "kept");
  dlg.OnCancel();

  // The nickname is taken, in another letter case: said once, and no try
  // comes, though the name is free again before the first would.
  Peer other("ALICE");
  ASSERT_TRUE(other.Connect(port));
  ASSERT_TRUE(PumpUntil([&] { return server.ClientTable().size() == 2; }));
  CJaseloDlg refused;
  PrepareWindow(refused, "alice");
  StartAsClient(refused, port);
  const auto transcript = [&] { return PlainText(CJaseloDlgProbe(refused).Transcript()->document()); };
  ASSERT_TRUE(PumpUntil([&] { return transcript() == kPlain + "The server did not accept alice !\n\n"; }));
  ASSERT_TRUE(other.Network().SendDisconnectMessage("ALICE"));
  PumpUntil([] { return false; }, std::chrono::milliseconds(1500));
  EXPECT_EQ(transcript(), kPlain + "The server did not accept alice !\n\n");
  EXPECT_EQ(server.ClientTable().size(), 1u);  // bob alone
}

TEST(ChatWindow, NeitherTheJoinNorSendWaitsOnAServerThatStoppedAnswering) {
  {
    // A host that takes the connection and says nothing: the join waits for
    // its answer off the UI thread, and Escape meanwhile ends the window.
    RawListener silent;
    CJaseloDlg joining;
    PrepareWindow(joining, "bob");
    const CJaseloDlgProbe probe(joining);
    probe.Settings().Role = TYPE_CLIENT;
    probe.Settings().Port = silent.Port();
    const UiStallMeter stalls;
    probe.StartNetwork();
    PumpUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_TRUE(probe.Joining());
    EXPECT_LT(stalls.LongestMs(), 250) << "the UI thread was blocked for " << stalls.LongestMs() << " ms";
    QTest::keyClick(probe.InputBox(), Qt::Key_Escape);
    ASSERT_TRUE(PumpUntil([&] { return joining.Ended(); }));
    EXPECT_FALSE(probe.IsPolling());
  }
  RawListener deaf;
  CJaseloDlg dlg;
  PrepareWindow(dlg, "alice");
  const CJaseloDlgProbe probe(dlg);
  RawPeer link;
  std::thread accept([&] { link = deaf.AcceptPlain(); });
  StartAsClient(dlg, deaf.Port());
  accept.join();
  ASSERT_TRUE(link.Valid());
  ASSERT_TRUE(probe.IsRunning());
  CRichEdit* box = probe.InputBox();
  const QString text(900, 'x');
  // Every Send returns at once; once the socket and the bound of what may
  // wait are full, the line stays in the box. Filling loopback's buffers
  // takes thousands of sends, slow under the sanitizers: the deadline only
  // catches a thread that is stuck, `slowest` a Send that waited.
  qint64 slowest = 0;
  WithinDeadline(std::chrono::seconds(40), [&] {
    for (int sent = 0; box->toPlainText().isEmpty(); ++sent) {
      ASSERT_LT(sent, 100000);
      box->setPlainText(text);
      QElapsedTimer timer;
      timer.start();
      probe.Button(IDC_SEND)->click();
      slowest = std::max(slowest, timer.elapsed());
    }
  });
  EXPECT_EQ(box->toPlainText(), text);
  EXPECT_LT(slowest, 500);
  // The server takes nothing for the send limit: the connection is lost.
  ASSERT_TRUE(PumpUntil([&] { return probe.ConnectionLost(); }, std::chrono::seconds(10)));
  EXPECT_EQ(PlainText(probe.Transcript()->document()), kPlain + "Connection to the server lost !\n\n");
  EXPECT_EQ(box->toPlainText(), text);
  dlg.OnCancel();
  ASSERT_TRUE(PumpUntil([&] { return dlg.Ended(); }));
  EXPECT_FALSE(probe.IsPolling());
}

TEST(Transcript, EachKindOfLineHasItsTextFaceColourAndEffects) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  const CJaseloDlgProbe probe(dlg);
  ChatEvent e;
  FillEvent(e, CHAT_SAYS, "bob", "bold and underlined", "Liberation Serif", 10, 20, 30, 1, 0, 1);
  probe.DispatchEvent(e);
  e = ChatEvent{};
  FillEvent(e, CHAT_PRIVATE, "eve", "plain\r\nsecond line", "Liberation Mono", 0, 0, 255, 0, 1, 0);
  probe.DispatchEvent(e);
  e = ChatEvent{};
  FillEvent(e, CHAT_JOINED, "carol");
  probe.DispatchEvent(e);
  e = ChatEvent{};
  FillEvent(e, CHAT_DISCONNECTED, "!!! SERVER !!!");
  probe.DispatchEvent(e);

  const auto runs = Runs(probe.Transcript()->document());
  ASSERT_EQ(runs.size(), 5u);
  ExpectRun(runs[0], "bob says :\n", "Courier New", kGrey, false, false, false);
  ExpectRun(runs[1], "bold and underlined\n\n", "Liberation Serif", QColor(10, 20, 30), true, false, true);
  // Effects never carry over: the next header is plain again.
  ExpectRun(runs[2], "(*private*) eve says :\n", "Courier New", kPink, false, false, false);
  ExpectRun(runs[3], "plain\nsecond line\n\n", "Liberation Mono", QColor(0, 0, 255), false, true, false);
  ExpectRun(runs[4], "carol joined the chat !\n\n!!! SERVER !!! is disconnected !\n\n", "Courier New", kGreen, false,
            false, false);
  // The renderers release the strings they showed.
  EXPECT_EQ(e.Name.get(), nullptr);
}

TEST(Transcript, EarlierLinesComeUnderTheirHeadingWithTheirTimesMutedAndRaiseNothing) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  const CJaseloDlgProbe probe(dlg);
  auto* alert = dlg.findChild<CBackgroundAlert*>();
  int alerts = 0;
  alert->SetAlertCall([&](QWidget*) { ++alerts; });
  QWidget elsewhere;
  elsewhere.show();
  ASSERT_TRUE(Activate(elsewhere));
  const QDateTime nine(QDate::currentDate(), QTime(9, 5, 30));
  int left = 1;
  for (const char* text : {"me first", "then"}) {
    ChatEvent e;
    FillEvent(e, EVENT_EARLIER, "bob", text, "Liberation Serif", 255, 0, 0, 1, 0, 0);
    e.Time = static_cast<uint32_t>(nine.toSecsSinceEpoch()) + 60 * (1 - left);
    e.Count = static_cast<uint16_t>(left--);
    probe.DispatchEvent(e);
  }
  ChatEvent live;
  FillEvent(live, CHAT_SAYS, "bob", "now", "Liberation Serif", 255, 0, 0, 1, 0, 0);
  probe.DispatchEvent(live);

  EXPECT_EQ(PlainText(probe.Transcript()->document()),
            QString::fromUtf8("\u2014 Earlier in this chat \u2014\n\nbob says (09:05) :\nme first\n\nbob says (09:06) "
                              ":\nthen\n\n\nbob says :\nnow\n\n"));
  const auto runs = Runs(probe.Transcript()->document());
  ASSERT_GE(runs.size(), 4u);
  const QColor earlierGrey(160, 160, 160);
  ExpectRun(runs[0], QString::fromUtf8("\u2014 Earlier in this chat \u2014\n\nbob says (09:05) :\n"), "Courier New",
            earlierGrey, false, false, false);
  // The sender's style, its colour muted.
  ExpectRun(runs[1], "me first\n\n", "Liberation Serif", QColor(207, 80, 80), true, false, false);
  QCoreApplication::processEvents();
  EXPECT_EQ(alerts, 1) << "the live line alone asks for attention";
}

TEST(Transcript, PeerFieldsAreShownLiterallyAndCutToTheirLimits) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  const CJaseloDlgProbe probe(dlg);
  ChatEvent e;
  // Percent signs, effect values other than 1, colour components above 255, a
  // face name longer than 31 bytes, an empty text.
  FillEvent(e, CHAT_SAYS, "%s%n%d", "t", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", 256, 300, 511, 2, 2, 2);
  probe.DispatchEvent(e);
  e = ChatEvent{};
  FillEvent(e, CHAT_SAYS, "x", "");
  probe.DispatchEvent(e);
  e = ChatEvent{};
  FillEvent(e, CHAT_SAYS, "y", "100% <b>not bold</b> &amp; CR\rLF\nend");
  probe.DispatchEvent(e);

  const auto runs = Runs(probe.Transcript()->document());
  ASSERT_EQ(runs.size(), 4u);
  ExpectRun(runs[0], "%s%n%d says :\n", "Courier New", kGrey, false, false, false);
  ExpectRun(runs[1], "t\n\n", "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", QColor(0, 44, 255), false, false, false);
  // An empty text still gives the header and the blank line.
  ExpectRun(runs[2], "x says :\n\n\ny says :\n", "Courier New", kGrey, false, false, false);
  ExpectRun(runs[3], "100% <b>not bold</b> &amp; CR\nLF\nend\n\n", "Arial", QColor(0, 0, 0), false, false, false);
  // A name never breaks a line: its control characters show as U+FFFD.
  const QString x(QChar(0xFFFD)), shown = "carol says :" + x + x + "ok" + x + x + x + x + "bob ";
  for (uint16_t type : {CHAT_SAYS, CHAT_PRIVATE, CHAT_JOINED, CHAT_DISCONNECTED}) {
    probe.Transcript()->clear();
    e = ChatEvent{};
    FillEvent(e, type, "carol says :\r\nok\r\n\r\nbob", type <= CHAT_PRIVATE ? "t" : nullptr);
    probe.DispatchEvent(e);
    const QString text = PlainText(probe.Transcript()->document());
    EXPECT_TRUE(text.startsWith(shown) || text.startsWith("(*private*) " + shown)) << text.toStdString();
  }
}

TEST(Transcript, KeepsOnlyItsNewestParagraphsUpToTheBound) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  const CJaseloDlgProbe probe(dlg);
  probe.SetTranscriptLimit(20);
  for (int i = 0; i < 100; ++i) {
    ChatEvent e;
    FillEvent(e, CHAT_SAYS, "bob", std::to_string(i).c_str());
    probe.DispatchEvent(e);
    ASSERT_LE(probe.Transcript()->document()->blockCount(), 20) << i;
  }
  // Whole paragraphs go, oldest first; the newest lines stay whole.
  const QString text = PlainText(probe.Transcript()->document());
  EXPECT_TRUE(text.endsWith("bob says :\n97\n\nbob says :\n98\n\nbob says :\n99\n\n")) << text.toStdString();
  EXPECT_FALSE(text.contains("\n90\n")) << text.toStdString();
  const auto runs = Runs(probe.Transcript()->document());
  ExpectRun(runs.back(), "99\n\n", "Arial", QColor(0, 0, 0), false, false, false);
}

TEST(Transcript, UnrelayedAndUnknownTypesLeaveItUnchanged) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  const CJaseloDlgProbe probe(dlg);
  ChatEvent e;
  FillEvent(e, CHAT_UNRELAYED, "bob", "hidden");
  probe.DispatchEvent(e);
  FillEvent(e, 9, "bob", "hidden");
  probe.DispatchEvent(e);
  FillEvent(e, 0, "bob", "hidden");
  probe.DispatchEvent(e);
  EXPECT_TRUE(probe.Transcript()->document()->isEmpty());
}

TEST(ChatWindow, EveryKindOfIncomingLineReachesTheTranscript) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "alice");
  const CJaseloDlgProbe probe(dlg);
  const uint16_t port = StartAsServer(dlg);
  Peer bob("bob");
  ASSERT_TRUE(bob.Join(dlg, port));
  auto shown = [&](const char* text) {
    return PumpUntil([&] { return PlainText(probe.Transcript()->document()).contains(text); });
  };
  ASSERT_TRUE(shown("bob joined the chat !"));
  ASSERT_TRUE(bob.Say("public words", "Liberation Sans", 200, 0, 0, 0, 1, 0));
  ASSERT_TRUE(shown("public words"));
  ASSERT_TRUE(bob.SayPrivately("for alice only", "ALICE"));  // any letter case
  ASSERT_TRUE(shown("for alice only"));
  ASSERT_TRUE(bob.Network().SendDisconnectMessage("bob"));
  ASSERT_TRUE(shown("bob is disconnected !"));
  EXPECT_EQ(PlainText(probe.Transcript()->document()),
            HostsKeyLine() + QString("bob joined the chat !\n\n"
                                     "bob says :\npublic words\n\n"
                                     "(*private*) bob says :\nfor alice only\n\n"
                                     "bob is disconnected !\n\n"));
}

TEST(PollLoop, FiveHundredLinesArriveInOrderWhileTheUiStaysResponsive) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "alice");
  const CJaseloDlgProbe probe(dlg);
  const uint16_t port = StartAsServer(dlg);
  Peer bob("bob");
  ASSERT_TRUE(bob.Join(dlg, port));
  ASSERT_TRUE(PumpUntil([&] { return PlainText(probe.Transcript()->document()).contains("joined"); }));

  const UiStallMeter stalls;

  constexpr int kLines = 500;
  for (int i = 0; i < kLines; ++i) ASSERT_TRUE(bob.Say(("line " + std::to_string(i)).c_str()));
  ASSERT_TRUE(PumpUntil(
      [&] { return PlainText(probe.Transcript()->document()).contains(QString("line %1\n").arg(kLines - 1)); },
      std::chrono::seconds(30)));

  const QString text = PlainText(probe.Transcript()->document());
  qsizetype from = 0;
  for (int i = 0; i < kLines; ++i) {
    const qsizetype at = text.indexOf(QString("bob says :\nline %1\n\n").arg(i), from);
    ASSERT_GE(at, from) << "line " << i << " missing or out of order";
    from = at + 1;
  }
  EXPECT_LT(stalls.LongestMs(), 500) << "the UI thread was blocked for " << stalls.LongestMs() << " ms";
}

TEST(PollLoop, StoppingWhileAppendsArePendingNeverDeadlocks) {
  WithinDeadline(std::chrono::seconds(30), [] {
    for (int round = 0; round < 3; ++round) {
      CJaseloDlg dlg;
      PrepareWindow(dlg, "alice");
      const CJaseloDlgProbe probe(dlg);
      const uint16_t port = StartAsServer(dlg);
      Peer bob("bob");
      ASSERT_TRUE(bob.Join(dlg, port));
      for (size_t i = 0; i < POLL_NEWS_LIMIT + 100; ++i) ASSERT_TRUE(bob.Say("flood"));
      // The UI thread serves nothing until it stops the loop: the poll thread is
      // then blocked on a full hand-over that only the stop can free.
      ASSERT_TRUE(WaitFor([&] { return probe.NewsWaiting() == POLL_NEWS_LIMIT; }));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      probe.StopPollLoop();
      EXPECT_FALSE(probe.IsPolling());
      EXPECT_FALSE(probe.IsRunning());
    }
  });
}

TEST(ChatWindow, AHostPresentingAnotherKeyIsJoinedOnlyWhenTheUserSaysSo) {
  TempDir keys;
  CJaseloNetwork real, impostor;
  std::map<CJaseloNetwork*, KeyDigest> key;
  for (CJaseloNetwork* host : {&real, &impostor}) {
    HostIdentity identity;
    std::string error;
    ASSERT_TRUE(LoadOrMakeHostIdentity(keys.File(host == &real ? "real" : "impostor"), identity, error));
    host->SetHostSecurity({TlsContext::ForHost(identity, error), false});
    key[host] = identity.key;
    ASSERT_TRUE(host->StartupServer());
    host->ServerListen(0);
  }
  const auto line = [](const KeyDigest& k) { return "Connected to the server, encrypted (key " + k.Grouped() + ")"; };
  Relay relay(real.ListeningPort());
  {
    CJaseloDlg met;
    PrepareWindow(met, "alice");
    StartAsClient(met, relay.Port());
    EXPECT_EQ(PlainText(CJaseloDlgProbe(met).Transcript()->document()).toStdString(), line(key[&real]) + "\n\n");
    CJaseloDlgProbe(met).StopPollLoop();
  }
  // A person in the middle answers with a key of its own.
  relay.ForwardTo(impostor.ListeningPort());
  // Joins `port`, pressing `button` in the question that comes, or Enter
  // (the default, which keeps the user out) when `button` is empty; gives
  // the question's text and the transcript once joined, or "ended".
  const auto joinAsked = [](uint16_t port, const QString& button, bool agreedToPlain, QString& asked) {
    CJaseloDlg dlg;
    PrepareWindow(dlg, "alice");
    CJaseloDlgProbe(dlg).AgreeToPlain(agreedToPlain);
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible()) return;
      asked = box->text();
      if (button.isEmpty()) QTest::keyClick(box, Qt::Key_Return);
      for (QAbstractButton* b : box->buttons()) {
        if (b->text() == button) b->click();
      }
    });
    answer.start(10);
    StartAsClient(dlg, port);
    if (dlg.Ended()) return std::string("ended");
    CJaseloDlgProbe(dlg).StopPollLoop();
    return PlainText(CJaseloDlgProbe(dlg).Transcript()->document()).toStdString();
  };
  for (const bool anyway : {false, true}) {
    QString asked;
    const std::string shown = joinAsked(relay.Port(), anyway ? "Connect anyway" : "", true, asked);
    EXPECT_TRUE(asked.contains(GroupedKey(key[&real].Hex())) && asked.contains(GroupedKey(key[&impostor].Hex())))
        << asked.toStdString();
    EXPECT_EQ(shown, anyway ? line(key[&impostor]) + "\n\n" : "ended");
  }
  EXPECT_EQ(KnownHosts(DataFolderPath() + "/" + KNOWN_HOSTS_FILE).Look("127.0.0.1", relay.Port()).key, key[&impostor]);
  real.StopServer();
  impostor.StopServer();

  // A typed address whose host was never met and offers no encryption is
  // joined in plain text only once the user says so.
  CJaseloNetwork plain;
  ASSERT_TRUE(plain.StartupServer());
  plain.ServerListen(0);
  for (const bool anyway : {false, true}) {
    QString asked;
    const std::string shown =
        joinAsked(plain.ListeningPort(), anyway ? "Connect without encryption" : "", false, asked);
    EXPECT_TRUE(asked.contains("offers no encryption")) << asked.toStdString();
    EXPECT_EQ(shown, anyway ? kPlain.toStdString() : "ended");
  }
  plain.StopServer();
}

TEST(ChatWindow, APasswordChatAsksForItAndARefusalIsNotTriedAgain) {
  TempDir keys;
  HostIdentity identity;
  std::string error;
  ASSERT_TRUE(LoadOrMakeHostIdentity(keys.Path(), identity, error));
  CJaseloNetwork host;
  const auto startHost = [&](const char* password, uint16_t port) {
    host.SetHostSecurity({TlsContext::ForHost(identity, error), false, password});
    host.StartupServer();
    host.ServerListen(port);
    return host.ListeningPort();
  };
  const uint16_t port = startHost("open sesame", 0);
  CJaseloDlg dlg;
  PrepareWindow(dlg, "alice");
  QStringList asked;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    asked << box->labelText();
    box->setTextValue(asked.size() == 1 ? "open says me" : "open sesame");
    box->accept();
  });
  answer.start(10);
  StartAsClient(dlg, port);
  answer.stop();
  ASSERT_EQ(asked.size(), 2);
  EXPECT_FALSE(asked[0].contains("Wrong password")) << "asked first without blame";
  EXPECT_TRUE(asked[1].startsWith("Wrong password for this chat !"));
  ASSERT_FALSE(dlg.Ended());
  ASSERT_TRUE(PumpUntil([&] { return host.ClientTable().size() == 1; }));

  // The host comes back with another password: the try is refused, said
  // once, and no other follows.
  host.StopServer();
  host.Cleanup();
  ASSERT_EQ(startHost("changed", port), port);
  const CJaseloDlgProbe probe(dlg);
  ASSERT_TRUE(PumpUntil([&] { return PlainText(probe.Transcript()->document()).contains("Wrong password"); },
                        std::chrono::seconds(5)));
  PumpUntil([] { return false; }, std::chrono::milliseconds(2500));
  EXPECT_EQ(PlainText(probe.Transcript()->document()).count("Wrong password for this chat !"), 1);
  EXPECT_TRUE(host.ClientTable().empty());
  probe.StopPollLoop();
}
