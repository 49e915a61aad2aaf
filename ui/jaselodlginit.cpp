#include "ui/jaselodlginit.h"

#include <QLineEdit>
#include <QRadioButton>

#include "config/configfile.h"
#include "ui/resource.h"
#include "ui/resources.h"
#include "ui/toolkit/ipaddressctrl.h"
#include "ui/toolkit/textlimit.h"

CJaseloDlgInit::CJaseloDlgInit(QWidget* parent, InitData* data) : CDialog(InitDialogTemplate(), parent), data(data) {}

namespace {
// The radio button that stands for a role.
int RoleButton(EndpointRole role) { return role == TYPE_SERVER ? IDC_SERVER : IDC_CLIENT; }
}  // namespace

void CJaseloDlgInit::DoDataExchange() { ipAddress = Item<CIPAddressCtrl>(IDC_IPADDRESS); }

QLineEdit* CJaseloDlgInit::PseudoEdit() const { return Item<QLineEdit>(IDC_PSEUDO); }

QLineEdit* CJaseloDlgInit::PortEdit() const { return Item<QLineEdit>(IDC_PORT); }

bool CJaseloDlgInit::OnInitDialog() {
  CDialog::OnInitDialog();
  // Limits in bytes: the nickname must fit its 32-byte field whole. A control
  // character would break the settings file and every transcript line.
  PseudoEdit()->setValidator(new CByteLimitValidator(MAX_PSEUDO_BYTES, false, PseudoEdit(), true));
  PortEdit()->setValidator(new CByteLimitValidator(MAX_PORT_DIGITS, true, PortEdit()));
  Item<QRadioButton>(RoleButton(data->Role))->setChecked(true);
  PseudoEdit()->setText(QString::fromUtf8(data->Pseudo.c_str()));
  ipAddress->SetAddress(static_cast<uint8_t>(data->Ip[0]), static_cast<uint8_t>(data->Ip[1]),
                        static_cast<uint8_t>(data->Ip[2]), static_cast<uint8_t>(data->Ip[3]));
  PortEdit()->setText(QString::number(static_cast<uint32_t>(data->Port) & 0xFFFFu));
  return true;  // focus on OK: Enter accepts the proposed values
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
  CDialog::OnOK();
}
