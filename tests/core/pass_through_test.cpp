// What a pass-through reply's status and sense bytes mean, decided the same
// way by the Linux and the Windows backend: a CHECK CONDITION is never taken
// as data, the SCSI/ATA translation layer's "information available" is, and
// the ATA output registers come back from either sense format.
#include <gtest/gtest.h>

#include "platform/device_events.h"
#include "platform/pass_through.h"

namespace raid {
namespace {

ReplyStatus Reply(uint8_t status, std::initializer_list<uint8_t> sense) {
  ReplyStatus r;
  r.scsiStatus = status;
  r.senseLength = static_cast<uint8_t>(sense.size());
  std::copy(sense.begin(), sense.end(), r.sense.begin());
  return r;
}

// Descriptor-format sense: RECOVERED ERROR 00/1D with an ATA Status Return
// descriptor (Error 0x00, Count 0x01, LBA 0x563412, Device 0xE0, Status 0x50).
const std::initializer_list<uint8_t> kSatDescriptorSense = {0x72, 0x01, 0x00, 0x1D, 0,    0,    0,    14,
                                                            0x09, 0x0C, 0x00, 0x00, 0x00, 0x01, 0x00, 0x12,
                                                            0x00, 0x34, 0x00, 0x56, 0xE0, 0x50};

TEST(PassThroughReply, GoodStatusSucceedsAndCheckConditionFailsWithItsSenseInTheText) {
  EXPECT_TRUE(PassThroughSucceeded(Reply(0x00, {}), false));
  // A bridge answering CHECK CONDITION with no data: a failed request, never
  // a zero-filled reply.
  const Outcome refused =
      PassThroughSucceeded(Reply(0x02, {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00}), false);
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.error(), "device refused the request (status 0x02, sense 05/24/00)");
  const Outcome noSense = PassThroughSucceeded(Reply(0x02, {}), false);
  EXPECT_FALSE(noSense);
  EXPECT_EQ(noSense.error(), "device refused the request (status 0x02)");
  EXPECT_FALSE(PassThroughSucceeded(Reply(0x08, {}), true));  // BUSY
}

TEST(PassThroughReply, AtaInformationAvailableIsSuccessOnlyForAtaPassThrough) {
  const ReplyStatus sat = Reply(0x02, kSatDescriptorSense);
  EXPECT_TRUE(PassThroughSucceeded(sat, true));
  EXPECT_FALSE(PassThroughSucceeded(sat, false));
  // The same in fixed format.
  const ReplyStatus fixed =
      Reply(0x02, {0x70, 0, 0x01, 0x00, 0x50, 0xE0, 0x01, 10, 0x00, 0x12, 0x34, 0x56, 0x00, 0x1D});
  EXPECT_TRUE(PassThroughSucceeded(fixed, true));
  // RECOVERED ERROR with another code, or another key with 00/1D, failed.
  EXPECT_FALSE(PassThroughSucceeded(Reply(0x02, {0x72, 0x01, 0x00, 0x1E, 0, 0, 0, 0}), true));
  EXPECT_FALSE(PassThroughSucceeded(Reply(0x02, {0x72, 0x04, 0x00, 0x1D, 0, 0, 0, 0}), true));
  // Sense cut short where the codes would be.
  EXPECT_FALSE(PassThroughSucceeded(Reply(0x02, {0x70, 0, 0x01}), true));
}

TEST(PassThroughReply, AtaOutputRegistersComeBackFromEitherSenseFormat) {
  AtaRegisters regs;
  const ReplyStatus sat = Reply(0x02, kSatDescriptorSense);
  ASSERT_TRUE(DecodeAtaOutputRegisters(sat.sense.data(), sat.senseLength, regs));
  EXPECT_EQ(regs, (AtaRegisters{0x00, 0x01, 0x12, 0x34, 0x56, 0xE0, 0x50}));

  const ReplyStatus fixed =
      Reply(0x02, {0x70, 0, 0x01, 0x04, 0x51, 0xA0, 0x02, 10, 0x00, 0x21, 0x43, 0x65, 0x00, 0x1D});
  ASSERT_TRUE(DecodeAtaOutputRegisters(fixed.sense.data(), fixed.senseLength, regs));
  EXPECT_EQ(regs, (AtaRegisters{0x04, 0x02, 0x21, 0x43, 0x65, 0xA0, 0x51}));

  // A descriptor list that claims more than the buffer holds, or holds no
  // ATA descriptor, gives no registers and reads nothing beyond the bytes.
  AtaRegisters untouched{1, 2, 3, 4, 5, 6, 7};
  const uint8_t lying[] = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 200, 0x09, 0x0C, 0, 0};
  EXPECT_FALSE(DecodeAtaOutputRegisters(lying, sizeof lying, untouched));
  const uint8_t other[] = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 4, 0x02, 0x02, 0, 0};
  EXPECT_FALSE(DecodeAtaOutputRegisters(other, sizeof other, untouched));
  EXPECT_EQ(untouched, (AtaRegisters{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_FALSE(DecodeAtaOutputRegisters(nullptr, 0, untouched));
}

TEST(PassThroughReply, AtaPassThrough16Cdb) {
  // IDENTIFY: PIO data-in, one block, length in the count field.
  EXPECT_EQ(EncodeAtaPassThrough16({0, 0, 0, 0, 0, 0xE0, 0xEC}, 1),
            (std::array<uint8_t, 16>{0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0}));
  // A 0x88 control: non-data, output registers asked for.
  EXPECT_EQ(EncodeAtaPassThrough16({0x01, 0, 0x00, 0x80, 0x07, 0xE0, 0x88}, 0),
            (std::array<uint8_t, 16>{0x85, 0x06, 0x20, 0, 0x01, 0, 0, 0, 0x00, 0, 0x80, 0, 0x07, 0xE0, 0x88, 0}));
}

TEST(DeviceChanges, OnlyWholeDisksArrivingOrLeavingCount) {
  EXPECT_TRUE(IsDiskArrivalOrRemoval("add", "disk"));
  EXPECT_TRUE(IsDiskArrivalOrRemoval("remove", "disk"));
  EXPECT_FALSE(IsDiskArrivalOrRemoval("change", "disk"));  // udev's watch rule after each close
  EXPECT_FALSE(IsDiskArrivalOrRemoval("add", "partition"));
  EXPECT_FALSE(IsDiskArrivalOrRemoval("", ""));
}

}  // namespace
}  // namespace raid
