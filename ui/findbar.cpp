#include "ui/findbar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>

namespace {
// Highlighting stops counting here, so that a one-letter search in a full
// transcript stays quick.
constexpr int kMaxHighlighted = 2000;
}  // namespace

CFindBar::CFindBar(QTextEdit* transcript, QWidget* afterClose)
    : QWidget(transcript->parentWidget()),
      transcript(transcript),
      afterClose(afterClose),
      field(new QLineEdit(this)),
      status(new QLabel(this)) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 2, 0, 0);
  row->setSpacing(3);
  auto* label = new QLabel(QStringLiteral("Find:"), this);
  label->setBuddy(field);  // which names the field for a screen reader
  row->addWidget(label);
  field->setToolTip(QStringLiteral("Enter: next, Shift+Enter: previous, Escape: close"));
  row->addWidget(field, 1);
  row->addWidget(status);
  // In the tab order where the bar stands, under the transcript: the field,
  // then the buttons. A click on a button leaves the typing in the field.
  QWidget::setTabOrder(transcript, field);
  QWidget* last = field;
  const auto button = [this, row, &last](const QString& name, const QString& tip, auto action) {
    auto* b = new QToolButton(this);
    b->setAccessibleName(name);
    b->setToolTip(tip);
    b->setFocusPolicy(Qt::TabFocus);
    b->installEventFilter(this);
    row->addWidget(b);
    connect(b, &QToolButton::clicked, this, action);
    QWidget::setTabOrder(last, b);
    last = b;
    return b;
  };
  QToolButton* previous =
      button(QStringLiteral("Previous"), QStringLiteral("Previous (Shift+Enter)"), [this] { Find(true); });
  previous->setArrowType(Qt::UpArrow);
  QToolButton* next = button(QStringLiteral("Next"), QStringLiteral("Next (Enter)"), [this] { Find(false); });
  next->setArrowType(Qt::DownArrow);
  QToolButton* close = button(QStringLiteral("Close"), QStringLiteral("Close (Escape)"), [this] { Close(); });
  close->setText(QStringLiteral("\u2715"));
  // Typing searches again from the start of the current match, so a longer
  // word stays on the same place when it still matches there.
  connect(field, &QLineEdit::textChanged, this,
          [this] { FindFrom(current.isNull() ? 0 : current.selectionStart(), false); });
  rehighlight.setSingleShot(true);
  rehighlight.setInterval(200);
  connect(&rehighlight, &QTimer::timeout, this, &CFindBar::Highlight);
  connect(transcript->document(), &QTextDocument::contentsChanged, this, [this] {
    if (IsOpen()) rehighlight.start();
  });
  field->installEventFilter(this);
  parentWidget()->installEventFilter(this);
  hide();
}

void CFindBar::Open() {
  if (!IsOpen()) {
    fullRect = transcript->geometry();
    TakeShare();
    show();
    Highlight();
  }
  field->setFocus(Qt::ShortcutFocusReason);
  field->selectAll();
}

void CFindBar::Close() {
  if (!IsOpen()) return;
  hide();
  rehighlight.stop();
  transcript->setGeometry(fullRect);
  transcript->setExtraSelections({});
  current = QTextCursor();
  afterClose->setFocus(Qt::OtherFocusReason);
}

void CFindBar::TakeShare() {
  const int height = sizeHint().height();
  setGeometry(fullRect.x(), fullRect.bottom() + 1 - height, fullRect.width(), height);
  transcript->setGeometry(fullRect.adjusted(0, 0, 0, -height));
}

bool CFindBar::Find(bool backward) {
  if (current.isNull() || !current.hasSelection())
    return FindFrom(backward ? transcript->document()->characterCount() - 1 : 0, backward);
  return FindFrom(backward ? current.selectionStart() : current.selectionEnd(), backward);
}

bool CFindBar::FindFrom(int position, bool backward) {
  QTextDocument* document = transcript->document();
  const QString term = field->text();
  const QTextDocument::FindFlags flags = backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
  QTextCursor hit;
  if (!term.isEmpty()) {
    hit = document->find(term, position, flags);
    if (hit.isNull()) hit = document->find(term, backward ? document->characterCount() - 1 : 0, flags);
  }
  current = hit;
  if (!hit.isNull()) {
    transcript->setTextCursor(hit);
    transcript->ensureCursorVisible();
  }
  Highlight();
  return !hit.isNull();
}

void CFindBar::Highlight() {
  QList<QTextEdit::ExtraSelection> marks;
  const QString term = field->text();
  int index = 0;
  if (!term.isEmpty()) {
    QTextCharFormat all;
    all.setBackground(QColor(255, 240, 120));
    QTextCharFormat selected;
    selected.setBackground(QColor(255, 150, 50));
    for (QTextCursor c = transcript->document()->find(term, 0); !c.isNull() && marks.size() < kMaxHighlighted;
         c = transcript->document()->find(term, c)) {
      const bool isCurrent = !current.isNull() && c.selectionStart() == current.selectionStart();
      if (isCurrent) index = static_cast<int>(marks.size()) + 1;
      marks.append({c, isCurrent ? selected : all});
    }
  }
  transcript->setExtraSelections(marks);
  if (term.isEmpty()) status->clear();
  else if (marks.isEmpty()) status->setText(QStringLiteral("No match"));
  else if (index == 0)
    status->setText(QStringLiteral("%1%2 matches").arg(marks.size()).arg(marks.size() >= kMaxHighlighted ? "+" : ""));
  else
    status->setText(
        QStringLiteral("%1 of %2%3").arg(index).arg(marks.size()).arg(marks.size() >= kMaxHighlighted ? "+" : ""));
}

QString CFindBar::Status() const { return status->text(); }

bool CFindBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize && IsOpen()) {
    // A window that grows has just given the transcript its whole new
    // rectangle (its anchors watch the window ahead of this bar, having been
    // installed after it): the bar takes its share of that one.
    fullRect = transcript->geometry();
    TakeShare();
  }
  if (event->type() != QEvent::KeyPress || !IsOpen()) return QWidget::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  if (watched == field && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
    // Enter would otherwise reach the window and press Send.
    Find((key->modifiers() & Qt::ShiftModifier) != 0);
    return true;
  }
  auto* button = qobject_cast<QToolButton*>(watched);
  if (button && button->parent() == this && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
    button->click();  // as Space does; Enter would otherwise press Send
    return true;
  }
  if (watched == parentWidget() && key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
    Close();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}
