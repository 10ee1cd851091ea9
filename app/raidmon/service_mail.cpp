#include "app/raidmon/service_mail.h"

#include <string>
#include <vector>

#include "app/common/mail_commands.h"
#include "app/common/setup_commands.h"
#include "notify/mail_settings.h"
#include "platform/base64.h"
#include "service/monitor_service.h"
#include "notify/mail_page.h"

namespace raid {

namespace {

nlohmann::json Result(int exit, const BufferedOutput& out) {
  return {{"exit", exit}, {"out", out.out}, {"err", out.err}};
}

}  // namespace

ServiceMail::ServiceMail(SettingsStore& store, MailNotifier& notifier, Reply reply)
    : store_(store), notifier_(notifier), reply_(std::move(reply)) {}

ServiceMail::~ServiceMail() { Stop(); }

void ServiceMail::Run(uint64_t client, uint64_t id, const nlohmann::json& request) {
  BufferedOutput out;
  std::vector<std::string> words{"raidctl", "mail"};
  for (const nlohmann::json& w : request["args"]) words.push_back(w.get<std::string>());
  MailInput input;
  if (request.contains("password")) input.password = request["password"].get<std::string>();
  if (request.contains("template")) {
    const Expected<std::vector<uint8_t>> bytes = Base64Decode(request["template"].get_ref<const std::string&>());
    if (!bytes) {
      out.Err("raidctl: the template sent is no file's bytes: " + bytes.error() + "\n");
      reply_(client, id, Result(1, out));
      return;
    }
    input.templateText = std::string(bytes->begin(), bytes->end());
  }
  const int exit = RunMailCommand(words, out, input, &store_);
  // What was stored is used from the next mail on, not after the next look
  // at the store.
  if (exit == 0 && words[2] != "show") notifier_.SettingsChanged();
  reply_(client, id, Result(exit, out));
}

void ServiceMail::Page(uint64_t client, uint64_t id, const nlohmann::json& request) {
  // The page's boxes (an address that is no mailbox, a store that refused
  // the write) go back to the window.
  struct Boxes final : UserInterface {
    void SetPanelText(StatusBarPanel, const std::string&) override {}
    BoxResult ShowMessage(const MessageBoxRequest& box) override {
      shown.push_back(BoxJson(box));
      return BoxResult::Ok;
    }
    nlohmann::json shown = nlohmann::json::array();
  } boxes;
  MailSettingsState settings;
  std::atomic<uint8_t> flags{0};
  PrepareMailSettings(store_, settings, flags);
  if (settings.SettingsKeyExists) {
    if (const Outcome r = LoadMailSettings(store_, settings, flags); !r.ok()) {
      reply_(client, id, {{"exit", 1}, {"out", ""}, {"err", "raidctl: " + r.error() + "\n"}});
      return;
    }
  }
  MailPage page(settings, store_, flags, boxes);
  page.Fill();
  int exit = 0;
  if (request.contains("page")) {
    std::optional<std::string> password;
    if (request.contains("password")) password = request["password"].get<std::string>();
    page.ApplyPageJson(request["page"], password);
    exit = page.OkClick() ? 0 : 1;
    if (exit == 0) notifier_.SettingsChanged();
    // The page as it is stored now.
    MailSettingsState after;
    std::atomic<uint8_t> afterFlags{0};
    PrepareMailSettings(store_, after, afterFlags);
    if (after.SettingsKeyExists) (void)LoadMailSettings(store_, after, afterFlags);
    MailPage stored(after, store_, afterFlags, boxes);
    stored.Fill();
    reply_(client, id, {{"exit", exit}, {"out", ""}, {"err", ""}, {"boxes", boxes.shown}, {"page", stored.PageJson()}});
    return;
  }
  reply_(client, id, {{"exit", exit}, {"out", ""}, {"err", ""}, {"boxes", boxes.shown}, {"page", page.PageJson()}});
}

void ServiceMail::TestMail(uint64_t client, uint64_t id) {
  if (sending_) {
    BufferedOutput out;
    out.Err("raidctl: a test mail is being sent already; try again when it has ended\n");
    reply_(client, id, Result(1, out));
    return;
  }
  if (sender_.joinable()) sender_.join();
  // Settings that cannot be read end the command as raidctl's does: the
  // reason on standard error.
  {
    MailSettingsState probe;
    std::atomic<uint8_t> flags{0};
    PrepareMailSettings(store_, probe, flags);
    if (probe.SettingsKeyExists) {
      if (const Outcome r = LoadMailSettings(store_, probe, flags); !r.ok()) {
        BufferedOutput out;
        out.Err("raidctl: " + r.error() + "\n");
        reply_(client, id, Result(1, out));
        return;
      }
    }
  }
  Expected<MailJob> job = notifier_.ComposeTestMailNow();
  if (!job) {
    BufferedOutput out;
    SmtpOutcome none;
    none.outcome = Outcome::Fail(job.error());
    const int exit = TestMailResult(none, out);
    reply_(client, id, Result(exit, out));
    return;
  }
  sending_ = true;
  cancel_ = false;
  sender_ = std::thread([this, client, id, job = std::move(*job), limits = notifier_.Limits] {
    BufferedOutput out;
    const SmtpOutcome o = MailNotifier::SendNow(
        job, limits, [&out](StatusBarPanel, const std::string& text) { out.Out(text + "\n"); },
        [this] { return cancel_.load(); });
    const int exit = TestMailResult(o, out);
    reply_(client, id, Result(exit, out));
    sending_ = false;
  });
}

void ServiceMail::Stop() {
  cancel_ = true;
  if (sender_.joinable()) sender_.join();
}

}  // namespace raid
