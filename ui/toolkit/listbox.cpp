#include "ui/toolkit/listbox.h"

#include <QEvent>

#include "ui/toolkit/toolkit.h"

bool CListBox::event(QEvent* event) {
  const bool handled = QListWidget::event(event);
  // The box's own paint event draws the frame (the viewport draws the rows).
  if (event->type() == QEvent::Paint) PaintFocusMark(this, rect());
  return handled;
}

void CListBox::focusInEvent(QFocusEvent* event) {
  QListWidget::focusInEvent(event);
  update();
}

void CListBox::focusOutEvent(QFocusEvent* event) {
  QListWidget::focusOutEvent(event);
  update();
}
