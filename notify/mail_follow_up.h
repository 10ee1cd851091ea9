// What happens to a notification after its first try, both off unless the
// settings switch them on:
//  - a notification whose sending failed is tried again 1, 5 and 15 minutes
//    after the failure before it, unless a newer notification replaced it;
//  - while a drive stays failed or missing, a reminder goes out once a day
//    (24 hours after the last notification or reminder).
// Plain bookkeeping on program milliseconds (Clock::MonotonicMs); the
// notifier owns the sending and says in the day log what was done.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "notify/mail_message.h"

namespace raid {

// Settings names (DWORD 0 off, 1 on).
inline constexpr const char* kRetryFailedMailSetting = "RetryFailedMail";
inline constexpr const char* kDailyReminderSetting = "DailyReminder";

class MailFollowUp {
 public:
  static constexpr int64_t kRetryDelaysMs[3] = {60'000, 5 * 60'000, 15 * 60'000};
  static constexpr int64_t kReminderPeriodMs = 24 * 3600'000LL;

  bool retryEnabled = false;
  bool reminderEnabled = false;

  // A new notification was handed over for sending (its first try). True
  // when it replaced a notification still waiting for a retry.
  bool NewNotification(const MailJob& job, int64_t nowMs);
  // The outcome of a send of a notification (first try, retry or reminder).
  // For a failed one: the minutes until the next try, or 0 when it is given
  // up (or retries are off). For a sent one: 0. -1 when the send is not
  // the waiting notification's (a reminder, or one replaced meanwhile).
  int SendFinished(uint64_t serial, bool ok, int64_t nowMs);

  // What is due by now: a retry of the waiting notification, or a reminder.
  struct Due {
    enum Kind { Retry, Reminder } kind;
    uint64_t serial;  // the send this makes, for SendFinished
    int attempt;      // retry: 2-4 (the first try is 1)
    MailJob job;      // the notification as first composed
  };
  std::optional<Due> TakeDue(int64_t nowMs);
  // When TakeDue next has something, or -1.
  int64_t NextDueMs() const;

  // Whether a drive of a monitored enclosure is failed or missing now.
  // Going down arms the reminder from now; coming back disarms it.
  void SetDriveDown(bool down, int64_t nowMs);

  // The notification waiting for a retry that has not begun (the program
  // ends): its job, and it waits no more.
  std::optional<MailJob> DropWaiting();

  // The serial of the first try of the last notification.
  uint64_t LastSerial() const { return serial_; }

 private:
  uint64_t serial_ = 0;  // grows with every send handed over
  // The notification waiting for its next try.
  struct Waiting {
    uint64_t serial = 0;  // of the try in flight or the last failed one
    int triesDone = 0;
    int64_t dueMs = -1;  // -1: a try is in flight
  };
  std::optional<Waiting> waiting_;
  std::optional<MailJob> job_;  // the last notification
  bool down_ = false;
  int64_t lastMailMs_ = -1;  // the last notification or reminder handed over
};

}  // namespace raid
