#include "ui/removal.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include "chat/turnedaway.h"
#include "protocol/extension.h"

namespace {
struct KeepOut {
  const char* label;
  std::chrono::seconds time;
};
// The first is the default: a flood or a joke is over in ten minutes.
constexpr KeepOut kKeepOuts[] = {{"10 min", std::chrono::minutes(10)},
                                 {"1 h", std::chrono::hours(1)},
                                 {"until the host stops", std::chrono::seconds(0)}};
}  // namespace

std::optional<std::chrono::seconds> AskKeepOut(QWidget* parent, const QString& name) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Remove from chat"));
  auto* column = new QVBoxLayout(&dialog);
  // The name is the peer's own text: shown as text, never as markup.
  auto* what = new QLabel(QStringLiteral("Remove %1 from the chat.").arg(name), &dialog);
  what->setTextFormat(Qt::PlainText);
  column->addWidget(what);
  auto* how = new QLabel(QStringLiteral("Keep their address &out for:"), &dialog);
  auto* times = new QComboBox(&dialog);
  for (const KeepOut& k : kKeepOuts) times->addItem(QString::fromUtf8(k.label));
  how->setBuddy(times);
  column->addWidget(how);
  column->addWidget(times);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &dialog);
  buttons->addButton(QStringLiteral("Remove"), QDialogButtonBox::AcceptRole);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  column->addWidget(buttons);
  times->setFocus();
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return kKeepOuts[times->currentIndex()].time;
}

QString KeptOutNotice(uint16_t reason, uint32_t seconds) {
  if (reason != REFUSED_REMOVED) return QString::fromStdString(TurnedAwayText(reason, seconds)) + QStringLiteral(" !");
  if (seconds == KEPT_OUT_UNTIL_STOP) return QStringLiteral("The host removed you from the chat until it stops !");
  const uint32_t minutes = (seconds + 59) / 60;
  const QString time = minutes >= 60 && minutes % 60 == 0 ? QStringLiteral("%1 h").arg(minutes / 60)
                                                          : QStringLiteral("%1 min").arg(minutes);
  return QStringLiteral("The host removed you from the chat: you may join again in %1 !").arg(time);
}
