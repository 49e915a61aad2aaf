#pragma once
// A scrolling box (text or list) that draws the mark of the keyboard focus on
// its frame itself, which the styles leave unmarked on such boxes.

#include <QEvent>

#include "ui/toolkit/toolkit.h"

template <class Box>
class CFocusMarked : public Box {
 public:
  using Box::Box;

 protected:
  bool event(QEvent* event) override {
    const bool handled = Box::event(event);
    // The box's own paint event draws the frame (its viewport draws the content).
    if (event->type() == QEvent::Paint) PaintFocusMark(this, this->rect());
    return handled;
  }
  void focusInEvent(QFocusEvent* event) override {
    Box::focusInEvent(event);
    this->update();
  }
  void focusOutEvent(QFocusEvent* event) override {
    Box::focusOutEvent(event);
    this->update();
  }
};
