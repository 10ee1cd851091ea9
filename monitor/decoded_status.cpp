#include "monitor/decoded_status.h"

#include <cstring>

#include "device/record_layout.h"

namespace raid {

namespace {

// The configuration code, three characters such as "A12"; "C00" where the
// record holds none.
std::string ConfigCode(const Sector& s) {
  const auto c0 = s[status::kConfig], c1 = s[status::kConfig + 1], c2 = s[status::kConfig + 2];
  auto hexish = [](uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  if (c0 >= 'A' && c0 <= 'Z' && hexish(c1) && hexish(c2))
    return std::string{static_cast<char>(c0), static_cast<char>(c1), static_cast<char>(c2)};
  return "C00";
}

// The layout the decoder relies on: the two drives' fields sit side by side,
// and every field lies inside the 512-byte record.
constexpr size_t kRecordSize = std::tuple_size_v<Sector>;
static_assert(status::kHdd2Serial == status::kHdd1Serial + status::kSerialLen);
static_assert(status::kCapacity == status::kHdd2Serial + status::kSerialLen);
static_assert(status::kActivity == status::kState + 1 && status::kProgress == status::kActivity + 1);
static_assert(status::kHdd1Capacity == status::kHdd1Model + status::kModelLen);
static_assert(status::kHdd2Model == status::kHdd1Capacity + status::kDriveCapacityLen);
static_assert(status::kHdd2Capacity == status::kHdd2Model + status::kModelLen);
static_assert(status::kEnvironment == status::kHdd2Capacity + status::kDriveCapacityLen);
static_assert(status::kFanRpm == status::kEnvironment + 1 && status::kTemperature == status::kFanRpm + 2);
static_assert(status::kBadRing == status::kBadCount + 1);
static_assert(status::kBadRing + 4 * status::kBadRingEntries <= kRecordSize);
static_assert(status::kMemberModel + status::kModelLen <= status::kBadCount);
static_assert(status::kDriveCapacityLen <= 8 && status::kCapacityLen <= 8);
static_assert(status::kBadRingEntries == std::tuple_size_v<decltype(DecodedStatus::badSectorRing)>);

DecodedDrive Drive(const Sector& b, int x) {
  DecodedDrive d;
  const int shift = 4 * x;
  d.bits = static_cast<uint8_t>((b[status::kState] >> shift) & 0x0F);
  d.inserted = (d.bits & status::kInserted) != 0;
  d.present = (d.bits & status::kPresent) != 0;
  d.absent = (d.bits & status::kAbsent) != 0;
  d.failed = (d.bits & status::kFailed) != 0;
  d.state = d.absent     ? DriveState::Absent
            : d.present  ? DriveState::Present
            : d.failed   ? DriveState::Failed
            : d.inserted ? DriveState::Inserted
                         : DriveState::None;
  const size_t modelAt = x == 0 ? status::kHdd1Model : status::kHdd2Model;
  const size_t serialAt = x == 0 ? status::kHdd1Serial : status::kHdd2Serial;
  const size_t capAt = x == 0 ? status::kHdd1Capacity : status::kHdd2Capacity;
  d.model = AtaText(b, modelAt, status::kModelLen);
  d.modelText = ModelTrimmed(d.model);
  d.serial = AtaText(b, serialAt, status::kSerialLen);
  d.serialRecorded = !SerialEmpty(b, serialAt);
  d.sectors = Sectors40(b, capAt);
  d.fieldSectors = LoadLE(b, capAt, status::kDriveCapacityLen);
  d.linkSpeedCode = static_cast<uint8_t>((b[status::kLinkSpeed] >> shift) & 0x0F);
  d.linkSpeed = LinkSpeedText(d.linkSpeedCode);
  d.active = (b[status::kActivity] & (x == 0 ? status::kActHdd1 : status::kActHdd2)) != 0;
  d.badSectors = (b[status::kActivity] & (x == 0 ? status::kBadHdd1 : status::kBadHdd2)) != 0;
  return d;
}

}  // namespace

const char* DriveStateName(DriveState s) {
  switch (s) {
    case DriveState::Absent: return "absent";
    case DriveState::Present: return "present";
    case DriveState::Failed: return "failed";
    case DriveState::Inserted: return "inserted";
    case DriveState::None: break;
  }
  return "none";
}

const char* ArrayStateName(ArrayState a) {
  switch (a) {
    case ArrayState::Normal: return "Normal";
    case ArrayState::SingleDrive: return "Single HDD Present";
    case ArrayState::Failure: break;
  }
  return "Failure";
}

DecodedStatus DecodeStatus(const Sector& b, const FirmwareInfo& firmware) {
  DecodedStatus s;
  s.modeCode = b[status::kMode];
  s.mode = ModeName(s.modeCode);
  s.capacitySectors = Sectors40(b, status::kCapacity);
  s.configCode = ConfigCode(b);
  s.firmware = firmware.text + "." + s.configCode;
  s.stateByte = b[status::kState];
  for (int x = 0; x < 2; ++x) s.drives[static_cast<size_t>(x)] = Drive(b, x);
  s.memberModelText = ModelText(b, status::kMemberModel);
  const bool p1 = s.drives[0].present, p2 = s.drives[1].present;
  s.array = p1 && p2 ? ArrayState::Normal : (p1 || p2) ? ArrayState::SingleDrive : ArrayState::Failure;

  const uint8_t a = b[status::kActivity];
  DecodedActivity& act = s.activity;
  act.scanBit = (a & status::kActIsScan) != 0;
  act.matchedSsd = (a & status::kMatchedSsd) != 0;
  act.progress = b[status::kProgress];
  if (a & (status::kActHdd1 | status::kActHdd2)) {
    // A scan only where the firmware can scan; older firmware's bit 7 means
    // nothing and the activity is a rebuild.
    act.kind = firmware.scanCapable && act.scanBit ? ActivityKind::Scan : ActivityKind::Rebuild;
    act.drive = (a & status::kActHdd1) ? 0 : 1;
  }

  s.badSectorCount = b[status::kBadCount];
  for (size_t k = 0; k < s.badSectorRing.size(); ++k)
    s.badSectorRing[k] = static_cast<uint32_t>(LoadLE(b, status::kBadRing + 4 * k, 4));

  const uint8_t env = b[status::kEnvironment];
  DecodedEnvironment& e = s.environment;
  e.shown = firmware.fanCapable && (env >> 4) == 0xA && env != 0xAA;
  e.fanRpm = static_cast<unsigned>(LoadLE(b, status::kFanRpm, 2));
  e.celsius = b[status::kTemperature];
  e.fanAlarm = (env & 0x01) != 0;
  e.temperatureAlarm = (env & 0x04) != 0;

  const uint8_t options = b[status::kOptions];
  s.buzzerSounds = (options & 0x01) != 0;
  s.autoScan = (options & 0x02) != 0;
  s.scheduleOn = (options & status::kScheduleOn) != 0;
  s.schedulePeriod = b[status::kSchedulePeriod];
  return s;
}

uint8_t RecordStateByte(const Sector& record) { return record[status::kState]; }

void KeepIdentityOfLeftDrives(const Sector& previous, Sector& incoming) {
  const uint8_t diff = previous[status::kState] ^ incoming[status::kState];
  if ((diff & 0x02) && !(incoming[status::kState] & 0x02)) {
    std::memcpy(&incoming[status::kHdd1Model], &previous[status::kHdd1Model], 40);
    std::memcpy(&incoming[status::kHdd1Capacity], &previous[status::kHdd1Capacity], 6);
    std::memcpy(&incoming[status::kHdd1Serial], &previous[status::kHdd1Serial], 20);
  }
  if ((diff & 0x20) && !(incoming[status::kState] & 0x20)) {
    std::memcpy(&incoming[status::kHdd2Model], &previous[status::kHdd2Model], 40);
    std::memcpy(&incoming[status::kHdd2Capacity], &previous[status::kHdd2Capacity], 6);
    std::memcpy(&incoming[status::kHdd2Serial], &previous[status::kHdd2Serial], 20);
  }
}

}  // namespace raid
