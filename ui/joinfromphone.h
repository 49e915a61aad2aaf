#pragma once
// "Join from a phone": the page's address on each of the host's IPv4
// addresses, as text to copy and as a QR code a phone's camera opens.

#include <QDialog>
#include <QStringList>

class QComboBox;
class QLabel;

class CJoinFromPhoneDialog : public QDialog {
  Q_OBJECT

 public:
  // `addresses`: the page's address for each of the host's own addresses.
  CJoinFromPhoneDialog(const QStringList& addresses, QWidget* parent = nullptr);
  QString Shown() const { return shown; }

 private:
  void Show(const QString& address);

  QComboBox* choice = nullptr;  // only with more than one address
  QLabel* code;
  QLabel* text;
  QString shown;
};
