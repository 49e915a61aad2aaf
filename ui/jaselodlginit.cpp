#include "ui/jaselodlginit.h"

#include <arpa/inet.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

#include "config/configfile.h"
#include "config/hostsettings.h"
#include "discovery/chatbrowser.h"
#include "ui/resource.h"
#include "ui/resources.h"
#include "ui/toolkit/ipaddressctrl.h"
#include "ui/toolkit/textlimit.h"

CJaseloDlgInit::CJaseloDlgInit(QWidget* parent, InitData* data) : CDialog(InitDialogTemplate(), parent), data(data) {}

// The browser stops before the widgets go; listings still queued for this
// dialog go with it.
CJaseloDlgInit::~CJaseloDlgInit() { browser.reset(); }

namespace {
// The radio button that stands for a role.
int RoleButton(EndpointRole role) { return role == TYPE_SERVER ? IDC_SERVER : IDC_CLIENT; }
}  // namespace

void CJaseloDlgInit::DoDataExchange() { ipAddress = Item<CIPAddressCtrl>(IDC_IPADDRESS); }

QLineEdit* CJaseloDlgInit::PseudoEdit() const { return Item<QLineEdit>(IDC_PSEUDO); }

QLineEdit* CJaseloDlgInit::PortEdit() const { return Item<QLineEdit>(IDC_PORT); }

QListWidget* CJaseloDlgInit::FoundChats() const { return Item<QListWidget>(IDC_FOUND_CHATS); }

namespace {
// What a row of the found chats holds besides its text.
constexpr int ROW_ADDRESS = Qt::UserRole;
constexpr int ROW_PORT = Qt::UserRole + 1;
constexpr int ROW_KEY = Qt::UserRole + 2;
}  // namespace

bool CJaseloDlgInit::OnInitDialog() {
  CDialog::OnInitDialog();
  // Limits in bytes: the nickname is taken whole. A control character would
  // break the settings file and every transcript line.
  PseudoEdit()->setValidator(new CByteLimitValidator(MAX_NICKNAME_BYTES, false, PseudoEdit(), true));
  PortEdit()->setValidator(new CByteLimitValidator(MAX_PORT_DIGITS, true, PortEdit()));
  Item<QRadioButton>(RoleButton(data->Role))->setChecked(true);
  PseudoEdit()->setText(QString::fromUtf8(data->Pseudo.c_str()));
  ipAddress->SetAddress(static_cast<uint8_t>(data->Ip[0]), static_cast<uint8_t>(data->Ip[1]),
                        static_cast<uint8_t>(data->Ip[2]), static_cast<uint8_t>(data->Ip[3]));
  PortEdit()->setText(QString::number(static_cast<uint32_t>(data->Port) & 0xFFFFu));
  auto* password = Item<QLineEdit>(IDC_PASSWORD);
  password->setEchoMode(QLineEdit::Password);
  password->setValidator(new CByteLimitValidator(MAX_PASSWORD_BYTES, false, password, true));
  password->setText(QString::fromStdString(data->Password));
  Item<QCheckBox>(IDC_ENCRYPTED_ONLY)->setChecked(data->EncryptedOnly);
  connect(Item<QRadioButton>(IDC_SERVER), &QRadioButton::toggled, this, [this] { ShowHostFields(); });
  ShowHostFields();

  if (!browser) {
    QListWidget* found = FoundChats();
    found->setWordWrap(true);
    connect(found, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* row) { OnChooseChat(row); });
    // A double click or Enter on a row joins that chat at once.
    connect(found, &QListWidget::itemActivated, this, [this](QListWidgetItem* row) {
      OnChooseChat(row);
      OnOK();
    });
    // The browser's thread hands each listing to this one; nothing waits.
    browser = std::make_unique<CChatBrowser>([this](const ChatListing& listing) {
      QMetaObject::invokeMethod(
          this, [this, listing] { ShowFoundChats(listing); }, Qt::QueuedConnection);
    });
    browser->Start();
  }
  return true;  // focus on OK: Enter accepts the proposed values
}

void CJaseloDlgInit::ShowFoundChats(const ChatListing& listing) {
  QListWidget* found = FoundChats();
  // Rows come and go under the user: the one chosen stays chosen, and a
  // change made here fills nothing in.
  const QListWidgetItem* current = found->currentItem();
  const QString chosen = current ? current->text() : QString();
  const QSignalBlocker quiet(found);
  found->clear();
  for (const FoundChat& chat : listing.chats) {
    auto* row = new QListWidgetItem(QString::fromStdString(RowText(chat)), found);
    row->setData(ROW_ADDRESS, QString::fromStdString(chat.address));
    row->setData(ROW_PORT, chat.port);
    row->setData(ROW_KEY, QString::fromStdString(chat.key));
    if (row->text() == chosen) found->setCurrentItem(row);
  }
  if (!listing.searching) {
    auto* why = new QListWidgetItem(QStringLiteral("Nothing listed: %1. Chats hosted on this network appear here "
                                                   "while avahi-daemon runs.")
                                        .arg(QString::fromStdString(listing.whyNot)),
                                    found);
    why->setFlags(Qt::NoItemFlags);
    why->setForeground(found->palette().color(QPalette::Disabled, QPalette::Text));
  }
}

void CJaseloDlgInit::OnChooseChat(QListWidgetItem* row) {
  if (!row || !row->data(ROW_ADDRESS).isValid()) return;
  in_addr address{};
  if (inet_pton(AF_INET, row->data(ROW_ADDRESS).toString().toLatin1().constData(), &address) != 1) return;
  const uint32_t ip = ntohl(address.s_addr);
  Item<QRadioButton>(IDC_CLIENT)->setChecked(true);
  ipAddress->SetAddress(static_cast<uint8_t>(ip >> 24), static_cast<uint8_t>(ip >> 16), static_cast<uint8_t>(ip >> 8),
                        static_cast<uint8_t>(ip));
  PortEdit()->setText(QString::number(row->data(ROW_PORT).toUInt()));
}

void CJaseloDlgInit::ShowHostFields() {
  const bool host = Item<QRadioButton>(IDC_SERVER)->isChecked();
  for (const int id : {IDC_PASSWORD, IDC_ENCRYPTED_ONLY}) GetDlgItem(id)->setEnabled(host);
}

void CJaseloDlgInit::OnOK() {
  // The buttons are exclusive and one starts checked, so one names the role.
  for (const EndpointRole role : {TYPE_CLIENT, TYPE_SERVER})
    if (Item<QRadioButton>(RoleButton(role))->isChecked()) data->Role = role;
  // Without the blanks around it: the settings file would lose the leading ones
  // (and the next value with them), and a server refuses both.
  data->Pseudo = NicknameForSettings(PseudoEdit()->text().toStdString());
  uint8_t ip[4];
  ipAddress->GetAddress(ip[0], ip[1], ip[2], ip[3]);
  for (int i = 0; i < 4; ++i) data->Ip[i] = ip[i];
  bool ok = false;
  const int port = PortEdit()->text().toInt(&ok);
  data->Port = ok ? port : 0;
  // A chat chosen in the list must present the key it announced, unless the
  // user has since typed another address or port.
  data->AnnouncedKey.clear();
  data->Announced = false;
  const QListWidgetItem* chosen = FoundChats()->currentItem();
  const QString typed = QStringLiteral("%1.%2.%3.%4").arg(ip[0]).arg(ip[1]).arg(ip[2]).arg(ip[3]);
  if (data->Role == TYPE_CLIENT && chosen && chosen->data(ROW_ADDRESS).toString() == typed &&
      chosen->data(ROW_PORT).toInt() == data->Port) {
    data->AnnouncedKey = chosen->data(ROW_KEY).toString().toStdString();
    data->Announced = true;
  }
  data->Password = Item<QLineEdit>(IDC_PASSWORD)->text().toStdString();
  data->EncryptedOnly = Item<QCheckBox>(IDC_ENCRYPTED_ONLY)->isChecked();
  CDialog::OnOK();
}
