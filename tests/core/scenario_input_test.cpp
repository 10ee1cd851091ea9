// Scenario files are user input: every number is range-checked without
// wrapping, every mistake names the field it sits in, and nothing unknown or
// ill-typed is silently dropped.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "device/record_layout.h"
#include "sim/scenario.h"
#include "tests/core/test_support.h"

namespace raid {
namespace {

std::string ErrorOf(const std::string& json) { return sim::ParseScenario(json).error(); }

// The error names `path` as the place of the mistake.
::testing::AssertionResult Names(const std::string& json, const std::string& path) {
  const std::string e = ErrorOf(json);
  if (e.rfind(path + ":", 0) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "error \"" << e << "\" does not start with \"" << path << ":\"";
}

std::string OneEnclosure(const std::string& status) {
  return R"({"enclosures":[{"name":"E","status":)" + status + "}]}";
}

std::string Timeline(const std::string& entry) {
  return R"({"enclosures":[{"name":"E"}],"timeline":[{"at":1,"enclosure":"E","set":{"fan":1}},)" + entry + "]}";
}

TEST(ScenarioInput, RawPatchesThatWrapOrRunPastTheRecordAreRefused) {
  // offset + length wraps to 1: this used to write before the record.
  EXPECT_TRUE(Names(OneEnclosure(R"({"raw":[{"offset":18446744073709551615,"bytes":[1,2]}]})"),
                    "enclosures[0].status.raw[0].offset"));
  EXPECT_TRUE(Names(OneEnclosure(R"({"raw":[{"offset":"0xFFFFFFFFFFFFFFFF","bytes":[1,2]}]})"),
                    "enclosures[0].status.raw[0].offset"));
  EXPECT_TRUE(Names(OneEnclosure(R"({"raw":[{"offset":4,"bytes":[1]},{"offset":510,"bytes":[1,2,3]}]})"),
                    "enclosures[0].status.raw[1].bytes"));
  EXPECT_TRUE(Names(OneEnclosure(R"({"raw":[{"offset":4,"bytes":[1,256]}]})"), "enclosures[0].status.raw[0].bytes[1]"));
  EXPECT_TRUE(Names(Timeline(R"({"at":2,"enclosure":"E","set":{"raw":[{"offset":-1,"bytes":[1]}]}})"),
                    "timeline[1].set.raw[0].offset"));
  // The last byte of the record is still reachable.
  const auto sc = test::Scenario(OneEnclosure(R"({"raw":[{"offset":"0x1FF","bytes":[171]}]})"));
  EXPECT_EQ(sc.enclosures[0].status[511], 171);
}

TEST(ScenarioInput, RampsStayInsideTheirFieldAndTheirStepCount) {
  // A step that wraps used to count down through 2^64 and never end.
  EXPECT_TRUE(Names(Timeline(R"({"at":2,"enclosure":"E","ramp":{"field":"capacity","from":1099511627775,
      "to":18446744073709551615,"step":18446744073709551615}})"),
                    "timeline[1].ramp.to"));
  EXPECT_TRUE(Names(Timeline(R"({"at":2,"enclosure":"E","ramp":{"field":"progress","from":0,"to":99,
      "step":18446744073709551615}})"),
                    "timeline[1].ramp.step"));
  EXPECT_TRUE(Names(Timeline(R"({"at":2,"enclosure":"E","ramp":{"field":"fan","from":0,"to":65535,"step":0}})"),
                    "timeline[1].ramp.step"));
  EXPECT_TRUE(Names(Timeline(R"({"at":2,"enclosure":"E","ramp":{"field":"capacity","from":0,"to":1000000}})"),
                    "timeline[1].ramp"));
  EXPECT_TRUE(Names(Timeline(R"({"at":2,"enclosure":"E","ramp":{"field":"hdd1Model","from":0,"to":9}})"),
                    "timeline[1].ramp.field"));
  EXPECT_TRUE(Names(Timeline(R"({"at":2,"enclosure":"E","ramp":{"field":"fan","from":0,"to":9,"every":1e300}})"),
                    "timeline[1].ramp.every"));
  // A ramp that ends exactly at the field's top counts every value once.
  const auto sc = test::Scenario(
      Timeline(R"({"at":2,"enclosure":"E","ramp":{"field":"progress","from":250,"to":255,"step":5,"every":2}})"));
  ASSERT_EQ(sc.events.size(), 3u);
  EXPECT_EQ(sc.events[2].bytes, std::vector<uint8_t>{255});
  EXPECT_DOUBLE_EQ(sc.events[2].at, 4.0);
}

TEST(ScenarioInput, NumbersAreWholeUnsignedAndInRange) {
  // A minus sign in text used to wrap to a huge number, which ran the clock backwards.
  EXPECT_TRUE(Names(R"({"enclosures":[],"timing":{"roundTripMs":"-1000"}})", "timing.roundTripMs"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"timing":{"blockReadMs":9223372036854775808}})", "timing.blockReadMs"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"timing":{"sectorEraseMs":" 5"}})", "timing.sectorEraseMs"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"seed":4294967296})", "seed"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"seed":1.5})", "seed"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"seed":"010"})", "seed"));  // octal or decimal? neither is guessed
  EXPECT_TRUE(Names(R"({"enclosures":[],"seed":"0x"})", "seed"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"seed":"99999999999999999999"})", "seed"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"faults":[{"count":1099511627776}]})", "faults[0].count"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"faults":[{"after":-2}]})", "faults[0].after"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"volumes":[{"letter":"E","type":259}]})", "volumes[0].type"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"volumes":[{"letter":"E","offset":9223372036854775807,"length":2}]})",
                    "volumes[0].length"));
  const auto sc = test::Scenario(R"({"enclosures":[],"seed":"0xFFFFFFFF","timing":{"pageProgramMs":"12"}})");
  EXPECT_EQ(sc.seed, 0xFFFFFFFFu);
  EXPECT_EQ(sc.timing.pageProgramMs, 12);
}

TEST(ScenarioInput, TimesAndSpeedAreBounded) {
  EXPECT_TRUE(Names(R"({"enclosures":[],"clock":{"speed":1e9}})", "clock.speed"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"clock":{"speed":0}})", "clock.speed"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"clock":{"speed":"fast"}})", "clock.speed"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"timing":{"roundTripMs":100000000}})", "timing.roundTripMs"));
  EXPECT_TRUE(Names(Timeline(R"({"at":1e300,"unplug":"E"})"), "timeline[1].at"));
  EXPECT_TRUE(Names(Timeline(R"({"at":-1,"unplug":"E"})"), "timeline[1].at"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"faults":[{"from":10,"until":5}]})", "faults[0].until"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"clock":{"start":"2010-02-30 00:00:00"}})", "clock.start"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"clock":{"start":"2010-2-3 9:00:00"}})", "clock.start"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"clock":{"start":"2010-05-03 09:00:00 "}})", "clock.start"));
  const auto sc = test::Scenario(R"({"enclosures":[],"clock":{"start":"2012-02-29 23:59:59","speed":10000}})");
  EXPECT_EQ(sc.speed, sim::kMaxScenarioSpeed);
  ASSERT_TRUE(sc.start);
  EXPECT_EQ(sc.start->day, 29);
}

TEST(ScenarioInput, UnknownIllTypedOrRepeatedKeysAreRefusedByName) {
  EXPECT_TRUE(Names(R"({"enclosures":[],"timline":[]})", "timline"));
  EXPECT_TRUE(Names(R"({"enclosures":[{"name":"E","modle":"X"}]})", "enclosures[0].modle"));
  // An enclosure's drive answers INQUIRY as its bridge does: the value was silently dropped.
  EXPECT_TRUE(Names(R"({"enclosures":[{"name":"E"}],"disks":[{"drive":0,"enclosure":"E",
      "inquiryAdditionalLength":5}]})",
                    "disks[0].inquiryAdditionalLength"));
  EXPECT_TRUE(Names(R"({"enclosures":[{"name":"E","answersIdentOpcode":"yes"}]})", "enclosures[0].answersIdentOpcode"));
  EXPECT_TRUE(Names(R"({"enclosures":[{"name":"E","signature":"no"}]})", "enclosures[0].signature"));
  EXPECT_TRUE(Names(R"({"enclosures":[{"name":"E","transport":5}]})", "enclosures[0].transport"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"volumes":[{"letter":"E","name":5}]})", "volumes[0].name"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"faults":[{"kind":3}]})", "faults[0].kind"));
  EXPECT_TRUE(Names(OneEnclosure(R"({"hdd1":7})"), "enclosures[0].status.hdd1"));
  EXPECT_TRUE(Names(OneEnclosure(R"({"badRing":[1,"x"]})"), "enclosures[0].status.badRing[1]"));
  EXPECT_TRUE(
      Names(R"({"enclosures":[{"name":"E"}],"disks":[{"drive":0},{"drive":0,"enclosure":"E"}]})", "disks[1].drive"));
  EXPECT_TRUE(Names(Timeline(R"({"at":2,"plug":"E","set":{"fan":2}})"), "timeline[1]"));
  EXPECT_TRUE(Names(Timeline(R"({"at":2,"enclosure":"E","unplug":"E"})"), "timeline[1].enclosure"));
  EXPECT_TRUE(Names(Timeline(R"({"at":2,"enclosure":"E","set":{"fan":2},"set":{"fan":3}})"), "timeline[1].set"));
  EXPECT_TRUE(Names(R"({"enclosures":[],"seed":1,"seed":2})", "seed"));
  EXPECT_NE(ErrorOf(std::string(100000, '[') + std::string(100000, ']')), "");
  // The enclosure's own INQUIRY length is where it belongs.
  const auto sc = test::Scenario(R"({"enclosures":[{"name":"E","inquiryAdditionalLength":36}],
      "disks":[{"drive":2,"inquiryAdditionalLength":"0x20"}]})");
  EXPECT_EQ(sc.enclosures[0].inquiryAdditionalLength, 36);
  EXPECT_EQ(sc.disks[2].inquiryAdditionalLength, 0x20);
}

TEST(ScenarioInput, AFolderOrAnOversizedFileIsNamedForWhatItIs) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-scenario-input";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const Expected<sim::ScenarioSpec> folder = sim::LoadScenarioFile(dir.string());
  ASSERT_FALSE(folder) << "a folder was taken as a scenario";
  EXPECT_NE(folder.error().find("folder"), std::string::npos) << folder.error();
  EXPECT_EQ(folder.error().find("MiB"), std::string::npos) << folder.error();
  const auto big = dir / "big.json";
  std::ofstream(big) << std::string(17 * 1024 * 1024, ' ');
  const Expected<sim::ScenarioSpec> large = sim::LoadScenarioFile(big.string());
  ASSERT_FALSE(large) << "a 17 MiB file was read";
  EXPECT_NE(large.error().find("16 MiB"), std::string::npos) << large.error();
  std::filesystem::remove_all(dir);
}

TEST(ScenarioInput, ShippedScenariosStillLoad) {
  for (const auto& f :
       std::filesystem::directory_iterator(std::filesystem::path(RAID_TEST_DATA) / ".." / ".." / "scenarios")) {
    const Expected<sim::ScenarioSpec> sc = sim::LoadScenarioFile(f.path().string());
    EXPECT_TRUE(sc) << f.path() << ": " << sc.error();
  }
}

}  // namespace
}  // namespace raid
