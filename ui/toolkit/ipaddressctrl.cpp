#include "ui/toolkit/ipaddressctrl.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOptionFrame>

CIPAddressCtrl::CIPAddressCtrl(QWidget* parent) : QFrame(parent) {
  // Drawn as one line edit (see paintEvent); the fields sit inside its frame.
  setFrameShape(QFrame::NoFrame);
  const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  setContentsMargins(frame, frame, frame, frame);
  auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
  for (int i = 0; i < 4; ++i) {
    auto* f = new QLineEdit(this);
    f->setFrame(false);
    // The control's own panel shows through, so fields and dots look as one box.
    QPalette clear = f->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    f->setPalette(clear);
    f->setAlignment(Qt::AlignCenter);
    f->setValidator(digits);
    f->setMaxLength(3);
    f->setObjectName(QStringLiteral("field%1").arg(i));
    // The control is one tab stop; its other fields are reached by typing or clicking.
    f->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
    f->installEventFilter(this);
    connect(f, &QLineEdit::textEdited, this, [this, i](const QString& text) {
      if (text.size() == 3 && fields_[i]->cursorPosition() == 3) {
        Clamp(i);
        if (i < 3) MoveTo(i + 1, true, false);
      }
    });
    connect(f, &QLineEdit::editingFinished, this, [this, i] { Clamp(i); });
    fields_[i] = f;
  }
  setFocusProxy(fields_[0]);
}

int CIPAddressCtrl::DotWidth() const { return fontMetrics().horizontalAdvance(QLatin1Char('.')) + 4; }

void CIPAddressCtrl::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  const QRect r = contentsRect();
  const int fieldWidth = (r.width() - 3 * DotWidth()) / 4;
  int x = r.left();
  for (int i = 0; i < 4; ++i) {
    fields_[i]->setGeometry(x, r.top(), fieldWidth, r.height());
    x += fieldWidth + DotWidth();
  }
}

void CIPAddressCtrl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOptionFrame panel;
  panel.initFrom(this);
  panel.rect = rect();
  panel.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, this);
  panel.midLineWidth = 0;
  panel.state |= QStyle::State_Sunken;
  // The box shows the focus as one line edit would, whichever field has it.
  for (const QLineEdit* f : fields_)
    if (f->hasFocus()) panel.state |= QStyle::State_HasFocus;
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
  // The dots stand on the fields' baseline, between the fields.
  painter.setPen(palette().color(QPalette::Text));
  const QFontMetrics metrics = fontMetrics();
  const QRect field = fields_[0]->geometry();
  const int baseline = field.top() + (field.height() - metrics.height() + 1) / 2 + metrics.ascent();
  for (int i = 0; i < 3; ++i) {
    const int left = fields_[i]->geometry().right() + 1;
    const int x = left + (DotWidth() - metrics.horizontalAdvance(QLatin1Char('.'))) / 2;
    painter.drawText(x, baseline, QStringLiteral("."));
  }
}

void CIPAddressCtrl::SetAccessibleName(const QString& name) {
  setAccessibleName(name);
  for (int i = 0; i < 4; ++i) fields_[i]->setAccessibleName(QStringLiteral("%1, part %2 of 4").arg(name).arg(i + 1));
}

void CIPAddressCtrl::SetAddress(uint8_t f0, uint8_t f1, uint8_t f2, uint8_t f3) {
  const uint8_t v[4] = {f0, f1, f2, f3};
  for (int i = 0; i < 4; ++i) fields_[i]->setText(QString::number(v[i]));
}

int CIPAddressCtrl::GetAddress(uint8_t& f0, uint8_t& f1, uint8_t& f2, uint8_t& f3) const {
  uint8_t* out[4] = {&f0, &f1, &f2, &f3};
  int filled = 0;
  for (int i = 0; i < 4; ++i) {
    const QString t = fields_[i]->text();
    if (t.isEmpty()) {
      *out[i] = 0;
      continue;
    }
    ++filled;
    const int v = t.toInt();
    *out[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
  }
  return filled;
}

int CIPAddressCtrl::IndexOf(QObject* field) const {
  for (int i = 0; i < 4; ++i)
    if (fields_[i] == field) return i;
  return -1;
}

void CIPAddressCtrl::MoveTo(int index, bool selectAll, bool atEnd) {
  QLineEdit* f = fields_[index];
  f->setFocus(Qt::OtherFocusReason);
  if (selectAll) f->selectAll();
  else f->setCursorPosition(atEnd ? f->text().size() : 0);
}

void CIPAddressCtrl::Clamp(int index) {
  QLineEdit* f = fields_[index];
  if (!f->text().isEmpty() && f->text().toInt() > 255) f->setText(QStringLiteral("255"));
}

bool CIPAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
  const int i = IndexOf(watched);
  if (i >= 0 && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) update();
  if (i < 0 || event->type() != QEvent::KeyPress) return QFrame::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  QLineEdit* f = fields_[i];
  switch (key->key()) {
    case Qt::Key_Period:
    case Qt::Key_Space:
      if (i < 3 && !f->text().isEmpty() && !f->hasSelectedText()) {
        Clamp(i);
        MoveTo(i + 1, true, false);
      }
      return true;
    case Qt::Key_Backspace:
      if (i > 0 && f->cursorPosition() == 0 && !f->hasSelectedText()) {
        MoveTo(i - 1, false, true);
        return true;
      }
      break;
    case Qt::Key_Left:
      if (i > 0 && f->cursorPosition() == 0) {
        MoveTo(i - 1, false, true);
        return true;
      }
      break;
    case Qt::Key_Right:
      if (i < 3 && f->cursorPosition() == f->text().size()) {
        MoveTo(i + 1, false, false);
        return true;
      }
      break;
    default: break;
  }
  return QFrame::eventFilter(watched, event);
}
