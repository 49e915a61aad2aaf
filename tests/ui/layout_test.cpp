// The chat window's geometry: at its opening size control for control as the
// fixed-size window was, and made larger, the transcript and the input box
// take the room while the buttons keep to their corners. The suite also runs
// at twice the scale (QT_SCALE_FACTOR=2, see CMakeLists.txt).

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <ostream>

#include "ui/findbar.h"
#include "ui/jaselodlg.h"
#include "ui/peoplepane.h"
#include "ui/resource.h"
#include "ui/transcriptactions.h"
#include "ui_test_support.h"

// Rectangles in failure messages.
void PrintTo(const QRect& r, std::ostream* out) {
  *out << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
}

namespace {

struct Place {
  int id;
  QRect rect;
};

// Recorded from the window while it was fixed at 360 x 374: 8-point Liberation
// Sans, dialog base units 6 x 12, the same in device-independent pixels at 1x and 2x.
const Place kLaidOut[] = {
    {IDC_SEND, QRect(291, 312, 59, 51)},      {IDC_INPUTBOX, QRect(11, 311, 278, 53)},
    {IDC_FONT, QRect(11, 281, 30, 27)},       {IDC_COLOR, QRect(45, 281, 30, 27)},
    {IDC_BOLD, QRect(80, 281, 30, 27)},       {IDC_ITALIC, QRect(114, 281, 30, 27)},
    {IDC_UNDERLINE, QRect(149, 281, 30, 27)}, {IDC_TRANSCRIPT, QRect(11, 11, 339, 267)},
};
const QSize kOpeningSize(360, 374);

// Where a laid-out control stands in a window `dx` wider and `dy` taller.
QRect Grown(int id, const QRect& r, int dx, int dy) {
  switch (id) {
    case IDC_TRANSCRIPT: return r.adjusted(0, 0, dx, dy);
    case IDC_INPUTBOX: return QRect(r.x(), r.y() + dy, r.width() + dx, r.height());
    case IDC_SEND: return r.translated(dx, dy);
    default: return r.translated(0, dy);  // the style buttons
  }
}

// A people list that shows takes the right of the transcript's room, its
// whole height, and leaves the transcript the rest.
void ExpectPlaces(const CJaseloDlg& dlg, int dx, int dy) {
  const auto* pane = dlg.findChild<CPeoplePane*>();
  for (const Place& p : kLaidOut) {
    QRect place = dlg.GetDlgItem(p.id)->geometry();
    if (p.id == IDC_TRANSCRIPT && pane->isVisible()) {
      EXPECT_EQ(place.top(), pane->geometry().top());
      EXPECT_EQ(place.bottom(), pane->geometry().bottom());
      EXPECT_LT(place.right(), pane->geometry().left());
      place = place.united(pane->geometry());
    }
    EXPECT_EQ(place, Grown(p.id, p.rect, dx, dy)) << "control " << p.id << " +" << dx << " +" << dy;
  }
}

}  // namespace

TEST(WindowLayout, OpensAsLaidOutAndGrowsIntoTheTranscriptAndTheInputBox) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  ASSERT_EQ(dlg.Units().baseX, 6) << "the recorded geometry assumes the test fonts of scripts/deps.sh";
  ASSERT_EQ(dlg.Units().baseY, 12);
  if (qEnvironmentVariable("QT_SCALE_FACTOR") == "2") {
    EXPECT_EQ(dlg.devicePixelRatioF(), 2.0);
    // The buttons draw their images from the pictures made for twice the size.
    const QIcon bold = CJaseloDlgProbe(dlg).Button(IDC_BOLD)->icon();
    EXPECT_EQ(bold.pixmap(QSize(32, 32), 2.0).size(), QSize(64, 64));
  }
  EXPECT_EQ(dlg.size(), kOpeningSize);
  EXPECT_EQ(dlg.minimumSize(), kOpeningSize);
  EXPECT_TRUE(dlg.windowFlags() & Qt::WindowMaximizeButtonHint);
  auto* pane = dlg.findChild<CPeoplePane*>();
  EXPECT_FALSE(pane->isVisible()) << "at the opening size the window looks as it always did";
  ExpectPlaces(dlg, 0, 0);

  // Wide enough for both, the people list shows by itself; F9 hides it, and
  // then it stays hidden whatever the width, until F9 again.
  dlg.resize(1000, 700);
  EXPECT_TRUE(pane->isVisible());
  ExpectPlaces(dlg, 640, 326);
  QTest::keyClick(&dlg, Qt::Key_F9);
  EXPECT_FALSE(pane->isVisible());
  ExpectPlaces(dlg, 640, 326);
  dlg.resize(kOpeningSize);
  QTest::keyClick(&dlg, Qt::Key_F9);
  EXPECT_TRUE(pane->isVisible());
  ExpectPlaces(dlg, 0, 0);

  // The find bar keeps its share of the transcript's room as the window grows
  // and gives the whole of it back when it closes.
  dlg.resize(kOpeningSize);
  auto* actions = dlg.findChild<CTranscriptActions*>();
  ASSERT_NE(actions, nullptr);
  CFindBar* bar = actions->FindBar();
  bar->Open();
  dlg.resize(800, 600);
  const QRect whole = Grown(IDC_TRANSCRIPT, kLaidOut[7].rect, 440, 226);
  const QRect transcript = dlg.GetDlgItem(IDC_TRANSCRIPT)->geometry();
  EXPECT_EQ(transcript.united(bar->geometry()).united(pane->geometry()), whole);
  EXPECT_EQ(transcript.bottom() + 1, bar->geometry().top());
  EXPECT_EQ(bar->geometry().right(), transcript.right()) << "the bar stays under the transcript";
  bar->Close();
  EXPECT_EQ(dlg.GetDlgItem(IDC_TRANSCRIPT)->geometry().united(pane->geometry()), whole);
}
