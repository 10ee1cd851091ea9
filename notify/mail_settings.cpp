#include "notify/mail_settings.h"

#include <cstdio>
#include <filesystem>

#include "monitor/monitor_state.h"
#include "platform/file_io.h"

namespace raid {

namespace {
const char* const kServerValueNames[5] = {"Port", "SMTP", "UserName", "Addr", "TimeOut"};

std::string RecipientValueName(size_t j) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "ToAddr_%02X", static_cast<unsigned>(j & 0xFF));
  return buf;
}
}  // namespace

const char* TlsPolicyName(TlsPolicy p) {
  switch (p) {
    case TlsPolicy::Required: return "required";
    case TlsPolicy::Implicit: return "implicit";
    default: return "auto";
  }
}

bool ParseTlsPolicy(const std::string& text, TlsPolicy& out) {
  std::string t = text;
  for (char& c : t)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const TlsPolicy p : {TlsPolicy::Auto, TlsPolicy::Required, TlsPolicy::Implicit}) {
    if (t == TlsPolicyName(p)) {
      out = p;
      return true;
    }
  }
  return false;
}

std::string RecipientName(size_t j) { return RecipientValueName(j); }
const char* ServerValueName(size_t i) { return i < 5 ? kServerValueNames[i] : ""; }

void PrepareMailSettings(SettingsStore& store, MailSettingsState& s, std::atomic<uint8_t>& requestFlags) {
  s.SettingsKeyExists = store.KeyExists();
  if (s.SettingsKeyExists)
    requestFlags |= mail_request::kReloadSettings;
  else
    s.MailTemplateDir = store.DefaultTemplateDir();
}

Outcome LoadMailSettings(SettingsStore& store, MailSettingsState& s, std::atomic<uint8_t>& requestFlags,
                         const std::function<void()>& pump) {
  // Settings loaded before stay in use, so notifications still go out.
  auto fail = [&](Outcome r) {
    requestFlags &= static_cast<uint8_t>(~mail_request::kReloadSettings);
    s.LoadError = r.error();
    return r;
  };
  uint32_t count = 0;
  Outcome r = store.ReadDword("ToAddrCount", count);
  if (!r.ok()) return fail(r);
  std::string dir;
  if (!(r = store.ReadString("FilePath", dir)).ok()) return fail(r);
  // The templates' folder is read from the settings folder, never from
  // wherever the program was started: an empty or relative one (a settings
  // file written by hand) lies within it.
  if (std::filesystem::path(dir).is_relative()) dir = store.DefaultTemplateDir() + dir;
  std::vector<std::string> settings;
  for (const char* name : kServerValueNames) {
    std::string v;
    if (!(r = store.ReadString(name, v)).ok()) return fail(r);
    settings.push_back(v);
  }
  std::vector<uint8_t> bytes;
  bool found = false;
  if (!(r = store.ReadBinary("ProductID", bytes, found)).ok()) return fail(r);
  PasswordRecord record = s.RecordBuffer;
  if (found) {
    // A record of another length is copied as far as it goes.
    for (size_t i = 0; i < record.size() && i < bytes.size(); ++i) record[i] = bytes[i];
  }
  std::string caFile, tlsText;
  if (!(r = store.ReadString(kCaFileSetting, caFile)).ok()) return fail(r);
  if (!(r = store.ReadString(kTlsPolicySetting, tlsText)).ok()) return fail(r);
  // A policy the program does not know is refused rather than read as
  // "auto": it may have been meant to forbid mail without TLS.
  TlsPolicy tls = TlsPolicy::Auto;
  if (!tlsText.empty() && !ParseTlsPolicy(tlsText, tls))
    return fail(Outcome::Fail(std::string("the value \"") + kTlsPolicySetting + "\" in " + store.Location() + " is \"" +
                              tlsText + "\", not auto, required or implicit"));
  const DecodedPassword pw = DecodePasswordRecord(record);
  settings.push_back(pw.password);
  // At most ten recipients exist; a larger count is a damaged store.
  std::vector<std::string> recipients;
  for (uint32_t j = 0; j < count && j < kMaxRecipients; ++j) {
    std::string a;
    if (!(r = store.ReadString(RecipientValueName(j), a)).ok()) return fail(r);
    // A count larger than the addresses stored leaves blanks: no mailbox.
    if (!a.empty()) recipients.push_back(a);
  }
  std::array<TextLines, 5> subjects, contents;
  for (int k = 1; k <= 4; ++k) {
    if (pump) pump();
    if (!(r = ReadTemplateFile(SubjectFileName(dir, k), subjects[static_cast<size_t>(k)])).ok()) return fail(r);
    if (!(r = ReadTemplateFile(ContentsFileName(dir, k), contents[static_cast<size_t>(k)])).ok()) return fail(r);
  }
  s.MailRecipientCount = static_cast<uint32_t>(recipients.size());
  s.MailTemplateDir = dir;
  s.MailSettings = std::move(settings);
  s.RecordBuffer = record;
  s.MailSalt = record[16];
  s.MailAuthState = pw.authState;
  s.MailRecipients = std::move(recipients);
  s.MailSubjectTemplate = std::move(subjects);
  s.MailContentsTemplate = std::move(contents);
  s.CaFile = caFile;
  s.Tls = tls;
  s.MailSettingsLoaded = true;
  s.LoadError.clear();
  requestFlags &= static_cast<uint8_t>(~mail_request::kReloadSettings);
  return {};
}

std::string SubjectFileName(const std::string& dir, int category) {
  return dir + "EmailSubject " + kMailCategoryNames[category] + ".txt";
}

std::string ContentsFileName(const std::string& dir, int category) {
  return dir + "EmailContens " + kMailCategoryNames[category] + ".txt";
}

Outcome ReadTemplateFile(const std::string& path, TextLines& lines) {
  lines.clear();
  if (!StatNoFollow(path).exists) return {};
  std::string text;
  const Outcome f = ReadPlainFile(path, kTemplateMaxBytes, text);
  if (!f.ok()) return Outcome::Fail("cannot read the mail template " + path + ": " + f.error());
  lines = TemplateLines(text);
  return {};
}

TextLines TemplateLines(const std::string& text) {
  TextLines lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

Outcome WriteTemplateFile(const std::string& path, const TextLines& lines) {
  if (lines.empty()) {
    std::error_code ec;
    const FileStamp st = StatNoFollow(path);
    if (st.exists && !std::filesystem::remove(path, ec) && ec)
      return Outcome::Fail("cannot delete the mail template " + path + ": " + ec.message());
    return {};
  }
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  // The templates may name the recipients: the owner's alone, as the settings.
  const Outcome f = ReplaceFile(path, text, nullptr, FileAccess::OwnerOnly);
  if (!f.ok()) return Outcome::Fail("cannot write the mail template " + path + ": " + f.error());
  return {};
}

std::string LoginUser(const std::string& senderAddress) {
  const size_t at = senderAddress.find('@');
  return at == std::string::npos ? senderAddress : senderAddress.substr(0, at);
}

}  // namespace raid
