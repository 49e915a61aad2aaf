// Text limits in bytes, line breaks, and character formats of the rich-text box.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>

#include "protocol/headers.h"
#include "ui/jaselodlg.h"
#include "ui/nicknamecompleter.h"
#include "ui/toolkit/richedit.h"
#include "ui/toolkit/textlimit.h"
#include "ui/typedline.h"
#include "ui_test_support.h"

TEST(TextLimit, LineBreaksTravelAsCrLfAndComeBackAsOneBreakEach) {
  EXPECT_EQ(ToWireText(QString("a\nb") + QChar::ParagraphSeparator + "c\r\nd\re"), "a\r\nb\r\nc\r\nd\r\ne");
  EXPECT_EQ(FromWireText("a\r\nb\rc\nd\r\n\r\n"), QString("a\nb\nc\nd\n\n"));
  EXPECT_EQ(WireLength(QString::fromUtf8("\xC3\xA9\n")), 4u);
}

TEST(InputBox, AcceptsAtMost900BytesOfTypedOrPastedText) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  CRichEdit* box = CJaseloDlgProbe(dlg).InputBox();
  ASSERT_EQ(box->GetLimitText(), MAX_INPUT_BYTES) << "the limit holds from the start";

  // 2-byte letters: 450 of them fill the box; the next one is refused whole.
  TypeText(box, QString(460, QChar(0xE9)));
  EXPECT_EQ(box->toPlainText().size(), 450);
  EXPECT_EQ(WireLength(box->toPlainText()), 900u);

  // A paste into a nearly full box keeps only what fits, never half a character.
  box->clear();
  QTest::keyClicks(box, QString(897, 'x'));
  QApplication::clipboard()->setText(QString::fromUtf8("\xE2\x82\xAC\xE2\x82\xAC"));  // two euro signs
  box->paste();
  EXPECT_EQ(box->toPlainText(), QString(897, 'x') + QString::fromUtf8("\xE2\x82\xAC"));

  // A line break counts as the two bytes it is sent as.
  box->clear();
  QTest::keyClicks(box, QString(899, 'x'));
  QApplication::clipboard()->setText("\ny");
  box->paste();
  EXPECT_EQ(box->toPlainText(), QString(899, 'x'));

  // Every character counts the bytes Send takes from the box: a no-break space,
  // line and paragraph separators, an object mark, a tab, a character outside
  // the basic plane, CR LF.
  auto sentBytes = [box] {
    box->SetSel(0, -1);
    const size_t n = box->GetSelText().size();
    box->SetSel(-1, -1);
    return n;
  };
  for (const QString& c : {QString(QChar(0xA0)), QString(QChar(0x2028)), QString(QChar(0x2029)), QString(QChar(0xFFFC)),
                           QString("\t"), QString::fromUcs4(U"\U0001F600"), QString("\r\n")}) {
    box->clear();
    QApplication::clipboard()->setText(c.repeated(1000));
    box->paste();
    EXPECT_LE(sentBytes(), MAX_INPUT_BYTES) << c.toStdString();
    EXPECT_GT(sentBytes() + WireLength(c), MAX_INPUT_BYTES) << c.toStdString();
  }
  // Typed: the no-break space takes the last two bytes; typing over it is allowed.
  box->clear();
  TypeText(box, QString(898, 'x') + QChar(0xA0) + "y");
  EXPECT_EQ(box->toPlainText().size(), 899);
  EXPECT_EQ(sentBytes(), MAX_INPUT_BYTES);
  box->SetSel(898, 899);
  TypeText(box, "z");
  EXPECT_EQ(box->toPlainText(), QString(898, 'x') + "z");
}

TEST(InputBox, EveryLineTheBoxAllowsFitsOneMessage) {
  CJaseloDlg dlg;
  PrepareWindow(dlg,
                "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
                "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9x");  // 31 bytes
  const CJaseloDlgProbe probe(dlg);
  std::snprintf(probe.Settings().Police, sizeof probe.Settings().Police, "%s",
                "Liberation Sans Narrow Bold Ita");  // 31 bytes
  const uint16_t port = StartAsServer(dlg);
  Peer peer("peer");
  ASSERT_TRUE(peer.Join(dlg, port));
  TypeText(probe.InputBox(), QString(1000, QChar(0x20AC)));  // 3-byte letters
  QTest::keyClick(probe.InputBox(), Qt::Key_Return);
  ASSERT_TRUE(peer.WaitForEvents(1));
  EXPECT_EQ(peer.events[0].text.size(), 900u);
  EXPECT_EQ(QString::fromStdString(peer.events[0].text), QString(300, QChar(0x20AC)));
}

TEST(InputBox, EnterSendsAndPastedLineBreaksSurviveTheRoundTrip) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "alice");
  const CJaseloDlgProbe probe(dlg);
  const uint16_t port = StartAsServer(dlg);
  Peer peer("peer");
  ASSERT_TRUE(peer.Join(dlg, port));

  QApplication::clipboard()->setText("first\nsecond");
  probe.InputBox()->paste();
  EXPECT_EQ(probe.InputBox()->toPlainText(), QString("first\nsecond"));
  QTest::keyClick(probe.InputBox(), Qt::Key_Return);  // sends, never a line break
  ASSERT_TRUE(peer.WaitForEvents(1));
  EXPECT_EQ(peer.events[0].text, "first\r\nsecond");
  ASSERT_TRUE(PumpUntil([&] { return PlainText(probe.Transcript()->document()).contains("second"); }));
  EXPECT_TRUE(PlainText(probe.Transcript()->document()).endsWith("alice says :\nfirst\nsecond\n\n"));
}

TEST(TypedLine, PrivateLinesSlashesAndWhatTheLimitCounts) {
  using Kind = TypedLine::Kind;
  struct Case {
    const char* typed;
    Kind kind;
    const char* addressee;
    const char* text;
  };
  const std::vector<std::string> known = {"bob smith", "Bob"};
  for (const Case& c : std::vector<Case>{
           {"/msg bob hi there", Kind::Private, "bob", "hi there"},
           {"/M  carol  two blanks", Kind::Private, "carol", " two blanks"},
           {"/msg BOB SMITH hi", Kind::Private, "BOB SMITH", "hi"},  // a known name with a blank
           {"/msg bob", Kind::Incomplete, "", ""},
           {"//msg bob hi", Kind::Public, "", "/msg bob hi"},
           {"/msgbob hi", Kind::Public, "", "/msgbob hi"},
       }) {
    const TypedLine line = ParseTypedLine(c.typed, known);
    EXPECT_EQ(line.kind, c.kind) << c.typed;
    EXPECT_EQ(line.addressee, c.addressee) << c.typed;
    EXPECT_EQ(line.text, c.kind == Kind::Incomplete ? "" : c.text) << c.typed;
  }
  // A private line counts its text and its addressee field (count, name, NUL).
  EXPECT_EQ(LimitBytes("/msg bob hi"), 2u + 2 + 3 + 1);
  EXPECT_EQ(LimitBytes("//x"), 2u);
  EXPECT_EQ(LimitBytes("/msg bob"), 8u);
}

TEST(InputBox, TabCompletesSeenNicknamesAndTheLimitCountsThePrivateMessage) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "alice");
  const CJaseloDlgProbe probe(dlg);
  CRichEdit* box = probe.InputBox();
  auto* completer = dlg.findChild<CNicknameCompleter*>();
  ASSERT_NE(completer, nullptr);
  for (const auto& [type, name] : std::vector<std::pair<uint16_t, const char*>>{{CHAT_JOINED, "bob"},
                                                                                {CHAT_SAYS, "Bobby"},
                                                                                {CHAT_SAYS, "alice"},
                                                                                {CHAT_JOINED, "carol"},
                                                                                {CHAT_DISCONNECTED, "carol"}}) {
    ChatEvent e;
    FillEvent(e, type, name, type == CHAT_SAYS ? "t" : nullptr);
    probe.DispatchEvent(e);
  }
  ASSERT_TRUE(PumpUntil([&] { return completer->Names().size() == 2; }));  // not the own name, not carol
  box->setFocus();

  // At the start of the line with "/msg " in front, the most recent first;
  // Tab again gives the next; later in the line the name alone.
  QTest::keyClicks(box, "B");
  QTest::keyClick(box, Qt::Key_Tab);
  EXPECT_EQ(box->toPlainText(), "/msg Bobby ");
  QTest::keyClick(box, Qt::Key_Tab);
  EXPECT_EQ(box->toPlainText(), "/msg bob ");
  QTest::keyClicks(box, "hi bo");
  QTest::keyClick(box, Qt::Key_Tab);
  EXPECT_EQ(box->toPlainText(), "/msg bob hi Bobby ");
  QTest::keyClicks(box, "ca");
  QTest::keyClick(box, Qt::Key_Tab);
  EXPECT_EQ(box->toPlainText(), "/msg bob hi Bobby ca") << "a name gone is not offered";
  EXPECT_EQ(QApplication::focusWidget(), box);

  // The box takes as much of a private line as makes a message no longer than
  // a full public one: 900 bytes of text, less the addressee field.
  box->clear();
  QTest::keyClicks(box, "/msg bob " + QString(894, 'x'));
  TypeText(box, "yy");
  EXPECT_EQ(box->toPlainText(), "/msg bob " + QString(894, 'x'));
}
