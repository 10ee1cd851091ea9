#include "notify/notifier.h"

#include "platform/system_info.h"

namespace raid {

MailNotifier::MailNotifier(SettingsStore& store, MonitorState& ms, const std::vector<std::string>& systemInfo,
                           Clock& clock, std::function<void(int, const std::string&)> panel, std::function<void()> pump)
    : store_(store), ms_(ms), systemInfo_(systemInfo), clock_(clock), panel_(std::move(panel)), pump_(std::move(pump)) {}

MailNotifier::~MailNotifier() { Stop(false); }

void MailNotifier::Start() {
  PrepareMailSettings(store_, Settings, ms_.MailRequestFlags);
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
  const uint8_t flags = ms_.MailRequestFlags.load();
  panel_(2, "Email=" + std::to_string(flags));
  if (flags & mail_request::kReloadSettings) {
    const SettingsResult r = LoadMailSettings(store_, Settings, ms_.MailRequestFlags, pump_);
    if (!r.ok) panel_(3, "Mail settings cannot be read: " + r.error);
  }
  if (!(ms_.MailRequestFlags.load() & mail_request::kPending)) return;
  if (Settings.MailSettingsLoaded && Settings.MailRecipientCount != 0) {
    MailJob job;
    ComposeNotification(Settings, ms_.MailCategory, ms_.MailEventText, systemInfo_, AppTitle, job);
    Stamp(job);
    Enqueue(std::move(job));
  }
  ms_.MailRequestFlags &= static_cast<uint8_t>(~mail_request::kPending);
}

bool MailNotifier::QueueTestMail(std::string& why) {
  if (ms_.MailRequestFlags.load() & mail_request::kReloadSettings) {
    const SettingsResult r = LoadMailSettings(store_, Settings, ms_.MailRequestFlags, pump_);
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
  events.connected = [this] { panel_(2, "Connect"); };
  events.transferBegin = [this] { panel_(3, "Mail is Sending..."); };
  return SendSmtp(job, Limits, events);
}

void MailNotifier::Enqueue(MailJob job) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    queue_.push_back(std::move(job));
  }
  cv_.notify_one();
}

void MailNotifier::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  while (true) {
    cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty() || (stop_ && !drain_)) break;
    MailJob job = std::move(queue_.front());
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

void MailNotifier::Deliver(const MailJob& job) {
  SmtpState = smtp_state::kDisconnected;
  SmtpEvents events;
  events.connected = [this] {
    SmtpState = smtp_state::kConnected;
    panel_(2, "Connect");
  };
  events.transferBegin = [this] {
    SmtpState = smtp_state::kSending;
    panel_(3, "Mail is Sending...");
  };
  events.cancelled = [this] { return cancel_.load(); };
  const SmtpOutcome o = SendSmtp(job, Limits, events);
  if (o.ok) {
    SmtpState = smtp_state::kSent;
    panel_(3, "Send mail Success!");
    if (!o.refused.empty()) panel_(3, RefusedText(o));
    ++Sent;
  } else {
    // The request is done with: later notifications still go out.
    panel_(3, "Send mail failed: " + o.error);
    {
      std::lock_guard<std::mutex> lock(mu_);
      LastError = o.error;
    }
    ++Failed;
  }
  SmtpState = smtp_state::kDisconnected;
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
