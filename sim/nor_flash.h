// An emulated SPI NOR flash. Erase sets a 4 KiB sector to 0xFF; programming
// can only clear bits, so a page programmed twice without an erase reads the
// AND of both. Per byte it records whether it was programmed and whether it
// was read back since, so a test can assert that every written byte was
// verified.
#pragma once

#include <cstdint>
#include <vector>

namespace raid::sim {

class NorFlash {
 public:
  static constexpr uint32_t kSize = 0x80000;
  static constexpr uint32_t kSectorSize = 4096;
  static constexpr uint32_t kPageSize = 256;

  NorFlash();

  // Erases the 4 KiB sector containing the address.
  void EraseSector(uint32_t address);
  // Programs bytes (AND with what is there). A program that crosses a page
  // boundary wraps within the page, as the part does.
  void Program(uint32_t address, const uint8_t* data, uint32_t n);
  // Reads bytes; addresses wrap at the end of the part. Marks programmed
  // bytes as read back.
  void Read(uint32_t address, uint8_t* out, uint32_t n);
  // Reads without marking anything (for the simulator's own use).
  uint8_t Peek(uint32_t address) const { return bytes_[address % kSize]; }
  void Fill(uint32_t address, const uint8_t* data, uint32_t n);  // factory content

  // Bytes programmed since their last erase and not read back since.
  uint32_t UnverifiedBytes() const;
  bool Programmed(uint32_t address) const { return programmed_[address % kSize]; }
  uint32_t EraseCount() const { return erases_; }

 private:
  std::vector<uint8_t> bytes_;
  std::vector<bool> programmed_;
  std::vector<bool> verified_;
  uint32_t erases_ = 0;
};

}  // namespace raid::sim
