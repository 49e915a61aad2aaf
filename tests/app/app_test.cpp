// The program's life as a user meets it: the settings file, the settings
// dialog, the network start in both roles with its messages, the close path
// with its departure notices, and the settings written at exit.

#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/jaseloapp.h"
#include "common/test_support.h"
#include "net/tlscontext.h"
#include "protocol/headers.h"
#include "trust/hostidentity.h"
#include "ui/jaselodlg.h"
#include "ui/jaselodlginit.h"
#include "ui/resource.h"
#include "ui/resources.h"
#include "ui/toolkit/ipaddressctrl.h"
#include "ui/toolkit/richedit.h"
#include "ui_test_support.h"

namespace {

const char kDefaultFile[] =
    "#Pseudo\r\n9 username\r\n#Client-Server\r\n1 0\r\n#IpAddress\r\n127.0.0.1\r\n#Port\r\n27015\r\n"
    "#Police\r\n6 Arial\r\n#Couleur\r\n0 0 0\r\n#Mode\r\n0 0 0\r\n";

std::string ConfigFile(const std::string& nick, const char* role, uint16_t port) {
  std::ostringstream out;
  out << "#Pseudo\r\n"
      << nick.size() + 1 << " " << nick << "\r\n#Client-Server\r\n"
      << role << "\r\n#IpAddress\r\n127.0.0.1\r\n#Port\r\n"
      << port << "\r\n#Police\r\n17 Liberation Serif\r\n#Couleur\r\n0 0 128\r\n#Mode\r\n1 0 0\r\n";
  return out.str();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Runs the program in a fresh directory, as if started there.
class InDirectory {
 public:
  InDirectory() {
    char buffer[4096];
    old = getcwd(buffer, sizeof buffer) ? buffer : ".";
    EXPECT_EQ(chdir(dir.Path().c_str()), 0);
  }
  ~InDirectory() { (void)chdir(old.c_str()); }
  std::string File() const { return dir.File("config.cfg"); }

 private:
  TempDir dir;
  std::string old;
};

struct SeenBox {
  QString text, caption;
  QMessageBox::Icon icon;
};

// Watches the windows the program opens and plays the user's part: a callback
// for the settings dialog and one for the chat window, each called once when
// it is up; every message box is recorded and closed with OK.
class User {
 public:
  std::function<void(CJaseloDlgInit&)> onSettings;
  std::function<void(CJaseloDlg&)> onChat;
  std::vector<SeenBox> boxes;
  bool sawChat = false;

  User() {
    QObject::connect(&timer, &QTimer::timeout, [this] { Tick(); });
    timer.start(5);
  }

 private:
  void Tick() {
    // A box is answered even while another step waits below in a nested
    // loop (the chat window's activation, say): that step may be what the
    // box holds up.
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box == nullptr || !box->isVisible() || box == answering) continue;
      answering = box;
      boxes.push_back({box->text(), box->windowTitle(), box->icon()});
      box->button(QMessageBox::Ok)->click();
      answering = nullptr;
      // A settings dialog after the box is another, wherever it is made.
      lastSettings = nullptr;
      return;
    }
    if (busy) return;
    busy = true;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (!w->isVisible()) continue;
      if (auto* settings = dynamic_cast<CJaseloDlgInit*>(w); settings && settings != lastSettings) {
        lastSettings = settings;
        settings->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(settings));
        if (onSettings) onSettings(*settings);
        break;
      }
      if (auto* chat = dynamic_cast<CJaseloDlg*>(w); chat && !sawChat) {
        sawChat = true;
        // Only a user who chats needs the window active; a failed join may
        // close it first.
        if (onChat) {
          chat->activateWindow();
          EXPECT_TRUE(QTest::qWaitForWindowActive(chat));
          onChat(*chat);
        }
        break;
      }
    }
    busy = false;
  }

  QTimer timer;
  bool busy = false;
  QMessageBox* answering = nullptr;
  CJaseloDlgInit* lastSettings = nullptr;
};

void PressEnter(CJaseloDlgInit&) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); }

void PressEscape(CJaseloDlg& d) { QTest::keyClick(CJaseloDlgProbe(d).InputBox(), Qt::Key_Escape); }

class FailingSockets : public CJaseloApp {
 protected:
  bool StartSockets() override { return false; }
};

// A port on the loopback that nothing listens on.
uint16_t ClosedPort() {
  CJaseloNetwork probe;
  EXPECT_TRUE(probe.StartupServer());
  probe.ServerListen(0);
  const uint16_t port = probe.ListeningPort();
  probe.StopServer();
  return port;
}

}  // namespace

TEST(ProgramStart, FirstRunWritesTheDefaultsBeforeTheDialogAndCancelEndsTheProgram) {
  InDirectory here;
  User user;
  user.onSettings = [&](CJaseloDlgInit& d) {
    EXPECT_EQ(ReadFile(here.File()), kDefaultFile) << "written before the dialog opens";
    EXPECT_TRUE(d.Item<QRadioButton>(IDC_CLIENT)->isChecked());
    EXPECT_EQ(d.Item<QLineEdit>(IDC_PSEUDO)->text(), "username");
    EXPECT_EQ(d.Item<QLineEdit>(IDC_PORT)->text(), "27015");
    uint8_t a, b, c, e;
    d.Item<CIPAddressCtrl>(IDC_IPADDRESS)->GetAddress(a, b, c, e);
    EXPECT_EQ((std::vector<int>{a, b, c, e}), (std::vector<int>{127, 0, 0, 1}));
    QTest::keyClicks(d.Item<QLineEdit>(IDC_PSEUDO), "typed but cancelled");
    d.Item<QPushButton>(IDCANCEL)->click();  // "Annuler"
  };
  CJaseloApp app;
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(app.ExitCode(), 0);
  EXPECT_FALSE(user.sawChat) << "the chat window never shows";
  EXPECT_TRUE(user.boxes.empty());
  EXPECT_EQ(ReadFile(here.File()), kDefaultFile);
}

TEST(ProgramStart, CancelRewritesTheFileWithTheValuesRead) {
  // A role line naming neither role or both proposes the client or the server
  // and still comes back as it was.
  for (const char* pair : {"0 1", "0 0", "1 1"}) {
    InDirectory here;
    const std::string original = ConfigFile("bob", pair, 4000);
    WriteFile(here.File(), original);
    const bool server = pair[2] == '1';
    User user;
    user.onSettings = [server](CJaseloDlgInit& d) {
      EXPECT_EQ(d.Item<QRadioButton>(IDC_SERVER)->isChecked(), server);
      EXPECT_EQ(d.Item<QLineEdit>(IDC_PORT)->text(), "4000");
      d.Item<QRadioButton>(server ? IDC_CLIENT : IDC_SERVER)->click();
      QTest::keyClick(&d, Qt::Key_Escape);
    };
    CJaseloApp app;
    app.InitInstance();
    EXPECT_EQ(ReadFile(here.File()), original) << pair;
  }
}

TEST(ProgramStart, ASocketFailureShowsString103AndLeavesTheFileAlone) {
  InDirectory here;
  const std::string odd = "not a settings file\n";
  WriteFile(here.File(), odd);
  User user;
  FailingSockets app;
  EXPECT_FALSE(app.InitInstance());
  EXPECT_NE(app.ExitCode(), 0);
  ASSERT_EQ(user.boxes.size(), 1u);
  EXPECT_EQ(user.boxes[0].text, QString::fromUtf8("L'initialisation des sockets Windows a échoué."));
  EXPECT_EQ(user.boxes[0].caption, QCoreApplication::applicationName());
  EXPECT_EQ(ReadFile(here.File()), odd);
}

TEST(ClientRole, NoServerShowsOneMessageAndKeepsTheConfirmedAddressAndPort) {
  InDirectory here;
  const uint16_t port = ClosedPort();
  User user;
  user.onSettings = [port](CJaseloDlgInit& d) {
    d.Item<QLineEdit>(IDC_PORT)->clear();
    QTest::keyClicks(d.Item<QLineEdit>(IDC_PORT), QString::number(port));
    d.Item<CIPAddressCtrl>(IDC_IPADDRESS)->Field(3)->clear();
    QTest::keyClicks(d.Item<CIPAddressCtrl>(IDC_IPADDRESS)->Field(3), "1");
    d.GetDlgItem(IDOK)->setFocus();
    QTest::keyClick(d.GetDlgItem(IDOK), Qt::Key_Return);
  };
  CJaseloApp app;
  app.InitInstance();
  ASSERT_EQ(user.boxes.size(), 1u);
  EXPECT_EQ(user.boxes[0].text, "Connection to the server failed !");
  EXPECT_EQ(user.boxes[0].caption, "Error");
  EXPECT_EQ(user.boxes[0].icon, QMessageBox::Critical);
  const std::string saved = ReadFile(here.File());
  EXPECT_NE(saved.find("#Port\r\n" + std::to_string(port) + "\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("#IpAddress\r\n127.0.0.1\r\n"), std::string::npos) << saved;
}

TEST(ClientRole, TitleNamesTheUserAndClosingSendsOneDeparture) {
  InDirectory here;
  // A server the test relays for, with another participant on it. It has a
  // key: a typed address's host without one is asked about first.
  CJaseloNetwork server;
  HostIdentity identity;
  std::string error;
  ASSERT_TRUE(MakeHostIdentity(identity));
  server.SetHostSecurity({TlsContext::ForHost(identity, error), false});
  ASSERT_TRUE(server.StartupServer());
  server.ServerListen(0);
  QTimer relay;
  QObject::connect(&relay, &QTimer::timeout, [&] {
    ChatEvent dropped;
    while (server.ProcessPacketInQueue(dropped)) dropped = ChatEvent{};
  });
  relay.start(5);
  Peer carol("carol");
  ASSERT_TRUE(carol.Connect(server.ListeningPort()));
  ASSERT_TRUE(PumpUntil([&] { return server.ClientTable().size() == 1; }));

  // Neither role in the file: the client is proposed, and OK makes it the file's.
  WriteFile(here.File(), ConfigFile("bob", "0 0", server.ListeningPort()));
  User user;
  user.onSettings = PressEnter;
  user.onChat = [&](CJaseloDlg& d) {
    EXPECT_EQ(d.windowTitle(), "Jaselo -- bob");
    EXPECT_TRUE(PumpUntil([&] { return CJaseloDlgProbe(d).IsPolling(); }));
    TypeIntoFocus("hi all");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(PumpUntil(
        [&] { return PlainText(CJaseloDlgProbe(d).Transcript()->document()).contains("bob says :\nhi all"); }));
    PressEscape(d);
  };
  CJaseloApp app;
  app.InitInstance();
  EXPECT_TRUE(user.sawChat);
  EXPECT_TRUE(user.boxes.empty());
  ASSERT_TRUE(PumpUntil([&] {
    carol.Drain();
    return !carol.events.empty() && carol.events.back().type == CHAT_DISCONNECTED;
  }));
  PumpUntil([] { return false; }, std::chrono::milliseconds(150));  // anything more would show by now
  carol.Drain();
  // carol saw bob arrive, speak and leave, once.
  ASSERT_EQ(carol.events.size(), 3u);
  EXPECT_EQ(carol.events[0].type, CHAT_JOINED);
  EXPECT_EQ(carol.events[1].text, "hi all");
  EXPECT_EQ(carol.events[1].police, "Liberation Serif");
  EXPECT_EQ(carol.events[1].style.Blue, 128);
  EXPECT_EQ(carol.events[1].style.Bold, 1);
  EXPECT_EQ(carol.events[2].name, "bob");
  EXPECT_EQ(ReadFile(here.File()), ConfigFile("bob", "1 0", server.ListeningPort()));
  relay.stop();
  server.StopServer();
}

TEST(ServerRole, TitleOwnLineAndTheTwoDeparturesOnClose) {
  InDirectory here;
  WriteFile(here.File(), ConfigFile("bob", "0 1", 0));
  Peer carol("carol");
  User user;
  user.onSettings = PressEnter;
  user.onChat = [&](CJaseloDlg& d) {
    EXPECT_EQ(d.windowTitle(), "Jaselo -- bob");
    // The window is up before its own client has joined: carol comes after it.
    EXPECT_TRUE(PumpUntil([&] { return CJaseloDlgProbe(d).IsPolling(); }));
    EXPECT_TRUE(carol.Join(d, CJaseloDlgProbe(d).ServerNetwork().ListeningPort()));
    TypeIntoFocus("welcome");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(PumpUntil(
        [&] { return PlainText(CJaseloDlgProbe(d).Transcript()->document()).contains("bob says :\nwelcome"); }));
    PressEscape(d);
  };
  CJaseloApp app;
  app.InitInstance();
  EXPECT_TRUE(user.boxes.empty());
  ASSERT_TRUE(carol.WaitForEvents(3));
  EXPECT_EQ(carol.events[0].text, "welcome");
  EXPECT_EQ(carol.events[1].type, CHAT_DISCONNECTED);
  EXPECT_EQ(carol.events[1].name, "bob");
  EXPECT_EQ(carol.events[2].type, CHAT_DISCONNECTED);
  EXPECT_EQ(carol.events[2].name, "!!! SERVER !!!");
  // The confirmed settings are saved, the style as read.
  EXPECT_EQ(ReadFile(here.File()), ConfigFile("bob", "0 1", 0));
}

TEST(ServerRole, WithoutItsKeyAChatWithAPasswordIsNotHostedAndTheSettingsComeBack) {
  InDirectory here;
  WriteFile(here.File(), ConfigFile("bob", "0 1", 0));
  // A data folder inside a file: no key can be kept there.
  const std::string data = std::getenv("XDG_DATA_HOME");
  WriteFile(here.File() + ".file", "");
  setenv("XDG_DATA_HOME", (here.File() + ".file").c_str(), 1);
  User user;
  int settingsShown = 0;
  user.onSettings = [&](CJaseloDlgInit& d) {
    if (++settingsShown > 1) return d.Item<QPushButton>(IDCANCEL)->click();
    QTest::keyClicks(d.Item<QLineEdit>(IDC_PASSWORD), "open sesame");
    PressEnter(d);
  };
  CJaseloApp app;
  app.InitInstance();
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  ASSERT_EQ(user.boxes.size(), 1u);
  EXPECT_TRUE(user.boxes[0].text.startsWith("Unable to create the server !\n\nNo host key ("))
      << user.boxes[0].text.toStdString();
  EXPECT_EQ(user.boxes[0].caption, "Error");
  EXPECT_EQ(settingsShown, 2);
  EXPECT_FALSE(user.sawChat);
}

TEST(ServerRole, APortInUseBringsNoMessage) {
  InDirectory here;
  CJaseloNetwork occupant;
  ASSERT_TRUE(occupant.StartupServer());
  occupant.ServerListen(0);
  ASSERT_NE(occupant.ListeningPort(), 0);
  WriteFile(here.File(), ConfigFile("bob", "0 1", occupant.ListeningPort()));
  User user;
  user.onSettings = PressEnter;
  user.onChat = [](CJaseloDlg& d) {
    EXPECT_EQ(d.windowTitle(), "Jaselo -- bob");
    EXPECT_TRUE(PumpUntil([&] { return CJaseloDlgProbe(d).IsPolling(); }));
    PressEscape(d);
  };
  CJaseloApp app;
  app.InitInstance();
  EXPECT_TRUE(user.sawChat);
  EXPECT_TRUE(user.boxes.empty());
  occupant.StopServer();
}
