#include "app/raidctl/make_image.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <optional>

#include <CLI/CLI.hpp>

#include "app/common/command_line.h"
#include "maintenance/image_builder.h"
#include "platform/clock.h"

namespace raid {
namespace {

constexpr int kExitFailed = 1, kExitUsage = 2;

// FILE[:TYPE][:keep] (keep in any case), read from the right so that a path
// may hold a colon (C:\fw\x.bin).
bool ParseSub(const std::string& text, SubSpec& s, std::string& error) {
  s.path = text;
  size_t colon = s.path.rfind(':');
  auto isKeep = [](std::string t) {
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t == "keep";
  };
  if (colon != std::string::npos && isKeep(s.path.substr(colon + 1))) {
    s.keep = true;
    s.path.resize(colon);
    colon = s.path.rfind(':');
  }
  if (colon != std::string::npos) {
    const std::string tail = s.path.substr(colon + 1);
    if (!tail.empty() && tail.find_first_of("/\\") == std::string::npos) {
      s.type = tail;
      s.path.resize(colon);
    }
  }
  if (s.path.empty()) {
    error = "--sub needs a file: --sub FILE[:TYPE][:keep], not \"" + text + "\"";
    return false;
  }
  return true;
}

const char* OptionOf(BuilderField f) {
  switch (f) {
    case BuilderField::FanSupported: return "--fan";
    case BuilderField::FanLimit: return "--fan-limit";
    case BuilderField::ThermalSupported: return "--thermal";
    case BuilderField::ThermalLimit: return "--thermal-limit";
    case BuilderField::Size: return "--size";
    case BuilderField::None: break;
  }
  return "";
}

std::string Hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%X", static_cast<unsigned>(v));
  return b;
}

int Fail(const std::string& text, int code) {
  std::fprintf(stderr, "raidctl: %s\n", text.c_str());
  return code;
}

}  // namespace

void MakeImageTable::Add(CommandLine& line, CLI::App& root) {
  CLI::App& make =
      line.Command(root, "make-image", "build a firmware image as the \"Make Bin\" window does (no enclosure needed)");
  line.Value(make, "--boot", boot_, "FILE", "the boot loader");
  line.Values(make, "--sub", subs_, "FILE[:TYPE][:keep]",
              "a sub-code, its code type (else from the file's name), keep: not updated");
  line.Value(make, "-o,--output", out_, "OUT", "the image file to write (it gets the extension .bin)");
  line.Choice(make, "--size", size_, {"auto", "1M", "2M", "4M", "8M"}, "the image's size (default: auto)");
  line.Flag(make, "--no-jumper", noJumper_, "the jumper setting off");
  line.Flag(make, "--no-chip", noChip_, "the chip setting off");
  line.Value(make, "--fan", fan_, "N", "fan supported");
  line.Value(make, "--fan-limit", fanLimit_, "RPM", "the fan alarm limit");
  line.Value(make, "--thermal", thermal_, "N", "thermal sensor supported");
  line.Value(make, "--thermal-limit", thermalLimit_, "C", "the temperature alarm limit");
  line.Flag(make, "--schedule-backup", scheduleBackup_, "the schedule backup on");
  line.Flag(make, "--fast-backup", fastBackup_, "the fast backup on");
  line.Value(make, "--seed", seed_, "N", "repeat a build's filler bytes (the seed it printed)");
}

std::string MakeImageTable::Finish(const CommandLine& line, MakeOptions& o) const {
  o = {};
  std::string error;
  o.boot = boot_;
  if (line.Given("--boot") && o.boot.empty()) return "--boot needs a file";
  o.out = out_;
  if (line.Given("--output") && o.out.empty()) return "-o needs a file name";
  for (const std::string& v : subs_) {
    SubSpec s;
    if (!ParseSub(v, s, error)) return error;
    o.subs.push_back(s);
  }
  if (line.Given("--size")) {
    static const char* const names[] = {"1M", "2M", "4M", "8M"};
    if (size_ == "auto") {
      o.settings.autoSize = true;
    } else {
      o.settings.autoSize = false;
      for (int k = 0; k < 4; ++k)
        if (size_ == names[k]) o.settings.sizeChoice = k;
      if (o.settings.sizeChoice < 0) return "--size takes auto, 1M, 2M, 4M or 8M, not \"" + size_ + "\"";
    }
  }
  if (line.Given("--seed")) {
    const Expected<uint32_t> seed = ReadNumberText(seed_, 0xFFFFFFFFu);
    if (!seed) return "--seed: " + seed.error();
    o.seed = *seed;
  }
  if (line.Given("--fan")) o.settings.fanSupported = fan_;
  if (line.Given("--fan-limit")) o.settings.fanLimit = fanLimit_;
  if (line.Given("--thermal")) o.settings.thermalSupported = thermal_;
  if (line.Given("--thermal-limit")) o.settings.thermalLimit = thermalLimit_;
  if (noJumper_) o.settings.jumper = false;
  if (noChip_) o.settings.chip = false;
  if (scheduleBackup_) o.settings.scheduleBackup = true;
  if (fastBackup_) o.settings.fastBackup = true;
  if (o.boot.empty()) return "make-image needs the boot loader: --boot FILE";
  if (o.out.empty()) return "make-image needs the file to write: -o OUT";
  // A folder would give a file beside it ("/tmp" -> "/tmp.bin") or one
  // with no name ("dir/" -> "dir/.bin").
  std::error_code ec;
  if (o.out.back() == '/' || o.out.back() == '\\' || std::filesystem::is_directory(o.out, ec))
    return "-o " + o.out + " is a folder: name the image file to write";
  return {};
}

int RunMakeImage(const MakeOptions& o) {
  ImageBuilder builder;
  builder.SetBootLoader(o.boot);
  for (const SubSpec& s : o.subs) {
    if (!builder.AddSubCode(s.path, CodeTypeFromName(s.path), s.keep ? 0 : 1))
      return Fail(ImageBuilder::TooManyText(s.path), kExitUsage);
    if (s.type.empty()) continue;
    if (const Outcome set = builder.SetCodeType(builder.SubCodeCount(), s.type); !set)
      return Fail("--sub " + s.path + ": " + set.error(), kExitUsage);
  }

  uint32_t seed = 0;
  if (o.seed) {
    seed = *o.seed;
  } else {
    SystemClock clock;
    seed = SeedFromTime(clock.Now());
  }
  FillerGenerator filler(seed);
  auto readers = [] { return MakeFileImageReader(); };
  const BuildResult r = builder.Assemble(o.settings, filler, readers);
  if (!r.ok) {
    std::string text = r.error.text;
    if (!r.detail.empty() && text.find(r.detail) == std::string::npos) text += ": " + r.detail;
    if (r.field != BuilderField::None) return Fail(std::string(OptionOf(r.field)) + ": " + text, kExitUsage);
    return Fail(text, kExitFailed);
  }
  for (const auto& w : r.warnings) std::fprintf(stderr, "raidctl: warning: %s\n", w.c_str());

  std::printf("Boot loader: %s, configuration block at %s\n", o.boot.c_str(), Hex(r.configOffset).c_str());
  for (int j = 1; j <= builder.SubCodeCount(); ++j) {
    const BuilderEntry& e = builder.Entry(j);
    std::printf("Sub-code %d: %s, code type %sh, %s, slot %s\n", j, e.path.c_str(), HexByteText(e.codeType).c_str(),
                e.updateFlag ? "update" : "keep", Hex(kSlotSize * static_cast<uint32_t>(j)).c_str());
  }
  std::printf("Image: %u bytes (%s), filler seed %u\n", static_cast<unsigned>(r.size),
              o.settings.autoSize ? "auto" : kImageSizeNames[static_cast<size_t>(o.settings.sizeChoice)],
              static_cast<unsigned>(seed));

  const std::string name = BinFileName(o.out);
  const Outcome saved = SaveImageFile(name, r.image);
  if (!saved.ok())
    return Fail(std::string(builder_text::kCreateFailed) + ": " + name + " (" + saved.error() + ")", kExitFailed);
  std::printf("%s%s\n", builder_text::kSaved, name.c_str());
  return 0;
}

}  // namespace raid
