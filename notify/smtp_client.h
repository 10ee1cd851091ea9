// Sends one mail over SMTP (libcurl): the LOGIN mechanism whenever the
// server offers authentication (a relay that offers none is used without),
// STARTTLS whenever the server offers it, TLS from the start on port 465,
// certificates verified. Every wait is bounded. Runs on any thread; the
// password never appears in an error text.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "notify/mail_message.h"

namespace raid {

struct SmtpLimits {
  int connectMs = 10000;  // when the stored time-out is 0 or not a number
  int responseS = 30;     // the longest wait for one server reply
  int totalMs = 120000;   // the whole transfer
  std::string caFile;     // extra trusted certificates (tests), empty: the system's
};

struct SmtpEvents {
  std::function<void()> connected;      // the server greeted
  std::function<void()> transferBegin;  // the message itself starts
  std::function<bool()> cancelled;      // polled: true ends the transfer
};

struct SmtpOutcome {
  bool ok = false;
  std::string error;  // for the user
  // Recipients the server (or the address check) refused, with the reason.
  std::vector<std::pair<std::string, std::string>> refused;
};

SmtpOutcome SendSmtp(const MailJob& job, const SmtpLimits& limits, const SmtpEvents& events = {});

// The mail panel's message when recipients were refused.
std::string RefusedText(const SmtpOutcome& o);

}  // namespace raid
