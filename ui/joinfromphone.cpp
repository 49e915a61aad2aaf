#include "ui/joinfromphone.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/qrcode.h"

namespace {
// Large enough for a phone to read across a desk, small enough for a laptop.
constexpr int MODULE_PIXELS = 6;
}  // namespace

CJoinFromPhoneDialog::CJoinFromPhoneDialog(const QStringList& addresses, QWidget* parent)
    : QDialog(parent), code(new QLabel(this)), text(new QLabel(this)) {
  setWindowTitle(QStringLiteral("Join from a phone"));
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(
      QStringLiteral("Scan the code with a phone's camera, or open the address in a browser on the same network. "
                     "The page joins this chat with nothing to install."),
      this);
  intro->setWordWrap(true);
  intro->setMinimumWidth(intro->fontMetrics().averageCharWidth() * 48);
  layout->addWidget(intro);
  if (addresses.size() > 1) {
    choice = new QComboBox(this);
    choice->addItems(addresses);
    choice->setAccessibleName(QStringLiteral("Address"));
    connect(choice, &QComboBox::currentTextChanged, this, &CJoinFromPhoneDialog::Show);
    layout->addWidget(choice);
  }
  code->setAlignment(Qt::AlignCenter);
  layout->addWidget(code, 0, Qt::AlignHCenter);
  text->setAlignment(Qt::AlignCenter);
  text->setTextFormat(Qt::PlainText);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  QFont large = text->font();
  large.setPointSizeF(large.pointSizeF() * 1.4);
  text->setFont(large);
  layout->addWidget(text);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  QPushButton* copy = buttons->addButton(QStringLiteral("Copy address"), QDialogButtonBox::ActionRole);
  connect(copy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(shown); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  buttons->button(QDialogButtonBox::Close)->setDefault(true);

  if (addresses.isEmpty()) {
    text->setText(QStringLiteral("This machine has no network address a phone could reach."));
    copy->setEnabled(false);
    return;
  }
  Show(addresses.front());
}

void CJoinFromPhoneDialog::Show(const QString& address) {
  shown = address;
  const QImage image = QrCodeImage(address, MODULE_PIXELS);
  code->setPixmap(QPixmap::fromImage(image));
  code->setAccessibleName(QStringLiteral("QR code of ") + address);
  text->setText(address);
}
