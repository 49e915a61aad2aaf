#pragma once
// The program's resources: dialog templates, icon, button images, strings.

#include <QIcon>
#include <QString>

#include "ui/toolkit/toolkit.h"

const DialogTemplate& ChatWindowTemplate();  // 102
const DialogTemplate& InitDialogTemplate();  // 156

// A button image with its 1x and 2x pixmaps; a null icon for an unknown id.
QIcon LoadBitmapResource(int id);
// The pixel size of a button image at 1x.
int BitmapResourceSize(int id);
// The application icon at every size it is drawn in.
QIcon LoadIconResource(int id);
// A string resource; empty for an unknown id.
QString LoadStringResource(int id);
