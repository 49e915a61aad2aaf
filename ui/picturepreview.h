#pragma once
// The picture a paste would share, shown first: "Send" shares it, "Cancel"
// (or Escape) drops it.

#include <QDialog>
#include <QImage>

class QPushButton;

class CPicturePreview : public QDialog {
  Q_OBJECT

 public:
  // `with`: whom it goes to, as the caption says it ("everybody", a name).
  CPicturePreview(const QImage& picture, const QString& with, QWidget* parent);

  const QImage& Picture() const { return picture; }
  QPushButton* SendButton() const { return send; }

 private:
  QImage picture;
  QPushButton* send;
};
