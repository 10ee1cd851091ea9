#include "app/common/setup_commands.h"

#include <CLI/CLI.hpp>

#include "app/common/command_line.h"

#include <cstdio>

#include "app/common/status_report.h"
#include "maintenance/enclosure_verbs.h"
#include "monitor/decoded_status.h"
#include "monitor/device_messages.h"

namespace raid {

namespace {

constexpr int kExitFailed = 1;

int Fail(CommandOutput& out, const std::string& text) {
  out.Err("raidctl: " + text + "\n");
  return kExitFailed;
}

// Serves the one request a verb queued, as the status thread would.
bool Serve(RaidCore& core, uint8_t bit) {
  bool served = false, sent = false;
  core.SetRequestServedHandler([&](uint8_t b, bool ok) {
    served = b == bit;
    sent = ok;
  });
  if (core.Devices().RequestBits.load() & bit) core.ServeStatusRequest();
  core.SetRequestServedHandler(nullptr);
  return served && sent;
}

}  // namespace

void StdioOutput::Out(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  if (flushEach_) std::fflush(stdout);
}

void StdioOutput::Err(const std::string& text) {
  std::fflush(stdout);
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

std::string CommandPanelLine(StatusBarPanel panel, const std::string& text) {
  // Panel 4 carries the operations' messages; the others belong to the
  // window's detection display, except the image sum in panel 0.
  if (!IsStatusBarPanel(panel) || text.find_first_not_of(' ') == std::string::npos) return {};
  if (panel == kMessagePanel || (panel == kChecksumPanel && text.rfind("Chksum:", 0) == 0))
    return "raidctl: " + text + "\n";
  return {};
}

std::string CommandBoxLine(const MessageBoxRequest& box) {
  return "raidctl: " + box.caption + (box.caption.empty() ? "" : ": ") + box.text + "\n";
}

void CommandView::SetPanelText(StatusBarPanel panel, const std::string& text) {
  if (!IsStatusBarPanel(panel)) return;
  panels_[panel] = text;
  if (const std::string line = CommandPanelLine(panel, text); !line.empty()) out_.Out(line);
}

std::string CommandView::PanelText(StatusBarPanel panel) const {
  return IsStatusBarPanel(panel) ? panels_[panel] : std::string();
}

BoxResult CommandView::ShowMessage(const MessageBoxRequest& box) {
  Boxes.push_back(box);
  out_.Out(CommandBoxLine(box));
  return box.buttons == BoxButtons::YesNo ? BoxResult::No : BoxResult::Ok;
}

int SetupPreamble(const RaidCore& core, const SetupCommand& c, CommandOutput& out) {
  const DeviceState& st = core.Devices();
  if (st.DeviceCount == 0) {
    out.Out("No enclosure found.\n");
    return kExitFailed;
  }
  if (c.slot >= st.DeviceCount)
    return Fail(out, "no enclosure in slot " + std::to_string(c.slot) + " (" + std::to_string(st.DeviceCount) +
                         " found; see raidctl list)");
  return -1;
}

void SetupHeader(const RaidCore& core, int slot, CommandOutput& out) {
  const uint32_t flags = core.Devices().DeviceList[static_cast<size_t>(slot) % kMaxSlots];
  const FirmwareInfo fw = ReadFirmware(core.IdentSectorOf(slot));
  const DecodedStatus s = DecodeStatus(core.StatusRecordOf(slot), fw);
  char line[256];
  std::snprintf(line, sizeof line, "%s: PD%u, %s, firmware %s, %s, %llu GB\n", SlotName(slot).c_str(),
                drive_flags::Drive(flags) % kPhysicalDrives, TransportName(flags).c_str(), fw.text.c_str(),
                s.mode.c_str(), static_cast<unsigned long long>(Gigabytes(s.capacitySectors)));
  out.Out(line);
}

void UpgradeHeader(const RaidCore& core, int slot, CommandOutput& out) {
  const EnclosureIdentity e = IdentityOf(core, slot);
  out.Out(SlotName(slot) + ": PD" + std::to_string(drive_flags::Drive(e.flags)) + ", " + TransportName(e.flags) +
          ", firmware " + ReadFirmware(e.ident).text + "\n");
}

std::string UpgradeProgressLine(const std::string& text, const std::string& caption, int percent) {
  constexpr int kWidth = 40;
  percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
  const int filled = percent * kWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  char pct[8];
  std::snprintf(pct, sizeof pct, "%3d%%", percent);
  return "\r" + text + " " + caption + " [" + bar + "] " + pct;
}

int UpgradePercent(uint32_t value, uint32_t max) {
  return static_cast<int>(static_cast<uint64_t>(value) * 100 / (max ? max : 1));
}

SetupStart StartSetupCommand(RaidCore& core, EnclosureVerbs& verbs, const SetupCommand& c, CommandOutput& out) {
  const auto slot = static_cast<uint8_t>(c.slot);
  if (c.command == "schedule") {
    SetupStart start{-1, request_bits::kBackupPeriod, 0};
    if (verbs.SetSchedule(slot, c.on, static_cast<uint8_t>(c.period), &start.minutes) == VerbStatus::NoPeriod)
      return {Fail(out, "the schedule is off on this enclosure, so it has no period to keep: add --period")};
    return start;
  }
  switch (verbs.Scan(slot, static_cast<uint8_t>(c.drive - 1), c.stop)) {
    case VerbStatus::Queued: return {-1, request_bits::kScan};
    case VerbStatus::NoCapacity: return {kExitFailed};  // said in panel 4
    default: return {Fail(out, "no enclosure is monitored")};
  }
}

int FinishSetupCommand(EnclosureVerbs& verbs, const SetupCommand& c, const SetupStart& start, bool sent,
                       CommandOutput& out) {
  const auto slot = static_cast<uint8_t>(c.slot);
  if (c.command == "schedule") {
    if (!sent) return Fail(out, "the schedule setting was not sent");
    if (c.on)
      out.Out("Backup period: " + std::to_string(start.minutes) + " min\n");
    else
      out.Out(std::string(setup_text::kScheduleDisabled) + "\n");
    return 0;
  }
  if (!sent) return Fail(out, "the scan request was not sent");
  const std::string name = c.drive == 1 ? "HDD1" : "HDD2";
  if (c.stop)
    out.Out(name + " scan stop requested\n");
  else
    out.Out(name + " scan requested: sectors 0 to " + std::to_string(verbs.ScanLastSector(slot)) + "\n");
  return 0;
}

bool IsSetupCommand(const std::string& command) {
  return command == "schedule" || command == "scan" || command == "initialize";
}

std::string ReadSlot(const std::string& v, int& slot) {
  if (v.size() != 1 || v[0] < '0' || v[0] > '7') return "--slot needs a slot number 0-7, not \"" + v + "\"";
  slot = v[0] - '0';
  return {};
}

void SetupTable::Add(CommandLine& line, CLI::App& root) {
  const char* slotHelp = "the enclosure's slot, 0-7 (default 0; see raidctl list)";
  CLI::App& schedule =
      line.Command(root, "schedule", "switch the schedule backup on (keeping its period unless given) or off");
  line.Word(schedule, "ON_OFF", onOff_, {"on", "off"}, "on or off");
  line.Choice(schedule, "--period", period_, {"10", "30", "60", "180"}, "minutes between backups (with on)");
  line.Value(schedule, "--slot", slot_[0], "N", slotHelp);
  CLI::App& scan = line.Command(root, "scan", "start or stop a media scan of HDD1 or HDD2 over the whole array");
  line.Word(scan, "START_STOP", startStop_, {"start", "stop"}, "start or stop");
  line.Choice(scan, "--drive", drive_, {"1", "2"}, "HDD1 or HDD2");
  line.Value(scan, "--slot", slot_[1], "N", slotHelp);
  CLI::App& init = line.Command(root, "initialize", "set the enclosure's drives up as a new array: ALL DATA IS LOST");
  line.Flag(init, "--yes-destroy-data", destroy_, "the confirmation that the data on both drives may be lost");
  line.Value(init, "--slot", slot_[2], "N", slotHelp);
}

std::string SetupTable::Finish(const CommandLine& line, SetupCommand& out) const {
  out = {};
  const std::vector<std::string> commands = line.Commands();
  out.command = commands.empty() ? "" : commands.front();
  const int k = out.command == "schedule" ? 0 : out.command == "scan" ? 1 : 2;
  if (line.Given("--slot"))
    if (std::string why = ReadSlot(slot_[k], out.slot); !why.empty()) return why;
  if (out.command == "schedule") {
    if (onOff_ != "on" && onOff_ != "off") return "schedule needs on or off";
    out.on = onOff_ == "on";
    if (line.Given("--period")) {
      if (!out.on) return "--period belongs to schedule on";
      if (period_ != "10" && period_ != "30" && period_ != "60" && period_ != "180")
        return "--period needs 10, 30, 60 or 180 minutes, not \"" + period_ + "\"";
      out.period = std::stoi(period_);
    }
  } else if (out.command == "scan") {
    if (startStop_ != "start" && startStop_ != "stop") return "scan needs start or stop";
    out.stop = startStop_ == "stop";
    if (!line.Given("--drive")) return "scan needs --drive 1 or --drive 2";
    if (drive_ != "1" && drive_ != "2") return "--drive needs 1 (HDD1) or 2 (HDD2), not \"" + drive_ + "\"";
    out.drive = drive_[0] - '0';
  } else {
    out.destroyConfirmed = destroy_;
    if (!out.destroyConfirmed)
      return "initialize sets the drives up anew and destroys all data on them: confirm with --yes-destroy-data";
  }
  return {};
}

int RunSetupCommand(RaidCore& core, FirmwareUpgrade& framing, CoreView& view, const SetupCommand& c, CommandOutput& out,
                    const std::function<void(bool)>& switchOutput) {
  if (const int rc = SetupPreamble(core, c, out); rc >= 0) return rc;
  // No poll is made (raidctl keeps no day log): the page reads the
  // enclosure's record once, as the first Status page refresh would.
  const auto slot = static_cast<uint8_t>(c.slot);
  if (const DeviceResult read = core.LoadStatusRecordOnce(slot); !read) {
    ShowDeviceResult(view, read);
    return Fail(out, "the status read failed");
  }
  EnclosureVerbs verbs(core, view, framing);
  SetupHeader(core, c.slot, out);
  // The core's texts of the command follow the header on standard output.
  if (switchOutput) switchOutput(true);
  int rc = kExitFailed;
  if (c.command == "initialize") {
    // --yes-destroy-data was the question.
    rc = verbs.Initialise(slot) == VerbStatus::Succeeded ? 0 : kExitFailed;
  } else {
    const SetupStart start = StartSetupCommand(core, verbs, c, out);
    rc = start.exit >= 0 ? start.exit : FinishSetupCommand(verbs, c, start, Serve(core, start.waitBit), out);
  }
  if (switchOutput) switchOutput(false);
  return rc;
}

}  // namespace raid
