#include <windows.h>

#include "platform/settings_file.h"
#include "platform/settings_store.h"

namespace raid {

namespace {

constexpr const char* kKeyPath = "SOFTWARE\\KX_RAID_GUI";

std::string ErrorText(LONG code) {
  char buf[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 static_cast<DWORD>(code), 0, buf, sizeof buf, nullptr);
  std::string s(buf, n);
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ' || s.back() == '.')) s.pop_back();
  return s.empty() ? "error " + std::to_string(code) : s;
}

// HKEY_LOCAL_MACHINE\SOFTWARE\KX_RAID_GUI, opened for each access.
class RegistrySettingsStore final : public SettingsStore {
 public:
  std::string Location() const override { return std::string("HKEY_LOCAL_MACHINE\\") + kKeyPath; }

  bool KeyExists() override {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }

  Outcome CreateKey() override {
    HKEY key = nullptr;
    const LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                   nullptr, &key, nullptr);
    if (r != ERROR_SUCCESS) return Outcome::Fail("cannot create " + Location() + ": " + ErrorText(r));
    RegCloseKey(key);
    return {};
  }

  Outcome Read(const std::string& name, SettingsType type, std::optional<SettingsValue>& out) override {
    out.reset();
    HKEY key = nullptr;
    LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ, &key);
    if (r == ERROR_FILE_NOT_FOUND) return {};
    if (r != ERROR_SUCCESS) return Outcome::Fail("cannot open " + Location() + ": " + ErrorText(r));
    DWORD kind = 0, size = 0;
    r = RegQueryValueExA(key, name.c_str(), nullptr, &kind, nullptr, &size);
    if (r == ERROR_FILE_NOT_FOUND) {
      RegCloseKey(key);
      return {};
    }
    std::vector<uint8_t> data(size);
    if (r == ERROR_SUCCESS && size > 0) r = RegQueryValueExA(key, name.c_str(), nullptr, &kind, data.data(), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS)
      return Outcome::Fail("cannot read \"" + name + "\" from " + Location() + ": " + ErrorText(r));
    data.resize(size);
    SettingsValue v;
    if (kind == REG_SZ || kind == REG_EXPAND_SZ) {
      v.type = SettingsType::String;
      v.text.assign(data.begin(), data.end());
      const size_t nul = v.text.find('\0');
      if (nul != std::string::npos) v.text.resize(nul);
    } else if (kind == REG_DWORD && data.size() == 4) {
      v.type = SettingsType::Dword;
      v.number = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                 static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
    } else if (kind == REG_BINARY) {
      v.type = SettingsType::Binary;
      v.bytes = std::move(data);
    } else {
      return Outcome::Fail("the value \"" + name + "\" in " + Location() + " has an unexpected type");
    }
    Outcome c = CheckSettingsType(name, v, type);
    if (c.ok()) out = std::move(v);
    return c;
  }

  Outcome Write(const std::string& name, const SettingsValue& v) override {
    HKEY key = nullptr;
    LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_ALL_ACCESS, &key);
    if (r != ERROR_SUCCESS) return Outcome::Fail("cannot open " + Location() + ": " + ErrorText(r));
    switch (v.type) {
      case SettingsType::String:
        r = RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.text.c_str()),
                           static_cast<DWORD>(v.text.size() + 1));
        break;
      case SettingsType::Dword: {
        const DWORD n = v.number;
        r = RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof n);
        break;
      }
      case SettingsType::Binary:
        r = RegSetValueExA(key, name.c_str(), 0, REG_BINARY, v.bytes.data(), static_cast<DWORD>(v.bytes.size()));
        break;
    }
    RegCloseKey(key);
    if (r != ERROR_SUCCESS)
      return Outcome::Fail("cannot write \"" + name + "\" to " + Location() + ": " + ErrorText(r));
    return {};
  }

  // The key's time of last write.
  std::string ChangeStamp() override {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    FILETIME written{};
    const LONG r = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, &written);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return "?";
    return std::to_string(written.dwHighDateTime) + ":" + std::to_string(written.dwLowDateTime);
  }

  std::string DefaultTemplateDir() const override {
    char dir[128] = {};
    const UINT n = GetSystemDirectoryA(dir, sizeof dir);
    return std::string(dir, n < sizeof dir ? n : 0) + "\\";
  }
};

}  // namespace

std::unique_ptr<SettingsStore> MakeSettingsStore(const std::string& configDir) {
  if (!configDir.empty()) return std::make_unique<FileSettingsStore>(configDir);
  return std::make_unique<RegistrySettingsStore>();
}

std::string DefaultConfigDir() { return {}; }

}  // namespace raid
