#include "app/raidctl/mail_commands.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "monitor/monitor_state.h"
#include "monitor/status_record.h"
#include "notify/mail_address.h"
#include "notify/mail_message.h"
#include "notify/mail_page.h"
#include "notify/mail_follow_up.h"
#include "notify/notifier.h"
#include "platform/com_session.h"
#include "platform/file_io.h"
#include "platform/settings_store.h"
#include "platform/system_info.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace raid {

namespace {

constexpr int kOk = 0, kFailed = 1, kUsage = 2;

// Boxes of the page become lines on stderr.
class CtlBoxes final : public UserInterface {
 public:
  void SetPanelText(StatusBarPanel, const std::string&) override {}
  BoxResult ShowMessage(const MessageBoxRequest& box) override {
    std::fprintf(stderr, "raidctl: %s\n", box.text.c_str());
    ++shown;
    return BoxResult::Ok;
  }
  int shown = 0;
};

int Usage(const std::string& why) {
  std::fprintf(stderr, "raidctl: %s\n%s", why.c_str(), MailUsage().c_str());
  return kUsage;
}

// Wrong use that needs no usage text: the reason alone.
int Wrong(const std::string& why) {
  std::fprintf(stderr, "raidctl: %s\n", why.c_str());
  return kUsage;
}

// --ca-file: a readable file of PEM certificates, kept by its absolute path
// (the monitor runs elsewhere); empty: the system's store.
int CheckCaFile(const std::string& given, std::string& stored) {
  stored.clear();
  if (given.empty()) return kOk;
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status st = fs::status(given, ec);
  if (!fs::exists(st)) return Wrong("--ca-file: " + given + " does not exist");
  if (!fs::is_regular_file(st)) return Wrong("--ca-file: " + given + " is not a plain file");
  std::ifstream in(given, std::ios::binary);
  if (!in) return Wrong("--ca-file: " + given + " cannot be read");
  std::string head(1024 * 1024, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  if (in.bad()) return Wrong("--ca-file: " + given + " cannot be read");
  head.resize(static_cast<size_t>(in.gcount()));
  if (head.find("-----BEGIN CERTIFICATE-----") == std::string::npos)
    return Wrong("--ca-file: " + given + " holds no certificate in PEM form (-----BEGIN CERTIFICATE-----)");
  const fs::path abs = fs::absolute(given, ec);
  stored = ec ? given : abs.lexically_normal().string();
  return kOk;
}

bool Digits(const std::string& s, size_t maxLen) {
  if (s.empty() || s.size() > maxLen) return false;
  for (const char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// The password from standard input: without echo on a terminal, else the
// first line of whatever is piped in.
bool ReadPassword(std::string& pw) {
#ifdef _WIN32
  const bool tty = _isatty(_fileno(stdin));
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (tty) {
    std::fprintf(stderr, "Password: ");
    GetConsoleMode(in, &mode);
    SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  }
#else
  const bool tty = isatty(STDIN_FILENO);
  termios old{};
  if (tty) {
    std::fprintf(stderr, "Password: ");
    tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
#endif
  const bool got = static_cast<bool>(std::getline(std::cin, pw));
#ifdef _WIN32
  if (tty) SetConsoleMode(in, mode);
#else
  if (tty) tcsetattr(STDIN_FILENO, TCSANOW, &old);
#endif
  if (tty) std::fprintf(stderr, "\n");
  if (!pw.empty() && pw.back() == '\r') pw.pop_back();
  return got || !pw.empty();
}

struct Session {
  std::unique_ptr<SettingsStore> store;
  MailSettingsState settings;
  std::atomic<uint8_t> flags{0};
  CtlBoxes boxes;
  std::unique_ptr<MailPage> page;

  // The stored settings, as the window has them when its page is entered.
  bool Open(const std::string& configDir) {
    store = MakeSettingsStore(configDir);
    PrepareMailSettings(*store, settings, flags);
    if (settings.SettingsKeyExists) {
      const Outcome r = LoadMailSettings(*store, settings, flags);
      if (!r.ok()) {
        std::fprintf(stderr, "raidctl: %s\n", r.error().c_str());
        return false;
      }
    }
    page = std::make_unique<MailPage>(settings, *store, flags, boxes);
    page->Fill();
    return true;
  }
  int Save() { return page->OkClick() ? kOk : kFailed; }
};

// A stored text as one printable line: control characters are written as
// escapes (\r, \n, \t, \xNN), so a stored name cannot fake lines of its
// own or steer the terminal; broken UTF-8 shows as '?'.
std::string Printable(const std::string& text) {
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c != 0x7F) {
      out += ch;
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return ShowableText(out, '?');
}

int Show(Session& s) {
  std::printf("Settings: %s%s\n", Printable(s.store->Location()).c_str(),
              s.settings.SettingsKeyExists ? "" : " (none stored yet)");
  const MailPageModel& m = s.page->Model;
  std::printf("Port: %s\nSMTP: %s\nName: %s\nAddress: %s\nTime-out: %s\n", Printable(m.Port).c_str(),
              Printable(m.SmtpHost).c_str(), Printable(m.SenderName).c_str(), Printable(m.SenderAddress).c_str(),
              Printable(m.TimeOut).c_str());
  const char* auth = s.settings.MailAuthState == kAuthInvalid ? "off (the stored password record is damaged)"
                                                              : (m.LoginChecked ? "on" : "off");
  std::printf("SMTP Login Authentication: %s\n", auth);
  std::printf("Password: %s\n", s.settings.MailAuthState == kAuthInvalid ? "unreadable"
                                : m.Password.empty()                     ? "none"
                                                                         : "set");
  std::printf("CA file: %s\n",
              m.CaFile.empty() ? "none (the system's certificate store)" : Printable(m.CaFile).c_str());
  std::printf("TLS: %s\n", TlsPolicyName(m.Tls));
  std::printf("Recipients: %zu\n", m.Recipients.size());
  for (const std::string& r : m.Recipients) std::printf("  %s\n", Printable(r).c_str());
  uint32_t retry = 0, reminder = 0;
  (void)s.store->ReadDword(kRetryFailedMailSetting, retry);
  (void)s.store->ReadDword(kDailyReminderSetting, reminder);
  std::printf("Retry failed mail (after 1, 5, 15 min): %s\n", retry ? "on" : "off");
  std::printf("Daily reminder while a drive is down: %s\n", reminder ? "on" : "off");
  std::printf("Templates: %s\n", Printable(s.settings.MailTemplateDir).c_str());
  for (int k = 1; k <= 4; ++k) {
    const TextLines& subj = s.settings.MailSubjectTemplate[static_cast<size_t>(k)];
    const TextLines& cont = s.settings.MailContentsTemplate[static_cast<size_t>(k)];
    std::printf("  %d %s: subject %s, contents %zu line(s)\n", k, kMailCategoryNames[k],
                subj.empty() ? "(none)" : ("\"" + Printable(subj.front()) + "\"").c_str(), cont.size());
  }
  return kOk;
}

int Set(Session& s, const std::vector<std::string>& a) {
  MailPage& p = *s.page;
  for (size_t i = 0; i < a.size(); ++i) {
    const std::string& o = a[i];
    if (o == "--password-stdin") {
      std::string pw;
      if (!ReadPassword(pw)) return Usage("--password-stdin: no password on standard input");
      if (pw.size() > kPasswordMaxLength) return Usage("the password has at most 15 characters");
      p.EditChanged(MailField::Password, pw);
      continue;
    }
    if (i + 1 >= a.size()) return Usage(o + " needs a value");
    const std::string v = a[++i];
    if (o == "--server")
      p.EditChanged(MailField::SmtpHost, v);
    else if (o == "--port") {
      if (!Digits(v, 5) || std::stoi(v) < 1 || std::stoi(v) > 65535) return Usage("--port needs a number 1-65535");
      p.EditChanged(MailField::Port, v);
    } else if (o == "--name")
      p.EditChanged(MailField::SenderName, v);
    else if (o == "--address")
      p.EditChanged(MailField::SenderAddress, v);
    else if (o == "--timeout") {
      if (!Digits(v, 2)) return Usage("--timeout needs seconds 0-99");
      p.EditChanged(MailField::TimeOut, v);
    } else if (o == "--auth") {
      if (v != "on" && v != "off") return Usage("--auth takes on or off");
      p.LoginClick(v == "on");
    } else if (o == "--ca-file") {
      if (const int rc = CheckCaFile(v, p.Model.CaFile); rc != kOk) return rc;
    } else if (o == "--tls") {
      if (v != "auto" && v != "required" && v != "implicit") return Usage("--tls takes auto, required or implicit");
      ParseTlsPolicy(v, p.Model.Tls);
    } else if (o == "--retry" || o == "--reminder") {
      // Stored beside the page's settings, in the same write.
      if (v != "on" && v != "off") return Usage(o + " takes on or off");
      p.AlsoStore(o == "--retry" ? kRetryFailedMailSetting : kDailyReminderSetting,
                  SettingsValue{SettingsType::Dword, "", v == "on" ? 1u : 0u, {}});
    } else {
      return Usage("unknown option \"" + o + "\" of mail set");
    }
  }
  return s.Save();
}

int Recipients(Session& s, const std::vector<std::string>& a) {
  if (a.size() != 2 || (a[0] != "add" && a[0] != "remove")) return Usage("mail recipients add|remove ADDRESS");
  MailPage& p = *s.page;
  p.SelectSubPage(1);
  if (a[0] == "add") {
    if (p.Model.Recipients.size() >= kMaxRecipients)
      return Wrong("the list already holds " + std::to_string(kMaxRecipients) + " addresses");
    if (const std::string why = MailboxSyntaxError(a[1]); !why.empty())
      return Wrong("E-Mail Address formula error! \"" + a[1] + "\" is not a mail address: " + why);
    p.Model.FailPageInput = a[1];
    p.AddRecipient();
  } else {
    const auto& list = p.Model.Recipients;
    size_t row = 0;
    while (row < list.size() && list[row] != a[1]) ++row;
    if (row == list.size()) return Wrong(a[1] + " is not in the list");
    p.SelectCell(1, static_cast<int>(row));
    p.RemoveRecipient();
  }
  return s.Save();
}

int Template(Session& s, const std::vector<std::string>& a) {
  if (a.size() != 3 || (a[0] != "1" && a[0] != "2") || (a[1] != "subject" && a[1] != "contents"))
    return Usage("mail template 1|2 subject|contents FILE");
  TextLines lines;
  const FileStamp st = StatNoFollow(a[2]);
  if (!st.exists) return Wrong(a[2] + " does not exist");
  if (!st.regular) return Wrong(a[2] + " is not a plain file (a link or a folder is not taken)");
  const Outcome r = ReadTemplateFile(a[2], lines);
  if (!r.ok()) {
    std::fprintf(stderr, "raidctl: %s\n", r.error().c_str());
    // Too large is the file given; anything else is a failure to read it.
    return r.error().find("larger than") != std::string::npos ? kUsage : kFailed;
  }
  MailPageModel& m = s.page->Model;
  TextLines& memo = a[0] == "1" ? (a[1] == "subject" ? m.FailSubject : m.FailContents)
                                : (a[1] == "subject" ? m.RemoveSubject : m.RemoveContents);
  memo = lines;
  return s.Save();
}

// The system information block every mail carries, as the window's status
// bar shows it on a double click.
std::vector<std::string> SystemInfoBlock() {
  ComSession com;
  com.InitializeSecurity();
  return BuildSystemInfoText(QuerySystemProperties());
}

int SystemInfo() {
  std::string text;
  for (const std::string& line : SystemInfoBlock()) text += line;
  // The block's lines start with their line break.
  if (!text.empty() && text.front() == '\n') text.erase(0, 1);
  std::printf("%s\n", text.c_str());
  return kOk;
}

int TestMail(Session& s) {
  const std::vector<std::string> info = SystemInfoBlock();
  MonitorState ms;
  SystemClock clock;
  MailNotifier n(*s.store, ms, ms.MailRequestFlags, info, clock,
                 [](StatusBarPanel, const std::string& t) { std::printf("%s\n", t.c_str()); });
  const SmtpOutcome o = n.SendTestMailNow();
  if (!o.ok()) {
    std::printf("Send mail failed: %s\n", o.error().c_str());
    return kFailed;
  }
  std::printf("Send mail Success!\n");
  if (!o.refused.empty()) {
    std::printf("%s\n", RefusedText(o).c_str());
    return kFailed;
  }
  return kOk;
}

}  // namespace

std::string MailUsage() {
  return "mail commands (the settings the window's E-mail page edits; every one takes --config-dir DIR):\n"
         "  mail show                                  the stored settings (never the password)\n"
         "  mail set [--server HOST] [--port N] [--name TEXT] [--address ADDR] [--timeout S]\n"
         "           [--auth on|off] [--password-stdin]   change them; the password is read from\n"
         "                                             standard input (no echo on a terminal)\n"
         "           [--ca-file FILE] [--tls auto|required|implicit]  certificates trusted instead of\n"
         "                                             the system's (empty FILE: the system's again); TLS:\n"
         "                                             auto STARTTLS when offered (465: from the start),\n"
         "                                             required never logs in or sends without it,\n"
         "                                             implicit TLS from the start on any port\n"
         "           [--retry on|off] [--reminder on|off]  a failed notification tried again after\n"
         "                                             1, 5, 15 min; a daily reminder while a drive\n"
         "                                             stays failed or missing (both off by default)\n"
         "  mail recipients add|remove ADDR            the recipient list (at most 10 mailboxes)\n"
         "  mail template 1|2 subject|contents FILE    a template of category 1 (Hard Disks Fail)\n"
         "                                             or 2 (Device Removed); an empty FILE removes it\n"
         "  test-mail                                  a short mail to every recipient, now\n"
         "  system-info                                the system information block the mails carry\n";
}

bool IsMailCommand(const std::vector<std::string>& args) {
  return args.size() >= 2 && (args[1] == "mail" || args[1] == "test-mail" || args[1] == "system-info");
}

int RunMailCommand(const std::vector<std::string>& args) {
  if (args[1] == "system-info") {
    if (args.size() == 3 && (args[2] == "--help" || args[2] == "-h")) {
      std::fputs(MailUsage().c_str(), stdout);
      return kOk;
    }
    return args.size() == 2 ? SystemInfo() : Usage("system-info takes no arguments");
  }
  std::vector<std::string> rest;
  std::string configDir;
  bool configSeen = false;
  for (size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::fputs(MailUsage().c_str(), stdout);
      return kOk;
    }
    if (args[i] == "--config-dir") {
      if (configSeen) return Usage("--config-dir is given twice");
      if (i + 1 >= args.size() || args[i + 1].empty()) return Usage("--config-dir needs a folder");
      configSeen = true;
      configDir = args[++i];
      const FileStamp st = StatNoFollow(configDir);
      if (st.exists && (st.regular || st.link)) return Usage("--config-dir: " + configDir + " is not a folder");
      continue;
    }
    rest.push_back(args[i]);
  }
  std::string sub;
  if (args[1] == "mail") {
    if (rest.empty()) return Usage("mail needs show, set, recipients or template");
    sub = rest.front();
    rest.erase(rest.begin());
    if (sub != "show" && sub != "set" && sub != "recipients" && sub != "template")
      return Usage("unknown mail command \"" + sub + "\"");
    if (sub == "show" && !rest.empty()) return Usage("mail show takes no arguments");
  } else if (!rest.empty()) {
    return Usage("test-mail takes no arguments");
  }
  Session s;
  if (!s.Open(configDir)) return kFailed;
  if (args[1] == "test-mail") return TestMail(s);
  if (sub == "show") return Show(s);
  if (sub == "set") return Set(s, rest);
  if (sub == "recipients") return Recipients(s, rest);
  return Template(s, rest);
}

}  // namespace raid
