// Device I/O on Windows: CreateFileA on "\\.\X:" and "\\.\PhysicalDriveN"
// and DeviceIoControl with the SCSI and IDE pass-through, bus rescan and
// volume disk-extents requests. Data travels in page-aligned buffers.
#pragma once

#include <functional>
#include <string>
#include <thread>

#include "platform/device_events.h"
#include "platform/device_io.h"

namespace raid {

class WindowsDeviceIo final : public DeviceIo {
 public:
  Expected<DeviceHandleValue> Open(DeviceId id) override;
  void Close(DeviceHandleValue h) override;
  Outcome Scsi(DeviceHandleValue h, ScsiRequest& req) override;
  Outcome Ata(DeviceHandleValue h, AtaRegisters& regs, uint8_t* data, uint32_t sectors, ReplyStatus& status) override;
  Outcome RescanBus(DeviceHandleValue h) override;
  Expected<VolumeExtent> DiskExtents(DeviceHandleValue h) override;
  uint32_t LogicalDriveMask() override;
  unsigned DriveTypeOf(char letter) override;
  std::string AccessProblem() const override { return accessProblem_; }

 private:
  // The failure of the system call `what` (GetLastError); a refusal for
  // lack of rights is also kept as the access problem.
  Outcome Failed(const char* what);
  std::string accessProblem_;
};

// Registers a window for arrival and removal notifications of USB device
// interfaces; the window then receives WM_DEVICECHANGE.
bool RegisterUsbDeviceNotifications(void* windowHandle);

// The same notifications for a program without a window (raidmon): a
// message-only window on a thread of its own; the callback runs on that
// thread for every arrival and removal.
class WindowsDeviceChanges final : public DeviceChangeSource {
 public:
  ~WindowsDeviceChanges() override;
  bool Start(std::function<void()> onChange) override;
  void Stop() override;

 private:
  std::function<void()> onChange_;
  std::thread thread_;
  unsigned long threadId_ = 0;
};

}  // namespace raid
