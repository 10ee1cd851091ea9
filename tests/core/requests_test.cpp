// Encoding of the requests sent to a bridge, byte by byte.
#include <gtest/gtest.h>

#include "device/requests.h"
#include "platform/windows/windows_records.h"

namespace raid {
namespace {

std::string Hex(const std::array<uint8_t, 10>& c) { return HexBytes(c.data(), c.size()); }

TEST(RequestEncoding, BlockCommandsCarryBigEndianAddressAndCount) {
  uint8_t buf[512];
  const ScsiRequest r = MakeRead10(0x01020304, 1, buf);
  EXPECT_EQ(HexBytes(r.cdb.data(), 10), "28 00 01 02 03 04 00 00 01 00");
  EXPECT_EQ(r.transferLength, 512u);
  EXPECT_EQ(r.direction, DataDirection::In);
  EXPECT_EQ(r.timeoutSeconds, 2u);
  const ScsiRequest w = MakeWrite10(20, 3, buf);
  EXPECT_EQ(HexBytes(w.cdb.data(), 10), "2A 00 00 00 00 14 00 00 03 00");
  EXPECT_EQ(w.transferLength, 1536u);
  EXPECT_EQ(w.direction, DataDirection::Out);
}

TEST(RequestEncoding, InquiryUsesTenCdbBytesAndTheLongTimeout) {
  uint8_t buf[36];
  const ScsiRequest r = MakeInquiry(buf);
  EXPECT_EQ(r.cdbLength, 10);
  EXPECT_EQ(HexBytes(r.cdb.data(), 10), "12 00 00 00 24 00 00 00 00 00");
  EXPECT_EQ(r.transferLength, 36u);
  EXPECT_EQ(r.timeoutSeconds, 200u);
}

TEST(RequestEncoding, VendorCdbLayoutsFollowTheShift) {
  EXPECT_EQ(Hex(VendorCdb(0x8B, 0, 0, 1)), "FE 8B 00 00 00 00 00 00 00 00");
  EXPECT_EQ(Hex(VendorCdb(0x8B, 0, 0, 0)), "FE FE 8B 00 00 00 00 00 00 00");
  EXPECT_EQ(Hex(VendorCdb(0x85, 0x78000 + 0x100, 1, 0)), "FE FE 85 00 07 81 00 00 01 00");
  EXPECT_EQ(Hex(VendorCdb(0x85, 0x78100, 1, 1)), "FE 85 00 07 81 00 00 01 00 00");
}

TEST(RequestEncoding, VendorCdbDecodesOnlyInItsOwnLayout) {
  std::array<uint8_t, 16> c{};
  const auto one = VendorCdb(0x85, 0x12345, 1, 1);
  std::copy(one.begin(), one.end(), c.begin());
  DecodedVendorCdb d;
  ASSERT_TRUE(DecodeVendorCdb(c, 1, d));
  EXPECT_EQ(d.opcode, 0x85);
  EXPECT_EQ(d.address, 0x12345u);
  EXPECT_EQ(d.flag, 1);
  EXPECT_FALSE(DecodeVendorCdb(c, 0, d));
}

TEST(RequestEncoding, ScsiRecordMatchesTheThirtyTwoBitLayout) {
  uint8_t buf[512];
  const ScsiRequest r = MakeRead10(58, 1, buf);
  const auto rec = EncodeScsiRecord32(r, 0x00401000);
  ASSERT_EQ(rec.size(), 80u);
  // Length 44, status 0, path 0, target 1, lun 0, CDB length 10, sense 24,
  // data in, padding, transfer length, time-out, buffer, sense offset 48.
  EXPECT_EQ(HexBytes(rec.data(), 28),
            "2C 00 00 00 01 00 0A 18 01 00 00 00 00 02 00 00 02 00 00 00 00 10 40 00 30 00 00 00");
  EXPECT_EQ(HexBytes(rec.data() + 28, 16), "28 00 00 00 00 3A 00 00 01 00 00 00 00 00 00 00");
  for (size_t i = 44; i < 80; ++i) EXPECT_EQ(rec[i], 0) << i;
  EXPECT_EQ(EncodeScsiRecord32(MakeWrite10(20, 1, buf), 0)[8], 0);  // data out
  EXPECT_EQ(EncodeScsiRecord32(MakeInquiry(buf), 0)[16], 200);
}

TEST(RequestEncoding, IdeBufferHasRegistersSizeAndMarkedData) {
  AtaRegisters regs{0, 0, 0, 0, 0, 0xE0, 0xEC};
  auto b = EncodeIdeBuffer(regs, 1);
  ASSERT_EQ(b.size(), 12u + 512u);
  EXPECT_EQ(HexBytes(b.data(), 13), "00 00 00 00 00 E0 EC 00 00 02 00 00 01");
  // No data still sends a 16-byte buffer.
  auto empty = EncodeIdeBuffer(AtaRegisters{0x01, 0, 0, 0x80, 0x07, 0xE0, 0x88}, 0);
  EXPECT_EQ(empty.size(), 16u);
  EXPECT_EQ(HexBytes(empty.data(), 16), "01 00 00 80 07 E0 88 00 00 00 00 00 01 00 00 00");
}

TEST(RequestEncoding, IdeReplyCopiesRegistersAlwaysAndDataOnlyOnSuccess) {
  AtaRegisters regs{0, 0, 0, 0, 0, 0xE0, 0xEC};
  auto b = EncodeIdeBuffer(regs, 1);
  b[6] = 0x50;  // status after the command
  b[12] = 0xAB;
  uint8_t data[512] = {};
  DecodeIdeBuffer(b, regs, data, 1, false);
  EXPECT_EQ(regs.command, 0x50);
  EXPECT_EQ(data[0], 0);
  DecodeIdeBuffer(b, regs, data, 1, true);
  EXPECT_EQ(data[0], 0xAB);
}

TEST(RequestEncoding, CommandSectorChecksumCoversOnlyThePayload) {
  CommandBlock b;
  b.UpdateChecksum();
  EXPECT_EQ(b.Bytes()[510], 0);
  EXPECT_EQ(b.Bytes()[511], 0);
  b.SetHeader(0x24, 1);
  b.SetAddress(0xABCDEF);
  EXPECT_TRUE(CommandBlock::ChecksumOk(b.Bytes()));  // bytes 0-6 never change it
  for (size_t i = 7; i <= 509; ++i) b.Bytes()[i] = 0xFF;
  b.UpdateChecksum();
  // 503 × 255 = 128265 = 0x1F509, truncated to 16 bits, low byte first.
  EXPECT_EQ(b.Bytes()[510], 0x09);
  EXPECT_EQ(b.Bytes()[511], 0xF5);
  b.Bytes()[300] ^= 1;
  EXPECT_FALSE(CommandBlock::ChecksumOk(b.Bytes()));
}

TEST(RequestEncoding, ExtentsReplyFieldsAreLittleEndian) {
  const auto r = MakeExtentsReply(0x103, 0x100000, 0x7470C06000ULL);
  const VolumeExtent e = ParseExtents(r);
  EXPECT_EQ(e.diskNumber, 0x03);  // the low byte is kept
  EXPECT_EQ(e.startingOffset, 0x100000u);
  EXPECT_EQ(e.extentLength, 0x7470C06000ULL);
}

}  // namespace
}  // namespace raid
