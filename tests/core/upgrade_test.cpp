// The firmware image check and the upgrade against the simulated enclosure
// on every transport: the flash ends equal to the image, the requests go in
// their exact order, and a request failing or hanging anywhere ends with the
// fixed texts, update mode left and the operation released.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "tests/core/core_access.h"
#include "core_harness.h"
#include "device/requests.h"
#include "maintenance/firmware_upgrade.h"

namespace raid::test {
namespace {

std::vector<uint8_t> MakeImage(uint32_t seed = 7, size_t length = kFlashImageLength) {
  std::vector<uint8_t> b(length);
  std::mt19937 rng(seed);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  std::memcpy(b.data(), "FIPS", 4);
  if (length > kImageConfigVersionOffset) b[kImageConfigVersionOffset] = kImageConfigVersion;
  return b;
}

std::string Hex(uint32_t v, int digits) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*X", digits, static_cast<unsigned>(v));
  return b;
}

// Passes every request on to the simulator and writes down a short label
// for it; one chosen request can be made to fail or to hang (its whole
// time-out charged to the clock) before it reaches the device.
class RequestTap final : public DeviceIo {
 public:
  RequestTap(DeviceIo& inner, Clock& clock) : inner_(inner), clock_(clock) {}

  struct Event {
    std::string label;
    std::string failureText;  // what a failure of this request reads as
  };
  std::vector<Event> events;
  int failAt = -1;  // index among the requests (opens and closes not counted)
  bool hang = false;
  int requests = 0;
  bool recording = false;

  Expected<DeviceHandleValue> Open(DeviceId id) override {
    if (recording) events.push_back({"open", ""});
    return inner_.Open(id);
  }
  void Close(DeviceHandleValue h) override {
    if (recording) events.push_back({"close", ""});
    inner_.Close(h);
  }
  Outcome Scsi(DeviceHandleValue h, ScsiRequest& r) override {
    if (!recording) return inner_.Scsi(h, r);
    events.push_back(Describe(r));
    if (Broken()) {
      if (hang) clock_.Charge(static_cast<int64_t>(r.timeoutSeconds) * 1000);
      return Outcome::Fail("tapped");
    }
    return inner_.Scsi(h, r);
  }
  Outcome Ata(DeviceHandleValue h, AtaRegisters& regs, uint8_t* data, uint32_t sectors, ReplyStatus& status) override {
    if (!recording) return inner_.Ata(h, regs, data, sectors, status);
    std::string label = "A" + Hex(regs.features, 2);
    if (regs.features == 1) label += "@" + Hex(regs.lbaLow | regs.lbaMid << 8 | regs.lbaHigh << 16, 6);
    events.push_back({label, regs.features == 1 ? "VU command 0x88 FEA 0x01 Read Error"
                                                : "VU command 0x88 FEA " + Hex(regs.features, 2) + " Error"});
    if (Broken()) {
      if (hang) clock_.Charge(2000);
      return Outcome::Fail("tapped");
    }
    return inner_.Ata(h, regs, data, sectors, status);
  }
  Outcome RescanBus(DeviceHandleValue h) override { return inner_.RescanBus(h); }
  Expected<VolumeExtent> DiskExtents(DeviceHandleValue h) override { return inner_.DiskExtents(h); }
  uint32_t LogicalDriveMask() override { return inner_.LogicalDriveMask(); }
  unsigned DriveTypeOf(char l) override { return inner_.DriveTypeOf(l); }

  std::vector<std::string> Labels() const {
    std::vector<std::string> out;
    for (const auto& e : events) out.push_back(e.label);
    return out;
  }

 private:
  bool Broken() { return requests++ == failAt; }
  Event Describe(const ScsiRequest& r) {
    const auto lba = static_cast<uint32_t>(LoadBE(std::span<const uint8_t>(r.cdb.data(), 16), 2, 4));
    if (r.cdb[0] == 0x28) return {"R" + std::to_string(lba), "Error code " + std::to_string(lba) + "0"};
    if (r.cdb[0] == 0x2A && r.data) {
      const uint8_t code = r.data[cmd::kCode], arg = r.data[cmd::kArg];
      std::string label = "C" + Hex(code, 2);
      if (code <= cmd::kSpiWrite)
        label += "@" + Hex(static_cast<uint32_t>(r.data[4] << 16 | r.data[5] << 8 | r.data[6]), 6);
      else
        label += "/" + std::to_string(arg);
      const bool blockOk =
          code == cmd::kSpiErase || code == cmd::kSpiWrite ? lba == cmd::kCommandBlockLba : lba >= 3 && lba <= 130;
      if (!blockOk) label += "!wrong block " + std::to_string(lba);
      return {label, "Error code " + std::to_string(lba) + "1"};
    }
    if (r.cdb[0] == 0xFE) {
      DecodedVendorCdb v;
      DecodeVendorCdb(r.cdb, r.cdb[1] == 0xFE ? 0 : 1, v);
      std::string label = (v.flag ? "P" : "V") + Hex(v.opcode, 2) + "@" + Hex(v.address, 6);
      const char* text = v.opcode == 0x81   ? "Erase SPI Error USB"
                         : v.opcode == 0x89 ? "Write SPI Error USB"
                         : v.flag           ? "Read Error for USB"
                                            : "Read SPI Error USB";
      return {label, text};
    }
    return {"?", ""};
  }
  DeviceIo& inner_;
  Clock& clock_;
};

class UpgradeView final : public CoreView {
 public:
  void SetPanelText(StatusBarPanel panel, const std::string& text) override { panels[panel] = text; }
  std::string PanelText(StatusBarPanel panel) const override { return panels[panel]; }
  BoxResult ShowMessage(const MessageBoxRequest& box) override {
    boxes.push_back(box);
    return BoxResult::Ok;
  }
  void ProcessMessages() override {
    if (pump) pump();
  }
  void ProgressChanged(ProgressBar bar, uint32_t value) override { progress.push_back(value); }
  std::function<void()> pump;
  std::string panels[5];
  std::vector<MessageBoxRequest> boxes;
  std::vector<uint32_t> progress;
};

// A core on a simulated machine with the upgrade on top; the scheduler runs
// whenever the upgrade lets the window breathe, as the window's event loop
// would.
struct Rig {
  explicit Rig(const std::string& json)
      : dir(TestDir()),
        m(Scenario(json)),
        tap(m.io, m.clock),
        core(tap, m.clock, fmt, view, dir.string(), pages),
        sched(core, m.clock, &m.clock, true, [this] { m.io.Pump(); }),
        up(core, view) {
    view.pump = [this] { sched.RunUntil(m.clock.MonotonicMs()); };
    core.Start();
    RunFor(2000);
    EXPECT_EQ(core.Devices().DeviceCount, 1);
  }
  ~Rig() { std::filesystem::remove_all(dir); }
  void RunFor(int64_t ms) { sched.RunUntil(m.clock.MonotonicMs() + ms); }
  void Load(const std::vector<uint8_t>& image) {
    MemoryImageReader reader(image);
    up.LoadImageFile("/images/fw.bin", reader);
  }
  UpgradeOutcome Upgrade() {
    view.boxes.clear();
    tap.events.clear();
    tap.requests = 0;
    tap.recording = true;
    const auto outcome = up.UpgradeClick();
    tap.recording = false;
    return outcome;
  }
  sim::NorFlash& Flash() { return m.io.FindEnclosure("E1")->Flash(); }
  std::filesystem::path dir;
  SimMachine m;
  RequestTap tap;
  FixedDateTimeFormat fmt;
  UpgradeView view;
  PageSelection pages;
  RaidCore core;
  CoreScheduler sched;
  FirmwareUpgrade up;
};

std::string OneEnclosure(const std::string& transport, const std::string& extra = "") {
  return R"({"enclosures":[{"name":"E1","transport":")" + transport + R"(")" + extra +
         R"(}],"disks":[{"drive":0,"enclosure":"E1"}]})";
}

// --- The image file ------------------------------------------------------

// A reader whose reads fail a given number of times at one offset.
class FlakyReader final : public ImageReader {
 public:
  FlakyReader(std::vector<uint8_t> bytes, uint64_t badOffset, int failures)
      : inner_(std::move(bytes)), bad_(badOffset), failures_(failures) {}
  bool Open(const std::string& n) override { return inner_.Open(n); }
  bool Length(uint64_t& l) override { return inner_.Length(l); }
  size_t ReadAt(uint64_t offset, uint8_t* out, size_t n) override {
    ++calls;
    if (offset <= bad_ && bad_ < offset + n && failures_ > 0) {
      --failures_;
      return inner_.ReadAt(offset, out, static_cast<size_t>(bad_ - offset));
    }
    return inner_.ReadAt(offset, out, n);
  }
  int calls = 0;

 private:
  MemoryImageReader inner_;
  uint64_t bad_;
  int failures_;
};

// Says how long it is and counts what is asked of it; serves zeros.
class CountingReader final : public ImageReader {
 public:
  explicit CountingReader(uint64_t length) : length_(length) {}
  bool Open(const std::string&) override { return true; }
  bool Length(uint64_t& l) override {
    l = length_;
    return true;
  }
  size_t ReadAt(uint64_t offset, uint8_t* out, size_t n) override {
    EXPECT_LE(offset + n, length_) << "read past the end of the file";
    bytesRead += n;
    std::memset(out, 0, n);
    return n;
  }
  uint64_t bytesRead = 0;

 private:
  uint64_t length_;
};

TEST(FirmwareImage, MarksAndByteSum) {
  auto img = MakeImage();
  EXPECT_TRUE(ImageMarksOk(img));
  img[kImageConfigVersionOffset] = 0xA1;
  EXPECT_FALSE(ImageMarksOk(img));
  img = MakeImage();
  img[3] = 'X';
  EXPECT_FALSE(ImageMarksOk(img));
  // Shorter than the flash: never passes, and the check reads nothing beyond it.
  EXPECT_FALSE(ImageMarksOk(std::span<const uint8_t>(MakeImage()).first(kImageConfigVersionOffset)));

  const std::vector<uint8_t> ff(kFlashImageLength, 0xFF);
  EXPECT_EQ(ChecksumText(ImageByteSum(ff)), "Chksum:07F80000");
  EXPECT_EQ(ChecksumText(0xABC), "Chksum:00000ABC");
}

TEST(FirmwareImage, WrongLengthsAreRefusedUnread) {
  for (uint64_t length : {uint64_t{0}, uint64_t{100}, uint64_t{kFlashImageLength - 1}}) {
    CountingReader r(length);
    const ImageLoad load = LoadFirmwareImage(r, "short.bin");
    EXPECT_EQ(load.outcome, ImageLoad::Outcome::TooShort) << length;
    EXPECT_EQ(r.bytesRead, 0u);
    EXPECT_TRUE(load.bytes.empty());
  }
  CountingReader huge(uint64_t{1} << 40);
  EXPECT_EQ(LoadFirmwareImage(huge, "huge.bin").outcome, ImageLoad::Outcome::TooLarge);
  EXPECT_EQ(huge.bytesRead, 0u);
  // The largest image the builder makes is still taken whole.
  CountingReader largest(kLargestImageFile);
  EXPECT_EQ(LoadFirmwareImage(largest, "big.bin").outcome, ImageLoad::Outcome::BadMarks);
  EXPECT_EQ(largest.bytesRead, kLargestImageFile);
}

TEST(FirmwareImage, AFailingReadIsRetriedABoundedNumberOfTimes) {
  FlakyReader transient(MakeImage(), 300000, kImageReadAttempts - 1);
  ImageLoad ok = LoadFirmwareImage(transient, "fw.bin");
  EXPECT_EQ(ok.outcome, ImageLoad::Outcome::Loaded);
  EXPECT_EQ(ok.bytes, MakeImage());

  FlakyReader broken(MakeImage(), 300000, 1000);
  ImageLoad bad = LoadFirmwareImage(broken, "fw.bin");
  EXPECT_EQ(bad.outcome, ImageLoad::Outcome::ReadFailed);
  EXPECT_EQ(bad.failedOffset, 300000u);
  EXPECT_TRUE(bad.bytes.empty());
  EXPECT_LT(broken.calls, 20);
}

TEST(FirmwareImage, RealFilesFoldersAndMissingFiles) {
  const auto dir = TestDir();
  const auto path = dir / "fw.bin";
  const auto img = MakeImage(3, kFlashImageLength + 4096);
  {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(img.data()), static_cast<std::streamsize>(img.size()));
  }
  auto reader = MakeFileImageReader();
  ImageLoad load = LoadFirmwareImage(*reader, path.string());
  EXPECT_EQ(load.outcome, ImageLoad::Outcome::Loaded);
  EXPECT_EQ(load.bytes, img);
  EXPECT_EQ(load.sum, ImageByteSum(img));
  EXPECT_EQ(LoadFirmwareImage(*MakeFileImageReader(), (dir / "missing.bin").string()).outcome,
            ImageLoad::Outcome::OpenFailed);
  EXPECT_EQ(LoadFirmwareImage(*MakeFileImageReader(), dir.string()).outcome, ImageLoad::Outcome::OpenFailed);
  std::filesystem::remove_all(dir);
}

TEST(UpgradePage, LoadShowsNameAndSumAndKeepsOnlyGoodImages) {
  Rig r(OneEnclosure("read58"));
  r.Load(MakeImage());
  EXPECT_TRUE(r.up.ImageLoaded());
  EXPECT_EQ(r.view.panels[4], "File:/images/fw.bin");
  EXPECT_EQ(r.up.Model.FileNameText, "/images/fw.bin");
  EXPECT_EQ(r.view.panels[0], ChecksumText(ImageByteSum(MakeImage())));
  EXPECT_TRUE(r.view.boxes.empty());

  // A second file that fails the check still frees the first.
  auto bad = MakeImage();
  bad[kImageConfigVersionOffset] = 0xA1;
  r.Load(bad);
  EXPECT_FALSE(r.up.ImageLoaded());
  ASSERT_EQ(r.view.boxes.size(), 1u);
  EXPECT_EQ(r.view.boxes[0].text, "The firmware file is not correct.\nPlease check it.");
  EXPECT_EQ(r.view.boxes[0].caption, "Error");
  EXPECT_EQ(r.view.boxes[0].icon, BoxIcon::Error);
  EXPECT_EQ(r.view.panels[0], ChecksumText(ImageByteSum(bad)));
  EXPECT_EQ(r.Upgrade(), UpgradeOutcome::NoImage);
  ASSERT_EQ(r.view.boxes.size(), 1u);
  EXPECT_EQ(r.view.boxes[0].text, "Please Load Firmware File First ");
  EXPECT_EQ(r.view.boxes[0].caption, "Message");
  EXPECT_TRUE(r.tap.events.empty());
  EXPECT_FALSE(r.core.Devices().Lease.Taken());

  // A short file: refused, no image, and no stale sum beside its name.
  r.Load(MakeImage());
  r.view.boxes.clear();
  r.Load(std::vector<uint8_t>(1000, 0));
  EXPECT_FALSE(r.up.ImageLoaded());
  EXPECT_EQ(r.view.panels[0], "");
  ASSERT_EQ(r.view.boxes.size(), 1u);
  EXPECT_EQ(r.view.boxes[0].text, "The firmware file is too short: 1000 bytes. A firmware image has 524288 bytes.");

  r.view.boxes.clear();
  FlakyReader broken(MakeImage(), 5, 1000);
  r.up.LoadImageFile("/images/fw.bin", broken);
  EXPECT_FALSE(r.up.ImageLoaded());
  ASSERT_EQ(r.view.boxes.size(), 1u);
  EXPECT_EQ(r.view.boxes[0].text, "Error read from Source file. ByteCount = 5");
  EXPECT_EQ(r.view.boxes[0].caption, "Warning:");
}

// --- A whole upgrade -----------------------------------------------------

std::vector<std::string> ExpectedTrace(const std::string& transport) {
  std::vector<std::string> t;
  const bool vendor = transport.rfind("vendor", 0) == 0;
  const bool ata = transport == "ata";
  auto control = [&](int code, int arg, int ataFeature) {
    if (vendor) return;
    if (ata)
      t.push_back("A" + Hex(ataFeature, 2));
    else
      t.push_back("C" + Hex(code, 2) + "/" + std::to_string(arg));
  };
  t.push_back("open");
  control(0x10, 1, 0x11);
  t.push_back("close");
  t.push_back("open");
  if (!vendor) t.push_back("R33");  // vendor: the record search, checked apart
  t.push_back("close");
  for (int phase = 0; phase < 3; ++phase) {
    t.push_back("open");
    control(0x03, 1, 0x03);
    if (phase < 2) control(0x04, 1, 0x04);
    if (phase == 0)
      for (uint32_t a = 0; a < kFlashImageLength; a += 4096) t.push_back((vendor ? "V81@" : "C01@") + Hex(a, 6));
    if (phase == 1)
      for (uint32_t a = 0; a < kFlashImageLength; a += 256) t.push_back((vendor ? "V89@" : "C02@") + Hex(a, 6));
    if (phase == 2) {
      for (uint32_t a = 0; a < kFlashImageLength; a += 512) {
        if (vendor) {
          t.push_back("V85@" + Hex(a, 6));
        } else {
          t.push_back((ata ? "A01@" : "C00@") + Hex(a, 6));
          t.push_back("R60");
        }
      }
    }
    if (phase < 2) control(0x04, 0, 0x05);
    control(0x03, 0, 0x02);
    t.push_back("close");
  }
  t.push_back("open");
  control(0x10, 0, 0x10);
  t.push_back("close");
  return t;
}

class EveryTransport : public ::testing::TestWithParam<std::string> {};

TEST_P(EveryTransport, FullUpgradeProgramsAndVerifiesEveryByteInOrder) {
  Rig r(OneEnclosure(GetParam()));
  const auto image = MakeImage(11);
  r.Load(image);
  r.view.progress.clear();
  const int64_t before = r.m.clock.MonotonicMs();
  EXPECT_EQ(r.Upgrade(), UpgradeOutcome::Succeeded);
  // No modelled device time here, and the program waits for nothing itself.
  EXPECT_EQ(r.m.clock.MonotonicMs(), before);

  for (uint32_t a = 0; a < kFlashImageLength; ++a) {
    ASSERT_EQ(r.Flash().Peek(a), image[a]) << a;
    ASSERT_TRUE(r.Flash().Programmed(a)) << a;
  }
  EXPECT_EQ(r.Flash().UnverifiedBytes(), 0u);

  auto labels = r.tap.Labels();
  if (GetParam().rfind("vendor", 0) == 0) {
    // The record search probes from 0x78000 and reads the newest record.
    auto first = std::find(labels.begin(), labels.end(), "close") + 2;
    auto last = std::find(first, labels.end(), "close");
    ASSERT_NE(first, last);
    for (auto it = first; it != last; ++it) EXPECT_TRUE(it->rfind("P85@", 0) == 0 || it->rfind("V85@", 0) == 0) << *it;
    labels.erase(first, last);
  }
  EXPECT_EQ(labels, ExpectedTrace(GetParam()));

  ASSERT_EQ(r.view.boxes.size(), 1u);
  EXPECT_EQ(r.view.boxes[0].text,
            "Firmware Upgrade 3/3 completed!\n\nPlease power off this device or the system,\nand power on it to "
            "enable the new firmware!");
  EXPECT_EQ(r.view.boxes[0].caption, "Firmware Upgrade Message");
  EXPECT_EQ(r.view.boxes[0].icon, BoxIcon::Warning);
  EXPECT_EQ(r.view.panels[4], "SPI Verify OK");
  EXPECT_EQ(r.up.Model.ProgressMax, 2206u);
  EXPECT_EQ(r.core.Commands().ProgressValue.load(), 128u + 1024u + 1024u);
  EXPECT_EQ(r.view.progress, (std::vector<uint32_t>{0, 128, 128 + 1024, 128 + 1024 + 1024}));
  EXPECT_FALSE(r.up.Model.ProgressPanelVisible);
  EXPECT_EQ(r.up.Model.ProgressPanelCaption, "Process 3 / 3");
  EXPECT_EQ(r.up.Model.ProgressText, "Firmware Update...");
  EXPECT_EQ(r.m.io.OpenHandles(), 0u);
  EXPECT_FALSE(r.m.io.FindEnclosure("E1")->SpiMode());
}

INSTANTIATE_TEST_SUITE_P(Upgrade, EveryTransport, ::testing::Values("read58", "ata", "vendor1", "vendor2"));

TEST(Upgrade, WithDeviceTimeTheProgressMovesAndNothingElseTalksToTheDevice) {
  Rig r(R"({"timing":{"roundTripMs":1,"pageProgramMs":1,"sectorEraseMs":45},)" + OneEnclosure("read58").substr(1));
  r.Load(MakeImage());
  r.view.progress.clear();
  r.core.OnPollTimer();  // a poll waits as the upgrade starts
  ASSERT_TRUE(r.core.Devices().RequestBits.load() & request_bits::kPoll);
  EXPECT_EQ(r.Upgrade(), UpgradeOutcome::Succeeded);
  auto labels = r.tap.Labels();
  EXPECT_EQ(labels, ExpectedTrace("read58"));  // no poll, no detection in between
  // Timer1 copied the counter into the bar many times while the phases ran.
  EXPECT_GT(r.view.progress.size(), 10u);
  EXPECT_TRUE(std::is_sorted(r.view.progress.begin(), r.view.progress.end()));
  EXPECT_FALSE(r.core.ProgressTimerEnabled());

  // Polling comes back two Timer2 ticks after the operation.
  r.tap.events.clear();
  r.tap.recording = true;
  r.RunFor(9000);
  labels = r.tap.Labels();
  EXPECT_NE(std::find(labels.begin(), labels.end(), "R33"), labels.end());
}

TEST(Upgrade, RefusalsAfterEnteringUpdateModeLeaveItAgain) {
  struct Case {
    std::string extra;
    std::string box;
    UpgradeOutcome outcome;
  };
  const Case cases[] = {
      {R"(,"status":{"configVersion":"0xA1"})", "SPI Configuration Version Error", UpgradeOutcome::VersionMismatch},
      {R"(,"status":{"activity":2,"progress":40})", "Don't upgrade new firmware when device is rebuilding or scanning.",
       UpgradeOutcome::ActivityRunning},
      {R"(,"status":{"activity":129,"progress":40})",
       "Don't upgrade new firmware when device is rebuilding or scanning.", UpgradeOutcome::ActivityRunning},
  };
  for (const auto& c : cases) {
    Rig r(OneEnclosure("read58", c.extra));
    r.Load(MakeImage());
    EXPECT_EQ(r.Upgrade(), c.outcome) << c.box;
    ASSERT_EQ(r.view.boxes.size(), 1u) << c.box;
    EXPECT_EQ(r.view.boxes[0].text, c.box);
    EXPECT_EQ(r.view.boxes[0].caption, "");  // the program's own title
    EXPECT_EQ(r.tap.Labels(),
              (std::vector<std::string>{"open", "C10/1", "close", "open", "R33", "close", "open", "C10/0", "close"}));
    EXPECT_FALSE(r.core.Devices().Lease.Taken());
    EXPECT_FALSE(r.core.Devices().Lease.HoldsSlot());
    EXPECT_EQ(r.Flash().EraseCount(), 0u);
  }
}

TEST(Upgrade, NoEnclosureFailsInTheFirstRequestWithoutAFurtherMessage) {
  Rig r(OneEnclosure("read58"));
  r.Load(MakeImage());
  CoreTestAccess::State(r.core).DeviceCount = 0;  // the table emptied under the page
  EXPECT_EQ(r.Upgrade(), UpgradeOutcome::ModeFailed);
  EXPECT_EQ(r.view.panels[4], "Device not found!!!");
  ASSERT_EQ(r.view.boxes.size(), 1u);
  EXPECT_EQ(r.view.boxes[0].text, "No Device found !");
  EXPECT_TRUE(r.tap.events.empty());
  EXPECT_FALSE(r.core.Devices().Lease.Taken());
}

TEST(Upgrade, ADifferingLastByteFailsTheVerify) {
  Rig r(OneEnclosure("read58"));
  r.Load(MakeImage());
  // The last page's program is taken but not stored. Writes before it:
  // 0x11, the erase phase (3, 4, 128 sectors, 5, 2), 3 and 4, 2,047 pages.
  r.m.io.AddFault({"write10", "drop-write", -1, 1, 1 + 132 + 2 + 2047});
  EXPECT_EQ(r.Upgrade(), UpgradeOutcome::Failed);
  EXPECT_EQ(r.view.panels[4], "SPI Verify fail !!!");
  ASSERT_EQ(r.view.boxes.size(), 1u);
  EXPECT_EQ(r.view.boxes[0].text, "SPI Verify fail !!!");
  EXPECT_EQ(r.view.boxes[0].caption, "Message");
}

TEST(Upgrade, AStopEndsAtTheNextRequestAndStillLeavesUpdateMode) {
  Rig r(OneEnclosure("read58"));
  r.Load(MakeImage());
  int breaths = 0;
  r.view.pump = [&] {
    if (++breaths == 500) r.up.RequestStop();  // during the program phase
  };
  EXPECT_EQ(r.Upgrade(), UpgradeOutcome::Stopped);
  const auto labels = r.tap.Labels();
  const auto programs = std::count_if(labels.begin(), labels.end(), [](auto& l) { return l.rfind("C02@", 0) == 0; });
  EXPECT_EQ(programs, 500 - 128);
  EXPECT_EQ(std::vector<std::string>(labels.end() - 6, labels.end()),
            (std::vector<std::string>{"C04/0", "C03/0", "close", "open", "C10/0", "close"}));
  EXPECT_EQ(r.view.panels[4], upgrade_text::kStopped);
  ASSERT_EQ(r.view.boxes.size(), 1u);
  EXPECT_EQ(r.view.boxes[0].text, upgrade_text::kStopped);
  EXPECT_FALSE(r.core.Devices().Lease.Taken());
  EXPECT_FALSE(r.core.Commands().StopRequested);
  // The next upgrade runs whole.
  r.view.pump = nullptr;
  EXPECT_EQ(r.Upgrade(), UpgradeOutcome::Succeeded);
}

// --- Every request failing or hanging ----------------------------------

struct Failure {
  std::string transport;
  bool hang;
};

class EveryRequestFails : public ::testing::TestWithParam<Failure> {};

// The requests worth breaking: every control, and the first two, a middle
// and the last two requests of each loop.
std::vector<int> Interesting(const std::vector<RequestTap::Event>& events) {
  auto family = [](const std::string& label) -> std::string {
    const std::string k = label.substr(0, 3);
    if (k == "C01" || k == "V81") return "erase";
    if (k == "C02" || k == "V89") return "program";
    if (k == "C00" || k == "R60" || k == "A01" || k == "V85") return "read";
    if (k == "P85") return "search";
    return "";  // a control or a single read
  };
  std::vector<std::string> kinds;
  for (const auto& e : events)
    if (e.label != "open" && e.label != "close") kinds.push_back(family(e.label));
  std::vector<int> picks;
  for (size_t i = 0; i < kinds.size();) {
    size_t end = i;
    while (!kinds[i].empty() && end + 1 < kinds.size() && kinds[end + 1] == kinds[i]) ++end;
    for (size_t k : {i, i + 1, (i + end) / 2, end - 1, end})
      if (k >= i && k <= end && (picks.empty() || picks.back() < static_cast<int>(k)))
        picks.push_back(static_cast<int>(k));
    i = end + 1;
  }
  return picks;
}

TEST_P(EveryRequestFails, EndsWithTheFixedTextsAndReleasesEverything) {
  const Failure f = GetParam();
  const bool vendor = f.transport.rfind("vendor", 0) == 0;
  std::vector<RequestTap::Event> clean;
  {
    Rig r(OneEnclosure(f.transport));
    r.Load(MakeImage());
    ASSERT_EQ(r.Upgrade(), UpgradeOutcome::Succeeded);
    clean = r.tap.events;
  }
  const std::vector<int> picks = Interesting(clean);
  ASSERT_GT(picks.size(), vendor ? 10u : 20u);
  for (int at : picks) {
    Rig r(OneEnclosure(f.transport));
    r.Load(MakeImage());
    r.tap.failAt = at;
    r.tap.hang = f.hang;
    const UpgradeOutcome outcome = r.Upgrade();
    SCOPED_TRACE("request " + std::to_string(at));

    // Where the broken request sat: which open it followed.
    int opens = 0, seen = 0;
    const RequestTap::Event* broken = nullptr;
    for (const auto& e : r.tap.events) {
      if (e.label == "open") ++opens;
      if (e.label == "open" || e.label == "close") continue;
      if (seen++ == at) {
        broken = &e;
        break;
      }
    }
    ASSERT_NE(broken, nullptr);
    SCOPED_TRACE(broken->label);
    // The record search of a vendor bridge reports its own text.
    const std::string requestText = vendor && opens == 2 ? "Read Error for USB" : broken->failureText;
    std::string box;
    bool modeLeft = true;
    switch (opens) {
      case 1: modeLeft = false; break;
      case 2: box = "Get SPI Record fail "; break;
      case 3: box = "SPI Erase Fail."; break;
      case 4: box = "SPI Program Fail."; break;
      case 5: box = requestText; break;
      default: box = upgrade_text::kCompleted; break;
    }
    if (opens == 1) {
      EXPECT_TRUE(r.view.boxes.empty());
      EXPECT_EQ(outcome, UpgradeOutcome::ModeFailed);
    } else if (opens >= 6) {
      // Verified, but leaving update mode failed: the upgrade still counts
      // as done, after a warning that the controller may be in update mode.
      ASSERT_EQ(r.view.boxes.size(), 2u);
      EXPECT_EQ(r.view.boxes[0].text, upgrade_text::kStillInUpdateMode);
      EXPECT_EQ(r.view.boxes[1].text, box);
      EXPECT_EQ(r.view.boxes[1].caption, "Firmware Upgrade Message");
      EXPECT_EQ(outcome, UpgradeOutcome::Succeeded);
    } else {
      ASSERT_EQ(r.view.boxes.size(), 1u);
      EXPECT_EQ(r.view.boxes[0].text, box);
      EXPECT_EQ(r.view.boxes[0].caption, "Message");
    }
    EXPECT_EQ(r.view.panels[4], opens == 1 || opens == 2 || opens >= 5 ? requestText : box);
    // Update mode is left whenever it was entered: the last device session
    // is the 0x10 control.
    const auto labels = r.tap.Labels();
    const auto lastOpen = std::find(labels.rbegin(), labels.rend(), "open");
    const int sessions = static_cast<int>(std::count(labels.begin(), labels.end(), "open"));
    if (modeLeft) {
      if (vendor)
        EXPECT_EQ(*(lastOpen - 1), "close");  // the vendor bridge needs no request for it
      else
        EXPECT_EQ(*(lastOpen - 1), f.transport == "ata" ? "A10" : "C10/0");
      EXPECT_GE(sessions, 3);
    } else {
      EXPECT_EQ(sessions, 1);
    }
    EXPECT_FALSE(r.core.Devices().Lease.Taken());
    EXPECT_FALSE(r.core.Devices().Lease.HoldsSlot());
    EXPECT_FALSE(r.core.ProgressTimerEnabled());
    EXPECT_FALSE(r.up.Model.ProgressPanelVisible);
    EXPECT_TRUE(r.up.Model.SlotBoxesEnabled);
    EXPECT_EQ(r.m.io.OpenHandles(), 0u);

    // Polling resumes.
    r.tap.events.clear();
    r.tap.failAt = -1;
    r.tap.recording = true;
    r.RunFor(9000);
    const auto after = r.tap.Labels();
    EXPECT_TRUE(std::any_of(after.begin(), after.end(),
                            [](const std::string& l) { return l == "R33" || l.rfind("P85", 0) == 0; }));
  }
}

INSTANTIATE_TEST_SUITE_P(Upgrade, EveryRequestFails,
                         ::testing::Values(Failure{"read58", false}, Failure{"read58", true}, Failure{"ata", false},
                                           Failure{"ata", true}, Failure{"vendor1", false}, Failure{"vendor2", true}),
                         [](const auto& info) { return info.param.transport + (info.param.hang ? "_hang" : "_fail"); });

}  // namespace
}  // namespace raid::test
