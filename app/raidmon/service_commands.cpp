#include "app/raidmon/service_commands.h"

#include <utility>

#include "app/common/status_report.h"

namespace raid {

ServiceCommands::ServiceCommands(Runtime& runtime, Reply reply)
    : runtime_(runtime),
      reply_(std::move(reply)),
      framing_(runtime.Core(), pageView_),
      view_(out_),
      verbs_(runtime.Core(), view_, framing_) {
  runtime_.Core().SetRequestServedHandler([this](uint8_t bit, bool ok) {
    if (!running_ || start_.waitBit != bit) return;
    Finish(FinishSetupCommand(verbs_, current_.command, start_, ok, out_));
  });
}

ServiceCommands::~ServiceCommands() { runtime_.Core().SetRequestServedHandler(nullptr); }

SetupCommand ServiceCommands::FromRequest(const ServiceRequest& request) {
  const nlohmann::json& a = request.args;
  SetupCommand c;
  c.command = request.op;
  c.slot = static_cast<int>(a.value("slot", 0));
  c.on = a.value("on", false);
  c.period = static_cast<int>(a.value("period", 0));
  c.drive = static_cast<int>(a.value("drive", 0));
  c.stop = a.value("stop", false);
  c.destroyConfirmed = request.op == "initialize";
  return c;
}

void ServiceCommands::Submit(uint64_t client, uint64_t id, const SetupCommand& command) {
  waiting_.push_back({client, id, command});
  if (!running_) StartNext();
}

void ServiceCommands::Forget(uint64_t client) {
  std::erase_if(waiting_, [client](const Pending& p) { return p.client == client; });
}

void ServiceCommands::Close() {
  closed_ = true;
  for (const Pending& p : waiting_)
    reply_(p.client, p.id, {{"exit", 1}, {"out", ""}, {"err", "raidctl: the monitor is stopping; nothing was sent\n"}});
  waiting_.clear();
  if (running_ && !Busy()) {
    out_.Err("raidctl: the monitor is stopping; the request may not have been sent\n");
    Finish(1);
  }
}

void ServiceCommands::StartNext() {
  if (running_ || closed_ || waiting_.empty()) return;
  current_ = std::move(waiting_.front());
  waiting_.pop_front();
  running_ = true;
  out_ = BufferedOutput{};
  RaidCore& core = runtime_.Core();
  const SetupCommand& c = current_.command;
  if (const int rc = SetupPreamble(core, c, out_); rc >= 0) return Finish(rc);
  // The monitor's polls keep the record; until the first has read it the
  // enclosure's state is not known.
  if (!core.StatusRecordRead(c.slot)) {
    out_.Err("raidctl: the status of " + SlotName(c.slot) + " is not read yet; try again in a few seconds\n");
    return Finish(1);
  }
  SetupHeader(core, c.slot, out_);
  if (c.command == "initialize") {
    const auto slot = static_cast<uint8_t>(c.slot);
    runtime_.Jobs().Run([this, slot](MainThreadInvoker& main) { initialised_ = verbs_.Initialise(slot, {}, main); },
                        [this] {
                          if (initialised_ == VerbStatus::Busy)
                            out_.Err(
                                "raidctl: the enclosures are being detected or another operation runs; try "
                                "again in a few seconds\n");
                          Finish(initialised_ == VerbStatus::Succeeded ? 0 : 1);
                        });
    return;
  }
  start_ = StartSetupCommand(core, verbs_, c, out_);
  if (start_.exit >= 0) return Finish(start_.exit);
  // The status thread serves the request; its handler finishes the command.
  runtime_.Wake();
}

void ServiceCommands::Finish(int exit) {
  const Pending done = current_;
  running_ = false;
  start_ = {};
  reply_(done.client, done.id, {{"exit", exit}, {"out", out_.out}, {"err", out_.err}});
  StartNext();
}

}  // namespace raid
