#include "platform/settings_file.h"
#include "platform/settings_store.h"

namespace raid {

std::string DefaultConfigDir() { return "/etc/raidgui"; }

std::unique_ptr<SettingsStore> MakeSettingsStore(const std::string& configDir) {
  return std::make_unique<FileSettingsStore>(configDir.empty() ? DefaultConfigDir() : configDir);
}

}  // namespace raid
