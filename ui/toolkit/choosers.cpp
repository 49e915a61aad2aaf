#include "ui/toolkit/choosers.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "ui/toolkit/charformat.h"

bool ChooseColor(QWidget* parent, uint32_t initial, uint32_t& chosen) {
  QColorDialog dialog(QColor(ColorRed(initial), ColorGreen(initial), ColorBlue(initial)), parent);
  dialog.setOptions(QColorDialog::DontUseNativeDialog);
  if (dialog.exec() != QDialog::Accepted) return false;
  const QColor c = dialog.selectedColor();
  chosen = MakeColor(c.red(), c.green(), c.blue());
  return true;
}

bool ChooseFace(QWidget* parent, std::string& face) {
  CFaceChooser dialog(parent);
  if (dialog.exec() != QDialog::Accepted || dialog.Face().isEmpty()) return false;
  face = FamilyName(dialog.Face()).toStdString();
  return true;
}

QString FamilyName(const QString& listed) {
  const qsizetype open = listed.lastIndexOf(QStringLiteral(" ["));
  if (open <= 0 || !listed.endsWith(u']')) return listed;
  return listed.left(open);
}

CFaceChooser::CFaceChooser(QWidget* parent) : QDialog(parent), list_(new QListWidget(this)), sample_(new QLabel(this)) {
  setWindowTitle(tr("Font"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  list_->addItems(QFontDatabase::families());
  sample_->setText(QStringLiteral("AaBbYyZz"));
  sample_->setMinimumHeight(40);
  sample_->setAlignment(Qt::AlignCenter);
  sample_->setFrameShape(QFrame::StyledPanel);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addWidget(sample_);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  connect(list_, &QListWidget::currentTextChanged, this, [this](const QString& family) {
    QFont f = sample_->font();
    f.setFamilies(QStringList{family});
    sample_->setFont(f);
  });
  resize(260, 320);
}

QString CFaceChooser::Face() const {
  const QListWidgetItem* item = list_->currentItem();
  return item ? item->text() : QString();
}

bool CFaceChooser::Select(const QString& face) {
  const auto found = list_->findItems(face, Qt::MatchExactly);
  if (found.isEmpty()) return false;
  list_->setCurrentItem(found.first());
  return true;
}
