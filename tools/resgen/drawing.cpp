#include "drawing.h"

#include <cmath>
#include <initializer_list>
#include <utility>

namespace {

// The 16 colours, in the usual order, then the icon's transparent entry.
enum Colour : int {
  Black,
  Maroon,
  Green,
  Olive,
  Navy,
  Purple,
  Teal,
  Silver,
  Grey,
  Red,
  Lime,
  Yellow,
  Blue,
  Fuchsia,
  Aqua,
  White,
  Transparent,
  Background = -1,  // the image's background colour
};

const QRgb kPalette[17] = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),     qRgb(128, 128, 0),   qRgb(0, 0, 128),
    qRgb(128, 0, 128),   qRgb(0, 128, 128), qRgb(192, 192, 192), qRgb(128, 128, 128), qRgb(255, 0, 0),
    qRgb(0, 255, 0),     qRgb(255, 255, 0), qRgb(0, 0, 255),     qRgb(255, 0, 255),   qRgb(0, 255, 255),
    qRgb(255, 255, 255), qRgba(0, 0, 0, 0),
};

struct Point {
  double x, y;
};

struct Shape {
  enum Kind { Rect, Ellipse, Polygon } kind;
  int colour;
  double a, b, c, d;  // Rect: x0, y0, x1, y1; Ellipse: cx, cy, rx, ry
  std::vector<Point> points;

  bool Contains(double x, double y) const {
    switch (kind) {
      case Rect: return x >= a && x < c && y >= b && y < d;
      case Ellipse: {
        const double dx = (x - a) / c, dy = (y - b) / d;
        return dx * dx + dy * dy <= 1.0;
      }
      case Polygon: {
        bool inside = false;
        for (size_t i = 0, j = points.size() - 1; i < points.size(); j = i++) {
          const Point& p = points[i];
          const Point& q = points[j];
          if ((p.y > y) != (q.y > y) && x < (q.x - p.x) * (y - p.y) / (q.y - p.y) + p.x) inside = !inside;
        }
        return inside;
      }
    }
    return false;
  }
};

Shape R(int colour, double x0, double y0, double x1, double y1) { return {Shape::Rect, colour, x0, y0, x1, y1, {}}; }
Shape E(int colour, double cx, double cy, double rx, double ry) { return {Shape::Ellipse, colour, cx, cy, rx, ry, {}}; }
Shape P(int colour, std::initializer_list<Point> points) { return {Shape::Polygon, colour, 0, 0, 0, 0, points}; }

// Samples each pixel's centre; the last shape that holds it gives its colour.
QImage Render(int designSize, int pixels, int background, const std::vector<Shape>& shapes) {
  QImage image(pixels, pixels, QImage::Format_Indexed8);
  QList<QRgb> table(std::begin(kPalette), std::end(kPalette));
  if (background != Transparent) table.removeLast();
  image.setColorTable(table);
  const double unit = static_cast<double>(designSize) / pixels;
  for (int y = 0; y < pixels; ++y) {
    uchar* line = image.scanLine(y);
    for (int x = 0; x < pixels; ++x) {
      const double px = (x + 0.5) * unit, py = (y + 0.5) * unit;
      int colour = background;
      for (const Shape& s : shapes)
        if (s.Contains(px, py)) colour = s.colour == Background ? background : s.colour;
      line[x] = static_cast<uchar>(colour);
    }
  }
  return image;
}

std::vector<Shape> BoldB() {
  return {
      R(Black, 8, 6, 13, 26),  // stem
      R(Black, 8, 6, 18, 16),
      E(Black, 18, 11, 5, 5),  // upper bowl
      R(Black, 8, 15, 19, 26),
      E(Black, 19, 20.5, 5.5, 5.5),  // lower bowl
      R(Background, 13, 9.5, 17.5, 12.5),
      E(Background, 17.5, 11, 2, 1.5),
      R(Background, 13, 18, 18.5, 23),
      E(Background, 18.5, 20.5, 2.5, 2.5),
  };
}

std::vector<Shape> ItalicI() {
  return {
      P(Black, {{17, 6}, {20, 6}, {15, 26}, {12, 26}}),              // stem
      P(Black, {{14, 6}, {23, 6}, {22.375, 8.5}, {13.375, 8.5}}),    // top serif
      P(Black, {{9.625, 23.5}, {18.625, 23.5}, {18, 26}, {9, 26}}),  // foot serif
  };
}

std::vector<Shape> UnderlinedU() {
  return {
      E(Black, 16, 19, 7, 6.5),                                                                     // the bowl
      E(Background, 16, 19, 3.5, 3.5), R(Background, 12.5, 6, 19.5, 19), R(Black, 9, 6, 12.5, 19),  // stems
      R(Black, 19.5, 6, 23, 19),       R(Black, 7, 27, 25, 29.5),                                   // the underline
  };
}

std::vector<Shape> TwoTs() {
  return {
      R(Grey, 2, 2, 14, 5), R(Grey, 6.5, 2, 9.5, 16),   // the T behind
      R(Black, 9, 8, 22, 11), R(Black, 14, 8, 17, 22),  // the T in front
  };
}

std::vector<Shape> PaperClip() {
  // Two loops of wire, the inner one open at its end; upright, since a slant
  // is too fine for 24 pixels.
  return {
      E(Navy, 12, 7, 6, 5),                                   // the outer loop's top and bottom
      E(Navy, 12, 18, 6, 5),          R(Navy, 6, 7, 18, 18),  // its sides
      E(Background, 12, 7, 4.4, 3.4), E(Background, 12, 18, 4.4, 3.4), R(Background, 7.6, 7, 16.4, 18),
      E(Navy, 12, 9, 3.6, 3.2),  // the inner loop, from the top
      R(Navy, 8.4, 9, 15.6, 17),      E(Background, 12, 9, 2, 1.6),    R(Background, 10, 9, 14, 17.5),
      R(Background, 7.6, 16, 10, 19),  // its open end
  };
}

std::vector<Shape> Palette() {
  return {
      E(Olive, 14, 10, 9.5, 8),  // the board with its rim
      E(Yellow, 14, 10, 8.5, 7),
      E(Olive, 17, 13.5, 2.5, 2),  // thumb hole
      E(Background, 17, 13.5, 1.8, 1.3),
      E(Red, 9.5, 7.5, 1.7, 1.7),  // the dots
      E(Green, 13.5, 4.8, 1.7, 1.7),
      E(Blue, 18.5, 5.5, 1.7, 1.7),
      E(Fuchsia, 21, 10, 1.7, 1.7),
      P(Black, {{4.2, 12}, {6.8, 12}, {3.6, 23}, {1, 23}}),   // A, left leg
      P(Black, {{4.2, 12}, {6.8, 12}, {11, 23}, {8.4, 23}}),  // right leg
      R(Black, 3.4, 17.8, 8.6, 19.6),                         // bar
  };
}

std::vector<Shape> Bubbles(double line) {
  // Two speech bubbles: a blue one behind, a white one with text lines in front.
  return {
      E(Navy, 12, 11, 11, 8.5),
      P(Navy, {{4, 14}, {2, 24}, {12, 18}}),
      E(Aqua, 12, 11, 11 - line, 8.5 - line),
      P(Aqua, {{4 + line, 15}, {3.5, 21}, {10, 17.2}}),
      E(Black, 20, 19.5, 11, 8.5),
      P(Black, {{22, 23.5}, {31, 31.5}, {14.5, 25.5}}),
      E(White, 20, 19.5, 11 - line, 8.5 - line),
      P(White, {{22, 24.5}, {31 - 3 * line, 31.5 - 2.5 * line}, {17, 26 - line}}),
      R(Navy, 14, 15, 26, 17),  // the text lines
      R(Navy, 13, 19, 27, 21),
      R(Navy, 13, 23, 23, 25),
  };
}

}  // namespace

QImage DrawBitmap(int id, int scale) {
  switch (id) {
    case 136: return Render(32, 32 * scale, Silver, BoldB());
    case 137: return Render(32, 32 * scale, Blue, BoldB());
    case 138: return Render(32, 32 * scale, Silver, ItalicI());
    case 139: return Render(32, 32 * scale, Blue, ItalicI());
    case 140: return Render(32, 32 * scale, Silver, UnderlinedU());
    case 141: return Render(32, 32 * scale, Blue, UnderlinedU());
    case 154: return Render(24, 24 * scale, Silver, Palette());
    case 155: return Render(24, 24 * scale, Silver, TwoTs());
    case 157: return Render(24, 24 * scale, Silver, PaperClip());
    default: return {};
  }
}

QImage DrawIcon(int size) {
  // Outlines stay one pixel wide at every size.
  return Render(32, size, Transparent, Bubbles(32.0 / size));
}

std::vector<ResourceImage> DrawAllResources() {
  std::vector<ResourceImage> all;
  for (int id : {136, 137, 138, 139, 140, 141, 154, 155, 157}) {
    all.push_back({QStringLiteral("bitmap%1.png").arg(id), DrawBitmap(id, 1)});
    all.push_back({QStringLiteral("bitmap%1@2x.png").arg(id), DrawBitmap(id, 2)});
  }
  // The window uses them all; the hicolor theme of the desktop gets them installed.
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    all.push_back({QStringLiteral("icon128-%1.png").arg(size), DrawIcon(size)});
  return all;
}
