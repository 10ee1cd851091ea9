// raidgui: the desktop program. One copy at a time; the main window and its
// secondary windows are created in order and the message loop runs until
// the main window closes. An exception that escapes an event is shown and
// the loop goes on.
#include <QApplication>
#include <cstdio>

#include "app/common/options.h"
#include "app/common/quit_signals.h"
#include "app/raidgui/event_log_window.h"
#include "app/raidgui/message_box.h"
#include "app/raidgui/tform1.h"
#include "platform/instance_lock.h"

namespace {
class Application final : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      raid::ShowMessageBox(nullptr, {e.what(), "Error", raid::BoxIcon::Error, raid::BoxButtons::Ok});
    } catch (...) {
      raid::ShowMessageBox(nullptr, {"Unexpected error", "Error", raid::BoxIcon::Error, raid::BoxButtons::Ok});
    }
    return false;
  }
};
}  // namespace

int main(int argc, char** argv) {
  using namespace raid;
  std::vector<std::string> args(argv, argv + argc);
  const ProgramOptions opt = ParseOptions(args, false);
  if (const int rc = EarlyExitCode(opt, "raidgui", false); rc >= 0) return rc;
  InstanceLock lock;
  if (!lock.Acquire("QV_GUI")) return 0;  // another copy runs: leave quietly

  Application app(argc, argv);
  QApplication::setApplicationName("");
  Machine machine;
  std::string error;
  if (!BuildMachine(opt, machine, error)) {
    ShowMessageBox(nullptr, {error, "Error", BoxIcon::Error, BoxButtons::Ok});
    return 1;
  }
  const std::string logDir = PrepareLogDir(opt, QCoreApplication::applicationDirPath().toStdString());

  TForm1 form1(machine, logDir);
  if (!form1.StartedWell()) return 1;
  TForm2 form2(&form1);
  TForm3 form3(&form1);
  TForm7 form7(&form1);
  form1.FormCreate();
  form1.show();
  // SIGINT or SIGTERM closes the window as the user would: log saved.
  QuitOnSignals quitOnSignals([&form1] { form1.close(); });
  const int rc = app.exec();
  (void)rc;
  return 0;
}
