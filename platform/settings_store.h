// Where the notification settings are kept: on Windows the registry key
// HKEY_LOCAL_MACHINE\SOFTWARE\KX_RAID_GUI, elsewhere a settings file with the
// same value names and types (settings_file.h). Values are strings,
// 32-bit integers or byte strings, as the registry has them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/outcome.h"

namespace raid {

enum class SettingsType { String, Dword, Binary };

struct SettingsValue {
  SettingsType type = SettingsType::String;
  std::string text;            // String
  uint32_t number = 0;         // Dword
  std::vector<uint8_t> bytes;  // Binary
  bool operator==(const SettingsValue&) const = default;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Where the values live, for messages ("HKEY_LOCAL_MACHINE\..." or a path).
  virtual std::string Location() const = 0;
  // Whether the key (the settings file) exists.
  virtual bool KeyExists() = 0;
  // Creates the key (an empty settings file) when it is missing.
  virtual Outcome CreateKey() = 0;
  // A missing value leaves out empty and is no error; a value of another
  // type is an error.
  virtual Outcome Read(const std::string& name, SettingsType type, std::optional<SettingsValue>& out) = 0;
  // Writes one value; the key must exist. Nothing already stored is lost
  // when a write fails.
  virtual Outcome Write(const std::string& name, const SettingsValue& value) = 0;
  // The template folder used when none is stored, ending in the separator.
  virtual std::string DefaultTemplateDir() const = 0;
  // Writes the values together: a settings file is replaced once. A
  // registry key takes them one by one, stopping at the first refused
  // (what was written before it stays). createKey: the key is created
  // first when it is missing.
  using NamedValues = std::vector<std::pair<std::string, SettingsValue>>;
  virtual Outcome WriteAll(const NamedValues& values, bool createKey);
  // Changes whenever the stored values may have changed (a text to compare,
  // cheap to make: no value is read); empty when nothing is stored.
  virtual std::string ChangeStamp() = 0;

  // Typed helpers over Read and Write.
  Outcome ReadString(const std::string& name, std::string& out);  // missing: empty
  Outcome ReadDword(const std::string& name, uint32_t& out);      // missing: 0
  // missing: out unchanged and found false
  Outcome ReadBinary(const std::string& name, std::vector<uint8_t>& out, bool& found);
  Outcome WriteString(const std::string& name, const std::string& v);
  Outcome WriteDword(const std::string& name, uint32_t v);
  Outcome WriteBinary(const std::string& name, const std::vector<uint8_t>& v);
};

// An error when a stored value is not of the wanted type.
Outcome CheckSettingsType(const std::string& name, const SettingsValue& v, SettingsType wanted);

// The values in memory: for tests and for a store that is kept elsewhere.
class MemorySettingsStore : public SettingsStore {
 public:
  std::string Location() const override { return "memory"; }
  bool KeyExists() override { return exists; }
  Outcome CreateKey() override;
  Outcome Read(const std::string& name, SettingsType type, std::optional<SettingsValue>& out) override;
  Outcome Write(const std::string& name, const SettingsValue& value) override;
  std::string DefaultTemplateDir() const override { return templateDir; }
  std::string ChangeStamp() override;

  bool exists = false;
  std::map<std::string, SettingsValue> values;
  std::string templateDir = "templates/";
  // A failure to report on every write whose value name is listed (tests).
  std::vector<std::string> failWrites;
  std::vector<std::string> writeLog;  // names written, in order
};

// The system's store: the registry on Windows (configDir is ignored there
// unless given, and then a settings file in it is used); a settings file in
// configDir elsewhere.
std::unique_ptr<SettingsStore> MakeSettingsStore(const std::string& configDir);

// The settings folder used when no --config-dir is given.
std::string DefaultConfigDir();

}  // namespace raid
