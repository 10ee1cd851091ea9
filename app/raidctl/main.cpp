// raidctl: the enclosures from a command line, for machines without a
// desktop. The same core as the window: one detection, then the listing,
// one status read per enclosure, or the firmware upgrade of the Upgrade page
// with its checks, phases and texts. It takes the same single-instance lock
// as the other two programs, so two programs never talk to one enclosure.
#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/common/command_line.h"
#include "app/common/options.h"
#include "app/raidctl/ctl_command_line.h"
#include "app/common/page_selection.h"
#include "app/raidctl/ctl_view.h"
#include "monitor/device_messages.h"
#include "app/common/setup_commands.h"
#include "app/common/mail_commands.h"
#include "app/raidctl/make_image.h"
#include "app/common/status_report.h"
#include "app/raidctl/check_command.h"
#include "maintenance/firmware_upgrade.h"
#include "monitor/raid_core.h"
#include "monitor/status_record.h"
#include "platform/datetime_text.h"
#include "platform/instance_lock.h"
#include "platform/base64.h"
#include "service/monitor_service.h"

#ifdef _WIN32
#include <io.h>
#define RAID_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define RAID_ISATTY(f) isatty(fileno(f))
#endif

namespace raid {
namespace {

constexpr int kExitFailed = 1, kExitUsage = 2, kExitLocked = 3, kExitInterrupted = 130;

int Fail(const std::string& text, int code) {
  std::fprintf(stderr, "raidctl: %s\n", text.c_str());
  return code;
}

int List(RaidCore& core) {
  if (core.Devices().DeviceCount == 0) {
    std::puts("No enclosure found.");
    return kExitFailed;
  }
  std::puts(ListHeader().c_str());
  for (int s = 0; s < core.Devices().DeviceCount; ++s) std::puts(ListLine(IdentityOf(core, s)).c_str());
  return 0;
}

// One status read per enclosure, as the versioned document of status --json
// and, when text is given, as the decoded text; failed is set when an
// enclosure could not be read.
nlohmann::json StatusDocument(RaidCore& core, UserInterface& view, bool& failed, std::string* text) {
  nlohmann::json all = {{"version", kStatusJsonVersion}, {"enclosures", nlohmann::json::array()}};
  for (int s = 0; s < core.Devices().DeviceCount; ++s) {
    const EnclosureIdentity e = IdentityOf(core, s);
    Sector record{};
    if (const DeviceResult read = core.ReadStatusRecord(static_cast<uint8_t>(s), record); !read) {
      ShowDeviceResult(view, read);
      failed = true;
      all["enclosures"].push_back({{"slot", s}, {"name", SlotName(s)}, {"error", "the status read failed"}});
      if (text) *text += SlotName(s) + " (slot " + std::to_string(s) + "): the status read failed\n";
      continue;
    }
    all["enclosures"].push_back(StatusJson(e, record));
    if (text) *text += StatusText(e, record);
  }
  return all;
}

int Status(RaidCore& core, UserInterface& view, bool json) {
  bool failed = false;
  std::string text;
  const nlohmann::json all = StatusDocument(core, view, failed, json ? nullptr : &text);
  if (json)
    std::puts(all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  else if (core.Devices().DeviceCount == 0)
    std::puts("No enclosure found.");
  else
    std::fputs(text.c_str(), stdout);
  return core.Devices().DeviceCount == 0 || failed ? kExitFailed : 0;
}

int Check(RaidCore& core, UserInterface& view, const CheckOptions& options) {
  bool failed = false;
  const CheckResult r = EvaluateStatus(StatusDocument(core, view, failed, nullptr), options);
  std::puts(r.line.c_str());
  return static_cast<int>(r.state);
}

// list, status and check answered by the monitor service: the same texts
// and exit codes as when raidctl reads the enclosures itself.
int ThroughService(const std::string& address, const CtlOptions& ctl) {
  const bool check = ctl.command == "check";
  const std::string op = ctl.command == "list" ? "list" : "status";
  const Expected<nlohmann::json> answer = AskService(address, "raidctl", op);
  if (!answer) {
    const std::string why = "no answer from the monitor service at " + address + ": " + answer.error();
    if (check) {
      std::puts(UnknownResult(why).line.c_str());
      return static_cast<int>(CheckState::Unknown);
    }
    return Fail(why, kExitFailed);
  }
  const nlohmann::json& result = *answer;
  const int exit = static_cast<int>(JsonNumber(result, "exit", kExitFailed));
  if (check) {
    const nlohmann::json document = JsonField(result, "document");
    const CheckResult r = document.is_object() ? EvaluateStatus(document, ctl.check)
                                               : UnknownResult("the monitor service sent no status document");
    std::puts(r.line.c_str());
    return static_cast<int>(r.state);
  }
  if (ctl.json)
    std::puts(JsonField(result, "document").dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  else
    std::fputs(JsonText(result, "text").c_str(), stdout);
  return exit;
}

// A change's answer from the monitor service: what raidctl would have
// printed and its exit code.
int PrintChangeAnswer(const std::string& address, const Expected<nlohmann::json>& answer) {
  if (!answer) {
    // Once taken, a change runs to its end whether anyone waits for it:
    // an answer that did not come says nothing about the change.
    const std::string& why = answer.error();
    const bool unknown =
        why.find("in time") != std::string::npos || why.find("closed the connection") != std::string::npos;
    return Fail("the monitor service at " + address + ": " + why +
                    (unknown ? " (the change may still be made: see raidctl status)" : ""),
                kExitFailed);
  }
  const nlohmann::json& result = *answer;
  std::fputs(JsonText(result, "out").c_str(), stdout);
  std::fflush(stdout);
  std::fputs(JsonText(result, "err").c_str(), stderr);
  return static_cast<int>(JsonNumber(result, "exit", kExitFailed));
}

// schedule, scan and initialize run by the monitor service on its own
// core: it answers with what raidctl would have printed and its exit code.
int ChangeThroughService(const std::string& address, const SetupCommand& c) {
  nlohmann::json request{{"op", c.command}, {"slot", c.slot}};
  if (c.command == "schedule") {
    request["on"] = c.on;
    if (c.on && c.period != 0) request["period"] = c.period;
  } else if (c.command == "scan") {
    request["drive"] = c.drive;
    request["stop"] = c.stop;
  }
  // The change waits for the monitor's next turn at the enclosure, and an
  // initialisation for all its steps.
  constexpr int kChangeTimeoutMs = 120000;
  return PrintChangeAnswer(address, AskServiceRequest(address, "raidctl", request, kChangeTimeoutMs));
}

// The mail commands run by the monitor service on its own settings: the
// password, a template file and a CA file are read here, by the user who
// gives them; the password and the template are sent along, the CA file by
// its absolute name.
int MailThroughService(const std::string& address, const MailWords& w) {
  StdioOutput out(false);
  MailInput input;
  if (const std::optional<int> ended = GatherMailInput(w, out, input)) return *ended;
  nlohmann::json request{{"op", w.command}};
  MailWords sent = w;
  for (auto& [name, value] : sent.set)
    if (name == "--ca-file" && input.caFile) value = *input.caFile;
  if (w.command == "mail") request["args"] = sent.ServiceWords();
  if (input.password) request["password"] = *input.password;
  if (input.templateText) request["template"] = Base64Encode(*input.templateText);
  // A test mail waits for the mail server: its time-out is at most 99 s
  // for each of its steps.
  constexpr int kMailTimeoutMs = 300000;
  return PrintChangeAnswer(address, AskServiceRequest(address, "raidctl", request, kMailTimeoutMs));
}

// The monitor service to ask: the one --service names, else (when one is
// looked for) RAIDGUI_SERVICE's, else the package's when it answers; ""
// for none.
std::string ServiceToAsk(const std::string& named, bool lookForOne) {
  if (!named.empty() || !lookForOne) return named;
  if (const char* env = std::getenv("RAIDGUI_SERVICE"); env && *env) return env;
  if (kDefaultServiceAddress[0] != 0 && AskService(kDefaultServiceAddress, "raidctl", "list", 2000))
    return kDefaultServiceAddress;
  return {};
}

// The mail commands: the monitor service's settings when it answers (and
// --config-dir names no others), else the settings of --config-dir here.
int MailCommand(const CtlOptions& ctl) {
  StdioOutput out(false);
  const bool here = ctl.command == "system-info" || ctl.mail.configGiven;
  const std::string service = ServiceToAsk(ctl.service, !here);
  if (service.empty()) return RunMailWords(ctl.mail, out);
  return MailThroughService(service, ctl.mail);
}

// upgrade run by the monitor service: the file is read here, by the user
// who names it, and sent whole; the service checks it and writes it as
// standalone raidctl does, and reports the progress on the way. The first
// quit signal warns, the second asks the service to stop at the next
// request; if raidctl itself goes away the upgrade runs to its end.
int UpgradeThroughService(const std::string& address, const CtlOptions& o, CtlView& view) {
  nlohmann::json request{{"op", "upgrade"}, {"slot", o.slot}, {"name", o.file}, {"image", nullptr}};
  // Only a plain file (or a link to one) is an image, as standalone: a
  // folder or a device is sent as a file that could not be opened.
  std::error_code ec;
  if (std::ifstream f(o.file, std::ios::binary); f && std::filesystem::is_regular_file(o.file, ec)) {
    f.seekg(0, std::ios::end);
    const std::streamoff length = f.tellg();
    f.seekg(0);
    if (length > static_cast<std::streamoff>(kLargestImageFile)) {
      request["length"] = static_cast<uint64_t>(length);
    } else if (length >= 0) {
      std::string bytes(static_cast<size_t>(length), '\0');
      if (f.read(bytes.data(), length)) request["image"] = Base64Encode(bytes);
    }
  }
  if (!o.yes && !view.AskYesNo("Write " + o.file + " into the flash of " + SlotName(o.slot) +
                               "? The enclosure must stay powered until the upgrade ends."))
    return Fail(QuitSignalCount().load() != 0 ? "interrupted: nothing was written"
                                              : "upgrade not confirmed: nothing was written",
                QuitSignalCount().load() != 0 ? kExitInterrupted : kExitFailed);
  ServiceSession session;
  Outcome sent = session.Open(address, "raidctl", 10000);
  request["id"] = 2;
  if (sent) sent = session.Send(request, 10000);
  if (!sent) return Fail("the monitor service at " + address + ": " + sent.error(), kExitFailed);
  const bool tty = RAID_ISATTY(stdout);
  int signalsSeen = QuitSignalCount().load();
  bool warned = false;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(30);
  while (std::chrono::steady_clock::now() < giveUp) {
    if (const int seen = QuitSignalCount().load(); seen != signalsSeen) {
      const bool stop = warned || seen - signalsSeen >= 2;
      signalsSeen = seen;
      view.EndProgressLine();
      if (!stop) {
        warned = true;
        std::fprintf(stderr,
                     "raidctl: a firmware upgrade is running; stopping it now may leave the flash half written. "
                     "Send the signal again to stop at the next request.\n");
      } else {
        std::fprintf(stderr, "raidctl: stopping at the next request\n");
        (void)session.Send({{"op", "cancel"}, {"id", 3}, {"request", 2}}, 5000);
      }
    }
    const Expected<nlohmann::json> message = session.Next(200);
    if (!message) {
      if (message.error().find("in time") != std::string::npos) continue;
      view.EndProgressLine();
      return Fail("the monitor service at " + address + ": " + message.error() +
                      " (the upgrade may still run: see raidctl status)",
                  kExitFailed);
    }
    const nlohmann::json& m = *message;
    if (JsonNumber(m, "id") != 2) continue;  // the answer to a cancel
    if (m.contains("progress")) {
      const nlohmann::json& p = m["progress"];
      if (tty && p.is_object())
        view.DrawProgress(JsonText(p, "text"), JsonText(p, "caption"),
                          static_cast<int>(std::clamp<int64_t>(JsonNumber(p, "percent"), 0, 100)));
      continue;
    }
    view.EndProgressLine();
    if (!JsonFlag(m, "ok"))
      return Fail("the monitor service at " + address + ": " + JsonText(m, "error", "refused"), kExitFailed);
    const nlohmann::json result = JsonField(m, "result");
    std::fputs(JsonText(result, "out").c_str(), stdout);
    std::fflush(stdout);
    std::fputs(JsonText(result, "err").c_str(), stderr);
    return static_cast<int>(JsonNumber(result, "exit", kExitFailed));
  }
  view.EndProgressLine();
  return Fail("the monitor service at " + address + ": no end of the upgrade in 30 minutes", kExitFailed);
}

// A check that could not look: the plugin's UNKNOWN line and exit code 3.
int CheckUnknown(const std::string& reason) {
  std::puts(UnknownResult(reason).line.c_str());
  return static_cast<int>(CheckState::Unknown);
}

int Upgrade(RaidCore& core, FirmwareUpgrade& up, CtlView& view, const CtlOptions& o) {
  if (core.Devices().DeviceCount > 0 && o.slot >= core.Devices().DeviceCount)
    return Fail("no enclosure in slot " + std::to_string(o.slot) + " (" + std::to_string(core.Devices().DeviceCount) +
                    " found; see raidctl list)",
                kExitFailed);
  core.SelectUpgradeSlot(static_cast<uint8_t>(o.slot));
  if (core.Devices().DeviceCount > 0) {
    up.SelectSlot(static_cast<uint8_t>(o.slot));
    StdioOutput out;
    UpgradeHeader(core, o.slot, out);
  }
  if (!o.yes) {
    up.ConfirmWrite = [&] {
      return view.AskYesNo("Write " + o.file + " into the flash of " + SlotName(o.slot) +
                           "? The enclosure must stay powered until the upgrade ends.");
    };
  }
  view.SetOutput(stdout);
  view.WatchUpgrade(&up, &core.Commands(), RAID_ISATTY(stdout), RAID_ISATTY(stdin));
  const int signalsBefore = QuitSignalCount().load();
  const UpgradeOutcome outcome = up.Upgrade(static_cast<uint8_t>(o.slot));
  view.WatchUpgrade(nullptr, nullptr, false, false);
  switch (outcome) {
    case UpgradeOutcome::Succeeded: return 0;
    case UpgradeOutcome::Declined:
      // Ctrl-C at the question is an interruption, not a no.
      if (QuitSignalCount().load() != signalsBefore) return Fail("interrupted: nothing was written", kExitInterrupted);
      return Fail("upgrade not confirmed: nothing was written", kExitFailed);
    default: return kExitFailed;
  }
}

int RunCtl(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  // The shell's completion (the bash completion script asks this).
  if (args.size() >= 2 && args[1] == "__complete") {
    for (const std::string& c : CompleteCtl({args.begin() + 2, args.end()})) std::puts(c.c_str());
    return 0;
  }
  const CtlOptions ctl = ParseCtl(args);
  const bool check = ctl.command == "check";
  // As a monitoring plugin, a wrong use of check is UNKNOWN.
  if (check && ctl.exit > 0) return CheckUnknown(ctl.error);
  if (ctl.exit >= 0) return PrintCommandLineEnd({ctl.exit, ctl.out, ctl.error}, "raidctl");
  // The mail settings touch no enclosure: no detection, no lock.
  if (IsMailCommand(ctl.command)) return MailCommand(ctl);
  // Building an image talks to no enclosure: no lock, no detection.
  if (ctl.command == "make-image") return RunMakeImage(ctl.make);
  const ProgramOptions& opt = ctl.program;
  if (ctl.command == "upgrade" && !ctl.yes && !RAID_ISATTY(stdin))
    return Fail("upgrade asks before it writes, and there is no terminal to ask on: add --yes", kExitUsage);
  // --service ADDRESS (or RAIDGUI_SERVICE, or the package's service when it
  // runs) answers instead of the enclosures; where none answers, raidctl
  // reads the enclosures itself.
  const bool served = ctl.command == "list" || ctl.command == "status" || (check && ctl.check.statusFile.empty()) ||
                      IsSetupCommand(ctl.command) || ctl.command == "upgrade";
  const std::string service = ServiceToAsk(ctl.service, !opt.simulate && served);
  if (!service.empty()) {
    if (IsSetupCommand(ctl.command)) return ChangeThroughService(service, ctl.setup);
    if (ctl.command == "upgrade") {
      InstallQuitSignalCounter();
      CtlView view(stderr);
      return UpgradeThroughService(service, ctl, view);
    }
    if (served) return ThroughService(service, ctl);
    // Only check --status-file is left, with --service named: it reads the
    // file, not a service (as a monitoring plugin, a wrong use is UNKNOWN).
    return CheckUnknown("check reads the monitor service or --status-file, not both");
  }

  // A check of the file a running monitor writes needs neither the lock nor
  // the enclosures.
  if (check && !ctl.check.statusFile.empty()) {
    const CheckResult r = CheckStatusFile(ctl.check);
    std::puts(r.line.c_str());
    return static_cast<int>(r.state);
  }

  InstanceLock lock;
  if (const Outcome locked = lock.Acquire(InstanceLockName(opt.simulate), {}, InstanceLockScope(opt.simulate));
      !locked) {
    if (check)
      return CheckUnknown(lock.HeldElsewhere() ? "raidgui or raidmon is running and holds the enclosures"
                                               : "cannot take the single-instance lock: " + locked.error());
    if (locked.error() == "another copy is running" || locked.error().empty())
      return Fail(
          "raidgui or raidmon is running and watches the enclosures; two programs must not talk to one "
          "enclosure at once. Close it and try again.",
          kExitLocked);
    return Fail("cannot take the single-instance lock: " + locked.error(), kExitLocked);
  }
  InstallQuitSignalCounter();

  // The user's locale in every category, as the window has it: the system's
  // error texts and the dates follow it.
  std::setlocale(LC_ALL, "");
  Machine machine;
  std::string error;
  if (!BuildMachine(opt, machine, error)) return check ? CheckUnknown(error) : Fail(error, kExitFailed);

  CtlView view(stderr);
  auto format = MakePlatformDateTimeFormat();
  // No day log is written: the core only detects and reads here.
  PageSelection pages;
  RaidCore core(*machine.io, *machine.clock, *format, view, ProgramDir(argc > 0 ? argv[0] : nullptr), pages);
  FirmwareUpgrade upgrade(core, view);

  if (ctl.command == "upgrade") {
    view.SetOutput(stdout);
    upgrade.LoadImageFile(ctl.file);
    if (!upgrade.ImageLoaded()) return kExitFailed;
    view.SetOutput(stderr);
  }

  // One detection, published as the window publishes it.
  core.DetectOnce();
  if (QuitSignalCount() > 0) return check ? CheckUnknown("interrupted") : Fail("interrupted", kExitInterrupted);

  int rc = kExitFailed;
  if (ctl.command == "list")
    rc = List(core);
  else if (ctl.command == "status")
    rc = Status(core, view, ctl.json);
  else if (check)
    rc = Check(core, view, ctl.check);
  else if (IsSetupCommand(ctl.command)) {
    StdioOutput out;
    rc = RunSetupCommand(core, upgrade, view, ctl.setup, out,
                         [&view](bool runs) { view.SetOutput(runs ? stdout : stderr); });
  } else
    rc = Upgrade(core, upgrade, view, ctl);
  core.Close();
  return OutputWritten(rc, "raidctl", &machine);
}

}  // namespace
}  // namespace raid

int main(int argc, char** argv) { return raid::OutputWritten(raid::RunCtl(argc, argv), "raidctl"); }
