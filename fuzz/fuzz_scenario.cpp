// Scenario files are user input: any bytes give a scenario or a
// ScenarioError, never a crash or another exception.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    raid::sim::ParseScenario(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const raid::sim::ScenarioError&) {
  }
  return 0;
}
