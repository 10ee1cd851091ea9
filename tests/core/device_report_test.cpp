// The device information block and the notification request.
#include <gtest/gtest.h>

#include <random>

#include "device/record_layout.h"
#include "monitor/decoded_status.h"
#include "monitor/device_report.h"
#include "monitor/status_record.h"
#include "sim/scenario.h"
#include "monitor/device_messages.h"
#include "test_support.h"

namespace raid {
namespace {

struct ReportRig {
  ReportRig()
      : m(test::Scenario(R"({"enclosures":[]})")),
        cs(m.io, m.clock, st),
        det(cs, m.io, progress, st),
        rep(st, ms, det) {
    st.DeviceCount = 1;
    st.DeviceList[0] = 0x40 | 3;
    sim::PutAtaString(det.PrevIdentSector[3], ident::kModel, 40, "Two-bay RAID");
    sim::PutAtaString(det.PrevIdentSector[3], ident::kFirmware, 8, "100607.1");
    Sector& b = ms.StatusBlock[3];
    b[status::kMode] = 1;
    b[status::kConfig] = 'G';
    b[status::kConfig + 1] = '1';
    b[status::kConfig + 2] = '2';
    StoreLE(b, status::kCapacity, 5, 1953525168ULL);
    sim::PutAtaString(b, status::kHdd1Model, 40, "DISK ONE");
    sim::PutAtaString(b, status::kHdd1Serial, 20, "S1");
    StoreLE(b, status::kHdd1Capacity, 6, 976773168ULL);
    sim::PutAtaString(b, status::kHdd2Model, 40, "DISK TWO");
    sim::PutAtaString(b, status::kHdd2Serial, 20, "S2");
    StoreLE(b, status::kHdd2Capacity, 6, 976773168ULL);
    b[status::kLinkSpeed] = 0x35;  // HDD1 code 5 (no name), HDD2 6G
  }
  std::vector<std::string> Block(ReportForm form, uint8_t category = 0) {
    std::vector<std::string> l;
    rep.AppendDeviceInfoBlock(l, 0, form, category);
    return l;
  }
  test::SimMachine m;
  test::RecordingUi ui;
  StatusBarDetectionProgress progress{ui};
  DeviceState st;
  MonitorState ms;
  CommandSet cs;
  DriveDetector det;
  DeviceReport rep;
};

TEST(DeviceReportText, HeadNamesModeFirmwareConfigurationAndCapacity) {
  ReportRig r;
  r.ms.StatusBlock[3][status::kState] = 0x22;
  auto l = r.Block(ReportForm::Log);
  ASSERT_EQ(l.size(), 12u);
  EXPECT_EQ(l[0], "Device1 information :");
  EXPECT_EQ(l[1], "Model# Two-bay RAID");
  EXPECT_EQ(l[2], "Mirroring(RAID1), F/W Rev. 100607.1.G12");
  EXPECT_EQ(l[3], "Configured Capacity : 931 GB(1953525168 Sectors)");
  EXPECT_EQ(l[4], "  HDD1 is present.(SATA)");
  EXPECT_EQ(l[8], "  HDD2 is present.(SATA6G)");
  EXPECT_EQ(l[10], "    Serial no.: \"S2                  \"");
  r.ms.StatusBlock[3][status::kMode] = 63;
  EXPECT_EQ(r.Block(ReportForm::Log)[2], "Bypass, F/W Rev. 100607.1.G12");
  r.ms.StatusBlock[3][status::kMode] = 4;
  EXPECT_EQ(r.Block(ReportForm::Log)[2].substr(0, 10), "Undefine, ");
}

TEST(DeviceReportText, ConfigurationCodeAndModelTextRules) {
  Sector s{};
  auto code = [&](const char* c) {
    s[187] = c[0];
    s[188] = c[1];
    s[189] = c[2];
    return DecodeStatus(s, FirmwareInfo{}).configCode;
  };
  EXPECT_EQ(code("G12"), "G12");
  EXPECT_EQ(code("A1F"), "A1F");
  EXPECT_EQ(code("A1G"), "C00");
  EXPECT_EQ(code("a12"), "C00");
  sim::PutAtaString(s, 256, 40, "");
  EXPECT_EQ(ModelText(s, 256), "      ");  // six blanks always stay
  EXPECT_EQ(LinkSpeedText(15), "");
}

TEST(DeviceReportText, AbsentDriveListsItsKeptIdentityInTheLogForm) {
  ReportRig r;
  r.ms.StatusBlock[3][status::kState] = 0x24;
  auto l = r.Block(ReportForm::Log);
  EXPECT_EQ(l[4], "  HDD1 is absent. ");
  EXPECT_EQ(l[5], "    Model no.:DISK ONE");  // no blank after the colon for HDD1
  std::fill(r.ms.StatusBlock[3].begin() + 58, r.ms.StatusBlock[3].begin() + 78, 0);
  l = r.Block(ReportForm::Log);
  EXPECT_EQ(l[4], "  HDD1 is absent. ");
  EXPECT_EQ(l[5], "  HDD2 is present.(SATA6G)");
}

TEST(DeviceReportText, FailedDriveReasonDiffersBetweenLogAndMail) {
  ReportRig r;
  r.ms.StatusBlock[3][status::kState] = 0x28;
  r.ms.StatusBlock[3][status::kActivity] = 0x90;
  EXPECT_EQ(r.Block(ReportForm::Log)[4], "  HDD1 was failed, Matched SSD, Reboot.");
  EXPECT_EQ(r.Block(ReportForm::Mail, 2)[4], "  HDD1 was failed, Capacity too small.");
  r.ms.StatusBlock[3][status::kActivity] = 0x00;
  EXPECT_EQ(r.Block(ReportForm::Log)[4], "  HDD1 was failed, Unmatched SSD.");
}

TEST(DeviceReportText, MailFormListsAbsentDrivesOnlyForMemberFailures) {
  ReportRig r;
  r.ms.StatusBlock[3][status::kState] = 0x24;
  EXPECT_EQ(r.Block(ReportForm::Mail, 1).size(), 12u);
  EXPECT_EQ(r.Block(ReportForm::Mail, 2).size(), 9u);
}

TEST(DeviceReportText, ReportForASlotBeyondTheListStillRaisesTheRequest) {
  ReportRig r;
  r.rep.BuildDeviceReport(3, 1, 0);
  EXPECT_TRUE(r.ms.MailEventText.empty());
  EXPECT_EQ(r.ms.MailCategory, 3);
  EXPECT_EQ(r.ms.MailRequestFlags.load(), mail_request::kPending);
  r.ms.StatusBlock[3][status::kState] = 0x22;
  r.rep.BuildDeviceReport(1, 0, 1);
  EXPECT_EQ(r.ms.MailEventText[0], "Device1 P1 Hard Disk Drive fail.");
  r.rep.BuildDeviceReport(4, 0, 0);  // each call replaces the pending text
  EXPECT_EQ(r.ms.MailEventText[0], "Device1 fan fail.");
  EXPECT_EQ(r.ms.MailCategory, 4);
}

TEST(DeviceReportText, DamagedTextFieldsStayOnOneLine) {
  Sector s{};
  s[256] = '\n';
  s[257] = 'A';
  s[258] = 0;
  s[259] = 'B';
  EXPECT_EQ(AtaText(s, 256, 40), "A?B");
  s[259] = 0;
  EXPECT_EQ(AtaText(s, 256, 40), "A?");
}

// What a device sends can never steer a terminal, break a line or fake a
// character: C1 controls (the 8-bit CSI, alone or UTF-8 encoded), broken and
// overlong sequences and bidirectional overrides become '?', byte for byte;
// real UTF-8 letters stay.
TEST(DeviceReportText, DeviceTextsAreShowableWhateverTheBytes) {
  EXPECT_EQ(ShowableText("a\x9B"
                         "31mb",
                         '?'),
            "a?31mb");
  EXPECT_EQ(ShowableText("\xC2\x9B"
                         "2J",
                         '?'),
            "??2J");
  EXPECT_EQ(ShowableText("\xC3\xA9t\xC3", '?'), "\xC3\xA9t?");
  EXPECT_EQ(ShowableText("\xE0\x80\xAF", '?'), "???");      // overlong '/'
  EXPECT_EQ(ShowableText("x\xE2\x80\xAEy", '?'), "x???y");  // right-to-left override
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    std::string raw(rng() % 48, '\0');
    for (char& c : raw) c = static_cast<char>(rng() % 4 == 0 ? 0xC2 : rng());
    const std::string t = ShowableText(raw, '?');
    ASSERT_EQ(t.size(), raw.size());
    EXPECT_EQ(ShowableText(t, '?'), t);
    for (size_t i = 0; i < t.size(); ++i) {
      const auto c = static_cast<unsigned char>(t[i]);
      ASSERT_TRUE(c >= 0x20 && c != 0x7F) << "control byte " << int(c) << " in round " << round;
      if (c == 0xC2 && i + 1 < t.size()) {
        ASSERT_GE(static_cast<unsigned char>(t[i + 1]), 0xA0);
      }
    }
  }
}

}  // namespace
}  // namespace raid
