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

CJoinFromPhoneDialog::CJoinFromPhoneDialog(const Invitation& invitation, QWidget* parent)
    : QDialog(parent), invitation(invitation), intro(new QLabel(this)), code(new QLabel(this)), text(new QLabel(this)) {
  setWindowTitle(QStringLiteral("Join from a phone"));
  auto* layout = new QVBoxLayout(this);
  QString said = QStringLiteral(
      "Scan the code with a phone's camera, or open the address in a browser on the same network. "
      "The page joins this chat with nothing to install.");
  if (!invitation.key.isEmpty()) {
    said += QStringLiteral(
                "\n\nThe phone will first warn that the connection is not private: this chat has its own key, "
                "not one from an authority that browsers know. Press \"Advanced\", then \"Proceed\". The page "
                "then shows the key it was given: check that it is this chat's key, %1.")
                .arg(invitation.key);
  }
  intro->setText(said);
  intro->setTextFormat(Qt::PlainText);
  intro->setWordWrap(true);
  intro->setMinimumWidth(intro->fontMetrics().averageCharWidth() * 48);
  layout->addWidget(intro);
  if (invitation.pages.size() > 1) {
    choice = new QComboBox(this);
    choice->addItems(invitation.pages);
    choice->setAccessibleName(QStringLiteral("Address"));
    connect(choice, &QComboBox::currentIndexChanged, this, &CJoinFromPhoneDialog::Show);
    layout->addWidget(choice);
  }
  code->setAlignment(Qt::AlignCenter);
  layout->addWidget(code, 0, Qt::AlignHCenter);
  for (QLabel* label : {text, plain = invitation.plainPages.isEmpty() ? nullptr : new QLabel(this)}) {
    if (label == nullptr) continue;
    label->setAlignment(Qt::AlignCenter);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    layout->addWidget(label);
  }
  QFont large = text->font();
  large.setPointSizeF(large.pointSizeF() * 1.4);
  text->setFont(large);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  QPushButton* copy = buttons->addButton(QStringLiteral("Copy address"), QDialogButtonBox::ActionRole);
  connect(copy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(shown); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  buttons->button(QDialogButtonBox::Close)->setDefault(true);

  if (invitation.pages.isEmpty()) {
    text->setText(QStringLiteral("This machine has no network address a phone could reach."));
    copy->setEnabled(false);
    return;
  }
  Show(0);
}

QString CJoinFromPhoneDialog::Said() const {
  return intro->text() + "\n" + text->text() + (plain ? "\n" + plain->text() : QString());
}

void CJoinFromPhoneDialog::Show(int index) {
  if (index < 0 || index >= invitation.pages.size()) return;
  shown = invitation.pages[index];
  const QImage image = QrCodeImage(shown, MODULE_PIXELS);
  code->setPixmap(QPixmap::fromImage(image));
  code->setAccessibleName(QStringLiteral("QR code of ") + shown);
  text->setText(shown);
  // Offered beside, never in the code: the encrypted page is the one to scan.
  if (plain && index < invitation.plainPages.size()) {
    plain->setText(QStringLiteral("Without the warning, but not encrypted (anyone on the network can read "
                                  "it): %1")
                       .arg(invitation.plainPages[index]));
  }
}
