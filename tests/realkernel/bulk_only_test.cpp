// The gadget's Bulk-Only Transport side: what it accepts as a CBW from the
// host, and the course of a command between the CBW and the CSW.
#include "realkernel/bulk_only.h"

#include <gtest/gtest.h>

#include <cstring>

namespace raid::realkernel {
namespace {

std::vector<uint8_t> CbwBytes(uint32_t tag, uint32_t length, uint8_t flags, std::vector<uint8_t> cdb) {
  std::vector<uint8_t> b(kCbwSize, 0);
  const uint8_t sig[4] = {'U', 'S', 'B', 'C'};
  std::memcpy(b.data(), sig, 4);
  for (int i = 0; i < 4; ++i) {
    b[4 + i] = static_cast<uint8_t>(tag >> (8 * i));
    b[8 + i] = static_cast<uint8_t>(length >> (8 * i));
  }
  b[12] = flags;
  b[14] = static_cast<uint8_t>(cdb.size());
  std::copy(cdb.begin(), cdb.end(), b.begin() + 15);
  return b;
}

uint32_t CswResidue(const std::array<uint8_t, kCswSize>& c) {
  return c[8] | c[9] << 8 | c[10] << 16 | static_cast<uint32_t>(c[11]) << 24;
}

TEST(BulkOnly, CbwFieldsAreLittleEndianAndMalformedWrappersAreRefused) {
  auto good = CbwBytes(0x11223344, 0x00010200, 0x80, {0x28, 0, 0, 0, 0, 8, 0, 0, 1, 0});
  auto c = ParseCbw(good.data(), good.size());
  ASSERT_TRUE(c);
  EXPECT_EQ(c->tag, 0x11223344u);
  EXPECT_EQ(c->dataLength, 0x00010200u);
  EXPECT_EQ(c->direction, DataDirection::In);
  EXPECT_EQ(c->cdbLength, 10);
  EXPECT_EQ(c->cdb[5], 8);
  EXPECT_EQ(c->cdb[10], 0);  // nothing past the CDB length is taken

  auto none = CbwBytes(1, 0, 0x80, {0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(ParseCbw(none.data(), none.size())->direction, DataDirection::None);

  EXPECT_FALSE(ParseCbw(good.data(), good.size() - 1));
  auto longer = good;
  longer.push_back(0);
  EXPECT_FALSE(ParseCbw(longer.data(), longer.size()));
  auto badSig = good;
  badSig[3] = 'S';
  EXPECT_FALSE(ParseCbw(badSig.data(), badSig.size()));
  for (uint8_t len : {0, 17, 31}) {
    auto b = good;
    b[14] = len;
    EXPECT_FALSE(ParseCbw(b.data(), b.size())) << int(len);
  }
  auto flags = good;
  flags[12] = 0x81;
  EXPECT_FALSE(ParseCbw(flags.data(), flags.size()));
  auto lun = good;
  lun[13] = 0x10;
  EXPECT_FALSE(ParseCbw(lun.data(), lun.size()));
  EXPECT_FALSE(ParseCbw(nullptr, kCbwSize));
}

TEST(BulkOnly, CheckConditionFailsTheCswAndItsSenseAnswersTheNextRequestSenseOnly) {
  // Descriptor sense longer than the 18 bytes the host asks for first.
  std::vector<uint8_t> sense(22, 0);
  sense[0] = 0x72;
  sense[1] = 0x01;
  sense[7] = 14;
  sense[21] = 0x50;
  int answered = 0;
  BulkOnlyTarget t([&](const uint8_t* cdb, size_t, DataDirection, uint8_t* data, uint32_t length) {
    ++answered;
    ScsiReply r;
    if (cdb[0] == 0x85) {
      r.status = 0x02;
      r.sense = sense;
    } else if (cdb[0] == 0x03) {
      std::memset(data, 0xEE, length);
      r.moved = length;
    }
    return r;
  });
  std::vector<uint8_t> buf;
  auto ata = *ParseCbw(CbwBytes(7, 512, 0x80, {0x85, 0x08, 0x0e, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xe0, 0xec, 0}).data(),
                       kCbwSize);
  auto o = t.Run(ata, buf);
  EXPECT_FALSE(o.hang);
  EXPECT_EQ(o.csw[12], kCswFailed);
  EXPECT_EQ(CswResidue(o.csw), 512u);
  EXPECT_EQ(o.dataInBytes, 0u);
  EXPECT_EQ(o.csw[4], 7);

  auto rs = *ParseCbw(CbwBytes(8, 18, 0x80, {0x03, 0, 0, 0, 18, 0}).data(), kCbwSize);
  o = t.Run(rs, buf);
  EXPECT_EQ(answered, 1);  // the kept sense, not the device
  EXPECT_EQ(o.csw[12], kCswPassed);
  EXPECT_EQ(o.dataInBytes, 18u);
  EXPECT_EQ(CswResidue(o.csw), 0u);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 18, sense.begin()));

  // Kept once: the next REQUEST SENSE is the device's.
  o = t.Run(rs, buf);
  EXPECT_EQ(answered, 2);
  EXPECT_EQ(buf[0], 0xEE);

  // Any other command in between drops it.
  t.Run(ata, buf);
  auto tur = *ParseCbw(CbwBytes(9, 0, 0, {0x00, 0, 0, 0, 0, 0}).data(), kCbwSize);
  t.Run(tur, buf);
  answered = 0;
  t.Run(rs, buf);
  EXPECT_EQ(answered, 1);
}

TEST(BulkOnly, ShortReplyIsTheResidueOverlongIsAPhaseErrorAndAHangGetsNoCsw) {
  uint32_t reply = 0;
  bool hang = false;
  BulkOnlyTarget t([&](const uint8_t*, size_t, DataDirection, uint8_t*, uint32_t) {
    ScsiReply r;
    r.moved = reply;
    r.hang = hang;
    return r;
  });
  std::vector<uint8_t> buf;
  auto read = *ParseCbw(CbwBytes(3, 512, 0x80, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}).data(), kCbwSize);
  reply = 100;
  auto o = t.Run(read, buf);
  EXPECT_EQ(o.dataInBytes, 100u);
  EXPECT_EQ(CswResidue(o.csw), 412u);
  EXPECT_EQ(o.csw[12], kCswPassed);

  reply = 513;
  o = t.Run(read, buf);
  EXPECT_EQ(o.csw[12], kCswPhaseError);
  EXPECT_EQ(o.dataInBytes, 0u);

  auto write = *ParseCbw(CbwBytes(4, 512, 0x00, {0x2a, 0, 0, 0, 0, 0, 0, 0, 1, 0}).data(), kCbwSize);
  reply = 512;
  o = t.Run(write, buf);
  EXPECT_EQ(o.dataInBytes, 0u);  // nothing goes back for data-out
  EXPECT_EQ(CswResidue(o.csw), 0u);

  hang = true;
  o = t.Run(read, buf);
  EXPECT_TRUE(o.hang);
}

}  // namespace
}  // namespace raid::realkernel
