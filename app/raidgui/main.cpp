// raidgui: the desktop program. One copy at a time; the main window and its
// secondary windows are created in order and the message loop runs until
// the main window closes. An exception that escapes an event is shown and
// the loop goes on.
#include <functional>
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/common/options.h"
#include "app/common/quit_signals.h"
#include "app/raidgui/display_check.h"
#include "app/raidgui/event_log_window.h"
#include "app/raidgui/message_box.h"
#include "app/raidgui/main_window.h"
#include "app/raidgui/tray_monitor.h"
#include "app/common/core_runtime.h"
#include "app/common/service_mirror.h"
#include "service/monitor_service.h"
#include "platform/settings_store.h"
#include "monitor/day_log_file.h"
#include "monitor/log_fallback.h"
#include "platform/file_io.h"
#include "platform/app_version.h"
#include "platform/instance_lock.h"
#include "app/common/text.h"

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

namespace raid {
namespace {

// Runs the window's event loop, the notification area following the day
// log and each step, and SIGINT, SIGTERM or SIGHUP (a console's close on
// Windows) closing the window as the user would. Then `afterLoop` (told
// whether a signal ended it) saves what is left and gives the exit code;
// only after it may a console handler let the process go.
int RunWindow(MainWindow& form1, TrayMonitor& tray, const std::function<int(bool bySignal)>& afterLoop) {
  form1.DayLogHook = [&tray](const DayLogEntry& entry) { tray.OnDayLogEntry(entry); };
  QObject::connect(&form1.Runtime(), &CoreRuntime::Stepped, &tray, [&tray] { tray.Update(); });
  bool bySignal = false;
  QuitOnSignals quitOnSignals([&form1, &tray, &bySignal] {
    bySignal = true;
    if (tray.Active())
      tray.RequestQuit();
    else
      form1.close();
  });
  QApplication::exec();
  form1.DayLogHook = nullptr;
  const int rc = afterLoop(bySignal);
  QuitOnSignals::Finished();
  return rc;
}

// The window as the monitor service's client: the service's mirror is its
// machine; no lock on the enclosures (it opens none), one such window per
// user.
int ShowServiceWindow(int argc, char** argv, const ProgramOptions& opt, const std::string& address) {
  Application app(argc, argv);
  QApplication::setApplicationName("");
  InstanceLock lock;
  if (!lock.Acquire("QV_GUI-client", "raidgui", InstanceLock::Scope::User)) return 0;
  Machine machine;
  ServiceMirror::BuildMachine(machine);
  std::fprintf(stderr, "raidgui: showing the monitor service at %s\n", address.c_str());
  MainWindow form1(machine, "", nullptr, opt.configDir);
  if (!form1.StartedWell()) return 1;
  form1.ShowService(address, *machine.sim);
  GoToWindow form3(&form1);
  EmailWindow form7(&form1);
  form1.FormCreate();
  TrayMonitor tray(form1, form1.Core(), form1.Settings(), MakeSystemTrayHost(&form1), opt.minimized);
  if (tray.ShowWindowAtStart()) form1.show();
  // It keeps no day log of its own: nothing is left to save.
  return RunWindow(form1, tray, [](bool) { return 0; });
}

}  // namespace
}  // namespace raid

int main(int argc, char** argv) {
  using namespace raid;
  std::vector<std::string> args(argv, argv + argc);
  const ProgramOptions opt = ParseOptions(args, false, true);
  if (const int rc = EarlyExitCode(opt, "raidgui"); rc >= 0) return OutputWritten(rc, "raidgui");
  // Without a display Qt would abort the program with a message about its
  // plugins: say what is missing and what runs without one instead.
  if (const std::string why = NoDisplayReason(ProcessEnv); !why.empty()) {
    std::fprintf(stderr, "raidgui: %s\n", why.c_str());
    return 1;
  }
  // The monitor service, when one answers (--service, RAIDGUI_SERVICE, or
  // the package's): the window shows it instead of reading the enclosures,
  // as the user, beside it. A service named that does not answer is said.
  std::string service = opt.service;
  if (service.empty() && !opt.simulate && !opt.standalone) {
    if (const char* env = std::getenv("RAIDGUI_SERVICE"); env && *env) service = env;
  }
  const bool serviceNamed = !service.empty();
  if (!serviceNamed && !opt.simulate && !opt.standalone && kDefaultServiceAddress[0] != 0)
    service = kDefaultServiceAddress;
  if (!service.empty()) {
    const Expected<nlohmann::json> answer = AskService(service, "raidgui", "list", 2000);
    if (!answer && serviceNamed) {
      Application app(argc, argv);
      const std::string text = "No answer from the monitor service at " + service + ": " + answer.error();
      std::fprintf(stderr, "raidgui: %s\n", text.c_str());
      ShowMessageBox(nullptr, {text, "Error", BoxIcon::Error, BoxButtons::Ok});
      return 1;
    }
    if (!answer) service.clear();
  }
  if (!service.empty()) return ShowServiceWindow(argc, argv, opt, service);

  // The machine first: a scenario that cannot be read is said whether or
  // not another copy runs, on stderr and in a box that waits to be read.
  Machine machine;
  std::string machineError;
  if (!BuildMachine(opt, machine, machineError)) {
    Application app(argc, argv);
    std::fprintf(stderr, "raidgui: %s\n", machineError.c_str());
    ShowMessageBox(nullptr, {machineError, "Error", BoxIcon::Error, BoxButtons::Ok});
    return 1;
  }
  InstanceLock lock;
  const Outcome locked = lock.Acquire(InstanceLockName(opt.simulate), "raidgui", InstanceLockScope(opt.simulate));
  // Another window runs: leave quietly. The monitor holding the enclosures
  // (the raidmon service, say) is said, or a click on the desktop entry
  // would seem to do nothing.
  const bool monitorRuns = !locked && lock.HeldElsewhere() && lock.HeldBy("raidmon");
  if (!locked && lock.HeldElsewhere() && !monitorRuns) return 0;

  Application app(argc, argv);
  if (monitorRuns) {
    const std::string text =
        "The monitor (raidmon) is running and watches the enclosures, so the window does not open.\n"
        "To use the window, stop the monitor first (the service: systemctl stop raidmon).";
    std::fprintf(stderr, "raidgui: %s\n", text.c_str());
    ShowMessageBox(nullptr, {text, AppTitleText(), BoxIcon::Information, BoxButtons::Ok});
    return 0;
  }
  QApplication::setApplicationName("");
  // Told on stderr and in a box, for whoever started it.
  auto refuse = [](const std::string& text) {
    std::fprintf(stderr, "raidgui: %s\n", text.c_str());
    ShowMessageBox(nullptr, {text, "Error", BoxIcon::Error, BoxButtons::Ok});
    return 1;
  };
  if (!locked) return refuse(locked.error());
  const std::string logDir = PrepareLogDir(opt, FromQt(QCoreApplication::applicationDirPath()));
  // One writer per log folder; a folder that cannot be locked cannot be
  // written either, and its lines are set aside at exit.
  FolderLock logLock;
  const Outcome folder = logLock.Acquire(logDir);
  if (!folder && logLock.HeldElsewhere()) return refuse(folder.error());
  if (!folder) std::fprintf(stderr, "raidgui: the log folder cannot be locked: %s\n", folder.error().c_str());

  MainWindow form1(machine, logDir, nullptr, opt.configDir);
  if (!form1.StartedWell()) return 1;
  form1.SetMaintenanceMode(opt.maintenance);
  GoToWindow form3(&form1);
  EmailWindow form7(&form1);
  form1.FormCreate();
  // The notification area: only with the stored option or --minimized.
  if (const std::string notice = SimulatedSettingsNotice(opt); !notice.empty())
    std::fprintf(stderr, "raidgui: %s\n", notice.c_str());
  TrayMonitor tray(form1, form1.Core(), form1.Settings(), MakeSystemTrayHost(&form1), opt.minimized);
  // --keep-days: the day files older than that go, at start and on each
  // new day of the program's clock; only by the folder's one writer.
  DayLogRetention retention(logDir, folder ? opt.keepDays : 0);
  auto removeOldDayLogs = [&retention, &machine] {
    if (const std::string said = retention.Check(machine.clock->Now(), SystemClock().Now()); !said.empty())
      std::fprintf(stderr, "raidgui: %s\n", said.c_str());
  };
  removeOldDayLogs();
  QObject::connect(&form1.Runtime(), &CoreRuntime::Stepped, &tray, removeOldDayLogs);
  if (tray.ShowWindowAtStart()) {
    if (opt.minimized)
      std::fprintf(stderr, "raidgui: --minimized: %s, so the window is shown\n",
                   FromQt(tray.UnavailableReason()).c_str());
    form1.show();
  }
  return RunWindow(form1, tray, [&form1, &logDir](bool bySignal) {
    // The window saved the log as it closed; what could not be saved is set
    // aside and said (in a box too, unless nobody may be there to answer it).
    EventLog& log = form1.Runtime().Core().Log();
    if (log.UnsavedLineCount() == 0) return 0;
    const std::string text = FallbackMessage(WriteFallbackFiles(log.Unsaved(), FallbackFolder()), logDir);
    std::fprintf(stderr, "raidgui: %s\n", text.c_str());
    if (!bySignal) ShowMessageBox(nullptr, {text, "Event Log", BoxIcon::Warning, BoxButtons::Ok});
    return 1;
  });
}
