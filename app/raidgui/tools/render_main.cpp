// Renders the main window's pages (the E-mail page with each of its
// sub-pages) and the event log window to PNG files for
// review, on a simulated scenario, without a display (offscreen platform).
//   raidgui_render SCENARIO|default SECONDS OUTDIR PREFIX [maintenance]
// With "maintenance" the window is in service mode and the Setup page's two
// sub-pages are rendered too.
//   raidgui_render --icon FILE
// writes the program icon as a Windows icon file (app/windows/raidgui.ico).
// On Windows the window is drawn by the system's own platform (under wine
// that needs an X server).
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <cstdio>

#include "app/common/options.h"
#include "app/raidgui/artwork.h"
#include "app/raidgui/event_log_window.h"
#include "app/raidgui/message_box.h"
#include "app/raidgui/main_window.h"

int main(int argc, char** argv) {
  using namespace raid;
  if (argc == 3 && std::string(argv[1]) == "--icon") {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QFile file(QString::fromLocal8Bit(argv[2]));
    const QByteArray icon = art::IconFile();
    if (!file.open(QIODevice::WriteOnly) || file.write(icon) != icon.size() || !file.flush()) {
      std::fprintf(stderr, "raidgui_render: cannot write %s\n", argv[2]);
      return 1;
    }
    return 0;
  }
  const bool maintenance = argc == 6 && std::string(argv[5]) == "maintenance";
  if (argc != 5 && !maintenance) {
    std::fprintf(stderr, "usage: raidgui_render SCENARIO|default SECONDS OUTDIR PREFIX [maintenance]\n");
    return 2;
  }
#ifndef _WIN32
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
#endif
  QApplication app(argc, argv);
  ProgramOptions opt;
  opt.simulate = true;
  if (std::string(argv[1]) != "default") opt.scenario = argv[1];
  const double seconds = std::atof(argv[2]);
  const QString out = argv[3];
  const QString prefix = argv[4];
  QDir().mkpath(out);
  Machine machine;
  std::string error;
  if (!BuildMachine(opt, machine, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  SetMessageBoxHook([](const MessageBoxRequest& b) {
    std::fprintf(stderr, "message box: %s: %s\n", b.caption.c_str(), b.text.c_str());
    return BoxResult::Ok;
  });
  const QString logDir = out + "/logs-" + prefix;
  QDir().mkpath(logDir);
  MainWindow form(machine, logDir.toStdString());
  form.SetMaintenanceMode(maintenance);
  form.FormCreate(false);
  form.show();
  for (int64_t t = 0; t < seconds * 1000; t += 100) {
    form.Runtime().StepFor(100);
    QCoreApplication::processEvents();
  }
  const char* names[5] = {"status", "setup", "upgrade", "email", "about"};
  for (int p : {0, 2, 3, 4}) {
    form.Core().SelectPage(static_cast<ShownPage>(p));
    QCoreApplication::processEvents();
    form.grab().save(out + "/" + prefix + "-" + names[p] + ".png");
    if (p == notebook_page::kEmail) {
      // The recipient sub-pages too, then back to the first.
      for (const char* tab : {"Image3_HDDFail", "Image3_DeviceRemove", "Image3_Setup"}) {
        form.findChild<QAbstractButton*>(tab)->click();
        QCoreApplication::processEvents();
        if (std::string(tab) != "Image3_Setup") form.grab().save(out + "/" + prefix + "-email-" + tab + ".png");
      }
    }
  }
  if (maintenance) {
    form.SetupNavClick();
    QCoreApplication::processEvents();
    form.grab().save(out + "/" + prefix + "-setup.png");
    form.Setup().ShowSchedule();
    QCoreApplication::processEvents();
    form.grab().save(out + "/" + prefix + "-schedule.png");
  }
  form.Core().SelectPage(ShownPage::Status);
  EventLogWindow log(form.Core(), &form);
  log.show();
  QCoreApplication::processEvents();
  log.grab().save(out + "/" + prefix + "-eventlog.png");
  log.close();
  form.close();
  return 0;
}
