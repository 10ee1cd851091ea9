// Firmware image files: reading one into memory and checking it before it
// may go near an enclosure. Plain functions over bytes and a small reader
// interface, so the checks run the same on a file, in a test and under a
// fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace raid {

// The flash the upgrade erases, programs and reads back: always addresses
// 0 to 0x7FFFF, taken from the start of the image.
constexpr uint32_t kFlashImageLength = 0x80000;
// The largest image the builder makes; longer files are refused unread.
constexpr uint64_t kLargestImageFile = 0x100000;
// The configuration version byte of the image (the configuration block
// starts at 0x78000; its byte 1 is the version).
constexpr uint32_t kImageConfigVersionOffset = 0x78001;
constexpr uint8_t kImageConfigVersion = 0xA0;
// How often one failing read of the file is tried before the load gives up.
constexpr int kImageReadAttempts = 4;

// The 32-bit sum of all bytes as unsigned values.
uint32_t ImageByteSum(std::span<const uint8_t> bytes);
// "Chksum:" and the sum as eight upper-case hexadecimal digits.
std::string ChecksumText(uint32_t sum);
// "FIPS" at 0 and the configuration version 0xA0 at 0x78001. An image
// shorter than the flash never passes.
bool ImageMarksOk(std::span<const uint8_t> bytes);

// Where the bytes of an image come from.
class ImageReader {
 public:
  virtual ~ImageReader() = default;
  // False when the source cannot be opened.
  virtual bool Open(const std::string& name) = 0;
  // Length in bytes; false when it cannot be told.
  virtual bool Length(uint64_t& length) = 0;
  // Reads up to n bytes at offset; returns how many arrived. Fewer than n
  // means the read failed at offset + the returned count.
  virtual size_t ReadAt(uint64_t offset, uint8_t* out, size_t n) = 0;
};

// Reads a file of the file system.
std::unique_ptr<ImageReader> MakeFileImageReader();

// Serves bytes held in memory (tests and the fuzzer).
class MemoryImageReader final : public ImageReader {
 public:
  explicit MemoryImageReader(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  bool Open(const std::string&) override { return true; }
  bool Length(uint64_t& length) override {
    length = bytes_.size();
    return true;
  }
  size_t ReadAt(uint64_t offset, uint8_t* out, size_t n) override;

 private:
  std::vector<uint8_t> bytes_;
};

struct ImageLoad {
  enum class Outcome { Loaded, OpenFailed, TooShort, TooLarge, ReadFailed, BadMarks };
  Outcome outcome = Outcome::OpenFailed;
  uint64_t length = 0;         // the file's length, when it could be told
  uint64_t failedOffset = 0;   // ReadFailed: the byte that would not read
  uint32_t sum = 0;            // the byte sum, once the whole file was read
  std::vector<uint8_t> bytes;  // the image; empty unless Loaded
  bool SumKnown() const { return outcome == Outcome::Loaded || outcome == Outcome::BadMarks; }
};

// Opens, measures, reads and checks an image. Nothing is read beyond the
// file's length; a file of the wrong length is not read at all; a failing
// read is tried kImageReadAttempts times before the load ends.
ImageLoad LoadFirmwareImage(ImageReader& reader, const std::string& name);

}  // namespace raid
