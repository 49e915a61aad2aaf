// The people in the chat beside the transcript, and the lines said before the
// user came, in real windows joined by real endpoints.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <thread>

#include "common/raw_peer.h"
#include "common/test_support.h"
#include "common/wire.h"
#include "protocol/extension.h"
#include "protocol/headers.h"
#include "ui/jaselodlg.h"
#include "ui/peoplepane.h"
#include "ui/toolkit/richedit.h"
#include "ui_test_support.h"

namespace {
QStringList Rows(const QListWidget* list) {
  QStringList rows;
  for (int i = 0; i < list->count(); ++i) rows << list->item(i)->text();
  return rows;
}
}  // namespace

TEST(PeoplePane, TheHostsWindowListsEveryoneAndARowAddressesAPrivateLine) {
  CJaseloDlg host;
  PrepareWindow(host, "host");
  const CJaseloDlgProbe probe(host);
  const uint16_t port = StartAsServer(host);
  Peer bob("bob"), alice("Alice");
  ASSERT_TRUE(bob.Join(host, port));
  ASSERT_TRUE(alice.Join(host, port));
  auto* pane = host.findChild<CPeoplePane*>();
  QListWidget* list = pane->List();
  // Sorted without regard to letter case, the user and the host's user marked.
  ASSERT_TRUE(PumpUntil([&] {
    return Rows(list) == QStringList({"Alice", "bob", "host (you) (host)"});
  })) << Rows(list).join('|').toStdString();
  EXPECT_EQ(pane->Heading()->text(), "3 people");
  EXPECT_TRUE(list->item(0)->toolTip().startsWith("Here since ")) << list->item(0)->toolTip().toStdString();
  ASSERT_TRUE(bob.Network().SendDisconnectMessage("bob"));
  ASSERT_TRUE(PumpUntil([&] { return Rows(list) == QStringList({"Alice", "host (you) (host)"}); }));
  EXPECT_EQ(pane->Heading()->text(), "2 people");

  // Enter on a row puts the private command in front of what was typed.
  QTest::keyClick(&host, Qt::Key_F9);
  ASSERT_TRUE(pane->isVisible());
  QTest::keyClicks(probe.InputBox(), "hello");
  list->setFocus();
  list->setCurrentRow(0);
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_EQ(probe.InputBox()->toPlainText(), "/msg Alice hello");
  EXPECT_EQ(QApplication::focusWidget(), probe.InputBox());
  // A double click on another row takes the first one's place.
  const QRect second = list->visualItemRect(list->item(1));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second.center());
  EXPECT_EQ(probe.InputBox()->toPlainText(), "/msg host hello");

  // The row's menu shows Alice out until the host stops. She is told; a peer
  // of the plain protocol sees her leave as any connection that ended.
  RawPeer carol = RawPeer::Dial(port);
  ASSERT_TRUE(carol.Send(Welcome("carol")));
  ASSERT_TRUE(PumpUntil([&] { return list->count() == 3; }));
  QTimer::singleShot(0, [] {
    QTimer::singleShot(0, [] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      EXPECT_NE(dialog->findChild<QLabel*>()->text().indexOf("Remove Alice"), -1);
      dialog->findChild<QComboBox*>()->setCurrentIndex(2);
      for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
        if (b->text() == "Remove") b->click();
      }
    });
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    QStringList offered;
    for (QAction* action : menu->actions()) offered << action->text();
    EXPECT_EQ(offered, QStringList({"Send a file\u2026", "Remove from chat\u2026"}));
    menu->actions().last()->trigger();
    menu->close();
  });
  emit list->customContextMenuRequested(list->visualItemRect(list->item(0)).center());
  ASSERT_TRUE(PumpUntil([&] { return !alice.Network().IsActive(); }));
  EXPECT_EQ(alice.Network().Refusal(), REFUSED_REMOVED);
  EXPECT_EQ(alice.Network().KeptOutSeconds(), KEPT_OUT_UNTIL_STOP);
  EXPECT_EQ(carol.NextMessage(), Whole(Departure("Alice")));
  EXPECT_TRUE(PumpUntil([&] { return Rows(list) == QStringList({"carol", "host (you) (host)"}); }));
  probe.StopPollLoop();
}

TEST(PeoplePane, AHostThatDoesNotAnswerListsYouAndNewcomersWithAGreyNote) {
  RawListener designServer;
  CJaseloDlg carol;
  PrepareWindow(carol, "carol");
  RawPeer server;
  std::thread accept([&] { server = designServer.AcceptPlain(); });
  StartAsClient(carol, designServer.Port());
  accept.join();
  ASSERT_TRUE(server.Valid());
  auto* pane = carol.findChild<CPeoplePane*>();
  // The host stays silent: after a second the list is carol's own.
  ASSERT_TRUE(PumpUntil([&] { return pane->Note()->isVisibleTo(pane); }));
  EXPECT_EQ(Rows(pane->List()), QStringList({"carol (you)"}));
  ASSERT_TRUE(server.Send(Arrival("dave")));
  ASSERT_TRUE(PumpUntil([&] { return Rows(pane->List()) == QStringList({"carol (you)", "dave"}); }));
  EXPECT_EQ(pane->Heading()->text(), "2 people");
  // Out of the chat, nobody is listed.
  server.Close();
  ASSERT_TRUE(PumpUntil([&] { return pane->List()->count() == 0; }));
  EXPECT_EQ(pane->Heading()->text(), "Not in the chat");
  CJaseloDlgProbe(carol).StopPollLoop();
}
