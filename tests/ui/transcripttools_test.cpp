// What a reader can do with the transcript: save it, find in it, open its
// links, see when a line came. Real widgets, real files, the real file chooser.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

#include "protocol/headers.h"
#include "ui/findbar.h"
#include "ui/jaselodlg.h"
#include "ui/richedit.h"
#include "ui/transcriptactions.h"
#include "ui/transcriptmarks.h"
#include "ui_test_support.h"

namespace {
void Say(CJaseloDlg& dlg, uint16_t type, const char* name, const char* text, const char* face = "Arial",
         uint16_t red = 0, uint16_t bold = 0, uint16_t italic = 0, uint16_t underline = 0) {
  ChatEvent e;
  FillEvent(e, type, name, text, face, red, 0, 0, bold, italic, underline);
  dlg.DispatchEvent(e);
}
CTranscriptActions* Actions(CJaseloDlg& dlg) { return dlg.findChild<CTranscriptActions*>(); }
bool Activate(QWidget& w) {
  w.activateWindow();
  QApplication::setActiveWindow(&w);
  return QTest::qWaitForWindowActive(&w);
}
// Offers each modal window that comes up to `then` until it takes one.
void OnceModal(QObject* owner, const std::function<bool(QWidget*)>& then) {
  auto* timer = new QTimer(owner);
  QObject::connect(timer, &QTimer::timeout, [timer, then] {
    if (QWidget* w = QApplication::activeModalWidget(); w && then(w)) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(20);
}
QString Text(const QTextDocument* d) { return PlainText(d); }
}  // namespace

TEST(TranscriptSave, HtmlAndTextHoldEveryLineWithItsStyleAndAFailureLosesNothing) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  ASSERT_TRUE(Activate(dlg));
  Say(dlg, CHAT_SAYS, "bob", "bold <b>x</b> & https://example.org", "Liberation Serif", 200, 1, 0, 1);
  Say(dlg, CHAT_PRIVATE, "eve", "two\r\nlines", "Liberation Mono", 0, 0, 1, 0);
  Say(dlg, CHAT_JOINED, "carol", nullptr);
  const QTextDocument* shown = dlg.Transcript()->document();
  QTemporaryDir dir;
  const QString html = dir.filePath("t.html"), text = dir.filePath("t.TXT");

  // Through Ctrl+S and the chooser, which proposes a dated name.
  QString proposed;
  for (const QString& path : {html, text}) {
    OnceModal(&dlg, [&](QWidget* w) {
      auto* chooser = qobject_cast<QFileDialog*>(w);
      if (!chooser) return false;
      proposed = chooser->selectedFiles().value(0);
      chooser->findChild<QLineEdit*>("fileNameEdit")->setText(path);
      static_cast<QDialog*>(chooser)->accept();
      return true;
    });
    ASSERT_TRUE(Activate(dlg));
    QTest::keyClick(dlg.InputBox(), Qt::Key_S, Qt::ControlModifier);
  }
  EXPECT_TRUE(proposed.endsWith(QDate::currentDate().toString(Qt::ISODate) + ".html"))
      << proposed.toStdString();

  QFile textFile(text);
  ASSERT_TRUE(textFile.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(textFile.readAll()), Text(shown));
  QFile htmlFile(html);
  ASSERT_TRUE(htmlFile.open(QIODevice::ReadOnly));
  QTextDocument reread;
  reread.setHtml(QString::fromUtf8(htmlFile.readAll()));
  EXPECT_EQ(Text(&reread), Text(shown));
  const auto want = Runs(shown), got = Runs(&reread);
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].text, want[i].text);
    EXPECT_EQ(got[i].face, want[i].face) << i;
    EXPECT_EQ(got[i].color, want[i].color) << i;
    EXPECT_EQ(got[i].bold, want[i].bold) << i;
    EXPECT_EQ(got[i].italic, want[i].italic) << i;
    EXPECT_EQ(got[i].underline, want[i].underline) << i;
  }

  // A file that cannot be written: an error box, and the transcript as it was.
  const QString before = dlg.Transcript()->toHtml();
  QString error;
  OnceModal(&dlg, [&](QWidget* w) {
    if (auto* chooser = qobject_cast<QFileDialog*>(w)) {
      chooser->findChild<QLineEdit*>("fileNameEdit")->setText("/proc/no-such-transcript.html");
      static_cast<QDialog*>(chooser)->accept();
      return false;
    }
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return false;
    error = box->windowTitle() + ": " + box->text();
    box->accept();
    return true;
  });
  ASSERT_TRUE(Activate(dlg));
  QTest::keyClick(dlg.InputBox(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_TRUE(error.startsWith("Error: The transcript could not be saved")) << error.toStdString();
  EXPECT_EQ(dlg.Transcript()->toHtml(), before);

  // The context menu keeps Copy and Select All beside the new commands.
  std::unique_ptr<QMenu> menu(Actions(dlg)->CreateMenu(QPoint(5, 5)));
  QStringList items;
  for (QAction* a : menu->actions()) items << a->text().remove('&').section('\t', 0, 0);
  for (const char* item : {"Copy", "Select All", "Find\u2026", "Save transcript\u2026"})
    EXPECT_TRUE(items.contains(QString::fromUtf8(item))) << items.join('|').toStdString();
}

TEST(FindBar, MovesThroughMatchesBothWaysWrapsAndEscapeClosesItBeforeLeaving) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  ASSERT_TRUE(Activate(dlg));
  for (const char* line : {"Apple", "a pineapple", "no", "APPLE pie"}) Say(dlg, CHAT_SAYS, "bob", line);
  CRichEdit* transcript = dlg.Transcript();
  const QRect full = transcript->geometry();
  CFindBar* bar = Actions(dlg)->FindBar();

  QTest::keyClick(dlg.InputBox(), Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(bar->IsOpen());
  EXPECT_EQ(QApplication::focusWidget(), bar->Field());
  EXPECT_LT(transcript->geometry().height(), full.height()) << "the bar takes room under the transcript";
  QTest::keyClicks(bar->Field(), "aPPle");
  const QString text = Text(transcript->document());
  const auto at = [&] { return transcript->textCursor().selectionStart(); };
  const int first = static_cast<int>(text.indexOf("Apple")), second = static_cast<int>(text.indexOf("apple")),
            third = static_cast<int>(text.indexOf("APPLE"));
  EXPECT_EQ(at(), first);
  EXPECT_EQ(bar->Status(), "1 of 3");
  EXPECT_EQ(transcript->extraSelections().size(), 3) << "every match highlighted";
  QTest::keyClick(bar->Field(), Qt::Key_Return);
  EXPECT_EQ(at(), second);
  QTest::keyClick(bar->Field(), Qt::Key_Return);
  EXPECT_EQ(at(), third);
  QTest::keyClick(bar->Field(), Qt::Key_Return);
  EXPECT_EQ(at(), first) << "wraps at the end";
  QTest::keyClick(bar->Field(), Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(at(), third) << "wraps at the start";
  QTest::keyClick(bar->Field(), Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(at(), second);
  EXPECT_EQ(dlg.InputBox()->toPlainText(), QString()) << "Enter in the bar never reaches Send";

  // Escape with the bar open closes it and keeps the chat, from the transcript too.
  transcript->setFocus();
  QTest::keyClick(transcript, Qt::Key_Escape);
  EXPECT_FALSE(bar->IsOpen());
  EXPECT_FALSE(dlg.Ended());
  EXPECT_EQ(transcript->geometry(), full);
  EXPECT_TRUE(transcript->extraSelections().isEmpty());
  EXPECT_EQ(QApplication::focusWidget(), dlg.InputBox());
  QTest::keyClick(dlg.InputBox(), Qt::Key_Escape);
  EXPECT_TRUE(dlg.Ended()) << "without the bar Escape leaves";
}

TEST(TranscriptMarks, CtrlClickOpensExactlyTheAddressAndHeadersTellTheirTime) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  std::vector<std::string> opened;
  Actions(dlg)->Marks()->SetOpenCall(
      [&](const QUrl& url) { opened.push_back(url.toString().toStdString()); });
  const QString before = QTime::currentTime().toString("HH:mm:ss");
  Say(dlg, CHAT_SAYS, "http://name.example",
      "see (https://example.org/a?b=1&c=2#x), mailto:bob@example.org. "
      "javascript:alert(1) http:// file:///etc",
      "Liberation Serif", 200, 1);
  const QString after = QTime::currentTime().toString("HH:mm:ss");
  CRichEdit* transcript = dlg.Transcript();
  QWidget* viewport = transcript->viewport();
  const QString text = Text(transcript->document());
  const auto point = [&](const char* word) {
    QTextCursor c(transcript->document());
    c.setPosition(static_cast<int>(text.indexOf(word)) + 2);
    return transcript->cursorRect(c).center();
  };
  const auto body = Runs(transcript->document()).back();
  EXPECT_EQ(body.color, QColor(200, 0, 0)) << "the links keep the sender's style";
  EXPECT_TRUE(body.bold);

  QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, point("https"));
  EXPECT_TRUE(opened.empty()) << "a plain click selects";
  QTest::mouseMove(viewport, point("https"));
  EXPECT_EQ(viewport->cursor().shape(), Qt::PointingHandCursor);
  for (const char* word : {"https", "mailto", "javascript", "http:// ", "file", "name.example"})
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ControlModifier, point(word));
  EXPECT_EQ(opened, (std::vector<std::string>{"https://example.org/a?b=1&c=2#x", "mailto:bob@example.org"}));
  QTest::mouseMove(viewport, point("javascript"));
  EXPECT_EQ(viewport->cursor().shape(), Qt::IBeamCursor);

  // The header, and only the header, tells the time of the append.
  const QString time = Actions(dlg)->Marks()->TimeAt(point("says"));
  EXPECT_TRUE(time == before || time == after) << time.toStdString();
  EXPECT_EQ(Actions(dlg)->Marks()->TimeAt(point("see")), QString());
  EXPECT_TRUE(text.startsWith("http://name.example says :\n"));
  QHelpEvent hover(QEvent::ToolTip, point("says"), viewport->mapToGlobal(point("says")));
  QApplication::sendEvent(viewport, &hover);
  EXPECT_EQ(QToolTip::text(), time);
}
