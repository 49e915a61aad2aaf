#include "ui/backgroundalert.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include "protocol/headers.h"

CBackgroundAlert::CBackgroundAlert(QWidget* window)
    : QObject(window), window(window), alert([](QWidget* w) { QApplication::alert(w); }) {
  window->installEventFilter(this);
}

void CBackgroundAlert::OnChatEvent(uint16_t chatType) {
  // Departures are not worth interrupting the user for.
  if (chatType != CHAT_SAYS && chatType != CHAT_PRIVATE && chatType != CHAT_JOINED) return;
  if (alerted || window->isActiveWindow()) return;
  alerted = true;
  alert(window);
}

bool CBackgroundAlert::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window && event->type() == QEvent::WindowActivate) alerted = false;
  return QObject::eventFilter(watched, event);
}
