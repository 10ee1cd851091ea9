#include "device/detection_worker.h"

namespace raid {

DetectionWorker::DetectionWorker(DeviceIo& io, Clock& clock, DetectionProgress& progress)
    : io_(io), scanCs_(io, clock, scanState_), scanner_(scanCs_, io, progress, scanState_) {
  scanCs_.BetweenRequests = [&progress] { progress.BetweenRequests(); };
}

uint64_t DetectionWorker::Request(const DetectionInput& input) {
  std::lock_guard lock(mu_);
  waiting_ = input;
  result_.reset();
  pending_ = true;
  return ++latest_;
}

std::optional<DetectionResult> DetectionWorker::TakeResult() {
  std::lock_guard lock(mu_);
  if (!result_ || result_->Generation != latest_) return std::nullopt;
  std::optional<DetectionResult> r = std::move(result_);
  result_.reset();
  return r;
}

bool DetectionWorker::RunOnce() {
  DetectionInput in;
  uint64_t generation;
  {
    std::lock_guard lock(mu_);
    if (!waiting_) return false;
    in = *waiting_;
    waiting_.reset();
    generation = latest_;
  }
  // The scan's own view of the device table: it reads the status sector of
  // the drive it identifies, and leaves a held drive alone.
  scanState_.FirstFill = in.FirstFill ? 1 : 0;
  scanState_.DeviceList = in.DeviceList;
  scanState_.DeviceCount = 0;
  scanState_.Detecting = 1;
  scanner_.DriveLetters = in.DriveLetters;
  scanner_.LetterCount = in.LetterCount;
  scanner_.PhysicalDriveCount = in.PhysicalDriveCount;
  scanner_.PrevIdentSector = in.PrevIdentSector;
  scanner_.LeasedSlot = in.LeasedSlot;
  scanner_.Rescan();

  DetectionResult r;
  r.Generation = generation;
  r.Tables = scanner_;
  r.AccessProblem = io_.AccessProblem();
  std::lock_guard lock(mu_);
  // A newer request came in while this scan ran: its own scan follows, and
  // this result is of no use any more.
  if (generation != latest_) return true;
  result_ = std::move(r);
  pending_ = false;
  return true;
}

}  // namespace raid
