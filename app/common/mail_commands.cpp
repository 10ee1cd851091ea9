#include "app/common/mail_commands.h"

#include <cstdarg>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <CLI/CLI.hpp>

#include "app/common/command_line.h"
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
  out.Err("raidctl: " + why + "\nraidctl --help lists every option\n");
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

int Set(Session& s, const std::vector<std::pair<std::string, std::string>>& a, const MailInput& input,
        bool standalone) {
  CommandOutput& out = s.out;
  MailPage& p = *s.page;
  if (a.empty()) return Usage(out, "mail set needs at least one of its options (raidctl mail set --help lists them)");
  // A server or sender name with a line break or a control character, or
  // a sender that is no mail address, would be stored only to fail (or
  // mislead) every later mail.
  const auto hasControl = [](const std::string& v, bool blanksToo) {
    return std::any_of(v.begin(), v.end(), [&](char c) {
      const auto u = static_cast<unsigned char>(c);
      return u < 0x20 || u == 0x7F || (blanksToo && u == ' ');
    });
  };
  for (const auto& [o, v] : a) {
    if (o == "--password-stdin") {
      std::string pw;
      if (const int rc = TakePassword(out, input, standalone, pw); rc != kOk) return rc;
      p.EditChanged(MailField::Password, pw);
      continue;
    }
    if (o == "--server") {
      if (hasControl(v, true)) return Usage(out, "--server: a host name has no blanks or control characters");
      p.EditChanged(MailField::SmtpHost, v);
    } else if (o == "--port") {
      if (!Digits(v, 5) || std::stoi(v) < 1 || std::stoi(v) > 65535) return Usage(out, "--port needs a number 1-65535");
      p.EditChanged(MailField::Port, v);
    } else if (o == "--name") {
      if (hasControl(v, false)) return Usage(out, "--name: no line breaks or control characters");
      p.EditChanged(MailField::SenderName, v);
    } else if (o == "--address") {
      if (const std::string why = v.empty() ? "" : MailboxSyntaxError(v); !why.empty())
        return Wrong(out, "E-Mail Address formula error! \"" + v + "\" is not a mail address: " + why);
      p.EditChanged(MailField::SenderAddress, v);
    } else if (o == "--timeout") {
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
    if (const std::string why = MailboxSyntaxError(a[1]); !why.empty())
      return Wrong(out, "E-Mail Address formula error! \"" + a[1] + "\" is not a mail address: " + why);
    for (const std::string& r : p.Model.Recipients)
      if (SameMailbox(r, a[1])) return Wrong(out, a[1] + " is already in the list");
    if (p.Model.Recipients.size() >= kMaxRecipients)
      return Wrong(out, "the list already holds " + std::to_string(kMaxRecipients) + " addresses");
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

// CATEGORY, PART and a FILE name (an empty file removes the template; an
// empty name is no file).
bool TemplateWordsFit(const std::vector<std::string>& a) {
  return a.size() == 3 && (a[0] == "1" || a[0] == "2") && (a[1] == "subject" || a[1] == "contents") && !a[2].empty();
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
  // A file with NUL bytes is no text (an image, a program): its bytes
  // would go out as a mail's subject or body.
  if (const size_t nul = text.find('\0'); nul != std::string::npos)
    return Wrong(out, a[2] + " is not a text file (a NUL byte at offset " + std::to_string(nul) + ")");
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

}  // namespace

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

void MailTable::Add(CommandLine& line, CLI::App& root) {
  CLI::App& mail = line.Command(root, "mail",
                                "the mail settings the window's E-mail page edits: the monitor service's when one\n"
                                "answers, else those stored here (--config-dir DIR: the ones in DIR)");
  line.Command(mail, "show", "the stored settings (never the password)");
  CLI::App& set = line.Command(mail, "set", "change them");
  line.Value(set, "--server", server_, "HOST", "the SMTP server");
  line.Value(set, "--port", port_, "N", "its port, 1-65535");
  line.Value(set, "--name", name_, "TEXT", "the sender's name");
  line.Value(set, "--address", address_, "ADDR", "the sender's address");
  line.Value(set, "--timeout", timeout_, "S", "seconds to wait for the server, 0-99");
  line.Choice(set, "--auth", auth_, {"on", "off"}, "SMTP Login Authentication");
  line.Flag(set, "--password-stdin", passwordStdin_, "the password, read from standard input (no echo on a terminal)");
  line.Value(set, "--ca-file", caFile_, "FILE",
             "certificates trusted instead of the system's (empty FILE: the system's again)");
  line.Choice(set, "--tls", tls_, {"auto", "required", "implicit"},
              "auto: STARTTLS when offered (465: TLS from the start); required: never\n"
              "logs in or sends without it; implicit: TLS from the start on any port");
  line.Choice(set, "--retry", retry_, {"on", "off"},
              "a failed notification tried again after 1, 5, 15 min (off by default)");
  line.Choice(set, "--reminder", reminder_, {"on", "off"},
              "a daily reminder while a drive stays failed or missing (off by default)");
  CLI::App& recipients = line.Command(mail, "recipients", "the recipient list (at most 10 mailboxes)");
  line.Word(recipients, "ACTION", action_, {"add", "remove"}, "add the mailbox to the list or remove it");
  line.Word(recipients, "ADDR", mailbox_, {}, "the mailbox");
  CLI::App& templ = line.Command(mail, "template",
                                 "a template of category 1 (Hard Disks Fail) or 2 (Device Removed);\n"
                                 "an empty FILE removes it");
  line.Word(templ, "CATEGORY", category_, {"1", "2"}, "1 Hard Disks Fail, 2 Device Removed");
  line.Word(templ, "PART", part_, {"subject", "contents"}, "the subject or the contents");
  line.Word(templ, "FILE", file_, {}, "the template's text");
  line.Command(root, "test-mail", "a short mail to every recipient, now");
  line.Command(root, "system-info", "the system information block the mails carry");
}

std::string MailTable::Finish(const CommandLine& line, const std::string& configDir, MailWords& w) const {
  const std::vector<std::string> commands = line.Commands();
  w = {};
  w.command = commands.empty() ? "" : commands.front();
  w.sub = commands.size() > 1 ? commands[1] : "";
  w.configGiven = line.Given("--config-dir");
  w.configDir = configDir;
  if (w.command == "mail" && w.sub.empty()) return "mail needs show, set, recipients or template";
  if (w.sub == "set") {
    const std::pair<const char*, const std::string*> values[] = {
        {"--server", &server_},   {"--port", &port_},        {"--name", &name_},      {"--address", &address_},
        {"--timeout", &timeout_}, {"--auth", &auth_},        {"--ca-file", &caFile_}, {"--tls", &tls_},
        {"--retry", &retry_},     {"--reminder", &reminder_}};
    for (const auto& [name, value] : values)
      if (line.Given(name)) w.set.emplace_back(name, *value);
    if (passwordStdin_) w.set.emplace_back("--password-stdin", "");
  } else if (w.sub == "recipients") {
    if (action_.empty() || mailbox_.empty() || (action_ != "add" && action_ != "remove"))
      return "mail recipients add|remove ADDRESS";
    w.words = {action_, mailbox_};
  } else if (w.sub == "template") {
    w.words = {category_, part_, file_};
    if (!TemplateWordsFit(w.words)) return "mail template 1|2 subject|contents FILE";
  }
  return {};
}

std::vector<std::string> MailWords::ServiceWords() const {
  std::vector<std::string> out{sub};
  // "--name=VALUE": a value that starts with '-' stays the option's.
  for (const auto& [name, value] : set) out.push_back(name == "--password-stdin" ? name : name + "=" + value);
  // A mailbox or a file name may start with '-': after "--" it is read as
  // the word it is.
  if (!words.empty()) out.push_back("--");
  out.insert(out.end(), words.begin(), words.end());
  return out;
}

bool IsMailCommand(const std::string& command) {
  return command == "mail" || command == "test-mail" || command == "system-info";
}

int RunMailCommand(const std::vector<std::string>& args, CommandOutput& out, const MailInput& input,
                   SettingsStore* store) {
  CommandLine line("raidctl", "");
  std::string configDir;
  line.Value(line.Root(), "--config-dir", configDir, "DIR", "");
  MailTable table;
  table.Add(line, line.Root());
  const CommandLineEnd end = line.Parse(args);
  if (end.exit == 0) {
    out.Out(end.out);
    return kOk;
  }
  if (end.exit > 0) return Usage(out, end.error);
  MailWords w;
  if (const std::string why = table.Finish(line, configDir, w); !why.empty()) return Usage(out, why);
  if (w.command.empty()) return Usage(out, "a mail command is needed");
  return RunMailWords(w, out, input, store);
}

int RunMailWords(const MailWords& w, CommandOutput& out, const MailInput& input, SettingsStore* store) {
  if (w.command == "system-info") return SystemInfo(out);
  const bool standalone = store == nullptr;
  if (!standalone && w.configGiven)
    return Usage(out, "--config-dir: the monitor service edits its own settings; give --config-dir without it");
  Session s(out);
  if (standalone) {
    s.owned = MakeSettingsStore(w.configDir);
    store = s.owned.get();
  }
  if (!s.Open(*store)) return kFailed;
  if (w.command == "test-mail") return TestMail(s);
  if (w.sub == "show") return Show(s);
  if (w.sub == "set") return Set(s, w.set, input, standalone);
  if (w.sub == "recipients") return Recipients(s, w.words);
  return Template(s, w.words, input, standalone);
}

std::optional<int> GatherMailInput(const MailWords& w, CommandOutput& out, MailInput& input) {
  if (w.sub == "set") {
    for (const auto& [name, value] : w.set) {
      if (name == "--password-stdin" && !input.password) {
        std::string pw;
        if (!ReadPassword(pw)) return Usage(out, "--password-stdin: no password on standard input");
        input.password = pw;
      } else if (name == "--ca-file") {
        // Checked here, as the user who names it; the service gets its
        // absolute name.
        std::string stored;
        if (const int rc = CheckCaFile(out, value, stored); rc != kOk) return rc;
        input.caFile = stored;
      }
    }
  } else if (w.sub == "template" && TemplateWordsFit(w.words)) {
    std::string text;
    if (const int rc = TemplateFileText(out, w.words[2], text); rc != kOk) return rc;
    input.templateText = std::move(text);
  }
  return std::nullopt;
}

}  // namespace raid
