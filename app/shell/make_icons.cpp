// Build tool: writes the editor's icons as PNG files for the desktop's icon
// theme, drawn by the same functions the windows draw them with, so the menu
// entry and the file manager show what the title bar shows.
//
//   make-icons OUTPUT_DIR
//
// writes OUTPUT_DIR/hicolor/NxN/apps/tarn-editor.png and
// OUTPUT_DIR/hicolor/NxN/mimetypes/application-x-tarn-big.png for N in
// 16, 32, 48 and 256. It is never installed.
#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

#include "app/shell/resources.h"

namespace {

bool Write(const QString& folder, const QString& name, const QImage& image) {
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "make-icons: cannot create %s\n", qPrintable(folder));
    return false;
  }
  const QString path = folder + QLatin1Char('/') + name;
  if (image.save(path, "PNG")) return true;
  std::fprintf(stderr, "make-icons: cannot write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-icons OUTPUT_DIR\n");
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/hicolor/");
  for (const int size : {16, 32, 48, 256}) {
    const QString folder = root + QStringLiteral("%1x%1/").arg(size);
    if (!Write(folder + QStringLiteral("apps"), QStringLiteral("tarn-editor.png"),
               DrawApplicationIcon(size)) ||
        !Write(folder + QStringLiteral("mimetypes"), QStringLiteral("application-x-tarn-big.png"),
               DrawDocumentIcon(size)))
      return 1;
  }
  return 0;
}
