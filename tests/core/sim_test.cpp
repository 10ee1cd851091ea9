// Scenario files and the simulator's fault injection and timeline.
#include <gtest/gtest.h>

#include "device/command_set.h"
#include "device/record_layout.h"
#include "monitor/device_messages.h"
#include "monitor/settings_commands.h"
#include "test_support.h"

namespace raid {
namespace {

std::string ErrorOf(const std::string& json) { return sim::ParseScenario(json).error(); }

TEST(ScenarioFile, MistakesAreNamedWithTheirPlace) {
  EXPECT_NE(ErrorOf("{").find("not valid JSON"), std::string::npos);
  EXPECT_NE(ErrorOf(std::string("{\"enclosures\": []}\0{", 20)).find("NUL byte at offset 18"), std::string::npos);
  EXPECT_NE(ErrorOf("[]").find("top level"), std::string::npos);
  EXPECT_NE(ErrorOf("{}").find("enclosures"), std::string::npos);
  EXPECT_NE(ErrorOf(R"({"enclosures":[{"name":"E","transport":"usb"}]})").find("enclosures[0].transport"),
            std::string::npos);
  EXPECT_NE(ErrorOf(R"({"enclosures":[{"name":"E","status":{"colour":1}}]})").find("enclosures[0].status.colour"),
            std::string::npos);
  EXPECT_NE(ErrorOf(R"({"enclosures":[{"name":"E","status":{"state":256}}]})").find("too large"), std::string::npos);
  EXPECT_NE(ErrorOf(R"({"enclosures":[],"disks":[{"drive":10}]})").find("0-9"), std::string::npos);
  EXPECT_NE(ErrorOf(R"({"enclosures":[],"disks":[{"drive":1,"enclosure":"X"}]})").find("no enclosure named"),
            std::string::npos);
  EXPECT_NE(ErrorOf(R"({"enclosures":[{"name":"E"},{"name":"E"}]})").find("duplicate"), std::string::npos);
  EXPECT_NE(ErrorOf(R"({"enclosures":[{"name":"E"}],"timeline":[{"at":1,"enclosure":"E",
      "ramp":{"field":"progress","from":9,"to":1}}]})")
                .find("ramp"),
            std::string::npos);
  EXPECT_NE(ErrorOf(R"({"enclosures":[],"faults":[{"kind":"read10","mode":"explode"}]})").find("faults[0].mode"),
            std::string::npos);
  EXPECT_NE(ErrorOf(R"({"enclosures":[{"name":"E","status":{"raw":[{"offset":510,"bytes":[1,2,3]}]}}]})")
                .find("past the end"),
            std::string::npos);
  EXPECT_NE(ErrorOf(R"({"clock":{"start":"2010-13-01 00:00:00"},"enclosures":[]})").find("clock.start"),
            std::string::npos);
  EXPECT_NE(ErrorOf(R"({"enclosures":[{"name":"E","answersIdentOpcode":"yes"}]})").find("answersIdentOpcode"),
            std::string::npos);
  // Numbers beyond 64 bits, or beyond what the parser holds at all.
  EXPECT_EQ(ErrorOf(R"({"seed":100000000000000000000000000000,"enclosures":[]})"), "seed: above 4294967295");
  EXPECT_EQ(ErrorOf(R"({"enclosures":[{"name":"E","status":{"fan":1e400}}]})"),
            "enclosures[0].status.fan: a number out of range");
  EXPECT_EQ(ErrorOf(R"({"enclosures":[]})"), "");
}

TEST(ScenarioFile, FieldsLandAtTheirOffsetsInTheirByteOrder) {
  const auto sc = test::Scenario(R"({"enclosures":[{"name":"E","firmware":"090619.2",
      "status":{"hdd2":"failed","fan":"0x1234","hdd1Model":"AB","badRing":[1,2]}}]})");
  const Sector& s = sc.enclosures[0].status;
  EXPECT_EQ(s[status::kState], 0x82);  // HDD1 stays present
  EXPECT_EQ(s[status::kFanRpm], 0x34);
  EXPECT_EQ(s[status::kFanRpm + 1], 0x12);
  EXPECT_EQ(s[status::kHdd1Model], 'B');  // ATA string order
  EXPECT_EQ(s[status::kHdd1Model + 1], 'A');
  EXPECT_EQ(LoadLE(s, status::kBadRing + 4, 4), 2u);
  EXPECT_EQ(sc.enclosures[0].ident[ident::kFirmware], '9');
  EXPECT_EQ(sc.enclosures[0].ident[ident::kFirmware + 1], '0');
}

TEST(ScenarioFile, MissingFileIsReported) {
  const Expected<sim::ScenarioSpec> sc = sim::LoadScenarioFile("/nonexistent/scenario.json");
  EXPECT_FALSE(sc);
  EXPECT_NE(sc.error().find("does not exist"), std::string::npos) << sc.error();
}

struct FaultRig {
  FaultRig()
      : m(test::Scenario(R"({"seed":3,"enclosures":[{"name":"E1","transport":"vendor1"}],
                                    "disks":[{"drive":0,"enclosure":"E1"}]})")),
        cs(m.io, m.clock, st) {
    st.DeviceCount = 1;
    st.DeviceList[0] = drive_flags::kVendor | drive_flags::kVendorShift;
  }
  test::SimMachine m;
  test::RecordingUi ui;
  DeviceState st;
  CommandSet cs;
  bool Shown(const DeviceResult& result) {
    ShowDeviceResult(ui, result);
    return result.ok();
  }
};

TEST(FaultInjection, CorruptAndFlippedRepliesChangeTheDataButNotTheResult) {
  FaultRig r;
  std::vector<uint8_t> clean(512), bad(512);
  ASSERT_TRUE(r.Shown(r.cs.ReadSpi(0, 0x1000, 512, clean.data())));
  r.m.io.AddFault({"vendor", "flip", -1, 1});
  ASSERT_TRUE(r.Shown(r.cs.ReadSpi(0, 0x1000, 512, bad.data())));
  int bits = 0;
  for (size_t i = 0; i < 512; ++i) bits += __builtin_popcount(clean[i] ^ bad[i]);
  EXPECT_EQ(bits, 1);
  r.m.io.AddFault({"vendor", "corrupt", -1, 1});
  ASSERT_TRUE(r.Shown(r.cs.ReadSpi(0, 0x1000, 512, bad.data())));
  EXPECT_NE(clean, bad);
}

TEST(FaultInjection, DroppedWriteIsCaughtByReadingBack) {
  FaultRig r;
  std::vector<uint8_t> page(256, 0x00), back(512);
  ASSERT_TRUE(r.Shown(r.cs.EraseSpi(0, 0x20000, 4096)));
  r.m.io.AddFault({"vendor", "drop-write", -1, 1});
  ASSERT_TRUE(r.Shown(r.cs.WriteSpi(0, 0x20000, 256, page.data())));  // reported as done
  ASSERT_TRUE(r.Shown(r.cs.ReadSpi(0, 0x20000, 512, back.data())));
  EXPECT_EQ(back[0], 0xFF);  // nothing was stored
}

TEST(FaultInjection, TimelineFaultsStartAtTheirTime) {
  test::SimMachine m(test::Scenario(R"({"enclosures":[{"name":"E1"}],"disks":[{"drive":0,"enclosure":"E1"}],
      "timeline":[{"at":5,"fault":{"kind":"read10","mode":"fail","count":1}},
                  {"at":6,"enclosure":"E1","set":{"progress":77}}]})"));
  const DeviceHandleValue h = *m.io.Open(0);
  Sector s{};
  ScsiRequest r = MakeRead10(33, 1, s.data());
  EXPECT_TRUE(m.io.Scsi(h, r));
  m.clock.Advance(5000);
  EXPECT_FALSE(m.io.Scsi(h, r));
  EXPECT_TRUE(m.io.Scsi(h, r));  // count 1: once only
  EXPECT_EQ(s[status::kProgress], 0);
  m.clock.Advance(1000);
  EXPECT_TRUE(m.io.Scsi(h, r));
  EXPECT_EQ(s[status::kProgress], 77);
  m.io.Close(h);
}

TEST(FaultInjection, PlugEventsNotifyAndGateOpens) {
  test::SimMachine m(test::Scenario(R"({"enclosures":[{"name":"E1"}],"disks":[{"drive":0,"enclosure":"E1"}],
      "volumes":[{"letter":"E","drive":0}],
      "timeline":[{"at":1,"unplug":"E1"},{"at":2,"plug":"E1"}]})"));
  int changes = 0;
  m.io.Start([&] { ++changes; });
  EXPECT_EQ(m.io.LogicalDriveMask(), 1u << ('E' - 'A'));
  m.clock.Advance(1000);
  m.io.Pump();
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(m.io.Open(0));
  EXPECT_EQ(m.io.LogicalDriveMask(), 0u);
  m.clock.Advance(1000);
  m.io.Pump();
  EXPECT_EQ(changes, 2);
  const Expected<DeviceHandleValue> h = m.io.Open(0);
  ASSERT_TRUE(h);
  m.io.Close(*h);
}

TEST(FaultInjection, StatusLogWrapsWhenTheAreaIsFull) {
  sim::Enclosure e("E", sim::EnclosureTransport::VendorTwoFe);
  for (int i = 0; i < 130; ++i) {
    e.Status()[status::kProgress] = static_cast<uint8_t>(i);
    e.LogStatus();
  }
  // 128 records fit in 0x78000-0x7FFFF; the 129th restarted the area.
  EXPECT_EQ(e.StatusLogAddress(), 0x78000u + 1 * 256);
  EXPECT_EQ(e.Flash().Peek(0x78000 + 2 * 256), 0xFF);
  EXPECT_EQ(e.Flash().Peek(0x78000 + 256 + status::kProgress), 129);
}

}  // namespace
}  // namespace raid
