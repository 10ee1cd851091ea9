#include "notify/notifier.h"

#include <algorithm>
#include <chrono>

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

void MailNotifier::Start() {
  PrepareMailSettings(store_, Settings, requestFlags_);
  LoadFollowUpSettings();
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

void MailNotifier::SendNotification() {
  const uint8_t flags = requestFlags_.load();
  panel_(kProbePanel, "Email=" + std::to_string(flags));
  if (flags & mail_request::kReloadSettings) {
    const SettingsResult r = LoadMailSettings(store_, Settings, requestFlags_, pump_);
    if (!r.ok)
      panel_(kMailPanel, "Mail settings cannot be read: " + r.error);
    else
      LoadFollowUpSettings();
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

bool MailNotifier::QueueTestMail(std::string& why) {
  if (requestFlags_.load() & mail_request::kReloadSettings) {
    const SettingsResult r = LoadMailSettings(store_, Settings, requestFlags_, pump_);
    if (!r.ok) {
      why = r.error;
      return false;
    }
  }
  if (!Settings.MailSettingsLoaded) {
    why = "no mail settings are stored yet: enter them and press OK first";
    return false;
  }
  if (Settings.MailRecipients.empty()) {
    why = "no recipient address is stored";
    return false;
  }
  MailJob job;
  ComposeTestMail(Settings, systemInfo_, AppTitle, job);
  Stamp(job);
  Enqueue(std::move(job));
  return true;
}

SmtpOutcome MailNotifier::SendTestMailNow() {
  SmtpOutcome out;
  if (!store_.KeyExists()) {
    out.error = "no mail settings are stored in " + store_.Location();
    return out;
  }
  std::atomic<uint8_t> flags{0};
  const SettingsResult r = LoadMailSettings(store_, Settings, flags);
  if (!r.ok) {
    out.error = r.error;
    return out;
  }
  if (Settings.MailRecipients.empty()) {
    out.error = "no recipient address is stored";
    return out;
  }
  MailJob job;
  ComposeTestMail(Settings, systemInfo_, AppTitle, job);
  Stamp(job);
  SmtpEvents events;
  events.connected = [this] { panel_(kProbePanel, "Connect"); };
  events.transferBegin = [this] { panel_(kMailPanel, "Mail is Sending..."); };
  return SendSmtp(job, Limits, events);
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
  store_.ReadDword(kRetryFailedMailSetting, retry);
  store_.ReadDword(kDailyReminderSetting, reminder);
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
    if (queue_.empty() || (stop_ && !drain_)) break;
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
  if (o.ok) {
    SmtpState = smtp_state::kSent;
    panel_(kMailPanel, "Send mail Success!");
    if (!o.refused.empty()) panel_(kMailPanel, RefusedText(o));
    ++Sent;
  } else {
    // (The day log note about it follows below.)
    // The request is done with: later notifications still go out.
    panel_(kMailPanel, "Send mail failed: " + o.error);
    {
      std::lock_guard<std::mutex> lock(mu_);
      LastError = o.error;
    }
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
    nextMinutes = followUp_.SendFinished(out.serial, o.ok, clock_.MonotonicMs());
    retrying = followUp_.retryEnabled;
  }
  // What the retries and reminders did; without them switched on nothing is
  // added to the day log.
  const std::string what = out.reminder ? "Mail: the daily reminder" : "Mail: the notification";
  const std::string attempt = out.attempt > 1 ? " (try " + std::to_string(out.attempt) + ")" : "";
  if (out.reminder)
    Note(o.ok ? what + " was sent: a drive is still failed or missing" : what + " could not be sent: " + o.error);
  else if (o.ok && out.attempt > 1)
    Note(what + " was sent" + attempt);
  else if (!o.ok && nextMinutes > 0)
    Note(what + " could not be sent" + attempt + ": " + o.error + "; next try in " + std::to_string(nextMinutes) +
         " min");
  else if (!o.ok && retrying && nextMinutes == 0)
    Note(what + " could not be sent" + attempt + ": " + o.error + "; given up");
  else if (!o.ok && retrying)
    Note(what + " could not be sent" + attempt + ": " + o.error + "; a newer notification replaced it");
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
  if (sender_.joinable()) sender_.join();
  std::lock_guard<std::mutex> lock(mu_);
  const size_t left = queue_.size();
  queue_.clear();
  return left;
}

}  // namespace raid
