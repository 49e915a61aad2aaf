#pragma once
// List box of the dialogs. Like the rich-text boxes it draws the mark of the
// keyboard focus on its frame itself, which the styles leave unmarked.

#include <QListWidget>

class CListBox : public QListWidget {
 public:
  using QListWidget::QListWidget;

 protected:
  bool event(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
};
