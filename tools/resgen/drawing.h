#pragma once
// Draws the program's icon and button images from simple shapes, with hard edges
// in the 16-colour palette, at any scale. The same call always gives the same
// pixels, so the committed images can be checked against a fresh drawing.

#include <QImage>
#include <QString>
#include <vector>

struct ResourceImage {
  QString file;  // file name under res/
  QImage image;
};

// Every image the program loads, at 1x and 2x scale (button images) and at the
// icon sizes.
std::vector<ResourceImage> DrawAllResources();

// One button image (136-141, 154, 155, 157) at `scale` (1 or 2).
QImage DrawBitmap(int id, int scale);
// The application icon (128) at `size` pixels square.
QImage DrawIcon(int size);
