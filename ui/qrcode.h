#pragma once
// A QR code drawn for a screen, to be read by a phone's camera: black
// modules on white, each `moduleSize` pixels, with the four-module quiet zone
// that readers need around it.

#include <QImage>
#include <QString>

// A null image when the text does not fit a QR code.
QImage QrCodeImage(const QString& text, int moduleSize);
