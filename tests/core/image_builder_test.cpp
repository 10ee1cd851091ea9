// The image builder: the number and name rules, every byte of an assembled
// image, the refusals that leave nothing built, the entry table's keys, and
// a built image that the Upgrade page takes and writes into the simulated
// enclosure's flash.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>

#include "core_harness.h"
#include "maintenance/firmware_upgrade.h"
#include "maintenance/image_builder.h"

namespace raid::test {
namespace {

namespace cb = config_block;

// Files by name, held in memory; a name it does not know cannot be opened.
// failAt makes every read that reaches that offset of that file stop there,
// `failures` times.
struct FileSet {
  std::map<std::string, std::vector<uint8_t>> files;
  std::string failing;
  uint64_t failAt = 0;
  int failures = 0;
  int reads = 0;

  class Reader final : public ImageReader {
   public:
    explicit Reader(FileSet& set) : set_(set) {}
    bool Open(const std::string& name) override {
      name_ = name;
      return set_.files.count(name) > 0;
    }
    bool Length(uint64_t& l) override {
      l = set_.files[name_].size();
      return true;
    }
    size_t ReadAt(uint64_t offset, uint8_t* out, size_t n) override {
      ++set_.reads;
      const auto& b = set_.files[name_];
      if (offset >= b.size()) return 0;
      n = std::min<size_t>(n, b.size() - offset);
      if (name_ == set_.failing && set_.failures > 0 && offset <= set_.failAt && set_.failAt < offset + n) {
        --set_.failures;
        n = static_cast<size_t>(set_.failAt - offset);
      }
      std::memcpy(out, b.data() + offset, n);
      return n;
    }

   private:
    FileSet& set_;
    std::string name_;
  };
  ReaderFactory Factory() {
    return [this] { return std::make_unique<Reader>(*this); };
  }
};

// A boot loader of `length` bytes: "FIPS", C in bytes 16..18, then a pattern.
std::vector<uint8_t> BootLoader(uint32_t c = kUpgradeConfigOffset, size_t length = 0x5000) {
  std::vector<uint8_t> b(length);
  for (size_t i = 0; i < length; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
  if (length >= 4) std::memcpy(b.data(), "FIPS", 4);
  if (length >= 19) {
    b[16] = static_cast<uint8_t>(c);
    b[17] = static_cast<uint8_t>(c >> 8);
    b[18] = static_cast<uint8_t>(c >> 16);
  }
  return b;
}

std::vector<uint8_t> Pattern(size_t length, uint8_t start) {
  std::vector<uint8_t> b(length);
  for (size_t i = 0; i < length; ++i) b[i] = static_cast<uint8_t>(start + i * 13);
  return b;
}

uint32_t Le24(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16; }

TEST(ImageBuilderRules, NumbersAreDecimalOrHexWithATrailingH) {
  const std::pair<const char*, uint32_t> good[] = {{"10", 0x0A}, {"10h", 0x10}, {"10H", 0x10}, {" 1fh ", 0x1F},
                                                   {"0", 0},     {"ffH", 0xFF}, {"255", 255},  {"007", 7}};
  for (auto [text, want] : good) {
    const Expected<uint32_t> v = ReadNumberText(text, 0xFF);
    ASSERT_TRUE(v) << text << ": " << v.error();
    EXPECT_EQ(*v, want) << text;
  }
  const std::pair<const char*, const char*> bad[] = {{"", "is empty"},
                                                     {"  ", "is empty"},
                                                     {"h", "no digits"},
                                                     {"12x", "is not a number"},
                                                     {"ZZh", "is not a number"},
                                                     {"1 2", "is not a number"},
                                                     {"-1", "is not a number"},
                                                     {"256", "larger than 255"},
                                                     {"100h", "larger than 255"},
                                                     {"99999999999999999999999", "larger than 255"}};
  for (auto [text, want] : bad) {
    const Expected<uint32_t> v = ReadNumberText(text, 0xFF);
    EXPECT_FALSE(v) << text;
    EXPECT_NE(v.error().find(want), std::string::npos) << text << ": " << v.error();
  }
}

TEST(ImageBuilderRules, CodeTypeFromTheNameAndTheBootLoaderName) {
  EXPECT_EQ(CodeTypeFromName("/fw/raid0A.bin"), 0x0A);
  EXPECT_EQ(CodeTypeFromName("C:\\fw\\sub3f.bin"), 0x3F);
  EXPECT_EQ(CodeTypeFromName("code02.bin"), 0x02);
  EXPECT_EQ(CodeTypeFromName("a1.b2.bin"), 0xA1);  // the first dot counts
  EXPECT_EQ(CodeTypeFromName("G5.bin"), 0x05);     // no hex high digit: 0
  EXPECT_EQ(CodeTypeFromName("5G.bin"), 0x00);     // no hex low digit: all 0
  EXPECT_EQ(CodeTypeFromName("A.bin"), 0x0A);      // one character before the dot
  EXPECT_EQ(CodeTypeFromName(".bin"), 0x00);
  EXPECT_EQ(CodeTypeFromName("sub12"), 0x00);  // no dot
  EXPECT_TRUE(IsBootLoaderName("/x/spihead.bin"));
  EXPECT_TRUE(IsBootLoaderName("SpiHead.Bin"));
  EXPECT_FALSE(IsBootLoaderName("spihead.bin.old"));
  EXPECT_FALSE(IsBootLoaderName("/spihead.bin/other.bin"));
}

TEST(ImageBuilderRules, SavedNamesEndInBin) {
  EXPECT_EQ(BinFileName("/out/image.dat"), "/out/image.bin");
  EXPECT_EQ(BinFileName("/out/image"), "/out/image.bin");
  EXPECT_EQ(BinFileName("/out/my.fw.dat"), "/out/my.fw.bin");
  EXPECT_EQ(BinFileName("/out.d/image"), "/out.d/image.bin");
  EXPECT_EQ(BinFileName("image.BIN"), "image.bin");
}

TEST(ImageBuilderRules, FillerGeneratorTakesBits16To30) {
  FillerGenerator g(0);
  EXPECT_EQ(g.Next(), 0u);
  EXPECT_EQ(g.Next(), 346u);
  EXPECT_EQ(g.Next(), 130u);
  EXPECT_EQ(g.Next(), 10982u);
  // Bit 31 of the state is not part of the value.
  FillerGenerator top(0x80000000u);
  EXPECT_EQ(top.Next(), 0u);
  EXPECT_EQ(top.State(), 0x80000001u);
  FillerGenerator b(12345);
  FillerGenerator c(12345);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(b.NextByte(), static_cast<uint8_t>(c.Next()));
  EXPECT_NE(SeedFromTime({2024, 1, 1, 0, 0, 0, 1}), SeedFromTime({2024, 1, 1, 0, 0, 0, 2}));
}

TEST(ImageBuilderLayout, NoSubCodesEveryByte) {
  FileSet fs;
  const auto boot = BootLoader();
  fs.files["/fw/SPIHEAD.BIN"] = boot;
  ImageBuilder b;
  EXPECT_EQ(b.AddFiles({"/fw/SPIHEAD.BIN"}), "");
  FillerGenerator gen(99);
  const BuildResult r = b.Assemble({}, gen, fs.Factory());
  ASSERT_TRUE(r.ok) << r.error.text;
  EXPECT_TRUE(r.warnings.empty());
  EXPECT_TRUE(r.passesUpgradeCheck);
  EXPECT_EQ(r.configOffset, 0x78000u);
  ASSERT_EQ(r.image.size(), 0x80000u);
  const auto& img = r.image;
  const uint32_t c = 0x78000;

  FillerGenerator expect(99);
  std::vector<uint8_t> filler;
  for (uint32_t a = 0x8000; a < c + 0x100; ++a) filler.push_back(expect.NextByte());
  for (uint32_t a = 0; a < boot.size(); ++a) ASSERT_EQ(img[a], boot[a]) << a;
  for (uint32_t a = static_cast<uint32_t>(boot.size()); a < 0x8000; ++a) ASSERT_EQ(img[a], 0xFF) << a;
  for (uint32_t a = 0x8000; a < c; ++a) ASSERT_EQ(img[a], filler[a - 0x8000]) << a;
  for (uint32_t a = c + 0x100; a < 0x80000; ++a) ASSERT_EQ(img[a], 0xFF) << a;
  EXPECT_EQ(gen.State(), expect.State()) << "one generator value per filler byte";

  const uint8_t* k = img.data() + c;
  auto fillerAt = [&](uint32_t off) { return filler[c + off - 0x8000]; };
  EXPECT_EQ(k[0], 0x00);
  EXPECT_EQ(k[1], 0xA0);
  for (uint32_t i = 0; i < 10; ++i) {
    EXPECT_EQ(k[2 + 5 * i], 0xFF) << i;
    for (uint32_t j = 1; j < 5; ++j) EXPECT_EQ(k[2 + 5 * i + j], fillerAt(2 + 5 * i + j)) << "unused entry bytes";
  }
  EXPECT_EQ(Le24(k + 52), 0xC000u);
  EXPECT_EQ(k[55], 0x3F);
  EXPECT_EQ(k[56], 0xF1);
  EXPECT_EQ(k[57], 0xFF);
  for (uint32_t i = 58; i < 107; ++i) EXPECT_EQ(k[i], 0) << i;
  EXPECT_EQ(k[107], 0x80);
  EXPECT_EQ(k[108], 0x11);
  EXPECT_EQ(k[109] | k[110] << 8, 2000);
  EXPECT_EQ(k[111], 50);
  EXPECT_EQ(k[112], 0);
  EXPECT_EQ(k[113], 0x00);
  EXPECT_EQ(std::memcmp(k + 114, "TORVEX\0", 7), 0);
  for (uint32_t i = 121; i < 128; ++i) EXPECT_EQ(k[i], 0) << i;
  for (uint32_t i = 128; i < 254; ++i) EXPECT_EQ(k[i], fillerAt(i)) << i;
  uint32_t sum = 0;
  for (uint32_t i = 0; i < 254; ++i) sum += k[i];
  EXPECT_EQ(k[254] | k[255] << 8, sum & 0xFFFF);
  EXPECT_TRUE(ImageMarksOk(img));
}

TEST(ImageBuilderLayout, SubCodesSlotsDirectoryFlagsAndSettings) {
  FileSet fs;
  fs.files["/fw/SPIHEAD.BIN"] = BootLoader(0x78000, 0xC000);  // as long as a slot may be
  fs.files["/fw/raid0A.bin"] = Pattern(0xC000, 1);
  fs.files["/fw/sub02.bin"] = Pattern(100, 2);
  fs.files["/fw/x13.bin"] = Pattern(0, 3);
  ImageBuilder b;
  b.AddFiles({"/fw/raid0A.bin", "/fw/sub02.bin", "/fw/SPIHEAD.BIN", "/fw/x13.bin"});
  ASSERT_EQ(b.SubCodeCount(), 3);
  b.SetUpdateFlag(3, false);
  BuilderSettings s;
  s.jumper = false;
  s.chip = false;
  s.fanSupported = "3";
  s.thermalSupported = "0Ah";
  s.fanLimit = "1234h";
  s.thermalLimit = "60";
  s.scheduleBackup = true;
  s.fastBackup = true;
  FillerGenerator gen(5);
  const BuildResult r = b.Assemble(s, gen, fs.Factory());
  ASSERT_TRUE(r.ok) << r.error.text;
  const auto& img = r.image;
  const uint8_t* k = img.data() + 0x78000;

  // The boot loader fills its whole slot, over the filler's start.
  EXPECT_TRUE(std::equal(fs.files["/fw/SPIHEAD.BIN"].begin(), fs.files["/fw/SPIHEAD.BIN"].end(), img.begin()));
  EXPECT_TRUE(std::equal(fs.files["/fw/raid0A.bin"].begin(), fs.files["/fw/raid0A.bin"].end(), img.begin() + 0xC000));
  EXPECT_TRUE(std::equal(fs.files["/fw/sub02.bin"].begin(), fs.files["/fw/sub02.bin"].end(), img.begin() + 0x18000));
  FillerGenerator expect(5);
  std::vector<uint8_t> filler;
  for (uint32_t a = 0x8000; a < 0x78100; ++a) filler.push_back(expect.NextByte());
  // Past a short sub-code, and in the empty third slot, the filler stays.
  for (uint32_t a = 0x18000 + 100; a < 0x30000; ++a) ASSERT_EQ(img[a], filler[a - 0x8000]) << a;

  const uint8_t types[3] = {0x0A, 0x02, 0x13};
  const uint8_t flags[3] = {0x5A, 0x5A, 0x00};
  for (uint32_t j = 0; j < 3; ++j) {
    EXPECT_EQ(k[2 + 5 * j], types[j]);
    EXPECT_EQ(Le24(k + 3 + 5 * j), 0xC000u * (j + 1));
    EXPECT_EQ(k[6 + 5 * j], flags[j]);
  }
  for (uint32_t j = 3; j < 10; ++j) EXPECT_EQ(k[2 + 5 * j], 0xFF);
  EXPECT_EQ(Le24(k + 52), 4 * 0xC000u);
  EXPECT_EQ(k[56], 0x11);
  EXPECT_EQ(k[57], 0x3F);
  EXPECT_EQ(k[107], 0x85);
  EXPECT_EQ(k[108], 0xA3);
  EXPECT_EQ(k[109], 0x34);
  EXPECT_EQ(k[110], 0x12);
  EXPECT_EQ(k[111], 60);
  // Schedule, fast, and bits 2 (type 02) and 3 (type 13); type 0A's low
  // nibble is 10 and sets nothing.
  EXPECT_EQ(k[113], 0x80 | 0x40 | 0x04 | 0x08);
  uint32_t sum = 0;
  for (uint32_t i = 0; i < 254; ++i) sum += k[i];
  EXPECT_EQ(k[254] | k[255] << 8, sum & 0xFFFF);
}

TEST(ImageBuilderLayout, SizesAndWarnings) {
  FileSet fs;
  fs.files["/SPIHEAD.BIN"] = BootLoader();
  ImageBuilder b;
  b.AddFiles({"/SPIHEAD.BIN"});
  FillerGenerator gen(1);
  BuilderSettings s;
  s.autoSize = false;
  s.sizeChoice = 3;  // 8M Bits
  BuildResult r = b.Assemble(s, gen, fs.Factory());
  ASSERT_TRUE(r.ok) << r.error.text;
  ASSERT_EQ(r.image.size(), 0x100000u);
  for (uint32_t a = 0x78100; a < 0x100000; ++a) ASSERT_EQ(r.image[a], 0xFF) << a;
  EXPECT_TRUE(r.passesUpgradeCheck);

  for (int choice : {0, 1}) {
    s.sizeChoice = choice;
    const uint32_t state = gen.State();
    r = b.Assemble(s, gen, fs.Factory());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.field, BuilderField::Size);
    EXPECT_NE(r.error.text.find("too small"), std::string::npos) << r.error.text;
    EXPECT_TRUE(r.image.empty());
    EXPECT_EQ(gen.State(), state);
  }
  s.sizeChoice = -1;
  r = b.Assemble(s, gen, fs.Factory());
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.text.find("Choose a bin size"), std::string::npos);

  // Another C builds, with a warning that the Upgrade page will not take it.
  fs.files["/SPIHEAD.BIN"] = BootLoader(0x18000);
  fs.files["/SPIHEAD.BIN"][0] = 'X';
  s.sizeChoice = 0;
  r = b.Assemble(s, gen, fs.Factory());
  ASSERT_TRUE(r.ok) << r.error.text;
  EXPECT_EQ(r.image.size(), 0x20000u);
  EXPECT_EQ(r.image[0x18001], 0xA0);
  ASSERT_EQ(r.warnings.size(), 2u);
  EXPECT_NE(r.warnings[0].find("0x18000, not at 0x78000"), std::string::npos);
  EXPECT_NE(r.warnings[1].find("FIPS"), std::string::npos);
  EXPECT_FALSE(r.passesUpgradeCheck);
}

// Every refusal: a clear text, nothing built, the generator untouched.
TEST(ImageBuilderRefusals, BadInputsBuildNothing) {
  struct Case {
    const char* what;
    std::function<void(FileSet&, ImageBuilder&, BuilderSettings&)> setup;
    std::string text;
    std::string caption = "Error";
  };
  const std::vector<Case> cases = {
      {"no boot loader", [](FileSet&, ImageBuilder& b, BuilderSettings&) { b.DeleteEntry(0); }, "No boot loader"},
      {"boot loader missing", [](FileSet& f, ImageBuilder&, BuilderSettings&) { f.files.erase("/SPIHEAD.BIN"); },
       "Fail to open firmware file"},
      {"boot loader too long",
       [](FileSet& f, ImageBuilder&, BuilderSettings&) { f.files["/SPIHEAD.BIN"] = BootLoader(0x78000, 0xC001); },
       "is 49153 bytes long; a boot loader or sub-code has at most 49152 bytes"},
      {"boot loader too short for C",
       [](FileSet& f, ImageBuilder&, BuilderSettings&) { f.files["/SPIHEAD.BIN"] = BootLoader(0x78000, 18); },
       "too short to hold the configuration offset"},
      {"sub-code missing", [](FileSet& f, ImageBuilder&, BuilderSettings&) { f.files.erase("/b02.bin"); },
       "Fail to open firmware file"},
      {"sub-code too long",
       [](FileSet& f, ImageBuilder&, BuilderSettings&) { f.files["/b02.bin"] = Pattern(0xC001, 0); },
       "/b02.bin is 49153 bytes long"},
      {"read failing every time",
       [](FileSet& f, ImageBuilder&, BuilderSettings&) {
         f.failing = "/b02.bin";
         f.failAt = 77;
         f.failures = 1000;
       },
       "Error read from Source file. ByteCount = 77", "GetASPISupportInfo:"},
      {"C inside the boot loader's slot",
       [](FileSet& f, ImageBuilder&, BuilderSettings&) { f.files["/SPIHEAD.BIN"] = BootLoader(0xBFFF); },
       "at 0xBFFF, inside its own slot"},
      {"a slot reaching into the block",
       [](FileSet& f, ImageBuilder&, BuilderSettings&) { f.files["/SPIHEAD.BIN"] = BootLoader(0x17FFF); },
       "The slot of sub-code 1 (0xC000 to 0x17FFF) reaches into the configuration block at 0x17FFF: with this "
       "boot loader at most 0 sub-codes fit."},
      {"an automatic size beyond 8M Bits",
       [](FileSet& f, ImageBuilder&, BuilderSettings&) { f.files["/SPIHEAD.BIN"] = BootLoader(0xF8001); },
       "needs an image of 1048577 bytes"},
      {"code type FF",
       [](FileSet& f, ImageBuilder& b, BuilderSettings&) {
         b.DeleteEntry(1);
         f.files["/cFF.bin"] = Pattern(10, 0);
         b.AddFiles({"/cFF.bin"});
       },
       "has code type FFh"},
      {"empty fan field", [](FileSet&, ImageBuilder&, BuilderSettings& s) { s.fanSupported = ""; },
       "FAN \"Supported:\": is empty"},
      {"fan above one nibble", [](FileSet&, ImageBuilder&, BuilderSettings& s) { s.fanSupported = "16"; },
       "FAN \"Supported:\": \"16\" is larger than 15"},
      {"malformed fan limit", [](FileSet&, ImageBuilder&, BuilderSettings& s) { s.fanLimit = "2000rpm"; },
       "FAN \"Alarm Limit:\": \"2000rpm\" is not a number"},
      {"fan limit above 16 bits", [](FileSet&, ImageBuilder&, BuilderSettings& s) { s.fanLimit = "65536"; },
       "larger than 65535"},
      {"thermal field", [](FileSet&, ImageBuilder&, BuilderSettings& s) { s.thermalSupported = "xh"; },
       "Thermal sensor \"Supported:\": \"xh\" is not a number"},
      {"thermal limit", [](FileSet&, ImageBuilder&, BuilderSettings& s) { s.thermalLimit = "256"; },
       "Thermal sensor \"Alarm Limit:\": \"256\" is larger than 255"},
  };
  for (const auto& c : cases) {
    FileSet fs;
    fs.files["/SPIHEAD.BIN"] = BootLoader();
    fs.files["/b02.bin"] = Pattern(200, 9);
    ImageBuilder b;
    b.AddFiles({"/SPIHEAD.BIN", "/b02.bin"});
    BuilderSettings s;
    c.setup(fs, b, s);
    FillerGenerator gen(42);
    const BuildResult r = b.Assemble(s, gen, fs.Factory());
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_NE(r.error.text.find(c.text), std::string::npos) << c.what << ": " << r.error.text;
    EXPECT_EQ(r.error.caption, c.caption) << c.what;
    EXPECT_EQ(r.error.icon, BoxIcon::Error) << c.what;
    EXPECT_TRUE(r.image.empty()) << c.what;
    EXPECT_EQ(gen.State(), 42u) << c.what;
    EXPECT_LT(fs.reads, 20) << c.what << ": the failing read is tried a bounded number of times";
  }
}

TEST(ImageBuilderRefusals, ATransientReadFailureIsRetried) {
  FileSet fs;
  fs.files["/SPIHEAD.BIN"] = BootLoader();
  fs.files["/b02.bin"] = Pattern(200, 9);
  fs.failing = "/b02.bin";
  fs.failAt = 150;
  fs.failures = kImageReadAttempts - 1;
  ImageBuilder b;
  b.AddFiles({"/SPIHEAD.BIN", "/b02.bin"});
  FillerGenerator gen(1);
  const BuildResult r = b.Assemble({}, gen, fs.Factory());
  ASSERT_TRUE(r.ok) << r.error.text;
  EXPECT_TRUE(std::equal(fs.files["/b02.bin"].begin(), fs.files["/b02.bin"].end(), r.image.begin() + 0xC000));
}

TEST(ImageBuilderRefusals, NineSubCodesFitAtTheUpgradeOffsetButNotTen) {
  FileSet fs;
  fs.files["/SPIHEAD.BIN"] = BootLoader();
  ImageBuilder b;
  b.AddFiles({"/SPIHEAD.BIN"});
  for (int j = 1; j <= 9; ++j) {
    const std::string name = "/s0" + std::to_string(j) + ".bin";
    fs.files[name] = Pattern(0xC000, static_cast<uint8_t>(j));
    b.AddFiles({name});
  }
  FillerGenerator gen(3);
  BuildResult r = b.Assemble({}, gen, fs.Factory());
  ASSERT_TRUE(r.ok) << r.error.text;
  EXPECT_EQ(Le24(r.image.data() + 0x78000 + cb::kEndOffset), 0x78000u);
  EXPECT_EQ(r.image[0x78000 + 2 + 5 * 9], 0xFF);
  // The last slot ends just below the block, which is whole.
  EXPECT_EQ(r.image[0x77FFF], fs.files["/s09.bin"].back());
  EXPECT_EQ(r.image[0x78001], 0xA0);

  fs.files["/s10.bin"] = Pattern(1, 0);
  b.AddFiles({"/s10.bin"});
  r = b.Assemble({}, gen, fs.Factory());
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.text.find("sub-code 10 (0x78000 to 0x83FFF) reaches into the configuration block at 0x78000"),
            std::string::npos)
      << r.error.text;
}

TEST(ImageBuilderTable, AddingDeletingAndReordering) {
  ImageBuilder b;
  // SPIHEAD.BIN twice: the later path wins and no sub-code is added.
  EXPECT_EQ(b.AddFiles({"/a/spihead.bin", "/d/sub01.bin", "/b/SPIHEAD.BIN", "/d/sub0A.bin"}), "");
  EXPECT_EQ(b.Entry(0).path, "/b/SPIHEAD.BIN");
  ASSERT_EQ(b.SubCodeCount(), 2);
  EXPECT_EQ(b.CellText(0, 1), "Subcode file");
  EXPECT_EQ(b.CellText(0, 2), "Code Type");
  EXPECT_EQ(b.CellText(0, 3), "Update Flag");
  EXPECT_EQ(b.CellText(1, 0), "Boot Loader");
  EXPECT_EQ(b.CellText(2, 0), "SubCode-0");
  EXPECT_EQ(b.CellText(11, 0), "SubCode-9");
  EXPECT_EQ(b.CellText(1, 1), "SPIHEAD.BIN");
  EXPECT_EQ(b.CellText(3, 1), "sub0A.bin");
  EXPECT_EQ(b.CellText(3, 2), "0Ah");
  EXPECT_EQ(b.CellText(3, 3), "TRUE");
  EXPECT_EQ(b.CellText(4, 1), "");
  EXPECT_EQ(b.SelectedEntryText(3), "2");
  EXPECT_EQ(b.SelectedDetailText(3, 1), "/d/sub0A.bin");
  EXPECT_EQ(b.SelectedDetailText(3, 2), "0A");
  EXPECT_EQ(b.SelectedDetailText(3, 3), "1");
  EXPECT_EQ(b.SelectedDetailText(4, 1), "");

  EXPECT_TRUE(b.SetCodeType(2, "10"));
  EXPECT_EQ(b.CellText(3, 2), "0Ah");
  EXPECT_TRUE(b.SetCodeType(2, "10h"));
  EXPECT_EQ(b.CellText(3, 2), "10h");
  const Outcome empty = b.SetCodeType(2, "");
  EXPECT_FALSE(empty);
  EXPECT_NE(empty.error().find("Code Type: is empty"), std::string::npos);
  EXPECT_FALSE(b.SetCodeType(2, "FFh"));
  EXPECT_FALSE(b.SetCodeType(0, "1")) << "the boot loader has no code type to edit";
  EXPECT_FALSE(b.SetCodeType(3, "1")) << "no entry there";
  EXPECT_EQ(b.Entry(2).codeType, 0x10);
  EXPECT_TRUE(b.SetUpdateFlag(1, false));
  EXPECT_EQ(b.CellText(2, 3), "FALSE");
  EXPECT_FALSE(b.SetUpdateFlag(0, true));

  // Reordering never crosses the boot loader's row, nor the last entry.
  EXPECT_FALSE(b.MoveUp(1));
  EXPECT_FALSE(b.MoveUp(0));
  EXPECT_FALSE(b.MoveDown(0));
  EXPECT_FALSE(b.MoveDown(2));
  EXPECT_TRUE(b.MoveDown(1));
  EXPECT_EQ(b.Entry(1).path, "/d/sub0A.bin");
  EXPECT_EQ(b.Entry(2).path, "/d/sub01.bin");
  EXPECT_TRUE(b.MoveUp(2));
  EXPECT_EQ(b.Entry(1).path, "/d/sub01.bin");
  EXPECT_EQ(b.Entry(0).path, "/b/SPIHEAD.BIN");

  // Delete: a sub-code and the later ones move up; on the boot loader's row
  // only the boot loader is forgotten.
  EXPECT_TRUE(b.DeleteEntry(1));
  EXPECT_EQ(b.SubCodeCount(), 1);
  EXPECT_EQ(b.Entry(1).path, "/d/sub0A.bin");
  EXPECT_FALSE(b.DeleteEntry(2));
  EXPECT_TRUE(b.DeleteEntry(0));
  EXPECT_EQ(b.Entry(0).path, "");
  EXPECT_EQ(b.SubCodeCount(), 1);
  EXPECT_FALSE(b.DeleteEntry(0));
  EXPECT_EQ(b.CellText(1, 1), "");

  // The eleventh sub-code is not taken, and the text names it.
  for (int i = 0; i < 9; ++i) b.AddFiles({"/e/x" + std::to_string(i) + "1.bin"});
  EXPECT_EQ(b.SubCodeCount(), 10);
  EXPECT_EQ(b.AddFiles({"/e/eleven.bin", "/e/spihead.bin"}),
            "An image holds at most 10 sub-codes: /e/eleven.bin was not added.");
  EXPECT_EQ(b.SubCodeCount(), 10);
  EXPECT_EQ(b.Entry(0).path, "/e/spihead.bin");
  const std::string two = b.AddFiles({"/e/a.bin", "/e/b.bin"});
  EXPECT_NE(two.find("these 2 files were not added:\n/e/a.bin\n/e/b.bin"), std::string::npos) << two;
}

TEST(ImageBuilderSave, WritesTheWholeImageAndRefusesAFolder) {
  const auto dir = TestDir();
  const std::vector<uint8_t> image = Pattern(0x80000, 4);
  const std::string name = BinFileName((dir / "out.dat").string());
  ASSERT_TRUE(SaveImageFile(name, image).ok());
  std::ifstream in(name, std::ios::binary);
  const std::vector<uint8_t> back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(back, image);
  std::filesystem::create_directories(dir / "folder.bin");
  EXPECT_FALSE(SaveImageFile((dir / "folder.bin").string(), image).ok());
  EXPECT_FALSE(SaveImageFile((dir / "missing" / "x.bin").string(), image).ok());
  std::filesystem::remove_all(dir);
}

// A built image is what the Upgrade page loads: it passes the check and is
// written into the simulated enclosure's flash byte for byte.
TEST(ImageBuilderUpgrade, ABuiltImageUpgradesTheSimulatedEnclosure) {
  Harness h(R"({"enclosures":[{"name":"E1","transport":"read58"}],"disks":[{"drive":0,"enclosure":"E1"}]})");
  h.RunFor(2000);
  ASSERT_EQ(h.core.Devices().DeviceCount, 1);
  FirmwareUpgrade up(h.core, h.view);

  FileSet fs;
  fs.files["/fw/SPIHEAD.BIN"] = BootLoader();
  fs.files["/fw/main01.bin"] = Pattern(0xA000, 5);
  fs.files["/fw/aux02.bin"] = Pattern(0x3000, 6);
  ImageBuilder b;
  b.AddFiles({"/fw/SPIHEAD.BIN", "/fw/main01.bin", "/fw/aux02.bin"});
  FillerGenerator gen(2024);
  BuildResult r = b.Assemble({}, gen, fs.Factory());
  ASSERT_TRUE(r.ok) << r.error.text;
  ASSERT_TRUE(r.passesUpgradeCheck);
  const std::vector<uint8_t> image = r.image;
  ASSERT_TRUE(up.UseBuiltImage(std::move(r.image), "/out/fw.bin"));
  EXPECT_EQ(up.Model.FileNameText, "/out/fw.bin");
  EXPECT_EQ(h.view.panels[0], ChecksumText(ImageByteSum(image)));

  EXPECT_EQ(up.UpgradeClick(), UpgradeOutcome::Succeeded);
  EXPECT_EQ(h.view.panels[4], "SPI Verify OK");
  auto& flash = h.Enc().Flash();
  for (uint32_t a = 0; a < kFlashImageLength; ++a) ASSERT_EQ(flash.Peek(a), image[a]) << a;

  // An image the check refuses leaves no image loaded, as a refused file does.
  std::vector<uint8_t> wrong = image;
  wrong[0x78001] = 0xA1;
  EXPECT_FALSE(up.UseBuiltImage(wrong, ""));
  EXPECT_FALSE(up.ImageLoaded());
  // Never under a running operation.
  OperationLease lease = h.core.BeginOperation();
  EXPECT_FALSE(up.UseBuiltImage(image, ""));
  h.core.EndOperation(lease);
}

}  // namespace
}  // namespace raid::test
