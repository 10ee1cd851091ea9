#include "platform/settings_file.h"

#include <cstdio>
#include <filesystem>

#include "platform/file_io.h"

namespace raid {

namespace {

constexpr const char* kKeyLine = "[SOFTWARE\\KX_RAID_GUI]";
constexpr size_t kMaxNameBytes = 255;
constexpr size_t kMaxValueBytes = 64 * 1024;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted text at line[pos] (pos at the opening quote); pos ends
// after the closing quote.
Outcome ReadQuoted(const std::string& line, size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return Outcome::Fail("a quoted text is expected");
  ++pos;
  out.clear();
  while (pos < line.size()) {
    const char c = line[pos++];
    if (c == '"') return Outcome::Ok();
    if (out.size() >= kMaxValueBytes) return Outcome::Fail("a text longer than 65536 bytes");
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (pos >= line.size()) break;
    const char e = line[pos++];
    switch (e) {
      case '\\': out.push_back('\\'); break;
      case '"': out.push_back('"'); break;
      case 'r': out.push_back('\r'); break;
      case 'n': out.push_back('\n'); break;
      case 't': out.push_back('\t'); break;
      case 'x': {
        const int hi = pos < line.size() ? HexDigit(line[pos]) : -1;
        const int lo = pos + 1 < line.size() ? HexDigit(line[pos + 1]) : -1;
        if (hi < 0 || lo < 0) return Outcome::Fail("\\x needs two hexadecimal digits");
        out.push_back(static_cast<char>(hi * 16 + lo));
        pos += 2;
        break;
      }
      default: return Outcome::Fail(std::string("unknown escape \\") + e);
    }
  }
  return Outcome::Fail("the closing quote is missing");
}

std::string Quote(const std::string& s) {
  std::string q = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\')
      q += "\\\\";
    else if (c == '"')
      q += "\\\"";
    else if (c == '\r')
      q += "\\r";
    else if (c == '\n')
      q += "\\n";
    else if (c == '\t')
      q += "\\t";
    else if (u < 0x20 || u == 0x7F) {
      char buf[5];
      std::snprintf(buf, sizeof buf, "\\x%02x", u);
      q += buf;
    } else {
      q.push_back(c);
    }
  }
  return q + "\"";
}

Outcome ParseValue(const std::string& line, size_t pos, SettingsValue& v) {
  const std::string rest = line.substr(pos);
  if (!rest.empty() && rest[0] == '"') {
    v.type = SettingsType::String;
    size_t p = pos;
    if (Outcome r = ReadQuoted(line, p, v.text); !r) return r;
    if (p != line.size()) return Outcome::Fail("text after the closing quote");
    return Outcome::Ok();
  }
  if (rest.rfind("dword:", 0) == 0) {
    const std::string digits = rest.substr(6);
    if (digits.size() != 8) return Outcome::Fail("dword: needs exactly 8 hexadecimal digits");
    uint32_t n = 0;
    for (const char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) return Outcome::Fail("dword: needs exactly 8 hexadecimal digits");
      n = n * 16 + static_cast<uint32_t>(d);
    }
    v.type = SettingsType::Dword;
    v.number = n;
    return Outcome::Ok();
  }
  if (rest.rfind("hex:", 0) == 0) {
    v.type = SettingsType::Binary;
    const std::string list = rest.substr(4);
    if (list.empty()) return Outcome::Ok();
    for (size_t i = 0;; i += 3) {
      if (i + 2 > list.size() || HexDigit(list[i]) < 0 || HexDigit(list[i + 1]) < 0)
        return Outcome::Fail("hex: needs bytes of two hexadecimal digits separated by commas");
      if (v.bytes.size() >= kMaxValueBytes) return Outcome::Fail("more than 65536 bytes");
      v.bytes.push_back(static_cast<uint8_t>(HexDigit(list[i]) * 16 + HexDigit(list[i + 1])));
      if (i + 2 == list.size()) return Outcome::Ok();
      if (list[i + 2] != ',') return Outcome::Fail("hex: needs bytes of two hexadecimal digits separated by commas");
    }
  }
  return Outcome::Fail("a value must be \"text\", dword:XXXXXXXX or hex:XX,XX,...");
}

}  // namespace

Expected<SettingsValues> ParseSettingsFile(const std::string& text) {
  if (text.size() > kSettingsFileMaxBytes) return Expected<SettingsValues>::Fail("larger than 1 MiB");
  SettingsValues out;
  bool keySeen = false;
  size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto fail = [&](const std::string& why) {
      return Expected<SettingsValues>::Fail("line " + std::to_string(number) + ": " + why);
    };
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (!keySeen) {
      if (line != kKeyLine) return fail(std::string("the first line must be ") + kKeyLine);
      keySeen = true;
      continue;
    }
    size_t pos = 0;
    std::string name;
    if (Outcome r = ReadQuoted(line, pos, name); !r) return fail(r.error());
    if (name.empty() || name.size() > kMaxNameBytes) return fail("a value name has 1 to 255 bytes");
    if (pos >= line.size() || line[pos] != '=') return fail("\"=\" is expected after the value name");
    SettingsValue v;
    if (Outcome r = ParseValue(line, pos + 1, v); !r) return fail(r.error());
    if (!out.emplace(name, std::move(v)).second) return fail("\"" + name + "\" is given twice");
  }
  if (!keySeen) return Expected<SettingsValues>::Fail(std::string("the line ") + kKeyLine + " is missing");
  return out;
}

std::string FormatSettingsFile(const SettingsValues& values) {
  std::string s = "; Notification settings of RAID GUI (format: see the README).\n";
  s += kKeyLine;
  s += "\n";
  for (const auto& [name, v] : values) {
    s += Quote(name) + "=";
    char buf[16];
    switch (v.type) {
      case SettingsType::String: s += Quote(v.text); break;
      case SettingsType::Dword:
        std::snprintf(buf, sizeof buf, "dword:%08x", v.number);
        s += buf;
        break;
      case SettingsType::Binary:
        s += "hex:";
        for (size_t i = 0; i < v.bytes.size(); ++i) {
          std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", v.bytes[i]);
          s += buf;
        }
        break;
    }
    s += "\n";
  }
  return s;
}

FileSettingsStore::FileSettingsStore(std::string dir) : dir_(std::move(dir)) {
  // The folder's full name: the templates' folder stored in the file must
  // name the same folder from wherever a program is started.
  std::error_code ec;
  if (!dir_.empty()) {
    const std::filesystem::path full = std::filesystem::absolute(dir_, ec);
    if (!ec) dir_ = full.lexically_normal().string();
  }
  while (dir_.size() > 1 && (dir_.back() == '/' || dir_.back() == '\\')) dir_.pop_back();
  path_ = dir_ + "/" + kSettingsFileName;
}

std::string FileSettingsStore::DefaultTemplateDir() const { return dir_ + "/"; }

bool FileSettingsStore::KeyExists() {
  // A file that cannot even be looked at (in a folder only its owner may
  // enter) counts as there: reading it then says why, instead of the
  // defaults being shown as if nothing were stored.
  std::error_code ec;
  return std::filesystem::symlink_status(path_, ec).type() != std::filesystem::file_type::not_found;
}

Outcome FileSettingsStore::Load(SettingsValues& values, bool& missing) {
  values.clear();
  missing = !KeyExists();
  if (missing) return {};
  std::string text;
  const Outcome r = ReadPlainFile(path_, kSettingsFileMaxBytes, text);
  if (!r.ok()) {
    std::string why = "cannot read the settings file " + path_ + ": " + r.error();
    // Not a damaged or planted file but one kept from this user (root's
    // settings, read by someone else): say what to do.
    if (r.error().rfind("larger than", 0) != 0 && r.error().rfind("not a plain file", 0) != 0)
      why +=
          " (the settings are kept where this user may not read them: run as their owner, or give "
          "--config-dir FOLDER for settings of your own)";
    return Outcome::Fail(why);
  }
  Expected<SettingsValues> parsed = ParseSettingsFile(text);
  if (!parsed) return Outcome::Fail("the settings file " + path_ + " is damaged, " + parsed.error());
  values = std::move(*parsed);
  return {};
}

Outcome FileSettingsStore::CreateKey() {
  if (KeyExists()) return {};
  const Outcome folder = MakeFolders(dir_);
  if (!folder.ok()) return Outcome::Fail("cannot create the settings folder " + dir_ + ": " + folder.error());
  const Outcome r = ReplaceFile(path_, FormatSettingsFile({}), nullptr, FileAccess::OwnerOnly);
  if (!r.ok()) return Outcome::Fail("cannot write the settings file " + path_ + ": " + r.error());
  return {};
}

Outcome FileSettingsStore::Read(const std::string& name, SettingsType type, std::optional<SettingsValue>& out) {
  out.reset();
  SettingsValues values;
  bool missing = false;
  Outcome r = Load(values, missing);
  if (!r.ok() || missing) return r;
  const auto it = values.find(name);
  if (it == values.end()) return {};
  r = CheckSettingsType(name, it->second, type);
  if (r.ok()) out = it->second;
  return r;
}

Outcome FileSettingsStore::WriteAll(const NamedValues& named, bool createKey) {
  SettingsValues values;
  bool missing = false;
  Outcome r = Load(values, missing);
  if (!r.ok()) return r;
  if (missing && !createKey) return Outcome::Fail("the settings file " + path_ + " does not exist");
  if (missing) {
    const Outcome folder = MakeFolders(dir_);
    if (!folder.ok()) return Outcome::Fail("cannot create the settings folder " + dir_ + ": " + folder.error());
  }
  for (const auto& [name, v] : named) values[name] = v;
  const Outcome w = ReplaceFile(path_, FormatSettingsFile(values), nullptr, FileAccess::OwnerOnly);
  if (!w.ok()) return Outcome::Fail("cannot write the settings file " + path_ + ": " + w.error());
  return {};
}

std::string FileSettingsStore::ChangeStamp() {
  const FileStamp st = StatNoFollow(path_);
  if (!st.exists) return {};
  return std::to_string(st.volume) + ":" + std::to_string(st.fileId) + ":" + std::to_string(st.size) + ":" +
         std::to_string(st.modifiedNs);
}

Outcome FileSettingsStore::Write(const std::string& name, const SettingsValue& value) {
  SettingsValues values;
  bool missing = false;
  Outcome r = Load(values, missing);
  if (!r.ok()) return r;
  if (missing) return Outcome::Fail("the settings file " + path_ + " does not exist");
  values[name] = value;
  const Outcome w = ReplaceFile(path_, FormatSettingsFile(values), nullptr, FileAccess::OwnerOnly);
  if (!w.ok()) return Outcome::Fail("cannot write \"" + name + "\" to the settings file " + path_ + ": " + w.error());
  return {};
}

}  // namespace raid
