#include "maintenance/firmware_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace raid {

uint32_t ImageByteSum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  for (uint8_t b : bytes) sum += b;
  return sum;
}

std::string ChecksumText(uint32_t sum) {
  char b[16];
  std::snprintf(b, sizeof b, "%08X", static_cast<unsigned>(sum));
  return std::string("Chksum:") + b;
}

bool ImageMarksOk(std::span<const uint8_t> bytes) {
  if (bytes.size() < kFlashImageLength) return false;
  return std::memcmp(bytes.data(), "FIPS", 4) == 0 && bytes[kImageConfigVersionOffset] == kImageConfigVersion;
}

size_t MemoryImageReader::ReadAt(uint64_t offset, uint8_t* out, size_t n) {
  if (offset >= bytes_.size()) return 0;
  const size_t k = static_cast<size_t>(std::min<uint64_t>(n, bytes_.size() - offset));
  std::memcpy(out, bytes_.data() + offset, k);
  return k;
}

namespace {

class FileImageReader final : public ImageReader {
 public:
  bool Open(const std::string& name) override {
    namespace fs = std::filesystem;
    path_ = fs::path(name);
    std::error_code ec;
    // Only a plain file: a folder, a device or a pipe is no image, and a
    // pipe without a writer would block the open.
    if (!fs::is_regular_file(path_, ec)) return false;
    in_.open(path_, std::ios::binary);
    return in_.is_open();
  }
  bool Length(uint64_t& length) override {
    std::error_code ec;
    const auto n = std::filesystem::file_size(path_, ec);
    if (ec) return false;
    length = n;
    return true;
  }
  size_t ReadAt(uint64_t offset, uint8_t* out, size_t n) override {
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    if (!in_) return 0;
    in_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n));
    return static_cast<size_t>(in_.gcount());
  }

 private:
  std::filesystem::path path_;
  std::ifstream in_;
};

}  // namespace

std::unique_ptr<ImageReader> MakeFileImageReader() { return std::make_unique<FileImageReader>(); }

ImageLoad LoadFirmwareImage(ImageReader& reader, const std::string& name) {
  ImageLoad r;
  if (!reader.Open(name) || !reader.Length(r.length)) {
    r.outcome = ImageLoad::Outcome::OpenFailed;
    return r;
  }
  if (r.length < kFlashImageLength) {
    r.outcome = ImageLoad::Outcome::TooShort;
    return r;
  }
  if (r.length > kLargestImageFile) {
    r.outcome = ImageLoad::Outcome::TooLarge;
    return r;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(r.length));
  constexpr size_t kChunk = 64 * 1024;
  uint64_t at = 0;
  int failures = 0;
  while (at < r.length) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, r.length - at));
    const size_t got = std::min(want, reader.ReadAt(at, bytes.data() + at, want));
    at += got;
    if (got == want) {
      failures = 0;
      continue;
    }
    // The byte at `at` would not read: the same byte is tried again, a
    // bounded number of times; bytes that did arrive count as progress.
    failures = got > 0 ? 1 : failures + 1;
    if (failures >= kImageReadAttempts) {
      r.outcome = ImageLoad::Outcome::ReadFailed;
      r.failedOffset = at;
      return r;
    }
  }
  r.sum = ImageByteSum(bytes);
  if (!ImageMarksOk(bytes)) {
    r.outcome = ImageLoad::Outcome::BadMarks;
    return r;
  }
  r.outcome = ImageLoad::Outcome::Loaded;
  r.bytes = std::move(bytes);
  return r;
}

}  // namespace raid
