#pragma once
// Keys typed while the transcript has the keyboard (after a click in it to
// select and copy) belong to the input box: printable text, Backspace and
// Enter move the focus there and are handled there, so nothing typed is lost.
// Shortcuts (Ctrl+C, Ctrl+A, ...) and moving keys stay with the transcript.

#include <QObject>

class QKeyEvent;
class QWidget;

class CKeyForwarder : public QObject {
 public:
  // Watches `from` and is destroyed with it.
  CKeyForwarder(QWidget* from, QWidget* to);

  // Whether `key` is typing meant for the input box.
  static bool IsTyping(const QKeyEvent& key);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* from;
  QWidget* to;
};
