#include "app/raidctl/setup_commands.h"

#include <cstdio>

#include "app/common/status_report.h"
#include "maintenance/enclosure_verbs.h"
#include "monitor/decoded_status.h"
#include "monitor/device_messages.h"

namespace raid {

namespace {

constexpr int kExitFailed = 1;

int Fail(const std::string& text) {
  std::fprintf(stderr, "raidctl: %s\n", text.c_str());
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

int Schedule(RaidCore& core, EnclosureVerbs& verbs, uint8_t slot, const SetupCommand& c) {
  uint8_t minutes = 0;
  if (verbs.SetSchedule(slot, c.on, static_cast<uint8_t>(c.period), &minutes) == VerbStatus::NoPeriod)
    return Fail("the schedule is off on this enclosure, so it has no period to keep: add --period");
  if (!Serve(core, request_bits::kBackupPeriod)) return Fail("the schedule setting was not sent");
  if (c.on)
    std::printf("Backup period: %u min\n", minutes);
  else
    std::printf("%s\n", setup_text::kScheduleDisabled);
  return 0;
}

int Scan(RaidCore& core, EnclosureVerbs& verbs, uint8_t slot, const SetupCommand& c) {
  const auto drive = static_cast<uint8_t>(c.drive - 1);
  switch (verbs.Scan(slot, drive, c.stop)) {
    case VerbStatus::Queued: break;
    case VerbStatus::NoCapacity: return kExitFailed;  // said in panel 4
    default: return Fail("no enclosure is monitored");
  }
  if (!Serve(core, request_bits::kScan)) return Fail("the scan request was not sent");
  const std::string name = drive == 0 ? "HDD1" : "HDD2";
  if (c.stop)
    std::printf("%s scan stop requested\n", name.c_str());
  else
    std::printf("%s scan requested: sectors 0 to %llu\n", name.c_str(),
                static_cast<unsigned long long>(verbs.ScanLastSector(slot)));
  return 0;
}

}  // namespace

bool IsSetupCommand(const std::string& command) {
  return command == "schedule" || command == "scan" || command == "initialize";
}

std::string SetupUsage() {
  return "  schedule on|off [--period 10|30|60|180] [--slot N]\n"
         "                                  switch the schedule backup on (keeping its period unless given) or off\n"
         "  scan start|stop --drive 1|2 [--slot N]\n"
         "                                  start or stop a media scan of HDD1 or HDD2 over the whole array\n"
         "  initialize --yes-destroy-data [--slot N]\n"
         "                                  set the enclosure's drives up as a new array: ALL DATA IS LOST\n";
}

std::string ParseSetupCommand(const std::vector<std::string>& args, SetupCommand& out, std::vector<std::string>& common,
                              bool& help) {
  out.command = args[1];
  size_t i = 2;
  const std::string word = args.size() > 2 ? args[2] : "";
  if (out.command == "schedule") {
    if (word != "on" && word != "off") return "schedule needs on or off right after it";
    out.on = word == "on";
    i = 3;
  } else if (out.command == "scan") {
    if (word != "start" && word != "stop") return "scan needs start or stop right after it";
    out.stop = word == "stop";
    i = 3;
  }
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&]() { return i + 1 < args.size() ? args[++i] : std::string(); };
    if (a == "--help" || a == "-h") {
      help = true;
    } else if (a == "--slot") {
      const std::string v = value();
      if (v.size() != 1 || v[0] < '0' || v[0] > '7') return "--slot needs a slot number 0-7, not \"" + v + "\"";
      out.slot = v[0] - '0';
    } else if (a == "--period" && out.command == "schedule") {
      if (!out.on) return "--period belongs to schedule on";
      const std::string v = value();
      if (v != "10" && v != "30" && v != "60" && v != "180")
        return "--period needs 10, 30, 60 or 180 minutes, not \"" + v + "\"";
      out.period = std::stoi(v);
    } else if (a == "--drive" && out.command == "scan") {
      const std::string v = value();
      if (v != "1" && v != "2") return "--drive needs 1 (HDD1) or 2 (HDD2), not \"" + v + "\"";
      out.drive = v[0] - '0';
    } else if (a == "--yes-destroy-data" && out.command == "initialize") {
      out.destroyConfirmed = true;
    } else if (a == "--log-dir" || a == "--duration" || a == "--maintenance") {
      return a + " is not an option of raidctl";
    } else if (a.rfind("--", 0) == 0) {
      common.push_back(a);
      if ((a == "--simulate" || a == "--trace") && i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0)
        common.push_back(args[++i]);
    } else {
      return "unexpected \"" + a + "\"";
    }
  }
  if (help) return {};
  if (out.command == "scan" && out.drive == 0) return "scan needs --drive 1 or --drive 2";
  if (out.command == "initialize" && !out.destroyConfirmed)
    return "initialize sets the drives up anew and destroys all data on them: confirm with --yes-destroy-data";
  return {};
}

int RunSetupCommand(RaidCore& core, FirmwareUpgrade& framing, CtlView& view, const SetupCommand& c) {
  const DeviceState& st = core.Devices();
  if (st.DeviceCount == 0) {
    std::puts("No enclosure found.");
    return kExitFailed;
  }
  if (c.slot >= st.DeviceCount)
    return Fail("no enclosure in slot " + std::to_string(c.slot) + " (" + std::to_string(st.DeviceCount) +
                " found; see raidctl list)");
  // No poll is made (raidctl keeps no day log): the page reads the
  // enclosure's record once, as the first Status page refresh would.
  const auto slot = static_cast<uint8_t>(c.slot);
  if (const DeviceResult read = core.LoadStatusRecordOnce(slot); !read) {
    ShowDeviceResult(view, read);
    return Fail("the status read failed");
  }
  const uint32_t flags = st.DeviceList[slot];
  const FirmwareInfo fw = ReadFirmware(core.IdentSectorOf(slot));
  const DecodedStatus s = DecodeStatus(core.StatusRecordOf(slot), fw);
  std::printf("%s: PD%u, %s, firmware %s, %s, %llu GB\n", SlotName(c.slot).c_str(),
              drive_flags::Drive(flags) % kPhysicalDrives, TransportName(flags).c_str(), fw.text.c_str(),
              s.mode.c_str(), static_cast<unsigned long long>(Gigabytes(s.capacitySectors)));
  std::fflush(stdout);

  view.SetOutput(stdout);
  EnclosureVerbs verbs(core, view, framing);
  int rc = kExitFailed;
  if (c.command == "schedule") {
    rc = Schedule(core, verbs, slot, c);
  } else if (c.command == "scan") {
    rc = Scan(core, verbs, slot, c);
  } else {
    // --yes-destroy-data was the question.
    rc = verbs.Initialise(slot) == VerbStatus::Succeeded ? 0 : kExitFailed;
  }
  view.SetOutput(stderr);
  return rc;
}

}  // namespace raid
