// Writes the program's icon as a PNG file for the desktop entry: zandor-icon SIZE OUT.png
#include <QImage>
#include <cstdio>
#include <cstdlib>

#include "widgets/AppIcon.h"

int main(int argc, char** argv) {
  const int size = argc == 3 ? std::atoi(argv[1]) : 0;
  if (size < 16 || size > 1024) {
    std::fprintf(stderr, "usage: zandor-icon SIZE OUT.png (SIZE 16 to 1024)\n");
    return 2;
  }
  return zandorui::DrawAppIcon(size).save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
}
