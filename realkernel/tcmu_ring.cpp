#include "realkernel/tcmu_ring.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace raid::realkernel {

namespace {
// The ring's layout (linux/target_core_user.h, mailbox version 2), as byte
// offsets. That header cannot be included in C++ (its inline helpers convert
// integers to an enum, and its iovec clashes with the C library's).
constexpr uint16_t kMailboxVersion = 2;
constexpr size_t kMbFlags = 2;  // u16
constexpr size_t kMbCmdrOff = 4;
constexpr size_t kMbCmdrSize = 8;
constexpr size_t kMbHead = 12;
constexpr size_t kMbTail = 64;  // on a cache line of its own
constexpr size_t kMbSize = 128;
constexpr uint16_t kCapReadLen = 1 << 1;

constexpr size_t kHdrLenOp = 0;  // u32: length (8-byte multiple) | opcode in the low 3 bits
constexpr size_t kHdrCmdId = 4;  // u16
constexpr size_t kHdrUflags = 7;
constexpr size_t kHdrSize = 8;
constexpr uint32_t kOpMask = 0x7;
constexpr uint32_t kOpPad = 0, kOpCmd = 1, kOpTmr = 2;
constexpr uint8_t kUflagUnknownOp = 0x1;
constexpr uint8_t kUflagReadLen = 0x2;

constexpr size_t kReqIovCnt = 8;  // u32
constexpr size_t kReqBidiCnt = 12;
constexpr size_t kReqCdbOff = 24;  // u64
constexpr size_t kReqIov = 48;     // iovec[]: u64 base (an offset in the mapping), u64 length
constexpr size_t kIovSize = 16;
constexpr size_t kIovBase = 0;
constexpr size_t kIovLen = 8;
constexpr size_t kRspStatus = 8;
constexpr size_t kRspReadLen = 12;  // u32
constexpr size_t kRspSense = 16;
constexpr size_t kSenseSize = 96;
constexpr size_t kCmdEntrySize = 112;

constexpr size_t kTmrType = 8;
constexpr size_t kTmrCount = 12;  // u32
constexpr size_t kTmrIds = 32;    // u16[]

// More buffers than this in one command is not a command the kernel made.
constexpr uint32_t kMaxBuffers = 4096;
}  // namespace

size_t CdbLengthOf(const uint8_t* cdb, size_t available) {
  if (!cdb || available == 0) return 0;
  static constexpr size_t kGroup[8] = {6, 10, 10, 12, 16, 12, 10, 10};
  if (cdb[0] == 0x7F) {  // variable length: 8 + additional length (byte 7)
    if (available < 8) return 0;
    return std::min<size_t>(8u + cdb[7], available);
  }
  return std::min(kGroup[cdb[0] >> 5], available);
}

TcmuRing::TcmuRing(uint8_t* base, size_t size) : base_(base), size_(size) {}

uint32_t TcmuRing::Load32(size_t at) const {
  uint32_t v = 0;
  if (Inside(at, 4)) std::memcpy(&v, base_ + at, 4);
  return v;
}

uint64_t TcmuRing::Load64(size_t at) const {
  uint64_t v = 0;
  if (Inside(at, 8)) std::memcpy(&v, base_ + at, 8);
  return v;
}

void TcmuRing::Store32(size_t at, uint32_t v) {
  if (Inside(at, 4)) std::memcpy(base_ + at, &v, 4);
}

std::string TcmuRing::Check() const {
  if (!base_ || size_ < kMbSize) return "mapping smaller than the mailbox";
  uint16_t version = 0;
  std::memcpy(&version, base_, 2);
  if (version != kMailboxVersion) return "mailbox version " + std::to_string(version);
  const uint32_t off = Load32(kMbCmdrOff), ringSize = Load32(kMbCmdrSize);
  if (off < kMbSize || ringSize == 0 || !Inside(off, ringSize)) return "command ring outside the mapping";
  return {};
}

uint32_t TcmuRing::Head() const {
  const uint32_t head = Load32(kMbHead);
  __atomic_thread_fence(__ATOMIC_ACQUIRE);  // the entries up to the head are read after it
  return head;
}
uint32_t TcmuRing::Tail() const { return Load32(kMbTail); }
bool TcmuRing::Empty() const { return Head() == Tail(); }

uint32_t TcmuRing::After(const TcmuEntry& e) const {
  const uint32_t ringSize = Load32(kMbCmdrSize);
  return ringSize ? static_cast<uint32_t>((uint64_t{e.offset} + e.length) % ringSize) : 0;
}

std::optional<TcmuEntry> TcmuRing::Entry(uint32_t offset) const {
  const uint32_t ringOff = Load32(kMbCmdrOff), ringSize = Load32(kMbCmdrSize);
  if (offset >= ringSize || !Inside(uint64_t{ringOff} + offset, kHdrSize)) return std::nullopt;
  const size_t at = ringOff + offset;
  TcmuEntry e;
  e.offset = offset;
  const uint32_t lenOp = Load32(at + kHdrLenOp);
  e.length = lenOp & ~kOpMask;
  // An entry never wraps around the ring's end; a zero length would never
  // move the tail.
  if (e.length < kHdrSize || e.length > ringSize - offset) return std::nullopt;
  std::memcpy(&e.commandId, base_ + at + kHdrCmdId, 2);
  switch (lenOp & kOpMask) {
    case kOpPad: e.kind = TcmuEntry::Kind::Pad; return e;
    case kOpCmd: {
      e.kind = TcmuEntry::Kind::Command;
      if (e.length < kCmdEntrySize) return std::nullopt;
      const uint32_t iovs = Load32(at + kReqIovCnt);
      const uint32_t bidi = Load32(at + kReqBidiCnt);
      if (iovs > kMaxBuffers || bidi > kMaxBuffers) return std::nullopt;
      // Data-in and data-out buffers first, then the bidirectional ones
      // (never asked for here; they are left alone).
      if (kReqIov + uint64_t{iovs} * kIovSize > e.length) return std::nullopt;
      for (uint32_t i = 0; i < iovs; ++i) {
        const size_t v = at + kReqIov + i * kIovSize;
        const uint64_t base = Load64(v + kIovBase), length = Load64(v + kIovLen);
        if (!Inside(base, length)) return std::nullopt;
        e.buffers.emplace_back(static_cast<size_t>(base), static_cast<size_t>(length));
      }
      const uint64_t cdbOff = Load64(at + kReqCdbOff);
      if (cdbOff >= size_) return std::nullopt;
      const size_t n = CdbLengthOf(base_ + cdbOff, std::min<size_t>(16, size_ - cdbOff));
      if (n == 0) return std::nullopt;
      e.cdb.assign(base_ + cdbOff, base_ + cdbOff + n);
      return e;
    }
    case kOpTmr: {
      e.kind = TcmuEntry::Kind::TaskManagement;
      if (e.length < kTmrIds) return std::nullopt;
      e.taskType = base_[at + kTmrType];
      const uint32_t count = Load32(at + kTmrCount);
      if (kTmrIds + uint64_t{count} * 2 > e.length) return std::nullopt;
      for (uint32_t i = 0; i < count; ++i) {
        uint16_t id = 0;
        std::memcpy(&id, base_ + at + kTmrIds + i * 2, 2);
        e.commandIds.push_back(id);
      }
      return e;
    }
    default: e.kind = TcmuEntry::Kind::Unknown; return e;
  }
}

size_t TcmuRing::DataLength(const TcmuEntry& e) const {
  size_t n = 0;
  for (const auto& b : e.buffers) n += b.second;
  return n;
}

std::vector<uint8_t> TcmuRing::Gather(const TcmuEntry& e) const {
  std::vector<uint8_t> out;
  out.reserve(DataLength(e));
  for (const auto& [at, length] : e.buffers)
    if (Inside(at, length)) out.insert(out.end(), base_ + at, base_ + at + length);
  return out;
}

void TcmuRing::Scatter(const TcmuEntry& e, const uint8_t* data, size_t length) {
  size_t done = 0;
  for (const auto& [at, size] : e.buffers) {
    if (done >= length) break;
    const size_t n = std::min(size, length - done);
    if (Inside(at, n)) std::memcpy(base_ + at, data + done, n);
    done += n;
  }
}

void TcmuRing::Complete(const TcmuEntry& e, uint8_t status, const uint8_t* sense, size_t senseLength, uint32_t moved) {
  const size_t at = Load32(kMbCmdrOff) + size_t{e.offset};
  if (!Inside(at, kCmdEntrySize)) return;
  base_[at + kRspStatus] = status;
  std::memset(base_ + at + kRspSense, 0, kSenseSize);
  if (sense && senseLength) std::memcpy(base_ + at + kRspSense, sense, std::min<size_t>(senseLength, kSenseSize));
  uint16_t flags = 0;
  std::memcpy(&flags, base_ + kMbFlags, 2);
  if (flags & kCapReadLen) {
    Store32(at + kRspReadLen, moved);
    base_[at + kHdrUflags] |= kUflagReadLen;
  }
}

void TcmuRing::MarkUnknown(const TcmuEntry& e) {
  const size_t at = Load32(kMbCmdrOff) + size_t{e.offset};
  if (Inside(at, kHdrSize)) base_[at + kHdrUflags] |= kUflagUnknownOp;
}

void TcmuRing::Advance(const TcmuEntry& e) {
  __atomic_thread_fence(__ATOMIC_RELEASE);  // the answer is written before the tail moves
  Store32(kMbTail, After(e));
}

}  // namespace raid::realkernel
