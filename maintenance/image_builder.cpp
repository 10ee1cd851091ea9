#include "maintenance/image_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace raid {

namespace {

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%X", static_cast<unsigned>(v));
  return b;
}

std::string FileNameOf(const std::string& path) {
  // Both separators: a Windows path read on any system names the same file.
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

MessageBoxRequest ErrorBox(const std::string& text, const std::string& caption = "Error") {
  return {text, caption, BoxIcon::Error, BoxButtons::Ok};
}

// One input file read whole, with a bounded number of tries of a failing read.
struct InputFile {
  enum class Outcome { Read, OpenFailed, TooLong, ReadFailed };
  Outcome outcome = Outcome::OpenFailed;
  uint64_t length = 0;
  uint64_t failedOffset = 0;
  std::vector<uint8_t> bytes;
};

InputFile ReadInput(const ReaderFactory& readers, const std::string& path) {
  InputFile f;
  std::unique_ptr<ImageReader> reader = readers ? readers() : nullptr;
  if (!reader || path.empty() || !reader->Open(path) || !reader->Length(f.length)) return f;
  if (f.length > kSlotSize) {
    f.outcome = InputFile::Outcome::TooLong;
    return f;
  }
  f.bytes.resize(static_cast<size_t>(f.length));
  uint64_t at = 0;
  int failures = 0;
  while (at < f.length) {
    const size_t want = static_cast<size_t>(f.length - at);
    const size_t got = std::min(want, reader->ReadAt(at, f.bytes.data() + at, want));
    at += got;
    if (got == want) break;
    // The byte at `at` would not read: it is tried again, a bounded number
    // of times; bytes that did arrive count as progress.
    failures = got > 0 ? 1 : failures + 1;
    if (failures >= kImageReadAttempts) {
      f.outcome = InputFile::Outcome::ReadFailed;
      f.failedOffset = at;
      f.bytes.clear();
      return f;
    }
  }
  f.outcome = InputFile::Outcome::Read;
  return f;
}

// The refusal for an input file that could not be had, or false when it was read.
bool RefuseInput(const InputFile& f, const std::string& what, const std::string& path, BuildResult& r) {
  using O = InputFile::Outcome;
  r.detail = path;
  switch (f.outcome) {
    case O::Read: r.detail.clear(); return false;
    case O::OpenFailed: r.error = ErrorBox(builder_text::kFileOpenFailed); return true;
    case O::TooLong:
      r.error = ErrorBox("The " + what + " " + path + " is " + std::to_string(f.length) +
                         " bytes long; a boot loader or sub-code has at most " + std::to_string(kSlotSize) +
                         " bytes (0xC000), the size of one slot.");
      return true;
    case O::ReadFailed:
      r.error = ErrorBox(builder_text::kReadFailed + std::to_string(f.failedOffset), builder_text::kReadFailedCaption);
      return true;
  }
  return true;
}

struct NumericField {
  BuilderField field;
  const std::string BuilderSettings::*text;
  uint32_t max;
};

}  // namespace

Expected<uint32_t> ReadNumberText(std::string_view text, uint32_t max) {
  using Result = Expected<uint32_t>;
  std::string t = Trim(text);
  for (char& c : t) c = Upper(c);
  const std::string shown = "\"" + std::string(Trim(text)) + "\"";
  const char* kind = "type a decimal number, or a hexadecimal one ending in \"h\"";
  if (t.empty()) return Result::Fail("is empty: " + std::string(kind));
  const bool hex = t.back() == 'H';
  if (hex) t.pop_back();
  if (t.empty()) return Result::Fail(shown + " has no digits before \"h\"");
  uint64_t v = 0;
  for (char c : t) {
    const int d = hex ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (d < 0) return Result::Fail(shown + " is not a number: " + kind);
    v = v * (hex ? 16 : 10) + static_cast<unsigned>(d);
    if (v > max) return Result::Fail(shown + " is larger than " + std::to_string(max));
  }
  return static_cast<uint32_t>(v);
}

std::string UpperFileName(const std::string& path) {
  std::string n = FileNameOf(path);
  for (char& c : n) c = Upper(c);
  return n;
}

bool IsBootLoaderName(const std::string& path) { return UpperFileName(path) == builder_text::kBootLoaderName; }

uint8_t CodeTypeFromName(const std::string& path) {
  const std::string n = UpperFileName(path);
  const size_t dot = n.find('.');
  if (dot == std::string::npos || dot == 0) return 0;
  const int low = HexDigit(n[dot - 1]);
  if (low < 0) return 0;
  const int high = dot >= 2 ? HexDigit(n[dot - 2]) : -1;
  return static_cast<uint8_t>((high < 0 ? 0 : high) << 4 | low);
}

std::string BinFileName(const std::string& chosen) {
  std::filesystem::path p(chosen);
  p.replace_extension(".bin");
  return p.string();
}

std::string HexByteText(uint8_t v) {
  char b[4];
  std::snprintf(b, sizeof b, "%02X", static_cast<unsigned>(v));
  return b;
}

uint32_t SeedFromTime(const LocalDateTime& t) {
  // Seconds since the start of the year and the milliseconds: a different
  // seed for every start of the form.
  const uint32_t days = static_cast<uint32_t>(t.month) * 31u + static_cast<uint32_t>(t.day);
  const uint32_t seconds =
      ((days * 24u + static_cast<uint32_t>(t.hour)) * 60u + static_cast<uint32_t>(t.minute)) * 60u +
      static_cast<uint32_t>(t.second);
  return (static_cast<uint32_t>(t.year) * 40000000u + seconds) * 1000u + static_cast<uint32_t>(t.millisecond);
}

std::string FieldName(BuilderField f) {
  switch (f) {
    case BuilderField::FanSupported: return "FAN \"Supported:\"";
    case BuilderField::FanLimit: return "FAN \"Alarm Limit:\"";
    case BuilderField::ThermalSupported: return "Thermal sensor \"Supported:\"";
    case BuilderField::ThermalLimit: return "Thermal sensor \"Alarm Limit:\"";
    case BuilderField::Size: return "Bin Size";
    case BuilderField::None: break;
  }
  return "";
}

// --- The entry table ------------------------------------------------------

std::string ImageBuilder::TooManyText(const std::string& path) {
  return "An image holds at most " + std::to_string(kMaxSubCodes) + " sub-codes: " + path + " was not added.";
}

bool ImageBuilder::AddSubCode(const std::string& path, uint8_t codeType, uint8_t updateFlag) {
  if (count_ >= kMaxSubCodes) return false;
  ++count_;
  entries_[static_cast<size_t>(count_)] = {path, codeType, static_cast<uint8_t>(updateFlag ? 1 : 0)};
  return true;
}

std::string ImageBuilder::AddFiles(const std::vector<std::string>& paths) {
  std::vector<std::string> left;
  for (const auto& p : paths) {
    if (IsBootLoaderName(p))
      SetBootLoader(p);
    else if (!AddSubCode(p, CodeTypeFromName(p), 1))
      left.push_back(p);
  }
  if (left.empty()) return "";
  if (left.size() == 1) return TooManyText(left[0]);
  std::string text = "An image holds at most " + std::to_string(kMaxSubCodes) + " sub-codes; these " +
                     std::to_string(left.size()) + " files were not added:";
  for (const auto& p : left) text += "\n" + p;
  return text;
}

bool ImageBuilder::DeleteEntry(int index) {
  if (index == 0) {
    if (entries_[0].path.empty()) return false;
    entries_[0] = {};
    return true;
  }
  if (index < 1 || index > count_) return false;
  for (int i = index; i < count_; ++i) entries_[static_cast<size_t>(i)] = entries_[static_cast<size_t>(i + 1)];
  entries_[static_cast<size_t>(count_)] = {};
  --count_;
  return true;
}

bool ImageBuilder::MoveUp(int index) {
  if (index < 2 || index > count_) return false;
  std::swap(entries_[static_cast<size_t>(index)], entries_[static_cast<size_t>(index - 1)]);
  return true;
}

bool ImageBuilder::MoveDown(int index) {
  if (index < 1 || index >= count_) return false;
  std::swap(entries_[static_cast<size_t>(index)], entries_[static_cast<size_t>(index + 1)]);
  return true;
}

Outcome ImageBuilder::SetCodeType(int index, const std::string& text) {
  if (index < 1 || index > count_) return Outcome::Fail({});
  const Expected<uint32_t> v = ReadNumberText(text, 0xFF);
  if (!v) return Outcome::Fail("Code Type: " + v.error());
  if (*v == 0xFF)
    return Outcome::Fail("Code Type: FFh marks an unused directory entry; give the sub-code another code type");
  entries_[static_cast<size_t>(index)].codeType = static_cast<uint8_t>(*v);
  return Outcome::Ok();
}

bool ImageBuilder::SetUpdateFlag(int index, bool update) {
  if (index < 1 || index > count_) return false;
  entries_[static_cast<size_t>(index)].updateFlag = update ? 1 : 0;
  return true;
}

std::string ImageBuilder::CellText(int row, int col) const {
  if (row < 0 || row >= kRows || col < 0 || col >= kColumns) return "";
  if (row == 0) {
    static const char* const titles[kColumns] = {"", "Subcode file", "Code Type", "Update Flag"};
    return titles[col];
  }
  if (col == 0) return row == 1 ? "Boot Loader" : "SubCode-" + std::to_string(row - 2);
  const int index = row - 1;
  if (!HasEntry(index)) return "";
  const BuilderEntry& e = Entry(index);
  if (col == 1) return FileNameOf(e.path);
  if (index == 0) return "";
  if (col == 2) return HexByteText(e.codeType) + "h";
  return e.updateFlag ? "TRUE" : "FALSE";
}

std::string ImageBuilder::SelectedEntryText(int row) const { return row >= 1 ? std::to_string(row - 1) : ""; }

std::string ImageBuilder::SelectedDetailText(int row, int col) const {
  const int index = row - 1;
  if (row < 1 || row >= kRows || !HasEntry(index)) return "";
  const BuilderEntry& e = Entry(index);
  if (col == 1) return e.path;
  if (col == 2) return HexByteText(e.codeType);
  if (col == 3) return e.updateFlag ? "1" : "0";
  return "";
}

// --- The assembly -----------------------------------------------------------

BuildResult ImageBuilder::Assemble(const BuilderSettings& s, FillerGenerator& filler,
                                   const ReaderFactory& readers) const {
  BuildResult r;
  namespace cb = config_block;

  // The settings first: a field that cannot be read names itself.
  static const NumericField kFields[] = {
      {BuilderField::FanSupported, &BuilderSettings::fanSupported, 15},
      {BuilderField::FanLimit, &BuilderSettings::fanLimit, 0xFFFF},
      {BuilderField::ThermalSupported, &BuilderSettings::thermalSupported, 15},
      {BuilderField::ThermalLimit, &BuilderSettings::thermalLimit, 0xFF},
  };
  uint32_t values[4] = {};
  for (size_t i = 0; i < 4; ++i) {
    const Expected<uint32_t> v = ReadNumberText(s.*(kFields[i].text), kFields[i].max);
    if (!v) {
      r.field = kFields[i].field;
      r.error = ErrorBox(FieldName(r.field) + ": " + v.error() + ".");
      return r;
    }
    values[i] = *v;
  }
  const auto [fanSupported, fanLimit, thermalSupported, thermalLimit] = values;
  if (!s.autoSize && (s.sizeChoice < 0 || s.sizeChoice >= static_cast<int>(kImageSizes.size()))) {
    r.field = BuilderField::Size;
    r.error = ErrorBox("Choose a bin size (1M, 2M, 4M or 8M Bits), or check \"" + std::string(builder_text::kAutoSize) +
                       "\".");
    return r;
  }

  // 1. The function flags of the two check boxes.
  uint8_t functions = static_cast<uint8_t>((s.scheduleBackup ? 0x80 : 0) | (s.fastBackup ? 0x40 : 0));

  // 2. The boot loader and C.
  const BuilderEntry& boot = entries_[0];
  if (boot.path.empty()) {
    r.error = ErrorBox("No boot loader: add the file " + std::string(builder_text::kBootLoaderName) +
                       " with \"Add Sub-code\".");
    return r;
  }
  const InputFile bootFile = ReadInput(readers, boot.path);
  if (RefuseInput(bootFile, "boot loader", boot.path, r)) return r;
  if (bootFile.bytes.size() < kBootLoaderHeader) {
    r.detail = boot.path;
    r.error = ErrorBox("The boot loader " + boot.path + " is " + std::to_string(bootFile.bytes.size()) +
                       " bytes long: too short to hold the configuration offset in its bytes 16 to 18.");
    return r;
  }
  const uint32_t c = bootFile.bytes[16] | bootFile.bytes[17] << 8 | bootFile.bytes[18] << 16;
  r.configKnown = true;
  r.configOffset = c;

  // The configuration block lies beyond the boot loader's slot and every
  // sub-code's slot: nothing it holds may be overwritten, and it may
  // overwrite nothing.
  if (c < kSlotSize) {
    r.error =
        ErrorBox("The boot loader puts the configuration block at " + Hex(c) + ", inside its own slot (below 0xC000).");
    return r;
  }
  if (count_ > 0 && kSlotSize * static_cast<uint32_t>(count_ + 1) > c) {
    const uint32_t fit = c / kSlotSize - 1;
    const int j = static_cast<int>(fit) + 1;
    r.error = ErrorBox("The slot of sub-code " + std::to_string(j) + " (" + Hex(kSlotSize * static_cast<uint32_t>(j)) +
                       " to " + Hex(kSlotSize * static_cast<uint32_t>(j + 1) - 1) +
                       ") reaches into the configuration block at " + Hex(c) + ": with this boot loader at most " +
                       std::to_string(fit) + " sub-codes fit.");
    return r;
  }

  // 3. The image size.
  const uint64_t needed = uint64_t{c} + kConfigTail;
  if (s.autoSize) {
    if (needed > kImageSizes.back()) {
      r.error = ErrorBox("The configuration block at " + Hex(c) + " needs an image of " + std::to_string(needed) +
                         " bytes; the largest image is 8M Bits (" + std::to_string(kImageSizes.back()) + " bytes).");
      return r;
    }
    r.size = static_cast<uint32_t>(needed);
  } else {
    r.size = kImageSizes[static_cast<size_t>(s.sizeChoice)];
    if (r.size < needed) {
      r.field = BuilderField::Size;
      r.error = ErrorBox("An image of " + std::string(kImageSizeNames[static_cast<size_t>(s.sizeChoice)]) + " (" +
                         std::to_string(r.size) + " bytes) is too small for the configuration block at " + Hex(c) +
                         ": it needs at least " + std::to_string(needed) + " bytes. Choose a larger size or \"" +
                         builder_text::kAutoSize + "\".");
      return r;
    }
  }

  // Every sub-code is read and checked before anything is built.
  std::vector<InputFile> subs;
  for (int j = 1; j <= count_; ++j) {
    const BuilderEntry& e = entries_[static_cast<size_t>(j)];
    if (e.codeType == 0xFF) {
      r.error = ErrorBox("Sub-code " + std::to_string(j) + " (" + FileNameOf(e.path) +
                         ") has code type FFh, which marks an unused directory entry: give it another code type.");
      return r;
    }
    subs.push_back(ReadInput(readers, e.path));
    if (RefuseInput(subs.back(), "sub-code", e.path, r)) return r;
  }

  if (c != kUpgradeConfigOffset)
    r.warnings.push_back("The boot loader puts the configuration block at " + Hex(c) +
                         ", not at 0x78000: the Upgrade page will refuse this image.");
  if (std::memcmp(bootFile.bytes.data(), "FIPS", 4) != 0)
    r.warnings.push_back("The boot loader does not start with \"FIPS\": the Upgrade page will refuse this image.");

  // Bytes no step sets stay as erased flash.
  std::vector<uint8_t> img(r.size, 0xFF);
  // 4. Filler from 0x8000 to C + 0xFF.
  for (uint32_t a = kFillerStart; a < c + kConfigBlockSize; ++a) img[a] = filler.NextByte();
  // 5. The rest of the configuration sector is erased flash.
  std::fill(img.begin() + c + kConfigBlockSize, img.begin() + c + kConfigTail, uint8_t{0xFF});
  uint8_t* block = img.data() + c;
  // 6. Every directory entry starts unused.
  for (uint32_t i = 0; i < kMaxSubCodes; ++i) block[cb::kDirectory + cb::kDirectoryEntry * i] = 0xFF;
  // 7. The boot loader at 0.
  std::copy(bootFile.bytes.begin(), bootFile.bytes.end(), img.begin());
  // 8. The block's version.
  block[0] = 0x00;
  block[cb::kVersion] = kImageConfigVersion;
  // 9. The sub-codes in their slots and the directory.
  uint32_t slot = kSlotSize;
  for (int j = 1; j <= count_; ++j) {
    const BuilderEntry& e = entries_[static_cast<size_t>(j)];
    const auto& bytes = subs[static_cast<size_t>(j - 1)].bytes;
    std::copy(bytes.begin(), bytes.end(), img.begin() + slot);
    uint8_t* d = block + cb::kDirectory + cb::kDirectoryEntry * static_cast<uint32_t>(j - 1);
    d[0] = e.codeType;
    d[1] = static_cast<uint8_t>(slot);
    d[2] = static_cast<uint8_t>(slot >> 8);
    d[3] = static_cast<uint8_t>(slot >> 16);
    d[4] = e.updateFlag ? 0x5A : 0x00;
    const unsigned k = e.codeType & 0x0F;
    if (k < 4) functions = static_cast<uint8_t>(functions | 1u << k);
    slot += kSlotSize;
  }
  // 10. The settings.
  block[cb::kEndOffset] = static_cast<uint8_t>(slot);
  block[cb::kEndOffset + 1] = static_cast<uint8_t>(slot >> 8);
  block[cb::kEndOffset + 2] = static_cast<uint8_t>(slot >> 16);
  block[cb::kMark3F] = 0x3F;
  block[cb::kJumper] = s.jumper ? 0xF1 : 0x11;
  block[cb::kJumper + 1] = s.jumper ? 0xFF : 0x3F;
  std::fill(block + cb::kZeroFrom, block + cb::kZeroTo, uint8_t{0});
  block[cb::kChip] = s.chip ? 0x80 : 0x85;
  block[cb::kSupported] = static_cast<uint8_t>(thermalSupported << 4 | fanSupported);
  block[cb::kFanLimit] = static_cast<uint8_t>(fanLimit);
  block[cb::kFanLimit + 1] = static_cast<uint8_t>(fanLimit >> 8);
  block[cb::kThermalLimit] = static_cast<uint8_t>(thermalLimit);
  block[cb::kFunctions] = functions;
  std::memcpy(block + cb::kName, "TORVEX", 7);
  // 11. The checksum of bytes 0..253.
  uint32_t sum = 0;
  for (uint32_t i = 0; i < cb::kChecksum; ++i) sum += block[i];
  block[cb::kChecksum] = static_cast<uint8_t>(sum);
  block[cb::kChecksum + 1] = static_cast<uint8_t>(sum >> 8);

  r.passesUpgradeCheck = ImageMarksOk(img);
  r.image = std::move(img);
  r.ok = true;
  return r;
}

Outcome SaveImageFile(const std::string& path, std::span<const uint8_t> image) {
  return ReplaceFile(path, std::string(reinterpret_cast<const char*>(image.data()), image.size()));
}

}  // namespace raid
