#include "ui/toolkit/toolkit.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>

#include "ui/toolkit/controlkeys.h"
#include "ui/toolkit/ipaddressctrl.h"
#include "ui/toolkit/listbox.h"
#include "ui/toolkit/pushbutton.h"
#include "ui/toolkit/richedit.h"
#include "ui/toolkit/textlimit.h"

QFont DialogFont(const DialogTemplate& tpl) {
  QFont font;
  // The template's face where it is installed, else a metric-compatible sans face.
  QStringList families{QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")};
  const QString face = QString::fromUtf8(tpl.fontFace);
  if (QFontDatabase::hasFamily(face)) families.prepend(face);
  font.setFamilies(families);
  font.setPointSize(tpl.fontPointSize);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX = (letters / 26 + 1) / 2;
  baseY = metrics.height();
  if (baseX < 1) baseX = 1;
  if (baseY < 1) baseY = 1;
}

CDialog::CDialog(const DialogTemplate& tpl, QWidget* parent)
    : QDialog(parent), template_(tpl), units_(DialogFont(tpl)) {
  setFont(DialogFont(tpl));
  setWindowTitle(QString::fromUtf8(tpl.caption));
  // Caption and close box; no minimise or maximise box; fixed size.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(units_.X(tpl.cx), units_.Y(tpl.cy));
  setSizeGripEnabled(false);
}

CDialog::~CDialog() = default;

void CDialog::CreateControls() {
  if (created_) return;
  created_ = true;
  QButtonGroup* radios = nullptr;
  std::vector<QWidget*> made;  // by template index
  for (const DialogControl& c : template_.controls) {
    const QString text = QString::fromUtf8(c.text ? c.text : "");
    QWidget* w = nullptr;
    switch (c.kind) {
      case ControlKind::PushButton: {
        auto* b = new CPushButton(text, this);
        b->setDefault((c.style & CS_DEFAULT) != 0);
        b->setAutoDefault((c.style & CS_FLAT) == 0);
        b->setFlat((c.style & CS_FLAT) != 0);
        b->setCheckable((c.style & CS_CHECKABLE) != 0);
        const int id = c.id;
        connect(b, &QPushButton::clicked, this, [this, id] {
          if (id == IDOK) OnOK();
          else if (id == IDCANCEL) OnCancel();
          else OnCommand(id);
        });
        w = b;
        break;
      }
      case ControlKind::Edit: {
        auto* e = new QLineEdit(this);
        e->setFrame((c.style & CS_BORDER) != 0);
        if (c.style & CS_DIGITS) e->setValidator(new CByteLimitValidator(32767, true, e));
        w = e;
        break;
      }
      case ControlKind::StaticText: {
        auto* l = new QLabel(text, this);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        w = l;
        break;
      }
      case ControlKind::GroupBox:
        w = new QGroupBox(text, this);
        w->lower();
        break;
      case ControlKind::RadioButton: {
        auto* r = new QRadioButton(text, this);
        if (!radios) radios = new QButtonGroup(this);
        radios->addButton(r, c.id);
        w = r;
        break;
      }
      case ControlKind::RichEdit: {
        auto* r = new CRichEdit(this);
        r->setReadOnly((c.style & CS_READONLY) != 0);
        r->setVerticalScrollBarPolicy((c.style & CS_VSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        r->setFrameShape((c.style & CS_BORDER) ? QFrame::StyledPanel : QFrame::NoFrame);
        w = r;
        break;
      }
      case ControlKind::IpAddress: w = new CIPAddressCtrl(this); break;
      case ControlKind::ListBox: w = new CListBox(this); break;
      case ControlKind::CheckBox: w = new QCheckBox(text, this); break;
    }
    w->setGeometry(units_.X(c.x), units_.Y(c.y), units_.X(c.cx), units_.Y(c.cy));
    if (c.style & CS_TABSTOP) {
      w->setFocusPolicy((c.style & CS_FLAT) ? Qt::TabFocus : Qt::StrongFocus);
      tabOrder_.push_back(w);
    } else if (c.kind == ControlKind::PushButton || c.kind == ControlKind::StaticText ||
               c.kind == ControlKind::GroupBox) {
      w->setFocusPolicy(Qt::NoFocus);
    } else {
      w->setFocusPolicy(Qt::ClickFocus);
    }
    if (c.id != 0) {
      w->setObjectName(QStringLiteral("control%1").arg(c.id));
      items_[c.id] = w;
    }
    ApplyHelp(w, c.help);
    made.push_back(w);
  }
  // Labels are tied once every control exists: a label may stand before or
  // after the control it names.
  for (size_t i = 0; i < made.size(); ++i) {
    auto* label = qobject_cast<QLabel*>(made[i]);
    const int labelled = template_.controls[i].help.labels;
    if (label && labelled != 0) label->setBuddy(GetDlgItem(labelled));
  }
  for (size_t i = 1; i < tabOrder_.size(); ++i) QWidget::setTabOrder(tabOrder_[i - 1], tabOrder_[i]);
  DoDataExchange();
}

void CDialog::ApplyHelp(QWidget* w, const ControlHelp& help) {
  const QString name = QString::fromUtf8(help.name ? help.name : "");
  if (!name.isEmpty()) {
    if (auto* ip = qobject_cast<CIPAddressCtrl*>(w)) ip->SetAccessibleName(name);
    else w->setAccessibleName(name);
  }
  if (help.description) w->setAccessibleDescription(QString::fromUtf8(help.description));
  QString tip = help.tip ? QString::fromUtf8(help.tip) : QString();
  auto* button = qobject_cast<QAbstractButton*>(w);
  if (help.keys && button) {
    const QKeySequence keys = QKeySequence::fromString(QString::fromUtf8(help.keys), QKeySequence::PortableText);
    if (!keys_) keys_ = new CControlKeys(this);
    keys_->Add(keys, button);
    tip = QStringLiteral("%1 (%2)").arg(tip.isEmpty() ? name : tip, keys.toString(QKeySequence::NativeText));
  }
  if (!tip.isEmpty()) w->setToolTip(tip);
}

int CDialog::DoModal() {
  CreateControls();
  ended_ = false;
  result_ = DIALOG_FAILED;
  initialising_ = true;
  const bool focusFirst = OnInitDialog();
  initialising_ = false;
  if (ended_) return result_;
  if (focusFirst) FocusFirstTabStop();
  const int r = exec();
  return ended_ ? result_ : r;
}

void CDialog::FocusFirstTabStop() {
  for (QWidget* w : tabOrder_) {
    if (w->isEnabled()) {
      w->setFocus(Qt::OtherFocusReason);
      return;
    }
  }
}

bool CDialog::OnInitDialog() { return true; }

void CDialog::OnOK() { EndDialog(IDOK); }

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int result) {
  ended_ = true;
  result_ = result;
  if (!initialising_) QDialog::done(result);
}

void CDialog::accept() { OnOK(); }

void CDialog::reject() { OnCancel(); }

QWidget* CDialog::GetDlgItem(int id) const {
  auto it = items_.find(id);
  return it == items_.end() ? nullptr : it->second;
}

void PaintFocusMark(QWidget* widget, const QRect& area) {
  if (!widget->hasFocus()) return;
  QPainter painter(widget);
  QPen pen(widget->palette().color(QPalette::Active, QPalette::Highlight));
  pen.setWidth(2);
  pen.setJoinStyle(Qt::MiterJoin);
  painter.setPen(pen);
  painter.drawRect(QRectF(area).adjusted(1, 1, -1, -1));
}

void MessageBox(QWidget* parent, const QString& text, const QString& caption, bool errorIcon) {
  QMessageBox box(errorIcon ? QMessageBox::Critical : QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
  box.exec();
}
