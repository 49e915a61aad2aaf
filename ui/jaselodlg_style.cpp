// The five style buttons: face, colour, bold, italic, underline. The style
// lives in the window's settings; the input box shows it as the user types.

#include <QPushButton>

#include "config/configfile.h"
#include "ui/jaselodlg.h"
#include "ui/resource.h"
#include "ui/resources.h"
#include "ui/toolkit/choosers.h"
#include "ui/toolkit/richedit.h"

void CJaseloDlg::LoadButtonBitmaps() {
  static constexpr int ids[8] = {IDB_FONT,      IDB_COLOR,      IDB_BOLD_ON,      IDB_BOLD_OFF,
                                 IDB_ITALIC_ON, IDB_ITALIC_OFF, IDB_UNDERLINE_ON, IDB_UNDERLINE_OFF};
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

void CJaseloDlg::ShowEffect(bool ChatSettings::*flag) {
  struct Look {
    bool ChatSettings::*flag;
    uint32_t mask, effect;
    int buttonId;
    ImageIndex on, off;
  };
  static constexpr Look looks[] = {
      {&ChatSettings::Bold, CFM_BOLD, CFE_BOLD, IDC_BOLD, BOLD_ON, BOLD_OFF},
      {&ChatSettings::Italic, CFM_ITALIC, CFE_ITALIC, IDC_ITALIC, ITALIC_ON, ITALIC_OFF},
      {&ChatSettings::Underline, CFM_UNDERLINE, CFE_UNDERLINE, IDC_UNDERLINE, UNDERLINE_ON, UNDERLINE_OFF}};
  for (const Look& look : looks) {
    if (look.flag != flag) continue;
    const bool on = settings.*flag;
    inputFormat = CharFormat{};
    inputFormat.Mask = look.mask;
    inputFormat.Effects = on ? look.effect : 0;
    inputBox->SetDefaultCharFormat(inputFormat);
    // Pressed while on: a screen reader tells the state the image shows.
    Button(look.buttonId)->setChecked(on);
    if (bitmapsLoaded) SetButtonImage(look.buttonId, on ? look.on : look.off);
  }
}

void CJaseloDlg::Toggle(bool ChatSettings::*flag) {
  settings.*flag = !(settings.*flag);
  ShowEffect(flag);
}

void CJaseloDlg::OnToggleBold() { Toggle(&ChatSettings::Bold); }

void CJaseloDlg::OnToggleItalic() { Toggle(&ChatSettings::Italic); }

void CJaseloDlg::OnToggleUnderline() { Toggle(&ChatSettings::Underline); }

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
  ShowEffect(&ChatSettings::Bold);
  ShowEffect(&ChatSettings::Italic);
  ShowEffect(&ChatSettings::Underline);
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
