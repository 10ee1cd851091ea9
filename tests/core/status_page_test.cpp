// The Status page model drawn from a slot's status record.
#include <gtest/gtest.h>

#include "tests/core/core_access.h"
#include "core_harness.h"
#include "device/record_layout.h"

namespace raid {
namespace {

using test::Harness;
using test::kOneEnclosure;

struct PageRig : Harness {
  PageRig() : Harness(kOneEnclosure) { RunFor(1000); }
  // The page's unit tests write the record in place and redraw.
  Sector& Block() { return CoreTestAccess::Monitoring(core).StatusBlock[0]; }
  StatusPageModel& M() { return CoreTestAccess::Page(core).Model; }
  int Refresh(bool force = false) { return CoreTestAccess::Page(core).RefreshStatusPage(force); }
};

TEST(StatusPageView, ModeNamesAndCapacities) {
  PageRig r;
  EXPECT_EQ(r.M().ModeText.text, "Mirroring(RAID1)");
  EXPECT_EQ(r.M().Hdd1CapacityText.text, "931 GB\n");  // 1,953,525,168 sectors: 931.5 truncated
  EXPECT_EQ(r.M().ArrayCapacityText.text, "931 GB");
  EXPECT_EQ(r.M().Hdd1IdentityText.text, "WDC WD10EZEX-00BN5A0                    ");
  EXPECT_EQ(r.M().Hdd1CapacityText.color, TextColor::Navy);
  r.Block()[status::kMode] = 4;
  r.Refresh();
  EXPECT_EQ(r.M().ModeText.text, "Undefine");
  r.Block()[status::kMode] = 63;
  r.Refresh();
  EXPECT_EQ(r.M().ModeText.text, "Bypass");
}

TEST(StatusPageView, StateTextFollowsThePresentBits) {
  PageRig r;
  EXPECT_EQ(r.M().StateText.text, "Normal");
  for (auto [state, text] : {std::pair<uint8_t, const char*>{0x02, "Single HDD\nPresent"},
                             {0x20, "Single HDD\nPresent"},
                             {0x44, "Failure"},
                             {0x22, "Normal"}}) {
    r.Block()[status::kState] = state;
    r.Refresh();
    EXPECT_EQ(r.M().StateText.text, text) << int(state);
  }
}

TEST(StatusPageView, InsertedOnlyDriveKeepsItsCaptionsAndAbsentGreysThem) {
  PageRig r;
  r.Block()[status::kState] = 0x21;  // HDD1 only inserted
  r.Refresh();
  EXPECT_EQ(r.M().Hdd1CapacityText.text, "931 GB\n");
  r.Block()[status::kState] = 0x20;  // no bit at all: cleared
  r.Refresh();
  EXPECT_EQ(r.M().Hdd1CapacityText.text, "");
  r.Block()[status::kState] = 0x24;
  r.Refresh();
  EXPECT_FALSE(r.M().Hdd1CapacityText.enabled);
  EXPECT_FALSE(r.M().Hdd1IdentityText.enabled);
  EXPECT_EQ(r.M().Hdd1CapacityText.text, "931 GB\n");  // the serial is kept, so is the caption
}

TEST(StatusPageView, DrivePartRedrawsOnlyOnAChangeOrWhenForced) {
  PageRig r;
  r.M().Hdd1IdentityText.text = "drawn by hand";
  r.Refresh();
  EXPECT_EQ(r.M().Hdd1IdentityText.text, "drawn by hand");  // same state byte
  r.Refresh(true);
  EXPECT_NE(r.M().Hdd1IdentityText.text, "drawn by hand");
}

TEST(StatusPageView, ProgressIsRedrawnOnlyWhenItChanges) {
  PageRig r;
  r.Block()[status::kActivity] = 0x01;
  r.Block()[status::kProgress] = 42;
  r.Refresh();
  EXPECT_EQ(r.M().StateText.text, "42%\n<<<<\nRebuilding");
  r.M().StateText.text = "marker";
  r.Block()[status::kActivity] = 0x02;  // another side, same percentage: not redrawn
  r.Refresh();
  EXPECT_EQ(r.M().StateText.text, "marker");
  r.Block()[status::kProgress] = 43;
  r.Refresh();
  EXPECT_EQ(r.M().StateText.text, "43%\n>>>>\nRebuilding");
  r.Block()[status::kActivity] = 0x81;
  r.Block()[status::kProgress] = 5;
  r.Refresh();
  EXPECT_EQ(r.M().StateText.text, "5%\nHDD1 Scan");
  EXPECT_EQ(r.M().Hdd1ScanButtonCaption, "Stop HDD1 Scan");
  EXPECT_TRUE(r.M().LogButtonVisible);
}

TEST(StatusPageView, FirmwareTextCarriesTheConfigurationCode) {
  PageRig r;
  auto code = [&](const char* c) {
    std::copy(c, c + 3, r.Block().begin() + status::kConfig);
    r.Refresh();
    return r.M().FirmwareVersionText.text;
  };
  EXPECT_EQ(code("G12"), "100607.1.G12");
  EXPECT_EQ(code("A1G"), "100607.1.C00");
  EXPECT_EQ(code("a12"), "100607.1.C00");
}

TEST(StatusPageView, FanAndTemperaturePanel) {
  PageRig r;
  auto env = [&](uint8_t e) {
    r.Block()[status::kEnvironment] = e;
    r.Refresh();
  };
  env(0xAA);
  EXPECT_FALSE(r.M().EnvironmentPanelVisible);
  env(0xA0);
  EXPECT_TRUE(r.M().EnvironmentPanelVisible);
  EXPECT_EQ(r.M().FanSpeedText.color, TextColor::Blue);
  EXPECT_EQ(r.M().TemperatureText.color, TextColor::Blue);
  EXPECT_EQ(r.M().FanSpeedText.text, "2400");
  env(0xA5);
  EXPECT_EQ(r.M().FanSpeedText.color, TextColor::Red);
  EXPECT_EQ(r.M().TemperatureText.color, TextColor::Red);
  CoreTestAccess::Monitoring(r.core).FanCapable = false;  // older firmware: never shown
  env(0xA0);
  EXPECT_FALSE(r.M().EnvironmentPanelVisible);
}

TEST(StatusPageView, ReplacementSsdMessagesOncePerStateChange) {
  PageRig r;
  r.Block()[status::kActivity] = 0x10;
  r.Block()[status::kState] = 0x82;
  r.Refresh();
  r.Refresh();
  ASSERT_EQ(r.view.boxes.size(), 1u);
  EXPECT_EQ(r.view.boxes[0].caption, "Message");
  EXPECT_EQ(
      r.view.boxes[0].text,
      "Matched SSD is inserted.\nPlease power off this device or the system,\nand power on it to start rebuilding.");
  r.Block()[status::kActivity] = 0x00;
  r.Block()[status::kState] = 0x22;
  r.Refresh();
  r.Block()[status::kState] = 0x82;
  r.Refresh();
  ASSERT_EQ(r.view.boxes.size(), 2u);
  EXPECT_EQ(r.view.boxes[1].text, "Unmatched SSD is inserted.\nThe Matched SSD's Serial# is Z1D2X3C4            ");
  r.Block()[status::kActivity] = 0x80;  // capacity too small: no box
  r.Block()[status::kState] = 0x22;
  r.Refresh();
  r.Block()[status::kState] = 0x82;
  r.Refresh();
  EXPECT_EQ(r.view.boxes.size(), 2u);
}

TEST(StatusPageView, NothingChangesWithBothSwitchesCleared) {
  PageRig r;
  r.core.SetSlotMonitored(0, false);
  const int before = r.M().Refreshes;
  r.Block()[status::kMode] = 63;
  EXPECT_EQ(r.Refresh(true), -1);
  EXPECT_EQ(r.M().ModeText.text, "Mirroring(RAID1)");
  EXPECT_EQ(r.M().Refreshes, before);
}

TEST(StatusPageView, SlotSwitchesMoveTheShownSlot) {
  Harness h(R"({"enclosures":[{"name":"A","model":"Alpha"},{"name":"B","model":"Beta"}],
               "disks":[{"drive":0,"enclosure":"A"},{"drive":1,"enclosure":"B"}]})");
  h.RunFor(3000);
  h.core.SelectStatusSlot(1);
  EXPECT_EQ(h.core.Focus().StatusSlot(), 1);
  EXPECT_EQ(h.core.Monitoring().Caption, "RAID GUI v0.23-1 - Beta   []");
  h.core.SetSlotMonitored(1, false);
  EXPECT_EQ(h.core.Focus().StatusSlot(), 0);
  h.core.SetSlotMonitored(0, false);
  EXPECT_EQ(h.core.Focus().StatusSlot(), 0);  // nothing left to show: stays
}

}  // namespace
}  // namespace raid
