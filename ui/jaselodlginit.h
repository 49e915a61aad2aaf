#pragma once
// The settings dialog shown before the chat window: nickname, role, address and
// port. It edits a copy (InitData); only OK hands the values back. Beside
// them, the chats announced on the network: choosing one fills the role,
// address and port for joining it.

#include <cstdint>
#include <memory>
#include <string>

#include "protocol/headers.h"
#include "protocol/nickname.h"
#include "ui/toolkit/toolkit.h"

class CChatBrowser;
class CIPAddressCtrl;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
struct ChatListing;

// Digits the port edit takes.
constexpr size_t MAX_PORT_DIGITS = 5;

struct InitData {
  EndpointRole Role = TYPE_CLIENT;
  int32_t Ip[4] = {0, 0, 0, 0};
  int32_t Port = 0;
  std::string Pseudo;
  // The short key the chosen chat announced, when the address and port
  // are still that chat's; empty otherwise.
  std::string AnnouncedKey;
  // The address and port are those of a chat chosen in the list, not typed.
  bool Announced = false;
  // What the server role lets in (host-settings.cfg).
  std::string Password;
  bool EncryptedOnly = false;
};

class CJaseloDlgInit : public CDialog {
 public:
  CJaseloDlgInit(QWidget* parent, InitData* data);
  ~CJaseloDlgInit() override;

  bool OnInitDialog() override;
  void OnOK() override;

 protected:
  void DoDataExchange() override;

 private:
  QLineEdit* PseudoEdit() const;
  QLineEdit* PortEdit() const;
  QListWidget* FoundChats() const;
  // The host's fields count in the server role alone.
  void ShowHostFields();
  // On the UI thread: the browser's latest listing replaces the rows.
  void ShowFoundChats(const ChatListing& listing);
  void OnChooseChat(QListWidgetItem* row);

  InitData* data;
  CIPAddressCtrl* ipAddress = nullptr;
  std::unique_ptr<CChatBrowser> browser;
};
