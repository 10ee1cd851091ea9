// The lease a long operation (firmware upgrade, initialisation) holds on its
// enclosure. The main thread takes it when the operation starts, names the
// slot it works on once that is chosen, and releases it when the object goes
// out of scope. The poller and detection only ask: while a lease is taken the
// poller reads no enclosure, and the leased slot's drive is neither read nor
// reopened by anyone but the operation, which addresses it through Slot().
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace raid {

constexpr uint16_t kNoOperationSlot = 256;

class OperationLease;

// Who holds the enclosures for a long operation; one per device table.
class LeaseRegister {
 public:
  // Main thread: starts an operation. A lease already taken is not shared:
  // the returned lease is empty then.
  OperationLease Take();

  // Whether an operation runs (any thread).
  bool Taken() const { return taken_.load() != 0; }
  // The slot the running operation works on, kNoOperationSlot before it
  // names one and when none runs.
  uint16_t HeldSlot() const { return slot_.load(); }
  bool HoldsSlot() const { return HeldSlot() != kNoOperationSlot; }
  bool Holds(uint16_t slot) const { return HoldsSlot() && HeldSlot() == slot; }

  // A new start of the program forgets any lease.
  void Reset() {
    slot_ = kNoOperationSlot;
    taken_ = 0;
  }

 private:
  friend class OperationLease;
  std::atomic<uint8_t> taken_{0};
  std::atomic<uint16_t> slot_{kNoOperationSlot};
};

class OperationLease {
 public:
  OperationLease() = default;
  OperationLease(const OperationLease&) = delete;
  OperationLease& operator=(const OperationLease&) = delete;
  OperationLease(OperationLease&& o) noexcept : reg_(std::exchange(o.reg_, nullptr)) {}
  OperationLease& operator=(OperationLease&& o) noexcept {
    if (this != &o) {
      Release();
      reg_ = std::exchange(o.reg_, nullptr);
    }
    return *this;
  }
  ~OperationLease() { Release(); }

  explicit operator bool() const { return reg_ != nullptr; }
  // Names the enclosure the operation works on.
  void Hold(uint8_t slot) {
    if (reg_) reg_->slot_ = slot;
  }
  // The held slot, kNoOperationSlot before Hold.
  uint16_t Slot() const { return reg_ ? reg_->HeldSlot() : kNoOperationSlot; }
  void Release() {
    if (!reg_) return;
    reg_->slot_ = kNoOperationSlot;
    reg_->taken_ = 0;
    reg_ = nullptr;
  }

 private:
  friend class LeaseRegister;
  explicit OperationLease(LeaseRegister& reg) : reg_(&reg) {}
  LeaseRegister* reg_ = nullptr;
};

inline OperationLease LeaseRegister::Take() {
  uint8_t expected = 0;
  if (!taken_.compare_exchange_strong(expected, 1)) return {};
  return OperationLease(*this);
}

}  // namespace raid
