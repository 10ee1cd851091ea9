// raidmon: the headless monitor. The same core as the window, driven from a
// console: detection, polling and the day log, with every new log line
// printed as it is written. SIGINT, SIGTERM or SIGHUP saves and ends it
// cleanly; lines that could not be saved are set aside and said, and the
// exit code is then 1. It needs no GUI toolkit: its event loop sleeps until
// the next timer, request or timeline event is due.
#include <chrono>
#include <thread>
#include <algorithm>
#include <cstdio>

#include "app/common/options.h"
#include "app/common/runtime.h"
#include "app/common/status_report.h"
#include "app/raidmon/console_loop.h"
#include "app/raidmon/console_view.h"
#include "app/raidmon/metrics_file.h"
#include "app/raidmon/systemd_link.h"
#include "app/common/drive_health.h"
#include "app/common/log_event.h"
#include "monitor/day_log_file.h"
#include "monitor/log_fallback.h"
#include "notify/mail_message.h"
#include "notify/notifier.h"
#include "platform/com_session.h"
#include "platform/settings_store.h"
#include "platform/system_info.h"
#include "platform/file_io.h"
#include "platform/instance_lock.h"
#include "platform/app_version.h"
#include "app/raidmon/service_commands.h"
#include "app/raidmon/service_mail.h"
#include "app/raidmon/windows_service.h"
#include "platform/base64.h"
#include "service/monitor_service.h"
#ifdef _WIN32
#include "platform/windows/windows_device_io.h"
#endif

namespace raid {
namespace {

int Monitor(const ProgramOptions& opt, const std::vector<std::string>& args) {
  InstanceLock lock;
  if (const Outcome locked = lock.Acquire(InstanceLockName(opt.simulate), "raidmon", InstanceLockScope(opt.simulate));
      !locked) {
    // Another copy runs: leave quietly; the window holding the enclosures
    // is said, so a monitor that did not start is not a mystery.
    if (lock.HeldElsewhere()) {
      if (lock.HeldBy("raidgui"))
        std::fprintf(stderr, "raidmon: the window (raidgui) is running and watches the enclosures; raidmon ends\n");
      return 0;
    }
    std::fprintf(stderr, "raidmon: %s\n", locked.error().c_str());
    return 1;
  }

  // Before any thread starts, so the signals reach only the loop.
  ConsoleLoop loop;
  loop.QuitOnSignals();
  Machine machine;
  std::string error;
  if (!BuildMachine(opt, machine, error)) {
    std::fprintf(stderr, "raidmon: %s\n", error.c_str());
    return 1;
  }
#ifdef _WIN32
  // Without a window of its own, raidmon hears of arrivals and removals
  // through a hidden one (the window registers its own).
  if (!opt.simulate) {
    machine.ownChanges = std::make_unique<WindowsDeviceChanges>();
    machine.changes = machine.ownChanges.get();
  }
#endif
  const std::string logDir = PrepareLogDir(opt, ProgramDir(args.empty() ? nullptr : args[0].c_str()));
  // One writer per log folder. A folder that cannot be locked (missing or
  // unreadable) cannot be written either: monitoring goes on and the lines
  // are set aside at exit.
  FolderLock logLock;
  const Outcome folderLocked = logLock.Acquire(logDir);
  if (!folderLocked) {
    if (logLock.HeldElsewhere()) {
      std::fprintf(stderr, "raidmon: %s\n", folderLocked.error().c_str());
      return 1;
    }
    std::fprintf(stderr, "raidmon: the log folder cannot be locked: %s\n", folderLocked.error().c_str());
  }
  std::fprintf(stderr, "raidmon: day log folder: %s\n", logDir.c_str());
  std::fflush(stderr);

  ConsoleView view;
  // --journal: each day log line becomes a journal entry whose priority
  // is its event's (removal and failure are warnings).
  std::unique_ptr<JournalWriter> journal;
  if (opt.journal) {
    journal = std::make_unique<JournalWriter>("raidmon");
    if (!journal->Available())
      std::fprintf(stderr, "raidmon: no system journal here: the day log lines go to standard output\n");
    view.SendLogLinesTo(
        [&journal](const DayLogEntry& entry) { return journal->Write(JournalPriority(entry), entry.line); });
  }
  Runtime runtime(machine, view, logDir, loop);
  view.ShowStatusLines(&runtime.Core(), opt.verbose);
  // Without a check box to tick again, a slot the failure rule switched off
  // is tried again by itself.
  runtime.Core().EnableSlotRetry(*machine.clock, 5 * 60 * 1000);
  if (opt.duration >= 0) runtime.SetDeadline(static_cast<int64_t>(opt.duration * 1000));

  // Notifications by mail, with the same settings as the window. The
  // sender's texts are printed from its own thread (panel 3: the outcome).
  RaidCore& core = runtime.Core();
  // The system information asks WMI on Windows, which needs COM on this
  // thread and its security set.
  ComSession com;
  com.InitializeSecurity();
  core.SetSystemInfo(BuildSystemInfoText(QuerySystemProperties()));
  const std::unique_ptr<SettingsStore> mailStore = MakeRunSettingsStore(opt.configDir, opt.simulate);
  if (const std::string notice = SimulatedSettingsNotice(opt); !notice.empty())
    std::fprintf(stderr, "raidmon: %s\n", notice.c_str());
  MailNotifier notifier(*mailStore, core.Monitoring(), core.MailRequestFlags(), core.SystemInfo(), *machine.clock,
                        [&view](StatusBarPanel panel, const std::string& text) {
                          if (panel == kMailPanel) view.MailStatus(text);
                        });
  core.SetMailHandler([&notifier] { notifier.SendNotification(); });
  // Retries and reminders (when switched on) say what they did in the day
  // log, on the main thread.
  notifier.LogNote = [&loop, &core](const std::string& text) {
    loop.Post([&core, text] { core.Log().AppendNote(text); });
  };
  // Notifications still unsent at the end wait here for the next start
  // (with retries on); a simulated run keeps its own, so a run on real
  // enclosures never mails invented events.
  notifier.UnsentFile = logDir + (opt.simulate ? "/unsent-mail.simulated.conf" : "/unsent-mail.conf");
  notifier.Start();

  // --status-file: what `raidctl check --status-file` reads while this
  // program holds the enclosures. Rewritten when it changes, and at least
  // every 30 s so its age shows that the monitor is alive.
  std::string lastStatus;
  auto lastStatusWrite = std::chrono::steady_clock::time_point{};
  bool statusErrorSaid = false;
  auto writeStatus = [&] {
    if (opt.statusFile.empty()) return;
    const std::string text = AcceptedStatusDocument(core).dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    const auto now = std::chrono::steady_clock::now();
    if (text == lastStatus && now - lastStatusWrite < std::chrono::seconds(30)) return;
    std::string error;
    if (WriteStatusFile(core, opt.statusFile, error)) {
      lastStatus = text;
      lastStatusWrite = now;
      statusErrorSaid = false;
    } else if (!statusErrorSaid) {
      std::fprintf(stderr, "raidmon: the status file %s cannot be written: %s\n", opt.statusFile.c_str(),
                   error.c_str());
      statusErrorSaid = true;
    }
  };

  // --metrics-file: for Prometheus, after every poll and detection.
  std::unique_ptr<MetricsFile> metrics;
  if (!opt.metricsFile.empty()) metrics = std::make_unique<MetricsFile>(opt.metricsFile);

  // --listen: the monitor service. Clients read from what is published
  // here after every step; new day log lines reach the subscribers as they
  // are written.
  std::unique_ptr<MonitorService> service;
  std::string lastPublished, publishedLastLine;
  size_t publishedLogLines = 0;
  auto publishService = [&] {
    if (!service) return;
    const std::vector<std::string>& day = core.Log().DayLog();
    if (day.size() != publishedLogLines || (!day.empty() && day.back() != publishedLastLine)) {
      service->ResetDayLog(day);
      publishedLogLines = day.size();
      publishedLastLine = day.empty() ? std::string() : day.back();
    }
    ServiceSnapshot snap{ListOutput(core), AcceptedStatusOutput(core), MirrorDocument(core)};
    std::string text = snap.list.dump() + snap.status.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
                       snap.mirror.dump();
    if (text == lastPublished) return;
    lastPublished = std::move(text);
    service->Publish(std::move(snap));
  };
  // The setup commands clients send run on this core, one at a time.
  std::unique_ptr<ServiceCommands> commands;
  // Its mail commands, on this monitor's settings.
  std::unique_ptr<ServiceMail> mail;
  if (!opt.listen.empty()) {
    service = std::make_unique<MonitorService>(AppTitleText());
    commands = std::make_unique<ServiceCommands>(
        runtime,
        [&service](uint64_t client, uint64_t id, const nlohmann::json& result) { service->Reply(client, id, result); },
        [&service](uint64_t client, uint64_t id, const nlohmann::json& progress) {
          service->Progress(client, id, progress);
        });
    mail = std::make_unique<ServiceMail>(
        *mailStore, notifier,
        [&service](uint64_t client, uint64_t id, const nlohmann::json& result) { service->Reply(client, id, result); });
    service->SetChangeHandler([&loop, &commands, &mail, &service](uint64_t client, const ServiceRequest& request) {
      const nlohmann::json& a = request.args;
      if (request.op == "mail") {
        loop.Post([&mail, client, id = request.id, a] { mail->Run(client, id, a); });
      } else if (request.op == "mail-page") {
        loop.Post([&mail, client, id = request.id, a] { mail->Page(client, id, a); });
      } else if (request.op == "test-mail") {
        loop.Post([&mail, client, id = request.id] { mail->TestMail(client, id); });
      } else if (request.op == "cancel") {
        loop.Post([&commands, client, id = request.id, of = a["request"].get<uint64_t>()] {
          commands->Cancel(client, id, of);
        });
      } else if (request.op == "upgrade") {
        std::optional<std::vector<uint8_t>> image;
        if (a["image"].is_string()) {
          Expected<std::vector<uint8_t>> bytes = Base64Decode(a["image"].get_ref<const std::string&>());
          if (!bytes) {
            service->Reply(
                client, request.id,
                {{"exit", 1}, {"out", ""}, {"err", "raidctl: the image sent is no image: " + bytes.error() + "\n"}});
            return;
          }
          image = std::move(*bytes);
        }
        loop.Post([&commands, client, id = request.id, slot = static_cast<int>(a.value("slot", 0)),
                   name = a["name"].get<std::string>(), image = std::move(image),
                   length = a.value("length", uint64_t{0})]() mutable {
          commands->SubmitUpgrade(client, id, slot, name, std::move(image), length);
        });
      } else {
        loop.Post([&commands, client, id = request.id, c = ServiceCommands::FromRequest(request)] {
          commands->Submit(client, id, c);
        });
      }
    });
    service->ClientGone = [&loop, &commands](uint64_t client) {
      loop.Post([&commands, client] { commands->Forget(client); });
    };
    if (const Outcome started = service->Start(opt.listen); !started) {
      std::fprintf(stderr, "raidmon: cannot serve at %s: %s\n", opt.listen.c_str(), started.error().c_str());
      notifier.Stop(false);
      return 1;
    }
    view.WatchLogLines([&service](const DayLogEntry& entry) {
      nlohmann::json event = nullptr;
      if (entry.event)
        event = {{"kind", EventKindName(entry.event->kind)},
                 {"slot", entry.event->slot},
                 {"drive", entry.event->drive},
                 {"headline", entry.headline}};
      service->LogLine(entry.line, event);
    });
    std::fprintf(stderr, "raidmon: serving at %s\n", opt.listen.c_str());
  }

  // --keep-days: the day files older than that go, at start and on each
  // new day of the program's clock; only by the folder's one writer.
  DayLogRetention retention(logDir, folderLocked ? opt.keepDays : 0);
  auto removeOldDayLogs = [&] {
    if (const std::string said = retention.Check(machine.clock->Now(), SystemClock().Now()); !said.empty())
      std::fprintf(stderr, "raidmon: %s\n", said.c_str());
  };
  removeOldDayLogs();

  runtime.OnStepped = [&] {
    removeOldDayLogs();
    if (commands) commands->Tick();
    writeStatus();
    if (metrics) metrics->Update(core, static_cast<uint64_t>(notifier.Failed.load()));
    publishService();
    notifier.Observe(AnyDriveDown(core));
    if (runtime.DeadlineReached()) loop.Quit();
  };
  runtime.Start();
  // --duration 0: the start is all there is to run.
  if (runtime.DeadlineReached()) loop.Quit();
  // Under systemd (Type=notify) the service counts as started from here.
  NotifyServiceManager("READY=1\nSTATUS=Monitoring; day log folder " + logDir);
  WindowsServiceRunning();
  loop.Run([&] { runtime.Step(); });
  NotifyServiceManager("STOPPING=1");
  WindowsServiceStopping();
  // A client's command that runs is let end (an initialisation stopped
  // half way leaves the drives unusable); the waiting ones are told.
  if (commands) {
    commands->Close();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (commands->Busy() && std::chrono::steady_clock::now() < giveUp) {
      runtime.Step();
      loop.RunPosted();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  // A test mail still being sent stops at its next step and is answered.
  if (mail) mail->Stop();
  if (service) service->Stop();
  runtime.Stop([&] { loop.RunPosted(); });
  // Mails already composed are still sent, for about 10 s in all (the
  // service's stop time-out is 90 s); what is left then is named in the
  // day log, and kept for the next start with retries on.
  notifier.Stop(true);
  loop.RunPosted();  // the notes of the last sends
  core.SetMailHandler(nullptr);
  EventLog& log = core.Log();
  log.SaveNow();
  int rc = 0;
  if (log.UnsavedLineCount() > 0) {
    const FallbackResult fr = WriteFallbackFiles(log.Unsaved(), FallbackFolder());
    std::fprintf(stderr, "raidmon: %s\n", FallbackMessage(fr, logDir).c_str());
    rc = 1;
  }
  ConsoleLoop::Finished();
  return OutputWritten(rc, "raidmon", &machine);
}

}  // namespace
}  // namespace raid

int main(int argc, char** argv) {
  using namespace raid;
  const std::vector<std::string> args(argv, argv + argc);
  const ProgramOptions opt = ParseOptions(args, true);
  // Started by the Windows service control manager (the installer's
  // service): the monitor runs on the service's thread. A wrong option in
  // the service's command line ends the service, with its exit code, as a
  // stopped service the manager can say.
  if (!opt.error.empty() && std::find(args.begin(), args.end(), "--windows-service") != args.end()) {
    const int rc = RunAsWindowsService("raidmon", [&opt] { return EarlyExitCode(opt, "raidmon"); });
    if (rc >= 0) return rc;
  }
  if (const int rc = EarlyExitCode(opt, "raidmon"); rc >= 0) return OutputWritten(rc, "raidmon");
  if (opt.windowsService) {
    const int rc = RunAsWindowsService("raidmon", [&opt, &args] { return Monitor(opt, args); });
    if (rc >= 0) return rc;
    std::fprintf(stderr, "raidmon: --windows-service: not started by the Windows service control manager\n");
    return 1;
  }
  return Monitor(opt, args);
}
