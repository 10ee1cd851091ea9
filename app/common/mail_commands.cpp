#include "app/common/mail_commands.h"

#include <cstdarg>
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
#include "platform/base64.h"
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

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

// Boxes of the page become lines on standard error.
class CtlBoxes final : public UserInterface {
 public:
  explicit CtlBoxes(CommandOutput& out) : out_(out) {}
  void SetPanelText(StatusBarPanel, const std::string&) override {}
  BoxResult ShowMessage(const MessageBoxRequest& box) override {
    out_.Err("raidctl: " + box.text + "\n");
    return BoxResult::Ok;
  }

 private:
  CommandOutput& out_;
};

int Usage(CommandOutput& out, const std::string& why) {
  out.Err("raidctl: " + why + "\n" + MailUsage());
  return kUsage;
}

// Wrong use that needs no usage text: the reason alone.
int Wrong(CommandOutput& out, const std::string& why) {
  out.Err("raidctl: " + why + "\n");
  return kUsage;
}

// --ca-file: a readable file of PEM certificates, kept by its absolute path
// (the monitor runs elsewhere); empty: the system's store.
int CheckCaFile(CommandOutput& out, const std::string& given, std::string& stored) {
  stored.clear();
  if (given.empty()) return kOk;
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status st = fs::status(given, ec);
  if (!fs::exists(st)) return Wrong(out, "--ca-file: " + given + " does not exist");
  if (!fs::is_regular_file(st)) return Wrong(out, "--ca-file: " + given + " is not a plain file");
  std::ifstream in(given, std::ios::binary);
  if (!in) return Wrong(out, "--ca-file: " + given + " cannot be read");
  std::string head(1024 * 1024, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  if (in.bad()) return Wrong(out, "--ca-file: " + given + " cannot be read");
  head.resize(static_cast<size_t>(in.gcount()));
  if (head.find("-----BEGIN CERTIFICATE-----") == std::string::npos)
    return Wrong(out, "--ca-file: " + given + " holds no certificate in PEM form (-----BEGIN CERTIFICATE-----)");
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

// The password of --password-stdin: the one a client sent, else (only
// standalone) read from standard input.
int TakePassword(CommandOutput& out, const MailInput& input, bool standalone, std::string& pw) {
  if (input.password) {
    pw = *input.password;
  } else if (!standalone || !ReadPassword(pw)) {
    return Usage(out, "--password-stdin: no password on standard input");
  }
  if (pw.size() > kPasswordMaxLength) return Usage(out, "the password has at most 15 characters");
  return kOk;
}

// The template FILE's bytes, read by the user who names it (standalone, or
// the client of the monitor service).
int TemplateFileText(CommandOutput& out, const std::string& path, std::string& text) {
  const FileStamp st = StatNoFollow(path);
  if (!st.exists) return Wrong(out, path + " does not exist");
  if (!st.regular) return Wrong(out, path + " is not a plain file (a link or a folder is not taken)");
  if (const Outcome r = ReadPlainFile(path, kTemplateMaxBytes, text); !r.ok()) {
    out.Err("raidctl: cannot read the mail template " + path + ": " + r.error() + "\n");
    // Too large is the file given; anything else is a failure to read it.
    return r.error().find("larger than") != std::string::npos ? kUsage : kFailed;
  }
  return kOk;
}

struct Session {
  explicit Session(CommandOutput& o) : out(o), boxes(o) {}
  CommandOutput& out;
  std::unique_ptr<SettingsStore> owned;
  SettingsStore* store = nullptr;
  MailSettingsState settings;
  std::atomic<uint8_t> flags{0};
  CtlBoxes boxes;
  std::unique_ptr<MailPage> page;

  // The stored settings, as the window has them when its page is entered.
  bool Open(SettingsStore& s) {
    store = &s;
    PrepareMailSettings(*store, settings, flags);
    if (settings.SettingsKeyExists) {
      const Outcome r = LoadMailSettings(*store, settings, flags);
      if (!r.ok()) {
        out.Err("raidctl: " + r.error() + "\n");
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
  CommandOutput& out = s.out;
  out.Out(Format("Settings: %s%s\n", Printable(s.store->Location()).c_str(),
                 s.settings.SettingsKeyExists ? "" : " (none stored yet)"));
  const MailPageModel& m = s.page->Model;
  out.Out(Format("Port: %s\nSMTP: %s\nName: %s\nAddress: %s\nTime-out: %s\n", Printable(m.Port).c_str(),
                 Printable(m.SmtpHost).c_str(), Printable(m.SenderName).c_str(), Printable(m.SenderAddress).c_str(),
                 Printable(m.TimeOut).c_str()));
  const char* auth = s.settings.MailAuthState == kAuthInvalid ? "off (the stored password record is damaged)"
                                                              : (m.LoginChecked ? "on" : "off");
  out.Out(Format("SMTP Login Authentication: %s\n", auth));
  out.Out(Format("Password: %s\n", s.settings.MailAuthState == kAuthInvalid ? "unreadable"
                                   : m.Password.empty()                     ? "none"
                                                                            : "set"));
  out.Out(Format("CA file: %s\n",
                 m.CaFile.empty() ? "none (the system's certificate store)" : Printable(m.CaFile).c_str()));
  out.Out(Format("TLS: %s\n", TlsPolicyName(m.Tls)));
  out.Out("Recipients: " + std::to_string(m.Recipients.size()) + "\n");
  for (const std::string& r : m.Recipients) out.Out(Format("  %s\n", Printable(r).c_str()));
  uint32_t retry = 0, reminder = 0;
  (void)s.store->ReadDword(kRetryFailedMailSetting, retry);
  (void)s.store->ReadDword(kDailyReminderSetting, reminder);
  out.Out(Format("Retry failed mail (after 1, 5, 15 min): %s\n", retry ? "on" : "off"));
  out.Out(Format("Daily reminder while a drive is down: %s\n", reminder ? "on" : "off"));
  out.Out(Format("Templates: %s\n", Printable(s.settings.MailTemplateDir).c_str()));
  for (int k = 1; k <= 4; ++k) {
    const TextLines& subj = s.settings.MailSubjectTemplate[static_cast<size_t>(k)];
    const TextLines& cont = s.settings.MailContentsTemplate[static_cast<size_t>(k)];
    out.Out(Format("  %d %s: subject %s, contents %s line(s)\n", k, kMailCategoryNames[k],
                   subj.empty() ? "(none)" : ("\"" + Printable(subj.front()) + "\"").c_str(),
                   std::to_string(cont.size()).c_str()));
  }
  return kOk;
}

int Set(Session& s, const std::vector<std::string>& a, const MailInput& input, bool standalone) {
  CommandOutput& out = s.out;
  MailPage& p = *s.page;
  for (size_t i = 0; i < a.size(); ++i) {
    const std::string& o = a[i];
    if (o == "--password-stdin") {
      std::string pw;
      if (const int rc = TakePassword(out, input, standalone, pw); rc != kOk) return rc;
      p.EditChanged(MailField::Password, pw);
      continue;
    }
    if (i + 1 >= a.size()) return Usage(out, o + " needs a value");
    const std::string v = a[++i];
    if (o == "--server")
      p.EditChanged(MailField::SmtpHost, v);
    else if (o == "--port") {
      if (!Digits(v, 5) || std::stoi(v) < 1 || std::stoi(v) > 65535) return Usage(out, "--port needs a number 1-65535");
      p.EditChanged(MailField::Port, v);
    } else if (o == "--name")
      p.EditChanged(MailField::SenderName, v);
    else if (o == "--address")
      p.EditChanged(MailField::SenderAddress, v);
    else if (o == "--timeout") {
      if (!Digits(v, 2)) return Usage(out, "--timeout needs seconds 0-99");
      p.EditChanged(MailField::TimeOut, v);
    } else if (o == "--auth") {
      if (v != "on" && v != "off") return Usage(out, "--auth takes on or off");
      p.LoginClick(v == "on");
    } else if (o == "--ca-file") {
      if (standalone) {
        if (const int rc = CheckCaFile(out, v, p.Model.CaFile); rc != kOk) return rc;
      } else if (!v.empty() && !std::filesystem::path(v).is_absolute()) {
        // The client checked the file as its user and sent its absolute
        // name; the service opens no file a client names before it is
        // used for mail.
        return Usage(out, "--ca-file: the monitor service takes an absolute file name");
      } else {
        p.Model.CaFile = v.empty() ? v : std::filesystem::path(v).lexically_normal().string();
      }
    } else if (o == "--tls") {
      if (v != "auto" && v != "required" && v != "implicit")
        return Usage(out, "--tls takes auto, required or implicit");
      ParseTlsPolicy(v, p.Model.Tls);
    } else if (o == "--retry" || o == "--reminder") {
      // Stored beside the page's settings, in the same write.
      if (v != "on" && v != "off") return Usage(out, o + " takes on or off");
      p.AlsoStore(o == "--retry" ? kRetryFailedMailSetting : kDailyReminderSetting,
                  SettingsValue{SettingsType::Dword, "", v == "on" ? 1u : 0u, {}});
    } else {
      return Usage(out, "unknown option \"" + o + "\" of mail set");
    }
  }
  return s.Save();
}

int Recipients(Session& s, const std::vector<std::string>& a) {
  CommandOutput& out = s.out;
  if (a.size() != 2 || (a[0] != "add" && a[0] != "remove")) return Usage(out, "mail recipients add|remove ADDRESS");
  MailPage& p = *s.page;
  p.SelectSubPage(1);
  if (a[0] == "add") {
    if (p.Model.Recipients.size() >= kMaxRecipients)
      return Wrong(out, "the list already holds " + std::to_string(kMaxRecipients) + " addresses");
    if (const std::string why = MailboxSyntaxError(a[1]); !why.empty())
      return Wrong(out, "E-Mail Address formula error! \"" + a[1] + "\" is not a mail address: " + why);
    p.Model.FailPageInput = a[1];
    p.AddRecipient();
  } else {
    const auto& list = p.Model.Recipients;
    size_t row = 0;
    while (row < list.size() && list[row] != a[1]) ++row;
    if (row == list.size()) return Wrong(out, a[1] + " is not in the list");
    p.SelectCell(1, static_cast<int>(row));
    p.RemoveRecipient();
  }
  return s.Save();
}

bool TemplateWordsFit(const std::vector<std::string>& a) {
  return a.size() == 3 && (a[0] == "1" || a[0] == "2") && (a[1] == "subject" || a[1] == "contents");
}

int Template(Session& s, const std::vector<std::string>& a, const MailInput& input, bool standalone) {
  CommandOutput& out = s.out;
  if (!TemplateWordsFit(a)) return Usage(out, "mail template 1|2 subject|contents FILE");
  std::string text;
  if (input.templateText) {
    if (input.templateText->size() > kTemplateMaxBytes)
      return Wrong(out, "cannot read the mail template " + a[2] + ": larger than 1 MiB");
    text = *input.templateText;
  } else if (!standalone) {
    return Wrong(out, "mail template: the file " + a[2] + " was not sent");
  } else if (const int rc = TemplateFileText(out, a[2], text); rc != kOk) {
    return rc;
  }
  const TextLines lines = TemplateLines(text);
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

int SystemInfo(CommandOutput& out) {
  std::string text;
  for (const std::string& line : SystemInfoBlock()) text += line;
  // The block's lines start with their line break.
  if (!text.empty() && text.front() == '\n') text.erase(0, 1);
  out.Out(text + "\n");
  return kOk;
}

int TestMail(Session& s) {
  const std::vector<std::string> info = SystemInfoBlock();
  MonitorState ms;
  SystemClock clock;
  MailNotifier n(*s.store, ms, ms.MailRequestFlags, info, clock,
                 [&s](StatusBarPanel, const std::string& t) { s.out.Out(t + "\n"); });
  return TestMailResult(n.SendTestMailNow(), s.out);
}

// The command's words without --config-dir and its folder, checked;
// returns the exit code when the command has ended (help or a mistake).
struct MailWords {
  std::string sub;  // mail's show, set, recipients or template
  std::vector<std::string> rest;
  std::string configDir;
  bool configSeen = false;
};

std::optional<int> ReadMailWords(const std::vector<std::string>& args, CommandOutput& out, MailWords& w) {
  for (size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      out.Out(MailUsage());
      return kOk;
    }
    if (args[i] == "--config-dir") {
      if (w.configSeen) return Usage(out, "--config-dir is given twice");
      if (i + 1 >= args.size() || args[i + 1].empty()) return Usage(out, "--config-dir needs a folder");
      w.configSeen = true;
      w.configDir = args[++i];
      const FileStamp st = StatNoFollow(w.configDir);
      if (st.exists && (st.regular || st.link)) return Usage(out, "--config-dir: " + w.configDir + " is not a folder");
      continue;
    }
    w.rest.push_back(args[i]);
  }
  if (args[1] == "mail") {
    if (w.rest.empty()) return Usage(out, "mail needs show, set, recipients or template");
    w.sub = w.rest.front();
    w.rest.erase(w.rest.begin());
    if (w.sub != "show" && w.sub != "set" && w.sub != "recipients" && w.sub != "template")
      return Usage(out, "unknown mail command \"" + w.sub + "\"");
    if (w.sub == "show" && !w.rest.empty()) return Usage(out, "mail show takes no arguments");
  } else if (!w.rest.empty()) {
    return Usage(out, "test-mail takes no arguments");
  }
  return std::nullopt;
}

}  // namespace

std::string MailUsage() {
  return "mail commands (the settings the window's E-mail page edits: the monitor service's when one answers,\n"
         "else those stored here; --config-dir DIR, which every one takes, the ones in DIR):\n"
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

int TestMailResult(const SmtpOutcome& o, CommandOutput& out) {
  if (!o.ok()) {
    out.Out("Send mail failed: " + o.error() + "\n");
    return kFailed;
  }
  out.Out("Send mail Success!\n");
  if (!o.refused.empty()) {
    out.Out(RefusedText(o) + "\n");
    return kFailed;
  }
  return kOk;
}

int RunMailCommand(const std::vector<std::string>& args, CommandOutput& out, const MailInput& input,
                   SettingsStore* store) {
  if (args[1] == "system-info") {
    if (args.size() == 3 && (args[2] == "--help" || args[2] == "-h")) {
      out.Out(MailUsage());
      return kOk;
    }
    return args.size() == 2 ? SystemInfo(out) : Usage(out, "system-info takes no arguments");
  }
  MailWords w;
  if (const std::optional<int> ended = ReadMailWords(args, out, w)) return *ended;
  const bool standalone = store == nullptr;
  if (!standalone && w.configSeen)
    return Usage(out, "--config-dir: the monitor service edits its own settings; give --config-dir without it");
  Session s(out);
  if (standalone) {
    s.owned = MakeSettingsStore(w.configDir);
    store = s.owned.get();
  }
  if (!s.Open(*store)) return kFailed;
  if (args[1] == "test-mail") return TestMail(s);
  if (w.sub == "show") return Show(s);
  if (w.sub == "set") return Set(s, w.rest, input, standalone);
  if (w.sub == "recipients") return Recipients(s, w.rest);
  return Template(s, w.rest, input, standalone);
}

std::optional<int> GatherMailInput(const std::vector<std::string>& args, CommandOutput& out, MailInput& input) {
  MailWords w;
  if (const std::optional<int> ended = ReadMailWords(args, out, w)) return ended;
  if (w.sub == "set") {
    for (size_t i = 0; i < w.rest.size(); ++i) {
      if (w.rest[i] == "--password-stdin" && !input.password) {
        std::string pw;
        if (!ReadPassword(pw)) return Usage(out, "--password-stdin: no password on standard input");
        input.password = pw;
      } else if (w.rest[i] == "--ca-file" && i + 1 < w.rest.size()) {
        // Checked here, as the user who names it; the service gets its
        // absolute name.
        std::string stored;
        if (const int rc = CheckCaFile(out, w.rest[i + 1], stored); rc != kOk) return rc;
        input.caFile = stored;
        ++i;
      } else if (w.rest[i] != "--password-stdin") {
        ++i;  // an option's value
      }
    }
  } else if (w.sub == "template" && TemplateWordsFit(w.rest)) {
    std::string text;
    if (const int rc = TemplateFileText(out, w.rest[2], text); rc != kOk) return rc;
    input.templateText = std::move(text);
  }
  return std::nullopt;
}

}  // namespace raid
