// Every view of a status record tells the same story: random records with
// random firmware capabilities go through the status JSON and the check's
// verdict, the console status line, the tray's health, the Status page model
// and the device report's log block, and each pair of views must agree on
// the drives' states, the activity, the array state, the mode and the fan.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "app/common/drive_health.h"
#include "app/common/status_report.h"
#include "app/raidctl/check_command.h"
#include "app/raidmon/status_line.h"
#include "core_harness.h"
#include "tests/core/core_access.h"

namespace raid {
namespace {

using nlohmann::json;

std::string S(const json& v) { return v.get<std::string>(); }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string OneLine(std::string s) {
  std::replace(s.begin(), s.end(), '\n', ' ');
  return s;
}

TEST(StatusAgreement, AllViewsOfARandomRecordTellTheSameStory) {
  test::Harness h(test::kOneEnclosure);
  h.RunFor(1000);
  MonitorState& ms = CoreTestAccess::Monitoring(h.core);
  StatusPage& page = CoreTestAccess::Page(h.core);
  const StatusPageModel& m = page.Model;
  std::mt19937 rng(23);
  std::uniform_int_distribution<int> byte(0, 255), digit('0', '9');
  int scans = 0, rebuilds = 0, scanBitWithoutScans = 0, fans = 0, degraded = 0;
  for (int round = 0; round < 3000; ++round) {
    Sector rec;
    for (auto& v : rec) v = static_cast<uint8_t>(byte(rng));
    // A random date code gives firmware with and without each capability.
    std::string revision(8, '.');
    for (size_t i = 0; i < 8; ++i) revision[i] = i == 6 ? '.' : static_cast<char>(digit(rng));
    Sector id{};
    for (size_t i = 0; i < ident::kFirmwareLen; ++i) id[ident::kFirmware + (i ^ 1)] = static_cast<uint8_t>(revision[i]);
    const FirmwareInfo fw = ReadFirmware(id);
    SCOPED_TRACE("round " + std::to_string(round) + ", firmware " + fw.text);

    const EnclosureIdentity e{0, 0, id};
    const json j = StatusJson(e, rec);
    const CheckResult check = EvaluateStatus({{"version", kStatusJsonVersion}, {"enclosures", {j}}}, {});
    const std::string line = EnclosureStatusLine(0, 0, id, rec);
    const DecodedStatus decoded = DecodeStatus(rec, fw);
    const EnclosureHealth health = HealthOf(decoded, 0);
    scanBitWithoutScans += decoded.activity.scanBit && decoded.activity.kind == ActivityKind::Rebuild;
    ms.StatusBlock[0] = rec;
    ms.FirmwareVersion = fw.text;
    ms.ScanCapable = fw.scanCapable;
    ms.FanCapable = fw.fanCapable;
    page.Model.LastProgressDrawn = 255;
    ASSERT_EQ(page.RefreshStatusPage(true), 0);
    std::vector<std::string> block;
    CoreTestAccess::Report(h.core).AppendDeviceInfoBlock(block, 0, ReportForm::Log);
    std::string report;
    for (const auto& l : block) report += l + "\n";

    // Drives: the JSON's state is the status line's, the report's state line
    // and the health's failed or missing drive.
    bool anyDown = false;
    for (int x = 0; x < 2; ++x) {
      const std::string name = S(j["drives"][x]["name"]), state = S(j["drives"][x]["state"]);
      EXPECT_TRUE(Has(line, name + " " + state)) << line;
      EXPECT_EQ(Has(health.text, name + " missing"), state == "absent") << health.text;
      EXPECT_EQ(Has(health.text, name + " failed"), state == "failed") << health.text;
      EXPECT_EQ(Has(report, name + " is absent."), state == "absent") << report;
      EXPECT_EQ(Has(report, name + " is present."), state == "present") << report;
      EXPECT_EQ(Has(report, name + " was failed,"), state == "failed") << report;
      EXPECT_EQ(Has(report, name + " was inserted."), state == "inserted") << report;
      if (state == "present") {
        const std::string& shown = x == 0 ? m.Hdd1IdentityText.text : m.Hdd2IdentityText.text;
        EXPECT_EQ(Trim(shown), S(j["drives"][x]["model"]));
      }
      anyDown = anyDown || state == "absent" || state == "failed";
    }
    EXPECT_EQ(health.health == Health::Degraded, anyDown);
    degraded += anyDown;

    // The verdict: a drive down or an array not normal is critical; a
    // running activity is never OK.
    EXPECT_EQ(check.state == CheckState::Critical, anyDown || S(j["state"]) != "Normal") << check.line;
    if (check.state == CheckState::Ok) {
      EXPECT_EQ(health.health, Health::Healthy);
    }

    // Activity: one kind, one drive and one percentage everywhere.
    if (j["activity"].is_null()) {
      EXPECT_FALSE(Has(check.line, "scanning") || Has(check.line, "rebuilding")) << check.line;
      EXPECT_EQ(OneLine(m.StateText.text), S(j["state"]));
      EXPECT_TRUE(Has(line, "GB, " + S(j["state"]) + ";")) << line;
      if (!anyDown) {
        EXPECT_EQ(health.text, "Normal");
      }
    } else {
      const std::string kind = S(j["activity"]["kind"]), drive = S(j["activity"]["drive"]);
      // The views of a person show the percentage as recorded; the
      // documents for programs leave one over 100 unknown.
      const int recorded = decoded.activity.progress;
      const std::string pct = std::to_string(recorded) + "%";
      EXPECT_EQ(j["activity"]["progress"], recorded <= 100 ? json(recorded) : json(nullptr));
      const std::string checkPct = recorded <= 100 ? " " + pct : ", progress unknown";
      EXPECT_NE(check.state, CheckState::Ok);
      if (kind == "scan") {
        ++scans;
        EXPECT_TRUE(Has(check.line, "scanning " + drive + checkPct)) << check.line;
        EXPECT_TRUE(Has(line, "scan of " + drive + " " + pct)) << line;
        EXPECT_EQ(m.StateText.text, pct + "\n" + drive + " Scan");
        if (!anyDown) {
          EXPECT_EQ(health.text, "scanning " + pct);
        }
      } else {
        ++rebuilds;
        EXPECT_TRUE(Has(check.line, "rebuilding towards " + drive + checkPct)) << check.line;
        EXPECT_TRUE(Has(line, "rebuild of " + drive + " " + pct)) << line;
        EXPECT_EQ(m.StateText.text, pct + (drive == "HDD1" ? "\n<<<<\nRebuilding" : "\n>>>>\nRebuilding"));
        if (!anyDown) {
          EXPECT_EQ(health.text, "rebuilding " + pct);
        }
      }
    }

    // Mode, capacity, firmware.
    EXPECT_EQ(m.ModeText.text, S(j["mode"]));
    EXPECT_TRUE(Has(line, "): " + m.ModeText.text + ", " + m.ArrayCapacityText.text + ", ")) << line;
    EXPECT_EQ(m.ArrayCapacityText.text, std::to_string(j["capacityGB"].get<uint64_t>()) + " GB");
    EXPECT_EQ(m.FirmwareVersionText.text, S(j["firmware"]));
    EXPECT_TRUE(Has(report, "\n" + m.ModeText.text + ", F/W Rev. ")) << report;

    // Fan and temperature: shown by all or by none, with the same values and alarms.
    EXPECT_EQ(m.EnvironmentPanelVisible, !j["fan"].is_null());
    EXPECT_EQ(Has(line, "; fan "), !j["fan"].is_null()) << line;
    if (!j["fan"].is_null()) {
      ++fans;
      EXPECT_EQ(m.FanSpeedText.text, std::to_string(j["fan"]["rpm"].get<unsigned>()));
      EXPECT_EQ(m.TemperatureText.text, std::to_string(j["temperature"]["celsius"].get<unsigned>()));
      EXPECT_EQ(m.FanSpeedText.color == TextColor::Red, j["fan"]["alarm"].get<bool>());
      EXPECT_EQ(m.TemperatureText.color == TextColor::Red, j["temperature"]["alarm"].get<bool>());
      EXPECT_EQ(Has(check.line, "fan alarm"), j["fan"]["alarm"].get<bool>()) << check.line;
      EXPECT_EQ(Has(line, "(too hot)"), j["temperature"]["alarm"].get<bool>()) << line;
    }
    if (::testing::Test::HasFailure()) break;
  }
  // The random records reached every branch the views tell apart.
  EXPECT_GT(scans, 0);
  EXPECT_GT(rebuilds, 0);
  EXPECT_GT(scanBitWithoutScans, 0);
  EXPECT_GT(fans, 0);
  EXPECT_GT(degraded, 0);
}

}  // namespace
}  // namespace raid
