// raidmon: the headless monitor. The same core as the window, driven from a
// console: detection, polling and the day log, with every new log line
// printed as it is written. SIGINT, SIGTERM or SIGHUP saves and ends it
// cleanly; lines that could not be saved are set aside and said, and the
// exit code is then 1.
#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

#include "app/common/core_runtime.h"
#include "app/common/options.h"
#include "app/common/quit_signals.h"
#include "app/raidmon/console_view.h"
#include "monitor/log_fallback.h"
#include "notify/mail_message.h"
#include "notify/notifier.h"
#include "platform/settings_store.h"
#include "platform/system_info.h"
#include "platform/file_io.h"
#include "platform/instance_lock.h"

int main(int argc, char** argv) {
  using namespace raid;
  std::vector<std::string> args(argv, argv + argc);
  const ProgramOptions opt = ParseOptions(args, true);
  if (const int rc = EarlyExitCode(opt, "raidmon", true); rc >= 0) return rc;
  InstanceLock lock;
  if (!lock.Acquire("QV_GUI")) {
    if (lock.HeldElsewhere()) return 0;  // another copy runs: leave quietly
    std::fprintf(stderr, "raidmon: %s\n", lock.Error().c_str());
    return 1;
  }

  QCoreApplication app(argc, argv);
  Machine machine;
  std::string error;
  if (!BuildMachine(opt, machine, error)) {
    std::fprintf(stderr, "raidmon: %s\n", error.c_str());
    return 1;
  }
  const std::string logDir = PrepareLogDir(opt, QCoreApplication::applicationDirPath().toStdString());
  // One writer per log folder. A folder that cannot be locked (missing or
  // unreadable) cannot be written either: monitoring goes on and the lines
  // are set aside at exit.
  FolderLock logLock;
  switch (logLock.Acquire(logDir)) {
    case FolderLock::Result::Acquired: break;
    case FolderLock::Result::Held:
      std::fprintf(stderr, "raidmon: %s\n", logLock.Error().c_str());
      return 1;
    case FolderLock::Result::Failed:
      std::fprintf(stderr, "raidmon: the log folder cannot be locked: %s\n", logLock.Error().c_str());
      break;
  }

  ConsoleView view;
  CoreRuntime runtime(machine, view, logDir);
  QuitOnSignals quitOnSignals([&app] { app.quit(); });
  // Without a check box to tick again, a slot the failure rule switched off
  // is tried again by itself.
  runtime.Core().poller.EnableSlotRetry(*machine.clock, 5 * 60 * 1000);
  if (opt.duration >= 0) runtime.SetDeadline(static_cast<int64_t>(opt.duration * 1000));

  // Notifications by mail, with the same settings as the window. The
  // sender's texts are printed from its own thread (panel 3: the outcome).
  RaidCore& core = runtime.Core();
  core.SystemInfoText = BuildSystemInfoText(QuerySystemProperties());
  const std::unique_ptr<SettingsStore> mailStore = MakeSettingsStore(opt.configDir);
  MailNotifier notifier(*mailStore, core.ms, core.SystemInfoText, *machine.clock,
                        [&view](int panel, const std::string& text) {
                          if (panel == 3) view.MailStatus(text);
                        });
  core.MailHandler = [&notifier] { notifier.SendNotification(); };
  notifier.Start();

  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (runtime.DeadlineReached()) app.quit();
  });
  watch.start(20);
  runtime.Start();
  app.exec();
  runtime.Stop();
  // Mails already composed are still sent (each bounded by its time-outs).
  notifier.Stop(true);
  core.MailHandler = nullptr;
  EventLog& log = runtime.Core().log;
  log.SaveNow();
  int rc = 0;
  if (log.UnsavedLineCount() > 0) {
    const FallbackResult fr = WriteFallbackFiles(log.Unsaved(), FallbackFolder());
    std::fprintf(stderr, "raidmon: %s\n", FallbackMessage(fr, logDir).c_str());
    rc = 1;
  }
  QuitOnSignals::Finished();
  return rc;
}
