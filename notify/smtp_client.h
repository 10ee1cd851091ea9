// Sends one mail over SMTP (libcurl): the LOGIN mechanism whenever the
// server offers authentication (a relay that offers none is used without),
// TLS as the job's policy says (auto: STARTTLS whenever the server offers
// it, TLS from the start on port 465), certificates verified against the
// job's CA file or the system's store. Every wait for the server is
// bounded: connecting by the connect time-out, each reply (and each piece
// of the message the server takes) by the reply time-out; the whole mail
// has no cap of its own, so a server that answers every step in time is
// never cut. Runs on any thread; the password never appears in an error
// text.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "notify/mail_message.h"
#include "platform/outcome.h"

namespace raid {

struct SmtpLimits {
  int connectMs = 10000;  // when the stored time-out is 0 or not a number
  int responseS = 30;     // the longest wait for one server reply
};

struct SmtpEvents {
  std::function<void()> connected;      // the server greeted
  std::function<void()> transferBegin;  // the message itself starts
  std::function<bool()> cancelled;      // polled: true ends the transfer
};

struct SmtpOutcome {
  Outcome outcome = Outcome::Fail({});  // failed: why not, for the user
  // Failed after the whole message was handed to the server: it may have
  // taken it, so sending it again could deliver it twice.
  bool maybeSent = false;
  bool cancelled = false;  // SmtpEvents::cancelled ended it
  // Recipients the server (or the address check) refused, with the reason;
  // an address that is no mailbox is left out of the envelope and the
  // headers.
  std::vector<std::pair<std::string, std::string>> refused;

  bool ok() const { return outcome.ok(); }
  const std::string& error() const { return outcome.error(); }
};

SmtpOutcome SendSmtp(const MailJob& job, const SmtpLimits& limits, const SmtpEvents& events = {});

// The mail panel's message when recipients were refused.
std::string RefusedText(const SmtpOutcome& o);

}  // namespace raid
