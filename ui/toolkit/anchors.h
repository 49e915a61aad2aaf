#pragma once
// Lets a dialog laid out at a fixed size grow: each control keeps its
// distance to the window edges it is anchored to, measured at the laid-out
// size. A control anchored to both opposite edges grows with the window; one
// anchored to the right or bottom edge alone moves with it.

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

enum AnchorEdge : unsigned {
  ANCHOR_LEFT = 1u << 0,
  ANCHOR_TOP = 1u << 1,
  ANCHOR_RIGHT = 1u << 2,
  ANCHOR_BOTTOM = 1u << 3,
  ANCHOR_ALL = ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM,
};

class CAnchors : public QObject {
 public:
  // `window` is at its laid-out size now: that size becomes its minimum and the
  // size it opens at, and the window becomes a main window with a maximise
  // box. Destroyed with it.
  explicit CAnchors(QWidget* window);

  // `control`, a child of the window still placed for the laid-out size, keeps
  // its distance to `edges` from now on; a control never anchored stays where
  // it is.
  void Anchor(QWidget* control, unsigned edges);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Anchored {
    QPointer<QWidget> control;
    QRect laidOut;
    unsigned edges;
  };
  void Place();

  QWidget* window;
  QSize laidOut;
  std::vector<Anchored> anchored;
};
