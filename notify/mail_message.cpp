#include "notify/mail_message.h"

#include "notify/mail_address.h"
#include "platform/base64.h"

#include <atomic>
#include <cstdio>
#include <random>

namespace raid {

namespace {

bool IsAscii(const std::string& s) {
  for (const char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// Header texts: control characters (CR and LF above all) become blanks, so
// no text can end its header line and start another.
std::string HeaderSafe(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return out;
}

std::string Base64(const std::string& in) { return Base64Encode(in); }

// Whether a text has a word (a run without blanks) too long for one header
// line: folding happens only at blanks, and a line may not pass 998.
bool HasUnfoldableWord(const std::string& s) {
  size_t run = 0;
  for (const char c : s) {
    run = c == ' ' || c == '\t' ? 0 : run + 1;
    if (run > 900) return true;
  }
  return false;
}

// A header text: plain when it is ASCII and every word fits a line, else
// encoded words (never splitting a UTF-8 character), one per line, each
// short enough that even "Subject: " and the first word stay within 78
// characters.
std::string EncodeHeaderText(const std::string& text, const std::string& charset) {
  const std::string s = HeaderSafe(text);
  if (IsAscii(s) && !HasUnfoldableWord(s)) return s;
  std::string out;
  size_t i = 0;
  const bool utf8 = charset == "UTF-8";
  // 78 = "Subject: " (9) + "=?" charset "?B?" ... "?=" (7 + charset) + 4
  // characters per 3 bytes.
  const size_t groups = charset.size() < 58 ? (62 - charset.size()) / 4 : 1;
  const size_t chunk = groups * 3;
  while (i < s.size()) {
    size_t n = s.size() - i < chunk ? s.size() - i : chunk;
    if (utf8)
      while (n > 0 && i + n < s.size() && (static_cast<unsigned char>(s[i + n]) & 0xC0) == 0x80) --n;
    if (n == 0) n = 1;
    if (!out.empty()) out += "\r\n ";
    out += "=?" + charset + "?B?" + Base64(s.substr(i, n)) + "?=";
    i += n;
  }
  return out;
}

// "Name" <address>, the name quoted (or encoded) so that it cannot add an
// address of its own.
std::string Mailbox(const std::string& name, const std::string& address, const std::string& charset) {
  const std::string addr = "<" + HeaderSafe(address) + ">";
  const std::string n = HeaderSafe(name);
  if (n.empty()) return addr;
  if (!IsAscii(n) || HasUnfoldableWord(n)) return EncodeHeaderText(n, charset) + " " + addr;
  std::string q = "\"";
  for (const char c : n) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\" " + addr;
}

// One header field as it goes out: folded (CR LF before a blank) wherever a
// line passes 78 characters and a blank allows it; lines folded already
// (encoded words, the recipient list) are kept.
std::string FoldedHeader(const std::string& field) {
  constexpr size_t kWidth = 78;
  std::string out;
  size_t start = 0;
  while (start <= field.size()) {
    size_t end = field.find("\r\n", start);
    if (end == std::string::npos) end = field.size();
    const std::string line = field.substr(start, end - start);
    // Pieces: the first up to the first blank after the field name's
    // colon, then each run of blanks with the word after it.
    std::vector<std::string> pieces;
    const size_t colon = start == 0 ? line.find(':') : 0;
    size_t i = colon == std::string::npos ? 0 : colon + 1;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t from = 0;
    for (; i < line.size(); ++i) {
      const bool blank = line[i] == ' ' || line[i] == '\t';
      const bool afterWord = i > 0 && line[i - 1] != ' ' && line[i - 1] != '\t';
      if (blank && afterWord && i > from) {
        pieces.push_back(line.substr(from, i - from));
        from = i;
      }
    }
    pieces.push_back(line.substr(from));
    std::string current;
    for (const std::string& p : pieces) {
      // Trailing blanks stay on their line: a line of blanks alone is not
      // a folded line.
      const bool blanks = p.find_first_not_of(" \t") == std::string::npos;
      if (!blanks && !current.empty() && current.size() + p.size() > kWidth) {
        out += current + "\r\n";
        current.clear();
      }
      current += p;
    }
    out += current;
    if (end == field.size()) break;
    out += "\r\n";
    start = end + 2;
  }
  return out + "\r\n";
}

// Quoted-printable for bodies with 8-bit text or overlong lines.
std::string QuotedPrintableLine(const std::string& line) {
  std::string out;
  size_t width = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    const bool last = i + 1 == line.size();
    std::string piece;
    if ((c >= 33 && c <= 126 && c != '=') || (c == ' ' && !last)) {
      piece = std::string(1, static_cast<char>(c));
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "=%02X", c);
      piece = buf;
    }
    if (width + piece.size() > 75) {
      out += "=\r\n";
      width = 0;
    }
    out += piece;
    width += piece.size();
  }
  return out;
}

std::string NewMessageId(const MailJob& job) {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%lld.%08x%08x.%u", static_cast<long long>(ToLocalMs(job.date)), rd(), rd(),
                counter++);
  const size_t at = job.senderAddress.find('@');
  std::string domain = at == std::string::npos ? "" : HeaderSafe(job.senderAddress.substr(at + 1));
  for (char& c : domain)
    if (c == ' ' || c == '<' || c == '>') c = '-';
  return std::string(buf) + "@" + (domain.empty() ? "localhost" : domain);
}

}  // namespace

std::vector<std::string> BuildSystemInfoText(const SystemProperties& p) {
  return {"\n=========== [System Information] ==============",
          "\nMotherBoard : " + p.boardManufacturer + " - " + p.boardProduct, "\nSystem Name : " + p.systemName,
          "\nIP Address  : " + p.ipAddresses, "\n" + std::string(47, '=')};
}

void ComposeNotification(const MailSettingsState& s, uint8_t category, const std::vector<std::string>& eventText,
                         const std::vector<std::string>& systemInfo, const std::string& appTitle, MailJob& job) {
  const size_t k = category >= 1 && category <= 4 ? category : 0;
  job.body = eventText;
  job.body.insert(job.body.end(), systemInfo.begin(), systemInfo.end());
  if (k) job.body.insert(job.body.end(), s.MailContentsTemplate[k].begin(), s.MailContentsTemplate[k].end());
  job.subject = "[" + appTitle + " Message] ";
  if (k && !s.MailSubjectTemplate[k].empty()) job.subject += s.MailSubjectTemplate[k].front();
  SetMailRoute(s, job);
}

void SetMailRoute(const MailSettingsState& s, MailJob& job) {
  job.host = s.Setting(kSmtpHost);
  job.port = s.Setting(kPort);
  job.senderName = s.Setting(kSenderName);
  job.senderAddress = s.Setting(kSenderAddress);
  job.password = s.Setting(kPassword);
  job.timeOut = s.Setting(kTimeOut);
  job.caFile = s.CaFile;
  job.tls = s.Tls;
  // A mailbox listed twice (a settings file written by hand) gets one mail.
  job.recipients = DistinctMailboxes(s.MailRecipients);
}

void CopyMailRoute(const MailJob& from, MailJob& job) {
  job.host = from.host;
  job.port = from.port;
  job.senderName = from.senderName;
  job.senderAddress = from.senderAddress;
  job.password = from.password;
  job.timeOut = from.timeOut;
  job.caFile = from.caFile;
  job.tls = from.tls;
  job.recipients = from.recipients;
}

void ComposeTestMail(const MailSettingsState& s, const std::vector<std::string>& systemInfo,
                     const std::string& appTitle, MailJob& job) {
  ComposeNotification(s, 0, {"This is a test mail of " + appTitle + ": notifications reach this address."}, systemInfo,
                      appTitle, job);
  job.subject = "[" + appTitle + " Message] Test mail";
}

std::string MailDate(const LocalDateTime& t, int off) {
  static const char* days[7] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};  // 1970-01-01 was a Thursday
  static const char* months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int64_t dayNumber = ToLocalMs({t.year, t.month, t.day, 0, 0, 0, 0}) / 86400000;
  const int wd = static_cast<int>(((dayNumber % 7) + 7) % 7);
  const int m = t.month >= 1 && t.month <= 12 ? t.month - 1 : 0;
  const int a = off < 0 ? -off : off;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", days[wd], t.day, months[m], t.year,
                t.hour, t.minute, t.second, off < 0 ? '-' : '+', a / 60, a % 60);
  return buf;
}

std::string BuildMessageText(const MailJob& job) {
  // Body lines: a line feed inside an entry is a line break.
  std::vector<std::string> lines;
  bool plain = true;
  for (const std::string& entry : job.body) {
    size_t start = 0;
    while (true) {
      const size_t end = entry.find('\n', start);
      std::string line = entry.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      for (char& c : line)
        if (c == '\r') c = ' ';
      if (!IsAscii(line) || line.size() > 998) plain = false;
      lines.push_back(std::move(line));
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  std::string to;
  for (const std::string& r : job.recipients) to += (to.empty() ? "" : ",\r\n ") + ("<" + HeaderSafe(r) + ">");
  const std::string charset = IsAscii(job.senderName + job.subject) && plain ? "us-ascii" : job.charset;
  std::string m;
  m += "Date: " + MailDate(job.date, job.utcOffsetMinutes) + "\r\n";
  m += FoldedHeader("From: " + Mailbox(job.senderName, job.senderAddress, job.charset));
  if (!to.empty()) m += "To: " + to + "\r\n";
  m += FoldedHeader("Subject: " + EncodeHeaderText(job.subject, job.charset));
  m += "Message-ID: <" + (job.messageId.empty() ? NewMessageId(job) : HeaderSafe(job.messageId)) + ">\r\n";
  m += "MIME-Version: 1.0\r\n";
  m += "Content-Type: text/plain; charset=" + charset + "\r\n";
  m += std::string("Content-Transfer-Encoding: ") + (plain ? "7bit" : "quoted-printable") + "\r\n";
  m += "\r\n";
  for (const std::string& l : lines) m += (plain ? l : QuotedPrintableLine(l)) + "\r\n";
  return m;
}

}  // namespace raid
