// Writes the program's icon as PNG files in the usual sizes, for the
// desktop entry of the package: OUTDIR/<n>x<n>/apps/raidgui.png.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

#include "app/raidgui/tray_monitor.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: raidgui_icons OUTDIR\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QIcon icon = raid::HealthIcon(raid::Health::Healthy);
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString dir = QString("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
    if (!QDir().mkpath(dir) || !icon.pixmap(size, size).save(dir + "/raidgui.png", "PNG")) {
      std::fprintf(stderr, "raidgui_icons: cannot write %s\n", qPrintable(dir + "/raidgui.png"));
      return 1;
    }
  }
  return 0;
}
