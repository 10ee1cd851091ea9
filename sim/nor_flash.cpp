#include "sim/nor_flash.h"

namespace raid::sim {

NorFlash::NorFlash() : bytes_(kSize, 0xFF), programmed_(kSize, false), verified_(kSize, false) {}

void NorFlash::EraseSector(uint32_t address) {
  const uint32_t base = (address % kSize) & ~(kSectorSize - 1);
  for (uint32_t i = 0; i < kSectorSize; ++i) {
    bytes_[base + i] = 0xFF;
    programmed_[base + i] = false;
    verified_[base + i] = false;
  }
  ++erases_;
}

void NorFlash::Program(uint32_t address, const uint8_t* data, uint32_t n) {
  const uint32_t a = address % kSize;
  const uint32_t page = a & ~(kPageSize - 1);
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t at = page + ((a - page + i) % kPageSize);
    bytes_[at] &= data[i];
    programmed_[at] = true;
    verified_[at] = false;
  }
}

void NorFlash::Read(uint32_t address, uint8_t* out, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t at = (address + i) % kSize;
    out[i] = bytes_[at];
    if (programmed_[at]) verified_[at] = true;
  }
}

void NorFlash::Fill(uint32_t address, const uint8_t* data, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) bytes_[(address + i) % kSize] = data[i];
}

uint32_t NorFlash::UnverifiedBytes() const {
  uint32_t n = 0;
  for (uint32_t i = 0; i < kSize; ++i)
    if (programmed_[i] && !verified_[i]) ++n;
  return n;
}

}  // namespace raid::sim
