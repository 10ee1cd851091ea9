#include "realkernel/scsi_answer.h"

#include <cstring>
#include <mutex>

#include "platform/clock.h"
#include "sim/scenario.h"
#include "sim/sim_device_io.h"

namespace raid::realkernel {
namespace {

ScsiReply Check(uint8_t key, uint8_t asc, uint8_t ascq) {
  ScsiReply r;
  r.status = 0x02;
  r.sense.assign(18, 0);
  r.sense[0] = 0x70;
  r.sense[2] = key;
  r.sense[7] = 10;
  r.sense[12] = asc;
  r.sense[13] = ascq;
  return r;
}

// The simulator's drive behind the kernel's housekeeping commands.
class SimAnswer final : public ScsiAnswer {
 public:
  SimAnswer(const std::string& path, int drive)
      : io_(clock_, path.empty() ? sim::DefaultScenario() : sim::LoadScenarioFile(path)), drive_(drive) {}

  ScsiReply Answer(const uint8_t* cdb, size_t cdbLength, DataDirection dir, uint8_t* data, uint32_t length) override {
    std::lock_guard lock(mu_);
    const DeviceHandleValue h = io_.Open(static_cast<DeviceId>(drive_));
    if (h == kInvalidHandle) return Check(0x02, 0x3A, 0x00);  // medium not present
    ScsiReply r;
    const uint8_t op = cdb[0];
    if (op == 0x00 || op == 0x35 || op == 0x1E) {
      // TEST UNIT READY, SYNCHRONIZE CACHE, PREVENT/ALLOW MEDIUM REMOVAL
    } else if (op == 0x25 && length >= 8) {
      // READ CAPACITY(10): 128 MiB of 512-byte blocks.
      const uint8_t cap[8] = {0x00, 0x03, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00};
      std::memcpy(data, cap, 8);
      r.moved = 8;
    } else if (op == 0x1A && length >= 4) {
      const uint8_t mode[4] = {3, 0, 0, 0};  // MODE SENSE(6): header only
      std::memcpy(data, mode, 4);
      r.moved = 4;
    } else if (op == 0x12 && (cdb[1] & 1)) {
      r = Check(0x05, 0x24, 0x00);  // no VPD pages
    } else {
      ScsiRequest req;
      std::memcpy(req.cdb.data(), cdb, cdbLength);
      req.cdbLength = static_cast<uint8_t>(cdbLength);
      req.direction = dir;
      req.transferLength = length;
      req.data = data;
      req.timeoutSeconds = 30;
      if (io_.Scsi(h, req)) {
        r.moved = req.transferred;
      } else {
        r = Check(0x05, 0x20, 0x00);
      }
    }
    io_.Close(h);
    return r;
  }

  bool Plugged() override {
    std::lock_guard lock(mu_);
    io_.Pump();
    const DeviceHandleValue h = io_.Open(static_cast<DeviceId>(drive_));
    if (h == kInvalidHandle) return false;
    io_.Close(h);
    return true;
  }

 private:
  SystemClock clock_;
  std::mutex mu_;
  sim::SimDeviceIo io_;
  int drive_;
};

}  // namespace

std::unique_ptr<ScsiAnswer> MakeScsiAnswer(const std::string& scenarioPath, int drive) {
  return std::make_unique<SimAnswer>(scenarioPath, drive);
}

}  // namespace raid::realkernel
