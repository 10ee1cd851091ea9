// The simulated enclosure behind a real SCSI target: every request the
// program makes is carried as SG_IO carries it on Linux (a CDB, a buffer, a
// status with sense bytes and a residue; ATA commands as ATA PASS-THROUGH(16)
// decoded from the sense data) to the responder, with the kernel's own
// housekeeping commands in between. Whole stories must come out exactly as
// when the program talks to the simulator directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "core_harness.h"
#include "maintenance/firmware_image.h"
#include "maintenance/firmware_upgrade.h"
#include "platform/pass_through.h"
#include "sim/scsi_responder.h"

namespace raid::test {
namespace {

// The program's device I/O as the Linux backend does it, with the wire in
// place of the kernel: Open, Close and the volume queries stay the
// simulator's (the kernel answers those from its own tables); every SCSI
// and ATA request crosses the responder. Before each request the kernel's
// usual housekeeping (TEST UNIT READY, READ CAPACITY, MODE SENSE, a VPD
// page) is sent too, and must neither fail nor reach the simulator.
class WireDeviceIo final : public DeviceIo {
 public:
  WireDeviceIo(sim::SimDeviceIo& io, const sim::ScenarioSpec& sc) : io_(io), sc_(sc) {
    for (int d = 0; d < 10; ++d)
      responders_.push_back(std::make_unique<sim::ScsiResponder>(io, d, sim::ScsiResponder::BlocksFor(sc, d)));
  }

  Expected<DeviceHandleValue> Open(DeviceId id) override {
    Expected<DeviceHandleValue> h = io_.Open(id);
    if (h) drives_[*h] = DriveOf(id);
    return h;
  }
  void Close(DeviceHandleValue h) override {
    drives_.erase(h);
    io_.Close(h);
  }
  Outcome Scsi(DeviceHandleValue h, ScsiRequest& req) override { return Transfer(h, req, false); }
  Outcome Ata(DeviceHandleValue h, AtaRegisters& regs, uint8_t* data, uint32_t sectors, ReplyStatus& status) override {
    // As the Linux backend: ATA PASS-THROUGH(16).
    Outcome ok = AtaByPassThrough16(regs, data, sectors, status, [&](ScsiRequest& r) { return Transfer(h, r, true); });
    if (ok && !(sectors > 0 && data)) ++registersDecoded;
    return ok;
  }
  Outcome RescanBus(DeviceHandleValue h) override { return io_.RescanBus(h); }
  Expected<VolumeExtent> DiskExtents(DeviceHandleValue h) override { return io_.DiskExtents(h); }
  uint32_t LogicalDriveMask() override { return io_.LogicalDriveMask(); }
  unsigned DriveTypeOf(char letter) override { return io_.DriveTypeOf(letter); }
  std::string VolumeName(char letter) override { return io_.VolumeName(letter); }

  int housekeeping = 0;
  int registersDecoded = 0;  // non-data ATA commands whose registers came back in the sense data

 private:
  int DriveOf(DeviceId id) const {
    if (id < kFirstLetterId) return id;
    for (const auto& v : sc_.volumes)
      if (v.letter == static_cast<char>(id)) return v.drive;
    return -1;
  }

  // What SG_IO does with the answer: status and sense into the reply, a
  // hang ends as a time-out of the host, the residue gives the bytes moved.
  Outcome Transfer(DeviceHandleValue h, ScsiRequest& req, bool ataPassThrough) {
    req.transferred = 0;
    req.status = ReplyStatus{};
    auto& responder = *responders_[static_cast<size_t>(drives_.at(h))];
    Housekeeping(responder);
    sim::ScsiCommand c;
    c.cdb = req.cdb.data();
    c.cdbLength = req.cdbLength;
    c.direction = req.transferLength == 0 ? DataDirection::None : req.direction;
    c.data = req.data;
    c.dataLength = req.transferLength;
    c.timeoutSeconds = req.timeoutSeconds;
    const sim::ScsiAnswer a = responder.Answer(h, c);
    if (a.hang) return Outcome::Fail("no answer");
    EXPECT_LE(a.transferred, req.transferLength);
    req.status.scsiStatus = a.status;
    req.status.senseLength = std::min<uint8_t>(a.senseLength, static_cast<uint8_t>(req.status.sense.size()));
    std::copy_n(a.sense.begin(), req.status.senseLength, req.status.sense.begin());
    if (Outcome replied = PassThroughSucceeded(req.status, ataPassThrough); !replied) return replied;
    req.transferred = a.transferred;
    return Outcome::Ok();
  }

  void Housekeeping(sim::ScsiResponder& r) {
    if (!r.Present()) return;
    uint8_t buf[192];
    const std::vector<std::vector<uint8_t>> cdbs = {{0x00, 0, 0, 0, 0, 0},
                                                    {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                                                    {0x1A, 0, 0x3F, 0, 192, 0},
                                                    {0x12, 1, 0x80, 0, 192, 0}};
    const auto& cdb = cdbs[static_cast<size_t>(housekeeping++) % cdbs.size()];
    sim::ScsiCommand c;
    c.cdb = cdb.data();
    c.cdbLength = cdb.size();
    c.direction = cdb[0] == 0 ? DataDirection::None : DataDirection::In;
    c.data = buf;
    c.dataLength = cdb[0] == 0 ? 0 : sizeof buf;
    const sim::ScsiAnswer a = r.Answer(c);
    EXPECT_EQ(a.status, sim::kStatusGood) << "housekeeping 0x" << std::hex << int{cdb[0]};
  }

  sim::SimDeviceIo& io_;
  const sim::ScenarioSpec& sc_;
  std::vector<std::unique_ptr<sim::ScsiResponder>> responders_;
  std::map<DeviceHandleValue, int> drives_;
};

// One run of a scenario: the core on the simulator, directly or over the wire.
struct StoryRun {
  StoryRun(const sim::ScenarioSpec& sc, LocalDateTime start, const std::filesystem::path& folder, bool wired)
      : wired(wired),
        dir((std::filesystem::create_directories(folder), folder)),
        m(sc, start),
        wire(m.io, sc),
        core(wired ? static_cast<DeviceIo&>(wire) : m.io, m.clock, fmt, view, dir.string(), pages),
        sched(
            core, m.clock, &m.clock, true, [this] { m.io.Pump(); }, [this] { return m.io.NextEventMs(); }),
        up(core, view) {
    view.pump = [this] { sched.RunUntil(m.clock.MonotonicMs()); };
    m.io.Start([this] { core.OnDeviceChange(); });
    core.Start();
  }
  void RunUntil(int64_t ms) {
    while (m.clock.MonotonicMs() < ms) {
      const int64_t next = sched.NextWakeMs();
      sched.RunUntil(std::min(next, ms));
    }
  }
  std::string DayFile(const std::string& name) const {
    std::ifstream in(dir / name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // The request trace without time stamps. An IDENTIFY's sector count is
  // masked: the program leaves the register 0 and the pass-through CDB
  // carries the transfer length there, as a real bridge receives it.
  std::vector<std::string> Trace() {
    std::vector<std::string> lines = m.TraceLines();
    for (auto& l : lines) {
      const auto at = l.find(" ATA ");
      if (at != std::string::npos && l.find(" IN ", at) != std::string::npos) l.replace(at + 8, 2, "..");
    }
    return lines;
  }
  bool wired;
  std::filesystem::path dir;
  SimMachine m;
  WireDeviceIo wire;
  FixedDateTimeFormat fmt;
  HarnessView view;
  PageSelection pages;
  RaidCore core;
  CoreScheduler sched;
  FirmwareUpgrade up;
};

sim::ScenarioSpec ScenarioFile(const char* name) {
  return test::Must(sim::LoadScenarioFile(std::string(RAID_TEST_DATA) + "/../../scenarios/" + name));
}

// Runs a scenario both ways and expects the same story: the day files, the
// lines as they were appended, the boxes shown and the simulator's requests.
void ExpectSameStory(const sim::ScenarioSpec& sc, LocalDateTime start, int64_t endMs,
                     const std::vector<std::string>& dayFiles, const std::function<void(StoryRun&)>& act = {}) {
  const auto base = TestDir();
  StoryRun direct(sc, start, base / "direct", false), wired(sc, start, base / "wired", true);
  for (StoryRun* r : {&direct, &wired}) {
    r->RunUntil(endMs / 2);
    if (act) act(*r);
    r->RunUntil(endMs);
  }
  for (const auto& f : dayFiles) {
    EXPECT_FALSE(direct.DayFile(f).empty()) << f;
    EXPECT_EQ(direct.DayFile(f), wired.DayFile(f)) << f;
  }
  EXPECT_EQ(direct.view.appended, wired.view.appended);
  ASSERT_EQ(direct.view.boxes.size(), wired.view.boxes.size());
  for (size_t i = 0; i < direct.view.boxes.size(); ++i) EXPECT_EQ(direct.view.boxes[i].text, wired.view.boxes[i].text);
  EXPECT_EQ(direct.Trace(), wired.Trace());
  EXPECT_GT(wired.wire.housekeeping, 0);
  std::filesystem::remove_all(base);
}

TEST(ThroughTheWire, DetectionOnAllFourTransportsAndAnUnplugTellTheSameStory) {
  ExpectSameStory(ScenarioFile("four-transports.json"), {2010, 5, 3, 9, 0, 0, 0}, 24000, {"100503.log"});
}

TEST(ThroughTheWire, RemovalRebuildBadSectorsAndADayChangeTellTheSameStory) {
  ExpectSameStory(ScenarioFile("removal-rebuild-badsectors.json"), {2010, 5, 3, 23, 58, 0, 0}, 150000,
                  {"100503.log", "100504.log"});
}

TEST(ThroughTheWire, RefusalsShortRepliesAndHangsTellTheSameStory) {
  // Every kind of request fails, answers half or hangs now and then, on an
  // enclosure of each transport next to a plain disk.
  const sim::ScenarioSpec sc = Scenario(R"({
    "enclosures": [{"name": "R", "transport": "read58"}, {"name": "A", "transport": "ata"},
                   {"name": "V", "transport": "vendor2"}],
    "disks": [{"drive": 0, "enclosure": "R"}, {"drive": 1}, {"drive": 2, "enclosure": "A"},
              {"drive": 3, "enclosure": "V"}],
    "faults": [{"kind": "read10", "mode": "short", "after": 3, "count": 2},
               {"kind": "read10", "mode": "fail", "after": 9, "count": 1},
               {"kind": "inquiry", "mode": "hang", "from": 35, "count": 1},
               {"kind": "ata", "mode": "fail", "count": 1},
               {"kind": "ata", "mode": "hang", "after": 2, "count": 1},
               {"kind": "vendor", "mode": "short", "after": 1, "count": 1},
               {"kind": "vendor", "mode": "hang", "after": 4, "count": 1},
               {"kind": "read10", "mode": "hang", "from": 30, "count": 1}],
    "timeline": [{"at": 20, "enclosure": "R", "set": {"hdd1": "absent"}}, {"at": 40, "unplug": "A"},
                 {"at": 50, "plug": "A"}]})");
  ExpectSameStory(sc, {2010, 5, 3, 9, 0, 0, 0}, 400000, {"100503.log"});
}

TEST(ThroughTheWire, AWholeFirmwareUpgradeOnEveryTransportTellsTheSameStory) {
  for (const char* transport : {"read58", "ata", "vendor1", "vendor2"}) {
    SCOPED_TRACE(transport);
    const sim::ScenarioSpec sc = Scenario(std::string(R"({"enclosures":[{"name":"E1","transport":")") + transport +
                                          R"("}],"disks":[{"drive":0,"enclosure":"E1"}]})");
    std::vector<uint8_t> image(kFlashImageLength);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 251);
    std::memcpy(image.data(), "FIPS", 4);
    image[kImageConfigVersionOffset] = kImageConfigVersion;
    std::vector<UpgradeOutcome> outcomes;
    ExpectSameStory(sc, {2010, 5, 3, 9, 0, 0, 0}, 20000, {"100503.log"}, [&](StoryRun& r) {
      MemoryImageReader reader(image);
      r.up.LoadImageFile("/images/fw.bin", reader);
      outcomes.push_back(r.up.UpgradeClick());
      for (uint32_t a = 0; a < kFlashImageLength; ++a) ASSERT_EQ(r.m.io.FindEnclosure("E1")->Flash().Peek(a), image[a]);
      // The ATA bridge's non-data commands came back with their registers.
      if (r.wired && std::string(transport) == "ata") {
        EXPECT_GT(r.wire.registersDecoded, 1000);
      }
    });
    EXPECT_EQ(outcomes, (std::vector<UpgradeOutcome>{UpgradeOutcome::Succeeded, UpgradeOutcome::Succeeded}));
  }
}

// --- Single answers ------------------------------------------------------

struct OneDrive {
  explicit OneDrive(const std::string& json)
      : sc(Scenario(json)), m(sc), r(m.io, 0, sim::ScsiResponder::BlocksFor(sc, 0)) {}
  sim::ScsiAnswer Send(std::vector<uint8_t> cdb, DataDirection dir, std::vector<uint8_t>& data) {
    sim::ScsiCommand c;
    c.cdb = cdb.data();
    c.cdbLength = cdb.size();
    c.direction = dir;
    c.data = data.data();
    c.dataLength = static_cast<uint32_t>(data.size());
    return r.Answer(c);
  }
  sim::ScenarioSpec sc;
  SimMachine m;
  sim::ScsiResponder r;
};

SenseCode SenseOf(const sim::ScsiAnswer& a) { return DecodeSense(a.sense.data(), a.senseLength); }

TEST(ScsiResponder, RefusalsBecomeCheckConditionsShortRepliesResiduesAndHangsNoAnswer) {
  OneDrive d(R"({"enclosures":[{"name":"E1","transport":"vendor1"}],"disks":[{"drive":0,"enclosure":"E1"}],
    "volumes":[{"letter":"E","drive":0,"length":3000000}],
    "faults":[{"kind":"read10","mode":"short","count":1},{"kind":"vendor","mode":"hang","count":1}]})");
  std::vector<uint8_t> sector(512), eight(8 * 512), none;

  // A short reply: half the data, the rest is the residue.
  auto a = d.Send({0x28, 0, 0, 0, 0, 33, 0, 0, 1, 0}, DataDirection::In, sector);
  EXPECT_EQ(a.status, sim::kStatusGood);
  EXPECT_EQ(a.transferred, 256u);
  // A hang: no answer at all.
  a = d.Send({0xFE, 0x8B, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, sector);
  EXPECT_TRUE(a.hang);
  // The controller refuses a vendor request it does not know.
  a = d.Send({0xFE, 0x99, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, sector);
  EXPECT_EQ(a.status, sim::kStatusCheckCondition);
  EXPECT_EQ(SenseOf(a).key, sim::kKeyIllegalRequest);
  // This bridge speaks no ATA: ABORTED COMMAND with the ATA registers of an
  // aborted command, in descriptor format.
  const auto identify = EncodeAtaPassThrough16({0, 1, 0, 0, 0, 0xE0, 0xEC}, 1);
  a = d.Send(std::vector<uint8_t>(identify.begin(), identify.end()), DataDirection::In, sector);
  ReplyStatus rs{a.status, a.senseLength};
  std::copy_n(a.sense.begin(), a.senseLength, rs.sense.begin());
  EXPECT_FALSE(PassThroughSucceeded(rs, true));
  AtaRegisters out;
  ASSERT_TRUE(DecodeAtaOutputRegisters(a.sense.data(), a.senseLength, out));
  EXPECT_EQ(out.command, 0x51);
  EXPECT_EQ(out.features, 0x04);
  // udev's ATA PASS-THROUGH(12) IDENTIFY gets the same.
  a = d.Send({0xA1, 0x08, 0x2E, 0, 1, 0, 0, 0, 0, 0xEC, 0, 0}, DataDirection::In, sector);
  EXPECT_EQ(SenseOf(a).key, sim::kKeyAbortedCommand);
  // An opcode nobody knows, and a block past the end.
  a = d.Send({0x42, 0, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::None, none);
  EXPECT_EQ(SenseOf(a).key, sim::kKeyIllegalRequest);
  EXPECT_EQ(SenseOf(a).asc, 0x20);
  const auto read = [](uint64_t lba, uint8_t count) {
    return std::vector<uint8_t>{0x28,
                                0,
                                static_cast<uint8_t>(lba >> 24),
                                static_cast<uint8_t>(lba >> 16),
                                static_cast<uint8_t>(lba >> 8),
                                static_cast<uint8_t>(lba),
                                0,
                                0,
                                count,
                                0};
  };
  a = d.Send(read(d.r.Blocks() - 1, 2), DataDirection::In, eight);
  EXPECT_EQ(SenseOf(a).asc, 0x21);
  // The capacity the kernel reads covers the volume, and the last eight
  // blocks read in one go (a partition scan does this).
  std::vector<uint8_t> cap(8);
  a = d.Send({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, cap);
  ASSERT_EQ(a.transferred, 8u);
  const uint64_t lastLba = LoadBE(std::span<const uint8_t>(cap), 0, 4);
  EXPECT_GE((lastLba + 1) * 512, 1048576u + 3000000u);
  a = d.Send(read(lastLba - 7, 8), DataDirection::In, eight);
  EXPECT_EQ(a.status, sim::kStatusGood);
  EXPECT_EQ(a.transferred, eight.size());
}

TEST(ScsiResponder, AnAtaBridgeReturnsItsRegistersAndTheProgramsInquiryArrivesCutToSixBytes) {
  OneDrive d(R"({"enclosures":[{"name":"E1","transport":"ata"}],"disks":[{"drive":0,"enclosure":"E1"}],
    "timeline":[{"at":5,"unplug":"E1"}]})");
  std::vector<uint8_t> none, sector(512), inquiry(36);
  EXPECT_EQ(d.r.PlugChange(), std::optional<bool>(true));
  EXPECT_EQ(d.r.PlugChange(), std::nullopt);
  // A non-data command with CK_COND: RECOVERED ERROR 00/1D and the output
  // registers, which the program's decoder takes as success.
  const auto spi = EncodeAtaPassThrough16({0x03, 0, 0, 0, 0, 0xE0, 0x88}, 0);
  auto a = d.Send(std::vector<uint8_t>(spi.begin(), spi.end()), DataDirection::None, none);
  ReplyStatus rs{a.status, a.senseLength};
  std::copy_n(a.sense.begin(), a.senseLength, rs.sense.begin());
  EXPECT_TRUE(PassThroughSucceeded(rs, true));
  AtaRegisters out;
  ASSERT_TRUE(DecodeAtaOutputRegisters(a.sense.data(), a.senseLength, out));
  EXPECT_EQ(out.command, 0x50);
  EXPECT_TRUE(d.m.io.FindEnclosure("E1")->SpiMode());
  // udev's IDENTIFY through ATA PASS-THROUGH(12), CK_COND set, gets the
  // controller's sector and its registers.
  a = d.Send({0xA1, 0x08, 0x2E, 0, 1, 0, 0, 0, 0, 0xEC, 0, 0}, DataDirection::In, sector);
  EXPECT_TRUE(IsAtaPassThroughInformation(SenseOf(a)));
  EXPECT_EQ(a.transferred, 512u);
  EXPECT_EQ(sector[258], '3');
  // INQUIRY as a 6-byte CDB (LIO cuts the program's 10 bytes to six).
  a = d.Send({0x12, 0, 0, 0, 36, 0}, DataDirection::In, inquiry);
  EXPECT_EQ(a.transferred, 36u);
  EXPECT_EQ(inquiry[4], 31);
  // Housekeeping never reaches the simulator.
  const size_t requests = d.m.TraceLines().size();
  std::vector<uint8_t> page(192);
  for (const auto& cdb : std::vector<std::vector<uint8_t>>{{0x00, 0, 0, 0, 0, 0},
                                                           {0x1A, 0, 0x3F, 0, 192, 0},
                                                           {0x5A, 0, 0x08, 0, 0, 0, 0, 0, 192, 0},
                                                           {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0},
                                                           {0x12, 1, 0x00, 0, 192, 0},
                                                           {0x12, 1, 0x83, 0, 192, 0},
                                                           {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 192, 0, 0},
                                                           {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}}) {
    a = d.Send(cdb, cdb[0] == 0 || cdb[0] == 0x35 ? DataDirection::None : DataDirection::In, page);
    EXPECT_EQ(a.status, sim::kStatusGood) << std::hex << int{cdb[0]};
  }
  EXPECT_EQ(d.m.TraceLines().size(), requests);
  // A caching page and no write protection.
  a = d.Send({0x1A, 0, 0x3F, 0, 192, 0}, DataDirection::In, page);
  EXPECT_EQ(page[2] & 0x80, 0);
  EXPECT_EQ(page[4 + 8], 0x08);
  EXPECT_EQ(a.transferred, page[0] + 1u);
  // Unplugged: not ready, and the change is reported once.
  d.m.clock.Advance(6000);
  EXPECT_EQ(d.r.PlugChange(), std::optional<bool>(false));
  a = d.Send({0x00, 0, 0, 0, 0, 0}, DataDirection::None, none);
  EXPECT_EQ(SenseOf(a).key, sim::kKeyNotReady);
  EXPECT_EQ(SenseOf(a).asc, 0x3A);
}

TEST(ScsiResponder, AnyCommandFromTheHostIsAnsweredWithinItsBufferAndOnlyTheEnclosuresOwnReachTheSimulator) {
  // Whatever a host sends (any opcode, CDB length, direction and buffer),
  // the answer stays inside the buffer, GOOD carries no sense and CHECK
  // CONDITION carries valid sense, and the simulator sees only the
  // enclosure's own commands.
  OneDrive d(R"({"enclosures":[{"name":"E1","transport":"ata"}],"disks":[{"drive":0,"enclosure":"E1"}],
    "volumes":[{"letter":"E","drive":0,"length":5000000}]})");
  std::mt19937 rng(11);
  const uint8_t interesting[] = {0x00, 0x03, 0x12, 0x1A, 0x1B, 0x1E, 0x25, 0x28, 0x2A, 0x35,
                                 0x5A, 0x85, 0x91, 0x9E, 0xA0, 0xA1, 0xFE, 0x7F, 0x42, 0xC0};
  constexpr size_t kGuard = 64;
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> cdb(1 + rng() % 16);
    for (auto& b : cdb) b = static_cast<uint8_t>(rng() % 4 ? rng() % 4 : rng());
    cdb[0] = rng() % 4 ? interesting[rng() % sizeof interesting] : static_cast<uint8_t>(rng());
    const uint32_t length = rng() % 3 ? (rng() % 9) * 512 : rng() % 4100;
    std::vector<uint8_t> buffer(length + kGuard, 0xA5);
    const auto dir = static_cast<DataDirection>(rng() % 3);
    sim::ScsiCommand c;
    c.cdb = cdb.data();
    c.cdbLength = cdb.size();
    c.direction = dir;
    c.data = buffer.data();
    c.dataLength = length;
    const sim::ScsiAnswer a = d.r.Answer(c);
    ASSERT_FALSE(a.hang);
    ASSERT_LE(a.transferred, length) << HexBytes(cdb.data(), cdb.size());
    for (size_t g = length; g < buffer.size(); ++g) ASSERT_EQ(buffer[g], 0xA5) << HexBytes(cdb.data(), cdb.size());
    if (a.status == sim::kStatusGood) {
      ASSERT_EQ(a.senseLength, 0);
    } else {
      ASSERT_EQ(a.status, sim::kStatusCheckCondition);
      ASSERT_TRUE(SenseOf(a).valid);
    }
  }
  for (const std::string& line : d.m.TraceLines()) {
    const bool own = line.find(" ATA ") != std::string::npos || line.find(" CDB 12 ") != std::string::npos ||
                     line.find(" CDB 28 ") != std::string::npos || line.find(" CDB 2A ") != std::string::npos ||
                     line.find(" CDB FE ") != std::string::npos;
    EXPECT_TRUE(own) << line;
  }
}

}  // namespace
}  // namespace raid::test
