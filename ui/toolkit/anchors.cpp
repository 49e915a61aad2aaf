#include "ui/toolkit/anchors.h"

#include <QEvent>
#include <QWidget>

namespace {

// One axis of a control: where it starts and how long it is once the window
// is `grown` pixels longer than laid out.
void Follow(int& start, int& length, int grown, bool nearEdge, bool farEdge) {
  if (farEdge && nearEdge) length += grown;
  else if (farEdge) start += grown;
}

}  // namespace

CAnchors::CAnchors(QWidget* window) : QObject(window), window(window), laidOut(window->size()) {
  window->setMinimumSize(laidOut);
  window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  // A window that grows is a main window to the desktop, which may refuse to
  // maximise a dialog.
  window->setWindowFlags((window->windowFlags() & ~Qt::WindowType_Mask) | Qt::Window | Qt::WindowMaximizeButtonHint);
  window->resize(laidOut);
  window->installEventFilter(this);
}

void CAnchors::Anchor(QWidget* control, unsigned edges) {
  anchored.push_back({control, control->geometry(), edges});
  Place();
}

void CAnchors::Place() {
  const int wider = window->width() - laidOut.width();
  const int taller = window->height() - laidOut.height();
  for (const Anchored& a : anchored) {
    if (!a.control) continue;
    int x = a.laidOut.x(), y = a.laidOut.y(), width = a.laidOut.width(), height = a.laidOut.height();
    Follow(x, width, wider, a.edges & ANCHOR_LEFT, a.edges & ANCHOR_RIGHT);
    Follow(y, height, taller, a.edges & ANCHOR_TOP, a.edges & ANCHOR_BOTTOM);
    a.control->setGeometry(x, y, width, height);
  }
}

bool CAnchors::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window && event->type() == QEvent::Resize) Place();
  return QObject::eventFilter(watched, event);
}
