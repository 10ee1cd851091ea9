#include "app/common/options.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/common/command_line.h"
#include "platform/app_version.h"
#include "platform/file_io.h"
#include <CLI/CLI.hpp>

#ifdef _WIN32
#include <windows.h>

#include "platform/windows/windows_device_io.h"
#else
#include "platform/linux/linux_device_io.h"
#endif

#ifdef _WIN32
#define CONFIG_DIR_DEFAULT "the registry"
#define LOG_DIR_DEFAULT "beside the program"
#else
#define CONFIG_DIR_DEFAULT "/etc/raidgui"
// The day log folder of an installed program (started from a bin folder).
#define RAID_INSTALLED_LOG_DIR "/var/log/raidgui"
#define LOG_DIR_DEFAULT "beside the program;\ninstalled in a bin folder: " RAID_INSTALLED_LOG_DIR
#endif

namespace raid {

namespace {

// Longest --duration: ten years of program time, as a scenario's timeline.
constexpr double kMaxDurationSeconds = 10 * 366 * 86400.0;

// Seconds written as digits with at most one decimal point ("90", "12.5",
// ".5"): no sign, exponent, hex, blanks, inf or nan. Locale-independent.
bool ParseSeconds(const std::string& v, double& out) {
  size_t digits = 0, points = 0;
  for (const char c : v) {
    if (c >= '0' && c <= '9')
      ++digits;
    else if (c == '.')
      ++points;
    else
      return false;
  }
  if (digits == 0 || points > 1) return false;
  const auto r = std::from_chars(v.data(), v.data() + v.size(), out, std::chars_format::fixed);
  return r.ec == std::errc() && r.ptr == v.data() + v.size() && std::isfinite(out) && out >= 0 &&
         out <= kMaxDurationSeconds;
}

// Whole days written as digits: 0 to ten years.
bool ParseDays(const std::string& v, int& out) {
  if (v.empty() || v.size() > 4 || v.find_first_not_of("0123456789") != std::string::npos) return false;
  const auto r = std::from_chars(v.data(), v.data() + v.size(), out);
  return r.ec == std::errc() && out <= 3660;
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

bool ExistsAsNonFolder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec) && !std::filesystem::is_directory(path, ec);
}

}  // namespace

void AddProgramOptions(CommandLine& line, ProgramOptions& o, ProgramKind kind) {
  CLI::App& root = line.Root();
  const bool monitor = kind == ProgramKind::Monitor, window = kind == ProgramKind::Window;
  line.OptionalValue(root, "--simulate", o.scenario, o.simulate, "SCENARIO",
                     kind == ProgramKind::Control ? "work on the simulated enclosure (no file: the built-in default)"
                                                  : "run on the simulated enclosure (no file: the built-in default)");
  line.Value(root, "--trace", o.trace, "FILE",
             "with --simulate: one line per simulated request to FILE (a new file, or a pipe)");
  if (kind != ProgramKind::Control)
    line.Value(root, "--log-dir", o.logDir, "DIR",
               "where the daily log files go, not a folder other users may write to\n"
               "(default: " LOG_DIR_DEFAULT ")");
  line.Value(root, "--config-dir", o.configDir, "DIR",
             "where the mail settings and templates are kept\n(default: " CONFIG_DIR_DEFAULT ")");
  if (monitor) {
    line.Value(root, "--duration", o.durationText, "SECONDS", "stop after this much program time");
    line.Flag(root, "--verbose", o.verbose, "a status line per enclosure after every poll (stderr)");
    line.Flag(root, "--journal", o.journal, "day log lines to the system journal with their priority, not to stdout");
    line.Value(root, "--status-file", o.statusFile, "FILE", "the status records as JSON, rewritten after every poll");
    line.Value(root, "--metrics-file", o.metricsFile, "FILE",
               "the state as Prometheus metrics, for node exporter's textfile collector,\n"
               "rewritten after every poll and detection");
    line.Value(root, "--listen", o.listen, "ADDRESS",
               "serve the list, the status, the day log and its events to local clients\n"
               "(raidctl --service ADDRESS) at this socket");
#ifdef _WIN32
    line.Flag(root, "--windows-service", o.windowsService,
              "run as the Windows service the installer registers (started by the service\n"
              "control manager, not by hand)");
#endif
  }
  if (window) {
    line.Flag(root, "--maintenance", o.maintenance,
              "service mode: the Setup page (initialise, schedule), scan buttons, buzzer and\n"
              "auto-scan switches");
    line.Flag(root, "--minimized", o.minimized, "start in the notification area, the window hidden");
    line.Value(root, "--service", o.service, "ADDRESS",
               "show the monitor service at ADDRESS (raidmon --listen; also from the\n"
               "environment variable RAIDGUI_SERVICE); without it the package's service\n"
               "is shown when it answers");
    line.Flag(root, "--standalone", o.standalone, "read the enclosures here even when a monitor service answers");
  }
  if (monitor || window)
    line.Value(root, "--keep-days", o.keepDaysText, "N",
               "remove the day log files (yymmdd.log) dated more than N days back, at start\n"
               "and each new day (default 0: keep them all)");
}

std::string CheckProgramOptions(ProgramOptions& o, const CommandLine& line, ProgramKind kind) {
  if (o.simulate && line.Given("--simulate") && !o.scenario.empty() && IsFolder(o.scenario))
    return "--simulate: " + o.scenario + " is a folder, not a scenario file";
  if (line.Given("--trace")) {
    if (o.trace.empty()) return "--trace needs a file name, not an empty text";
    if (IsFolder(o.trace)) return "--trace: " + o.trace + " is a folder, not a file";
  }
  for (const auto& [name, dir] : {std::pair<const char*, std::string*>{"--log-dir", &o.logDir},
                                  std::pair<const char*, std::string*>{"--config-dir", &o.configDir}}) {
    if (!line.Given(name)) continue;
    if (dir->empty()) return std::string(name) + " needs a folder, not an empty text";
    if (ExistsAsNonFolder(*dir)) return std::string(name) + ": " + *dir + " is not a folder";
    if (const Outcome own = CheckPrivateFolder(*dir); !own) return std::string(name) + ": " + *dir + ": " + own.error();
  }
  if (line.Given("--keep-days") && !ParseDays(o.keepDaysText, o.keepDays))
    return "--keep-days needs whole days from 0 (keep every day log) to 3660, not \"" + o.keepDaysText + "\"";
  if (line.Given("--duration") && !ParseSeconds(o.durationText, o.duration))
    return "--duration needs seconds from 0 to " + std::to_string(static_cast<int64_t>(kMaxDurationSeconds)) +
           " (like 90 or 12.5), not \"" + o.durationText + "\"";
  for (const auto& [name, file] : {std::pair<const char*, std::string*>{"--status-file", &o.statusFile},
                                   std::pair<const char*, std::string*>{"--metrics-file", &o.metricsFile}}) {
    // raidctl check has a --status-file of its own, checked with check's.
    if (kind != ProgramKind::Monitor || !line.Given(name)) continue;
    if (file->empty()) return std::string(name) + " needs a file name, not an empty text";
    if (IsFolder(*file)) return std::string(name) + ": " + *file + " is a folder, not a file";
  }
  if (line.Given("--listen") && o.listen.empty()) return "--listen needs a socket path, not an empty text";
  if (line.Given("--service") && o.service.empty())
    return "--service needs the address the monitor service listens at, not an empty text";
  if (o.standalone && !o.service.empty())
    return "--service and --standalone: the window shows the service or reads the enclosures, not both";
  if (!o.trace.empty() && !o.simulate) return "--trace records the simulated enclosure: use it with --simulate";
  return {};
}

std::string VersionText(const std::string& program) { return program + " " + kProjectVersion + "\n" + AppTitleText(); }

namespace {

ProgramKind KindOf(bool allowDuration, bool allowMaintenance) {
  return allowDuration ? ProgramKind::Monitor : allowMaintenance ? ProgramKind::Window : ProgramKind::Control;
}

const char* SummaryOf(ProgramKind kind) {
  switch (kind) {
    case ProgramKind::Monitor:
      return "The headless monitor of up to two RAID enclosures: detection, polling, the daily log and mail\n"
             "notifications, and (with --listen) the monitor service for raidctl and raidgui.";
    case ProgramKind::Window:
      return "The manager window of up to two RAID enclosures: their status, the daily log, mail\n"
             "notifications and the firmware upgrade.";
    case ProgramKind::Control: break;
  }
  return "";
}

}  // namespace

ProgramOptions ParseOptions(const std::vector<std::string>& args, bool allowDuration, bool allowMaintenance) {
  ProgramOptions o;
  const ProgramKind kind = KindOf(allowDuration, allowMaintenance);
  const std::string program = allowDuration ? "raidmon" : "raidgui";
  CommandLine line(program, SummaryOf(kind));
  line.SetVersion(VersionText(program));
  AddProgramOptions(line, o, kind);
  const CommandLineEnd end = line.Parse(args);
  if (end.exit == 0) {
    o.help = true;
    o.helpText = end.out;
  } else if (end.exit > 0) {
    o.error = end.error;
  } else {
    o.error = CheckProgramOptions(o, line, kind);
  }
  return o;
}

std::string UsageText(const std::string& program, bool allowDuration, bool allowMaintenance) {
  return ParseOptions({program, "--help"}, allowDuration, allowMaintenance).helpText;
}

int EarlyExitCode(const ProgramOptions& opt, const std::string& program) {
  if (opt.help) return PrintCommandLineEnd({0, opt.helpText, ""}, program);
  if (!opt.error.empty()) return PrintCommandLineEnd({kUsageExitCode, "", opt.error}, program);
  return -1;
}

std::string PrepareLogDir(const ProgramOptions& opt, const std::string& programDir) {
  std::string dir = opt.logDir.empty() ? programDir : opt.logDir;
#ifndef _WIN32
  // An installed program's folder is the system's (shared by every program,
  // and gone with the package): its logs go where the system keeps logs.
  // A build tree's program keeps them beside it.
  if (opt.logDir.empty()) {
    const std::string folder = std::filesystem::path(programDir).filename().string();
    if (folder == "bin" || folder == "sbin") dir = RAID_INSTALLED_LOG_DIR;
  }
#endif
  // Never writable by others, whatever the file mode mask: a folder others
  // may write is refused at the next start. A failure shows at the first
  // save, which names the folder.
  (void)MakeFolders(dir, true);
  std::error_code ec;
  const std::filesystem::path abs = std::filesystem::absolute(dir, ec);
  return ec ? dir : abs.lexically_normal().string();
}

std::string ProgramDir(const char* argv0) {
  std::error_code ec;
#ifdef _WIN32
  char buf[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  if (n > 0 && n < sizeof buf) return std::filesystem::path(std::string(buf, n)).parent_path().string();
#else
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) return exe.parent_path().string();
#endif
  const std::filesystem::path p = std::filesystem::absolute(argv0 ? argv0 : ".", ec);
  return ec ? std::string(".") : p.parent_path().string();
}

bool BuildMachine(const ProgramOptions& opt, Machine& m, std::string& error) {
  if (!opt.simulate) {
    m.clock = std::make_unique<SystemClock>();
#ifdef _WIN32
    m.io = std::make_unique<WindowsDeviceIo>();
#else
    m.io = std::make_unique<LinuxDeviceIo>();
    m.ownChanges = std::make_unique<UdevDeviceChanges>();
    m.changes = m.ownChanges.get();
#endif
    return true;
  }
  sim::ScenarioSpec sc = sim::DefaultScenario();
  if (!opt.scenario.empty()) {
    Expected<sim::ScenarioSpec> loaded = sim::LoadScenarioFile(opt.scenario);
    if (!loaded) {
      error = "scenario: " + loaded.error();
      return false;
    }
    sc = std::move(*loaded);
  }
  const LocalDateTime start = sc.start ? *sc.start : SystemClock().Now();
  auto manual = std::make_unique<ManualClock>(start);
  m.manual = manual.get();
  m.speed = sc.speed;
  m.clock = std::move(manual);
  auto simIo = std::make_unique<sim::SimDeviceIo>(*m.clock, sc);
  m.sim = simIo.get();
  m.changes = simIo.get();
  if (!opt.trace.empty()) {
    if (const Outcome opened = OpenNewOutputStream(opt.trace, m.traceFile); !opened) {
      error = "cannot write the trace file " + opt.trace + ": " + opened.error();
      return false;
    }
    simIo->SetTrace(m.traceFile.get());
    m.traceName = opt.trace;
  }
  m.io = std::move(simIo);
  return true;
}

int OutputWritten(int rc, const std::string& program, Machine* machine) {
  bool failed = false;
  if (machine && machine->traceFile && !machine->traceFile->flush()) {
    std::fprintf(stderr, "%s: the trace file %s could not be written completely\n", program.c_str(),
                 machine->traceName.c_str());
    failed = true;
  }
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int err = errno;
    std::fprintf(stderr, "%s: cannot write the output: %s\n", program.c_str(),
                 err != 0 ? std::strerror(err) : "write error");
    failed = true;
  }
  return failed && rc == 0 ? 1 : rc;
}

std::string InstanceLockName(bool simulated) { return simulated ? "QV_GUI-simulated" : "QV_GUI"; }

InstanceLock::Scope InstanceLockScope(bool simulated) {
  return simulated ? InstanceLock::Scope::User : InstanceLock::Scope::Machine;
}

std::unique_ptr<SettingsStore> MakeRunSettingsStore(const std::string& configDir, bool simulated) {
  if (!simulated || !configDir.empty()) return MakeSettingsStore(configDir);
  auto memory = std::make_unique<MemorySettingsStore>();
  // The mail texts still come from the usual template folder: reading them
  // sends nothing.
  memory->templateDir = MakeSettingsStore("")->DefaultTemplateDir();
  return memory;
}

std::string SimulatedSettingsNotice(const ProgramOptions& opt) {
  if (!opt.simulate || !opt.configDir.empty()) return "";
  return "simulated run: the stored mail settings are not used and no mail goes to their recipients; "
         "give --config-dir FOLDER for mail settings of its own";
}

}  // namespace raid
