#pragma once
// "Join from a phone": the page's address on each of the host's IPv4
// addresses, as text to copy and as a QR code a phone's camera opens; for an
// encrypted chat, what the phone will say of the chat's own key and which key
// to compare, and, where the chat allows it, the address without encryption.

#include <QDialog>
#include <QStringList>

class QComboBox;
class QLabel;

struct Invitation {
  // The page's address for each of the host's own addresses: https where the
  // chat has a key.
  QStringList pages;
  // The chat's short key in groups of four; empty without one.
  QString key;
  // The same addresses over http, where the chat has no password and takes
  // plain connections too; empty otherwise.
  QStringList plainPages;
};

class CJoinFromPhoneDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CJoinFromPhoneDialog(const Invitation& invitation, QWidget* parent = nullptr);
  QString Shown() const { return shown; }
  // The whole text the dialog shows around the code.
  QString Said() const;

 private:
  void Show(int index);

  Invitation invitation;
  QComboBox* choice = nullptr;  // only with more than one address
  QLabel* intro;
  QLabel* code;
  QLabel* text;
  QLabel* plain = nullptr;  // only with plain pages
  QString shown;
};
