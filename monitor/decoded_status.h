// The controller status record decoded in one place. Every view (the Status
// page, the device report, event detection, the status JSON and check, the
// console status line, the tray's health) reads this value instead of byte
// offsets, so they cannot disagree about what a record says.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "monitor/status_record.h"
#include "platform/bytes.h"

namespace raid {

// A drive's state as the views name it: the first of its bits that is set,
// tested in the order absent, present, failed, inserted.
enum class DriveState { None, Inserted, Failed, Present, Absent };
// From the two present bits: both, one or none.
enum class ArrayState { Normal, SingleDrive, Failure };
enum class ActivityKind { None, Rebuild, Scan };

struct DecodedDrive {
  // The drive's four state bits, each on its own (a record may set several).
  bool inserted = false, present = false, absent = false, failed = false;
  DriveState state = DriveState::None;
  uint8_t bits = 0;             // the drive's nibble of the state byte
  std::string model;            // 40 characters as recorded (trailing blanks stay)
  std::string modelText;        // trailing blanks removed, never below six characters
  std::string serial;           // 20 characters as recorded
  bool serialRecorded = false;  // the serial field does not start with NUL
  uint64_t sectors = 0;         // the low five bytes of the capacity field, as shown in GB
  uint64_t fieldSectors = 0;    // the whole six-byte capacity field
  uint8_t linkSpeedCode = 0;
  std::string linkSpeed;    // "", "1.5G", "3G", "6G"
  bool active = false;      // the activity bit of this drive's side
  bool badSectors = false;  // the controller flags bad sectors on this drive
};

struct DecodedActivity {
  ActivityKind kind = ActivityKind::None;
  // The drive the activity works on: a scan's drive, a rebuild's target.
  int drive = 0;
  uint8_t progress = 0;     // percent, as recorded
  bool scanBit = false;     // the record's scan bit, whatever the firmware can do
  bool matchedSsd = false;  // a matched replacement SSD was inserted
  bool Running() const { return kind != ActivityKind::None; }
  // A percentage the record can hold but no activity can reach (over 100)
  // is shown as recorded, and published to programs as unknown.
  bool ProgressKnown() const { return progress <= 100; }
};

struct DecodedEnvironment {
  // Fan and temperature are shown only when the firmware reports them and
  // the record marks them valid.
  bool shown = false;
  unsigned fanRpm = 0;
  unsigned celsius = 0;
  bool fanAlarm = false;
  bool temperatureAlarm = false;
};

struct DecodedStatus {
  uint8_t modeCode = 0;
  std::string mode;  // "Mirroring(RAID1)", ... "Undefine"
  uint64_t capacitySectors = 0;
  std::string configCode;  // "C00" unless the record holds a valid one
  std::string firmware;    // revision + "." + configuration code
  uint8_t stateByte = 0;   // both drives' state bits
  ArrayState array = ArrayState::Failure;
  std::array<DecodedDrive, 2> drives;
  // The model shown for another member of a grouped enclosure (trailing
  // blanks removed, never below six characters).
  std::string memberModelText;
  DecodedActivity activity;
  uint8_t badSectorCount = 0;                // bad sectors found so far (wraps at 256)
  std::array<uint32_t, 10> badSectorRing{};  // entry k % 10 holds the k-th bad sector's LBA
  DecodedEnvironment environment;
  bool buzzerSounds = false;
  bool autoScan = false;
  bool scheduleOn = false;
  uint8_t schedulePeriod = 0;  // minutes between schedule backups
};

// record: a status record as accepted by the poll; firmware: the revision and
// capabilities of the enclosure's identification sector (ReadFirmware).
DecodedStatus DecodeStatus(const Sector& record, const FirmwareInfo& firmware);

// What the poll's acceptance rule reads and edits of a new record, here so
// that the record's layout is read in this one place. The drive state byte
// (0: the controller had no state to give, the record is refused unless
// the slot's activity was never logged)...
uint8_t RecordStateByte(const Sector& record);
// ...and the identity a drive keeps when it leaves the array: a drive whose
// present bit was set in `previous` and is clear in `incoming` keeps its
// model, capacity and serial number from `previous`.
void KeepIdentityOfLeftDrives(const Sector& previous, Sector& incoming);

// "HDD1" or "HDD2".
inline const char* DriveName(int drive) { return drive == 0 ? "HDD1" : "HDD2"; }
// "absent", "present", "failed", "inserted", "none".
const char* DriveStateName(DriveState s);
// "Normal", "Single HDD Present", "Failure" (the texts of the status JSON and
// the console; the Status page breaks the middle one over two lines).
const char* ArrayStateName(ArrayState a);

}  // namespace raid
