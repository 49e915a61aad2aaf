// How the window meets the desktop: a request for attention when something
// arrives in the background, keys typed in the transcript reaching the input
// box, and Tab reaching every control.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

#include "protocol/headers.h"
#include "ui/backgroundalert.h"
#include "ui/findbar.h"
#include "ui/jaselodlg.h"
#include "ui/peoplepane.h"
#include "ui/resource.h"
#include "ui/toolkit/richedit.h"
#include "ui_test_support.h"

TEST(BackgroundAlert, AsksOncePerSpellInTheBackgroundForLinesAndArrivals) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "alice");
  std::vector<QWidget*> requests;
  auto* alert = dlg.findChild<CBackgroundAlert*>();
  ASSERT_NE(alert, nullptr);
  alert->SetAlertCall([&](QWidget* w) { requests.push_back(w); });
  QWidget elsewhere;
  elsewhere.show();
  ASSERT_TRUE(Activate(dlg));

  const uint16_t port = StartAsServer(dlg);
  Peer peer("peer");
  ASSERT_TRUE(peer.Join(dlg, port));
  const auto shown = [&](const char* text) {
    return PumpUntil([&] { return PlainText(CJaseloDlgProbe(dlg).Transcript()->document()).contains(text); });
  };
  ASSERT_TRUE(peer.Say("while active"));
  ASSERT_TRUE(shown("while active"));
  QCoreApplication::processEvents();
  EXPECT_TRUE(requests.empty()) << "the user is looking at the window";

  ASSERT_TRUE(Activate(elsewhere));
  ASSERT_TRUE(peer.Say("one"));
  ASSERT_TRUE(peer.SayPrivately("two", "alice"));
  ASSERT_TRUE(shown("two"));
  QCoreApplication::processEvents();
  ASSERT_EQ(requests.size(), 1u) << "one request for the whole spell";
  EXPECT_EQ(requests[0], &dlg);

  // Back and away again: a new spell; a departure alone does not ask.
  ASSERT_TRUE(Activate(dlg));
  ASSERT_TRUE(Activate(elsewhere));
  alert->OnChatEvent(CHAT_DISCONNECTED);
  QCoreApplication::processEvents();
  EXPECT_EQ(requests.size(), 1u);
  Peer late("late");
  ASSERT_TRUE(late.Join(dlg, port));
  QCoreApplication::processEvents();
  EXPECT_EQ(requests.size(), 2u) << "an arrival asks";
}

TEST(TranscriptKeys, TypingGoesToTheInputBoxAndShortcutsStay) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "alice");
  const CJaseloDlgProbe probe(dlg);
  StartAsServer(dlg);  // connected, so that Enter's line leaves the box
  ASSERT_TRUE(Activate(dlg));
  CRichEdit* transcript = probe.Transcript();
  CRichEdit* box = probe.InputBox();
  probe.AppendText("something to copy\r\n");

  transcript->setFocus();
  TypeIntoFocus(QString::fromUtf8("h\xC3\xA9 there"));
  EXPECT_EQ(box->toPlainText(), QString::fromUtf8("h\xC3\xA9 there"));
  EXPECT_EQ(QApplication::focusWidget(), box);

  transcript->setFocus();
  QTest::keyClick(transcript, Qt::Key_Backspace);
  EXPECT_EQ(box->toPlainText(), QString::fromUtf8("h\xC3\xA9 ther"));
  EXPECT_EQ(QApplication::focusWidget(), box);

  // Selecting and moving belong to the transcript; nothing reaches the box.
  transcript->setFocus();
  QTest::keyClick(transcript, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(transcript, Qt::Key_Right, Qt::ShiftModifier);
  QTest::keyClick(transcript, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::focusWidget(), transcript);
  EXPECT_EQ(box->toPlainText(), QString::fromUtf8("h\xC3\xA9 ther"));

  // Enter sends what the box holds, as it does when typed there.
  QTest::keyClick(transcript, Qt::Key_Return);
  EXPECT_EQ(box->toPlainText(), QString());
  EXPECT_EQ(QApplication::focusWidget(), box);
}

TEST(TabOrder, ReachesEveryControlOfTheWindowInReadingOrderAndShowsTheFocus) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "alice");
  const CJaseloDlgProbe probe(dlg);
  ASSERT_TRUE(Activate(dlg));
  // The find bar, when open, stands under the transcript.
  QTest::keyClick(probe.InputBox(), Qt::Key_F, Qt::ControlModifier);
  auto* bar = dlg.findChild<CFindBar*>();
  ASSERT_TRUE(bar->IsOpen());
  const auto barButtons = bar->findChildren<QToolButton*>();
  ASSERT_EQ(barButtons.size(), 3);
  // The people list, shown, stands right of the transcript, above the bar.
  QTest::keyClick(probe.InputBox(), Qt::Key_F9);
  auto* pane = dlg.findChild<CPeoplePane*>();
  ASSERT_TRUE(pane->isVisible());
  std::vector<QWidget*> reading{probe.Transcript(), pane->List(), bar->Field()};
  reading.insert(reading.end(), barButtons.begin(), barButtons.end());
  for (int id : {IDC_FONT, IDC_COLOR, IDC_BOLD, IDC_ITALIC, IDC_UNDERLINE}) reading.push_back(probe.Button(id));
  reading.push_back(probe.InputBox());
  reading.push_back(probe.Button(IDC_SEND));
  EXPECT_EQ(TabRound(probe.Transcript()), reading);

  // A click on a style button leaves the keyboard in the input box.
  probe.InputBox()->setFocus();
  QTest::mouseClick(probe.Button(IDC_BOLD), Qt::LeftButton);
  EXPECT_TRUE(probe.Settings().Bold);
  EXPECT_EQ(QApplication::focusWidget(), probe.InputBox());
}
