#pragma once
// Desktop notifications for what arrives while the window is in the
// background, through the desktop's notification service on the session bus
// (org.freedesktop.Notifications). Every call is asynchronous: with no bus, no
// service or a service that never answers, the window never waits, and at most
// one call is under way while a few newer notifications wait their turn. More
// lines from one sender within a few seconds replace that sender's
// notification rather than stack; its default action raises the window. The
// service is asked once what it can do: only one that reads markup gets the
// text escaped, and only one with actions is offered the default action.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <set>

class QDBusServiceWatcher;
class QWidget;

struct Notification {
  QString sender;   // whose lines make one burst
  QString summary;  // plain text
  QString body;     // plain text: cut (and escaped where needed) here
  QString category;
  bool urgent = false;
};

class CNotifier : public QObject {
  Q_OBJECT

 public:
  // A burst: the lines of one sender that come within this time of each other.
  static constexpr std::chrono::seconds BURST{5};
  // Characters of a line's text that a notification shows.
  static constexpr int MAX_BODY_CHARACTERS = 200;
  // How long a call may take before it counts as unanswered.
  static constexpr int CALL_TIMEOUT_MS = 3000;
  // Newer notifications kept while a call is under way; the oldest go first.
  static constexpr size_t MAX_WAITING = 8;

  // Notifies for `window` over the session bus, connected at the first
  // notification; destroyed with the window.
  explicit CNotifier(QWidget* window);

  // Shows `notification` unless the window is the active one.
  void Notify(const Notification& notification);

  // The bus to use from now on (tests give a private one).
  void SetConnection(const QDBusConnection& connection);

  // The body as sent: line breaks kept, cut to MAX_BODY_CHARACTERS, markup
  // escaped for a service that reads markup.
  static QString BodyText(const QString& text, bool markup);

 private slots:
  void OnActionInvoked(uint id, const QString& action);
  void OnClosed(uint id, uint reason);

 private:
  struct Burst {
    uint id = 0;
    std::chrono::steady_clock::time_point last;
  };
  void SendNext();
  // Sends the oldest waiting notification as the service's capabilities allow.
  void Send();
  void Watch();

  QWidget* window;
  QDBusConnection bus;
  QDBusServiceWatcher* ownerWatch;  // of the service's name on `bus`
  bool chosen = false;              // bus is the one to use (else none yet)
  bool calling = false;             // a call is under way
  // What the service said it can do; unknown until it answers, and again
  // whenever another program takes the service's name.
  std::optional<QStringList> capabilities;
  std::deque<Notification> waiting;
  std::map<QString, Burst> bursts;  // by sender
  std::set<uint> shown;             // ids the service gave our notifications
};
