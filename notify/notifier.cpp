#include "notify/notifier.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "platform/file_io.h"
#include "platform/settings_file.h"
#include "platform/system_info.h"

namespace raid {

MailNotifier::MailNotifier(SettingsStore& store, const MonitorState& events, std::atomic<uint8_t>& requestFlags,
                           const std::vector<std::string>& systemInfo, Clock& clock,
                           std::function<void(StatusBarPanel, const std::string&)> panel, std::function<void()> pump)
    : store_(store),
      ms_(events),
      requestFlags_(requestFlags),
      systemInfo_(systemInfo),
      clock_(clock),
      panel_(std::move(panel)),
      pump_(std::move(pump)) {}

MailNotifier::~MailNotifier() { Stop(false); }

namespace {

// A mail as the day log names it: its kind, subject and first line.
std::string Describe(const MailJob& job, bool test, bool reminder) {
  std::string first = job.body.empty() ? std::string() : job.body.front();
  first.erase(0, first.find_first_not_of('\n') == std::string::npos ? first.size() : first.find_first_not_of('\n'));
  first = first.substr(0, first.find('\n'));
  if (!first.empty() && first.back() == '\r') first.pop_back();
  return std::string(test       ? "Mail: the test mail"
                     : reminder ? "Mail: the daily reminder"
                                : "Mail: the notification") +
         " \"" + job.subject + "\"" + (first.empty() ? "" : " (" + first + ")");
}

// The kept mails are stored in the settings file's notation (one value
// per line, every byte escaped), a value at most 64 KiB.
constexpr size_t kKeptTextMax = 60 * 1024;

std::string Numbered(const char* name, size_t i) { return name + std::string(i < 10 ? "_0" : "_") + std::to_string(i); }

}  // namespace

void MailNotifier::Start() {
  PrepareMailSettings(store_, Settings, requestFlags_);
  LoadFollowUpSettings();
  RestoreUnsent();
  std::lock_guard<std::mutex> lock(mu_);
  if (sender_.joinable()) return;
  stop_ = false;
  cancel_ = false;
  sender_ = std::thread([this] { Run(); });
}

void MailNotifier::Stamp(MailJob& job) {
  job.date = clock_.Now();
  job.utcOffsetMinutes = UtcOffsetMinutes(job.date);
  job.charset = SystemCharset();
}

std::string MailNotifier::SettingsStamp() {
  std::string st = store_.ChangeStamp();
  const std::string& dir = Settings.MailTemplateDir.empty() ? store_.DefaultTemplateDir() : Settings.MailTemplateDir;
  for (int k = 1; k <= 4; ++k) {
    for (const std::string& f : {SubjectFileName(dir, k), ContentsFileName(dir, k)}) {
      const FileStamp t = StatNoFollow(f);
      st += "|" + std::to_string(t.size) + ":" + std::to_string(t.modifiedNs) + ":" + std::to_string(t.fileId);
    }
  }
  return st;
}

Outcome MailNotifier::Reload(bool pump) {
  // Stamped before the read, so a change made during it is seen next time.
  stamp_ = SettingsStamp();
  if (!store_.KeyExists()) {
    // Nothing stored (any more): what was loaded before stays in use.
    requestFlags_ &= static_cast<uint8_t>(~mail_request::kReloadSettings);
    return {};
  }
  const Outcome r = LoadMailSettings(store_, Settings, requestFlags_, pump ? pump_ : std::function<void()>{});
  if (!r.ok()) return r;
  Settings.SettingsKeyExists = true;
  LoadFollowUpSettings();
  std::lock_guard<std::mutex> lock(mu_);
  SetMailRoute(Settings, route_);
  routeKnown_ = true;
  return r;
}

void MailNotifier::ReloadIfChanged() {
  if (SettingsStamp() == stamp_) return;
  const Outcome r = Reload(false);
  if (!r.ok()) panel_(kMailPanel, "Mail settings cannot be read: " + r.error());
}

void MailNotifier::SettingsChanged() {
  const Outcome r = Reload(false);
  if (!r.ok()) panel_(kMailPanel, "Mail settings cannot be read: " + r.error());
}

void MailNotifier::SendNotification() {
  const uint8_t flags = requestFlags_.load();
  panel_(kProbePanel, "Email=" + std::to_string(flags));
  // Read again when asked to, or when the store changed since (raidctl
  // mail set while this program runs).
  if ((flags & mail_request::kReloadSettings) || SettingsStamp() != stamp_) {
    const Outcome r = Reload(true);
    if (!r.ok()) panel_(kMailPanel, "Mail settings cannot be read: " + r.error());
  }
  if (!(requestFlags_.load() & mail_request::kPending)) return;
  if (Settings.MailSettingsLoaded && Settings.MailRecipientCount != 0) {
    MailJob job;
    ComposeNotification(Settings, ms_.MailCategory, ms_.MailEventText, systemInfo_, AppTitle, job);
    Stamp(job);
    bool replaced = false;
    uint64_t serial = 0;
    {
      std::lock_guard<std::mutex> lock(mu_);
      replaced = followUp_.NewNotification(job, clock_.MonotonicMs());
      serial = followUp_.LastSerial();
    }
    if (replaced) Note("Mail: the notification waiting to be sent again was replaced by a newer one");
    Enqueue(std::move(job), serial);
  }
  requestFlags_ &= static_cast<uint8_t>(~mail_request::kPending);
}

Outcome MailNotifier::QueueTestMail() {
  if ((requestFlags_.load() & mail_request::kReloadSettings) || SettingsStamp() != stamp_) {
    if (Outcome r = Reload(true); !r.ok()) return r;
  }
  if (!Settings.MailSettingsLoaded)
    return Outcome::Fail("no mail settings are stored yet: enter them and press OK first");
  if (Settings.MailRecipients.empty()) return Outcome::Fail("no recipient address is stored");
  MailJob job;
  ComposeTestMail(Settings, systemInfo_, AppTitle, job);
  Stamp(job);
  Enqueue(std::move(job));
  return Outcome::Ok();
}

Expected<MailJob> MailNotifier::ComposeTestMailNow() {
  if (!store_.KeyExists()) return Expected<MailJob>::Fail("no mail settings are stored in " + store_.Location());
  // Read into a copy: the settings in use change only by Reload.
  MailSettingsState settings;
  std::atomic<uint8_t> flags{0};
  if (const Outcome r = LoadMailSettings(store_, settings, flags); !r.ok()) return Expected<MailJob>::Fail(r.error());
  if (settings.MailRecipients.empty()) return Expected<MailJob>::Fail("no recipient address is stored");
  MailJob job;
  ComposeTestMail(settings, systemInfo_, AppTitle, job);
  Stamp(job);
  return job;
}

SmtpOutcome MailNotifier::SendNow(const MailJob& job, const SmtpLimits& limits,
                                  const std::function<void(StatusBarPanel, const std::string&)>& panel,
                                  std::function<bool()> cancelled) {
  SmtpEvents events;
  events.connected = [&panel] { panel(kProbePanel, "Connect"); };
  events.transferBegin = [&panel] { panel(kMailPanel, "Mail is Sending..."); };
  events.cancelled = std::move(cancelled);
  return SendSmtp(job, limits, events);
}

SmtpOutcome MailNotifier::SendTestMailNow() {
  Expected<MailJob> job = ComposeTestMailNow();
  if (!job) {
    SmtpOutcome out;
    out.outcome = Outcome::Fail(job.error());
    return out;
  }
  return SendNow(*job, Limits, panel_);
}

void MailNotifier::Enqueue(MailJob job, uint64_t serial) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    queue_.push_back(Outgoing{std::move(job), serial, 1, false});
  }
  cv_.notify_one();
}

void MailNotifier::LoadFollowUpSettings() {
  if (!store_.KeyExists()) return;
  uint32_t retry = 0, reminder = 0;
  (void)store_.ReadDword(kRetryFailedMailSetting, retry);
  (void)store_.ReadDword(kDailyReminderSetting, reminder);
  std::lock_guard<std::mutex> lock(mu_);
  followUp_.retryEnabled = retry != 0;
  followUp_.reminderEnabled = reminder != 0;
}

void MailNotifier::Note(const std::string& text) {
  if (LogNote) LogNote(text);
}

void MailNotifier::TakeDueLocked() {
  while (auto due = followUp_.TakeDue(clock_.MonotonicMs())) {
    Outgoing out{std::move(due->job), due->serial, due->attempt, due->kind == MailFollowUp::Due::Reminder};
    // Sent with the settings read last (a password fixed meanwhile).
    if (routeKnown_) CopyMailRoute(route_, out.job);
    if (out.reminder) {
      // A new message: its own date and Message-ID, the subject marked.
      out.job.subject = "Reminder: " + out.job.subject;
      out.job.messageId.clear();
      Stamp(out.job);
    }
    queue_.push_back(std::move(out));
  }
}

void MailNotifier::Observe(bool driveDown) {
  const int64_t now = clock_.MonotonicMs();
  if (now - lastLookMs_ >= kSettingsLookMs || now < lastLookMs_) {
    lastLookMs_ = now;
    ReloadIfChanged();
  }
  SendRestored();
  {
    std::lock_guard<std::mutex> lock(mu_);
    followUp_.SetDriveDown(driveDown, clock_.MonotonicMs());
    if (!sender_.joinable() || stop_) return;
    TakeDueLocked();
  }
  cv_.notify_one();
}

void MailNotifier::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  while (true) {
    TakeDueLocked();
    const int64_t next = followUp_.NextDueMs();
    const auto ready = [this] { return stop_ || !queue_.empty(); };
    if (next < 0) {
      cv_.wait(lock, ready);
    } else {
      // Woken at the time the next retry or reminder is due (by the
      // program's clock, looked at again after the wait; Observe looks too).
      const int64_t wait = std::clamp<int64_t>(next - clock_.MonotonicMs(), 1, 60'000);
      if (!cv_.wait_for(lock, std::chrono::milliseconds(wait), ready)) continue;
    }
    if (queue_.empty() || (stop_ && (!drain_ || cancel_))) break;
    Outgoing job = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    Deliver(job);
    lock.lock();
    busy_ = false;
    idle_.notify_all();
  }
  busy_ = false;
  idle_.notify_all();
}

void MailNotifier::Deliver(const Outgoing& out) {
  const MailJob& job = out.job;
  SmtpState = smtp_state::kDisconnected;
  SmtpEvents events;
  events.connected = [this] {
    SmtpState = smtp_state::kConnected;
    panel_(kProbePanel, "Connect");
  };
  events.transferBegin = [this] {
    SmtpState = smtp_state::kSending;
    panel_(kMailPanel, "Mail is Sending...");
  };
  events.cancelled = [this] { return cancel_.load(); };
  const SmtpOutcome o = SendSmtp(job, Limits, events);
  if (o.cancelled) {
    // Stopped by Stop: named (and maybe kept) there.
    SmtpState = smtp_state::kDisconnected;
    std::lock_guard<std::mutex> lock(mu_);
    cut_.push_back(out);
    return;
  }
  if (o.ok()) {
    SmtpState = smtp_state::kSent;
    panel_(kMailPanel, "Send mail Success!");
    if (!o.refused.empty()) panel_(kMailPanel, RefusedText(o));
    ++Sent;
  } else {
    // (The day log note about it follows below.)
    // The request is done with: later notifications still go out.
    panel_(kMailPanel, "Send mail failed: " + o.error());
    ++Failed;
  }
  SmtpState = smtp_state::kDisconnected;
  if (out.serial == 0) {  // a test mail
    if (TestMailFinished) TestMailFinished(o);
    return;
  }
  int nextMinutes = 0;
  bool retrying = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    // A mail that may have been sent is never sent again: it could arrive
    // twice.
    nextMinutes = followUp_.SendFinished(out.serial, o.ok() || o.maybeSent, clock_.MonotonicMs());
    retrying = followUp_.retryEnabled;
  }
  // What the retries and reminders did; without them switched on nothing is
  // added to the day log.
  const std::string what = out.reminder ? "Mail: the daily reminder" : "Mail: the notification";
  const std::string attempt = out.attempt > 1 ? " (try " + std::to_string(out.attempt) + ")" : "";
  if (o.maybeSent && retrying)
    Note(what + attempt + " may have been sent: " + o.error() + "; it is not sent again");
  else if (out.reminder)
    Note(o.ok() ? what + " was sent: a drive is still failed or missing" : what + " could not be sent: " + o.error());
  else if (o.ok() && out.attempt > 1)
    Note(what + " was sent" + attempt);
  else if (!o.ok() && nextMinutes > 0)
    Note(what + " could not be sent" + attempt + ": " + o.error() + "; next try in " + std::to_string(nextMinutes) +
         " min");
  else if (!o.ok() && retrying && nextMinutes == 0)
    Note(what + " could not be sent" + attempt + ": " + o.error() + "; given up");
  else if (!o.ok() && retrying)
    Note(what + " could not be sent" + attempt + ": " + o.error() + "; a newer notification replaced it");
}

void MailNotifier::WaitIdle() {
  std::unique_lock<std::mutex> lock(mu_);
  idle_.wait(lock, [this] { return (queue_.empty() && !busy_) || !sender_.joinable(); });
}

size_t MailNotifier::Stop(bool drain) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
    drain_ = drain;
    if (!drain) cancel_ = true;
  }
  cv_.notify_all();
  if (drain && sender_.joinable()) {
    // The mails handed over get a bounded time in all (a service must end
    // before its stop time-out); then the transfer running is stopped.
    std::unique_lock<std::mutex> lock(mu_);
    if (!idle_.wait_for(lock, std::chrono::milliseconds(StopDrainMs), [this] { return queue_.empty() && !busy_; }))
      cancel_ = true;
  }
  if (sender_.joinable()) sender_.join();
  std::vector<Outgoing> left;
  {
    std::lock_guard<std::mutex> lock(mu_);
    left = std::move(cut_);
    cut_.clear();
    for (Outgoing& q : queue_) left.push_back(std::move(q));
    queue_.clear();
    // A notification waiting for its next try is left unsent as well.
    if (std::optional<MailJob> waiting = followUp_.DropWaiting())
      left.push_back(Outgoing{std::move(*waiting), followUp_.LastSerial(), 2, false});
  }
  if (!left.empty()) KeepUnsent(left);
  return left.size();
}

void MailNotifier::KeepUnsent(const std::vector<Outgoing>& left) {
  bool retry = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    retry = followUp_.retryEnabled;
  }
  // Notifications (not test mails or reminders) are kept with retries on.
  SettingsValues values;
  std::vector<bool> kept(left.size(), false);
  uint32_t n = 0;
  std::string keptError;
  for (size_t i = 0; i < left.size(); ++i) {
    const MailJob& j = left[i].job;
    if (!retry || UnsentFile.empty() || left[i].serial == 0 || left[i].reminder) continue;
    std::string body;
    for (const std::string& e : j.body) body += (body.empty() ? "" : "\n") + e;
    if (body.size() > kKeptTextMax || j.subject.size() > kKeptTextMax) {
      keptError = "longer than 60 KiB";
      continue;
    }
    auto text = [&](const char* name, const std::string& v) {
      values[Numbered(name, n)] = SettingsValue{SettingsType::String, v, 0, {}};
    };
    text("Subject", j.subject);
    text("Body", body);
    text("Date", std::to_string(ToLocalMs(j.date)));
    text("UtcOffset", std::to_string(j.utcOffsetMinutes));
    text("Charset", j.charset);
    text("MessageId", j.messageId);
    kept[i] = true;
    ++n;
  }
  if (n > 0) {
    values["Count"] = SettingsValue{SettingsType::Dword, "", n, {}};
    std::string file = FormatSettingsFile(values);
    file.replace(0, file.find('\n'), "; Notifications not sent before the program ended, sent at its next start.");
    const Outcome w = ReplaceFile(UnsentFile, file, nullptr, FileAccess::OwnerOnly);
    if (!w.ok()) {
      keptError = "cannot write " + UnsentFile + ": " + w.error();
      kept.assign(left.size(), false);
    }
  }
  for (size_t i = 0; i < left.size(); ++i) {
    const Outgoing& o = left[i];
    std::string why = "; dropped";
    if (kept[i])
      why = "; it is sent again at the next start";
    else if (retry && o.serial != 0 && !o.reminder && !keptError.empty())
      why = "; dropped (it cannot be kept: " + keptError + ")";
    Note(Describe(o.job, o.serial == 0, o.reminder) + " was not sent before the program ended" + why);
  }
}

void MailNotifier::RestoreUnsent() {
  if (UnsentFile.empty() || !StatNoFollow(UnsentFile).exists) return;
  std::string text;
  SettingsValues values;
  Outcome r = ReadPlainFile(UnsentFile, kSettingsFileMaxBytes, text);
  if (r.ok()) {
    Expected<SettingsValues> parsed = ParseSettingsFile(text);
    if (parsed) values = std::move(*parsed);
    r = parsed.outcome();
  }
  if (!r.ok()) {
    Note("Mail: the notifications kept at the last exit cannot be read from " + UnsentFile + ": " + r.error() +
         "; the file is left as it is");
    return;
  }
  // Removed before anything is sent, so no start sends them twice.
  std::error_code ec;
  if (!std::filesystem::remove(UnsentFile, ec) || ec) {
    Note("Mail: the notifications kept at the last exit in " + UnsentFile +
         " are not sent: the file cannot be removed (" + ec.message() + ")");
    return;
  }
  auto text_of = [&](const std::string& name, std::string& out) {
    const auto it = values.find(name);
    if (it == values.end() || it->second.type != SettingsType::String) return false;
    out = it->second.text;
    return true;
  };
  const auto count = values.find("Count");
  const uint32_t n = count == values.end() || count->second.type != SettingsType::Dword ? 0 : count->second.number;
  for (uint32_t i = 0; i < n && i < 100; ++i) {
    MailJob job;
    std::string body, date, offset;
    bool ok = text_of(Numbered("Subject", i), job.subject) && text_of(Numbered("Body", i), body) &&
              text_of(Numbered("Date", i), date) && text_of(Numbered("UtcOffset", i), offset) &&
              text_of(Numbered("Charset", i), job.charset) && text_of(Numbered("MessageId", i), job.messageId);
    try {
      if (ok) {
        job.date = FromLocalMs(std::stoll(date));
        job.utcOffsetMinutes = std::stoi(offset);
      }
    } catch (const std::exception&) {
      ok = false;
    }
    if (!ok) {
      Note("Mail: notification " + std::to_string(i + 1) + " kept at the last exit in " + UnsentFile +
           " is incomplete; dropped");
      continue;
    }
    job.body = {body};
    restored_.push_back(std::move(job));
  }
}

void MailNotifier::SendRestored() {
  if (restored_.empty()) return;
  std::vector<MailJob> jobs = std::move(restored_);
  restored_.clear();
  if ((requestFlags_.load() & mail_request::kReloadSettings) || SettingsStamp() != stamp_) {
    const Outcome r = Reload(false);
    if (!r.ok()) panel_(kMailPanel, "Mail settings cannot be read: " + r.error());
  }
  for (MailJob& job : jobs) {
    const std::string name = Describe(job, false, false);
    if (!Settings.MailSettingsLoaded || Settings.MailRecipients.empty()) {
      Note(name + " kept at the last exit cannot be sent: no mail settings or recipients are stored; dropped");
      continue;
    }
    SetMailRoute(Settings, job);
    uint64_t serial = 0;
    {
      std::lock_guard<std::mutex> lock(mu_);
      followUp_.NewNotification(job, clock_.MonotonicMs());
      serial = followUp_.LastSerial();
    }
    Note(name + " kept at the last exit is sent now");
    Enqueue(std::move(job), serial);
  }
}

}  // namespace raid
