// The smallest device there is: block-command enclosures on drives
// 0 .. drives-1 that answer at once, block 58 with `ident` and every other
// read with `status`. For benchmarks and fuzzers, where the simulator's
// bookkeeping would only get in the way. A benchmark may answer more
// requests by overriding Scsi and leaving the rest to this one.
#pragma once

#include <cstring>

#include "platform/bytes.h"
#include "platform/device_io.h"

namespace raid::sim {

class InstantDevice : public DeviceIo {
 public:
  explicit InstantDevice(int drives = 1) : drives_(drives) {}

  Sector ident{};
  Sector status{};

  Expected<DeviceHandleValue> Open(DeviceId id) override {
    if (id >= drives_) return Expected<DeviceHandleValue>::Fail("no such device");
    return DeviceHandleValue{id + 1};
  }
  void Close(DeviceHandleValue) override {}
  Outcome Scsi(DeviceHandleValue h, ScsiRequest& r) override {
    if (r.cdb[0] != 0x28 || !r.data || r.transferLength != 512) return Outcome::Fail("not understood");
    const auto lba = static_cast<uint32_t>(LoadBE(std::span<const uint8_t>(r.cdb.data(), 16), 2, 4));
    std::memcpy(r.data, lba == 58 ? ident.data() : status.data(), 512);
    // Several drives must not look like one enclosure seen twice.
    if (drives_ > 1 && lba != 58) r.data[0] = static_cast<uint8_t>(h);
    r.transferred = 512;
    return Outcome::Ok();
  }
  Outcome Ata(DeviceHandleValue, AtaRegisters&, uint8_t*, uint32_t, ReplyStatus&) override {
    return Outcome::Fail("no ATA");
  }
  Outcome RescanBus(DeviceHandleValue) override { return Outcome::Ok(); }
  Expected<VolumeExtent> DiskExtents(DeviceHandleValue) override { return Expected<VolumeExtent>::Fail("no volume"); }
  uint32_t LogicalDriveMask() override { return 0; }
  unsigned DriveTypeOf(char) override { return kDriveNoRootDir; }

 private:
  int drives_;
};

}  // namespace raid::sim
