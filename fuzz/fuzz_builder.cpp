// The image builder's input: the texts typed into the form (numbers, code
// types, file names) and the boot-loader and sub-code files themselves. Any
// input builds an image laid out as it must be or is refused with a text and
// nothing built; never a crash, a write outside the image or an endless retry.
// Input: five text lines (fan supported, fan limit, thermal supported,
// thermal limit, a code type or file name), then one byte with the sub-code
// count and switches, then the files' bytes cut into equal pieces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "maintenance/image_builder.h"

namespace {

class MapReader final : public raid::ImageReader {
 public:
  explicit MapReader(const std::map<std::string, std::vector<uint8_t>>& files) : files_(files) {}
  bool Open(const std::string& name) override {
    auto it = files_.find(name);
    if (it == files_.end()) return false;
    bytes_ = &it->second;
    return true;
  }
  bool Length(uint64_t& l) override {
    l = bytes_->size();
    return true;
  }
  size_t ReadAt(uint64_t offset, uint8_t* out, size_t n) override {
    if (offset + n > bytes_->size() || ++calls_ > 1000) std::abort();
    std::memcpy(out, bytes_->data() + offset, n);
    return n;
  }

 private:
  const std::map<std::string, std::vector<uint8_t>>& files_;
  const std::vector<uint8_t>* bytes_ = nullptr;
  int calls_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace raid;
  size_t at = 0;
  std::string lines[5];
  for (auto& line : lines) {
    while (at < size && data[at] != '\n') line.push_back(static_cast<char>(data[at++]));
    if (at < size) ++at;
  }
  for (const auto& line : lines) {
    const Expected<uint32_t> v = ReadNumberText(line, 0xFFFF);
    if (v ? *v > 0xFFFF : v.error().empty()) std::abort();
    (void)CodeTypeFromName(line);
    (void)IsBootLoaderName(line);
    (void)BinFileName(line);
  }
  const uint8_t control = at < size ? data[at++] : 0;

  BuilderSettings s;
  s.fanSupported = lines[0];
  s.fanLimit = lines[1];
  s.thermalSupported = lines[2];
  s.thermalLimit = lines[3];
  s.autoSize = (control & 0x80) == 0;
  s.sizeChoice = static_cast<int>(control >> 5 & 3) - (control & 0x10 ? 1 : 0);
  s.jumper = control & 0x01;
  s.scheduleBackup = control & 0x02;

  ImageBuilder b;
  std::map<std::string, std::vector<uint8_t>> files;
  const int subs = control & 0x0C ? (control >> 2 & 3) * 3 + 1 : 0;  // 0, 4, 7 or 10
  const size_t piece = (size - at) / static_cast<size_t>(subs + 1);
  // Files longer than a slot are read in part by repeating the input.
  const size_t stretch = lines[4].size() > 0 ? static_cast<size_t>(static_cast<uint8_t>(lines[4][0])) * 256 : 0;
  for (int j = 0; j <= subs; ++j) {
    std::vector<uint8_t> bytes(data + at + piece * static_cast<size_t>(j),
                               data + at + piece * static_cast<size_t>(j + 1));
    if (j == 0 && !bytes.empty()) bytes.resize(bytes.size() + stretch, bytes.back());
    const std::string name = j == 0 ? "/SPIHEAD.BIN" : "/sub" + std::to_string(j) + lines[4] + ".bin";
    files[name] = std::move(bytes);
    b.AddFiles({name});
  }
  if (subs > 0) (void)b.SetCodeType(1, lines[4]);
  if (control & 0x40) b.MoveDown(1);

  FillerGenerator gen(12345);
  const BuildResult r = b.Assemble(s, gen, [&] { return std::make_unique<MapReader>(files); });
  if (!r.ok) {
    if (!r.image.empty() || r.error.text.empty() || gen.State() != 12345) std::abort();
    return 0;
  }
  // What was built is laid out as it must be.
  const uint32_t c = r.configOffset;
  if (r.image.size() != r.size || r.size > kImageSizes.back() || uint64_t{c} + kConfigTail > r.size) std::abort();
  if (c < kSlotSize * static_cast<uint32_t>(b.SubCodeCount() + 1)) std::abort();
  const uint8_t* k = r.image.data() + c;
  uint32_t sum = 0;
  for (uint32_t i = 0; i < config_block::kChecksum; ++i) sum += k[i];
  if ((k[254] | k[255] << 8) != (sum & 0xFFFF) || k[1] != 0xA0 || std::memcmp(k + 114, "TORVEX", 7) != 0) std::abort();
  for (uint32_t a = c + kConfigBlockSize; a < c + kConfigTail; ++a)
    if (r.image[a] != 0xFF) std::abort();
  return 0;
}
