// trv4-icon-export OUTDIR SIZE...: writes the program's icon as OUTDIR/hicolor/NxN/apps/trv4.png
// for each SIZE N and as OUTDIR/hicolor/scalable/apps/trv4.svg, laid out as the desktop's icon
// theme wants them, from the same painting as the program's window icon.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>

#include "app/app_icon.h"

namespace {

// Creates OUTDIR/hicolor/SUBDIR/apps and returns the path of the icon file NAME in it.
QString iconPath(const QString& outDir, const QString& subDir, const QString& name) {
  const QString dir = outDir + "/hicolor/" + subDir + "/apps";
  if (!QDir().mkpath(dir)) return {};
  return dir + "/" + name;
}

bool writePng(const QString& outDir, int size) {
  const QString path = iconPath(outDir, QString("%1x%1").arg(size), "trv4.png");
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    trv4::paintAppIcon(painter, size);
  }
  return !path.isEmpty() && image.save(path, "PNG");
}

// The drawing's own 32 x 32 grid as the view box, 32 pixels at 96 dots an inch as its size.
bool writeSvg(const QString& outDir) {
  const QString path = iconPath(outDir, "scalable", "trv4.svg");
  if (path.isEmpty()) return false;
  QSvgGenerator svg;
  svg.setFileName(path);
  svg.setSize(QSize(32, 32));
  svg.setViewBox(QRectF(0, 0, 32, 32));
  svg.setResolution(96);
  svg.setTitle("TRV-4 Support Software");
  svg.setDescription("Five terminals joined by blue lines: a network of scales");
  QPainter painter;
  if (!painter.begin(&svg)) return false;
  trv4::paintAppIcon(painter, 32);
  return painter.end();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: trv4-icon-export OUTDIR SIZE...\n");
    return 2;
  }
  // A build step: it never shows a window, and must run where there is no display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);

  const QString outDir = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    bool ok = false;
    const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
    if (!ok || size < 1 || size > 1024) {
      std::fprintf(stderr, "trv4-icon-export: bad size %s\n", argv[i]);
      return 2;
    }
    if (!writePng(outDir, size)) {
      std::fprintf(stderr, "trv4-icon-export: cannot write the %d-pixel icon in %s\n", size,
                   argv[1]);
      return 1;
    }
  }
  if (!writeSvg(outDir)) {
    std::fprintf(stderr, "trv4-icon-export: cannot write the SVG icon in %s\n", argv[1]);
    return 1;
  }
  return 0;
}
