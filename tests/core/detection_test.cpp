// Enumeration and identification against the simulated machine: which
// probes each kind of drive gets, grouping, and the volume table.
#include <gtest/gtest.h>

#include <new>

#include "device/detection.h"
#include "monitor/device_messages.h"
#include "test_support.h"

namespace raid {
namespace {

using test::RecordingUi;
using test::SimMachine;

const char* kFourTransports = R"({
  "enclosures": [
    {"name": "R", "transport": "read58", "model": "Block enclosure"},
    {"name": "A", "transport": "ata", "model": "ATA enclosure"},
    {"name": "V1", "transport": "vendor1", "model": "One-FE enclosure"},
    {"name": "V2", "transport": "vendor2", "model": "Two-FE enclosure"}
  ],
  "disks": [
    {"drive": 0, "enclosure": "R"}, {"drive": 1}, {"drive": 2, "enclosure": "A"},
    {"drive": 3, "enclosure": "V1"}, {"drive": 4, "enclosure": "V2"}
  ],
  "volumes": [
    {"letter": "C", "drive": 1, "offset": 1048576, "length": 500000000},
    {"letter": "E", "drive": 0, "offset": 2097152, "length": 900000000}
  ]
})";

struct DetectRig {
  explicit DetectRig(const std::string& json)
      : m(test::Scenario(json)), cs(m.io, m.clock, st), det(cs, m.io, progress, st) {
    st.Detecting = 1;
    st.FirstFill = 1;
    det.CountLetters();
    det.PhysicalDriveCount = static_cast<uint8_t>(det.CountPhysicalDrives());
  }
  std::vector<std::string> For(const std::string& pd) {
    std::vector<std::string> out;
    for (const auto& l : m.TraceLines())
      if (l.rfind(pd + " ", 0) == 0) out.push_back(l.substr(pd.size() + 1));
    return out;
  }
  SimMachine m;
  RecordingUi ui;
  StatusBarDetectionProgress progress{ui};
  DeviceState st;
  CommandSet cs;
  DriveDetector det;
};

TEST(Identification, EachTransportIsFoundByItsOwnModeWithNoFurtherProbes) {
  DetectRig r(kFourTransports);
  r.m.ClearTrace();
  ASSERT_EQ(r.det.ScanDrives(), 4);
  ASSERT_EQ(r.det.GroupCount, 4);
  EXPECT_EQ(r.det.GroupTable[0], 0x40u);
  EXPECT_EQ(r.det.GroupTable[1], 0x12u);
  EXPECT_EQ(r.det.GroupTable[2], 0xA3u);
  EXPECT_EQ(r.det.GroupTable[3], 0x24u);
  EXPECT_EQ(r.det.FoundCount, 4);

  const std::string read58 = "CDB 28 00 00 00 00 3A 00 00 01 00 IN 512 ok";
  const std::string identify = "ATA 00 00 00 00 00 E0 EC IN 512";
  const std::string inquiry = "CDB 12 00 00 00 24 00 00 00 00 00 IN 36 ok";
  EXPECT_EQ(r.For("PD0"), (std::vector<std::string>{read58, "RESCAN NONE 0 ok", identify + " fail",
                                                    "CDB 28 00 00 00 00 21 00 00 01 00 IN 512 ok"}));
  EXPECT_EQ(r.For("PD1"),
            (std::vector<std::string>{
                read58, "RESCAN NONE 0 ok", identify + " fail", inquiry,
                "CDB FE 8B 00 00 00 00 00 00 00 00 IN 512 fail", "CDB FE 78 00 00 00 00 00 00 00 00 IN 20 fail",
                "CDB FE FE 8B 00 00 00 00 00 00 00 IN 512 fail", "CDB FE FE 78 00 00 00 00 00 00 00 IN 20 fail"}));
  EXPECT_EQ(r.For("PD2"), (std::vector<std::string>{read58, "RESCAN NONE 0 ok", identify + " ok",
                                                    "CDB 28 00 00 00 00 21 00 00 01 00 IN 512 ok"}));
  const auto v1 = r.For("PD3");
  ASSERT_GE(v1.size(), 5u);
  EXPECT_EQ(v1[3], inquiry);
  EXPECT_EQ(v1[4], "CDB FE 8B 00 00 00 00 00 00 00 00 IN 512 ok");
  EXPECT_EQ(v1[5].substr(0, 10), "CDB FE 85 ");  // the status record search follows
  const auto v2 = r.For("PD4");
  EXPECT_EQ(v2[4], "CDB FE 8B 00 00 00 00 00 00 00 00 IN 512 fail");
  EXPECT_EQ(v2[5], "CDB FE 78 00 00 00 00 00 00 00 00 IN 20 fail");
  EXPECT_EQ(v2[6], "CDB FE FE 8B 00 00 00 00 00 00 00 IN 512 ok");
  // The status-bar texts went to panels 1 and 2.
  EXPECT_EQ(r.ui.panels[1], "Detecting D4");
  EXPECT_EQ(r.ui.panels[2], "Mode 4");
}

TEST(Identification, InquiryWithOtherAdditionalLengthIsNeverFollowedByVendorProbes) {
  DetectRig r(R"({"enclosures":[],"disks":[{"drive":0,"inquiryAdditionalLength":91}]})");
  r.m.ClearTrace();
  EXPECT_EQ(r.det.ScanDrives(), 0);
  const auto t = r.For("PD0");
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t.back().substr(0, 6), "CDB 12");
}

TEST(Identification, VendorQueryAnswerIdentifiesWhenTheIdentOpcodeIsRefused) {
  DetectRig r(R"({"enclosures":[{"name":"V","transport":"vendor1","answersIdentOpcode":false}],
                  "disks":[{"drive":0,"enclosure":"V"}]})");
  EXPECT_EQ(r.det.ScanDrives(), 1);
  EXPECT_EQ(r.det.GroupTable[0], 0xA0u);
}

TEST(Identification, ShortRepliesCountOnlyWhenTheyHoldWhatIsRead) {
  // The 0x78 query answered with 10 of its 20 bytes, starting 0x50 0x8B:
  // the two bytes looked at arrived, so the bridge is identified. The
  // 512-byte identification reply cut in half is no reply.
  DetectRig r(R"({"enclosures":[{"name":"V","transport":"vendor1","answersIdentOpcode":false}],
                  "disks":[{"drive":0,"enclosure":"V"}],
                  "faults":[{"kind":"vendor","mode":"short"}]})");
  EXPECT_EQ(r.det.ScanDrives(), 1);
  EXPECT_EQ(r.det.GroupTable[0], 0xA0u);

  DetectRig shortIdent(R"({"enclosures":[{"name":"V","transport":"vendor1"}],
                  "disks":[{"drive":0,"enclosure":"V"}],
                  "faults":[{"kind":"vendor","mode":"short","count":1}]})");
  shortIdent.m.ClearTrace();
  EXPECT_EQ(shortIdent.det.ScanDrives(), 1);
  const auto t = shortIdent.For("PD0");
  // The halved 0x8B reply did not count: the query had to follow.
  ASSERT_GE(t.size(), 6u);
  EXPECT_EQ(t[4], "CDB FE 8B 00 00 00 00 00 00 00 00 IN 512 ok");
  EXPECT_EQ(t[5], "CDB FE 78 00 00 00 00 00 00 00 00 IN 20 ok");
}

TEST(Identification, TwoDrivesShowingOneEnclosureFormOneGroup) {
  DetectRig r(R"({"enclosures":[{"name":"E","transport":"read58"}],
                  "disks":[{"drive":0,"enclosure":"E"},{"drive":1,"enclosure":"E"}]})");
  EXPECT_EQ(r.det.ScanDrives(), 1);
  EXPECT_EQ(r.det.GroupExtraCount[0], 1);
  EXPECT_EQ(r.det.GroupExtraMembers[0][0], 1);
  EXPECT_EQ(r.det.FoundCount, 2);
  EXPECT_EQ(r.det.FoundList[1], 0x41u);
}

TEST(Identification, ScanStopsOnceEveryCountedDriveWasOpened) {
  DetectRig r(R"({"enclosures":[{"name":"E"}],"disks":[{"drive":0,"enclosure":"E"}]})");
  r.m.ClearTrace();
  r.det.ScanDrives();
  // Only drive 0 exists: nothing is even tried beyond it.
  for (const auto& l : r.m.TraceLines()) EXPECT_EQ(l.rfind("PD0 ", 0), 0u) << l;
}

TEST(Enumeration, LetterListSkipsAAndBAndHoldsAtMost24) {
  DetectRig r(R"({"enclosures":[]})");
  r.m.io.SetExtraLetterMask(0x3);  // only A and B
  EXPECT_EQ(r.det.CountLetters(), 0);
  EXPECT_EQ(r.det.DriveLetters[0], 0);
  r.m.io.SetExtraLetterMask(0x3FFFFFF);  // A..Z: 24 from C
  EXPECT_EQ(r.det.CountLetters(), 24);
  EXPECT_EQ(r.det.DriveLetters[0], 'C');
  EXPECT_EQ(r.det.DriveLetters[23], 'Z');
  EXPECT_EQ(r.det.DriveLetters[24], 0);
}

TEST(Enumeration, VolumeTableMapsLettersToDisksAndStopsAtTwenty) {
  DetectRig r(kFourTransports);
  r.det.FillVolumeTable();
  EXPECT_EQ(r.det.VolumeTable[0].Letter, 'C');
  EXPECT_EQ(r.det.VolumeTable[0].DiskNumber, 1);
  EXPECT_EQ(r.det.VolumeTable[1].DiskNumber, 0);
  EXPECT_EQ(r.det.VolumeTable[1].StartingOffset, 2097152u);
  EXPECT_EQ(r.det.VolumeTable[1].DriveType, 3);
  EXPECT_TRUE(r.ui.boxes.empty());

  // 21 letters: the box once the first 20 entries are filled.
  r.m.io.SetExtraLetterMask(((1u << 21) - 1) << 2);
  r.det.CountLetters();
  r.det.FillVolumeTable();
  ASSERT_EQ(r.ui.boxes.size(), 1u);
  EXPECT_EQ(r.ui.boxes[0].text, "Drive Count Must less than 20.");
  EXPECT_EQ(r.det.VolumeTable[19].Letter, 'V');
  EXPECT_EQ(r.det.VolumeTable[19].DriveType, 255);  // no such volume opens
}

}  // namespace
}  // namespace raid

namespace raid {
namespace {

// Forwards to the simulated machine; its ATA requests cannot get their
// buffer.
class AtaWithoutMemory final : public DeviceIo {
 public:
  explicit AtaWithoutMemory(DeviceIo& inner) : in_(inner) {}
  Expected<DeviceHandleValue> Open(DeviceId id) override { return in_.Open(id); }
  void Close(DeviceHandleValue h) override { in_.Close(h); }
  Outcome Scsi(DeviceHandleValue h, ScsiRequest& r) override { return in_.Scsi(h, r); }
  Outcome Ata(DeviceHandleValue, AtaRegisters&, uint8_t*, uint32_t, ReplyStatus&) override { throw std::bad_alloc(); }
  Outcome RescanBus(DeviceHandleValue h) override { return in_.RescanBus(h); }
  Expected<VolumeExtent> DiskExtents(DeviceHandleValue h) override { return in_.DiskExtents(h); }
  uint32_t LogicalDriveMask() override { return in_.LogicalDriveMask(); }
  unsigned DriveTypeOf(char l) override { return in_.DriveTypeOf(l); }

 private:
  DeviceIo& in_;
};

TEST(Identification, AnIdentifyWithoutMemoryIsShownAndTheOtherModesFollow) {
  SimMachine m(test::Scenario(R"({"enclosures":[{"name":"V","transport":"vendor1"}],
                                  "disks":[{"drive":0,"enclosure":"V"}]})"));
  AtaWithoutMemory io(m.io);
  RecordingUi ui;
  StatusBarDetectionProgress progress{ui};
  DeviceState st;
  st.Detecting = 1;
  CommandSet cs(io, m.clock, st);
  DriveDetector det(cs, io, progress, st);
  det.CountLetters();
  det.PhysicalDriveCount = static_cast<uint8_t>(det.CountPhysicalDrives());
  EXPECT_EQ(det.ScanDrives(), 1);  // found by its vendor commands all the same
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Menory Alloc Error!!");
}

}  // namespace
}  // namespace raid
