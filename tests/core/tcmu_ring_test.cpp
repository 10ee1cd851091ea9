// The TCMU command ring as the kernel lays it out: commands are read with
// their CDB and buffers, answered in place and passed; and whatever bytes
// the mapping holds, the reader never reaches outside it.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "realkernel/tcmu_ring.h"

namespace raid::realkernel {
namespace {

// A mapping as the kernel makes it: the mailbox, a 4 KiB ring from offset
// 128, the data area behind it; with guard bytes on both sides that nothing
// may touch.
struct Mapping {
  static constexpr size_t kGuard = 256;
  static constexpr uint32_t kRingOff = 128;
  static constexpr uint32_t kRingSize = 4096;
  static constexpr size_t kSize = 16384;

  Mapping() : bytes(kGuard + kSize + kGuard, 0xEE) {
    std::memset(Base(), 0, kSize);
    Put16(0, 2);          // version
    Put16(2, 1u << 1);    // the kernel takes a read length
    Put32(4, kRingOff);   // ring offset
    Put32(8, kRingSize);  // ring size
  }
  uint8_t* Base() { return bytes.data() + kGuard; }
  void Put16(size_t at, uint16_t v) { std::memcpy(Base() + at, &v, 2); }
  void Put32(size_t at, uint32_t v) { std::memcpy(Base() + at, &v, 4); }
  void Put64(size_t at, uint64_t v) { std::memcpy(Base() + at, &v, 8); }
  uint32_t Get32(size_t at) {
    uint32_t v;
    std::memcpy(&v, Base() + at, 4);
    return v;
  }
  // A command entry at ring offset `at`: its CDB at `cdbAt`, one buffer.
  uint32_t Command(uint32_t at, uint16_t id, const std::vector<uint8_t>& cdb, uint64_t bufferAt, uint64_t length) {
    const uint32_t entry = 112 + 16;  // header and response area, one iovec
    const size_t p = kRingOff + at;
    Put32(p, entry | 1);
    Put16(p + 4, id);
    Put32(p + 8, 1);  // one buffer
    const uint64_t cdbAt = 8192 + at;
    Put64(p + 24, cdbAt);
    std::memcpy(Base() + cdbAt, cdb.data(), cdb.size());
    Put64(p + 48, bufferAt);
    Put64(p + 56, length);
    return entry;
  }
  bool GuardsIntact() const {
    for (size_t i = 0; i < kGuard; ++i)
      if (bytes[i] != 0xEE || bytes[bytes.size() - 1 - i] != 0xEE) return false;
    return true;
  }
  std::vector<uint8_t> bytes;
};

TEST(TcmuRing, CommandsAreReadAnsweredInPlaceAndPassedWithPaddingAndAbortsBetween) {
  Mapping m;
  // A padding entry to the ring's end would come last; here: a command, a
  // padding entry, an abort naming the command, a second command.
  uint32_t at = 0;
  const uint32_t first = m.Command(at, 7, {0x12, 0, 0, 0, 36, 0, 0xAA, 0xAA, 0xAA, 0xAA}, 12288, 36);
  at += first;
  m.Put32(Mapping::kRingOff + at, 64 | 0);  // padding
  at += 64;
  m.Put32(Mapping::kRingOff + at, 48 | 2);  // task management: abort of command 7
  m.Base()[Mapping::kRingOff + at + 8] = 1;
  m.Put32(Mapping::kRingOff + at + 12, 1);
  m.Put16(Mapping::kRingOff + at + 32, 7);
  at += 48;
  const uint32_t second = m.Command(at, 8, {0xFE, 0x8B, 0, 0, 0, 0, 0, 0, 0, 0, 0xBB}, 12800, 512);
  at += second;
  m.Put32(12, at);  // head

  TcmuRing ring(m.Base(), Mapping::kSize);
  ASSERT_EQ(ring.Check(), "");
  auto e = ring.Entry(ring.Tail());
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, TcmuEntry::Kind::Command);
  EXPECT_EQ(e->commandId, 7);
  // INQUIRY is a 6-byte command: nothing after its group's length is read.
  EXPECT_EQ(e->cdb, (std::vector<uint8_t>{0x12, 0, 0, 0, 36, 0}));
  EXPECT_EQ(ring.DataLength(*e), 36u);
  const uint8_t reply[36] = {0, 0, 5, 2, 31};
  ring.Scatter(*e, reply, 20);
  const uint8_t sense[18] = {0x70, 0, 5, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24};
  ring.Complete(*e, 2, sense, sizeof sense, 20);
  EXPECT_EQ(m.Base()[Mapping::kRingOff + 8], 2);           // status
  EXPECT_EQ(m.Base()[Mapping::kRingOff + 16 + 12], 0x24);  // sense in place
  EXPECT_EQ(m.Get32(Mapping::kRingOff + 12), 20u);         // bytes moved
  EXPECT_EQ(m.Base()[Mapping::kRingOff + 7] & 0x2, 0x2);   // ... and said so
  EXPECT_EQ(std::memcmp(m.Base() + 12288, reply, 20), 0);
  EXPECT_EQ(m.Base()[12288 + 20], 0);  // nothing past what was moved
  ring.Advance(*e);
  EXPECT_EQ(ring.Tail(), first);

  e = ring.Entry(ring.Tail());
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, TcmuEntry::Kind::Pad);
  ring.Advance(*e);
  e = ring.Entry(ring.Tail());
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, TcmuEntry::Kind::TaskManagement);
  EXPECT_EQ(e->commandIds, std::vector<uint16_t>{7});
  ring.Advance(*e);
  e = ring.Entry(ring.Tail());
  ASSERT_TRUE(e);
  EXPECT_EQ(e->cdb.size(), 10u);  // vendor group: ten bytes
  ring.Advance(*e);
  EXPECT_TRUE(ring.Empty());
  EXPECT_TRUE(m.GuardsIntact());
}

TEST(TcmuRing, WhateverTheMappingHoldsNothingOutsideItIsReadOrWritten) {
  std::mt19937 rng(5);
  int commands = 0;
  for (int round = 0; round < 3000; ++round) {
    Mapping m;
    TcmuRing ring(m.Base(), Mapping::kSize);
    // A well-formed command, then random damage to the mailbox, the entry
    // and its buffer list.
    m.Command(0, 1, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 12288, 512);
    m.Put32(12, 128);
    for (int k = rng() % 12; k > 0; --k) {
      const size_t at = rng() % 3 ? Mapping::kRingOff + rng() % 128 : rng() % 16;
      m.Base()[at] = static_cast<uint8_t>(rng() % 2 ? rng() : 0xFF);
    }
    if (!ring.Check().empty()) continue;
    for (uint32_t at = ring.Tail(), n = 0; n < 8 && at != ring.Head(); ++n) {
      const auto e = ring.Entry(at);
      if (!e) break;
      for (const auto& [offset, length] : e->buffers) ASSERT_LE(offset + length, Mapping::kSize);
      if (e->kind == TcmuEntry::Kind::Command) {
        ++commands;
        std::vector<uint8_t> data = ring.Gather(*e);
        ASSERT_EQ(data.size(), ring.DataLength(*e));
        ring.Scatter(*e, data.data(), data.size());
        const uint8_t sense[96] = {0x70};
        ring.Complete(*e, 0, sense, sizeof sense, static_cast<uint32_t>(data.size()));
      }
      ring.Advance(*e);
      at = ring.After(*e);
    }
    ASSERT_TRUE(m.GuardsIntact()) << round;
  }
  EXPECT_GT(commands, 100);
}

}  // namespace
}  // namespace raid::realkernel
