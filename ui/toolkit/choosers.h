#pragma once
// The modal colour and face choosers.

#include <QDialog>
#include <cstdint>
#include <string>

class QListWidget;
class QLabel;

// Opens at `initial`; on OK stores the chosen colour (red in the lowest byte) and
// returns true; on cancel returns false and leaves `chosen` alone.
bool ChooseColor(QWidget* parent, uint32_t initial, uint32_t& chosen);

// Lets the user pick a face name and nothing else (no style, size or effects).
// On OK stores the face's family name (UTF-8) and returns true.
bool ChooseFace(QWidget* parent, std::string& face);

// The family name alone: the font list tells families of several foundries
// apart as "C059 [urw]", a name no other machine knows.
QString FamilyName(const QString& listed);

// The face chooser's dialog, public so that it can be driven like any dialog.
class CFaceChooser : public QDialog {
  Q_OBJECT

 public:
  explicit CFaceChooser(QWidget* parent);
  QString Face() const;
  // Selects `face` in the list; false when it is not there.
  bool Select(const QString& face);

 private:
  QListWidget* list_;
  QLabel* sample_;
};
