#include "app/common/options.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#ifdef _WIN32
#include "platform/windows/windows_device_io.h"
#else
#include "platform/linux/linux_device_io.h"
#endif

namespace raid {

ProgramOptions ParseOptions(const std::vector<std::string>& args, bool allowDuration) {
  ProgramOptions o;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* what) -> std::string {
      if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) {
        o.error = a + " needs " + what;
        return {};
      }
      return args[++i];
    };
    if (a == "--simulate") {
      o.simulate = true;
      if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) o.scenario = args[++i];
    } else if (a == "--trace") {
      o.trace = value("a file name");
    } else if (a == "--log-dir") {
      o.logDir = value("a folder");
    } else if (a == "--duration" && allowDuration) {
      const std::string v = value("seconds");
      if (!o.error.empty()) break;
      char* end = nullptr;
      o.duration = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != 0 || o.duration < 0 || o.duration > 1e9) o.error = "--duration needs seconds, not \"" + v + "\"";
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else {
      o.error = "unknown option \"" + a + "\"";
    }
    if (!o.error.empty()) break;
  }
  if (o.error.empty() && !o.trace.empty() && !o.simulate) o.error = "--trace records the simulated enclosure: use it with --simulate";
  return o;
}

std::string UsageText(const std::string& program, bool allowDuration) {
  std::string u = "usage: " + program + " [--simulate [SCENARIO]] [--trace FILE] [--log-dir DIR]";
  if (allowDuration) u += " [--duration SECONDS]";
  u += "\n  --simulate [SCENARIO]  run on the simulated enclosure (no file: the built-in default)\n"
       "  --trace FILE           write one line per simulated request to FILE\n"
       "  --log-dir DIR          where the daily log files go (default: beside the program)\n";
  if (allowDuration) u += "  --duration SECONDS     stop after this much program time\n";
  return u;
}

int EarlyExitCode(const ProgramOptions& opt, const std::string& program, bool allowDuration) {
  if (opt.help) {
    std::fputs(UsageText(program, allowDuration).c_str(), stdout);
    return 0;
  }
  if (!opt.error.empty()) {
    std::fprintf(stderr, "%s: %s\n%s", program.c_str(), opt.error.c_str(), UsageText(program, allowDuration).c_str());
    return 2;
  }
  return -1;
}

std::string PrepareLogDir(const ProgramOptions& opt, const std::string& programDir) {
  const std::string dir = opt.logDir.empty() ? programDir : opt.logDir;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir;
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
  sim::ScenarioSpec sc;
  try {
    sc = opt.scenario.empty() ? sim::DefaultScenario() : sim::LoadScenarioFile(opt.scenario);
  } catch (const sim::ScenarioError& e) {
    error = std::string("scenario: ") + e.what();
    return false;
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
    m.traceFile = std::make_unique<std::ofstream>(opt.trace, std::ios::trunc);
    if (!*m.traceFile) {
      error = "cannot write the trace file " + opt.trace;
      return false;
    }
    simIo->SetTrace(m.traceFile.get());
  }
  m.io = std::move(simIo);
  return true;
}

}  // namespace raid
