#include "ui/picturepreview.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CPicturePreview::CPicturePreview(const QImage& picture, const QString& with, QWidget* parent)
    : QDialog(parent), picture(picture) {
  setWindowTitle(QStringLiteral("Share a picture"));
  auto* layout = new QVBoxLayout(this);
  auto* caption = new QLabel(QStringLiteral("Share this picture with %1?").arg(with), this);
  caption->setTextFormat(Qt::PlainText);
  layout->addWidget(caption);
  auto* shown = new QLabel(this);
  // At most a third of a common screen each way: the dialog stays small.
  shown->setPixmap(QPixmap::fromImage(picture.width() > 480 || picture.height() > 360
                                          ? picture.scaled(480, 360, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                                          : picture));
  shown->setAlignment(Qt::AlignCenter);
  shown->setAccessibleName(QStringLiteral("The picture, %1 by %2 pixels").arg(picture.width()).arg(picture.height()));
  layout->addWidget(shown);
  auto* buttons = new QDialogButtonBox(this);
  send = buttons->addButton(QStringLiteral("Send"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  send->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}
