// Desktop notifications against a real notification daemon (dunst) on a
// private session bus started by dbus-run-session, under Xvfb, with the calls
// read back by dbus-monitor and the daemon's state by dunstctl.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "common/test_support.h"
#include "ui/jaselodlg.h"
#include "ui/notifier.h"
#include "ui/toolkit/richedit.h"
#include "ui_test_support.h"

namespace {

using namespace std::chrono_literals;

// The Notify calls dbus-monitor printed: each argument line (nested ones too)
// with its blanks simplified, such as `string "bob says :"`, `uint32 0`,
// `variant string "im.received"`.
std::vector<QStringList> ParseMonitor(const QString& text) {
  std::vector<QStringList> calls;
  QStringList* call = nullptr;
  for (const QString& line : text.split('\n')) {
    if (!line.startsWith(' ')) call = line.contains("member=Notify") ? &calls.emplace_back() : nullptr;
    else if (call) call->push_back(line.simplified());
  }
  return calls;
}

// Xvfb, a session bus of the test's own that dbus-run-session keeps for as
// long as its program runs (dunst with its markup setting, or a program that
// only waits), and dbus-monitor watching the notification calls on it.
class NotificationDesktop {
 public:
  explicit NotificationDesktop(bool withDaemon, const char* markup = "full") {
    for (const char* tool : {"Xvfb", "dbus-run-session", "dbus-monitor", "dunst", "dunstctl"})
      if (QStandardPaths::findExecutable(tool).isEmpty()) missing += QString(" ") + tool;
    if (!missing.isEmpty()) return;
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
    if (!xvfb.waitForReadyRead(10000)) return;
    env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", ":" + QString::fromUtf8(xvfb.readLine()).trimmed());
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir.Path()));
    std::filesystem::create_directory(dir.File("dunst"));
    std::ofstream(dir.File("dunst/dunstrc")) << "[global]\n    markup = " << markup << "\n";
    // No service directories: nothing starts on demand, so "no daemon" holds.
    std::ofstream(dir.File("bus.conf"))
        << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
           "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    // The shell tells the bus's address and its process id, which the daemon takes over.
    session.setProcessEnvironment(env);
    session.start("dbus-run-session",
                  QStringList{"--config-file=" + QString::fromStdString(dir.File("bus.conf")), "--", "sh", "-c",
                              "echo \"$DBUS_SESSION_BUS_ADDRESS\" $$; exec \"$@\"", "sh"} +
                      (withDaemon ? QStringList{"dunst"} : QStringList{"sleep", "600"}));
    if (!session.waitForReadyRead(10000)) return;
    const QStringList said = QString::fromUtf8(session.readLine()).split(' ');
    address = said.value(0);
    program = said.value(1).toInt();
    env.insert("DBUS_SESSION_BUS_ADDRESS", address);
    monitor.setProcessEnvironment(env);
    monitor.start("dbus-monitor",
                  {"--address", address, "type='method_call',interface='org.freedesktop.Notifications'"});
    if (!PumpUntil([&] { return Monitored().contains("NameLost"); }) || !Bus().isConnected()) return;
    ready = !withDaemon || PumpUntil([&] {
      return Bus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")).value();
    });
  }
  ~NotificationDesktop() {
    QDBusConnection::disconnectFromBus(kName);
    if (program > 0) {
      ::kill(program, SIGCONT);
      ::kill(program, SIGTERM);  // dbus-run-session then ends the bus, and dbus-monitor with it
    }
    for (QProcess* p : {&session, &monitor, &xvfb}) {
      if (p == &xvfb) p->terminate();
      if (!p->waitForFinished(5000)) p->kill();
    }
  }

  QDBusConnection Bus() { return QDBusConnection::connectToBus(address, kName); }
  std::vector<QStringList> Calls() { return ParseMonitor(Monitored()); }
  qsizetype CapabilityQuestions() { return Monitored().count("member=GetCapabilities"); }
  bool WaitForCalls(size_t count) {
    return PumpUntil([&] { return Calls().size() >= count; });
  }
  QString Dunstctl(const QStringList& args) {
    QProcess ctl;
    ctl.setProcessEnvironment(env);
    ctl.start("dunstctl", args);
    ctl.waitForFinished(5000);
    return QString::fromUtf8(ctl.readAllStandardOutput()).trimmed();
  }
  // A daemon that holds its name but never answers, and back.
  void Pause() { ::kill(program, SIGSTOP); }
  void Resume() { ::kill(program, SIGCONT); }

  QString missing;
  bool ready = false;

 private:
  static constexpr const char* kName = "jaselo-test-session";
  QString Monitored() { return seen += QString::fromUtf8(monitor.readAllStandardOutput()); }

  TempDir dir;
  QProcessEnvironment env;
  QProcess xvfb, session, monitor;
  QString address, seen;
  pid_t program = 0;
};

#define START_DESKTOP(desktop)                                                                          \
  if (!(desktop).missing.isEmpty())                                                                     \
    GTEST_SKIP() << "needed:" << (desktop).missing.toStdString() << " (scripts/deps.sh installs them)"; \
  ASSERT_TRUE((desktop).ready)

// A window whose notifier uses `bus`.
void Prepare(CJaseloDlg& dlg, const QDBusConnection& bus) {
  PrepareWindow(dlg, "alice");
  dlg.findChild<CNotifier*>()->SetConnection(bus);
}

bool Shown(CJaseloDlg& dlg, const QString& text) {
  return PumpUntil([&] { return PlainText(CJaseloDlgProbe(dlg).Transcript()->document()).contains(text); });
}

}  // namespace

TEST(DesktopNotifications, LinesInTheBackgroundReachTheDaemonAndABurstReplacesOne) {
  NotificationDesktop desktop(true);
  START_DESKTOP(desktop);
  QGuiApplication::setDesktopFileName(QStringLiteral("org.jaselo.Jaselo"));
  CJaseloDlg dlg;
  Prepare(dlg, desktop.Bus());
  QWidget elsewhere;
  elsewhere.show();
  const uint16_t port = StartAsServer(dlg);
  ASSERT_TRUE(Activate(dlg));
  // While the user looks at the window, nothing is notified.
  Peer bob("bob"), carol("carol");
  ASSERT_TRUE(bob.Join(dlg, port));
  ASSERT_TRUE(bob.Say("while active"));
  ASSERT_TRUE(Shown(dlg, "while active"));

  ASSERT_TRUE(Activate(elsewhere));
  ASSERT_TRUE(bob.Say("<b>one</b> & two"));
  ASSERT_TRUE(desktop.WaitForCalls(1));
  ASSERT_TRUE(bob.Say("three"));
  ASSERT_TRUE(desktop.WaitForCalls(2));
  ASSERT_TRUE(carol.Join(dlg, port));
  ASSERT_TRUE(desktop.WaitForCalls(3));
  ASSERT_TRUE(carol.SayPrivately(("Alice, look: " + std::string(300, 'x')).c_str(), "alice"));
  ASSERT_TRUE(desktop.WaitForCalls(4));
  const std::vector<QStringList> calls = desktop.Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(desktop.CapabilityQuestions(), 1) << "the service is asked what it can do once";
  // Every argument of the first call, its hints in key order.
  EXPECT_EQ(calls[0].join('|'),
            "string \"Jaselo\"|uint32 0|string \"org.jaselo.Jaselo\"|string \"bob says :\"|"
            "string \"&lt;b&gt;one&lt;/b&gt; &amp; two\"|array [|string \"default\"|string \"Open\"|]|array [|"
            "dict entry(|string \"category\"|variant string \"im.received\"|)|"
            "dict entry(|string \"desktop-entry\"|variant string \"org.jaselo.Jaselo\"|)|"
            "dict entry(|string \"urgency\"|variant byte 1|)|]|int32 -1");
  // bob's second line replaces his first, on the daemon's screen too.
  EXPECT_NE(calls[1][1], "uint32 0");
  EXPECT_EQ(calls[1][4], "string \"three\"");
  EXPECT_EQ(desktop.Dunstctl({"count", "displayed"}), "2") << "bob's and carol's";
  EXPECT_EQ(calls[2].mid(1, 3), (QStringList{"uint32 0", calls[0][2], "string \"carol joined the chat !\""}));
  EXPECT_TRUE(calls[2].contains("variant string \"presence.online\""));
  // A private line that names the user is urgent; its text is cut to 200 characters.
  EXPECT_EQ(calls[3][3], "string \"(*private*) carol says :\"");
  EXPECT_EQ(calls[3][4], "string \"Alice, look: " + QString(186, 'x') + QChar(0x2026) + "\"");
  EXPECT_TRUE(calls[3].contains("variant byte 2"));

  // The default action brings the window back.
  ASSERT_FALSE(dlg.isActiveWindow());
  desktop.Dunstctl({"action", "0"});
  EXPECT_TRUE(PumpUntil([&] { return dlg.isActiveWindow(); }));
}

TEST(DesktopNotifications, AServiceWithoutMarkupGetsTheTextAsItIs) {
  NotificationDesktop desktop(true, "no");
  START_DESKTOP(desktop);
  CJaseloDlg dlg;
  Prepare(dlg, desktop.Bus());
  QWidget elsewhere;
  elsewhere.show();
  const uint16_t port = StartAsServer(dlg);
  ASSERT_TRUE(Activate(elsewhere));
  Peer bob("bob");
  ASSERT_TRUE(bob.Join(dlg, port));
  ASSERT_TRUE(bob.Say("<b>one</b> & two"));
  EXPECT_TRUE(PumpUntil(
      [&] { return !desktop.Calls().empty() && desktop.Calls().back()[4] == "string \"<b>one</b> & two\""; }));
}

TEST(DesktopNotifications, TheWindowNeverWaitsForAMissingOrStuckDaemon) {
  QWidget elsewhere;
  elsewhere.show();
  // Chats in the background while the UI thread's stalls are measured.
  const auto chat = [&](const QDBusConnection& bus, NotificationDesktop* stuck) {
    CJaseloDlg dlg;
    Prepare(dlg, bus);
    ASSERT_TRUE(Activate(elsewhere));
    const uint16_t port = StartAsServer(dlg);
    Peer bob("bob"), carol("carol");
    ASSERT_TRUE(bob.Join(dlg, port));
    ASSERT_TRUE(carol.Join(dlg, port));
    const UiStallMeter stalls;
    for (int i = 0; i < 100; ++i) ASSERT_TRUE((i % 2 ? bob : carol).Say(("line " + std::to_string(i)).c_str()));
    ASSERT_TRUE(Shown(dlg, "line 99\n"));
    EXPECT_LT(stalls.LongestMs(), 500) << "the UI thread was blocked for " << stalls.LongestMs() << " ms";
    if (!stuck) return;
    // One call at a time, the next only once the last has timed out.
    PumpUntil([] { return false; }, 300ms);
    EXPECT_LE(stuck->Calls().size(), 1u + stalls.ElapsedMs() / CNotifier::CALL_TIMEOUT_MS);
    // Answering again, it gets the newest line of each sender that waited
    // (bob's and carol's lines come on two connections, in either order).
    stuck->Resume();
    EXPECT_TRUE(PumpUntil([&] {
      const std::vector<QStringList> calls = stuck->Calls();
      return calls.size() >= 2 && QStringList({calls.end()[-2][4], calls.back()[4]}).join(' ').count("line 9") == 2;
    }));
  };
  {
    NotificationDesktop nobody(false);  // a bus with nobody to answer: each call fails at once
    START_DESKTOP(nobody);
    chat(nobody.Bus(), nullptr);
  }
  chat(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), "jaselo-test-none"), nullptr);
  NotificationDesktop stuck(true);
  START_DESKTOP(stuck);
  stuck.Pause();
  chat(stuck.Bus(), &stuck);
}
