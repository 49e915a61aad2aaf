// Desktop notifications against a real notification daemon (dunst) on a
// private session bus started by dbus-run-session, under Xvfb, with the calls
// read back by dbus-monitor and the daemon's state by dunstctl.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTimer>
#include <csignal>
#include <fstream>
#include <map>
#include <memory>

#include "common/test_support.h"
#include "protocol/headers.h"
#include "ui/jaselodlg.h"
#include "ui/notifier.h"
#include "ui/toolkit/richedit.h"
#include "ui_test_support.h"

namespace {

using namespace std::chrono_literals;

// One Notify call as dbus-monitor printed it.
struct NotifyCall {
  QStringList strings;  // app name, icon, summary, body
  uint replaces = 0;
  QStringList actions;
  std::map<QString, QString> hints;
  int timeout = 0;
  QString Summary() const { return strings.value(2); }
  QString Body() const { return strings.value(3); }
};

QString Quoted(const QString& line) {
  const qsizetype from = line.indexOf('"'), to = line.lastIndexOf('"');
  return from >= 0 && to > from ? line.mid(from + 1, to - from - 1) : QString();
}

// dbus-monitor's text: a header line per message, its arguments indented by
// three blanks, arrays and dictionary entries by three more each.
std::vector<NotifyCall> ParseMonitor(const QString& text) {
  std::vector<NotifyCall> calls;
  NotifyCall* call = nullptr;
  int array = -1;  // the top-level array being read: 0 actions, 1 hints
  int arrays = 0;
  QString key;
  for (const QString& line : text.split('\n')) {
    if (!line.startsWith(' ')) {
      call = line.startsWith("method call") && line.contains("member=Notify") ? &calls.emplace_back() : nullptr;
      arrays = 0;
      array = -1;
      continue;
    }
    if (!call) continue;
    const QString item = line.trimmed();
    const bool topLevel = line.startsWith("   ") && line.at(3) != ' ';
    if (topLevel) {
      if (item == "]") array = -1;
      else if (item.startsWith("array")) array = arrays++;
      else if (item.startsWith("string")) call->strings.push_back(Quoted(item));
      else if (item.startsWith("uint32")) call->replaces = item.section(' ', 1).toUInt();
      else if (item.startsWith("int32")) call->timeout = item.section(' ', 1).toInt();
    } else if (array == 0 && item.startsWith("string")) {
      call->actions.push_back(Quoted(item));
    } else if (array == 1 && item.startsWith("variant")) {
      const QString value = item.mid(7).trimmed();
      call->hints[key] = value.startsWith("string") ? Quoted(value) : value.section(' ', -1);
    } else if (array == 1 && item.startsWith("string")) {
      key = Quoted(item);
    }
  }
  return calls;
}

// Xvfb, a session bus of the test's own that dbus-run-session runs for as long
// as its program (dunst, or with no daemon a program that only waits), and
// dbus-monitor watching the Notify calls on it.
class NotificationDesktop {
 public:
  explicit NotificationDesktop(bool withDaemon) {
    for (const char* tool : {"Xvfb", "dbus-run-session", "dbus-monitor", "dunst", "dunstctl"})
      if (QStandardPaths::findExecutable(tool).isEmpty()) missing += QString(" ") + tool;
    if (!missing.isEmpty()) return;
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
    if (!xvfb.waitForReadyRead(10000)) return;
    env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", ":" + QString::fromUtf8(xvfb.readLine()).trimmed());
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir.Path()));  // dunst's built-in settings
    // No service directories: nothing is started on demand, so "no daemon" holds.
    std::ofstream(dir.File("bus.conf"))
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
           "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    session.setProcessEnvironment(env);
    // The shell tells the bus's address and its own process id, which the
    // daemon then takes over.
    session.start("dbus-run-session",
                  QStringList{"--config-file=" + QString::fromStdString(dir.File("bus.conf")), "--", "sh", "-c",
                              "echo \"$DBUS_SESSION_BUS_ADDRESS\"; echo $$; exec \"$@\"", "sh"} +
                      (withDaemon ? QStringList{"dunst", "-verbosity", "crit"} : QStringList{"sleep", "600"}));
    if (!WaitForLines(session, 2)) return;
    address = QString::fromUtf8(session.readLine()).trimmed();
    program = QString::fromUtf8(session.readLine()).trimmed().toInt();
    env.insert("DBUS_SESSION_BUS_ADDRESS", address);
    monitor.setProcessEnvironment(env);
    monitor.start("dbus-monitor", {"--address", address, "type='method_call',member='Notify'"});
    if (!PumpUntil([&] { return Monitored().contains("NameLost"); })) return;
    QDBusConnection bus = Bus();
    if (!bus.isConnected()) return;
    ready = !withDaemon || PumpUntil([&] {
      return bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")).value();
    });
  }
  ~NotificationDesktop() {
    QDBusConnection::disconnectFromBus(kName);
    if (program > 0) {
      ::kill(program, SIGCONT);
      ::kill(program, SIGTERM);  // dbus-run-session then ends the bus
    }
    for (QProcess* p : {&session, &monitor, &xvfb}) {
      if (p->state() == QProcess::NotRunning) continue;
      if (p != &session) p->terminate();
      if (!p->waitForFinished(5000)) p->kill();
      p->waitForFinished(5000);
    }
  }

  QDBusConnection Bus() { return QDBusConnection::connectToBus(address, kName); }
  std::vector<NotifyCall> Calls() { return ParseMonitor(Monitored()); }
  // Waits for the calls to come to `count`.
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
  static bool WaitForLines(QProcess& p, int lines) {
    QElapsedTimer clock;
    clock.start();
    while (p.bytesAvailable() >= 0 && QString::fromUtf8(p.peek(4096)).count('\n') < lines) {
      if (clock.elapsed() > 10000 || p.state() == QProcess::NotRunning) return false;
      p.waitForReadyRead(100);
    }
    return true;
  }
  QString Monitored() {
    seen += QString::fromUtf8(monitor.readAllStandardOutput());
    return seen;
  }

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

// The window's notifier on the test's bus.
void UseBus(CJaseloDlg& dlg, const QDBusConnection& bus) {
  auto* notifier = dlg.findChild<CNotifier*>();
  ASSERT_NE(notifier, nullptr);
  notifier->SetConnection(bus);
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
  PrepareWindow(dlg, "alice");
  UseBus(dlg, desktop.Bus());
  QWidget elsewhere;
  elsewhere.show();
  const uint16_t port = StartAsServer(dlg);
  ASSERT_TRUE(Activate(dlg));

  // While the user looks at the window, nothing is notified.
  Peer bob("bob");
  ASSERT_TRUE(bob.Join(dlg, port));
  ASSERT_TRUE(bob.Say("while active"));
  ASSERT_TRUE(Shown(dlg, "while active"));

  ASSERT_TRUE(Activate(elsewhere));
  ASSERT_TRUE(bob.Say("<b>one</b> & two"));
  ASSERT_TRUE(desktop.WaitForCalls(1));
  ASSERT_TRUE(bob.Say("three"));
  ASSERT_TRUE(desktop.WaitForCalls(2));
  Peer carol("carol");
  ASSERT_TRUE(carol.Join(dlg, port));
  ASSERT_TRUE(desktop.WaitForCalls(3));
  ASSERT_TRUE(carol.SayPrivately(("Alice, look: " + std::string(300, 'x')).c_str(), "alice"));
  ASSERT_TRUE(desktop.WaitForCalls(4));

  const std::vector<NotifyCall> calls = desktop.Calls();
  ASSERT_EQ(calls.size(), 4u);
  const NotifyCall& first = calls[0];
  EXPECT_EQ(first.strings,
            (QStringList{"Jaselo", "org.jaselo.Jaselo", "bob says :", "&lt;b&gt;one&lt;/b&gt; &amp; two"}));
  EXPECT_EQ(first.replaces, 0u);
  EXPECT_EQ(first.actions, (QStringList{"default", "Open"}));
  EXPECT_EQ(first.hints, (std::map<QString, QString>{
                             {"desktop-entry", "org.jaselo.Jaselo"}, {"category", "im.received"}, {"urgency", "1"}}));
  EXPECT_EQ(first.timeout, -1);
  // bob's second line replaces his first, on the daemon's screen too.
  EXPECT_EQ(calls[1].Body(), "three");
  EXPECT_NE(calls[1].replaces, 0u);
  EXPECT_EQ(desktop.Dunstctl({"count", "displayed"}), "2") << "bob's and carol's";
  EXPECT_EQ(calls[2].Summary(), "carol joined the chat !");
  EXPECT_EQ(calls[2].replaces, 0u);
  EXPECT_EQ(calls[2].hints.at("category"), "presence.online");
  // A private line that names the user is urgent; its body is cut to 200 characters.
  EXPECT_EQ(calls[3].Summary(), "(*private*) carol says :");
  EXPECT_EQ(calls[3].hints.at("urgency"), "2");
  EXPECT_EQ(calls[3].Body(), "Alice, look: " + QString(186, 'x') + QChar(0x2026));

  // The default action brings the window back.
  ASSERT_FALSE(dlg.isActiveWindow());
  desktop.Dunstctl({"action", "0"});
  EXPECT_TRUE(PumpUntil([&] { return dlg.isActiveWindow(); }));
}

TEST(DesktopNotifications, TheWindowNeverWaitsForAMissingOrStuckDaemon) {
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0, longestGap = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    longestGap = std::max(longestGap, clock.elapsed() - last);
    last = clock.elapsed();
  });
  const auto chat = [&](CJaseloDlg& dlg, int lines) {
    const uint16_t port = StartAsServer(dlg);
    Peer bob("bob"), carol("carol");
    ASSERT_TRUE(bob.Join(dlg, port));
    ASSERT_TRUE(carol.Join(dlg, port));
    last = clock.elapsed();
    longestGap = 0;
    ticker.start(5);
    for (int i = 0; i < lines; ++i) ASSERT_TRUE((i % 2 ? bob : carol).Say(("line " + std::to_string(i)).c_str()));
    ASSERT_TRUE(Shown(dlg, QString("line %1\n").arg(lines - 1)));
    EXPECT_LT(longestGap, 500) << "the UI thread was blocked for " << longestGap << " ms";
    ticker.stop();
  };
  QWidget elsewhere;
  elsewhere.show();

  {  // A bus with nobody to answer: every call fails at once, the chat goes on.
    NotificationDesktop desktop(false);
    START_DESKTOP(desktop);
    CJaseloDlg dlg;
    PrepareWindow(dlg, "alice");
    UseBus(dlg, desktop.Bus());
    ASSERT_TRUE(Activate(elsewhere));
    chat(dlg, 100);
  }
  {  // No bus at all.
    CJaseloDlg dlg;
    PrepareWindow(dlg, "alice");
    UseBus(dlg, QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), "jaselo-test-none"));
    ASSERT_TRUE(Activate(elsewhere));
    chat(dlg, 20);
  }
  {  // A daemon that never answers: one call is under way, nothing piles up.
    NotificationDesktop desktop(true);
    START_DESKTOP(desktop);
    CJaseloDlg dlg;
    PrepareWindow(dlg, "alice");
    UseBus(dlg, desktop.Bus());
    ASSERT_TRUE(Activate(elsewhere));
    desktop.Pause();
    QElapsedTimer stuck;
    stuck.start();
    chat(dlg, 100);
    PumpUntil([] { return false; }, 300ms);
    // One call at a time, the next only once the last has timed out.
    EXPECT_LE(desktop.Calls().size(), 1u + stuck.elapsed() / CNotifier::CALL_TIMEOUT_MS);
    // Answering again, it gets the newest line of each sender that waited
    // (bob's and carol's lines come on two connections, in either order).
    desktop.Resume();
    ASSERT_TRUE(desktop.WaitForCalls(3));
    PumpUntil([] { return false; }, 300ms);
    const std::vector<NotifyCall> calls = desktop.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(QSet<QString>({calls[1].Body(), calls[2].Body()}), QSet<QString>({"line 98", "line 99"}));
  }
}
