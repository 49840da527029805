// tollbook-icon-export DIR: writes the window's trefoil icon as PNG files in
// the freedesktop icon theme layout, DIR/SIZExSIZE/apps/tollbook.png for each
// size the desktop menus ask for. Run at build time; exits 1 when a file
// cannot be written, 2 on bad usage.
#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>

#include "ui/trefoil_icon.h"

int main(int argc, char** argv) {
  // Painting shapes into an image needs no application object and no display.
  if (argc != 2) {
    std::fprintf(stderr, "usage: tollbook-icon-export DIR\n");
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  for (const int size : {16, 32, 48, 64, 128}) {
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
    const QString file = folder + QStringLiteral("/tollbook.png");
    if (!QDir().mkpath(folder) || !tollbook::ui::TrefoilImage(size).save(file, "PNG")) {
      std::fprintf(stderr, "tollbook-icon-export: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
