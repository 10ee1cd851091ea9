// The Setup page's requests against the simulated enclosure: the command
// sectors of the initialisation, the schedule and the scan, byte for byte
// and in order; failures at every initialisation step; the hold-off of the
// option controls; and polling held back while the initialisation runs.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/core/core_access.h"
#include "core_harness.h"
#include "device/record_layout.h"
#include "maintenance/setup_page.h"

namespace raid::test {
namespace {

using V = std::vector<std::string>;

struct SetupRig {
  explicit SetupRig(const std::string& json = kOneEnclosure, bool settle = true) : h(json) {
    if (settle) {
      h.RunFor(3000);  // detection, the first poll and the first Status page refresh
      EXPECT_EQ(h.core.Devices().FirstFill, 0);
    }
    h.m.ClearTrace();
  }
  // The command sectors sent: bytes 0-18 and the checksum verdict.
  V Commands() {
    V out;
    for (const auto& l : h.m.TraceLines())
      if (l.find(" CMD ") != std::string::npos) out.push_back(l.substr(l.find("CMD ") + 4));
    return out;
  }
  size_t StatusReads() {
    const auto lines = h.m.TraceLines();
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
      return l.find("CDB 28 00 00 00 00 21") != std::string::npos;
    }));
  }
  // Lets the status thread serve what is queued.
  void Serve() { h.RunFor(100); }
  Harness h;
  FirmwareUpgrade framing{h.core, h.view};
  SetupPage page{h.core, h.view, framing};
};

const std::string kStepHeads[7] = {"33 58 22 02 5A", "33 58 22 01 5A", "33 58 22 04 00", "33 58 22 04 10",
                                   "33 58 22 04 20", "33 58 22 04 30", "33 58 22 03 01"};

TEST(Initialisation, SendsSevenStepsInOrderAndEndsWithTheCompletionBox) {
  for (const char* transport : {"read58", "ata"}) {
    SCOPED_TRACE(transport);
    SetupRig r(std::string(R"({"enclosures":[{"name":"E1","transport":")") + transport +
               R"("}],"disks":[{"drive":0,"enclosure":"E1"}]})");
    // Steps 1 and 2 leave byte 4 as it was.
    r.h.core.Commands().Block.Bytes()[4] = 0x5A;
    EXPECT_EQ(r.page.SetClick(), SetOutcome::Succeeded);
    const V cmds = r.Commands();
    ASSERT_EQ(cmds.size(), 7u);
    for (size_t i = 0; i < 7; ++i) {
      EXPECT_EQ(cmds[i].substr(0, 14), kStepHeads[i]) << i;
      EXPECT_EQ(cmds[i].substr(cmds[i].size() - 6), "sum ok") << i;
    }
    // Every step went to block 20.
    for (const auto& l : r.h.m.TraceLines()) {
      if (l.find("CDB 2A") == std::string::npos) continue;
      EXPECT_NE(l.find("CDB 2A 00 00 00 00 14 00 00 01 00"), std::string::npos) << l;
    }
    EXPECT_EQ(r.h.view.panels[4], "Create partition OK");
    EXPECT_EQ(r.h.core.Commands().ProgressValue.load(), 100u);
    ASSERT_EQ(r.h.view.boxes.size(), 1u);
    EXPECT_EQ(r.h.view.boxes[0].text,
              "Auto Patition 8/8 completed!\n\nPlease power off this device or the system,\nand power on it to start "
              "data synchronize!");
    EXPECT_EQ(r.h.view.boxes[0].caption, "Auto Patition Message");
    EXPECT_EQ(r.h.view.boxes[0].icon, BoxIcon::Warning);
    EXPECT_FALSE(r.h.core.Devices().Lease.Taken());
    EXPECT_FALSE(r.h.core.Devices().Lease.HoldsSlot());
    EXPECT_FALSE(r.h.core.ProgressTimerEnabled());
    EXPECT_FALSE(r.page.Model.StepPanelVisible);
    EXPECT_EQ(r.page.Model.StepPanelCaption, "Process 8 / 8");
  }
}

TEST(Initialisation, AFailureAtEachStepEndsThereWithItsTextAndProgress) {
  for (size_t k = 0; k < kInitialisationSteps.size(); ++k) {
    SCOPED_TRACE(k);
    SetupRig r;
    sim::FaultSpec f;
    f.kind = "write10";
    f.after = static_cast<int>(k);
    f.count = 1;
    r.h.m.io.AddFault(f);
    EXPECT_EQ(r.page.SetClick(), SetOutcome::Failed);
    // The steps up to the failing one went out, and nothing after it.
    const V cmds = r.Commands();
    ASSERT_EQ(cmds.size(), k + 1);
    EXPECT_EQ(cmds[k].substr(0, k < 2 ? 11 : 14), kStepHeads[k].substr(0, k < 2 ? 11 : 14));
    V writes;
    for (const auto& l : r.h.m.TraceLines())
      if (l.find("CDB 2A") != std::string::npos) writes.push_back(l);
    ASSERT_EQ(writes.size(), k + 1);
    EXPECT_EQ(writes.back().substr(writes.back().size() - 4), "fail");
    EXPECT_EQ(r.h.view.panels[4], kInitialisationSteps[k].failureText);
    EXPECT_EQ(r.h.core.Commands().ProgressValue.load(), kInitialisationSteps[k].progressAfter);
    ASSERT_EQ(r.h.view.boxes.size(), 1u);
    EXPECT_EQ(r.h.view.boxes[0].text, kInitialisationSteps[k].failureText);
    EXPECT_EQ(r.h.view.boxes[0].caption, "Auto Patition Message");
    EXPECT_EQ(r.h.view.boxes[0].icon, BoxIcon::None);
    EXPECT_EQ(r.page.Model.StepPanelCaption, kInitialisationSteps[k].caption);
    EXPECT_FALSE(r.h.core.Devices().Lease.Taken());
  }
}

TEST(Initialisation, WithoutAnEnclosureTheFirstStepFailsAfterSayingSo) {
  SetupRig r(R"({"enclosures":[{"name":"E1"}],"disks":[]})", false);
  r.h.RunFor(3000);
  EXPECT_EQ(r.page.SetClick(), SetOutcome::Failed);
  ASSERT_EQ(r.h.view.boxes.size(), 2u);
  EXPECT_EQ(r.h.view.boxes[0].text, "No Device found !");
  EXPECT_EQ(r.h.view.boxes[1].text, "HDD2 ID Fail.");
  EXPECT_EQ(r.h.core.Commands().ProgressValue.load(), 10u);
}

TEST(Initialisation, TheConfirmationNamesTheEnclosureAndNoSendsNothing) {
  SetupRig r;
  std::string asked;
  r.page.ConfirmInitialize = [&](const std::string& q) {
    asked = q;
    return false;
  };
  EXPECT_EQ(r.page.SetClick(), SetOutcome::Declined);
  EXPECT_NE(asked.find("Device1 (Two-bay RAID, 931 GB)"), std::string::npos) << asked;
  EXPECT_TRUE(r.Commands().empty());
  EXPECT_TRUE(r.h.view.boxes.empty());
  EXPECT_FALSE(r.h.core.Devices().Lease.Taken());
  r.page.ConfirmInitialize = [](const std::string&) { return true; };
  EXPECT_EQ(r.page.SetClick(), SetOutcome::Succeeded);
  // A second Set while an operation runs is refused without a question.
  OperationLease lease = r.h.core.BeginOperation();
  r.page.ConfirmInitialize = [](const std::string&) -> bool {
    ADD_FAILURE() << "asked while busy";
    return true;
  };
  EXPECT_EQ(r.page.SetClick(), SetOutcome::Ignored);
  r.h.core.EndOperation(lease);
}

TEST(Initialisation, PollingPausesWhileItRunsAndResumesAfter) {
  // Each request takes 1.5 s of device time, and the window keeps breathing
  // between steps: the timers run, but no status read may go out.
  SetupRig r(R"({"timing":{"roundTripMs":1500},"enclosures":[{"name":"E1"}],"disks":[{"drive":0,"enclosure":"E1"}]})",
             false);
  r.h.RunFor(30000);
  ASSERT_EQ(r.h.core.Devices().FirstFill, 0);
  r.h.m.ClearTrace();
  r.h.view.pump = [&] { r.h.sched.RunUntil(r.h.m.clock.MonotonicMs()); };
  const int64_t start = r.h.m.clock.MonotonicMs();
  r.h.view.whileBoxOpen = [&] { r.h.RunFor(8000); };
  EXPECT_EQ(r.page.SetClick(), SetOutcome::Succeeded);
  EXPECT_GT(r.h.m.clock.MonotonicMs() - start, 16000);  // Timer2 came round several times
  EXPECT_EQ(r.StatusReads(), 0u);
  EXPECT_EQ(r.Commands().size(), 7u);
  r.h.view.whileBoxOpen = nullptr;
  r.h.RunFor(9000);
  EXPECT_GE(r.StatusReads(), 1u);
}

TEST(Schedule, SetWithTheScheduleOffSendsZerosWhateverPeriodIsChecked) {
  SetupRig r;
  ASSERT_TRUE(r.page.OpenPage());
  EXPECT_EQ(r.h.core.Focus().Page(), ShownPage::Setup);
  r.page.ShowSchedule();
  EXPECT_FALSE(r.page.Model.SetButtonVisible);
  EXPECT_FALSE(r.page.Model.ScheduleMessageVisible);
  r.page.SelectPeriod(3);
  EXPECT_EQ(r.page.SetClick(), SetOutcome::ScheduleQueued);
  r.Serve();
  EXPECT_EQ(r.Commands(), (V{"33 58 20 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 sum ok"}));
}

TEST(Schedule, SwitchingOnSendsThePeriodAndTheRecordReportsIt) {
  SetupRig r;
  ASSERT_TRUE(r.page.OpenPage());
  r.page.ShowSchedule();
  r.page.ScheduleSwitchClick(true);
  EXPECT_TRUE(r.page.Model.SetButtonVisible);
  EXPECT_EQ(r.page.Model.ScheduleMessage, "Schedule Backup Disable");
  EXPECT_TRUE(r.h.core.Devices().RequestBits.load() == request_bits::kArmed);  // checking waits for Set
  // On without a period is refused: the enclosure would be told "every 0 minutes".
  EXPECT_EQ(r.page.SetClick(), SetOutcome::NoPeriod);
  r.page.SelectPeriod(2);
  EXPECT_EQ(r.page.SetClick(), SetOutcome::ScheduleQueued);
  r.Serve();
  EXPECT_EQ(r.Commands(), (V{"33 58 20 00 00 01 3C 00 00 00 00 00 00 00 00 00 00 00 00 sum ok"}));
  EXPECT_EQ(r.page.Model.ScheduleMessage, "Backup period: 60 min");
  EXPECT_EQ(r.h.core.HoldOff().SettleCounter[0], 4);

  // The next poll brings the schedule back in the record; loading shows it.
  r.h.RunFor(4000);
  r.page.ShowInitialize();
  ASSERT_TRUE(r.page.OpenPage());
  r.page.ShowSchedule();
  EXPECT_TRUE(r.page.Model.ScheduleChecked);
  EXPECT_EQ(r.page.Model.PeriodChecked, 2);
  EXPECT_EQ(r.page.Model.ScheduleMessage, "Backup period: 60 minutes");

  // A period chosen after loading is what Set sends, though the label still
  // tells the enclosure's.
  r.page.SelectPeriod(0);
  r.page.RefreshScheduleLabel();
  EXPECT_EQ(r.page.Model.ScheduleMessage, "Backup period: 60 minutes");
  r.h.m.ClearTrace();
  r.page.SetClick();
  r.Serve();
  EXPECT_EQ(r.Commands(), (V{"33 58 20 00 00 01 0A 00 00 00 00 00 00 00 00 00 00 00 00 sum ok"}));

  // Unchecking sends "off" at once.
  r.h.m.ClearTrace();
  r.page.ScheduleSwitchClick(false);
  EXPECT_FALSE(r.page.Model.ScheduleMessageVisible);
  r.Serve();
  EXPECT_EQ(r.Commands(), (V{"33 58 20 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 sum ok"}));
  EXPECT_EQ(r.h.Enc().Status()[status::kOptions] & status::kScheduleOn, 0);
}

TEST(Schedule, UncheckingDuringTheFirstFillSendsNothing) {
  SetupRig r(kOneEnclosure, false);
  r.h.RunFor(200);
  ASSERT_EQ(r.h.core.Devices().FirstFill, 1);
  r.page.ScheduleSwitchClick(false);
  r.page.BuzzerMuteClick();
  EXPECT_EQ(r.h.core.Devices().RequestBits.load() & request_bits::kBackupPeriod, 0);
  r.h.RunFor(3000);
  ASSERT_EQ(r.h.core.Devices().FirstFill, 0);
  EXPECT_TRUE(r.Commands().empty());
}

TEST(Schedule, TheOptionBoxesAwayFromTheSetupPageRepeatTheEnclosuresSchedule) {
  SetupRig r(R"({"enclosures":[{"name":"E1","status":{"options":5,"raw":[{"offset":190,"bytes":[30]}]}}],
    "disks":[{"drive":0,"enclosure":"E1"}]})");
  ASSERT_EQ(r.h.core.Focus().Page(), ShownPage::Status);
  r.page.BuzzerMuteClick();
  r.Serve();
  EXPECT_EQ(r.Commands(), (V{"33 58 20 00 00 01 1E 00 00 00 00 00 00 00 00 00 00 00 00 sum ok"}));
}

TEST(Schedule, TwoRequestsInQuickSuccessionHoldTheControlsUntilFourTicksAfterTheLast) {
  SetupRig r;
  r.h.RunFor(2000);  // a whole second: Timer5 has just run
  ASSERT_TRUE(r.h.core.HoldOff().OptionBoxesEnabled);
  r.page.BuzzerMuteClick();
  r.Serve();
  EXPECT_FALSE(r.h.core.HoldOff().OptionBoxesEnabled);
  r.h.RunFor(1900);  // two ticks
  EXPECT_FALSE(r.h.core.HoldOff().OptionBoxesEnabled);
  r.page.AutoScanClick();
  r.Serve();
  for (int tick = 1; tick <= 4; ++tick) {
    r.h.RunFor(1000);
    EXPECT_FALSE(r.h.core.HoldOff().OptionBoxesEnabled) << tick;
    EXPECT_FALSE(r.h.core.HoldOff().AutoScanEnabled) << tick;
  }
  r.h.RunFor(1000);
  EXPECT_TRUE(r.h.core.HoldOff().OptionBoxesEnabled);
  EXPECT_TRUE(r.h.core.HoldOff().AutoScanEnabled);
  EXPECT_EQ(r.Commands().size(), 2u);
}

TEST(Scan, StartAsksForTheLastSectorOfTheArrayAndStopAsksFirst) {
  SetupRig r;
  EXPECT_EQ(r.h.core.StatusModel().Hdd1ScanButtonCaption, "Start P0 Scan");
  EXPECT_EQ(r.page.Hdd1ScanClick(), ScanOutcome::Queued);
  EXPECT_EQ(r.h.core.StatusModel().Hdd1ScanButtonCaption, "Stop HDD1 Scan");
  r.Serve();
  // 1,953,525,167 = 0x74706DAF.
  EXPECT_EQ(r.Commands(), (V{"33 58 24 00 00 00 00 00 00 00 00 00 00 AF 6D 70 74 00 00 sum ok"}));
  EXPECT_TRUE(r.h.Enc().Status()[status::kActivity] & status::kActIsScan);

  // The event detection follows the scan; a click now asks before stopping.
  r.h.RunFor(4000);
  ASSERT_EQ(r.h.core.Monitoring().ScanRunning[0], 1);
  r.h.m.ClearTrace();
  EXPECT_EQ(r.page.Hdd2ScanClick(), ScanOutcome::Declined);
  ASSERT_EQ(r.h.view.boxes.size(), 1u);
  EXPECT_EQ(r.h.view.boxes[0].text, "Do You want to terminate the scan process?");
  EXPECT_EQ(r.h.view.boxes[0].caption, "Message");
  r.Serve();
  EXPECT_TRUE(r.Commands().empty());

  r.h.view.yesNoAnswer = BoxResult::Yes;
  r.h.RunFor(4000);  // past the hold-off
  EXPECT_EQ(r.page.Hdd1ScanClick(), ScanOutcome::Queued);
  EXPECT_EQ(r.h.view.boxes.back().text, "Do You Want to terminate the scan process?");
  EXPECT_EQ(r.h.core.StatusModel().Hdd1ScanButtonCaption, "Start HDD1 Scan");
  r.Serve();
  EXPECT_EQ(r.Commands(), (V{"33 58 24 01 00 00 00 00 00 00 00 00 00 AF 6D 70 74 00 00 sum ok"}));
  EXPECT_FALSE(r.h.Enc().Status()[status::kActivity] & status::kActIsScan);
}

TEST(Scan, HDD2AndItsRefusals) {
  SetupRig r;
  EXPECT_EQ(r.page.RequestScan(1, false), ScanOutcome::Queued);
  EXPECT_EQ(r.h.core.StatusModel().Hdd2ScanButtonCaption, "Stop HDD2 Scan");
  r.Serve();
  EXPECT_EQ(r.Commands(), (V{"33 58 24 00 01 00 00 00 00 00 00 00 00 AF 6D 70 74 00 00 sum ok"}));

  // No monitored enclosure: nothing.
  r.h.core.SetSlotMonitored(0, false);
  r.h.core.SetSlotMonitored(1, false);
  EXPECT_EQ(r.page.Hdd1ScanClick(), ScanOutcome::Ignored);
  r.h.core.SetSlotMonitored(0, true);
  // A record without a capacity gives no last sector: no start.
  StoreLE(CoreTestAccess::Monitoring(r.h.core).StatusBlock[0], status::kCapacity, 5, 0);
  EXPECT_EQ(r.page.RequestScan(0, false), ScanOutcome::NoCapacity);
  EXPECT_EQ(r.h.view.panels[4], setup_text::kNoCapacity);
  EXPECT_EQ(r.h.core.Devices().RequestBits.load() & request_bits::kScan, 0);
}

}  // namespace
}  // namespace raid::test
