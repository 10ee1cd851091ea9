// The command ring of a TCMU user backstore (the kernel's SCSI target hands
// each command of a LUN to user space through it), read and written through
// a mapped region whose contents the kernel controls. Every offset and length
// read from it is checked against the region before use; fields are copied
// in and out (never a struct laid over the bytes), in the machine's own byte
// order as the kernel writes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/device_io.h"

namespace raid::realkernel {

// One entry of the ring as found at the tail.
struct TcmuEntry {
  enum class Kind { Pad, Command, TaskManagement, Unknown };
  Kind kind = Kind::Unknown;
  uint32_t offset = 0;  // within the ring
  uint32_t length = 0;  // bytes up to the next entry
  uint16_t commandId = 0;
  // Command: the CDB (as many bytes as its opcode group has, within the
  // region) and the data buffers as (region offset, length).
  std::vector<uint8_t> cdb;
  std::vector<std::pair<size_t, size_t>> buffers;
  // Task management: its type and the commands it names.
  uint8_t taskType = 0;
  std::vector<uint16_t> commandIds;
};

class TcmuRing {
 public:
  // `base` maps `size` bytes of the UIO device: mailbox, ring, data area.
  TcmuRing(uint8_t* base, size_t size);

  // Empty when the mailbox is usable; otherwise why not.
  std::string Check() const;
  bool Empty() const;
  // The entry at the tail, or at `offset` within the ring; nothing when the
  // entry is malformed (the ring cannot be walked past it).
  std::optional<TcmuEntry> Entry(uint32_t offset) const;
  uint32_t Tail() const;
  uint32_t Head() const;
  // The offset after an entry, wrapped at the ring's end.
  uint32_t After(const TcmuEntry& e) const;

  // Completes a command entry in place: status, sense and, when the kernel
  // takes it, the number of data-in bytes moved (so it reports a residue).
  void Complete(const TcmuEntry& e, uint8_t status, const uint8_t* sense, size_t senseLength, uint32_t moved);
  // Marks an entry of a kind this program does not know.
  void MarkUnknown(const TcmuEntry& e);
  // Moves the tail past an entry.
  void Advance(const TcmuEntry& e);

  // Gathers a command's data buffers into one; scatters one back.
  std::vector<uint8_t> Gather(const TcmuEntry& e) const;
  void Scatter(const TcmuEntry& e, const uint8_t* data, size_t length);
  size_t DataLength(const TcmuEntry& e) const;

 private:
  uint32_t Load32(size_t at) const;
  uint64_t Load64(size_t at) const;
  void Store32(size_t at, uint32_t v);
  bool Inside(uint64_t at, uint64_t length) const { return at <= size_ && length <= size_ - at; }

  uint8_t* base_;
  size_t size_;
};

// The length of a CDB by its opcode group, as the kernel's target core cuts
// it; 0 for a variable-length CDB whose length byte is not readable.
size_t CdbLengthOf(const uint8_t* cdb, size_t available);

}  // namespace raid::realkernel
