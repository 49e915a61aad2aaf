#pragma once
// Push button of the dialogs. It draws the mark of the keyboard focus itself:
// the styles leave it out on flat buttons, and on the default button it looks
// the same as the default button's own mark.

#include <QPushButton>

class CPushButton : public QPushButton {
  Q_OBJECT

 public:
  CPushButton(const QString& text, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
};
