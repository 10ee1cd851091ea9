#include "sim/scenario.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "device/device_state.h"
#include "device/record_layout.h"

namespace raid::sim {

using nlohmann::json;

namespace {

constexpr size_t kRecordSize = std::tuple_size_v<Sector>;
constexpr int kMaxNesting = 16;  // a scenario needs five levels

enum class FieldType { Number, AtaText, Ascii, Ring };
struct Field {
  const char* name;
  size_t offset;
  size_t width;
  FieldType type;
};

constexpr Field kStatusFields[] = {
    {"configVersion", 1, 1, FieldType::Number},
    {"options", status::kOptions, 1, FieldType::Number},
    {"mode", status::kMode, 1, FieldType::Number},
    {"hdd1Serial", status::kHdd1Serial, 20, FieldType::AtaText},
    {"hdd2Serial", status::kHdd2Serial, 20, FieldType::AtaText},
    {"capacity", status::kCapacity, 5, FieldType::Number},
    {"state", status::kState, 1, FieldType::Number},
    {"activity", status::kActivity, 1, FieldType::Number},
    {"progress", status::kProgress, 1, FieldType::Number},
    {"config", status::kConfig, 3, FieldType::Ascii},
    {"hdd1Model", status::kHdd1Model, 40, FieldType::AtaText},
    {"hdd1Capacity", status::kHdd1Capacity, 6, FieldType::Number},
    {"hdd2Model", status::kHdd2Model, 40, FieldType::AtaText},
    {"hdd2Capacity", status::kHdd2Capacity, 6, FieldType::Number},
    {"environment", status::kEnvironment, 1, FieldType::Number},
    {"fan", status::kFanRpm, 2, FieldType::Number},
    {"temperature", status::kTemperature, 1, FieldType::Number},
    {"linkSpeed", status::kLinkSpeed, 1, FieldType::Number},
    {"memberModel", status::kMemberModel, 40, FieldType::AtaText},
    {"badCount", status::kBadCount, 1, FieldType::Number},
    {"badRing", status::kBadRing, 40, FieldType::Ring},
};

// The parser's own way out of any depth of the document; ParseScenario
// turns it into its error, so it never leaves this file.
struct ScenarioError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) { throw ScenarioError(where + ": " + what); }

// Field paths as the error messages name them: "timeline[3].set.raw[0].offset".
std::string Key(const std::string& where, const std::string& key) { return where.empty() ? key : where + "." + key; }
std::string Item(const std::string& where, size_t i) { return where + "[" + std::to_string(i) + "]"; }

// Refuses every key of an object that is not one of `allowed`.
void OnlyKeys(const json& j, const std::string& where, std::initializer_list<const char*> allowed) {
  for (auto it = j.begin(); it != j.end(); ++it) {
    const std::string& key = it.key();
    if (std::none_of(allowed.begin(), allowed.end(), [&](const char* a) { return key == a; })) {
      std::string list;
      for (const char* a : allowed) list += std::string(list.empty() ? "" : ", ") + a;
      Fail(Key(where, key), "unknown key (allowed here: " + list + ")");
    }
  }
}

const json& Object(const json& j, const std::string& where) {
  if (!j.is_object()) Fail(where, "expected an object {...}");
  return j;
}

const json& List(const json& j, const std::string& where, size_t max) {
  if (!j.is_array()) Fail(where, "expected a list [...]");
  if (j.size() > max) Fail(where, "more than " + std::to_string(max) + " entries");
  return j;
}

std::string Text(const json& j, const std::string& where, size_t maxBytes) {
  if (!j.is_string()) Fail(where, "expected text in quotes");
  const auto& t = j.get_ref<const std::string&>();
  if (t.size() > maxBytes) Fail(where, "longer than " + std::to_string(maxBytes) + " characters");
  return t;
}

bool Flag(const json& j, const std::string& where) {
  if (!j.is_boolean()) Fail(where, "expected true or false");
  return j.get<bool>();
}

// A whole number from 0 to max: a JSON number, or text in decimal or
// 0x-prefixed hex. Text with a sign, blanks or a leading zero (octal or
// decimal?) is refused, and so is anything that does not fit 64 bits.
uint64_t Whole(const json& v, const std::string& where, uint64_t max) {
  uint64_t n = 0;
  if (v.is_number_unsigned()) {
    n = v.get<uint64_t>();
  } else if (v.is_number_integer()) {
    const auto i = v.get<int64_t>();
    if (i < 0) Fail(where, "must not be negative");
    n = static_cast<uint64_t>(i);
  } else if (v.is_number_float()) {
    // The parser keeps a whole number too large for 64 bits as a float.
    const double d = v.get<double>();
    if (d == std::floor(d) && d >= 18446744073709551616.0) Fail(where, "above " + std::to_string(max));
    Fail(where, "expected a whole number");
  } else if (v.is_string()) {
    const auto& s = v.get_ref<const std::string&>();
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const size_t first = hex ? 2 : 0;
    const unsigned base = hex ? 16 : 10;
    bool ok = !s.empty() && (hex || s == "0" || s[0] != '0');
    for (size_t i = first; ok && i < s.size(); ++i) {
      const char c = s[i];
      unsigned d;
      if (c >= '0' && c <= '9')
        d = static_cast<unsigned>(c - '0');
      else if (hex && c >= 'a' && c <= 'f')
        d = static_cast<unsigned>(c - 'a' + 10);
      else if (hex && c >= 'A' && c <= 'F')
        d = static_cast<unsigned>(c - 'A' + 10);
      else {
        ok = false;
        break;
      }
      if (n > (std::numeric_limits<uint64_t>::max() - d) / base) Fail(where, "too large: \"" + s + "\"");
      n = n * base + d;
    }
    if (!ok) {
      if (!s.empty() && s[0] == '-') Fail(where, "must not be negative: \"" + s + "\"");
      Fail(where, "not a whole number: \"" + s + "\" (write 12 or 0x0C)");
    }
  } else {
    Fail(where, "expected a whole number");
  }
  if (n > max) Fail(where, "above " + std::to_string(max));
  return n;
}

// A physical drive number.
int Drive(const json& v, const std::string& where) {
  const uint64_t d = Whole(v, where, std::numeric_limits<uint64_t>::max());
  if (d >= static_cast<uint64_t>(kPhysicalDrives)) Fail(where, "physical drives are 0-9");
  return static_cast<int>(d);
}

// Seconds of program time: a number from 0 to ten years.
double Seconds(const json& v, const std::string& where) {
  if (!v.is_number()) Fail(where, "expected seconds as a number");
  const double d = v.get<double>();
  if (std::isnan(d) || d < 0) Fail(where, "must not be negative");
  if (d > kMaxScenarioSeconds)
    Fail(where, "more than ten years (" + std::to_string(static_cast<uint64_t>(kMaxScenarioSeconds)) + " s)");
  return d;
}

uint8_t DriveNibble(const json& v, const std::string& where) {
  const std::string state = v.is_string() ? v.get<std::string>() : "";
  if (state == "absent") return status::kAbsent;
  if (state == "present") return status::kPresent;
  if (state == "failed") return status::kFailed;
  if (state == "inserted") return status::kInserted;
  if (state == "none") return 0;
  Fail(where, "drive state must be absent, present, failed, inserted or none");
}

const Field* FindField(const std::string& name) {
  for (const auto& c : kStatusFields)
    if (name == c.name) return &c;
  return nullptr;
}

uint64_t FieldMax(const Field& f) {
  return f.width >= 8 ? std::numeric_limits<uint64_t>::max() : (uint64_t{1} << (8 * f.width)) - 1;
}

// The patch that stores one number field.
TimelineEvent NumberPatch(const Field& f, uint64_t n) {
  TimelineEvent e;
  e.offset = f.offset;
  e.bytes.assign(f.width, 0);
  StoreLE(e.bytes, 0, f.width, n);
  return e;
}

// Turns one "set" object into byte patches of the status record. Every
// patch lies inside the 512-byte record.
std::vector<TimelineEvent> Patches(const json& set, const std::string& where) {
  Object(set, where);
  std::vector<TimelineEvent> out;
  for (const auto& [key, value] : set.items()) {
    const std::string w = Key(where, key);
    TimelineEvent e;
    if (key == "hdd1" || key == "hdd2") {
      const uint8_t nib = DriveNibble(value, w);
      const bool second = key == "hdd2";
      e.offset = status::kState;
      e.bytes = {static_cast<uint8_t>(second ? nib << 4 : nib)};
      e.mask = second ? 0xF0 : 0x0F;
      out.push_back(e);
      continue;
    }
    if (key == "raw") {
      List(value, w, kRecordSize);
      for (size_t i = 0; i < value.size(); ++i) {
        const std::string wi = Item(w, i);
        const json& r = Object(value[i], wi);
        OnlyKeys(r, wi, {"offset", "bytes"});
        if (!r.contains("offset") || !r.contains("bytes")) Fail(wi, "needs offset and bytes");
        TimelineEvent p;
        p.offset = static_cast<size_t>(Whole(r["offset"], Key(wi, "offset"), kRecordSize - 1));
        const json& bytes = List(r["bytes"], Key(wi, "bytes"), kRecordSize);
        // Compared without adding, so no sum can wrap.
        if (bytes.size() > kRecordSize - p.offset)
          Fail(Key(wi, "bytes"), "runs past the end of the 512-byte record (offset " + std::to_string(p.offset) +
                                     " + " + std::to_string(bytes.size()) + " bytes)");
        for (size_t k = 0; k < bytes.size(); ++k)
          p.bytes.push_back(static_cast<uint8_t>(Whole(bytes[k], Item(Key(wi, "bytes"), k), 255)));
        out.push_back(p);
      }
      continue;
    }
    const Field* f = FindField(key);
    if (!f) Fail(w, "unknown status field");
    switch (f->type) {
      case FieldType::Number: {
        const uint64_t n = Whole(value, w, std::numeric_limits<uint64_t>::max());
        if (n > FieldMax(*f))
          Fail(w, "too large for " + std::to_string(f->width) + " byte" + (f->width > 1 ? "s" : "") + " (at most " +
                      std::to_string(FieldMax(*f)) + ")");
        e = NumberPatch(*f, n);
        break;
      }
      case FieldType::AtaText:
      case FieldType::Ascii: {
        const std::string t = Text(value, w, f->width);
        Sector tmp{};
        if (f->type == FieldType::AtaText) {
          PutAtaString(tmp, 0, f->width, t);
        } else {
          std::fill(tmp.begin(), tmp.begin() + f->width, ' ');
          std::copy(t.begin(), t.end(), tmp.begin());
        }
        e.offset = f->offset;
        e.bytes.assign(tmp.begin(), tmp.begin() + f->width);
        break;
      }
      case FieldType::Ring: {
        List(value, w, 10);
        e.offset = f->offset;
        e.bytes.assign(f->width, 0);
        for (size_t i = 0; i < value.size(); ++i)
          StoreLE(e.bytes, i * 4, 4, Whole(value[i], Item(w, i), 0xFFFFFFFFULL));
        break;
      }
    }
    out.push_back(e);
  }
  return out;
}

void ApplyPatches(Sector& s, const std::vector<TimelineEvent>& patches) {
  for (const auto& p : patches) {
    if (p.offset >= s.size() || p.bytes.size() > s.size() - p.offset) continue;  // refused when parsed
    for (size_t i = 0; i < p.bytes.size(); ++i) {
      uint8_t& b = s[p.offset + i];
      b = static_cast<uint8_t>((b & ~p.mask) | (p.bytes[i] & p.mask));
    }
  }
}

EnclosureTransport ParseTransport(const json& v, const std::string& where) {
  const std::string t = v.is_string() ? v.get<std::string>() : "";
  if (t == "read58") return EnclosureTransport::Read58;
  if (t == "ata") return EnclosureTransport::AtaIdentify;
  if (t == "vendor1") return EnclosureTransport::VendorOneFe;
  if (t == "vendor2") return EnclosureTransport::VendorTwoFe;
  Fail(where, "transport must be read58, ata, vendor1 or vendor2");
}

// Exactly "YYYY-MM-DD hh:mm:ss", a real calendar date from 1970 to 9999.
LocalDateTime ParseDateTime(const json& v, const std::string& where) {
  const std::string s = Text(v, where, 64);
  static constexpr char kForm[] = "dddd-dd-dd dd:dd:dd";
  bool ok = s.size() == sizeof(kForm) - 1;
  for (size_t i = 0; ok && i < s.size(); ++i) ok = kForm[i] == 'd' ? (s[i] >= '0' && s[i] <= '9') : s[i] == kForm[i];
  if (!ok) Fail(where, "expected \"YYYY-MM-DD hh:mm:ss\"");
  auto num = [&](size_t at, size_t n) {
    int x = 0;
    for (size_t i = at; i < at + n; ++i) x = x * 10 + (s[i] - '0');
    return x;
  };
  LocalDateTime t;
  t.year = num(0, 4);
  t.month = num(5, 2);
  t.day = num(8, 2);
  t.hour = num(11, 2);
  t.minute = num(14, 2);
  t.second = num(17, 2);
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
  if (t.year < 1970 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > kDays[t.month - 1] ||
      (t.month == 2 && t.day == 29 && !leap) || t.hour > 23 || t.minute > 59 || t.second > 59)
    Fail(where, "no such date and time (expected \"YYYY-MM-DD hh:mm:ss\" from 1970 on)");
  return t;
}

FaultSpec ParseFault(const json& j, const std::string& where) {
  Object(j, where);
  OnlyKeys(j, where, {"kind", "mode", "drive", "count", "after", "from", "until"});
  FaultSpec f;
  static const char* kinds[] = {"open", "read10", "write10", "inquiry", "vendor",
                                "ata",  "rescan", "extents", "scsi",    "any"};
  static const char* modes[] = {"fail", "hang", "short", "corrupt", "flip", "drop-write"};
  if (j.contains("kind")) f.kind = Text(j["kind"], Key(where, "kind"), 16);
  if (j.contains("mode")) f.mode = Text(j["mode"], Key(where, "mode"), 16);
  if (std::find_if(std::begin(kinds), std::end(kinds), [&](const char* k) { return f.kind == k; }) == std::end(kinds))
    Fail(Key(where, "kind"), "unknown request kind \"" + f.kind + "\"");
  if (std::find_if(std::begin(modes), std::end(modes), [&](const char* k) { return f.mode == k; }) == std::end(modes))
    Fail(Key(where, "mode"), "unknown fault mode \"" + f.mode + "\"");
  if (j.contains("drive")) f.drive = Drive(j["drive"], Key(where, "drive"));
  if (j.contains("count")) f.count = static_cast<int>(Whole(j["count"], Key(where, "count"), kMaxFaultCount));
  if (j.contains("after")) f.after = static_cast<int>(Whole(j["after"], Key(where, "after"), kMaxFaultCount));
  if (j.contains("from")) f.from = Seconds(j["from"], Key(where, "from"));
  if (j.contains("until")) {
    f.until = Seconds(j["until"], Key(where, "until"));
    if (f.until <= f.from) Fail(Key(where, "until"), "must be later than from");
  }
  return f;
}

EnclosureSpec MakeEnclosure(const std::string& name, EnclosureTransport tr, const std::string& model,
                            const std::string& firmware) {
  EnclosureSpec e;
  e.name = name;
  e.transport = tr;
  PutAtaString(e.ident, ident::kModel, ident::kModelLen, model);
  PutAtaString(e.ident, ident::kFirmware, ident::kFirmwareLen, firmware);
  e.ident[ident::kSignature] = ident::kSig0;
  e.ident[ident::kSignature + 1] = ident::kSig1;
  // A healthy RAID1 pair of 1 TB drives.
  Sector& s = e.status;
  s[1] = 0xA0;  // configuration version: the controller takes images made for it
  s[status::kOptions] = 0x01;
  s[status::kMode] = 1;
  PutAtaString(s, status::kHdd1Serial, 20, "WD-WCC3F0123456");
  PutAtaString(s, status::kHdd2Serial, 20, "Z1D2X3C4");
  StoreLE(s, status::kCapacity, 5, 1953525168ULL);
  s[status::kState] = status::kBothPresent;
  s[status::kConfig] = 'A';
  s[status::kConfig + 1] = '1';
  s[status::kConfig + 2] = '2';
  PutAtaString(s, status::kHdd1Model, 40, "WDC WD10EZEX-00BN5A0");
  StoreLE(s, status::kHdd1Capacity, 6, 1953525168ULL);
  PutAtaString(s, status::kHdd2Model, 40, "ST1000DM003-1SB102");
  StoreLE(s, status::kHdd2Capacity, 6, 1953525168ULL);
  s[status::kEnvironment] = 0xA0;
  StoreLE(s, status::kFanRpm, 2, 2400);
  s[status::kTemperature] = 38;
  s[status::kLinkSpeed] = 0x22;
  return e;
}

}  // namespace

void PutAtaString(Sector& s, size_t offset, size_t width, const std::string& text) {
  if (offset + width > s.size()) return;
  for (size_t i = 0; i < width; ++i) {
    const char c = i < text.size() ? text[i] : ' ';
    s[offset + (i ^ 1)] = static_cast<uint8_t>(c);
  }
}

ScenarioSpec DefaultScenario() {
  ScenarioSpec sc;
  sc.enclosures.push_back(MakeEnclosure("E1", EnclosureTransport::Read58, "Two-bay RAID", "100607.1"));
  sc.disks[0].kind = DiskKind::Enclosure;
  sc.disks[0].enclosure = "E1";
  VolumeSpec v;
  v.letter = 'E';
  v.drive = 0;
  v.length = 1953525168ULL * 512 - 1048576;
  sc.volumes.push_back(v);
  return sc;
}

namespace {

// Parses JSON text, refusing a key repeated within one object (the parser
// would keep only the last one) and nesting deeper than any scenario needs.
json ParseJson(const std::string& text) {
  struct Level {
    bool array = false;
    size_t index = 0;  // an array's elements read so far
    std::string key;   // an object's key being read
    std::set<std::string> keys;
  };
  std::vector<Level> levels;
  auto path = [&] {
    std::string p;
    for (const auto& l : levels) p = l.array ? Item(p, l.index) : Key(p, l.key);
    return p.empty() ? std::string("scenario") : p;
  };
  auto elementDone = [&] {
    if (!levels.empty() && levels.back().array) ++levels.back().index;
  };
  const json::parser_callback_t check = [&](int depth, json::parse_event_t event, json& parsed) {
    using E = json::parse_event_t;
    switch (event) {
      case E::object_start:
      case E::array_start:
        if (depth >= kMaxNesting) Fail(path(), "nested deeper than " + std::to_string(kMaxNesting) + " levels");
        levels.push_back({event == E::array_start, 0, {}, {}});
        break;
      case E::key:
        if (!levels.empty() && !levels.back().array) {
          Level& l = levels.back();
          l.key = parsed.is_string() ? parsed.get<std::string>() : "";
          if (!l.keys.insert(l.key).second) Fail(path(), "given twice");
        }
        break;
      case E::object_end:
      case E::array_end:
        if (!levels.empty()) levels.pop_back();
        elementDone();
        break;
      case E::value: elementDone(); break;
    }
    return true;
  };
  try {
    return json::parse(text, check);
  } catch (const json::out_of_range&) {
    // A number beyond what a double holds ("1e400"): named by its field.
    Fail(path(), "a number out of range");
  }
  return {};
}

ScenarioSpec ParseScenarioImpl(const std::string& text) {
  json root;
  try {
    root = ParseJson(text);
  } catch (const json::parse_error& e) {
    throw ScenarioError(std::string("not valid JSON: ") + e.what());
  }
  if (!root.is_object()) Fail("scenario", "the top level must be an object");
  OnlyKeys(root, "", {"clock", "seed", "timing", "enclosures", "disks", "volumes", "faults", "timeline"});
  ScenarioSpec sc;
  if (root.contains("clock")) {
    const auto& c = Object(root["clock"], "clock");
    OnlyKeys(c, "clock", {"start", "speed"});
    if (c.contains("start")) sc.start = ParseDateTime(c["start"], "clock.start");
    if (c.contains("speed")) {
      const json& v = c["speed"];
      if (!v.is_number() || !(v.get<double>() > 0) || v.get<double>() > kMaxScenarioSpeed)
        Fail("clock.speed",
             "expected a number above 0 and at most " + std::to_string(static_cast<int>(kMaxScenarioSpeed)));
      sc.speed = v.get<double>();
    }
  }
  if (root.contains("seed")) sc.seed = static_cast<uint32_t>(Whole(root["seed"], "seed", 0xFFFFFFFFULL));
  if (root.contains("timing")) {
    const auto& t = Object(root["timing"], "timing");
    OnlyKeys(t, "timing", {"roundTripMs", "blockReadMs", "pageProgramMs", "sectorEraseMs"});
    auto ms = [&](const char* k, int64_t& out) {
      if (t.contains(k)) out = static_cast<int64_t>(Whole(t[k], Key("timing", k), kMaxDeviceTimeMs));
    };
    ms("roundTripMs", sc.timing.roundTripMs);
    ms("blockReadMs", sc.timing.blockReadMs);
    ms("pageProgramMs", sc.timing.pageProgramMs);
    ms("sectorEraseMs", sc.timing.sectorEraseMs);
  }
  if (!root.contains("enclosures") || !root["enclosures"].is_array())
    Fail("enclosures", "a list of enclosures is required (it may be empty)");
  const json& enclosures = List(root["enclosures"], "enclosures", kMaxEnclosures);
  for (size_t i = 0; i < enclosures.size(); ++i) {
    const std::string w = Item("enclosures", i);
    const auto& j = Object(enclosures[i], w);
    OnlyKeys(j, w,
             {"name", "transport", "model", "firmware", "status", "answersIdentOpcode", "signature",
              "inquiryAdditionalLength"});
    if (!j.contains("name")) Fail(w, "needs a name");
    const std::string name = Text(j["name"], Key(w, "name"), 64);
    if (name.empty()) Fail(Key(w, "name"), "must not be empty");
    for (const auto& e : sc.enclosures)
      if (e.name == name) Fail(Key(w, "name"), "duplicate name \"" + name + "\"");
    const auto tr =
        j.contains("transport") ? ParseTransport(j["transport"], Key(w, "transport")) : EnclosureTransport::Read58;
    auto text = [&](const char* k, const std::string& def, size_t max) {
      return j.contains(k) ? Text(j[k], Key(w, k), max) : def;
    };
    EnclosureSpec e = MakeEnclosure(name, tr, text("model", "Two-bay RAID", 40), text("firmware", "100607.1", 8));
    if (j.contains("status")) ApplyPatches(e.status, Patches(j["status"], Key(w, "status")));
    if (j.contains("answersIdentOpcode"))
      e.answersIdentOpcode = Flag(j["answersIdentOpcode"], Key(w, "answersIdentOpcode"));
    if (j.contains("signature") && !Flag(j["signature"], Key(w, "signature"))) {
      e.ident[ident::kSignature] = 0;
      e.ident[ident::kSignature + 1] = 0;
    }
    if (j.contains("inquiryAdditionalLength"))
      e.inquiryAdditionalLength =
          static_cast<uint8_t>(Whole(j["inquiryAdditionalLength"], Key(w, "inquiryAdditionalLength"), 255));
    sc.enclosures.push_back(e);
  }
  auto known = [&](const std::string& n) {
    return std::any_of(sc.enclosures.begin(), sc.enclosures.end(), [&](const auto& e) { return e.name == n; });
  };
  auto enclosureName = [&](const json& v, const std::string& where) {
    const std::string n = Text(v, where, 64);
    if (!known(n)) Fail(where, "no enclosure named \"" + n + "\"");
    return n;
  };
  if (root.contains("disks")) {
    const json& disks = List(root["disks"], "disks", kPhysicalDrives);
    bool listed[kPhysicalDrives] = {};
    for (size_t i = 0; i < disks.size(); ++i) {
      const std::string w = Item("disks", i);
      const auto& j = Object(disks[i], w);
      OnlyKeys(j, w, {"drive", "enclosure", "inquiryAdditionalLength"});
      if (!j.contains("drive")) Fail(w, "needs a drive number");
      const auto d = static_cast<size_t>(Drive(j["drive"], Key(w, "drive")));
      if (listed[d]) Fail(Key(w, "drive"), "drive " + std::to_string(d) + " is listed twice");
      listed[d] = true;
      DiskSpec ds;
      if (j.contains("enclosure")) {
        ds.kind = DiskKind::Enclosure;
        ds.enclosure = enclosureName(j["enclosure"], Key(w, "enclosure"));
        if (j.contains("inquiryAdditionalLength"))
          Fail(Key(w, "inquiryAdditionalLength"),
               "not allowed on an enclosure's drive: its bridge answers INQUIRY, so set it on the enclosure");
      } else {
        ds.kind = DiskKind::Plain;
      }
      if (j.contains("inquiryAdditionalLength"))
        ds.inquiryAdditionalLength =
            static_cast<uint8_t>(Whole(j["inquiryAdditionalLength"], Key(w, "inquiryAdditionalLength"), 255));
      sc.disks[d] = ds;
    }
  }
  if (root.contains("volumes")) {
    const json& volumes = List(root["volumes"], "volumes", 26);
    for (size_t i = 0; i < volumes.size(); ++i) {
      const std::string w = Item("volumes", i);
      const auto& j = Object(volumes[i], w);
      OnlyKeys(j, w, {"letter", "drive", "offset", "length", "type", "name"});
      if (!j.contains("letter")) Fail(w, "needs a one-character letter");
      const std::string letter = Text(j["letter"], Key(w, "letter"), 1);
      VolumeSpec v;
      v.letter = letter.empty() ? 0 : static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0])));
      if (v.letter < 'A' || v.letter > 'Z') Fail(Key(w, "letter"), "must be A-Z");
      for (const auto& o : sc.volumes)
        if (o.letter == v.letter) Fail(Key(w, "letter"), "duplicate letter");
      if (j.contains("drive")) v.drive = Drive(j["drive"], Key(w, "drive"));
      // Byte positions on the disk are signed 64-bit numbers where they are reported.
      constexpr uint64_t kMaxByte = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
      if (j.contains("offset")) v.offset = Whole(j["offset"], Key(w, "offset"), kMaxByte);
      if (j.contains("length")) v.length = Whole(j["length"], Key(w, "length"), kMaxByte);
      if (v.length > kMaxByte - v.offset) Fail(Key(w, "length"), "offset + length beyond 2^63 - 1 bytes");
      if (j.contains("type")) v.type = static_cast<unsigned>(Whole(j["type"], Key(w, "type"), kDriveRamdisk));
      if (j.contains("name")) v.name = Text(j["name"], Key(w, "name"), 255);
      sc.volumes.push_back(v);
    }
  }
  if (root.contains("faults")) {
    const json& faults = List(root["faults"], "faults", kMaxFaults);
    for (size_t i = 0; i < faults.size(); ++i) sc.faults.push_back(ParseFault(faults[i], Item("faults", i)));
  }
  if (root.contains("timeline")) {
    const json& timeline = List(root["timeline"], "timeline", kMaxTimelineEvents);
    auto room = [&](uint64_t more, const std::string& where) {
      if (more > kMaxTimelineEvents - sc.events.size())
        Fail(where, "more than " + std::to_string(kMaxTimelineEvents) + " timeline events in all");
    };
    for (size_t i = 0; i < timeline.size(); ++i) {
      const std::string w = Item("timeline", i);
      const auto& j = Object(timeline[i], w);
      OnlyKeys(j, w, {"at", "enclosure", "set", "ramp", "plug", "unplug", "fault"});
      if (!j.contains("at")) Fail(w, "needs \"at\" (seconds)");
      const double at = Seconds(j["at"], Key(w, "at"));
      std::string action;
      for (const char* k : {"set", "ramp", "plug", "unplug", "fault"}) {
        if (!j.contains(k)) continue;
        if (!action.empty())
          Fail(w, "one of set, ramp, plug, unplug or fault per entry, not both " + action + " and " + k);
        action = k;
      }
      if (action.empty()) Fail(w, "needs one of set, ramp, plug, unplug or fault");
      const bool onEnclosure = action == "set" || action == "ramp";
      if (!onEnclosure && j.contains("enclosure"))
        Fail(Key(w, "enclosure"), "not used by " + action + " (it names its enclosure itself)");
      if (onEnclosure && !j.contains("enclosure")) Fail(Key(w, "enclosure"), "needed by " + action);
      room(1, w);
      if (action == "plug" || action == "unplug") {
        TimelineEvent e;
        e.at = at;
        e.kind = action == "plug" ? TimelineEvent::Kind::Plug : TimelineEvent::Kind::Unplug;
        e.enclosure = enclosureName(j[action], Key(w, action));
        sc.events.push_back(e);
      } else if (action == "fault") {
        TimelineEvent e;
        e.at = at;
        e.kind = TimelineEvent::Kind::Fault;
        e.fault = ParseFault(j["fault"], Key(w, "fault"));
        if (e.fault.from < at) e.fault.from = at;
        if (e.fault.until <= e.fault.from) Fail(Key(w, "fault.until"), "ends before the entry's time");
        sc.events.push_back(e);
      } else if (action == "set") {
        const std::string name = enclosureName(j["enclosure"], Key(w, "enclosure"));
        auto patches = Patches(j["set"], Key(w, "set"));
        room(patches.size(), Key(w, "set"));
        for (auto& p : patches) {
          p.at = at;
          p.enclosure = name;
          sc.events.push_back(std::move(p));
        }
      } else {
        const std::string name = enclosureName(j["enclosure"], Key(w, "enclosure"));
        const std::string wr = Key(w, "ramp");
        const auto& r = Object(j["ramp"], wr);
        OnlyKeys(r, wr, {"field", "from", "to", "step", "every"});
        if (!r.contains("field") || !r.contains("from") || !r.contains("to")) Fail(wr, "needs field, from and to");
        const Field* f = FindField(Text(r["field"], Key(wr, "field"), 64));
        if (!f || f->type != FieldType::Number) Fail(Key(wr, "field"), "not a number field of the status record");
        const uint64_t max = FieldMax(*f);
        const uint64_t from = Whole(r["from"], Key(wr, "from"), max);
        const uint64_t to = Whole(r["to"], Key(wr, "to"), max);
        if (to < from) Fail(Key(wr, "to"), "below from");
        const uint64_t step = r.contains("step") ? Whole(r["step"], Key(wr, "step"), max) : 1;
        if (step == 0) Fail(Key(wr, "step"), "must be above 0");
        const double every = r.contains("every") ? Seconds(r["every"], Key(wr, "every")) : 4.0;
        if (every <= 0) Fail(Key(wr, "every"), "must be above 0");
        // The values are from + k * step for k = 0 .. steps - 1; none passes `to`.
        const uint64_t steps = (to - from) / step + 1;
        if (steps > kMaxRampSteps) Fail(wr, "more than " + std::to_string(kMaxRampSteps) + " steps");
        room(steps, wr);
        if (at + static_cast<double>(steps - 1) * every > kMaxScenarioSeconds)
          Fail(Key(wr, "every"), "the ramp would run past ten years");
        for (uint64_t k = 0; k < steps; ++k) {
          TimelineEvent p = NumberPatch(*f, from + k * step);
          p.at = at + static_cast<double>(k) * every;
          p.enclosure = name;
          sc.events.push_back(std::move(p));
        }
      }
    }
    std::stable_sort(sc.events.begin(), sc.events.end(),
                     [](const TimelineEvent& a, const TimelineEvent& b) { return a.at < b.at; });
  }
  return sc;
}
}  // namespace

Expected<ScenarioSpec> ParseScenario(const std::string& text) {
  using Result = Expected<ScenarioSpec>;
  if (text.size() > kMaxScenarioBytes) return Result::Fail("not a scenario (over 16 MiB)");
  // The JSON reader ends its input at a NUL byte: what follows would pass
  // unread.
  if (const size_t nul = text.find('\0'); nul != std::string::npos)
    return Result::Fail("not a scenario: a NUL byte at offset " + std::to_string(nul));
  try {
    return ParseScenarioImpl(text);
  } catch (const ScenarioError& e) {
    return Result::Fail(e.what());
  } catch (const json::exception& e) {
    return Result::Fail(std::string("wrong kind of value: ") + e.what());
  }
}

Expected<ScenarioSpec> LoadScenarioFile(const std::string& path) {
  using Result = Expected<ScenarioSpec>;
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return Result::Fail(path + ": is a folder, not a scenario file");
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const bool missing = std::filesystem::symlink_status(path, ec).type() == std::filesystem::file_type::not_found;
    return Result::Fail(path + (missing ? ": does not exist" : ": cannot be opened"));
  }
  // Read as a stream, not by its size: a pipe or a device has none.
  std::string text;
  char chunk[65536];
  while (in.read(chunk, sizeof chunk), in.gcount() > 0) {
    text.append(chunk, static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxScenarioBytes) return Result::Fail(path + ": not a scenario (over 16 MiB)");
  }
  if (in.bad()) return Result::Fail(path + ": cannot be read");
  Result sc = ParseScenario(text);
  if (!sc) return Result::Fail(path + ": " + sc.error());
  return sc;
}

}  // namespace raid::sim
