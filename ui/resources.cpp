#include "ui/resources.h"

#include <QFile>
#include <QPixmap>

#include "ui/resource.h"

static void InitResources() {
  // The images live in this static library; make sure the linker keeps them.
  static const bool done = [] {
    Q_INIT_RESOURCE(jaselo);
    return true;
  }();
  (void)done;
}

// The templates are tables, laid out by hand.
// clang-format off
const DialogTemplate& ChatWindowTemplate() {
  // In reading order, which is the order Tab takes.
  static const DialogTemplate tpl{
      240, 249, "Jaselo", "MS Shell Dlg", 8,
      {
          {IDC_TRANSCRIPT, ControlKind::RichEdit, "", 7, 7, 226, 178,
           CS_MULTILINE | CS_READONLY | CS_BORDER | CS_VSCROLL | CS_TABSTOP,
           {.name = "Transcript", .description = "The chat so far. Ctrl+F finds in it, Ctrl+S saves it."}},
          {IDC_FONT, ControlKind::PushButton, "", 7, 187, 20, 18, CS_FLAT | CS_TABSTOP,
           {.name = "Font", .tip = "Font\u2026"}},
          {IDC_COLOR, ControlKind::PushButton, "", 30, 187, 20, 18, CS_FLAT | CS_TABSTOP,
           {.name = "Colour", .tip = "Colour\u2026"}},
          {IDC_BOLD, ControlKind::PushButton, "", 53, 187, 20, 18, CS_FLAT | CS_CHECKABLE | CS_TABSTOP,
           {.name = "Bold", .keys = "Ctrl+B"}},
          {IDC_ITALIC, ControlKind::PushButton, "", 76, 187, 20, 18, CS_FLAT | CS_CHECKABLE | CS_TABSTOP,
           {.name = "Italic", .keys = "Ctrl+I"}},
          {IDC_UNDERLINE, ControlKind::PushButton, "", 99, 187, 20, 18, CS_FLAT | CS_CHECKABLE | CS_TABSTOP,
           {.name = "Underline", .keys = "Ctrl+U"}},
          {IDC_ATTACH, ControlKind::PushButton, "", 122, 187, 20, 18, CS_FLAT | CS_TABSTOP,
           {.name = "Share a file",
            .description = "Shares a file with everybody, or with the one a /msg line is for.",
            .tip = "Share a file\u2026"}},
          {IDC_INPUTBOX, ControlKind::RichEdit, "", 7, 207, 185, 35, CS_MULTILINE | CS_BORDER | CS_TABSTOP,
           {.name = "Message", .description = "Enter sends it to everybody."}},
          {IDC_SEND, ControlKind::PushButton, "Send", 194, 208, 39, 34, CS_DEFAULT | CS_TABSTOP,
           {.description = "Sends the message to everybody (Enter)."}},
      }};
  return tpl;
}

const DialogTemplate& InitDialogTemplate() {
  // OK comes first, so that it has the focus and Enter accepts at once; Tab
  // goes on in reading order, round to OK again. The settings fill the first
  // 145 units; the chats found stand beside them, and under those what a host
  // lets in.
  static const DialogTemplate tpl{
      322, 134, "Jaselo Initialisation", "MS Shell Dlg", 8,
      {
          {IDOK, ControlKind::PushButton, "OK", 7, 113, 50, 14, CS_DEFAULT | CS_TABSTOP},
          {IDCANCEL, ControlKind::PushButton, "Annuler", 88, 113, 50, 14, CS_TABSTOP},
          {IDC_CLIENT, ControlKind::RadioButton, "Client (Enter server ip address)", 11, 14, 116, 10, CS_TABSTOP},
          {IDC_SERVER, ControlKind::RadioButton, "Server (Enter your ip address)", 11, 25, 113, 10, CS_TABSTOP},
          {IDC_PSEUDO, ControlKind::Edit, "", 37, 45, 101, 12, CS_BORDER | CS_TABSTOP},
          {0, ControlKind::StaticText, "Pseudo :", 7, 46, 28, 8, 0, {.labels = IDC_PSEUDO}},
          {0, ControlKind::StaticText, "Ip :", 7, 68, 28, 8, 0, {.labels = IDC_IPADDRESS}},
          {IDC_IPADDRESS, ControlKind::IpAddress, "", 37, 67, 101, 12, CS_TABSTOP, {.name = "Address"}},
          {0, ControlKind::StaticText, "Port :", 7, 89, 28, 8, 0, {.labels = IDC_PORT}},
          {IDC_PORT, ControlKind::Edit, "", 37, 88, 31, 12, CS_DIGITS | CS_BORDER | CS_TABSTOP},
          {0, ControlKind::GroupBox, "", 7, 7, 131, 32, 0},
          {0, ControlKind::StaticText, "Chats on this network", 145, 7, 170, 8, 0, {.labels = IDC_FOUND_CHATS}},
          {IDC_FOUND_CHATS, ControlKind::ListBox, "", 145, 18, 170, 79, CS_BORDER | CS_TABSTOP},
          {0, ControlKind::StaticText, "Chat password :", 145, 102, 56, 8, 0, {.labels = IDC_PASSWORD}},
          {IDC_PASSWORD, ControlKind::Edit, "", 203, 101, 112, 12, CS_BORDER | CS_TABSTOP,
           {.description = "Server role: only those who give it may join, encrypted. Empty: anyone."}},
          {IDC_ENCRYPTED_ONLY, ControlKind::CheckBox, "Encrypted connections only", 145, 116, 170, 10, CS_TABSTOP,
           {.description = "Server role: peers that do not begin with TLS are refused."}},
      }};
  return tpl;
}
// clang-format on

int BitmapResourceSize(int id) {
  switch (id) {
    case 154:
    case 155:
    case 157: return 24;
    case 136:
    case 137:
    case 138:
    case 139:
    case 140:
    case 141: return 32;
    default: return 0;
  }
}

QIcon LoadBitmapResource(int id) {
  InitResources();
  if (BitmapResourceSize(id) == 0) return {};
  QIcon icon;
  icon.addPixmap(QPixmap(QStringLiteral(":/res/bitmap%1.png").arg(id)));
  QPixmap twice(QStringLiteral(":/res/bitmap%1@2x.png").arg(id));
  twice.setDevicePixelRatio(2.0);
  icon.addPixmap(twice);
  return icon;
}

QIcon LoadIconResource(int id) {
  InitResources();
  if (id != 128) return {};
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addFile(QStringLiteral(":/res/icon128-%1.png").arg(size));
  return icon;
}

QString LoadStringResource(int id) {
  switch (id) {
    case 103: return QStringLiteral("L'initialisation des sockets Windows a échoué.");
    default: return {};
  }
}
