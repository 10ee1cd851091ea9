// The simulated machine behind the device I/O interface: ten physical drive
// numbers, each empty, an ordinary disk or an enclosure, the volumes lying on
// them, a timeline applied as the program's clock passes, injected faults and
// an optional trace of every request.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/device_events.h"
#include "platform/device_io.h"
#include "sim/enclosure.h"
#include "sim/scenario.h"

namespace raid::sim {

class SimDeviceIo final : public DeviceIo, public DeviceChangeSource {
 public:
  SimDeviceIo(Clock& clock, const ScenarioSpec& scenario);

  // DeviceIo
  Expected<DeviceHandleValue> Open(DeviceId id) override;
  void Close(DeviceHandleValue h) override;
  Outcome Scsi(DeviceHandleValue h, ScsiRequest& req) override;
  Outcome Ata(DeviceHandleValue h, AtaRegisters& regs, uint8_t* data, uint32_t sectors, ReplyStatus& status) override;
  Outcome RescanBus(DeviceHandleValue h) override;
  Expected<VolumeExtent> DiskExtents(DeviceHandleValue h) override;
  uint32_t LogicalDriveMask() override;
  unsigned DriveTypeOf(char letter) override;
  std::string VolumeName(char letter) override;

  // DeviceChangeSource: plug and unplug events of the timeline call back.
  bool Start(std::function<void()> onChange) override;
  void Stop() override;

  // Applies the timeline events that are due by the clock.
  void Pump();
  // Seconds of scenario time so far.
  double Elapsed() const;
  // The clock's MonotonicMs at which the next timeline event is due;
  // INT64_MAX when the timeline is over.
  int64_t NextEventMs() const;

  // One text line per request (docs/simulator.md).
  void SetTrace(std::ostream* out);

  // For tests and scenario building.
  Enclosure* FindEnclosure(const std::string& name);
  void SetPlugged(const std::string& name, bool plugged);
  void AddFault(const FaultSpec& f);
  void SetDisk(int drive, const DiskSpec& d);
  size_t OpenHandles() const;
  // Whether a drive number opens now (an enclosure's drives go with its
  // plug state), after the timeline events that are due.
  bool DrivePresent(int drive);
  // Whether the last SCSI or ATA request met a "hang" fault: it failed
  // because it was never answered, not because the device refused it.
  bool LastRequestHung() const;
  // Letters set beyond the scenario's volumes (for enumeration edge cases).
  void SetExtraLetterMask(uint32_t mask) { extraMask_ = mask; }

 private:
  struct OpenTarget {
    int drive = -1;   // physical drive the handle reaches
    char letter = 0;  // set when opened by letter
  };
  struct Fault {
    FaultSpec rule;  // what the scenario asked for
    int seen = 0;
    int used = 0;
  };
  struct EnclosureState {
    std::unique_ptr<Enclosure> enclosure;
    bool plugged = true;
  };

  Enclosure* EnclosureOf(int drive);
  bool DriveAvailable(int drive);
  const VolumeSpec* Volume(char letter) const;
  Fault* MatchFault(const std::string& kind, int drive);
  void PumpLocked(std::vector<std::function<void()>>& notify);
  void Trace(const std::string& who, const std::string& what, DataDirection dir, uint32_t length, bool ok);
  std::string Who(const OpenTarget& t) const;
  bool FinishScsi(const OpenTarget& t, ScsiRequest& req, Fault* fault, bool ok, int64_t cost);

  Clock& clock_;
  int64_t startMs_;
  mutable std::mutex mu_;
  std::map<std::string, EnclosureState> enclosures_;
  DiskSpec disks_[10];
  std::vector<VolumeSpec> volumes_;
  std::vector<TimelineEvent> events_;
  size_t nextEvent_ = 0;
  std::vector<Fault> faults_;
  DeviceTiming timing_;
  std::mt19937 rng_;
  std::map<DeviceHandleValue, OpenTarget> handles_;
  DeviceHandleValue nextHandle_ = 100;
  std::ostream* trace_ = nullptr;
  std::function<void()> onChange_;
  uint32_t extraMask_ = 0;
  bool lastHung_ = false;
};

}  // namespace raid::sim
