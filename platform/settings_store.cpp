#include "platform/settings_store.h"

#include <algorithm>

#include "platform/settings_file.h"

namespace raid {

namespace {
const char* TypeName(SettingsType t) {
  switch (t) {
    case SettingsType::String: return "a text";
    case SettingsType::Dword: return "a 32-bit number";
    default: return "binary";
  }
}
}  // namespace

SettingsResult SettingsStore::ReadString(const std::string& name, std::string& out) {
  std::optional<SettingsValue> v;
  SettingsResult r = Read(name, SettingsType::String, v);
  out = r.ok && v ? v->text : std::string();
  return r;
}

SettingsResult SettingsStore::ReadDword(const std::string& name, uint32_t& out) {
  std::optional<SettingsValue> v;
  SettingsResult r = Read(name, SettingsType::Dword, v);
  out = r.ok && v ? v->number : 0;
  return r;
}

SettingsResult SettingsStore::ReadBinary(const std::string& name, std::vector<uint8_t>& out, bool& found) {
  std::optional<SettingsValue> v;
  SettingsResult r = Read(name, SettingsType::Binary, v);
  found = r.ok && v.has_value();
  if (found) out = v->bytes;
  return r;
}

SettingsResult SettingsStore::WriteString(const std::string& name, const std::string& v) {
  SettingsValue s;
  s.type = SettingsType::String;
  s.text = v;
  return Write(name, s);
}

SettingsResult SettingsStore::WriteDword(const std::string& name, uint32_t v) {
  SettingsValue s;
  s.type = SettingsType::Dword;
  s.number = v;
  return Write(name, s);
}

SettingsResult SettingsStore::WriteBinary(const std::string& name, const std::vector<uint8_t>& v) {
  SettingsValue s;
  s.type = SettingsType::Binary;
  s.bytes = v;
  return Write(name, s);
}

SettingsResult SettingsStore::WriteAll(const NamedValues& values, bool createKey) {
  SettingsResult r;
  if (createKey && !KeyExists() && !(r = CreateKey()).ok) return r;
  for (const auto& [name, v] : values)
    if (!(r = Write(name, v)).ok) return r;
  return r;
}

SettingsResult CheckSettingsType(const std::string& name, const SettingsValue& v, SettingsType wanted) {
  if (v.type == wanted) return {};
  return {false, "the value \"" + name + "\" is " + TypeName(v.type) + ", not " + TypeName(wanted)};
}

std::string MemorySettingsStore::ChangeStamp() { return exists ? FormatSettingsFile(values) : std::string(); }

SettingsResult MemorySettingsStore::CreateKey() {
  exists = true;
  return {};
}

SettingsResult MemorySettingsStore::Read(const std::string& name, SettingsType type,
                                         std::optional<SettingsValue>& out) {
  out.reset();
  const auto it = values.find(name);
  if (!exists || it == values.end()) return {};
  SettingsResult r = CheckSettingsType(name, it->second, type);
  if (r.ok) out = it->second;
  return r;
}

SettingsResult MemorySettingsStore::Write(const std::string& name, const SettingsValue& value) {
  if (!exists) return {false, "the settings key does not exist"};
  if (std::find(failWrites.begin(), failWrites.end(), name) != failWrites.end())
    return {false, "cannot write \"" + name + "\": refused"};
  values[name] = value;
  writeLog.push_back(name);
  return {};
}

}  // namespace raid
