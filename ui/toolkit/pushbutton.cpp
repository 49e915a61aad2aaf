#include "ui/toolkit/pushbutton.h"

#include <QStyle>
#include <QStyleOptionButton>

#include "ui/toolkit/toolkit.h"

CPushButton::CPushButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void CPushButton::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);
  if (isFlat()) {
    PaintFocusMark(this, rect());
    return;
  }
  // Inside the bevel, where a focus rectangle goes.
  QStyleOptionButton option;
  initStyleOption(&option);
  PaintFocusMark(this, style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this));
}
