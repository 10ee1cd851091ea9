// The firmware image builder: the entry table of the "Make Bin" form (a boot
// loader and up to ten sub-codes), the rules for reading the form's numbers
// and the code type in a file name, and the assembly of an image with its
// configuration block. Plain functions and one class over bytes and the
// image reader interface, so the window, raidctl, the tests and the fuzzer
// all build images through the same code.
//
// Image layout (numbers little-endian; C is the configuration offset read
// from bytes 16..18 of the boot loader):
//   0              the boot loader, byte for byte
//   0x8000..C+0xFF filler bytes from the builder's generator, except where
//                  sub-codes and the configuration block are written
//   0xC000 * j     sub-code j (j = 1..n), each in its own 0xC000-byte slot
//   C              the 256-byte configuration block
//   everything else (also C + 0x100 .. C + 0x7FFF) 0xFF, as erased flash
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "maintenance/firmware_image.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/user_interface.h"
#include "platform/outcome.h"

namespace raid {

namespace builder_text {
inline constexpr const char* kCaption = "Make Bin";
inline constexpr const char* kBootLoaderName = "SPIHEAD.BIN";
inline constexpr const char* kFileOpenFailed = "Fail to open firmware file";
inline constexpr const char* kReadFailed = "Error read from Source file. ByteCount = ";
inline constexpr const char* kReadFailedCaption = "GetASPISupportInfo:";
inline constexpr const char* kCreateFailed = "Fail to create file";
inline constexpr const char* kSaved = "Svae File OK :";
inline constexpr const char* kAutoSize = "Bin Size Auto-detected";
}  // namespace builder_text

constexpr uint32_t kSlotSize = 0xC000;     // one sub-code slot, and the longest input file
constexpr int kMaxSubCodes = 10;           // directory entries in the configuration block
constexpr uint32_t kFillerStart = 0x8000;  // the filler runs from here to C + 0xFF
constexpr uint32_t kConfigBlockSize = 0x100;
constexpr uint32_t kConfigTail = 0x8000;            // C + 0x8000 is the automatic image size
constexpr uint32_t kUpgradeConfigOffset = 0x78000;  // the only C the Upgrade page accepts
constexpr uint32_t kBootLoaderHeader = 19;          // bytes 16..18 hold C

// The fixed image sizes of the "  Bin Size  " group.
constexpr std::array<uint32_t, 4> kImageSizes = {0x20000, 0x40000, 0x80000, 0x100000};
constexpr std::array<const char*, 4> kImageSizeNames = {"1M Bits", "2M Bits", "4M Bits", "8M Bits"};

// Offsets inside the configuration block.
namespace config_block {
constexpr uint32_t kVersion = 1;
constexpr uint32_t kDirectory = 2;  // 10 entries of 5 bytes
constexpr uint32_t kDirectoryEntry = 5;
constexpr uint32_t kEndOffset = 52;
constexpr uint32_t kMark3F = 55;
constexpr uint32_t kJumper = 56;
constexpr uint32_t kZeroFrom = 58, kZeroTo = 128;
constexpr uint32_t kChip = 107;
constexpr uint32_t kSupported = 108;
constexpr uint32_t kFanLimit = 109;
constexpr uint32_t kThermalLimit = 111;
constexpr uint32_t kFunctions = 113;
constexpr uint32_t kName = 114;  // "TORVEX" and a zero byte
constexpr uint32_t kChecksum = 254;
}  // namespace config_block

// The number rule of the form: the text is upper-cased; a last character
// "H" makes the characters before it hexadecimal, otherwise the text is
// decimal. Blanks around the text are ignored. An empty text, a character
// that is no digit of the number's base and a value above max are refused
// with the error saying which.
Expected<uint32_t> ReadNumberText(std::string_view text, uint32_t max);

// Upper-cased name without its folder.
std::string UpperFileName(const std::string& path);
// The file chosen is the boot loader ("SPIHEAD.BIN" in any case).
bool IsBootLoaderName(const std::string& path);
// The code type a sub-code file's name gives: the two characters just before
// the first "." read as hexadecimal digits, high digit first. A first
// character that is no hexadecimal digit (or is missing) makes the high digit
// 0; a second one that is not makes the whole code type 0, as does a name
// without ".".
uint8_t CodeTypeFromName(const std::string& path);
// The save rule: an extension is replaced by ".bin", a name without one gets
// ".bin" appended; the rest of the name is kept whole.
std::string BinFileName(const std::string& chosen);
// Two upper-case hexadecimal digits.
std::string HexByteText(uint8_t v);

// The filler generator: state := state * 22695477 + 1 (32 bits), each value
// is bits 16..30 of the state and each filler byte its low 8 bits.
class FillerGenerator {
 public:
  explicit FillerGenerator(uint32_t seed = 0) : state_(seed) {}
  void Seed(uint32_t seed) { state_ = seed; }
  uint32_t State() const { return state_; }
  uint32_t Next() {
    state_ = state_ * 22695477u + 1u;
    return (state_ >> 16) & 0x7FFF;
  }
  uint8_t NextByte() { return static_cast<uint8_t>(Next()); }

 private:
  uint32_t state_;
};
// A seed from the time of day, for a generator seeded when the form is made.
uint32_t SeedFromTime(const LocalDateTime& t);

// One entry of the table: entry 0 is the boot loader, 1..10 the sub-codes.
struct BuilderEntry {
  std::string path;  // full path; empty: no file
  uint8_t codeType = 0;
  uint8_t updateFlag = 0;  // 1: update this sub-code (0x5A), 0: keep it (0x00)
};

// The "Setting" page and the size choice of the "Make" page, as typed.
struct BuilderSettings {
  bool autoSize = true;
  int sizeChoice = -1;  // index into kImageSizes; -1 when no radio button is chosen
  bool jumper = true;   // "RAID Mode setting by  jumper"
  bool chip = true;     // "KX5080A chip"
  std::string fanSupported = "1";
  std::string fanLimit = "2000";
  std::string thermalSupported = "1";
  std::string thermalLimit = "50";
  bool scheduleBackup = false;
  bool fastBackup = false;
};

// The numeric fields, for messages that name them.
enum class BuilderField { None, FanSupported, FanLimit, ThermalSupported, ThermalLimit, Size };
std::string FieldName(BuilderField f);

// Makes a reader for one input file (a new one per file).
using ReaderFactory = std::function<std::unique_ptr<ImageReader>()>;

struct BuildResult {
  bool ok = false;
  std::vector<uint8_t> image;
  bool configKnown = false;  // C could be read
  uint32_t configOffset = 0;
  uint32_t size = 0;  // 0 until the size is known
  // Said but not refused: the image builds, yet the Upgrade page will not
  // take it.
  std::vector<std::string> warnings;
  bool passesUpgradeCheck = false;
  // Why nothing was built; detail names the file concerned, if any.
  MessageBoxRequest error;
  std::string detail;
  BuilderField field = BuilderField::None;  // a setting was at fault
};

class ImageBuilder {
 public:
  const BuilderEntry& Entry(int index) const { return entries_[static_cast<size_t>(index)]; }
  int SubCodeCount() const { return count_; }
  bool HasEntry(int index) const { return index == 0 ? !entries_[0].path.empty() : index >= 1 && index <= count_; }

  // "Add Sub-code" with the files chosen, in the dialog's order. A file named
  // "SPIHEAD.BIN" becomes the boot loader (the later of two wins); any other
  // becomes the next sub-code with update flag 1 and the code type of its
  // name. Files beyond the tenth sub-code are not added; the text returned
  // then says which (empty when all were taken).
  std::string AddFiles(const std::vector<std::string>& paths);
  void SetBootLoader(const std::string& path) { entries_[0].path = path; }
  // False (and nothing added) when ten sub-codes are there already.
  bool AddSubCode(const std::string& path, uint8_t codeType, uint8_t updateFlag);
  static std::string TooManyText(const std::string& path);

  // The Delete key: entry 0 forgets the boot loader; a sub-code is removed
  // and the later ones move up. "+" / "-": a sub-code swaps with the one
  // above / below. Nothing ever moves into or out of entry 0. False when
  // nothing changed.
  bool DeleteEntry(int index);
  bool MoveUp(int index);
  bool MoveDown(int index);
  // In-cell edits of a sub-code (entries 1..n). The code type is read by the
  // number rule, 0 to 0xFE (0xFF marks an unused directory entry).
  // Fails with the reason (none when there is no such sub-code).
  Outcome SetCodeType(int index, const std::string& text);
  bool SetUpdateFlag(int index, bool update);

  // StringGrid1: 12 rows, 4 columns; row 0 and column 0 are the titles.
  static constexpr int kRows = 12, kColumns = 4;
  std::string CellText(int row, int col) const;
  // Status panel 2 and 3 texts for a selected cell.
  std::string SelectedEntryText(int row) const;
  std::string SelectedDetailText(int row, int col) const;

  // "Save Bin": the assembly steps in order, after every input was checked;
  // on any refusal nothing is built and the generator is left as it was.
  BuildResult Assemble(const BuilderSettings& settings, FillerGenerator& filler, const ReaderFactory& readers) const;

 private:
  std::array<BuilderEntry, kMaxSubCodes + 1> entries_{};
  int count_ = 0;
};

// Writes the image to path whole, through a new file renamed over the old
// one, so a failed save leaves no half-written image behind.
Outcome SaveImageFile(const std::string& path, std::span<const uint8_t> image);

}  // namespace raid
