#include "ui/toolkit/controlkeys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QShortcut>

CControlKeys::CControlKeys(QWidget* dialog) : QObject(dialog), dialog(dialog) {
  // The focus widget is asked first whether it wants a key for itself; that
  // question reaches an application-wide filter before the widget.
  qApp->installEventFilter(this);
}

void CControlKeys::Add(const QKeySequence& sequence, QAbstractButton* button) {
  auto* shortcut = new QShortcut(sequence, dialog);
  shortcut->setContext(Qt::WindowShortcut);
  connect(shortcut, &QShortcut::activated, button, &QAbstractButton::click);
  keys.push_back(sequence);
}

bool CControlKeys::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ShortcutOverride) return false;
  const auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != dialog) return false;
  const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
  for (const QKeySequence& k : keys) {
    if (k == pressed) {
      event->ignore();  // not the widget's: the shortcut takes it
      return true;
    }
  }
  return false;
}
