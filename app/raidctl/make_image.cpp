#include "app/raidctl/make_image.h"

#include <cctype>
#include <cstdio>
#include <optional>

#include "maintenance/image_builder.h"
#include "platform/clock.h"

namespace raid {
namespace {

constexpr int kExitFailed = 1, kExitUsage = 2;

struct SubSpec {
  std::string path;
  std::string type;  // empty: from the file's name
  bool keep = false;
};

struct MakeOptions {
  std::string boot;
  std::vector<SubSpec> subs;
  std::string out;
  std::optional<uint32_t> seed;
  BuilderSettings settings;
  bool help = false;
  std::string error;
};

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

MakeOptions ParseMake(const std::vector<std::string>& args) {
  MakeOptions o;
  bool seen[8] = {};
  auto once = [&](int slot, const std::string& name) {
    if (seen[slot]) o.error = name + " is given twice";
    seen[slot] = true;
    return o.error.empty();
  };
  for (size_t i = 2; i < args.size() && o.error.empty(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) {
        o.error = a + " needs a value";
        return std::nullopt;
      }
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--boot") {
      if (auto v = value(); v && once(0, a)) o.boot = *v;
      if (o.error.empty() && o.boot.empty()) o.error = "--boot needs a file";
    } else if (a == "-o" || a == "--output") {
      if (auto v = value(); v && once(1, "-o")) o.out = *v;
      if (o.error.empty() && o.out.empty()) o.error = "-o needs a file name";
    } else if (a == "--sub") {
      if (auto v = value()) {
        SubSpec s;
        if (ParseSub(*v, s, o.error)) o.subs.push_back(s);
      }
    } else if (a == "--size") {
      if (auto v = value(); v && once(2, a)) {
        static const char* const names[] = {"1M", "2M", "4M", "8M"};
        if (*v == "auto") {
          o.settings.autoSize = true;
        } else {
          o.settings.autoSize = false;
          for (int k = 0; k < 4; ++k)
            if (*v == names[k]) o.settings.sizeChoice = k;
          if (o.settings.sizeChoice < 0) o.error = "--size takes auto, 1M, 2M, 4M or 8M, not \"" + *v + "\"";
        }
      }
    } else if (a == "--seed") {
      if (auto v = value(); v && once(3, a)) {
        const Expected<uint32_t> seed = ReadNumberText(*v, 0xFFFFFFFFu);
        if (seed)
          o.seed = *seed;
        else
          o.error = "--seed: " + seed.error();
      }
    } else if (a == "--fan") {
      if (auto v = value(); v && once(4, a)) o.settings.fanSupported = *v;
    } else if (a == "--fan-limit") {
      if (auto v = value(); v && once(5, a)) o.settings.fanLimit = *v;
    } else if (a == "--thermal") {
      if (auto v = value(); v && once(6, a)) o.settings.thermalSupported = *v;
    } else if (a == "--thermal-limit") {
      if (auto v = value(); v && once(7, a)) o.settings.thermalLimit = *v;
    } else if (a == "--no-jumper") {
      o.settings.jumper = false;
    } else if (a == "--no-chip") {
      o.settings.chip = false;
    } else if (a == "--schedule-backup") {
      o.settings.scheduleBackup = true;
    } else if (a == "--fast-backup") {
      o.settings.fastBackup = true;
    } else {
      o.error = "make-image does not take \"" + a + "\"";
    }
  }
  if (o.help || !o.error.empty()) return o;
  if (o.boot.empty())
    o.error = "make-image needs the boot loader: --boot FILE";
  else if (o.out.empty())
    o.error = "make-image needs the file to write: -o OUT";
  return o;
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

std::string MakeImageUsage() {
  return "  make-image --boot FILE [--sub FILE[:TYPE][:keep]]... -o OUT\n"
         "             [--size auto|1M|2M|4M|8M] [--no-jumper] [--no-chip] [--fan N] [--fan-limit RPM]\n"
         "             [--thermal N] [--thermal-limit C] [--schedule-backup] [--fast-backup] [--seed N]\n"
         "                                  build a firmware image as the \"Make Bin\" window does; OUT gets\n"
         "                                  the extension .bin; --seed repeats a build's filler bytes\n";
}

int RunMakeImage(const std::vector<std::string>& args) {
  const MakeOptions o = ParseMake(args);
  if (o.help) {
    std::fputs(("usage: raidctl make-image ...\n" + MakeImageUsage()).c_str(), stdout);
    return 0;
  }
  if (!o.error.empty()) {
    std::fprintf(stderr, "raidctl: %s\nusage:\n%s", o.error.c_str(), MakeImageUsage().c_str());
    return kExitUsage;
  }

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
