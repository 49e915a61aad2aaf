#include "ui/notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QVariantMap>
#include <QWidget>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");
constexpr uchar kUrgencyNormal = 1;
constexpr uchar kUrgencyCritical = 2;

}  // namespace

CNotifier::CNotifier(QWidget* window)
    : QObject(window),
      window(window),
      bus(QString()),
      ownerWatch(new QDBusServiceWatcher(kService, bus, QDBusServiceWatcher::WatchForOwnerChange, this)) {
  // Another daemon may answer from now on, able to do other things.
  connect(ownerWatch, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { capabilities.reset(); });
}

void CNotifier::SetConnection(const QDBusConnection& connection) {
  if (chosen) {
    bus.disconnect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                   SLOT(OnActionInvoked(uint, QString)));
    bus.disconnect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(OnClosed(uint, uint)));
  }
  bus = connection;
  chosen = true;
  bursts.clear();
  shown.clear();
  Watch();
}

void CNotifier::Watch() {
  capabilities.reset();
  if (!bus.isConnected()) return;
  bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this, SLOT(OnActionInvoked(uint, QString)));
  bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(OnClosed(uint, uint)));
  ownerWatch->setConnection(bus);
}

QString CNotifier::BodyText(const QString& text, bool markup) {
  QString body = text;
  body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (body.size() > MAX_BODY_CHARACTERS) {
    qsizetype keep = MAX_BODY_CHARACTERS - 1;
    if (body.at(keep - 1).isHighSurrogate()) --keep;  // never half a character
    body = body.left(keep) + QChar(0x2026);
  }
  // A service that reads markup reads a subset of HTML; a peer's text is text.
  return markup ? body.toHtmlEscaped() : body;
}

void CNotifier::Notify(const Notification& notification) {
  if (window->isActiveWindow()) return;
  // The session bus only once there is something to say: a window that
  // never goes to the background never connects.
  if (!chosen) SetConnection(QDBusConnection::sessionBus());
  if (!bus.isConnected()) return;
  // The newest line of a sender stands for the older ones still waiting.
  for (auto it = waiting.begin(); it != waiting.end(); ++it) {
    if (it->sender != notification.sender) continue;
    waiting.erase(it);
    break;
  }
  waiting.push_back(notification);
  while (waiting.size() > MAX_WAITING) waiting.pop_front();
  if (!calling) SendNext();
}

void CNotifier::SendNext() {
  if (calling || waiting.empty()) return;
  calling = true;
  if (capabilities) {
    Send();
    return;
  }
  const QDBusMessage ask =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask, CALL_TIMEOUT_MS), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    const QDBusPendingReply<QStringList> reply = *w;
    w->deleteLater();
    // Unanswered, the next notification asks again; this one goes escaped,
    // with its action, as to a service that does everything.
    if (!reply.isError()) capabilities = reply.value();
    Send();
  });
}

void CNotifier::Send() {
  if (waiting.empty()) {
    calling = false;
    return;
  }
  const Notification next = waiting.front();
  waiting.pop_front();

  const auto now = std::chrono::steady_clock::now();
  uint replaces = 0;
  const auto burst = bursts.find(next.sender);
  if (burst != bursts.end() && now - burst->second.last < BURST) replaces = burst->second.id;

  // The desktop file's name is also the icon's: the menu entry ties both.
  const QString desktopEntry = QGuiApplication::desktopFileName();
  QVariantMap hints;
  if (!desktopEntry.isEmpty()) hints.insert(QStringLiteral("desktop-entry"), desktopEntry);
  hints.insert(QStringLiteral("category"), next.category);
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue(next.urgent ? kUrgencyCritical : kUrgencyNormal));
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  const auto can = [this](const char* capability) {
    return !capabilities || capabilities->contains(QLatin1String(capability));
  };
  const QStringList actions = can("actions") ? QStringList{kDefaultAction, QStringLiteral("Open")} : QStringList{};
  call << QStringLiteral("Jaselo") << replaces << desktopEntry << next.summary
       << BodyText(next.body, can("body-markup")) << actions << hints << qint32(-1);

  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, CALL_TIMEOUT_MS), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, sender = next.sender, now](QDBusPendingCallWatcher* w) {
            const QDBusPendingReply<uint> reply = *w;
            w->deleteLater();
            if (!reply.isError()) {
              const uint id = reply.value();
              shown.insert(id);
              bursts[sender] = {id, now};
            }
            calling = false;
            SendNext();
          });
}

void CNotifier::OnActionInvoked(uint id, const QString& action) {
  if (action != kDefaultAction || !shown.count(id)) return;
  if (window->isMinimized()) window->showNormal();
  window->raise();
  window->activateWindow();
}

void CNotifier::OnClosed(uint id, uint /*reason*/) {
  if (!shown.erase(id)) return;
  // The next line of that sender makes a notification of its own.
  for (auto it = bursts.begin(); it != bursts.end(); ++it) {
    if (it->second.id != id) continue;
    bursts.erase(it);
    break;
  }
}
