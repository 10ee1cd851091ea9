// raidctl check: how a status document is judged and how the plugin line is
// formed. The exit codes per simulated state are checked end to end in
// tests/e2e_check.sh.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/common/drive_health.h"
#include "app/common/status_report.h"
#include "app/raidctl/check_command.h"
#include "core_harness.h"

namespace raid {
namespace {

using nlohmann::json;

json Enclosure(const std::string& name, const std::string& hdd1, const std::string& hdd2) {
  const bool both = hdd1 == "present" && hdd2 == "present";
  const bool one = hdd1 == "present" || hdd2 == "present";
  return {{"name", name},
          {"state", both  ? "Normal"
                    : one ? "Single HDD Present"
                          : "Failure"},
          {"drives", json::array({{{"name", "HDD1"}, {"state", hdd1}}, {{"name", "HDD2"}, {"state", hdd2}}})},
          {"activity", nullptr},
          {"fan", {{"rpm", 2400}, {"alarm", false}}},
          {"temperature", {{"celsius", 38}, {"alarm", false}}}};
}

json Doc(std::vector<json> enclosures) {
  json list = json::array();
  for (json& e : enclosures) list.push_back(std::move(e));
  return {{"version", kStatusJsonVersion}, {"enclosures", list}};
}

TEST(CheckTest, StatesAndTheirLines) {
  CheckResult r = EvaluateStatus(Doc({Enclosure("Device1", "present", "present")}), {});
  EXPECT_EQ(r.state, CheckState::Ok);
  EXPECT_EQ(r.line, "RAID OK - Device1: Normal | 'enclosures'=1;;1:;0 'Device1_temperature'=38 'Device1_fan'=2400");

  json rebuilding = Enclosure("Device1", "present", "present");
  rebuilding["activity"] = {{"kind", "rebuild"}, {"drive", "HDD2"}, {"progress", 40}};
  r = EvaluateStatus(Doc({rebuilding}), {});
  EXPECT_EQ(r.state, CheckState::Warning);
  EXPECT_NE(r.line.find("Device1: rebuilding towards HDD2 40% |"), std::string::npos) << r.line;
  EXPECT_NE(r.line.find("'Device1_progress'=40%;;;0;100"), std::string::npos) << r.line;

  // A failed drive on one enclosure outweighs a rebuild on another.
  r = EvaluateStatus(Doc({rebuilding, Enclosure("Device2", "failed", "present")}), {});
  EXPECT_EQ(r.state, CheckState::Critical);
  EXPECT_NE(r.line.find("Device2: HDD1 failed, degraded"), std::string::npos) << r.line;

  r = EvaluateStatus(Doc({Enclosure("Device1", "absent", "absent")}), {});
  EXPECT_EQ(r.state, CheckState::Critical);
  EXPECT_NE(r.line.find("array failed"), std::string::npos) << r.line;

  json hot = Enclosure("Device1", "present", "present");
  hot["temperature"]["alarm"] = true;
  EXPECT_EQ(EvaluateStatus(Doc({hot}), {}).state, CheckState::Warning);
}

TEST(CheckTest, MissingEnclosuresAreCritical) {
  CheckResult r = EvaluateStatus(Doc({}), {});
  EXPECT_EQ(r.state, CheckState::Critical);
  EXPECT_EQ(r.line, "RAID CRITICAL - no enclosure found | 'enclosures'=0;;1:;0");
  r = EvaluateStatus(Doc({Enclosure("Device1", "present", "present")}), CheckOptions{2, {}});
  EXPECT_EQ(r.state, CheckState::Critical);
  EXPECT_NE(r.line.find("1 of 2 enclosures found"), std::string::npos) << r.line;
}

TEST(CheckTest, WhatCannotBeToldIsUnknownNeverOk) {
  EXPECT_EQ(EvaluateStatus(json::array(), {}).state, CheckState::Unknown);
  EXPECT_EQ(EvaluateStatus({{"enclosures", json::array()}}, {}).state, CheckState::Unknown);  // no version
  EXPECT_EQ(EvaluateStatus({{"version", 99}, {"enclosures", json::array()}}, {}).state, CheckState::Unknown);
  EXPECT_EQ(EvaluateStatus({{"version", 1}, {"enclosures", "x"}}, {}).state, CheckState::Unknown);
  EXPECT_EQ(EvaluateStatus(Doc({json{{"name", "Device1"}, {"error", "the status read failed"}}}), {}).state,
            CheckState::Unknown);
  json odd = Enclosure("Device1", "present", "present");
  odd["drives"][1]["state"] = 7;
  EXPECT_EQ(EvaluateStatus(Doc({odd}), {}).state, CheckState::Unknown);
  odd = Enclosure("Device1", "present", "present");
  odd["state"] = "Something new";
  EXPECT_EQ(EvaluateStatus(Doc({odd}), {}).state, CheckState::Unknown);
  // An unreadable enclosure does not hide a failed one.
  EXPECT_EQ(
      EvaluateStatus(Doc({json{{"name", "Device1"}, {"error", "x"}}, Enclosure("Device2", "failed", "present")}), {})
          .state,
      CheckState::Critical);
}

TEST(CheckTest, TheLineStaysOneLineWithWellFormedLabels) {
  json e = Enclosure("Dev'1=|x", "present", "present");
  const CheckResult r = EvaluateStatus(Doc({e}), {});
  EXPECT_EQ(r.line.find('\n'), std::string::npos);
  EXPECT_EQ(std::count(r.line.begin(), r.line.end(), '|'), 1) << r.line;
  EXPECT_NE(r.line.find("'Dev_1__x_temperature'=38"), std::string::npos) << r.line;
  EXPECT_EQ(UnknownResult("a\nb|c").line, "RAID UNKNOWN - a b/c");
}

// The monitor's status file and its mail watch judge an enclosure only from
// a record a poll has read: one just published (or a new enclosure on a
// drive number that had another) is "not read yet", never "array failed".
TEST(StatusDocument, AnEnclosureIsJudgedOnlyOnceItsRecordWasRead) {
  test::Harness h(test::kOneEnclosure);
  h.Tick();  // published, not yet polled
  ASSERT_EQ(h.core.Devices().DeviceCount, 1);
  const json early = AcceptedStatusDocument(h.core);
  ASSERT_EQ(early["enclosures"].size(), 1u);
  EXPECT_EQ(early["enclosures"][0]["error"], "no status record read yet");
  EXPECT_EQ(EvaluateStatus(early, {}).state, CheckState::Unknown);
  EXPECT_FALSE(AnyDriveDown(h.core));
  EXPECT_EQ(EnclosureHealthOf(h.core)[0].text, "waiting for status");

  h.RunFor(1000);  // the first poll
  const json polled = AcceptedStatusDocument(h.core);
  EXPECT_EQ(polled["enclosures"][0]["state"], "Normal");
  EXPECT_EQ(EvaluateStatus(polled, {}).state, CheckState::Ok);
  EXPECT_EQ(EnclosureHealthOf(h.core)[0].text, "Normal");
}

}  // namespace
}  // namespace raid
