// The notification path of both front ends: the start-up hook, the callback
// TEmailThread runs on the main thread (SendNotification: reload, compose,
// hand over) and the sender thread that talks to the SMTP server, so the
// window never waits for the network. Status texts go to the probe and mail panels.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "monitor/monitor_state.h"
#include "notify/mail_follow_up.h"
#include "notify/mail_message.h"
#include "notify/mail_settings.h"
#include "notify/smtp_client.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "platform/user_interface.h"

namespace raid {

// SmtpState values.
namespace smtp_state {
constexpr uint8_t kIdle = 0, kConnected = 1, kDisconnected = 2, kSending = 16, kSent = 17;
}

class MailNotifier {
 public:
  // panel: shows a status-bar text; called on the main thread and on the
  // sender thread, so it must be safe from any thread. pump: lets window
  // messages be handled during a load (main thread). events: the category
  // and lines of what is mailed; requestFlags: the mail request flags the
  // monitor sets and the notifier clears once served.
  MailNotifier(SettingsStore& store, const MonitorState& events, std::atomic<uint8_t>& requestFlags,
               const std::vector<std::string>& systemInfo, Clock& clock,
               std::function<void(StatusBarPanel, const std::string&)> panel, std::function<void()> pump = {});
  ~MailNotifier();

  // The start-up hook: looks for the stored settings, starts the sender.
  void Start();
  // TEmailThread's callback (main thread).
  void SendNotification();
  // The "Send test mail" button: composed now, sent by the sender thread.
  // Fails with the reason when there is nothing to send with.
  Outcome QueueTestMail();
  // raidctl test-mail: loads, composes and sends on the calling thread.
  SmtpOutcome SendTestMailNow();
  // Its halves: the test mail composed from the settings stored now (the
  // ones in use are left as they are), or why there is none; and a mail
  // sent on the calling thread, its connection and transfer told to panel,
  // stopped between steps once cancelled says so.
  Expected<MailJob> ComposeTestMailNow();
  static SmtpOutcome SendNow(const MailJob& job, const SmtpLimits& limits,
                             const std::function<void(StatusBarPanel, const std::string&)>& panel,
                             std::function<bool()> cancelled = {});
  // The stored settings changed (the monitor service changed them): they
  // are read now, not at the next look.
  void SettingsChanged();
  // Ends the sender thread. drain: mails already handed over are sent
  // first, for at most StopDrainMs in all; else (and after that time) a
  // running transfer is stopped. Each mail left unsent is named in a note;
  // with retries on and UnsentFile set, the notifications among them are
  // kept there for the next start. Returns how many mails were left.
  size_t Stop(bool drain);
  // Waits until every mail handed over has been sent or has failed (tests).
  void WaitIdle();
  // Main thread, after each poll: whether a drive of a monitored enclosure
  // is failed or missing now (the daily reminder), a look at what the
  // retries and reminders have due by the program's clock, and, every
  // kSettingsLookMs of program time, whether the stored settings changed
  // (raidctl mail set while this program runs): they are read again then.
  // Mails kept at the last exit go out at the first call.
  void Observe(bool driveDown);
  static constexpr int64_t kSettingsLookMs = 5000;

  // Called with each line the retries and reminders have for the day log
  // (on the sender thread or in Observe); the front end appends it on its
  // main thread. Set before Start.
  std::function<void(const std::string&)> LogNote;
  // Called with the outcome of each test mail, on the sender thread (the
  // status bar's mail panel is too narrow for a reason). Set before Start.
  std::function<void(const SmtpOutcome&)> TestMailFinished;

  MailSettingsState Settings;
  SmtpLimits Limits;
  int64_t StopDrainMs = 10000;  // real time Stop(true) gives the mails handed over
  // Where notifications left unsent at the end are kept for the next start
  // (with retries on); empty: they are only named. Set before Start.
  std::string UnsentFile;
  std::string AppTitle = "RAID GUI v0.23-1";
  std::atomic<uint8_t> SmtpState{smtp_state::kIdle};
  std::atomic<int> Sent{0}, Failed{0};

 private:
  // A mail handed over: the notification's first try, a retry, a reminder,
  // or a test mail (serial 0: not followed up).
  struct Outgoing {
    MailJob job;
    uint64_t serial = 0;
    int attempt = 1;
    bool reminder = false;
  };
  void Enqueue(MailJob job, uint64_t serial = 0);
  // Main thread: reads the settings again when asked to or when the store
  // (or a template file) changed since the last read.
  void ReloadIfChanged();
  Outcome Reload(bool pump);
  std::string SettingsStamp();
  void SendRestored();
  void KeepUnsent(const std::vector<Outgoing>& left);
  void RestoreUnsent();
  void Run();
  void Deliver(const Outgoing& out);
  void LoadFollowUpSettings();
  // With mu_ held: moves what is due into the queue.
  void TakeDueLocked();
  void Note(const std::string& text);
  void Stamp(MailJob& job);

  SettingsStore& store_;
  const MonitorState& ms_;
  std::atomic<uint8_t>& requestFlags_;
  const std::vector<std::string>& systemInfo_;
  Clock& clock_;
  std::function<void(StatusBarPanel, const std::string&)> panel_;
  std::function<void()> pump_;
  std::mutex mu_;
  std::condition_variable cv_, idle_;
  std::deque<Outgoing> queue_;
  MailFollowUp followUp_;      // guarded by mu_
  std::vector<Outgoing> cut_;  // stopped by Stop before they were sent (guarded by mu_)
  MailJob route_;              // the server and recipients last read (guarded by mu_)
  bool routeKnown_ = false;
  std::vector<MailJob> restored_;  // kept at the last exit, to send (main thread)
  std::string stamp_;              // SettingsStamp() of the last read (main thread)
  int64_t lastLookMs_ = 0;
  bool busy_ = false;
  bool stop_ = false;
  bool drain_ = false;
  std::atomic<bool> cancel_{false};
  std::thread sender_;
};

}  // namespace raid
