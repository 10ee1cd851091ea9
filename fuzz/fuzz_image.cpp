// Firmware image files are user input: any length, any content and reads
// that fail anywhere give an image or a refusal, never a crash, a read past
// the file's end or an endless retry. The input's first bytes choose the
// file's length and where its reads break; the rest is its content, repeated.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "maintenance/firmware_image.h"

namespace {

class FuzzReader final : public raid::ImageReader {
 public:
  FuzzReader(uint64_t length, uint64_t breakAt, int breaks, const uint8_t* pattern, size_t n)
      : length_(length), breakAt_(breakAt), breaks_(breaks), pattern_(pattern, pattern + n) {}
  bool Open(const std::string&) override { return true; }
  bool Length(uint64_t& l) override {
    l = length_;
    return true;
  }
  size_t ReadAt(uint64_t offset, uint8_t* out, size_t n) override {
    if (offset + n > length_ || ++calls_ > 10000) std::abort();
    size_t k = n;
    if (breaks_ > 0 && offset <= breakAt_ && breakAt_ < offset + n) {
      --breaks_;
      k = static_cast<size_t>(breakAt_ - offset);
    }
    for (size_t i = 0; i < k; ++i)
      out[i] = pattern_.empty() ? 0xFF : pattern_[static_cast<size_t>((offset + i) % pattern_.size())];
    return k;
  }

 private:
  uint64_t length_, breakAt_;
  int breaks_;
  std::vector<uint8_t> pattern_;
  int calls_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  // 0x70000 .. 0x16FFF0: shorter than, equal to and longer than the images.
  const uint64_t length = 0x70000 + (static_cast<uint64_t>(data[0] | data[1] << 8) << 4);
  const uint64_t breakAt = (static_cast<uint64_t>(data[2] | data[3] << 8) << 4) % (length + 1);
  const int breaks = data[4] % 8;
  FuzzReader reader(length, breakAt, breaks, data + 5, size - 5);
  const raid::ImageLoad load = raid::LoadFirmwareImage(reader, "fuzz.bin");
  if (load.outcome == raid::ImageLoad::Outcome::Loaded && !raid::ImageMarksOk(load.bytes)) std::abort();
  if (load.outcome != raid::ImageLoad::Outcome::Loaded && !load.bytes.empty()) std::abort();
  return 0;
}
