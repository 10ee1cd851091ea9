#include "notify/smtp_client.h"

#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <type_traits>

#include "notify/mail_address.h"
#include "platform/shared_library.h"

namespace raid {

namespace {

// The libcurl calls the client makes, as one table.
struct CurlApi {
  CURLcode (*global_init)(long);
  CURL* (*easy_init)();
  CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
  CURLcode (*easy_perform)(CURL*);
  void (*easy_cleanup)(CURL*);
  const char* (*easy_strerror)(CURLcode);
  curl_slist* (*slist_append)(curl_slist*, const char*);
  void (*slist_free_all)(curl_slist*);
};

#if RAID_CURL_AT_RUNTIME
// libcurl is opened at the first send, so a monitor that never mails never
// maps it or the TLS libraries it brings.
Expected<CurlApi> LoadCurl() {
  static SharedLibrary lib;
  if (const Outcome opened = lib.Open({"libcurl.so.4", "libcurl-gnutls.so.4"}); !opened)
    return Expected<CurlApi>::Fail("the mail library (libcurl) cannot be loaded: " + opened.error());
  CurlApi api{};
  std::string missing;  // the first symbol that is not there
  auto take = [&](auto& fn, const char* name) {
    const Expected<void*> at = lib.Symbol(name);
    fn = at ? reinterpret_cast<std::remove_reference_t<decltype(fn)>>(*at) : nullptr;
    if (!at && missing.empty()) missing = at.error();
  };
  take(api.global_init, "curl_global_init");
  take(api.easy_init, "curl_easy_init");
  take(api.easy_setopt, "curl_easy_setopt");
  take(api.easy_perform, "curl_easy_perform");
  take(api.easy_cleanup, "curl_easy_cleanup");
  take(api.easy_strerror, "curl_easy_strerror");
  take(api.slist_append, "curl_slist_append");
  take(api.slist_free_all, "curl_slist_free_all");
  if (!missing.empty()) return Expected<CurlApi>::Fail("the mail library (libcurl) is incomplete: " + missing);
  api.global_init(CURL_GLOBAL_DEFAULT);
  return api;
}
#else
Expected<CurlApi> LoadCurl() {
  CurlApi api{curl_global_init,  curl_easy_init,     curl_easy_setopt,  curl_easy_perform,
              curl_easy_cleanup, curl_easy_strerror, curl_slist_append, curl_slist_free_all};
  api.global_init(CURL_GLOBAL_DEFAULT);
  return api;
}
#endif

// Loaded (and initialised) once, by the first send; every later send uses
// the same table, or gets the same reason why there is none.
const Expected<CurlApi>& Curl() {
  static const Expected<CurlApi> loaded = LoadCurl();
  return loaded;
}

bool PlainAddress(const std::string& a) {
  if (a.empty() || a.size() > 254) return false;
  for (const char c : a) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F || c == '<' || c == '>' || c == '"' || c == ',') return false;
  }
  return true;
}

bool ParsePort(const std::string& text, long& port) {
  if (text.empty() || text.size() > 5) return false;
  port = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    port = port * 10 + (c - '0');
  }
  return port >= 1 && port <= 65535;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct Transfer {
  const SmtpEvents* events = nullptr;
  int64_t connectMs = 10000;  // the connection and the server's greeting
  int64_t replyMs = 30000;    // each later reply
  std::string message;
  size_t sent = 0;
  bool greeted = false;
  bool begun = false;
  bool dataDone = false;  // the whole message was handed over
  bool verdict = false;   // the server answered the end of the message
  bool accepted = false;  // ... with 2xx: the mail is the server's
  std::string rcpt;       // the recipient whose RCPT reply is awaited
  std::string lastError;  // the last server reply of 400 or above
  std::vector<std::pair<std::string, std::string>> refused;
  // The wait for the server: since when it owes a reply (or takes no more
  // of the message), -1 while it owes nothing; and what it is waiting for.
  int64_t waitingSinceMs = -1;
  std::string awaiting;
  bool startTls = false;  // the last command was STARTTLS: the handshake follows its reply
  bool timedOut = false;  // the reply bound ended the transfer
  bool cancelled = false;
};

// The command a line we send starts with, for messages; the lines of the
// login (user and password) are never kept.
std::string CommandName(const std::string& line) {
  for (const char* c : {"EHLO", "HELO", "STARTTLS", "AUTH", "MAIL", "RCPT", "DATA", "QUIT", "RSET", "NOOP"})
    if (line.rfind(c, 0) == 0) return c;
  return "the login";
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// Follows the dialogue for the connected event, refused recipients, the
// server's reason of a failure and the reply bound. The lines we send are
// looked at only for their command and RCPT's address, so login data is
// never kept.
int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  auto* t = static_cast<Transfer*>(user);
  if (type == CURLINFO_HEADER_OUT) {
    const std::string line(data, size);
    t->rcpt.clear();
    if (line.rfind("RCPT TO:<", 0) == 0) {
      const size_t end = line.rfind('>');
      if (end != std::string::npos && end > 9) t->rcpt = line.substr(9, end - 9);
    }
    // A reply is owed from now on. After the bound ended the transfer, the
    // goodbye (QUIT) gets no new wait of its own.
    if (!t->timedOut && !t->cancelled) {
      t->waitingSinceMs = NowMs();
      t->awaiting = "the reply to " + CommandName(line);
      t->startTls = line.rfind("STARTTLS", 0) == 0;
    }
  } else if (type == CURLINFO_HEADER_IN) {
    const std::string line = Trim(std::string(data, size));
    if (!t->greeted) {
      t->greeted = true;
      if (line.rfind("220", 0) == 0 && t->events->connected) t->events->connected();
    }
    if (line.size() >= 3 && line[0] >= '4' && line[0] <= '5') {
      t->lastError = line;
      if (!t->rcpt.empty()) t->refused.emplace_back(t->rcpt, line);
    }
    const bool last = line.size() == 3 || (line.size() >= 4 && line[3] == ' ');
    if (last) {
      t->rcpt.clear();
      if (t->dataDone && !t->verdict) {
        t->verdict = true;
        t->accepted = line[0] == '2';
      }
      // After STARTTLS's reply the handshake must end within the bound too.
      if (t->startTls && line.rfind("220", 0) == 0) {
        t->waitingSinceMs = NowMs();
        t->awaiting = "the TLS handshake";
      } else {
        t->waitingSinceMs = -1;
      }
      t->startTls = false;
    }
  }
  return 0;
}

size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  if (!t->begun) {
    t->begun = true;
    if (t->events->transferBegin) t->events->transferBegin();
  }
  const size_t n = std::min(size * count, t->message.size() - t->sent);
  std::memcpy(buffer, t->message.data() + t->sent, n);
  t->sent += n;
  // The server took the last piece: the next must go (or, at the end, the
  // server's verdict come) within the bound.
  t->waitingSinceMs = NowMs();
  t->awaiting = "the server to take the message";
  if (t->sent == t->message.size()) {
    t->dataDone = true;
    t->awaiting = "the reply to the end of the message";
  }
  return n;
}

// Called by libcurl at least once a second, also while it waits for a
// reply (the goodbye after a failure included), so both the stop and the
// reply bound end a wait within about a second.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* t = static_cast<Transfer*>(user);
  if (t->timedOut || t->cancelled) return 1;
  if (t->events->cancelled && t->events->cancelled()) {
    t->cancelled = true;
    return 1;
  }
  const int64_t bound = t->greeted ? t->replyMs : t->connectMs;
  if (t->waitingSinceMs >= 0 && NowMs() - t->waitingSinceMs > bound) {
    t->timedOut = true;
    return 1;
  }
  return 0;
}

// Whether the file can be opened for reading (a link is followed: the
// system's certificate files are often links).
bool Readable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return static_cast<bool>(in);
}

}  // namespace

std::string RefusedText(const SmtpOutcome& o) {
  std::string s;
  for (const auto& [addr, why] : o.refused) s += (s.empty() ? "" : "; ") + addr + " (" + why + ")";
  return s.empty() ? s : "Mail refused for " + s;
}

SmtpOutcome SendSmtp(const MailJob& job, const SmtpLimits& limits, const SmtpEvents& events) {
  SmtpOutcome out;
  auto failed = [&out](std::string why) {
    out.outcome = Outcome::Fail(std::move(why));
    return out;
  };
  long port = 0;
  if (job.host.empty()) {
    return failed("no mail server (SMTP) is set");
  }
  if (job.host.find_first_of("/@?#[] \t\r\n\\") != std::string::npos && job.host.front() != '[') {
    return failed("the mail server name \"" + job.host + "\" is not a host name or address");
  }
  if (!ParsePort(job.port, port)) {
    return failed("the port \"" + job.port + "\" is not a number from 1 to 65535");
  }
  if (!PlainAddress(job.senderAddress)) {
    return failed(job.senderAddress.empty() ? "no sender e-mail address is set"
                                            : "the sender address \"" + job.senderAddress + "\" is not a mail address");
  }
  if (!job.caFile.empty() && !Readable(job.caFile)) {
    return failed("the CA file " + job.caFile + " cannot be read (raidctl mail set --ca-file names another)");
  }
  // An address that is no mailbox goes neither into the envelope nor into
  // the headers (one bad address in To: can make a server refuse the whole
  // message); it is named with the outcome.
  MailJob sendable = job;
  sendable.recipients.clear();
  for (const std::string& r : job.recipients) {
    const std::string why = MailboxSyntaxError(r);
    if (why.empty())
      sendable.recipients.push_back(r);
    else
      out.refused.emplace_back(r, "not a mail address: " + why);
  }
  if (sendable.recipients.empty()) {
    std::string why = "no recipient address to send to";
    if (!out.refused.empty()) why += " (" + RefusedText(out) + ")";
    return failed(why);
  }
  const Expected<CurlApi>& curl = Curl();
  if (!curl) return failed(curl.error());
  const CurlApi& api = *curl;
  curl_slist* rcpts = nullptr;
  for (const std::string& r : sendable.recipients) rcpts = api.slist_append(rcpts, ("<" + r + ">").c_str());
  CURL* c = api.easy_init();
  if (!c) {
    api.slist_free_all(rcpts);
    return failed("the mail client could not be started");
  }
  Transfer t;
  t.events = &events;
  t.replyMs = static_cast<int64_t>(limits.responseS) * 1000;
  // From now on the connection and the greeting are awaited.
  t.waitingSinceMs = NowMs();
  t.awaiting = "the connection and the server's greeting";
  t.message = BuildMessageText(sendable);
  const bool ipv6 = job.host.find(':') != std::string::npos && job.host.front() != '[';
  const std::string host = ipv6 ? "[" + job.host + "]" : job.host;
  const bool implicitTls = job.tls == TlsPolicy::Implicit || (job.tls == TlsPolicy::Auto && port == 465) ||
                           (job.tls == TlsPolicy::Required && port == 465);
  const std::string url = std::string(implicitTls ? "smtps://" : "smtp://") + host + ":" + std::to_string(port);
  int connectMs = limits.connectMs;
  long stored = 0;
  if (ParsePort(job.timeOut, stored) && stored > 0 && stored < 100) connectMs = static_cast<int>(stored * 1000);
  char errbuf[CURL_ERROR_SIZE] = {};
  const std::string user = LoginUser(job.senderAddress);
  api.easy_setopt(c, CURLOPT_URL, url.c_str());
  api.easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
  api.easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  api.easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  // Required: without STARTTLS the dialogue ends before AUTH and MAIL, so
  // a server (or anyone between) that hides it never gets the password.
  api.easy_setopt(c, CURLOPT_USE_SSL,
                  static_cast<long>(job.tls == TlsPolicy::Required ? CURLUSESSL_ALL : CURLUSESSL_TRY));
  api.easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  api.easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!job.caFile.empty()) api.easy_setopt(c, CURLOPT_CAINFO, job.caFile.c_str());
  api.easy_setopt(c, CURLOPT_USERNAME, user.c_str());
  api.easy_setopt(c, CURLOPT_PASSWORD, job.password.c_str());
  api.easy_setopt(c, CURLOPT_LOGIN_OPTIONS, "AUTH=LOGIN");
  api.easy_setopt(c, CURLOPT_MAIL_FROM, ("<" + job.senderAddress + ">").c_str());
  api.easy_setopt(c, CURLOPT_MAIL_RCPT, rcpts);
  api.easy_setopt(c, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L);
  api.easy_setopt(c, CURLOPT_UPLOAD, 1L);
  api.easy_setopt(c, CURLOPT_READFUNCTION, OnRead);
  api.easy_setopt(c, CURLOPT_READDATA, &t);
  api.easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(t.message.size()));
  api.easy_setopt(c, CURLOPT_VERBOSE, 1L);
  api.easy_setopt(c, CURLOPT_DEBUGFUNCTION, OnDebug);
  api.easy_setopt(c, CURLOPT_DEBUGDATA, &t);
  api.easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  api.easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
  api.easy_setopt(c, CURLOPT_XFERINFODATA, &t);
  // The connection ends with this transfer, on this handle, so the goodbye
  // (QUIT) is under OnProgress's bound too instead of libcurl's own at
  // clean-up.
  api.easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
  // libcurl's connect time-out covers the whole opening dialogue (greeting,
  // EHLO, STARTTLS, the handshake, AUTH), which would cut a server that
  // answers each of them in time: the connect time-out holds until the
  // greeting and the reply bound after it (OnProgress); libcurl's own only
  // backs up the eight waits that dialogue may have.
  t.connectMs = connectMs;
  api.easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectMs + 8 * (t.replyMs + 2000)));
  // The reply bound is kept by OnProgress (which also ends the goodbye
  // after a failure); libcurl's own, a little later, only backs it up.
  api.easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(limits.responseS + 2));
  const CURLcode rc = api.easy_perform(c);
  api.easy_cleanup(c);
  api.slist_free_all(rcpts);
  for (auto& r : t.refused) out.refused.push_back(std::move(r));
  // Accepted is accepted, whatever became of the goodbye after it.
  if (rc == CURLE_OK || t.accepted) {
    out.outcome = Outcome::Ok();
    return out;
  }
  const std::string server = t.lastError.empty() ? std::string() : " (server: " + t.lastError + ")";
  const std::string detail = errbuf[0] ? Trim(errbuf) : api.easy_strerror(rc);
  const std::string where = job.host + " port " + std::to_string(port);
  std::string error;
  const std::string waited = " within " + std::to_string(t.greeted ? limits.responseS : connectMs / 1000) +
                             " s (waiting for " + t.awaiting + ")";
  if (t.cancelled) {
    out.cancelled = true;
    error = "sending was stopped";
  } else if (t.timedOut) {
    error = "no answer from " + where + waited;
  } else {
    switch (rc) {
      case CURLE_COULDNT_RESOLVE_HOST: error = "the mail server " + job.host + " cannot be found"; break;
      case CURLE_COULDNT_CONNECT: error = "cannot connect to " + where + ": " + detail; break;
      case CURLE_OPERATION_TIMEDOUT:
        error = "no answer from " + where + (t.awaiting.empty() ? " in time: " + detail : waited) + server;
        break;
      case CURLE_LOGIN_DENIED: error = "the server refused the login of \"" + user + "\"" + server; break;
      case CURLE_PEER_FAILED_VERIFICATION:
      case CURLE_SSL_CACERT_BADFILE:
        error = "the certificate of " + job.host + " could not be verified: " + detail +
                (job.caFile.empty() ? " (a private CA is trusted with raidctl mail set --ca-file FILE)"
                                    : " (trusted: the CA file " + job.caFile + ")");
        break;
      case CURLE_USE_SSL_FAILED:
        error = where + " offers no STARTTLS and the TLS policy is \"required\": neither the login nor the mail " +
                "was sent" + server;
        break;
      case CURLE_SSL_CONNECT_ERROR:
        error = "TLS could not be set up with " + where + ": " + detail +
                (job.tls == TlsPolicy::Implicit ? " (the TLS policy \"implicit\" speaks TLS from the start: does "
                                                  "this port?)"
                                                : "");
        break;
      case CURLE_ABORTED_BY_CALLBACK: error = "sending was stopped"; break;
      default: error = detail + server; break;
    }
  }
  // Cut while the server held the whole message but before its verdict:
  // it may have taken the mail.
  if (t.dataDone && !t.verdict) {
    out.maybeSent = true;
    error += "; the whole message had reached the server, so it may have been sent";
  }
  return failed(error);
}

}  // namespace raid
