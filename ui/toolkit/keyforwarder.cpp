#include "ui/toolkit/keyforwarder.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>

CKeyForwarder::CKeyForwarder(QWidget* from, QWidget* to) : QObject(from), from(from), to(to) {
  from->installEventFilter(this);
}

bool CKeyForwarder::IsTyping(const QKeyEvent& key) {
  if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  switch (key.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Return:
    case Qt::Key_Enter: return true;
    default: break;
  }
  const QString text = key.text();
  if (text.isEmpty()) return false;
  for (const QChar c : text) {
    if (!c.isPrint()) return false;
  }
  return true;
}

bool CKeyForwarder::eventFilter(QObject* watched, QEvent* event) {
  if (watched != from || event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  if (!IsTyping(*key) || !to->isEnabled()) return false;
  to->setFocus(Qt::OtherFocusReason);
  // Handled as if typed there; Enter, which the box leaves alone, goes on to
  // the window and presses Send.
  QKeyEvent copy(key->type(), key->key(), key->modifiers(), key->text(), key->isAutoRepeat(),
                 static_cast<ushort>(key->count()));
  QCoreApplication::sendEvent(to, &copy);
  return true;
}
