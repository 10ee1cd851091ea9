// The notification settings in memory and their load from the settings
// store: server, sender, time-out, password record, recipients and the
// subject and contents templates of the four notification categories.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "notify/password_record.h"
#include "platform/settings_store.h"

namespace raid {

// MailSettings entries.
enum MailSetting : size_t { kPort = 0, kSmtpHost, kSenderName, kSenderAddress, kTimeOut, kPassword, kMailSettingCount };

// Category k (1-4) names its template files.
inline constexpr const char* kMailCategoryNames[5] = {"", "Hard Disks Fail", "Device Removed", "Over Heat", "Fan Fail"};
inline constexpr size_t kMaxRecipients = 10;

// How the connection to the mail server is secured. Auto: STARTTLS when the
// server offers it, TLS from the first byte on port 465. Required: as auto,
// but a server that offers no STARTTLS gets neither the login nor the mail.
// Implicit: TLS from the first byte on any port.
enum class TlsPolicy : uint8_t { Auto, Required, Implicit };
const char* TlsPolicyName(TlsPolicy p);
// "auto", "required" or "implicit" (any case); false for anything else.
bool ParseTlsPolicy(const std::string& text, TlsPolicy& out);

// Settings names of the two connection values beside the page's own
// (strings; missing means the system's certificate store and auto).
inline constexpr const char* kCaFileSetting = "CAFile";
inline constexpr const char* kTlsPolicySetting = "TlsPolicy";

using TextLines = std::vector<std::string>;

struct MailSettingsState {
  std::vector<std::string> MailSettings;  // kMailSettingCount entries once loaded
  uint8_t MailAuthState = kAuthOff;
  uint8_t MailSalt = 0;
  uint32_t MailRecipientCount = 0;
  std::vector<std::string> MailRecipients;
  std::string MailTemplateDir;
  std::array<TextLines, 5> MailSubjectTemplate;  // by category, 1-4
  std::array<TextLines, 5> MailContentsTemplate;
  std::string CaFile;  // certificates trusted instead of the system's store; empty: the system's
  TlsPolicy Tls = TlsPolicy::Auto;
  bool SettingsKeyExists = false;
  bool MailSettingsLoaded = false;
  // Why the last read of the stored settings failed ("" after a good one).
  std::string LoadError;
  // The last record read; a missing "ProductID" leaves it as it was.
  PasswordRecord RecordBuffer{};

  std::string Setting(MailSetting s) const { return s < MailSettings.size() ? MailSettings[s] : std::string(); }
};

// The start-up hook: whether the store exists, and a reload requested when
// it does; else the template folder is the store's default.
void PrepareMailSettings(SettingsStore& store, MailSettingsState& s, std::atomic<uint8_t>& requestFlags);

// LoadMailSettings. pump lets pending window messages be handled between
// categories. On a read failure nothing in memory changes (settings loaded
// before stay in use) and the error is returned; the reload request is
// cleared either way.
Outcome LoadMailSettings(SettingsStore& store, MailSettingsState& s, std::atomic<uint8_t>& requestFlags,
                         const std::function<void()>& pump = {});

std::string SubjectFileName(const std::string& dir, int category);
std::string ContentsFileName(const std::string& dir, int category);

// The largest template file read.
inline constexpr uint64_t kTemplateMaxBytes = 1024 * 1024;
// A template file as lines (CR LF or LF); a missing file is empty.
Outcome ReadTemplateFile(const std::string& path, TextLines& lines);
// A template's text (a file's bytes) as its lines.
TextLines TemplateLines(const std::string& text);
// At least one line: the file is replaced, every line ended by CR LF; no
// line: the file is deleted when it exists.
Outcome WriteTemplateFile(const std::string& path, const TextLines& lines);

// "ToAddr_" + two upper-case hexadecimal digits; "Port", "SMTP", ... by entry.
std::string RecipientName(size_t j);
const char* ServerValueName(size_t i);

// The login user: the sender address up to its first "@".
std::string LoginUser(const std::string& senderAddress);

}  // namespace raid
