#include "ui/trustprompts.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include "config/hostsettings.h"

QString GroupedKey(const std::string& hex) { return QString::fromStdString(GroupedShortKey(hex)); }

// The key this computer knows, or the line of its hosts file that names the
// host and cannot be read.
static QString KnownKey(const ConnectReport& report) {
  if (report.badLine == 0) return GroupedKey(report.expected);
  return QStringLiteral("line %1 of %2 cannot be read")
      .arg(report.badLine)
      .arg(QString::fromStdString(report.knownHosts));
}

// A warning whose one way on is `anyway`, never the default: Enter and
// Escape both keep the user out.
static bool ConfirmAgainstDefault(QWidget* parent, const QString& title, const QString& text,
                                  const QString& anywayText) {
  QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
  box.setTextFormat(Qt::PlainText);
  QPushButton* anyway = box.addButton(anywayText, QMessageBox::AcceptRole);
  QPushButton* cancel = box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(cancel);
  box.setEscapeButton(cancel);
  box.exec();
  return box.clickedButton() == anyway;
}

bool ConfirmChangedKey(QWidget* parent, const QString& where, const ConnectReport& report) {
  const QString text =
      QStringLiteral(
          "The host at %1 did not present the key this computer knows for it.\n\n"
          "Known key:\t%2\nKey now:\t%3\n\n"
          "This happens when the host's computer was set up again or lost its key file. It is also what you "
          "would see if another computer on the network were posing as the host to read the chat. Ask the "
          "host's user which key their window shows before you connect.")
          .arg(where, KnownKey(report), QString::fromStdString(report.key.Grouped()));
  return ConfirmAgainstDefault(parent, QStringLiteral("The host's key has changed"), text,
                               QStringLiteral("Connect anyway"));
}

bool ConfirmPlainHost(QWidget* parent, const QString& where) {
  const QString text =
      QStringLiteral(
          "The host at %1 offers no encryption.\n\n"
          "Anyone on the network could read what is said, or pose as the host. An older host, or one without "
          "a key, offers no encryption; so would another computer that is kept in the way of this one.")
          .arg(where);
  return ConfirmAgainstDefault(parent, QStringLiteral("Not encrypted"), text,
                               QStringLiteral("Connect without encryption"));
}

bool AskChatPassword(QWidget* parent, const QString& where, bool wrong, std::string& password) {
  QInputDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Chat password"));
  dialog.setLabelText((wrong ? QStringLiteral("Wrong password for this chat !\n\n") : QString()) +
                      QStringLiteral("The chat at %1 asks for a password:").arg(where));
  dialog.setTextEchoMode(QLineEdit::Password);
  dialog.setInputMode(QInputDialog::TextInput);
  if (dialog.exec() != QDialog::Accepted) return false;
  const std::string typed = dialog.textValue().toStdString();
  if (!IsAcceptablePassword(typed)) return false;
  password = typed;
  return true;
}
