// The style buttons, the choosers and ApplySettings.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QColorDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <fstream>

#include "common/test_support.h"
#include "ui/jaselodlg.h"
#include "ui/resource.h"
#include "ui/toolkit/choosers.h"
#include "ui/toolkit/richedit.h"
#include "ui_test_support.h"

namespace {

// The colour of a pixel inside the border of the image a button shows.
QColor ImageBackground(QPushButton* button) {
  const QImage image = button->icon().pixmap(button->iconSize()).toImage();
  return QColor(image.pixel(1, 1));
}

// Runs `act` on the next modal dialog that opens.
void OnNextModal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    act(modal);
  });
  timer->start(5);
}

}  // namespace

// A field that takes every key for itself, as a line edit on X11 takes Ctrl+U.
struct GreedyField : QLineEdit {
  using QLineEdit::QLineEdit;
  bool event(QEvent* e) override {
    if (e->type() == QEvent::ShortcutOverride) e->accept();
    return QLineEdit::event(e);
  }
};

TEST(StyleControls, ClickingAnEffectOrPressingItsKeyTwiceReturnsFlagFormatAndImage) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  const CJaseloDlgProbe probe(dlg);
  ASSERT_TRUE(Activate(dlg));
  const char* tips[] = {"Font\u2026", "Colour\u2026", "Bold (Ctrl+B)", "Italic (Ctrl+I)", "Underline (Ctrl+U)"};
  for (int id = IDC_FONT; id <= IDC_UNDERLINE; ++id) EXPECT_EQ(probe.Button(id)->toolTip(), tips[id - IDC_FONT]);
  auto* field = new GreedyField(&dlg);
  field->show();
  struct Case {
    int button;
    Qt::Key key;
    bool ChatSettings::*flag;
    uint32_t effect;
    int off, on;
  } cases[] = {
      {IDC_BOLD, Qt::Key_B, &ChatSettings::Bold, CFE_BOLD, IDB_BOLD_OFF, IDB_BOLD_ON},
      {IDC_ITALIC, Qt::Key_I, &ChatSettings::Italic, CFE_ITALIC, IDB_ITALIC_OFF, IDB_ITALIC_ON},
      {IDC_UNDERLINE, Qt::Key_U, &ChatSettings::Underline, CFE_UNDERLINE, IDB_UNDERLINE_OFF, IDB_UNDERLINE_ON}};
  // A click; the key in the input box; the key in a field that wants it too.
  for (QWidget* focus :
       {static_cast<QWidget*>(nullptr), static_cast<QWidget*>(probe.InputBox()), static_cast<QWidget*>(field)}) {
    for (const Case& c : cases) {
      QPushButton* button = probe.Button(c.button);
      const auto press = [&] {
        if (!focus) return button->click();
        focus->setFocus();
        QTest::keyClick(focus, c.key, Qt::ControlModifier);
      };
      const CharFormat before = probe.InputBox()->GetDefaultCharFormat();
      EXPECT_EQ(probe.ShownImage(c.button), c.off);
      EXPECT_EQ(ImageBackground(button), QColor(192, 192, 192));

      press();
      EXPECT_TRUE(probe.Settings().*c.flag) << c.button;
      EXPECT_TRUE(button->isChecked());
      EXPECT_EQ(probe.ShownImage(c.button), c.on);
      EXPECT_EQ(ImageBackground(button), QColor(0, 0, 255));
      EXPECT_TRUE(probe.InputBox()->GetDefaultCharFormat().Effects & c.effect);

      press();
      EXPECT_FALSE(probe.Settings().*c.flag);
      EXPECT_FALSE(button->isChecked());
      EXPECT_EQ(probe.ShownImage(c.button), c.off);
      const CharFormat after = probe.InputBox()->GetDefaultCharFormat();
      EXPECT_EQ(after.Effects, before.Effects);
      EXPECT_STREQ(after.FaceName, before.FaceName);
      EXPECT_EQ(after.Height, before.Height);
    }
  }
}

TEST(StyleControls, ApplySettingsFromAFileWithBoldAndUnderlineOn) {
  TempDir dir;
  std::ofstream(dir.File("config.cfg"), std::ios::binary)
      << "#Pseudo\r\n4 bob\r\n#Client-Server\r\n1 0\r\n#IpAddress\r\n127.0.0.1\r\n#Port\r\n27015\r\n"
         "#Police\r\n17 Liberation Serif\r\n#Couleur\r\n255 128 0\r\n#Mode\r\n2 0 7\r\n";
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  const CJaseloDlgProbe probe(dlg);
  // Italic on before the read: the file's 0 must turn it off again.
  probe.Button(IDC_ITALIC)->click();
  probe.SetConfigPath(dir.File("config.cfg"));
  probe.ReadConfig();

  const ChatSettings& s = probe.Settings();
  EXPECT_TRUE(s.Bold);
  EXPECT_FALSE(s.Italic);
  EXPECT_TRUE(s.Underline);
  EXPECT_EQ(probe.ShownImage(IDC_BOLD), IDB_BOLD_ON);
  EXPECT_EQ(probe.ShownImage(IDC_ITALIC), IDB_ITALIC_OFF);
  EXPECT_EQ(probe.ShownImage(IDC_UNDERLINE), IDB_UNDERLINE_ON);
  EXPECT_EQ(probe.ShownImage(IDC_FONT), IDB_FONT);
  EXPECT_EQ(probe.ShownImage(IDC_COLOR), IDB_COLOR);

  const CharFormat input = probe.InputBox()->GetDefaultCharFormat();
  EXPECT_STREQ(input.FaceName, "Liberation Serif");
  EXPECT_EQ(input.Color, MakeColor(255, 128, 0));
  EXPECT_EQ(input.Height, TEXT_HEIGHT_TWIPS);
  EXPECT_EQ(input.Effects, CFE_BOLD | CFE_UNDERLINE);
  EXPECT_EQ(probe.InputBox()->GetLimitText(), MAX_INPUT_BYTES);
  EXPECT_EQ(probe.Transcript()->GetDefaultCharFormat().Height, TEXT_HEIGHT_TWIPS);
}

TEST(StyleControls, ChoosingAFaceChangesTheFaceOnly) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  const CJaseloDlgProbe probe(dlg);
  probe.Button(IDC_BOLD)->click();
  const CharFormat before = probe.InputBox()->GetDefaultCharFormat();

  OnNextModal([](QWidget* modal) {
    auto* chooser = qobject_cast<CFaceChooser*>(modal);
    ASSERT_NE(chooser, nullptr);
    ASSERT_TRUE(chooser->Select("Liberation Mono"));
    chooser->accept();
  });
  probe.Button(IDC_FONT)->click();
  EXPECT_STREQ(probe.Settings().Police, "Liberation Mono");
  const CharFormat after = probe.InputBox()->GetDefaultCharFormat();
  EXPECT_STREQ(after.FaceName, "Liberation Mono");
  EXPECT_EQ(after.Color, before.Color);
  EXPECT_EQ(after.Height, before.Height);
  EXPECT_EQ(after.Effects, before.Effects);

  // A face the list tells apart by its foundry is sent and saved by family.
  EXPECT_EQ(FamilyName("C059 [urw]"), "C059");
  EXPECT_EQ(FamilyName("Liberation Mono"), "Liberation Mono");

  // Cancel changes nothing.
  OnNextModal([](QWidget* modal) {
    auto* chooser = qobject_cast<CFaceChooser*>(modal);
    ASSERT_NE(chooser, nullptr);
    chooser->Select("Liberation Serif");
    chooser->reject();
  });
  probe.Button(IDC_FONT)->click();
  EXPECT_STREQ(probe.Settings().Police, "Liberation Mono");
  EXPECT_STREQ(probe.InputBox()->GetDefaultCharFormat().FaceName, "Liberation Mono");
}

TEST(StyleControls, TheColourChooserOpensAtBlackAndChangesTheColourOnly) {
  CJaseloDlg dlg;
  PrepareWindow(dlg, "me");
  const CJaseloDlgProbe probe(dlg);
  probe.Settings().Color = MakeColor(0, 200, 0);
  const CharFormat before = probe.InputBox()->GetDefaultCharFormat();

  QColor opened;
  OnNextModal([&opened](QWidget* modal) {
    auto* chooser = qobject_cast<QColorDialog*>(modal);
    ASSERT_NE(chooser, nullptr);
    opened = chooser->currentColor();
    chooser->setCurrentColor(QColor(200, 10, 20));
    chooser->accept();
  });
  probe.Button(IDC_COLOR)->click();
  EXPECT_EQ(opened, QColor(0, 0, 0));
  EXPECT_EQ(probe.Settings().Color, MakeColor(200, 10, 20));
  const CharFormat after = probe.InputBox()->GetDefaultCharFormat();
  EXPECT_EQ(after.Color, MakeColor(200, 10, 20));
  EXPECT_STREQ(after.FaceName, before.FaceName);
  EXPECT_EQ(after.Effects, before.Effects);

  OnNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
  probe.Button(IDC_COLOR)->click();
  EXPECT_EQ(probe.Settings().Color, MakeColor(200, 10, 20));
}

TEST(StyleControls, BoxesTitleAndScrollBarsLookAsMeantOnAnyDesktop) {
  const QPalette saved = QApplication::palette();
  QPalette dark = saved;
  dark.setColor(QPalette::Base, QColor(30, 30, 30));
  dark.setColor(QPalette::Window, QColor(40, 40, 40));
  dark.setColor(QPalette::Text, QColor(230, 230, 230));
  QApplication::setPalette(dark);
  {
    CJaseloDlg dlg;
    PrepareWindow(dlg, "a[*]b [*][*]");
    const CJaseloDlgProbe probe(dlg);
    // A dark palette set after the window exists does not reach the boxes either.
    QApplication::setPalette(QPalette(QColor(20, 20, 20)));
    for (CRichEdit* box : {probe.InputBox(), probe.Transcript()}) {
      EXPECT_EQ(box->palette().color(QPalette::Base), QColor(Qt::white));
      EXPECT_EQ(box->palette().color(QPalette::Text), QColor(Qt::black));
    }
    EXPECT_EQ(probe.InputBox()->GetDefaultCharFormat().Color, MakeColor(0, 0, 0));

    probe.ShowTitle();
    ASSERT_NE(dlg.windowHandle(), nullptr);
    EXPECT_EQ(dlg.windowHandle()->title(), "Jaselo -- a[*]b [*][*]");

    // The input box never shows a vertical scroll bar, however many lines it holds.
    QApplication::clipboard()->setText(QString("line\n").repeated(20));
    probe.InputBox()->paste();
    QApplication::processEvents();
    EXPECT_FALSE(probe.InputBox()->verticalScrollBar()->isVisible());
    EXPECT_TRUE(probe.Transcript()->verticalScrollBar()->isVisible());
  }
  QApplication::setPalette(saved);
}
