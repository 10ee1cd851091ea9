// The settings file: the notification settings where there is no registry
// (and wherever --config-dir names a folder). One value per line, in the
// registry's own export notation, so a value reads the same in both places:
//
//   ; comment lines start with ';' or '#'; blank lines are ignored
//   [SOFTWARE\KX_RAID_GUI]              the first line that is not a comment
//   "Port"="25"                         a string (REG_SZ)
//   "ToAddrCount"=dword:00000002        a 32-bit integer, 8 hexadecimal digits
//   "ProductID"=hex:a5,3c,9e,...        bytes (REG_BINARY), two hex digits each
//
// Inside quotes \\ is a backslash, \" a quote, \r \n \t those controls and
// \xHH any byte; other bytes stand as they are (the system code page). Each
// name appears once. Lines end in LF or CR LF. A file that breaks any rule is
// refused with its line number and never written over.
#pragma once

#include <map>
#include <string>

#include "platform/settings_store.h"

namespace raid {

inline constexpr const char* kSettingsFileName = "raidgui.conf";
inline constexpr size_t kSettingsFileMaxBytes = 1024 * 1024;

using SettingsValues = std::map<std::string, SettingsValue>;

// The values, or why ("line N: ...") text is not a settings file.
Expected<SettingsValues> ParseSettingsFile(const std::string& text);
std::string FormatSettingsFile(const SettingsValues& values);

// The settings file DIR/raidgui.conf. Every write reads the file, changes
// its values (one, or all of WriteAll's) and replaces the file atomically, readable by its owner only
// (it holds the password record); template files live beside it.
class FileSettingsStore final : public SettingsStore {
 public:
  explicit FileSettingsStore(std::string dir);
  std::string Location() const override { return path_; }
  bool KeyExists() override;
  Outcome CreateKey() override;
  Outcome Read(const std::string& name, SettingsType type, std::optional<SettingsValue>& out) override;
  Outcome Write(const std::string& name, const SettingsValue& value) override;
  std::string DefaultTemplateDir() const override;
  // One read and one replacement of the file for all the values.
  Outcome WriteAll(const NamedValues& values, bool createKey) override;
  // The file's identity, size and time of change.
  std::string ChangeStamp() override;

 private:
  // missing: the file is not there (no error).
  Outcome Load(SettingsValues& values, bool& missing);
  std::string dir_;
  std::string path_;
};

}  // namespace raid
