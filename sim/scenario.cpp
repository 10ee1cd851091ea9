#include "sim/scenario.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "device/record_layout.h"

namespace raid::sim {

using nlohmann::json;

namespace {

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

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw ScenarioError(where + ": " + what);
}

uint64_t Number(const json& v, const std::string& where) {
  if (v.is_number_unsigned()) return v.get<uint64_t>();
  if (v.is_number_integer()) {
    const auto i = v.get<int64_t>();
    if (i < 0) Fail(where, "negative number");
    return static_cast<uint64_t>(i);
  }
  if (v.is_string()) {
    const auto s = v.get<std::string>();
    try {
      size_t used = 0;
      const uint64_t n = std::stoull(s, &used, 0);
      if (used == s.size()) return n;
    } catch (const std::exception&) {
    }
    Fail(where, "not a number: \"" + s + "\"");
  }
  Fail(where, "expected a number");
}

double Seconds(const json& v, const std::string& where) {
  if (!v.is_number()) Fail(where, "expected seconds as a number");
  const double d = v.get<double>();
  if (d < 0) Fail(where, "negative time");
  return d;
}

uint8_t DriveNibble(const std::string& state, const std::string& where) {
  if (state == "absent") return status::kAbsent;
  if (state == "present") return status::kPresent;
  if (state == "failed") return status::kFailed;
  if (state == "inserted") return status::kInserted;
  if (state == "none") return 0;
  Fail(where, "drive state must be absent, present, failed, inserted or none");
}

// Turns one "set" object into byte patches of the status record.
std::vector<TimelineEvent> Patches(const json& set, const std::string& where) {
  if (!set.is_object()) Fail(where, "\"set\" must be an object");
  std::vector<TimelineEvent> out;
  for (const auto& [key, value] : set.items()) {
    const std::string w = where + "." + key;
    TimelineEvent e;
    if (key == "hdd1" || key == "hdd2") {
      const uint8_t nib = DriveNibble(value.is_string() ? value.get<std::string>() : "", w);
      const bool second = key == "hdd2";
      e.offset = status::kState;
      e.bytes = {static_cast<uint8_t>(second ? nib << 4 : nib)};
      e.mask = second ? 0xF0 : 0x0F;
      out.push_back(e);
      continue;
    }
    if (key == "raw") {
      if (!value.is_array()) Fail(w, "expected a list of {offset, bytes}");
      for (const auto& r : value) {
        if (!r.is_object() || !r.contains("offset") || !r.contains("bytes") || !r["bytes"].is_array())
          Fail(w, "each entry needs offset and bytes");
        TimelineEvent p;
        p.offset = Number(r["offset"], w + ".offset");
        for (const auto& b : r["bytes"]) {
          const uint64_t n = Number(b, w + ".bytes");
          if (n > 255) Fail(w, "byte above 255");
          p.bytes.push_back(static_cast<uint8_t>(n));
        }
        if (p.offset + p.bytes.size() > 512) Fail(w, "past the end of the 512-byte record");
        out.push_back(p);
      }
      continue;
    }
    const Field* f = nullptr;
    for (const auto& c : kStatusFields)
      if (key == c.name) f = &c;
    if (!f) Fail(w, "unknown status field");
    e.offset = f->offset;
    e.bytes.assign(f->width, 0);
    switch (f->type) {
      case FieldType::Number: {
        const uint64_t n = Number(value, w);
        if (f->width < 8 && n >> (8 * f->width)) Fail(w, "too large for " + std::to_string(f->width) + " bytes");
        StoreLE(e.bytes, 0, f->width, n);
        break;
      }
      case FieldType::AtaText:
      case FieldType::Ascii: {
        if (!value.is_string()) Fail(w, "expected text");
        const auto t = value.get<std::string>();
        if (t.size() > f->width) Fail(w, "longer than " + std::to_string(f->width) + " characters");
        Sector tmp{};
        if (f->type == FieldType::AtaText) {
          PutAtaString(tmp, 0, f->width, t);
        } else {
          std::fill(tmp.begin(), tmp.begin() + f->width, ' ');
          std::copy(t.begin(), t.end(), tmp.begin());
        }
        std::copy(tmp.begin(), tmp.begin() + f->width, e.bytes.begin());
        break;
      }
      case FieldType::Ring: {
        if (!value.is_array() || value.size() > 10) Fail(w, "expected up to ten LBAs");
        for (size_t i = 0; i < value.size(); ++i) {
          const uint64_t n = Number(value[i], w);
          if (n > 0xFFFFFFFFULL) Fail(w, "LBA above 32 bits");
          StoreLE(e.bytes, i * 4, 4, n);
        }
        break;
      }
    }
    out.push_back(e);
  }
  return out;
}

void ApplyPatches(Sector& s, const std::vector<TimelineEvent>& patches) {
  for (const auto& p : patches) {
    for (size_t i = 0; i < p.bytes.size(); ++i) {
      uint8_t& b = s[p.offset + i];
      b = static_cast<uint8_t>((b & ~p.mask) | (p.bytes[i] & p.mask));
    }
  }
}

EnclosureTransport ParseTransport(const std::string& t, const std::string& where) {
  if (t == "read58") return EnclosureTransport::Read58;
  if (t == "ata") return EnclosureTransport::AtaIdentify;
  if (t == "vendor1") return EnclosureTransport::VendorOneFe;
  if (t == "vendor2") return EnclosureTransport::VendorTwoFe;
  Fail(where, "transport must be read58, ata, vendor1 or vendor2");
}

LocalDateTime ParseDateTime(const std::string& s, const std::string& where) {
  LocalDateTime t;
  char tail = 0;
  const int n = std::sscanf(s.c_str(), "%d-%d-%d %d:%d:%d%c", &t.year, &t.month, &t.day, &t.hour, &t.minute,
                            &t.second, &tail);
  if (n != 6 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
      t.second > 59 || t.year < 1970 || t.year > 9999)
    Fail(where, "expected \"YYYY-MM-DD hh:mm:ss\"");
  return t;
}

FaultSpec ParseFault(const json& j, const std::string& where) {
  if (!j.is_object()) Fail(where, "a fault must be an object");
  FaultSpec f;
  static const char* kinds[] = {"open", "read10", "write10", "inquiry", "vendor", "ata", "rescan", "extents", "scsi", "any"};
  static const char* modes[] = {"fail", "hang", "short", "corrupt", "flip", "drop-write"};
  if (j.contains("kind")) f.kind = j["kind"].is_string() ? j["kind"].get<std::string>() : "";
  if (j.contains("mode")) f.mode = j["mode"].is_string() ? j["mode"].get<std::string>() : "";
  if (std::find_if(std::begin(kinds), std::end(kinds), [&](const char* k) { return f.kind == k; }) == std::end(kinds))
    Fail(where + ".kind", "unknown request kind \"" + f.kind + "\"");
  if (std::find_if(std::begin(modes), std::end(modes), [&](const char* k) { return f.mode == k; }) == std::end(modes))
    Fail(where + ".mode", "unknown fault mode \"" + f.mode + "\"");
  if (j.contains("drive")) {
    const uint64_t d = Number(j["drive"], where + ".drive");
    if (d > 9) Fail(where + ".drive", "physical drives are 0-9");
    f.drive = static_cast<int>(d);
  }
  if (j.contains("count")) f.count = static_cast<int>(std::min<uint64_t>(Number(j["count"], where + ".count"), 1u << 30));
  if (j.contains("after")) f.after = static_cast<int>(std::min<uint64_t>(Number(j["after"], where + ".after"), 1u << 30));
  if (j.contains("from")) f.from = Seconds(j["from"], where + ".from");
  if (j.contains("until")) f.until = Seconds(j["until"], where + ".until");
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
ScenarioSpec ParseScenarioImpl(const std::string& text) {
  json root;
  try {
    root = json::parse(text);
  } catch (const json::parse_error& e) {
    throw ScenarioError(std::string("not valid JSON: ") + e.what());
  }
  if (!root.is_object()) Fail("scenario", "the top level must be an object");
  ScenarioSpec sc;
  if (root.contains("clock")) {
    const auto& c = root["clock"];
    if (!c.is_object()) Fail("clock", "must be an object");
    if (c.contains("start")) {
      if (!c["start"].is_string()) Fail("clock.start", "expected text");
      sc.start = ParseDateTime(c["start"].get<std::string>(), "clock.start");
    }
    if (c.contains("speed")) {
      if (!c["speed"].is_number() || c["speed"].get<double>() <= 0) Fail("clock.speed", "expected a positive number");
      sc.speed = c["speed"].get<double>();
    }
  }
  if (root.contains("seed")) sc.seed = static_cast<uint32_t>(Number(root["seed"], "seed"));
  if (root.contains("timing")) {
    const auto& t = root["timing"];
    if (!t.is_object()) Fail("timing", "must be an object");
    auto ms = [&](const char* k, int64_t& out) {
      if (t.contains(k)) out = static_cast<int64_t>(Number(t[k], std::string("timing.") + k));
    };
    ms("roundTripMs", sc.timing.roundTripMs);
    ms("blockReadMs", sc.timing.blockReadMs);
    ms("pageProgramMs", sc.timing.pageProgramMs);
    ms("sectorEraseMs", sc.timing.sectorEraseMs);
  }
  if (!root.contains("enclosures") || !root["enclosures"].is_array())
    Fail("enclosures", "a list of enclosures is required (it may be empty)");
  for (size_t i = 0; i < root["enclosures"].size(); ++i) {
    const auto& j = root["enclosures"][i];
    const std::string w = "enclosures[" + std::to_string(i) + "]";
    if (!j.is_object() || !j.contains("name") || !j["name"].is_string()) Fail(w, "needs a name");
    const std::string name = j["name"].get<std::string>();
    for (const auto& e : sc.enclosures)
      if (e.name == name) Fail(w, "duplicate name \"" + name + "\"");
    const auto tr = ParseTransport(j.value("transport", std::string("read58")), w + ".transport");
    auto text = [&](const char* k, const std::string& def, size_t max) {
      if (!j.contains(k)) return def;
      if (!j[k].is_string() || j[k].get<std::string>().size() > max)
        Fail(w + "." + k, "expected text of at most " + std::to_string(max) + " characters");
      return j[k].get<std::string>();
    };
    EnclosureSpec e = MakeEnclosure(name, tr, text("model", "Two-bay RAID", 40), text("firmware", "100607.1", 8));
    if (j.contains("status")) ApplyPatches(e.status, Patches(j["status"], w + ".status"));
    if (j.contains("answersIdentOpcode")) e.answersIdentOpcode = j["answersIdentOpcode"].get<bool>();
    if (j.contains("signature") && j["signature"] == false) {
      e.ident[ident::kSignature] = 0;
      e.ident[ident::kSignature + 1] = 0;
    }
    sc.enclosures.push_back(e);
  }
  auto known = [&](const std::string& n) {
    return std::any_of(sc.enclosures.begin(), sc.enclosures.end(), [&](const auto& e) { return e.name == n; });
  };
  if (root.contains("disks")) {
    if (!root["disks"].is_array()) Fail("disks", "must be a list");
    for (size_t i = 0; i < root["disks"].size(); ++i) {
      const auto& j = root["disks"][i];
      const std::string w = "disks[" + std::to_string(i) + "]";
      if (!j.is_object() || !j.contains("drive")) Fail(w, "needs a drive number");
      const uint64_t d = Number(j["drive"], w + ".drive");
      if (d > 9) Fail(w + ".drive", "physical drives are 0-9");
      DiskSpec ds;
      if (j.contains("enclosure")) {
        ds.kind = DiskKind::Enclosure;
        ds.enclosure = j["enclosure"].is_string() ? j["enclosure"].get<std::string>() : "";
        if (!known(ds.enclosure)) Fail(w + ".enclosure", "no enclosure named \"" + ds.enclosure + "\"");
      } else {
        ds.kind = DiskKind::Plain;
      }
      if (j.contains("inquiryAdditionalLength")) {
        const uint64_t n = Number(j["inquiryAdditionalLength"], w + ".inquiryAdditionalLength");
        if (n > 255) Fail(w + ".inquiryAdditionalLength", "above 255");
        ds.inquiryAdditionalLength = static_cast<uint8_t>(n);
      }
      sc.disks[d] = ds;
    }
  }
  if (root.contains("volumes")) {
    if (!root["volumes"].is_array()) Fail("volumes", "must be a list");
    for (size_t i = 0; i < root["volumes"].size(); ++i) {
      const auto& j = root["volumes"][i];
      const std::string w = "volumes[" + std::to_string(i) + "]";
      if (!j.is_object() || !j.contains("letter") || !j["letter"].is_string() ||
          j["letter"].get<std::string>().size() != 1)
        Fail(w, "needs a one-character letter");
      VolumeSpec v;
      v.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(j["letter"].get<std::string>()[0])));
      if (v.letter < 'A' || v.letter > 'Z') Fail(w + ".letter", "must be A-Z");
      for (const auto& o : sc.volumes)
        if (o.letter == v.letter) Fail(w + ".letter", "duplicate letter");
      if (j.contains("drive")) {
        const uint64_t d = Number(j["drive"], w + ".drive");
        if (d > 9) Fail(w + ".drive", "physical drives are 0-9");
        v.drive = static_cast<int>(d);
      }
      if (j.contains("offset")) v.offset = Number(j["offset"], w + ".offset");
      if (j.contains("length")) v.length = Number(j["length"], w + ".length");
      if (j.contains("type")) v.type = static_cast<unsigned>(Number(j["type"], w + ".type") & 0xFF);
      if (j.contains("name") && j["name"].is_string()) v.name = j["name"].get<std::string>();
      sc.volumes.push_back(v);
    }
  }
  if (root.contains("faults")) {
    if (!root["faults"].is_array()) Fail("faults", "must be a list");
    for (size_t i = 0; i < root["faults"].size(); ++i)
      sc.faults.push_back(ParseFault(root["faults"][i], "faults[" + std::to_string(i) + "]"));
  }
  if (root.contains("timeline")) {
    if (!root["timeline"].is_array()) Fail("timeline", "must be a list");
    for (size_t i = 0; i < root["timeline"].size(); ++i) {
      const auto& j = root["timeline"][i];
      const std::string w = "timeline[" + std::to_string(i) + "]";
      if (!j.is_object() || !j.contains("at")) Fail(w, "needs \"at\" (seconds)");
      const double at = Seconds(j["at"], w + ".at");
      auto encl = [&](const json& v, const std::string& ww) {
        if (!v.is_string() || !known(v.get<std::string>())) Fail(ww, "no such enclosure");
        return v.get<std::string>();
      };
      if (j.contains("plug") || j.contains("unplug")) {
        TimelineEvent e;
        e.at = at;
        e.kind = j.contains("plug") ? TimelineEvent::Kind::Plug : TimelineEvent::Kind::Unplug;
        e.enclosure = encl(j.contains("plug") ? j["plug"] : j["unplug"], w);
        sc.events.push_back(e);
      } else if (j.contains("fault")) {
        TimelineEvent e;
        e.at = at;
        e.kind = TimelineEvent::Kind::Fault;
        e.fault = ParseFault(j["fault"], w + ".fault");
        if (e.fault.from < at) e.fault.from = at;
        sc.events.push_back(e);
      } else if (j.contains("set")) {
        const std::string name = encl(j.value("enclosure", json()), w + ".enclosure");
        for (auto p : Patches(j["set"], w + ".set")) {
          p.at = at;
          p.enclosure = name;
          sc.events.push_back(p);
        }
      } else if (j.contains("ramp")) {
        const auto& r = j["ramp"];
        const std::string name = encl(j.value("enclosure", json()), w + ".enclosure");
        if (!r.is_object() || !r.contains("field") || !r.contains("from") || !r.contains("to"))
          Fail(w + ".ramp", "needs field, from and to");
        const uint64_t from = Number(r["from"], w + ".ramp.from");
        const uint64_t to = Number(r["to"], w + ".ramp.to");
        const uint64_t step = r.contains("step") ? Number(r["step"], w + ".ramp.step") : 1;
        const double every = r.contains("every") ? Seconds(r["every"], w + ".ramp.every") : 4.0;
        if (step == 0 || every <= 0) Fail(w + ".ramp", "step and every must be positive");
        if (to < from || (to - from) / step > 100000) Fail(w + ".ramp", "from must not exceed to (and at most 100000 steps)");
        double t = at;
        for (uint64_t v = from; v <= to; v += step, t += every) {
          json set = json::object();
          set[r["field"].get<std::string>()] = v;
          for (auto p : Patches(set, w + ".ramp")) {
            p.at = t;
            p.enclosure = name;
            sc.events.push_back(p);
          }
        }
      } else {
        Fail(w, "needs one of set, ramp, plug, unplug or fault");
      }
    }
    std::stable_sort(sc.events.begin(), sc.events.end(),
                     [](const TimelineEvent& a, const TimelineEvent& b) { return a.at < b.at; });
  }
  return sc;
}
}  // namespace

ScenarioSpec ParseScenario(const std::string& text) {
  try {
    return ParseScenarioImpl(text);
  } catch (const json::exception& e) {
    throw ScenarioError(std::string("wrong kind of value: ") + e.what());
  }
}

ScenarioSpec LoadScenarioFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ScenarioError(path + ": cannot be opened");
  in.seekg(0, std::ios::end);
  const auto size = in.tellg();
  if (size < 0 || size > 16 * 1024 * 1024) throw ScenarioError(path + ": not a scenario (over 16 MiB)");
  in.seekg(0);
  std::string text(static_cast<size_t>(size), '\0');
  in.read(text.data(), size);
  try {
    return ParseScenario(text);
  } catch (const ScenarioError& e) {
    throw ScenarioError(path + ": " + e.what());
  }
}

}  // namespace raid::sim
