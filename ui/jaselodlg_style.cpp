// The five style buttons: face, colour, bold, italic, underline. The style
// lives in the window's settings; the input box shows it as the user types.

#include <QPushButton>

#include "config/configfile.h"
#include "ui/toolkit/choosers.h"
#include "ui/jaselodlg.h"
#include "ui/resource.h"
#include "ui/resources.h"
#include "ui/toolkit/richedit.h"

void CJaseloDlg::LoadButtonBitmaps() {
  static constexpr int ids[8] = {IDB_FONT,       IDB_COLOR,     IDB_BOLD_ON,      IDB_BOLD_OFF,
                                 IDB_ITALIC_ON,  IDB_ITALIC_OFF, IDB_UNDERLINE_ON, IDB_UNDERLINE_OFF};
  for (int i = 0; i < 8; ++i) {
    bitmaps[i] = LoadBitmapResource(ids[i]);
    bitmapIds[i] = ids[i];
  }
  bitmapsLoaded = true;
}

void CJaseloDlg::SetButtonImage(int buttonId, ImageIndex image) {
  QPushButton* button = Button(buttonId);
  button->setIcon(bitmaps[image]);
  const int size = BitmapResourceSize(bitmapIds[image]);
  button->setIconSize(QSize(size, size));
  shownImages[buttonId - IDC_FONT] = bitmapIds[image];
}

int CJaseloDlg::ShownImage(int buttonId) const {
  if (buttonId < IDC_FONT || buttonId > IDC_UNDERLINE) return 0;
  return shownImages[buttonId - IDC_FONT];
}

void CJaseloDlg::SetButtonBitmaps() {
  SetButtonImage(IDC_FONT, FONT);
  SetButtonImage(IDC_COLOR, COLOR);
  SetButtonImage(IDC_BOLD, BOLD_OFF);
  SetButtonImage(IDC_ITALIC, ITALIC_OFF);
  SetButtonImage(IDC_UNDERLINE, UNDERLINE_OFF);
}

void CJaseloDlg::Toggle(bool& flag, uint32_t mask, uint32_t effect, int buttonId, ImageIndex on,
                        ImageIndex off) {
  inputFormat = CharFormat{};
  inputFormat.Mask = mask;
  inputFormat.Effects = flag ? 0 : effect;
  inputBox->SetDefaultCharFormat(inputFormat);
  if (bitmapsLoaded) SetButtonImage(buttonId, flag ? off : on);
  flag = !flag;
}

void CJaseloDlg::OnToggleBold() {
  Toggle(settings.Bold, CFM_BOLD, CFE_BOLD, IDC_BOLD, BOLD_ON, BOLD_OFF);
}

void CJaseloDlg::OnToggleItalic() {
  Toggle(settings.Italic, CFM_ITALIC, CFE_ITALIC, IDC_ITALIC, ITALIC_ON, ITALIC_OFF);
}

void CJaseloDlg::OnToggleUnderline() {
  Toggle(settings.Underline, CFM_UNDERLINE, CFE_UNDERLINE, IDC_UNDERLINE, UNDERLINE_ON, UNDERLINE_OFF);
}

void CJaseloDlg::OnChooseFont() {
  std::string face;
  if (!ChooseFace(this, face)) return;
  CopySettingText(settings.Police, face);
  inputFormat = CharFormat{};
  inputFormat.Mask = CFM_FACE;
  SetFaceName(inputFormat, settings.Police);
  inputBox->SetDefaultCharFormat(inputFormat);
}

void CJaseloDlg::OnChooseColor() {
  uint32_t color = 0;
  // The chooser opens at black, not at the current colour.
  if (!ChooseColor(this, 0, color)) return;
  settings.Color = color;
  inputFormat = CharFormat{};
  inputFormat.Mask = CFM_COLOR;
  inputFormat.Color = color;
  inputBox->SetDefaultCharFormat(inputFormat);
}

void CJaseloDlg::ApplySettings() {
  OnToggleBold();
  OnToggleItalic();
  OnToggleUnderline();
  inputBox->LimitText(MAX_INPUT_BYTES);
  inputFormat = CharFormat{};
  inputFormat.Mask = CFM_FACE | CFM_COLOR | CFM_HEIGHT;
  SetFaceName(inputFormat, settings.Police);
  inputFormat.Color = settings.Color;
  inputFormat.Height = TEXT_HEIGHT_TWIPS;
  inputBox->SetDefaultCharFormat(inputFormat);
  transcriptFormat = CharFormat{};
  transcriptFormat.Mask = CFM_HEIGHT;
  transcriptFormat.Height = TEXT_HEIGHT_TWIPS;
  transcript->SetDefaultCharFormat(transcriptFormat);
}
