#include "device/detection.h"

#include <cstring>

#include "device/record_layout.h"

namespace raid {

DriveDetector::DriveDetector(CommandSet& cs, DeviceIo& io, DetectionProgress& progress, DeviceState& st)
    : cs_(cs), io_(io), progress_(progress), st_(st) {}

bool DriveDetector::HasSignature(const uint8_t* s) {
  return s[ident::kSignature] == ident::kSig0 && s[ident::kSignature + 1] == ident::kSig1;
}

int DriveDetector::CountLetters() {
  uint32_t mask = io_.LogicalDriveMask() >> 2;  // bit 0 is now "C"
  int n = 0;
  for (char letter = 'C'; mask != 0 && letter <= 'Z'; ++letter, mask >>= 1) {
    progress_.BetweenRequests();
    if ((mask & 1) && n < kMaxLetters) DriveLetters[n++] = letter;
  }
  DriveLetters[n] = 0;
  LetterCount = static_cast<uint8_t>(n);
  return n;
}

int DriveDetector::CountPhysicalDrives() {
  int n = 0;
  for (uint8_t d = 0; d < kPhysicalDrives; ++d) {
    progress_.BetweenRequests();
    const Expected<DeviceHandleValue> h = io_.Open(d);
    if (!h) continue;
    ++n;
    io_.Close(*h);
  }
  return n;
}

void DriveDetector::FillVolumeTable() {
  for (int i = 0; i < LetterCount; ++i) {
    if (i >= kVolumeTableSize) {
      progress_.TooManyVolumes();
      return;
    }
    progress_.BetweenRequests();
    VolumeEntry& v = VolumeTable[i];
    v = VolumeEntry{};
    v.Letter = DriveLetters[i];
    v.DriveType = static_cast<uint8_t>(io_.DriveTypeOf(v.Letter));
    v.Name = io_.VolumeName(v.Letter);
    const Expected<DeviceHandleValue> h = io_.Open(static_cast<DeviceId>(v.Letter));
    if (!h) {
      v.DriveType = 255;
      continue;
    }
    if (const Expected<VolumeExtent> e = io_.DiskExtents(*h)) {
      v.DiskNumber = e->diskNumber;
      v.StartingOffset = e->startingOffset;
      v.ExtentLength = e->extentLength;
    }
    io_.Close(*h);
  }
}

bool DriveDetector::VendorTries(uint8_t k) {
  if (cs_.VendorCommand(16, IdentSector[k].data(), 0) && HasSignature(IdentSector[k].data())) return true;
  cs_.ScratchSector[0] = 0;
  // Only the first two bytes of the 0x78 query's reply are looked at.
  return cs_.VendorQuery(3, 2) && cs_.ScratchSector[0] == 0x50 && cs_.ScratchSector[1] == 0x8B;
}

uint32_t DriveDetector::Probe(uint8_t k) {
  uint32_t f = k;
  const DeviceHandleValue h = cs_.Handle();
  progress_.Probing(k);
  progress_.TryingMode(1);
  if (!cs_.ReadSectors(h, cmd::kIdentLba, IdentSector[k].data(), 1))
    progress_.IdentReadFailed();
  else if (HasSignature(IdentSector[k].data()))
    f |= drive_flags::kRead58;

  progress_.TryingMode(2);
  AtaRegisters regs{0, 0, 0, 0, 0, 0xE0, 0xEC};
  const bool identified = cs_.AtaCommand(h, regs, cs_.ScratchSector.data(), 1);
  if (cs_.TakeMemoryShort()) {
    DeviceResult memory = DeviceResult::Failed(DeviceFailure::Silent);
    memory.outOfMemory = true;
    progress_.Failed(memory);
  }
  if (identified && HasSignature(cs_.ScratchSector.data())) {
    f |= drive_flags::kAtaIdentify;
    // The controller's identification sector names the enclosure and its
    // firmware: keep it unless block 58 already gave it.
    if (!(f & drive_flags::kRead58)) IdentSector[k] = cs_.ScratchSector;
  }
  if (f & drive_flags::kIdentified) return f;

  if (!cs_.InquiryDevice(h, IdentSector[k].data()) || IdentSector[k][4] != 31) return f;
  cs_.CdbShift = 1;
  progress_.TryingMode(3);
  if (VendorTries(k)) return f | drive_flags::kVendor | drive_flags::kVendorShift;
  cs_.CdbShift = 0;
  progress_.TryingMode(4);
  if (VendorTries(k)) f |= drive_flags::kVendor;
  return f;
}

void DriveDetector::Group(uint8_t k, uint32_t f) {
  for (int g = 0; g < GroupCount; ++g) {
    const uint8_t d = drive_flags::Drive(GroupTable[g]);
    if (IdentSector[d] == IdentSector[k] && ScanStatusSector[d] == ScanStatusSector[k]) {
      if (GroupExtraCount[g] < kPhysicalDrives) GroupExtraMembers[g][GroupExtraCount[g]++] = k;
      if (FoundCount < kFoundListSize) FoundList[FoundCount++] = f;
      return;
    }
  }
  if (GroupCount < kGroupTableSize) {
    GroupExtraCount[GroupCount] = 0;
    GroupTable[GroupCount++] = f;
  }
  if (FoundCount < kFoundListSize) FoundList[FoundCount++] = f;
}

int DriveDetector::ScanDrives() {
  GroupCount = 0;
  FoundCount = 0;
  int opened = 0;
  for (auto& s : IdentSector) s.fill(0);
  for (uint8_t k = 0; k < kPhysicalDrives; ++k) {
    progress_.BetweenRequests();
    // A drive held by a running firmware upgrade or initialisation is not
    // opened; its entry is carried into the new result unchanged.
    if (!st_.FirstFill && LeasedSlot < kMaxSlots && drive_flags::Drive(st_.DeviceList[LeasedSlot]) == k) {
      const uint32_t held = st_.DeviceList[LeasedSlot];
      IdentSector[k] = PrevIdentSector[k];
      if (GroupCount < kGroupTableSize) {
        GroupExtraCount[GroupCount] = 0;
        GroupTable[GroupCount++] = held;
      }
      if (FoundCount < kFoundListSize) FoundList[FoundCount++] = held;
      if (++opened >= PhysicalDriveCount) break;
      continue;
    }
    if (cs_.OpenDevice(k) == kInvalidHandle) continue;
    const uint32_t f = Probe(k);
    cs_.CloseDevice();
    if (f & drive_flags::kIdentified) {
      if (const DeviceResult r = cs_.ReadStatusSector(f, ScanStatusSector[k].data()); !r) progress_.Failed(r);
      Group(k, f);
    }
    if (++opened >= PhysicalDriveCount) break;
  }
  return GroupCount;
}

void DriveDetector::Rescan() {
  FillVolumeTable();
  GroupCount = static_cast<uint8_t>(ScanDrives());
}

}  // namespace raid
