// Writes the program's images into a folder, or with --check compares the images
// in a folder with a fresh drawing and exits 1 on any difference.

#include <QDir>
#include <cstdio>
#include <cstring>

#include "drawing.h"

int main(int argc, char** argv) {
  const bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
  if (!(argc == 2 || check)) {
    std::fprintf(stderr, "usage: resgen [--check] RESOURCE_DIR\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[argc - 1]));
  int failures = 0;
  for (const ResourceImage& r : DrawAllResources()) {
    const QString path = dir.filePath(r.file);
    if (check) {
      const QImage committed(path);
      if (committed.isNull() ||
          committed.convertToFormat(QImage::Format_ARGB32) != r.image.convertToFormat(QImage::Format_ARGB32)) {
        std::fprintf(stderr, "differs from a fresh drawing: %s\n", qPrintable(path));
        ++failures;
      }
    } else if (!r.image.save(path, "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      ++failures;
    }
  }
  return failures ? 1 : 0;
}
