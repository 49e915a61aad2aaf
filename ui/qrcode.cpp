#include "ui/qrcode.h"

#include <qrencode.h>

#include <QPainter>
#include <memory>

namespace {
constexpr int QUIET_ZONE = 4;
}

QImage QrCodeImage(const QString& text, int moduleSize) {
  const QByteArray bytes = text.toUtf8();
  // Medium error correction: read even off a screen with a glare on it.
  const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
      QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_M), &QRcode_free);
  if (!code) return {};
  const int side = (code->width + 2 * QUIET_ZONE) * moduleSize;
  QImage image(side, side, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  for (int y = 0; y < code->width; ++y) {
    for (int x = 0; x < code->width; ++x) {
      // The lowest bit of each module says whether it is dark.
      if ((code->data[y * code->width + x] & 1) == 0) continue;
      painter.fillRect((x + QUIET_ZONE) * moduleSize, (y + QUIET_ZONE) * moduleSize, moduleSize, moduleSize, Qt::black);
    }
  }
  return image;
}
