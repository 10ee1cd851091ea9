// Which disk a request goes to is named by the request itself: the window's
// selections (page shown, each page's slot) moving between and during long
// operations change nothing that is sent, and while an operation's lease is
// held the poller reads no enclosure.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/core/core_access.h"
#include "core_harness.h"
#include "maintenance/firmware_upgrade.h"
#include "maintenance/setup_page.h"

namespace raid::test {
namespace {

const char* kTwoEnclosures = R"({"timing":{"roundTripMs":1,"pageProgramMs":1,"sectorEraseMs":45},
  "enclosures":[{"name":"E1","model":"Alpha"},{"name":"E2","model":"Beta"}],"disks":[{"drive":0,"enclosure":"E1"},{"drive":1,"enclosure":"E2"}]})";

struct Story {
  std::vector<std::string> all;  // every request, in order
  bool upgradeOk = false, initialiseOk = false;
  std::vector<std::string> strays;  // requests of an operation to another drive, polls under a lease
};

// Polls, an upgrade of the second enclosure, polls, an initialisation of the
// first, polls. With `meddle` the user keeps flipping the page and both
// pages' slots (during an operation always away from the leased enclosure)
// and, whenever an operation lets the window breathe, a poll runs.
Story Tell(bool meddle) {
  Harness h(kTwoEnclosures);
  FirmwareUpgrade up(h.core, h.view);
  SetupPage setup(h.core, h.view, up);
  Story s;
  int flips = 0, leased = -1;
  const auto flip = [&] {
    ++flips;
    const auto slot = static_cast<uint8_t>(leased >= 0 ? 1 - leased : flips % 2);
    h.core.SelectPage(flips % 2 ? ShownPage::Status : ShownPage::Upgrade);
    h.core.SelectStatusSlot(slot);
    h.core.SelectUpgradeSlot(slot);
  };
  const auto idle = [&](int64_t ms) {
    for (int64_t t = 0; t < ms; t += 500) {
      if (meddle) flip();
      h.RunFor(500);
    }
  };
  h.view.pump = [&] {
    const auto before = h.m.trace.tellp();
    if (meddle && leased >= 0) {
      flip();
      CoreTestAccess::Poller(h.core).PollStatus();
    }
    h.sched.RunUntil(h.m.clock.MonotonicMs());
    if (leased >= 0 && h.m.trace.tellp() != before) s.strays.push_back(h.m.trace.str().substr(before));
  };
  // Runs an operation on `slot`, keeping what it sent to any other drive.
  const auto operation = [&](int slot, const std::function<bool()>& run) {
    const size_t mark = h.m.TraceLines().size();
    leased = slot;
    const bool ok = run();
    leased = -1;
    EXPECT_FALSE(h.core.Devices().Lease.Taken());
    const auto lines = h.m.TraceLines();
    const std::string pd = "PD" + std::to_string(slot) + " ";
    for (size_t i = mark; i < lines.size(); ++i)
      if (lines[i].rfind(pd, 0) != 0) s.strays.push_back(lines[i]);
    return ok;
  };

  h.RunFor(3000);
  idle(3000);
  std::vector<uint8_t> image(kFlashImageLength, 0x5A);
  std::copy_n("FIPS", 4, image.begin());
  image[kImageConfigVersionOffset] = kImageConfigVersion;
  MemoryImageReader reader(image);
  up.LoadImageFile("/fw.bin", reader);
  // The page's slot when the button is pressed is the one leased.
  up.SelectSlot(1);
  h.core.SelectPage(ShownPage::Upgrade);
  s.upgradeOk = operation(1, [&] { return up.UpgradeClick() == UpgradeOutcome::Succeeded; });
  idle(6000);
  h.core.SelectPage(ShownPage::Status);
  h.core.SelectStatusSlot(0);
  s.initialiseOk = operation(0, [&] { return setup.SetClick() == SetOutcome::Succeeded; });
  idle(6000);
  s.all = h.m.TraceLines();
  return s;
}

TEST(RequestTargets, SelectionsNeverMoveARequestAndThePollerLeavesLeasedEnclosuresAlone) {
  const Story quiet = Tell(false);
  const Story busy = Tell(true);
  EXPECT_TRUE(busy.upgradeOk && busy.initialiseOk);
  EXPECT_EQ(busy.strays, std::vector<std::string>{});
  // Between the operations both enclosures are polled, the same requests
  // in the same order as when nobody touched the window.
  ASSERT_EQ(busy.all.size(), quiet.all.size());
  const auto diff = std::mismatch(busy.all.begin(), busy.all.end(), quiet.all.begin());
  EXPECT_EQ(diff.first, busy.all.end()) << "request " << (diff.first - busy.all.begin()) << ": " << *diff.first
                                        << " instead of " << *diff.second;
}

}  // namespace
}  // namespace raid::test
