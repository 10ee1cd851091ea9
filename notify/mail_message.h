// A notification as it goes out: the system information block, the subject
// and body of a notification, and the whole message text with its headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "notify/mail_settings.h"
#include "platform/clock.h"
#include "platform/system_info.h"

namespace raid {

// The five entries of SystemInfoText, each starting with a line feed.
std::vector<std::string> BuildSystemInfoText(const SystemProperties& p);

// What one mail needs, copied out of the settings so that sending never
// touches them.
struct MailJob {
  std::string host;
  std::string port;  // as stored
  std::string senderName;
  std::string senderAddress;
  std::string password;
  std::string timeOut;  // as stored: the connect time-out in seconds
  std::string caFile;   // trusted certificates; empty: the system's store
  TlsPolicy tls = TlsPolicy::Auto;
  std::vector<std::string> recipients;
  std::string subject;
  std::vector<std::string> body;  // entries may hold line feeds
  LocalDateTime date;
  int utcOffsetMinutes = 0;
  std::string charset = "UTF-8";
  std::string messageId;  // without the angle brackets; made when empty
};

// The server, sender, login, security and recipients of the settings (what
// a mail needs besides its text).
void SetMailRoute(const MailSettingsState& s, MailJob& job);
// Copies the route fields of `from` into job, keeping job's text.
void CopyMailRoute(const MailJob& from, MailJob& job);

// The notification of a category: event lines, the system information and
// the category's contents; the subject prefix and the template's first line.
void ComposeNotification(const MailSettingsState& s, uint8_t category, const std::vector<std::string>& eventText,
                         const std::vector<std::string>& systemInfo, const std::string& appTitle, MailJob& job);
// A short test mail with the system information block.
void ComposeTestMail(const MailSettingsState& s, const std::vector<std::string>& systemInfo,
                     const std::string& appTitle, MailJob& job);

// The message text as sent after DATA: Date, From, To, Subject, Message-ID,
// MIME-Version and Content-Type headers, a blank line, and the body lines,
// every line ended by CR LF. Line feeds inside body entries become line
// breaks; header texts can never start a new header. Header lines longer
// than 78 characters are folded at blanks; a word too long for any line
// (a header line may not pass 998) is sent as encoded words.
std::string BuildMessageText(const MailJob& job);

// RFC 5322 date: "Mon, 03 May 2010 09:00:00 +0200".
std::string MailDate(const LocalDateTime& t, int utcOffsetMinutes);

}  // namespace raid
