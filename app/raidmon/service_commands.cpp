#include "app/raidmon/service_commands.h"

#include <utility>

#include "app/common/status_report.h"

namespace raid {

namespace {
// A long operation refused when its job came to run.
constexpr const char* kOperationRefused =
    "raidctl: the enclosures are being detected or another operation runs; try again in a few seconds\n";
constexpr const char* kStoppingNothingSent = "raidctl: the monitor is stopping; nothing was sent\n";
}  // namespace

ServiceCommands::ServiceCommands(Runtime& runtime, Reply reply, Reply progress)
    : runtime_(runtime),
      reply_(std::move(reply)),
      progress_(std::move(progress)),
      framing_(runtime.Core(), view_),
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
  Pending p;
  p.client = client;
  p.id = id;
  p.command = command;
  Queue(std::move(p));
}

void ServiceCommands::SubmitUpgrade(uint64_t client, uint64_t id, int slot, const std::string& name,
                                    std::optional<std::vector<uint8_t>> image, uint64_t length) {
  Pending p;
  p.client = client;
  p.id = id;
  p.imageName = name;
  p.image = std::move(image);
  p.imageLength = length;
  p.command.command = "upgrade";
  p.command.slot = slot;
  Queue(std::move(p));
}

void ServiceCommands::Queue(Pending p) {
  // A request that reaches a stopping monitor is answered at once.
  if (closed_) {
    reply_(p.client, p.id, {{"exit", 1}, {"out", ""}, {"err", kStoppingNothingSent}});
    return;
  }
  waiting_.push_back(std::move(p));
  if (!running_) StartNext();
}

void ServiceCommands::Cancel(uint64_t client, uint64_t id, uint64_t request) {
  const bool stopping = running_ && current_.client == client && current_.id == request &&
                        current_.command.command == "upgrade" && framing_.Running();
  if (stopping) framing_.RequestStop();
  reply_(client, id, {{"stopping", stopping}});
}

void ServiceCommands::Tick() {
  if (!running_ || current_.command.command != "upgrade" || !framing_.Model.ProgressPanelVisible) return;
  const int percent = UpgradePercent(runtime_.Core().Commands().ProgressValue.load(), framing_.Model.ProgressMax);
  if (percent == lastPercent_ && framing_.Model.ProgressPanelCaption == lastCaption_) return;
  lastPercent_ = percent;
  lastCaption_ = framing_.Model.ProgressPanelCaption;
  progress_(current_.client, current_.id,
            {{"text", framing_.Model.ProgressText}, {"caption", lastCaption_}, {"percent", percent}});
}

void ServiceCommands::StartUpgrade() {
  RaidCore& core = runtime_.Core();
  // As standalone: the file first (its name and sum, or why it is no image),
  // then the enclosure.
  // No bytes: a file the client could not open, or one too large to send,
  // known by its length.
  struct NoBytes final : ImageReader {
    uint64_t length = 0;
    bool Open(const std::string&) override { return length != 0; }
    bool Length(uint64_t& n) override {
      n = length;
      return length != 0;
    }
    size_t ReadAt(uint64_t, uint8_t*, size_t) override { return 0; }
  };
  NoBytes none;
  none.length = current_.imageLength;
  if (current_.image) {
    MemoryImageReader reader(std::move(*current_.image));
    framing_.LoadImageFile(current_.imageName, reader);
  } else {
    framing_.LoadImageFile(current_.imageName, none);
  }
  current_.image.reset();
  if (!framing_.ImageLoaded()) return Finish(1);
  const int slot = current_.command.slot;
  const uint8_t count = core.Devices().DeviceCount;
  if (count > 0 && slot >= count) {
    out_.Err("raidctl: no enclosure in slot " + std::to_string(slot) + " (" + std::to_string(count) +
             " found; see raidctl list)\n");
    return Finish(1);
  }
  if (count > 0) UpgradeHeader(core, slot, out_);
  lastPercent_ = -1;
  lastCaption_.clear();
  runtime_.Jobs().Run(
      [this, slot](MainThreadInvoker& main) { upgraded_ = framing_.Upgrade(static_cast<uint8_t>(slot), main); },
      [this] {
        if (upgraded_ == UpgradeOutcome::Ignored) out_.Err(kOperationRefused);
        switch (upgraded_) {
          case UpgradeOutcome::Succeeded: NoteEnd("firmware upgrade", "done"); break;
          // The reason as the upgrade's message panel has it ("Firmware
          // upgrade stopped. The flash may be half written...").
          case UpgradeOutcome::Stopped:
            NoteEnd("firmware upgrade", "stopped: " + view_.PanelText(kMessagePanel));
            break;
          case UpgradeOutcome::Failed: NoteEnd("firmware upgrade", "failed: " + view_.PanelText(kMessagePanel)); break;
          default: break;  // refused before the flash was touched
        }
        Finish(upgraded_ == UpgradeOutcome::Succeeded ? 0 : 1);
      });
}

void ServiceCommands::Forget(uint64_t client) {
  if (running_ && current_.client == client) clientGone_ = true;
  std::erase_if(waiting_, [client](const Pending& p) { return p.client == client; });
}

void ServiceCommands::Close() {
  closed_ = true;
  for (const Pending& p : waiting_) reply_(p.client, p.id, {{"exit", 1}, {"out", ""}, {"err", kStoppingNothingSent}});
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
  view_.Boxes.clear();
  view_.SetPanelText(kMessagePanel, "");
  RaidCore& core = runtime_.Core();
  const SetupCommand& c = current_.command;
  if (c.command == "upgrade") return StartUpgrade();
  if (const int rc = SetupPreamble(core, c, out_); rc >= 0) return Finish(rc);
  // The monitor's polls keep the record; until the first has read it the
  // enclosure's state is not known.
  if (!core.StatusRecordRead(c.slot)) {
    out_.Err(c.slot >= kShownSlots
                 ? "raidctl: " + SlotName(c.slot) + " is " + NoRecordReason(c.slot) + "\n"
                 : "raidctl: the status of " + SlotName(c.slot) + " is not read yet; try again in a few seconds\n");
    return Finish(1);
  }
  SetupHeader(core, c.slot, out_);
  if (c.command == "initialize") {
    const auto slot = static_cast<uint8_t>(c.slot);
    runtime_.Jobs().Run([this, slot](MainThreadInvoker& main) { initialised_ = verbs_.Initialise(slot, {}, main); },
                        [this] {
                          if (initialised_ == VerbStatus::Busy) out_.Err(kOperationRefused);
                          if (initialised_ != VerbStatus::Busy)
                            NoteEnd("initialisation", initialised_ == VerbStatus::Succeeded ? "done" : "failed");
                          Finish(initialised_ == VerbStatus::Succeeded ? 0 : 1);
                        });
    return;
  }
  start_ = StartSetupCommand(core, verbs_, c, out_);
  if (start_.exit >= 0) return Finish(start_.exit);
  // The status thread serves the request; its handler finishes the command.
  runtime_.Wake();
}

void ServiceCommands::NoteEnd(const std::string& what, const std::string& how) {
  runtime_.Core().Log().AppendNote("Service: " + what + " of Device" + std::to_string(current_.command.slot + 1) +
                                   " for a client: " + how +
                                   (clientGone_ ? " (its client had gone; it ran to its end all the same)" : ""));
}

void ServiceCommands::Finish(int exit) {
  const Pending done = current_;
  running_ = false;
  clientGone_ = false;
  start_ = {};
  // The boxes and the message panel's last text, for a window.
  nlohmann::json boxes = nlohmann::json::array();
  for (const MessageBoxRequest& b : view_.Boxes) boxes.push_back(BoxJson(b));
  reply_(done.client, done.id,
         {{"exit", exit},
          {"out", out_.out},
          {"err", out_.err},
          {"boxes", std::move(boxes)},
          {"panel", view_.PanelText(kMessagePanel)}});
  StartNext();
}

}  // namespace raid
