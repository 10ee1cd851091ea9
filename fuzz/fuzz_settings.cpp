// Settings files and password records from any bytes: a file that parses
// must write back to the same values, and its values must load as
// notification settings without a fault; any 18 bytes decode as a record,
// and a record that decodes writes back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "notify/mail_settings.h"
#include "notify/password_record.h"
#include "platform/settings_file.h"

using namespace raid;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= kPasswordRecordSize) {
    PasswordRecord rec{};
    for (size_t i = 0; i < rec.size(); ++i) rec[i] = data[i];
    const DecodedPassword d = DecodePasswordRecord(rec);
    if (d.authState != kAuthInvalid && d.password.size() <= kPasswordMaxLength) {
      const DecodedPassword again =
          DecodePasswordRecord(EncodePasswordRecord(d.password, d.authState == kAuthOn, rec[16]));
      if (again.password != d.password || again.authState != d.authState) std::abort();
    }
  }
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Expected<SettingsValues> parsed = ParseSettingsFile(text);
  if (!parsed) {
    if (parsed.error().empty()) std::abort();
    return 0;
  }
  const SettingsValues& values = *parsed;
  const Expected<SettingsValues> back = ParseSettingsFile(FormatSettingsFile(values));
  if (!back || *back != values) std::abort();
  MemorySettingsStore store;
  store.exists = true;
  store.values = values;
  // Templates are never looked for in a real folder.
  store.values["FilePath"] = {SettingsType::String, "/nonexistent-raidgui-fuzz/", 0, {}};
  MailSettingsState s;
  std::atomic<uint8_t> flags{1};
  const Outcome r = LoadMailSettings(store, s, flags);
  if (flags.load() != 0) std::abort();
  if (r.ok() && s.MailRecipients.size() > kMaxRecipients) std::abort();
  return 0;
}
