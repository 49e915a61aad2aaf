#pragma once
// IPv4 address control: four fields of 0 to 255 in one box. A blank field reads
// as 0; a dot or a third digit moves on to the next field.

#include <QFrame>
#include <array>
#include <cstdint>

class QLineEdit;

class CIPAddressCtrl : public QFrame {
  Q_OBJECT

 public:
  explicit CIPAddressCtrl(QWidget* parent);

  void SetAddress(uint8_t f0, uint8_t f1, uint8_t f2, uint8_t f3);
  // Fills the four fields, blank ones as 0; returns how many were not blank.
  int GetAddress(uint8_t& f0, uint8_t& f1, uint8_t& f2, uint8_t& f3) const;
  QLineEdit* Field(int i) const { return fields_[i]; }
  // Names the control for a screen reader, and each field as "<name>, part 1
  // of 4" and so on.
  void SetAccessibleName(const QString& name);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  int IndexOf(QObject* field) const;
  void MoveTo(int index, bool selectAll, bool atEnd);
  void Clamp(int index);

  std::array<QLineEdit*, 4> fields_{};
  int DotWidth() const;
};
