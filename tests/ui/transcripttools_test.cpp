// What a reader can do with the transcript: save it, find in it, open its
// links, see when a line came. Real widgets, real files, the real file chooser.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>

#include "protocol/headers.h"
#include "ui/findbar.h"
#include "ui/jaselodlg.h"
#include "ui/joinfromphone.h"
#include "ui/qrcode.h"
#include "ui/toolkit/richedit.h"
#include "ui/transcriptactions.h"
#include "ui/transcriptmarks.h"
#include "ui_test_support.h"

namespace {
void Say(CJaseloDlg& dlg, uint16_t type, const char* name, const char* text, const char* face = "Arial",
         uint16_t red = 0, uint16_t bold = 0, uint16_t italic = 0, uint16_t underline = 0) {
  ChatEvent e;
  FillEvent(e, type, name, text, face, red, 0, 0, bold, italic, underline);
  CJaseloDlgProbe(dlg).DispatchEvent(e);
}
CTranscriptActions* Actions(CJaseloDlg& dlg) { return dlg.findChild<CTranscriptActions*>(); }
// Presses Ctrl+S and gives the chooser `path`; returns what an error box said.
std::string SaveWithCtrlS(CJaseloDlg& dlg, const QString& path, QString* proposed = nullptr) {
  std::string said;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    QWidget* w = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      said = (box->windowTitle() + ": " + box->text()).toStdString();
      box->accept();
    } else if (auto* chooser = qobject_cast<QFileDialog*>(w)) {
      if (proposed) *proposed = chooser->selectedFiles().value(0);
      chooser->findChild<QLineEdit*>("fileNameEdit")->setText(path);
      static_cast<QDialog*>(chooser)->accept();
    }
  });
  watch.start(20);
  if (!Activate(dlg)) return "the window is not active";
  QTest::keyClick(CJaseloDlgProbe(dlg).InputBox(), Qt::Key_S, Qt::ControlModifier);
  return said;
}
// What a reader sees of each run: its text, face, colour and effects.
std::vector<std::string> Seen(const QTextDocument* d) {
  std::vector<std::string> seen;
  for (const Run& r : Runs(d)) {
    const int effects = r.bold * 4 + r.italic * 2 + r.underline;
    seen.push_back(QString("%1|%2|%3|%4").arg(r.text, r.face, r.color.name()).arg(effects).toStdString());
  }
  return seen;
}
QString Read(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : "(unreadable)";
}
}  // namespace

TEST(TranscriptSave, HtmlAndTextHoldEveryLineWithItsStyleAndAFailureLosesNothing) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  const CJaseloDlgProbe probe(dlg);
  Say(dlg, CHAT_SAYS, "bob", "bold <b>x</b> & https://example.org", "Liberation Serif", 200, 1, 0, 1);
  Say(dlg, CHAT_PRIVATE, "eve", "two\r\nlines", "Liberation Mono", 0, 0, 1, 0);
  Say(dlg, CHAT_JOINED, "carol", nullptr);
  const QTextDocument* shown = probe.Transcript()->document();
  QTemporaryDir dir;
  const QString html = dir.filePath("t.html"), text = dir.filePath("t.TXT");

  // Through Ctrl+S and the chooser, which proposes a dated name.
  QString proposed;
  EXPECT_EQ(SaveWithCtrlS(dlg, html, &proposed), "");
  EXPECT_EQ(SaveWithCtrlS(dlg, text), "");
  EXPECT_TRUE(proposed.endsWith(QDate::currentDate().toString(Qt::ISODate) + ".html")) << proposed.toStdString();
  EXPECT_EQ(Read(text), PlainText(shown));
  QTextDocument reread;
  reread.setHtml(Read(html));
  EXPECT_EQ(PlainText(&reread), PlainText(shown));
  EXPECT_EQ(Seen(&reread), Seen(shown));

  // A file that cannot be written: an error box, and the transcript as it was.
  const QString before = probe.Transcript()->toHtml();
  const std::string said = SaveWithCtrlS(dlg, "/proc/no-such-transcript.html");
  EXPECT_EQ(said.rfind("Error: The transcript could not be saved", 0), 0u) << said;
  EXPECT_EQ(probe.Transcript()->toHtml(), before);

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
  const CJaseloDlgProbe probe(dlg);
  ASSERT_TRUE(Activate(dlg));
  for (const char* line : {"Apple", "a pineapple", "no", "APPLE pie"}) Say(dlg, CHAT_SAYS, "bob", line);
  CRichEdit* transcript = probe.Transcript();
  const QRect full = transcript->geometry();
  CFindBar* bar = Actions(dlg)->FindBar();

  QTest::keyClick(probe.InputBox(), Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(bar->IsOpen());
  EXPECT_EQ(QApplication::focusWidget(), bar->Field());
  EXPECT_LT(transcript->geometry().height(), full.height()) << "the bar takes room under the transcript";
  QTest::keyClicks(bar->Field(), "aPPle");
  const QString text = PlainText(transcript->document());
  const auto at = [&] { return transcript->textCursor().selectionStart(); };
  const int first = static_cast<int>(text.indexOf("Apple")), second = static_cast<int>(text.indexOf("apple")),
            third = static_cast<int>(text.indexOf("APPLE"));
  EXPECT_EQ(at(), first);
  EXPECT_EQ(bar->Status(), "1 of 3");
  EXPECT_EQ(transcript->extraSelections().size(), 3) << "every match highlighted";
  // Enter three times wraps at the end, then Shift+Enter twice at the start.
  int step = 0;
  for (const int want : {second, third, first, third, second}) {
    QTest::keyClick(bar->Field(), Qt::Key_Return, step++ < 3 ? Qt::NoModifier : Qt::ShiftModifier);
    EXPECT_EQ(at(), want) << step;
  }
  EXPECT_EQ(probe.InputBox()->toPlainText(), QString()) << "Enter in the bar never reaches Send";
  // Enter on a button of the bar presses it, as Space does.
  QToolButton* next = bar->findChildren<QToolButton*>().at(1);
  EXPECT_EQ(next->accessibleName(), "Next");
  next->setFocus();
  QTest::keyClick(next, Qt::Key_Return);
  EXPECT_EQ(at(), third);

  // Escape with the bar open closes it and keeps the chat, from the transcript too.
  transcript->setFocus();
  QTest::keyClick(transcript, Qt::Key_Escape);
  EXPECT_FALSE(bar->IsOpen());
  EXPECT_FALSE(dlg.Ended());
  EXPECT_EQ(transcript->geometry(), full);
  EXPECT_TRUE(transcript->extraSelections().isEmpty());
  EXPECT_EQ(QApplication::focusWidget(), probe.InputBox());
  QTest::keyClick(probe.InputBox(), Qt::Key_Escape);
  EXPECT_TRUE(PumpUntil([&] { return dlg.Ended(); })) << "without the bar Escape leaves";
}

TEST(TranscriptMarks, CtrlClickOpensExactlyTheAddressAndHeadersTellTheirTime) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  std::vector<std::string> opened;
  Actions(dlg)->Marks()->SetOpenCall([&](const QUrl& url) { opened.push_back(url.toString().toStdString()); });
  const QString before = QTime::currentTime().toString("HH:mm:ss");
  Say(dlg, CHAT_SAYS, "http://name.example",
      "see (https://example.org/a?b=1&c=2#x), mailto:bob@example.org. "
      "javascript:alert(1) http:// file:///etc https://end.example\r\nnext",
      "Liberation Serif", 200, 1);
  const QString after = QTime::currentTime().toString("HH:mm:ss");
  CRichEdit* transcript = CJaseloDlgProbe(dlg).Transcript();
  QWidget* viewport = transcript->viewport();
  const QString text = PlainText(transcript->document());
  const auto point = [&](const char* word) {
    QTextCursor c(transcript->document());
    c.setPosition(static_cast<int>(text.indexOf(word)) + 2);
    return transcript->cursorRect(c).center();
  };
  EXPECT_EQ(Runs(transcript->document()).back().color, QColor(200, 0, 0)) << "links keep the sender's style";
  // Underlined, and only the links; their tooltip says how to open them.
  for (const ::Run& r : Runs(transcript->document())) {
    EXPECT_EQ(r.underline, r.text.startsWith("https:") || r.text.startsWith("mailto:")) << r.text.toStdString();
  }
  EXPECT_EQ(Actions(dlg)->Marks()->TimeAt(point("mailto")), "Ctrl+click to open mailto:bob@example.org");

  QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, point("https"));
  EXPECT_TRUE(opened.empty()) << "a plain click selects";
  QTest::mouseMove(viewport, point("https"));
  EXPECT_EQ(viewport->cursor().shape(), Qt::PointingHandCursor);
  for (const char* word : {"https", "mailto", "javascript", "http:// ", "file", "name.example", "end.example"})
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ControlModifier, point(word));
  EXPECT_EQ(opened, (std::vector<std::string>{"https://example.org/a?b=1&c=2#x", "mailto:bob@example.org",
                                              "https://end.example"}));
  QTest::mouseMove(viewport, point("javascript"));
  EXPECT_EQ(viewport->cursor().shape(), Qt::IBeamCursor);

  // The header, and only the header, tells the time of the append.
  const QString time = Actions(dlg)->Marks()->TimeAt(point("says"));
  EXPECT_TRUE(time == before || time == after) << time.toStdString();
  EXPECT_EQ(Actions(dlg)->Marks()->TimeAt(point("see")), QString());
  QHelpEvent hover(QEvent::ToolTip, point("says"), viewport->mapToGlobal(point("says")));
  QApplication::sendEvent(viewport, &hover);
  EXPECT_EQ(QToolTip::text(), time);
}

TEST(TranscriptMarks, AHeaderOfALineThatNamesTheUserIsTinted) {
  EXPECT_TRUE(MentionsName("ask bob smith", "Bob Smith"));
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  Say(dlg, CHAT_SAYS, "bob", "ME? yes");
  Say(dlg, CHAT_PRIVATE, "eve", "for me");
  Say(dlg, CHAT_SAYS, "bob", "meme or me_2");
  Say(dlg, CHAT_SAYS, "Me", "my own line names me");
  QStringList tinted;
  const QTextDocument* document = CJaseloDlgProbe(dlg).Transcript()->document();
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    if (!block.begin().atEnd() && block.begin().fragment().charFormat().background() == QColor(MENTION_TINT_RGB))
      tinted.push_back(block.text());
  }
  EXPECT_EQ(tinted, (QStringList{"bob says :", "(*private*) eve says :"}));
}

// A host invites browsers: Ctrl+J shows the page's address for each of its
// addresses (https: the host has its key), and the QR code a phone reads says
// exactly that address.
TEST(JoinFromAPhone, AHostShowsItsPageAddressAsTextAndAsAReadableCode) {
  CJaseloDlg client;
  PrepareWindow(client, "guest");
  std::unique_ptr<QMenu> plain(Actions(client)->CreateMenu(QPoint(5, 5)));
  for (QAction* a : plain->actions()) EXPECT_FALSE(a->text().startsWith("Join from a phone"));

  CJaseloDlg host;
  PrepareWindow(host, "host");
  const uint16_t port = StartAsServer(host);
  ASSERT_NE(port, 0);
  ASSERT_NE(Actions(host)->InviteAction(), nullptr);
  std::unique_ptr<QMenu> menu(Actions(host)->CreateMenu(QPoint(5, 5)));
  EXPECT_TRUE(menu->actions().contains(Actions(host)->InviteAction()));
  QString shown;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (auto* dialog = qobject_cast<CJoinFromPhoneDialog*>(QApplication::activeModalWidget())) {
      shown = dialog->Shown();
      dialog->reject();
    }
  });
  watch.start(20);
  ASSERT_TRUE(Activate(host));
  QTest::keyClick(CJaseloDlgProbe(host).InputBox(), Qt::Key_J, Qt::ControlModifier);
  EXPECT_TRUE(QRegularExpression(QString("^https://[0-9.]+:%1/$").arg(port)).match(shown).hasMatch())
      << shown.toStdString();

  // Two addresses: the code follows the one chosen. The text says what the
  // phone will show and which key to compare, and offers the page without
  // encryption beside, never in the code.
  const QStringList pages = {"https://192.0.2.10:27015/", "https://198.51.100.7:27015/"};
  CJoinFromPhoneDialog dialog(
      {pages, "3F2A 9C01 77B4 E0D2", {"http://192.0.2.10:27015/", "http://198.51.100.7:27015/"}});
  auto* choice = dialog.findChild<QComboBox*>();
  ASSERT_NE(choice, nullptr);
  choice->setCurrentIndex(1);
  EXPECT_EQ(dialog.Shown(), pages[1]);
  for (const char* said : {"not private", "\"Advanced\"", "3F2A 9C01 77B4 E0D2", "not encrypted (anyone on the network",
                           "http://198.51.100.7:27015/"}) {
    EXPECT_TRUE(dialog.Said().contains(said)) << said << "\n" << dialog.Said().toStdString();
  }
  dialog.grab().save(QStringLiteral(JASELO_TEST_OUTPUT "/join-from-a-phone.png"));
  if (QStandardPaths::findExecutable("zbarimg").isEmpty()) GTEST_SKIP() << "zbarimg (zbar-tools) is missing";
  QTemporaryDir dir;
  const QString file = dir.filePath("code.png");
  ASSERT_TRUE(QrCodeImage(pages[1], 6).save(file));
  QProcess reader;
  reader.start("zbarimg", {"--raw", "-q", file});
  ASSERT_TRUE(reader.waitForFinished(10000));
  EXPECT_EQ(QString::fromUtf8(reader.readAllStandardOutput()).trimmed(), pages[1]);
}
