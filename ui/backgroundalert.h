#pragma once
// Asks the desktop for attention (urgency hint, taskbar flash) when a chat
// line, a private line or an arrival comes while the window is in the
// background, once per spell in the background: the first such event marks
// the window, later ones add nothing until the user has come back to it.

#include <QObject>
#include <cstdint>
#include <functional>

class QWidget;

class CBackgroundAlert : public QObject {
  Q_OBJECT

 public:
  using AlertCall = std::function<void(QWidget* window)>;

  // Watches `window`'s activation and is destroyed with it.
  explicit CBackgroundAlert(QWidget* window);

  // An event of chat type `chatType` was shown.
  void OnChatEvent(uint16_t chatType);

  // What asking for attention does; QApplication::alert unless replaced, so
  // that a test can see the request, which an offscreen desktop ignores.
  void SetAlertCall(AlertCall call) { alert = std::move(call); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* window;
  AlertCall alert;
  bool alerted = false;  // already asked during this spell in the background
};
