// Command-line options of the front ends and the machine they run on: the
// real devices, or the simulated enclosure with its own clock.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/device_events.h"
#include "platform/device_io.h"
#include "platform/instance_lock.h"
#include "platform/settings_store.h"
#include "sim/sim_device_io.h"

namespace raid {

struct ProgramOptions {
  bool simulate = false;
  std::string scenario;  // empty: the built-in default
  std::string trace;
  std::string logDir;
  std::string configDir;     // the mail settings folder; empty: the system's store
  double duration = -1;      // seconds of program time; raidmon only
  bool maintenance = false;  // raidgui only: service mode with the Setup page
  bool verbose = false;      // raidmon only: a status line per enclosure and poll
  bool journal = false;      // raidmon only: day log lines to the system journal
  // raidmon only: the accepted status records, as `raidctl status --json`
  // prints them, rewritten after every poll (for `raidctl check --status-file`).
  std::string statusFile;
  // raidmon only: the Prometheus text for node exporter's textfile
  // collector, rewritten after every poll and detection.
  std::string metricsFile;
  // raidmon only: the socket the monitor service answers at.
  std::string listen;
  std::string service;      // raidgui only: the monitor service to show
  bool standalone = false;  // raidgui only: never the service
  // raidmon and the window: day log files dated more than this many days
  // back are removed (at start and each new day); 0 keeps every one.
  int keepDays = 0;
  bool minimized = false;       // raidgui only: start in the notification area
  bool windowsService = false;  // raidmon on Windows: started by the service control manager
  bool help = false;            // --help or --version: helpText is printed, and the program ends
  std::string helpText;
  std::string error;
  // The texts of --duration and --keep-days, as given.
  std::string durationText, keepDaysText;
};

class CommandLine;
enum class ProgramKind { Monitor, Window, Control };
// The options every program (or only the monitor, or the window) takes,
// bound to o. raidctl adds its commands to the same table.
void AddProgramOptions(CommandLine& line, ProgramOptions& o, ProgramKind kind);
// After a parse: checks the values given (numbers, folders, files, pairs
// that exclude each other); fills duration and keepDays. Returns the
// mistake, empty when there is none.
std::string CheckProgramOptions(ProgramOptions& o, const CommandLine& line, ProgramKind kind);
// What --version prints: "raidmon 0.23.1" and the title line.
std::string VersionText(const std::string& program);

// allowDuration: raidmon's table; allowMaintenance: the window's.
ProgramOptions ParseOptions(const std::vector<std::string>& args, bool allowDuration, bool allowMaintenance = false);
std::string UsageText(const std::string& program, bool allowDuration, bool allowMaintenance = false);
// Prints the usage or the option error; returns the exit code when the
// program should end here (0 after --help, 2 after an error), else -1.
int EarlyExitCode(const ProgramOptions& opt, const std::string& program);

// Where the requests go and where time comes from.
struct Machine {
  std::unique_ptr<Clock> clock;
  ManualClock* manual = nullptr;  // set for a simulated machine
  double speed = 1.0;             // simulated seconds per real second
  std::unique_ptr<DeviceIo> io;
  sim::SimDeviceIo* sim = nullptr;
  std::unique_ptr<DeviceChangeSource> ownChanges;
  DeviceChangeSource* changes = nullptr;
  std::unique_ptr<std::ostream> traceFile;
  std::string traceName;
};

// The end of a program's run: the trace (when one was written) and the
// standard output are flushed; a write that failed (a full disk, a reader
// that went away) is said on stderr, and a run that would have ended with
// 0 ends with 1, so that no script takes a cut output for a whole one.
int OutputWritten(int rc, const std::string& program, Machine* machine = nullptr);

// The folder for the day logs: --log-dir, else the program's folder, except
// that a program installed in a bin folder (/usr/bin, /usr/local/bin) uses
// /var/log/raidgui on Linux; it is created when missing. The result is
// absolute, as the programs tell it.
std::string PrepareLogDir(const ProgramOptions& opt, const std::string& programDir);
// The folder the running program's file lies in (argv0 when the system
// cannot tell).
std::string ProgramDir(const char* argv0);

// Builds the machine the options ask for; returns false with a message.
bool BuildMachine(const ProgramOptions& opt, Machine& m, std::string& error);

// The name of the single-instance lock. A simulated run has its own, so it
// neither keeps a real run from the enclosures nor is kept out by one.
std::string InstanceLockName(bool simulated);
// Its scope: the real disks are the whole machine's, a simulated machine
// is the user's own.
InstanceLock::Scope InstanceLockScope(bool simulated);

// The mail settings a run uses: the system's store (or --config-dir). A
// simulated run without --config-dir keeps its settings in memory, so a
// simulated drive removal never mails the stored recipients.
std::unique_ptr<SettingsStore> MakeRunSettingsStore(const std::string& configDir, bool simulated);
// What a simulated run says at start about its mail settings ("" when it
// uses a --config-dir, or runs on real devices).
std::string SimulatedSettingsNotice(const ProgramOptions& opt);

}  // namespace raid
