// Notification mails against a real SMTP server on 127.0.0.1 (aiosmtpd,
// started per test): what arrives, the status texts in their order, and
// the bounded outcome of a server that is down, hangs or refuses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <nlohmann/json.hpp>

#include "notify/mail_message.h"
#include "notify/notifier.h"
#include "tests/mail/smtp_test_server.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using test::SmtpServer;

// A port nobody listens on.
int ClosedPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(s);
  return ntohs(a.sin_port);
}

struct Rig {
  MemorySettingsStore store;
  MonitorState ms;
  std::vector<std::string> systemInfo = BuildSystemInfoText({"Board Maker", "X99", "raidhost", "192.168.1.5, fe80::1"});
  ManualClock clock{{2010, 5, 3, 9, 15, 30, 0}};
  std::mutex mu;
  std::vector<std::string> panels;
  std::unique_ptr<MailNotifier> n;
  fs::path dir;

  explicit Rig(int port, const std::string& password = "s3cret") {
    dir = fs::temp_directory_path() / ("raidgui-mailsend-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    store.exists = true;
    auto text = [&](const char* name, const std::string& v) { store.values[name] = {SettingsType::String, v, 0, {}}; };
    text("Port", std::to_string(port));
    text("SMTP", "127.0.0.1");
    text("UserName", "RAID Box");
    text("Addr", "alerts@example.com");
    text("TimeOut", "0");
    text("FilePath", dir.string() + "/");
    const PasswordRecord rec = EncodePasswordRecord(password, true, 0x21);
    store.values["ProductID"] = {SettingsType::Binary, "", 0, {rec.begin(), rec.end()}};
    SetRecipients({"ops@example.com", "dev@example.com"});
    std::ofstream(dir / "EmailSubject Hard Disks Fail.txt", std::ios::binary) << "Drive failure\r\nignored line\r\n";
    std::ofstream(dir / "EmailContens Hard Disks Fail.txt", std::ios::binary) << "Replace the drive.\r\n";
    n = std::make_unique<MailNotifier>(store, ms, ms.MailRequestFlags, systemInfo, clock,
                                       [this](StatusBarPanel p, const std::string& t) {
                                         std::lock_guard<std::mutex> lock(mu);
                                         panels.push_back(std::to_string(p) + ":" + t);
                                       });
    n->Limits.connectMs = 3000;
    n->Limits.responseS = 2;
    n->Start();
  }
  ~Rig() {
    n.reset();
    fs::remove_all(dir);
  }
  void SetRecipients(const std::vector<std::string>& r) {
    store.values["ToAddrCount"] = {SettingsType::Dword, "", static_cast<uint32_t>(r.size()), {}};
    for (size_t j = 0; j < r.size(); ++j) store.values[RecipientName(j)] = {SettingsType::String, r[j], 0, {}};
  }
  void Raise(uint8_t category, std::vector<std::string> lines) {
    ms.MailEventText = std::move(lines);
    ms.MailCategory = category;
    ms.MailRequestFlags |= mail_request::kPending;
  }
  void Serve() {
    n->SendNotification();
    n->WaitIdle();
  }
  std::vector<std::string> Panels() {
    std::lock_guard<std::mutex> lock(mu);
    return panels;
  }
};

std::vector<std::string> SplitCrLf(const std::string& s) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t p; (p = s.find("\r\n", start)) != std::string::npos; start = p + 2)
    out.push_back(s.substr(start, p - start));
  if (start < s.size()) out.push_back(s.substr(start));
  return out;
}

TEST(MailSend, ReloadThenSendDeliversTheExactMessage) {
  SmtpServer server("auth");
  ASSERT_GT(server.port, 0);
  Rig rig(server.port);
  EXPECT_EQ(rig.ms.MailRequestFlags.load(), 1);  // the start-up hook asks for a load
  rig.Raise(1, {"Device1 P0 Hard Disk Drive fail.", "Device1 information :"});
  rig.Serve();
  EXPECT_EQ(rig.ms.MailRequestFlags.load(), 0);
  EXPECT_EQ(rig.Panels(),
            (std::vector<std::string>{"2:Email=3", "2:Connect", "3:Mail is Sending...", "3:Send mail Success!"}));
  const auto mails = server.Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0]["mail_from"], "alerts@example.com");
  EXPECT_EQ(mails[0]["rcpt_tos"], nlohmann::json({"ops@example.com", "dev@example.com"}));
  EXPECT_EQ(mails[0]["login"], "alerts");
  const std::vector<std::string> lines = SplitCrLf(mails[0]["data"].get<std::string>());
  const LocalDateTime when{2010, 5, 3, 9, 15, 30, 0};
  ASSERT_GE(lines.size(), 9u);
  EXPECT_EQ(lines[0], "Date: " + MailDate(when, UtcOffsetMinutes(when)));
  EXPECT_EQ(lines[1], "From: \"RAID Box\" <alerts@example.com>");
  EXPECT_EQ(lines[2], "To: <ops@example.com>,");
  EXPECT_EQ(lines[3], " <dev@example.com>");
  EXPECT_EQ(lines[4], "Subject: [RAID GUI v0.23-1 Message] Drive failure");
  EXPECT_EQ(lines[5].rfind("Message-ID: <", 0), 0u);
  EXPECT_NE(lines[5].find("@example.com>"), std::string::npos);
  const std::vector<std::string> rest(lines.begin() + 6, lines.end());
  EXPECT_EQ(rest, (std::vector<std::string>{
                      "MIME-Version: 1.0",
                      "Content-Type: text/plain; charset=us-ascii",
                      "Content-Transfer-Encoding: 7bit",
                      "",
                      "Device1 P0 Hard Disk Drive fail.",
                      "Device1 information :",
                      "",
                      "=========== [System Information] ==============",
                      "",
                      "MotherBoard : Board Maker - X99",
                      "",
                      "System Name : raidhost",
                      "",
                      "IP Address  : 192.168.1.5, fe80::1",
                      "",
                      "===============================================",
                      "Replace the drive.",
                  }));
}

TEST(MailSend, TwoEventsInOnePeriodGiveOneMailWithTheSecondsLines) {
  SmtpServer server("auth");
  Rig rig(server.port);
  rig.ms.MailRequestFlags = 0;
  ASSERT_TRUE(LoadMailSettings(rig.store, rig.n->Settings, rig.ms.MailRequestFlags).ok());
  rig.Raise(1, {"Device1 P0 Hard Disk Drive fail."});
  rig.Raise(2, {"Device1 RAID system fail."});
  rig.Serve();
  const auto mails = server.Mails();
  ASSERT_EQ(mails.size(), 1u);
  const std::string data = mails[0]["data"];
  EXPECT_NE(data.find("\r\n\r\nDevice1 RAID system fail.\r\n"), std::string::npos);
  EXPECT_EQ(data.find("Hard Disk Drive fail"), std::string::npos);
  // Category 2 has no subject file: the bare prefix, ending in a blank.
  EXPECT_NE(data.find("Subject: [RAID GUI v0.23-1 Message] \r\n"), std::string::npos);
}

TEST(MailSend, NothingStoredOrNoRecipientsDropsTheRequest) {
  SmtpServer server("auth");
  Rig rig(server.port);
  rig.SetRecipients({});
  rig.Raise(1, {"x"});
  rig.Serve();
  EXPECT_EQ(rig.ms.MailRequestFlags.load(), 0);
  EXPECT_EQ(rig.n->Sent + rig.n->Failed, 0);
  EXPECT_TRUE(server.Mails().empty());
}

TEST(MailSend, FailuresAreBoundedShownAndLaterMailsStillGo) {
  const auto timed = [](Rig& rig) {
    const auto t0 = std::chrono::steady_clock::now();
    rig.Raise(1, {"x"});
    rig.Serve();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  };
  {
    Rig rig(ClosedPort());
    EXPECT_LT(timed(rig), 5000);
    EXPECT_EQ(rig.n->Failed, 1);
    EXPECT_EQ(rig.Panels().back().rfind("3:Send mail failed: cannot connect to 127.0.0.1 port", 0), 0u)
        << rig.Panels().back();
  }
  {
    SmtpServer hang("hang");
    Rig rig(hang.port);
    const auto ms = timed(rig);
    EXPECT_GE(ms, 1000);
    EXPECT_LT(ms, 9500);
    EXPECT_EQ(rig.n->Failed, 1);
    EXPECT_NE(rig.Panels().back().find("no answer from 127.0.0.1"), std::string::npos) << rig.Panels().back();
  }
  {
    SmtpServer server("auth");
    Rig rig(server.port, "wrong-password");
    timed(rig);
    EXPECT_EQ(rig.n->Failed, 1);
    const std::string last = rig.Panels().back();
    EXPECT_NE(last.find("refused the login of \"alerts\""), std::string::npos) << last;
    EXPECT_NE(last.find("535"), std::string::npos) << last;
    for (const std::string& p : rig.Panels()) EXPECT_EQ(p.find("wrong-password"), std::string::npos);
    EXPECT_TRUE(server.Mails().empty());
    // The failed request is gone; the next one is served.
    EXPECT_EQ(rig.ms.MailRequestFlags.load(), 0);
    rig.store.values["ProductID"].bytes = [] {
      const PasswordRecord r = EncodePasswordRecord("s3cret", true, 0);
      return std::vector<uint8_t>(r.begin(), r.end());
    }();
    rig.ms.MailRequestFlags |= mail_request::kReloadSettings;
    timed(rig);
    EXPECT_EQ(rig.n->Sent, 1);
    EXPECT_EQ(server.Mails().size(), 1u);
  }
}

TEST(MailSend, ASlowServerThatAnswersEachStepInTimeIsNeverCut) {
  SmtpServer server("slow");
  Rig rig(server.port);
  // The opening dialogue (EHLO, AUTH) takes longer than the connect
  // time-out, the whole mail far longer: each step is within its bound.
  rig.n->Limits.connectMs = 1000;
  rig.SetRecipients({"ops@example.com"});
  rig.Raise(1, {"x"});
  rig.Serve();
  EXPECT_EQ(rig.n->Sent, 1) << rig.Panels().back();
  EXPECT_EQ(server.Mails().size(), 1u);
}

TEST(MailSend, OneRefusedRecipientDoesNotStopTheOthers) {
  SmtpServer server("refuse-rcpt");
  Rig rig(server.port);
  rig.SetRecipients({"nobody@example.com", "ops@example.com", "bad address@x"});
  rig.Raise(1, {"x"});
  rig.Serve();
  const auto mails = server.Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0]["rcpt_tos"], nlohmann::json({"ops@example.com"}));
  const auto panels = rig.Panels();
  ASSERT_GE(panels.size(), 2u);
  EXPECT_EQ(panels[panels.size() - 2], "3:Send mail Success!");
  EXPECT_NE(panels.back().find("nobody@example.com (550 5.1.1 No such user here)"), std::string::npos) << panels.back();
  EXPECT_NE(panels.back().find("bad address@x (not a mail address: a blank"), std::string::npos) << panels.back();
  // The address that is no mailbox is in neither the envelope nor To:.
  const std::string data = mails[0]["data"];
  EXPECT_NE(data.find("To: <nobody@example.com>,\r\n <ops@example.com>\r\nSubject:"), std::string::npos) << data;
}

TEST(MailSend, RelayWithoutAuthAndHeadersThatCannotBeInjected) {
  SmtpServer server("relay");
  Rig rig(server.port);
  rig.store.values["UserName"].text = "Evil\r\nBcc: victim@example.com";
  std::ofstream(rig.dir / "EmailContens Hard Disks Fail.txt", std::ios::binary) << "Caf\xC3\xA9 ok\r\n.\r\n";
  rig.Raise(1, {"x"});
  rig.Serve();
  const auto mails = server.Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_TRUE(mails[0]["login"].is_null());
  const std::string data = mails[0]["data"];
  EXPECT_EQ(data.find("\r\nBcc:"), std::string::npos);
  EXPECT_NE(data.find("From: \"Evil  Bcc: victim@example.com\" <alerts@example.com>\r\n"), std::string::npos);
  EXPECT_NE(data.find("Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable"),
            std::string::npos);
  EXPECT_NE(data.find("\r\nCaf=C3=A9 ok\r\n"), std::string::npos);
  // A line of one dot is stuffed on the wire and arrives as it was.
  EXPECT_NE(data.find("\r\n.\r\n"), std::string::npos);
}

TEST(MailSend, TestMailAndCertificateChecks) {
  const fs::path d = fs::temp_directory_path() / ("raidgui-cert-" + std::to_string(::getpid()));
  fs::create_directories(d);
  const std::string cert = (d / "cert.pem").string(), key = (d / "key.pem").string();
  const std::string cmd =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext "
      "subjectAltName=IP:127.0.0.1 -keyout " +
      key + " -out " + cert + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  SmtpServer server("tls", {cert, key});
  Rig rig(server.port);
  // The server offers STARTTLS, so it is used, and a certificate nobody
  // vouches for stops the mail with a clear reason.
  SmtpOutcome o = rig.n->SendTestMailNow();
  EXPECT_FALSE(o.ok());
  EXPECT_NE(o.error().find("certificate of 127.0.0.1 could not be verified"), std::string::npos) << o.error();
  rig.store.values[kCaFileSetting] = {SettingsType::String, cert, 0, {}};
  o = rig.n->SendTestMailNow();
  ASSERT_TRUE(o.ok()) << o.error();
  const auto mails = server.Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_TRUE(mails[0]["tls"].get<bool>());
  const std::string data = mails[0]["data"];
  EXPECT_NE(data.find("Subject: [RAID GUI v0.23-1 Message] Test mail\r\n"), std::string::npos);
  EXPECT_NE(data.find("\r\n=========== [System Information] ==============\r\n"), std::string::npos);
  fs::remove_all(d);
}

// Retries and the daily reminder: the notes they leave for the day log and
// what reaches the server, on the program's clock.
struct FollowUpRig : Rig {
  std::mutex notesMu;
  std::vector<std::string> notes;
  FollowUpRig(int port, bool retry, bool reminder) : Rig(port) {
    n->LogNote = [this](const std::string& t) {
      std::lock_guard<std::mutex> lock(notesMu);
      notes.push_back(t);
    };
    store.values[kRetryFailedMailSetting] = {SettingsType::Dword, "", retry ? 1u : 0u, {}};
    store.values[kDailyReminderSetting] = {SettingsType::Dword, "", reminder ? 1u : 0u, {}};
    ms.MailRequestFlags |= mail_request::kReloadSettings;
  }
  std::vector<std::string> Notes() {
    std::lock_guard<std::mutex> lock(notesMu);
    return notes;
  }
  // Program time passes; the front end's next poll looks at what is due.
  void After(int64_t ms, bool driveDown = false) {
    clock.Advance(ms);
    n->Observe(driveDown);
    n->WaitIdle();
  }
};

TEST(MailFollowUp, AFailedNotificationIsSentAgainWhenTheServerIsBack) {
  SmtpServer server("fail-first");
  FollowUpRig rig(server.port, true, false);
  rig.Raise(1, {"D1 HDD2 was removed, 2010/05/03 09:15:30"});
  rig.Serve();
  EXPECT_EQ(rig.n->Failed, 1);
  ASSERT_EQ(rig.Notes().size(), 1u);
  EXPECT_EQ(rig.Notes()[0].rfind("Mail: the notification could not be sent: ", 0), 0u) << rig.Notes()[0];
  EXPECT_NE(rig.Notes()[0].find("451"), std::string::npos) << rig.Notes()[0];
  EXPECT_NE(rig.Notes()[0].find("; next try in 1 min"), std::string::npos) << rig.Notes()[0];
  rig.After(59'000);
  EXPECT_TRUE(server.Mails().empty());  // not before its minute
  rig.After(1'000);
  ASSERT_EQ(server.Mails().size(), 1u);
  EXPECT_NE(server.Mails()[0]["data"].get<std::string>().find("D1 HDD2 was removed"), std::string::npos);
  EXPECT_EQ(rig.Notes().back(), "Mail: the notification was sent (try 2)");
  rig.After(30 * 60'000);
  EXPECT_EQ(server.Mails().size(), 1u);  // nothing more once sent
}

TEST(MailFollowUp, TriedAfterOneFiveAndFifteenMinutesThenGivenUp) {
  FollowUpRig rig(ClosedPort(), true, false);
  rig.Raise(1, {"x"});
  rig.Serve();
  rig.After(60'000 - 1);
  EXPECT_EQ(rig.n->Failed, 1);
  rig.After(1);
  EXPECT_EQ(rig.n->Failed, 2);
  rig.After(5 * 60'000 - 1);
  EXPECT_EQ(rig.n->Failed, 2);
  rig.After(1);
  EXPECT_EQ(rig.n->Failed, 3);
  rig.After(15 * 60'000);
  EXPECT_EQ(rig.n->Failed, 4);
  rig.After(60 * 60'000);
  EXPECT_EQ(rig.n->Failed, 4);
  const auto notes = rig.Notes();
  ASSERT_EQ(notes.size(), 4u);
  EXPECT_NE(notes[1].find("(try 2): "), std::string::npos) << notes[1];
  EXPECT_NE(notes[1].find("; next try in 5 min"), std::string::npos) << notes[1];
  EXPECT_NE(notes[2].find("; next try in 15 min"), std::string::npos) << notes[2];
  EXPECT_NE(notes[3].find("(try 4): "), std::string::npos) << notes[3];
  EXPECT_NE(notes[3].find("; given up"), std::string::npos) << notes[3];
}

TEST(MailFollowUp, ANewerNotificationReplacesTheOneWaiting) {
  SmtpServer server("fail-first");
  FollowUpRig rig(server.port, true, false);
  rig.Raise(1, {"first event"});
  rig.Serve();
  rig.Raise(1, {"second event"});
  rig.Serve();
  rig.After(20 * 60'000);
  const auto mails = server.Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_NE(mails[0]["data"].get<std::string>().find("second event"), std::string::npos);
  EXPECT_EQ(mails[0]["data"].get<std::string>().find("first event"), std::string::npos);
  const auto notes = rig.Notes();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[1], "Mail: the notification waiting to be sent again was replaced by a newer one");
}

TEST(MailFollowUp, OffByDefaultAFailureIsNotTriedAgainNorNoted) {
  FollowUpRig rig(ClosedPort(), false, false);
  rig.Raise(1, {"x"});
  rig.Serve();
  rig.After(48 * 3600'000LL, true);
  EXPECT_EQ(rig.n->Failed, 1);
  EXPECT_TRUE(rig.Notes().empty());
}

TEST(MailFollowUp, ADailyReminderWhileADriveStaysDown) {
  SmtpServer server("auth");
  FollowUpRig rig(server.port, false, true);
  rig.Raise(2, {"D1 HDD2 was removed"});
  rig.Serve();
  rig.After(1000, true);
  rig.After(24 * 3600'000LL - 1, true);  // a day after the drive was seen down, less 1 ms
  EXPECT_EQ(server.Mails().size(), 1u);
  rig.After(1, true);
  ASSERT_EQ(server.Mails().size(), 2u);
  EXPECT_NE(server.Mails()[1]["data"].get<std::string>().find("Subject: Reminder: "), std::string::npos)
      << server.Mails()[1]["data"];
  EXPECT_EQ(rig.Notes().back(), "Mail: the daily reminder was sent: a drive is still failed or missing");
  // The drive is back: no more reminders.
  rig.After(1000, false);
  rig.After(48 * 3600'000LL, false);
  EXPECT_EQ(server.Mails().size(), 2u);
}

TEST(MailFollowUp, AServerSilentAfterTheWholeMessageIsBoundedAndNeverMailedTwice) {
  SmtpServer server("stall-end");
  FollowUpRig rig(server.port, true, false);
  rig.Raise(1, {"D1 HDD2 was removed"});
  const auto t0 = std::chrono::steady_clock::now();
  rig.Serve();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  // One reply bound (2 s here), not a second one for the goodbye.
  EXPECT_GE(ms, 2000);
  EXPECT_LT(ms, 3900);
  EXPECT_EQ(rig.n->Failed, 1);
  EXPECT_NE(rig.Panels().back().find("waiting for the reply to the end of the message); the whole message had "
                                     "reached the server, so it may have been sent"),
            std::string::npos)
      << rig.Panels().back();
  ASSERT_EQ(rig.Notes().size(), 1u);
  EXPECT_NE(rig.Notes()[0].find("may have been sent"), std::string::npos) << rig.Notes()[0];
  EXPECT_NE(rig.Notes()[0].find("; it is not sent again"), std::string::npos) << rig.Notes()[0];
  // The server holds it; retries on or not, it is not sent a second time.
  rig.After(30 * 60'000);
  EXPECT_EQ(rig.n->Failed, 1);
  EXPECT_EQ(server.Mails().size(), 1u);
}

TEST(MailFollowUp, ARetryGoesOutWithTheSettingsChangedMeanwhile) {
  FollowUpRig rig(ClosedPort(), true, false);
  rig.Raise(1, {"D1 HDD2 was removed"});
  rig.Serve();
  EXPECT_EQ(rig.n->Failed, 1);
  // The port is corrected in the store (raidctl mail set) while the
  // program runs, and a recipient added; nothing asks for a reload.
  SmtpServer server("auth");
  rig.store.values["Port"].text = std::to_string(server.port);
  rig.SetRecipients({"ops@example.com", "late@example.com"});
  rig.After(MailNotifier::kSettingsLookMs);
  EXPECT_EQ(rig.n->Settings.MailRecipients.back(), "late@example.com");
  rig.After(60'000);
  ASSERT_EQ(server.Mails().size(), 1u);
  EXPECT_EQ(server.Mails()[0]["rcpt_tos"], nlohmann::json({"ops@example.com", "late@example.com"}));
  EXPECT_EQ(rig.Notes().back(), "Mail: the notification was sent (try 2)");
}

TEST(MailStop, BoundedThenEachMailNamedAndKeptForTheNextStart) {
  SmtpServer hang("hang");
  FollowUpRig rig(hang.port, true, false);
  rig.n->Limits.connectMs = 60'000;  // the greeting never comes: only the stop ends the wait
  rig.n->StopDrainMs = 1500;
  const std::string unsent = (rig.dir / "unsent-mail.conf").string();
  rig.n->UnsentFile = unsent;
  rig.Raise(1, {"first event"});
  rig.n->SendNotification();
  rig.Raise(1, {"second event"});
  rig.n->SendNotification();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(rig.n->Stop(true), 2u);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 1500);
  EXPECT_LT(ms, 3500);
  const auto notes = rig.Notes();
  ASSERT_EQ(notes.size(), 2u);
  for (const std::string e : {"first event", "second event"}) {
    const std::string want = "Mail: the notification \"[RAID GUI v0.23-1 Message] Drive failure\" (" + e +
                             ") was not sent before the program ended; it is sent again at the next start";
    EXPECT_TRUE(notes[0] == want || notes[1] == want) << notes[0] << "\n" << notes[1];
  }
  ASSERT_TRUE(fs::exists(unsent));

  // The next start sends both to the server stored by then.
  SmtpServer server("auth");
  rig.store.values["Port"].text = std::to_string(server.port);
  std::vector<std::string> notes2;
  std::mutex notes2Mu;
  MailNotifier next(rig.store, rig.ms, rig.ms.MailRequestFlags, rig.systemInfo, rig.clock,
                    [](StatusBarPanel, const std::string&) {});
  next.LogNote = [&](const std::string& t) {
    std::lock_guard<std::mutex> lock(notes2Mu);
    notes2.push_back(t);
  };
  next.UnsentFile = unsent;
  next.Start();
  EXPECT_FALSE(fs::exists(unsent));  // taken, so no later start sends them again
  next.Observe(false);
  next.WaitIdle();
  const auto mails = server.Mails();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_NE(mails[0]["data"].get<std::string>().find("\r\n\r\nfirst event\r\n"), std::string::npos);
  EXPECT_NE(mails[1]["data"].get<std::string>().find("\r\n\r\nsecond event\r\n"), std::string::npos);
  EXPECT_NE(
      mails[1]["data"].get<std::string>().find("Date: " + MailDate(rig.clock.Now(), UtcOffsetMinutes(rig.clock.Now()))),
      std::string::npos);
  std::lock_guard<std::mutex> lock(notes2Mu);
  ASSERT_EQ(notes2.size(), 2u);
  EXPECT_NE(notes2[0].find("(first event) kept at the last exit is sent now"), std::string::npos) << notes2[0];
}

TEST(MailStop, WithoutRetriesWhatIsLeftIsNamedAndDropped) {
  SmtpServer hang("hang");
  FollowUpRig rig(hang.port, false, false);
  rig.n->Limits.connectMs = 60'000;
  rig.n->StopDrainMs = 500;
  rig.n->UnsentFile = (rig.dir / "unsent-mail.conf").string();
  rig.Raise(1, {"only event"});
  rig.n->SendNotification();
  EXPECT_EQ(rig.n->Stop(true), 1u);
  ASSERT_EQ(rig.Notes().size(), 1u);
  EXPECT_EQ(rig.Notes()[0],
            "Mail: the notification \"[RAID GUI v0.23-1 Message] Drive failure\" (only event) was not sent before the "
            "program ended; dropped");
  EXPECT_FALSE(fs::exists(rig.n->UnsentFile));
}

// Header lines: however long the subject or sender name, no line passes
// 998 characters, lines fold at 78 where a blank allows, and unfolding
// (or decoding the encoded words) gives back the text.
TEST(MailMessage, LongHeadersFoldAndReadBackWhole) {
  auto unbase64 = [](const std::string& in) {
    const std::string k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (const char c : in) {
      if (c == '=') break;
      acc = acc << 6 | static_cast<uint32_t>(k.find(c));
      if ((bits += 6) >= 8) out += static_cast<char>((acc >> (bits -= 8)) & 0xFF);
    }
    return out;
  };
  // The Subject header's text: unfolded, encoded words decoded.
  auto subjectOf = [&](const std::string& message) {
    const size_t start = message.find("\r\nSubject: ") + 11;
    std::string field;
    for (size_t p = start;;) {
      const size_t e = message.find("\r\n", p);
      field += message.substr(p, e - p);
      if (message[e + 2] != ' ') break;
      p = e + 2;
    }
    if (field.rfind("=?", 0) != 0) return field;
    std::string text;
    for (size_t p = 0; (p = field.find("?B?", p)) != std::string::npos; p += 3)
      text += unbase64(field.substr(p + 3, field.find("?=", p) - p - 3));
    return text;
  };
  std::string words, word(1500, 'x'), utf8;
  for (int i = 0; i < 300; ++i) words += "word" + std::to_string(i) + " ";
  for (int i = 0; i < 400; ++i) utf8 += "Caf\xC3\xA9 ";
  for (const std::string& subject : {words, word, utf8, std::string("Drive failure")}) {
    MailJob job;
    job.senderName = subject;
    job.senderAddress = "alerts@example.com";
    job.recipients = {"ops@example.com"};
    job.subject = subject;
    const std::string m = BuildMessageText(job);
    const std::string headers = m.substr(0, m.find("\r\n\r\n") + 2);
    for (const std::string& line : SplitCrLf(headers)) {
      EXPECT_LE(line.size(), 78u) << subject.substr(0, 20) << ": " << line.substr(0, 100);
      EXPECT_NE(line.find_first_not_of(" \t"), std::string::npos) << "a line of blanks alone";
    }
    EXPECT_EQ(subjectOf(m), subject) << subject.substr(0, 20);
  }
}
}  // namespace
}  // namespace raid
