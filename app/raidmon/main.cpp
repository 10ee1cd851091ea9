// raidmon: the headless monitor. The same core as the window, driven from a
// console: detection, polling and the day log, with every new log line
// printed as it is written. SIGINT or SIGTERM saves and ends it cleanly.
#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

#include "app/common/core_runtime.h"
#include "app/common/options.h"
#include "app/common/quit_signals.h"
#include "app/raidmon/console_view.h"
#include "platform/instance_lock.h"

int main(int argc, char** argv) {
  using namespace raid;
  std::vector<std::string> args(argv, argv + argc);
  const ProgramOptions opt = ParseOptions(args, true);
  if (const int rc = EarlyExitCode(opt, "raidmon", true); rc >= 0) return rc;
  InstanceLock lock;
  if (!lock.Acquire("QV_GUI")) return 0;  // another copy runs: leave quietly

  QCoreApplication app(argc, argv);
  Machine machine;
  std::string error;
  if (!BuildMachine(opt, machine, error)) {
    std::fprintf(stderr, "raidmon: %s\n", error.c_str());
    return 1;
  }
  const std::string logDir = PrepareLogDir(opt, QCoreApplication::applicationDirPath().toStdString());

  ConsoleView view;
  CoreRuntime runtime(machine, view, logDir);
  QuitOnSignals quitOnSignals([&app] { app.quit(); });
  if (opt.duration >= 0) runtime.SetDeadline(static_cast<int64_t>(opt.duration * 1000));

  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (runtime.DeadlineReached()) app.quit();
  });
  watch.start(20);
  runtime.Start();
  app.exec();
  runtime.Stop();
  runtime.Core().log.SaveNow();
  return 0;
}
