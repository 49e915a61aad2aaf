// The settings dialog and its controls, driven by keys as a user would.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <tuple>

#include "discovery/chatservice.h"
#include "ui/jaselodlg.h"
#include "ui/jaselodlginit.h"
#include "ui/resource.h"
#include "ui/toolkit/ipaddressctrl.h"
#include "ui_test_support.h"

namespace {

InitData Defaults() {
  InitData d;
  d.Role = TYPE_CLIENT;
  d.Ip[0] = 127;
  d.Ip[3] = 1;
  d.Port = 27015;
  d.Pseudo = "username";
  return d;
}

// Runs the dialog modally; `act` runs once it is up, and must end it.
int RunDialog(CJaseloDlgInit& dlg, std::function<void(CJaseloDlgInit&)> act) {
  QTimer::singleShot(0, &dlg, [&dlg, act] {
    dlg.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg));
    act(dlg);
  });
  return dlg.DoModal();
}

// The row of the found chats whose text begins so, if any.
QListWidgetItem* RowStarting(QListWidget* list, const QString& start) {
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->text().startsWith(start)) return list->item(i);
  return nullptr;
}

}  // namespace

TEST(SettingsDialog, ProposesTheValuesAndEnterAcceptsThem) {
  InitData data = Defaults();
  CJaseloDlgInit dlg(nullptr, &data);
  const int result = RunDialog(dlg, [](CJaseloDlgInit& d) {
    EXPECT_EQ(d.windowTitle(), "Jaselo Initialisation");
    EXPECT_TRUE(d.Item<QRadioButton>(IDC_CLIENT)->isChecked());
    EXPECT_FALSE(d.Item<QRadioButton>(IDC_SERVER)->isChecked());
    EXPECT_EQ(d.Item<QLineEdit>(IDC_PSEUDO)->text(), "username");
    EXPECT_EQ(d.Item<QLineEdit>(IDC_PORT)->text(), "27015");
    EXPECT_EQ(QApplication::focusWidget(), d.GetDlgItem(IDOK));
    // Tab goes round in reading order, back to OK; the role buttons are one
    // stop, the checked one (the arrows choose).
    auto* ip = d.Item<CIPAddressCtrl>(IDC_IPADDRESS);
    EXPECT_EQ(TabRound(d.GetDlgItem(IDOK)),
              (std::vector<QWidget*>{d.GetDlgItem(IDOK), d.GetDlgItem(IDCANCEL), d.GetDlgItem(IDC_CLIENT),
                                     d.GetDlgItem(IDC_PSEUDO), ip->Field(0), d.GetDlgItem(IDC_PORT),
                                     d.GetDlgItem(IDC_FOUND_CHATS)}));
    EXPECT_TRUE(d.Item<QRadioButton>(IDC_CLIENT)->isChecked()) << "Tab only moves";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(data.Role, TYPE_CLIENT);
  EXPECT_EQ(data.Pseudo, "username");
  EXPECT_EQ(data.Ip[0], 127);
  EXPECT_EQ(data.Ip[1], 0);
  EXPECT_EQ(data.Ip[3], 1);
  EXPECT_EQ(data.Port, 27015);
}

TEST(SettingsDialog, EditedValuesReturnOnOkAndCancelKeepsTheRecord) {
  InitData data = Defaults();
  data.Port = 65535;
  CJaseloDlgInit dlg(nullptr, &data);
  const int result = RunDialog(dlg, [](CJaseloDlgInit& d) {
    EXPECT_EQ(d.Item<QLineEdit>(IDC_PORT)->text(), "65535") << "shown as its unsigned value";
    d.Item<QRadioButton>(IDC_SERVER)->click();
    d.Item<QLineEdit>(IDC_PSEUDO)->clear();
    QTest::keyClicks(d.Item<QLineEdit>(IDC_PSEUDO), "  bob  ");  // blanks around a nickname are dropped
    d.Item<QLineEdit>(IDC_PORT)->clear();                        // an empty port gives 0
    d.Item<CIPAddressCtrl>(IDC_IPADDRESS)->Field(2)->clear();    // a blank field gives 0
    d.GetDlgItem(IDOK)->setFocus();
    QTest::keyClick(d.GetDlgItem(IDOK), Qt::Key_Return);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(data.Role, TYPE_SERVER);
  EXPECT_EQ(data.Pseudo, "bob");
  EXPECT_EQ(data.Port, 0);
  EXPECT_EQ(data.Ip[0], 127);
  EXPECT_EQ(data.Ip[2], 0);

  InitData blank = Defaults();
  CJaseloDlgInit blanks(nullptr, &blank);
  RunDialog(blanks, [](CJaseloDlgInit& d) {
    d.Item<QLineEdit>(IDC_PSEUDO)->clear();
    QTest::keyClicks(d.Item<QLineEdit>(IDC_PSEUDO), "   ");
    d.OnOK();
  });
  EXPECT_EQ(blank.Pseudo, "") << "a nickname of blanks only is the empty nickname";

  InitData kept = Defaults();
  CJaseloDlgInit cancelled(nullptr, &kept);
  const int r2 = RunDialog(cancelled, [](CJaseloDlgInit& d) {
    QTest::keyClicks(d.Item<QLineEdit>(IDC_PSEUDO), "zzz");
    QTest::keyClick(&d, Qt::Key_Escape);
  });
  EXPECT_EQ(r2, IDCANCEL);
  EXPECT_EQ(kept.Pseudo, "username");
}

TEST(SettingsDialog, NicknameAndPortCannotBeTypedPastTheirLimits) {
  InitData data = Defaults();
  CJaseloDlgInit dlg(nullptr, &data);
  RunDialog(dlg, [](CJaseloDlgInit& d) {
    QLineEdit* pseudo = d.Item<QLineEdit>(IDC_PSEUDO);
    pseudo->clear();
    QTest::keyClicks(pseudo, QString(40, 'n'));
    EXPECT_EQ(pseudo->text(), QString(31, 'n'));
    // 31 bytes, not 31 letters: an accented letter takes two.
    pseudo->clear();
    TypeText(pseudo, QString(20, QChar(0xE9)));
    EXPECT_EQ(pseudo->text(), QString(15, QChar(0xE9)));

    // Control characters are refused, typed or pasted.
    pseudo->clear();
    for (const char* typed : {"a", "\x01", "\t", "b", "\x7F"})
      QTest::sendKeyEvent(QTest::Click, pseudo, Qt::Key_unknown, QString(typed), Qt::NoModifier);
    QApplication::clipboard()->setText("c\r\nd\te");
    pseudo->paste();
    EXPECT_EQ(pseudo->text(), "abcde");

    QLineEdit* port = d.Item<QLineEdit>(IDC_PORT);
    port->clear();
    QTest::keyClicks(port, "12a-3456789");
    EXPECT_EQ(port->text(), "12345");
    d.OnCancel();
  });
}

TEST(IpAddressControl, DotsAndThirdDigitsMoveOnAndValuesStayBytes) {
  InitData data = Defaults();
  CJaseloDlgInit dlg(nullptr, &data);
  const int result = RunDialog(dlg, [](CJaseloDlgInit& d) {
    CIPAddressCtrl* ip = d.Item<CIPAddressCtrl>(IDC_IPADDRESS);
    for (int i = 0; i < 4; ++i) ip->Field(i)->clear();
    ip->Field(0)->setFocus();
    TypeIntoFocus("10.1.300");  // a third digit moves on too; 300 is capped at 255
    TypeIntoFocus("7");
    EXPECT_EQ(QApplication::focusWidget(), ip->Field(3));
    uint8_t a, b, c, e;
    EXPECT_EQ(ip->GetAddress(a, b, c, e), 4);
    EXPECT_EQ(a, 10);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(c, 255);
    EXPECT_EQ(e, 7);
    d.OnOK();
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(data.Ip[2], 255);
}

TEST(SettingsDialog, WithoutAvahiTheChatListSaysWhyItIsEmptyAndTheDialogWorksAsBefore) {
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/jaselo-tests/system_bus_socket", 1);
  InitData data = Defaults();
  CJaseloDlgInit dlg(nullptr, &data);
  const int result = RunDialog(dlg, [](CJaseloDlgInit& d) {
    QListWidget* list = d.Item<QListWidget>(IDC_FOUND_CHATS);
    EXPECT_TRUE(PumpUntil([list] { return list->count() > 0; }));
    ASSERT_EQ(list->count(), 1);
    EXPECT_TRUE(list->item(0)->text().contains("avahi-daemon is not running")) << list->item(0)->text().toStdString();
    EXPECT_EQ(list->item(0)->flags(), Qt::NoItemFlags) << "grey, and nothing to choose";
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);  // the default button, as before
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(data.Role, TYPE_CLIENT);
  EXPECT_EQ(data.Port, 27015);
}

// Run by tests/discovery/discovery_test.sh, whose avahi-daemon answers on the
// bus DBUS_SYSTEM_BUS_ADDRESS names; not part of the plain suite.
TEST(OnTheDiscoveryNetwork, TheListFollowsTheChatsAndARowFillsTheClientRoleAndEnterJoins) {
  CJaseloDlg host;
  PrepareWindow(host, "hostess");
  const uint16_t hostPort = StartAsServer(host);
  const QString hostRow = QString::fromStdString(InstanceName("hostess", MachineName())) + " \u2014 ";
  QProcess carol, dave;  // each stops with its object, whatever happens
  carol.start("avahi-publish", {"-s", "carol on elsewhere", "_jaselo._tcp", "4242", "txtvers=1", "nick=carol", "tls=1",
                                "key=3F2A9C0177B4E0D2"});
  dave.start("avahi-publish", {"-s", "dave on elsewhere", "_jaselo._tcp", "4343", "txtvers=1", "nick=dave"});

  InitData data = Defaults();
  data.Role = TYPE_SERVER;
  CJaseloDlgInit dlg(nullptr, &data);
  QString carolAddress;
  const int result = RunDialog(dlg, [&](CJaseloDlgInit& d) {
    QListWidget* list = d.Item<QListWidget>(IDC_FOUND_CHATS);
    const bool all = PumpUntil(
        [&] { return RowStarting(list, hostRow) && RowStarting(list, "carol on") && RowStarting(list, "dave on"); },
        std::chrono::seconds(15));
    EXPECT_TRUE(all);
    // Each is seen on both interfaces of the test's network, and listed once.
    EXPECT_EQ(list->count(), 3);
    // The host's own user is in its chat, and the row counts them; its key follows.
    const QString counted = ":" + QString::number(hostPort) + " \u2014 1 person \u2014 encrypted, key ";
    EXPECT_TRUE(
        PumpUntil([&] { return RowStarting(list, hostRow) && RowStarting(list, hostRow)->text().contains(counted); },
                  std::chrono::seconds(15)));

    // A window that closes and a publisher that stops leave the list.
    host.OnCancel();
    dave.terminate();
    EXPECT_TRUE(
        PumpUntil([&] { return list->count() == 1 && RowStarting(list, "carol on"); }, std::chrono::seconds(15)));
    EXPECT_EQ(d.Item<QLineEdit>(IDC_PORT)->text(), "27015") << "rows coming and going fill nothing in";

    // Choosing the row by keys fills the role, the address and the port; Enter on it is OK.
    if (!all || !RowStarting(list, "carol on")) {
      d.OnCancel();
      return;
    }
    const QString text = RowStarting(list, "carol on")->text();
    carolAddress = text.section(" \u2014 ", 1, 1).section(':', 0, 0);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_TRUE(d.Item<QRadioButton>(IDC_CLIENT)->isChecked());
    EXPECT_EQ(d.Item<QLineEdit>(IDC_PORT)->text(), "4242");
    QTest::keyClick(list, Qt::Key_Return);
  });
  ASSERT_EQ(result, IDOK);
  EXPECT_EQ(data.Role, TYPE_CLIENT);
  EXPECT_EQ(QStringLiteral("%1.%2.%3.%4").arg(data.Ip[0]).arg(data.Ip[1]).arg(data.Ip[2]).arg(data.Ip[3]),
            carolAddress);
  EXPECT_EQ(data.Port, 4242);
  EXPECT_EQ(data.AnnouncedKey, "3F2A9C0177B4E0D2") << "the chosen chat must present the key it announced";
}

TEST(OnTheDiscoveryNetwork, NamesThatWouldLieShowAsWhatTheyAre) {
  const QString rtl = QString::fromUtf8("evil\u202E gnp.exe on x"), zw = QString::fromUtf8("erin on elsewhere\u200B");
  std::vector<std::unique_ptr<QProcess>> publishers;
  for (const auto& [name, port, txt] : {std::tuple{rtl, "4401", "nick=a\u2066b\u2028c"},
                                        {QString("room 10"), "4410", "tls=1"},
                                        {QString("room 2"), "4402", "key=3f2a9c0177b4e0d2"},
                                        {QString("erin on elsewhere"), "4403", "tls=1"},
                                        {zw, "4404", "tls=1"}}) {
    publishers.push_back(std::make_unique<QProcess>());
    publishers.back()->start("avahi-publish", {"-s", name, "_jaselo._tcp", port, "txtvers=1", txt});
  }
  InitData data = Defaults();
  CJaseloDlgInit dlg(nullptr, &data);
  RunDialog(dlg, [&](CJaseloDlgInit& d) {
    QListWidget* list = d.Item<QListWidget>(IDC_FOUND_CHATS);
    QStringList rows;
    EXPECT_TRUE(PumpUntil(
        [&] {
          rows.clear();
          for (int i = 0; i < list->count(); ++i) rows << list->item(i)->text();
          return rows.size() == 5 && rows.filter(QRegularExpression(":44(0[1-4]|10) ")).size() == 5;
        },
        std::chrono::seconds(15)))
        << rows.join('|').toStdString();
    // Nothing turned around: the name's control shows as itself, and its
    // address and port stand after it, in order.
    const QString x(QChar(0xFFFD));
    ASSERT_EQ(rows.size(), 5);
    EXPECT_TRUE(rows[2].startsWith("evil" + x + " gnp.exe on x \u2014 ")) << rows[2].toStdString();
    // The same name twice, told apart by port (and key, where there is one).
    EXPECT_TRUE(rows[0].startsWith("erin on elsewhere \u2014 ") && rows[0].contains(":4403 \u2014 encrypted"));
    EXPECT_TRUE(rows[1].startsWith(zw + " \u2014 ") && rows[1].contains(":4404"));
    EXPECT_TRUE(rows[3].startsWith("room 2 \u2014 ") && rows[3].endsWith("not encrypted")) << "a key without tls=1";
    EXPECT_TRUE(rows[4].startsWith("room 10 \u2014 "));
    const QString shot = qEnvironmentVariable("JASELO_TEST_OUTPUT");
    if (!shot.isEmpty()) {
      EXPECT_TRUE(d.grab().save(shot + "/names-that-would-lie.png"));
      std::printf("screenshot: %s/names-that-would-lie.png\n", qPrintable(shot));
    }
    d.OnCancel();
  });
}
