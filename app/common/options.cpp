#include "app/common/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/file_io.h"

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
#define LOG_DIR_DEFAULT \
  "beside the program;\n                         installed in a bin folder: " RAID_INSTALLED_LOG_DIR
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

ProgramOptions ParseOptions(const std::vector<std::string>& args, bool allowDuration, bool allowMaintenance) {
  ProgramOptions o;
  std::vector<std::string> seen;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* what) -> std::string {
      if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) {
        o.error = a + " needs " + what;
        return {};
      }
      std::string v = args[++i];
      if (v.empty()) o.error = a + " needs " + what + ", not an empty text";
      return v;
    };
    const bool known =
        a == "--simulate" || a == "--trace" || a == "--log-dir" || a == "--config-dir" ||
        ((a == "--duration" || a == "--verbose" || a == "--journal" || a == "--status-file" || a == "--metrics-file" ||
          a == "--listen") &&
         allowDuration) ||
        (a == "--keep-days" && (allowDuration || allowMaintenance)) ||
        ((a == "--maintenance" || a == "--minimized" || a == "--service" || a == "--standalone") && allowMaintenance);
    if (known) {
      if (std::find(seen.begin(), seen.end(), a) != seen.end()) {
        o.error = a + " is given twice";
        break;
      }
      seen.push_back(a);
    }
    if (a == "--simulate") {
      o.simulate = true;
      if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
        o.scenario = args[++i];
        if (o.scenario.empty())
          o.error = "--simulate takes a scenario file, not an empty text (leave it out for the built-in one)";
        else if (IsFolder(o.scenario))
          o.error = "--simulate: " + o.scenario + " is a folder, not a scenario file";
      }
    } else if (a == "--trace") {
      o.trace = value("a file name");
      if (o.error.empty() && IsFolder(o.trace)) o.error = "--trace: " + o.trace + " is a folder, not a file";
    } else if (a == "--log-dir") {
      o.logDir = value("a folder");
      if (o.error.empty() && ExistsAsNonFolder(o.logDir)) o.error = "--log-dir: " + o.logDir + " is not a folder";
      if (o.error.empty())
        if (const Outcome own = CheckPrivateFolder(o.logDir); !own)
          o.error = "--log-dir: " + o.logDir + ": " + own.error();
    } else if (a == "--config-dir") {
      o.configDir = value("a folder");
      if (o.error.empty() && ExistsAsNonFolder(o.configDir))
        o.error = "--config-dir: " + o.configDir + " is not a folder";
      if (o.error.empty())
        if (const Outcome own = CheckPrivateFolder(o.configDir); !own)
          o.error = "--config-dir: " + o.configDir + ": " + own.error();
    } else if (a == "--keep-days" && (allowDuration || allowMaintenance)) {
      const std::string v = value("a number of days");
      if (o.error.empty() && !ParseDays(v, o.keepDays))
        o.error = "--keep-days needs whole days from 0 (keep every day log) to 3660, not \"" + v + "\"";
    } else if (a == "--duration" && allowDuration) {
      const std::string v = value("seconds");
      if (!o.error.empty()) break;
      if (!ParseSeconds(v, o.duration))
        o.error = "--duration needs seconds from 0 to " + std::to_string(static_cast<int64_t>(kMaxDurationSeconds)) +
                  " (like 90 or 12.5), not \"" + v + "\"";
    } else if (a == "--maintenance" && allowMaintenance) {
      o.maintenance = true;
    } else if (a == "--verbose" && allowDuration) {
      o.verbose = true;
    } else if (a == "--journal" && allowDuration) {
      o.journal = true;
    } else if (a == "--status-file" && allowDuration) {
      o.statusFile = value("a file name");
      if (o.error.empty() && IsFolder(o.statusFile))
        o.error = "--status-file: " + o.statusFile + " is a folder, not a file";
    } else if (a == "--metrics-file" && allowDuration) {
      o.metricsFile = value("a file name");
      if (o.error.empty() && IsFolder(o.metricsFile))
        o.error = "--metrics-file: " + o.metricsFile + " is a folder, not a file";
    } else if (a == "--listen" && allowDuration) {
      o.listen = value("a socket path");
    } else if (a == "--minimized" && allowMaintenance) {
      o.minimized = true;
    } else if (a == "--service" && allowMaintenance) {
      o.service = value("the address the monitor service listens at");
    } else if (a == "--standalone" && allowMaintenance) {
      o.standalone = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else {
      o.error = "unknown option \"" + a + "\"";
    }
    if (!o.error.empty()) break;
  }
  if (o.error.empty() && o.standalone && !o.service.empty())
    o.error = "--service and --standalone: the window shows the service or reads the enclosures, not both";
  if (o.error.empty() && !o.trace.empty() && !o.simulate)
    o.error = "--trace records the simulated enclosure: use it with --simulate";
  return o;
}

std::string UsageText(const std::string& program, bool allowDuration, bool allowMaintenance) {
  std::string u = "usage: " + program + " [--simulate [SCENARIO]] [--trace FILE] [--log-dir DIR] [--config-dir DIR]";
  if (allowDuration)
    u += " [--duration SECONDS] [--verbose] [--journal] [--status-file FILE] [--metrics-file FILE]"
         " [--listen ADDRESS]";
  if (allowMaintenance) u += " [--maintenance] [--minimized] [--service ADDRESS | --standalone]";
  if (allowDuration || allowMaintenance) u += " [--keep-days N]";
  u += "\n  --simulate [SCENARIO]  run on the simulated enclosure (no file: the built-in default)\n"
       "  --trace FILE           write one line per simulated request to FILE (a new file, or a pipe)\n"
       "  --log-dir DIR          where the daily log files go, not a folder other users may write to\n"
       "                         (default: " LOG_DIR_DEFAULT
       ")\n"
       "  --config-dir DIR       where the mail settings and templates are kept\n"
       "                         (default: " CONFIG_DIR_DEFAULT ")\n";
  if (allowDuration)
    u += "  --duration SECONDS     stop after this much program time\n"
         "  --verbose              a status line per enclosure after every poll (stderr)\n"
         "  --status-file FILE     the status records as JSON, rewritten after every poll\n"
         "  --metrics-file FILE    the state as Prometheus metrics, for node exporter's textfile collector,\n"
         "                         rewritten after every poll and detection\n"
         "  --journal              day log lines to the system journal with their priority, not to stdout\n"
         "  --listen ADDRESS       serve the list, the status, the day log and its events to local clients\n"
         "                         (raidctl --service ADDRESS) at this socket\n";
#ifdef _WIN32
  if (allowDuration)
    u += "  --windows-service      run as the Windows service the installer registers (started by the service\n"
         "                         control manager, not by hand)\n";
#endif
  if (allowMaintenance)
    u += "  --maintenance          service mode: the Setup page (initialise, schedule), scan buttons, buzzer and\n"
         "                         auto-scan switches\n"
         "  --minimized            start in the notification area, the window hidden\n"
         "  --service ADDRESS      show the monitor service at ADDRESS (raidmon --listen; also from the\n"
         "                         environment variable RAIDGUI_SERVICE); without it the package's service\n"
         "                         is shown when it answers\n"
         "  --standalone           read the enclosures here even when a monitor service answers\n";
  if (allowDuration || allowMaintenance)
    u += "  --keep-days N          remove the day log files (yymmdd.log) dated more than N days back, at start\n"
         "                         and each new day (default 0: keep them all)\n";
  return u;
}

int EarlyExitCode(const ProgramOptions& opt, const std::string& program, bool allowDuration, bool allowMaintenance) {
  if (opt.help) {
    std::fputs(UsageText(program, allowDuration, allowMaintenance).c_str(), stdout);
    return 0;
  }
  if (!opt.error.empty()) {
    std::fprintf(stderr, "%s: %s\n%s", program.c_str(), opt.error.c_str(),
                 UsageText(program, allowDuration, allowMaintenance).c_str());
    return 2;
  }
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
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
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
  }
  m.io = std::move(simIo);
  return true;
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
