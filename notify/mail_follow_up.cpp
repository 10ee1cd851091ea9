#include "notify/mail_follow_up.h"

namespace raid {

bool MailFollowUp::NewNotification(const MailJob& job, int64_t nowMs) {
  const bool replaced = waiting_.has_value() && waiting_->triesDone > 0 && waiting_->dueMs >= 0;
  job_ = job;
  lastMailMs_ = nowMs;
  waiting_ = Waiting{++serial_, 0, -1};
  return replaced;
}

int MailFollowUp::SendFinished(uint64_t serial, bool ok, int64_t nowMs) {
  if (!waiting_ || waiting_->serial != serial) return -1;  // a reminder, or replaced meanwhile
  if (ok) {
    waiting_.reset();
    return 0;
  }
  const int done = ++waiting_->triesDone;
  if (!retryEnabled || done > 3) {
    waiting_.reset();
    return 0;
  }
  const int64_t delay = kRetryDelaysMs[done - 1];
  waiting_->dueMs = nowMs + delay;
  return static_cast<int>(delay / 60'000);
}

std::optional<MailFollowUp::Due> MailFollowUp::TakeDue(int64_t nowMs) {
  if (waiting_ && waiting_->dueMs >= 0 && nowMs >= waiting_->dueMs) {
    waiting_->serial = ++serial_;
    waiting_->dueMs = -1;
    return Due{Due::Retry, waiting_->serial, waiting_->triesDone + 1, *job_};
  }
  if (reminderEnabled && down_ && job_ && nowMs >= lastMailMs_ + kReminderPeriodMs) {
    lastMailMs_ = nowMs;
    return Due{Due::Reminder, ++serial_, 0, *job_};
  }
  return std::nullopt;
}

int64_t MailFollowUp::NextDueMs() const {
  int64_t next = -1;
  if (waiting_ && waiting_->dueMs >= 0) next = waiting_->dueMs;
  if (reminderEnabled && down_ && job_) {
    const int64_t r = lastMailMs_ + kReminderPeriodMs;
    if (next < 0 || r < next) next = r;
  }
  return next;
}

std::optional<MailJob> MailFollowUp::DropWaiting() {
  std::optional<MailJob> job;
  if (waiting_ && waiting_->dueMs >= 0 && job_) job = *job_;
  waiting_.reset();
  return job;
}

void MailFollowUp::SetDriveDown(bool down, int64_t nowMs) {
  // The day counts from the notification, or from the moment the drive was
  // seen down when that came later.
  if (down && !down_ && nowMs > lastMailMs_) lastMailMs_ = nowMs;
  down_ = down;
}

}  // namespace raid
