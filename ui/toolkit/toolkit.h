#pragma once
// The small dialog framework the windows are written against: dialogs built
// from a template laid out in dialog units, run modally and ended with a result;
// message boxes.

#include <QDialog>
#include <QFont>
#include <map>
#include <vector>

class CControlKeys;
class QRect;
class QWidget;

// Results of a modal run.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int DIALOG_FAILED = -1;

// Kinds of control a template can hold.
enum class ControlKind {
  PushButton,
  Edit,
  StaticText,
  GroupBox,
  RadioButton,
  RichEdit,
  IpAddress,
  ListBox,
  CheckBox,
};

// Control styles.
enum ControlStyle : unsigned {
  // Reached with Tab, in template order. A flat button takes the focus from
  // Tab only: a click on it leaves the keyboard where the typing is.
  CS_TABSTOP = 1u << 0,
  CS_DEFAULT = 1u << 1,  // the dialog's default button
  CS_FLAT = 1u << 2,     // push button that shows an image
  CS_MULTILINE = 1u << 3,
  CS_READONLY = 1u << 4,
  CS_VSCROLL = 1u << 5,
  CS_DIGITS = 1u << 6,  // edit accepting 0-9 only
  CS_BORDER = 1u << 7,
  CS_CHECKABLE = 1u << 8,  // push button that stays pressed while on
};

// What a control tells beyond the text it shows: the name and description a
// screen reader speaks, its tooltip, its key. A control that shows a text of
// its own (a button, a radio button) is named by it.
struct ControlHelp {
  const char* name = nullptr;
  const char* description = nullptr;  // when absent, the tooltip is spoken
  const char* tip = nullptr;          // when absent, a control with keys shows its name
  // Push button: the key (such as "Ctrl+B") that clicks it wherever the focus
  // is in the dialog; its tooltip then ends in " (Ctrl+B)".
  const char* keys = nullptr;
  // Static text: the control it labels, which takes its text for name.
  int labels = 0;
};

struct DialogControl {
  int id;  // 0 for controls nobody refers to
  ControlKind kind;
  const char* text;
  int x, y, cx, cy;  // dialog units
  unsigned style;
  ControlHelp help = {};
};

struct DialogTemplate {
  int cx, cy;  // dialog units
  const char* caption;
  const char* fontFace;
  int fontPointSize;
  std::vector<DialogControl> controls;  // in tab order
};

// The font a template's dialog units are measured in.
QFont DialogFont(const DialogTemplate& tpl);

// Horizontal and vertical dialog base units of a font, in pixels: the average
// width of the Latin letters and the line height.
struct DialogUnits {
  int baseX = 0;
  int baseY = 0;
  explicit DialogUnits(const QFont& font);
  int X(int units) const { return (units * baseX + 2) / 4; }
  int Y(int units) const { return (units * baseY + 4) / 8; }
};

// A modal dialog built from a template. Subclasses override the hooks.
class CDialog : public QDialog {
 public:
  CDialog(const DialogTemplate& tpl, QWidget* parent);
  ~CDialog() override;

  // Builds the controls and runs OnInitDialog, then runs the dialog modally unless
  // it was ended meanwhile. Returns the value given to EndDialog.
  int DoModal();
  // Builds the controls (once) and binds them through DoDataExchange; DoModal does
  // this itself. Lets a window be used without a modal run.
  void CreateControls();
  // Ends the dialog with `result`. Called during OnInitDialog it takes effect when
  // OnInitDialog returns, and the dialog is never shown.
  void EndDialog(int result);
  bool Ended() const { return ended_; }
  int Result() const { return result_; }

  QWidget* GetDlgItem(int id) const;
  template <class T>
  T* Item(int id) const {
    return qobject_cast<T*>(GetDlgItem(id));
  }
  const DialogUnits& Units() const { return units_; }

  virtual bool OnInitDialog();  // true: focus goes to the first tab stop
  virtual void OnOK();          // default: EndDialog(IDOK)
  virtual void OnCancel();      // default: EndDialog(IDCANCEL)

 protected:
  virtual void DoDataExchange() {}
  // A push button other than OK and cancel was clicked.
  virtual void OnCommand(int /*id*/) {}

  // Enter, Escape and the close box arrive here.
  void accept() override;
  void reject() override;

 private:
  void FocusFirstTabStop();
  // Gives a control its name, description, tooltip and key.
  void ApplyHelp(QWidget* w, const ControlHelp& help);

  DialogTemplate template_;
  DialogUnits units_;
  std::map<int, QWidget*> items_;
  std::vector<QWidget*> tabOrder_;
  CControlKeys* keys_ = nullptr;  // made for the first control with keys
  bool created_ = false;
  bool initialising_ = false;
  bool ended_ = false;
  int result_ = DIALOG_FAILED;
};

// Draws the mark of the keyboard focus on `widget` around `area` while the
// widget has the focus, for controls whose style shows none of its own (flat
// buttons, rich-text boxes). Called from the widget's painting, after the rest.
void PaintFocusMark(QWidget* widget, const QRect& area);

// Message box with an OK button; returns when the user closes it.
void MessageBox(QWidget* parent, const QString& text, const QString& caption, bool errorIcon);
