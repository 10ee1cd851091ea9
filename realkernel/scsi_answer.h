// What answers the gadget's SCSI commands: the simulated machine's drive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "realkernel/bulk_only.h"

namespace raid::realkernel {

class ScsiAnswer {
 public:
  virtual ~ScsiAnswer() = default;
  virtual ScsiReply Answer(const uint8_t* cdb, size_t cdbLength, DataDirection dir, uint8_t* data, uint32_t length) = 0;
  // Whether the simulated drive is plugged now (the scenario's timeline runs
  // on the real clock from the answerer's start).
  virtual bool Plugged() = 0;
};

// The answerer for one physical drive of a scenario file.
std::unique_ptr<ScsiAnswer> MakeScsiAnswer(const std::string& scenarioPath, int drive);

}  // namespace raid::realkernel
