// Device I/O on Linux through the SCSI generic pass-through (SG_IO).
//
// Physical drive numbers 0-9 are the whole disks of /sys/block in a stable
// order: SCSI disks (sd*) first, then the others, each group in natural name
// order (sda, sdb, ..., sdz, sdaa). Loop, RAM, device-mapper, md and optical
// devices are left out. Drive letters are given to the mounted block
// devices, from "C" on, in the order of /proc/self/mounts; the mount point
// stands where a letter is shown.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/device_events.h"
#include "platform/device_io.h"

namespace raid {

class LinuxDeviceIo final : public DeviceIo {
 public:
  LinuxDeviceIo();
  Expected<DeviceHandleValue> Open(DeviceId id) override;
  void Close(DeviceHandleValue h) override;
  Outcome Scsi(DeviceHandleValue h, ScsiRequest& req) override;
  Outcome Ata(DeviceHandleValue h, AtaRegisters& regs, uint8_t* data, uint32_t sectors, ReplyStatus& status) override;
  Outcome RescanBus(DeviceHandleValue h) override;
  Expected<VolumeExtent> DiskExtents(DeviceHandleValue h) override;
  uint32_t LogicalDriveMask() override;
  unsigned DriveTypeOf(char letter) override;
  std::string VolumeName(char letter) override;
  std::string AccessProblem() const override;

  // The disks in drive-number order (exposed for the docs and tests).
  static std::vector<std::string> ListDisks(const std::string& sysBlock = "/sys/block");
  static bool NaturalLess(const std::string& a, const std::string& b);

 private:
  struct Volume {
    char letter;
    std::string device;  // e.g. sdb1
    std::string mountPoint;
  };
  void Refresh();
  Outcome Transfer(DeviceHandleValue h, ScsiRequest& req, bool ataPassThrough);
  const Volume* FindVolume(char letter) const;
  // The failure of a system call on `what`; a refusal for lack of rights is
  // also kept as the access problem (mu_ held).
  Outcome Failed(const std::string& what, int err);

  mutable std::mutex mu_;
  std::vector<std::string> disks_;
  std::vector<Volume> volumes_;
  struct OpenFile {
    int fd;
    std::string device;
  };
  std::vector<std::pair<DeviceHandleValue, OpenFile>> open_;
  std::string accessProblem_;
};

// Block-device arrival and removal from a udev monitor.
class UdevDeviceChanges final : public DeviceChangeSource {
 public:
  ~UdevDeviceChanges() override;
  bool Start(std::function<void()> onChange) override;
  void Stop() override;

 private:
  struct Impl;
  Impl* impl_ = nullptr;
};

}  // namespace raid
