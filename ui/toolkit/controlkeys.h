#pragma once
// Keys that click a dialog's push buttons wherever the focus is in the dialog,
// even in a text field that has a meaning of its own for the key (on X11 a
// line edit takes Ctrl+U to clear itself): the button's click does the work,
// so the key and the button can never differ.

#include <QKeySequence>
#include <QObject>
#include <vector>

class QAbstractButton;
class QWidget;

class CControlKeys : public QObject {
 public:
  // A child of `dialog`, which the keys belong to.
  explicit CControlKeys(QWidget* dialog);

  void Add(const QKeySequence& keys, QAbstractButton* button);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* dialog;
  std::vector<QKeySequence> keys;
};
