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

Outcome SettingsStore::ReadString(const std::string& name, std::string& out) {
  std::optional<SettingsValue> v;
  Outcome r = Read(name, SettingsType::String, v);
  out = r.ok() && v ? v->text : std::string();
  return r;
}

Outcome SettingsStore::ReadDword(const std::string& name, uint32_t& out) {
  std::optional<SettingsValue> v;
  Outcome r = Read(name, SettingsType::Dword, v);
  out = r.ok() && v ? v->number : 0;
  return r;
}

Outcome SettingsStore::ReadBinary(const std::string& name, std::vector<uint8_t>& out, bool& found) {
  std::optional<SettingsValue> v;
  Outcome r = Read(name, SettingsType::Binary, v);
  found = r.ok() && v.has_value();
  if (found) out = v->bytes;
  return r;
}

Outcome SettingsStore::WriteString(const std::string& name, const std::string& v) {
  SettingsValue s;
  s.type = SettingsType::String;
  s.text = v;
  return Write(name, s);
}

Outcome SettingsStore::WriteDword(const std::string& name, uint32_t v) {
  SettingsValue s;
  s.type = SettingsType::Dword;
  s.number = v;
  return Write(name, s);
}

Outcome SettingsStore::WriteBinary(const std::string& name, const std::vector<uint8_t>& v) {
  SettingsValue s;
  s.type = SettingsType::Binary;
  s.bytes = v;
  return Write(name, s);
}

Outcome SettingsStore::WriteAll(const NamedValues& values, bool createKey) {
  Outcome r;
  if (createKey && !KeyExists() && !(r = CreateKey()).ok()) return r;
  for (const auto& [name, v] : values)
    if (!(r = Write(name, v)).ok()) return r;
  return r;
}

Outcome CheckSettingsType(const std::string& name, const SettingsValue& v, SettingsType wanted) {
  if (v.type == wanted) return {};
  return Outcome::Fail("the value \"" + name + "\" is " + TypeName(v.type) + ", not " + TypeName(wanted));
}

std::string MemorySettingsStore::ChangeStamp() { return exists ? FormatSettingsFile(values) : std::string(); }

Outcome MemorySettingsStore::CreateKey() {
  exists = true;
  return {};
}

Outcome MemorySettingsStore::Read(const std::string& name, SettingsType type, std::optional<SettingsValue>& out) {
  out.reset();
  const auto it = values.find(name);
  if (!exists || it == values.end()) return {};
  Outcome r = CheckSettingsType(name, it->second, type);
  if (r.ok()) out = it->second;
  return r;
}

Outcome MemorySettingsStore::Write(const std::string& name, const SettingsValue& value) {
  if (!exists) return Outcome::Fail("the settings key does not exist");
  if (std::find(failWrites.begin(), failWrites.end(), name) != failWrites.end())
    return Outcome::Fail("cannot write \"" + name + "\": refused");
  values[name] = value;
  writeLog.push_back(name);
  return {};
}

}  // namespace raid
