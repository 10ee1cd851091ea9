// The changes the monitor service makes for its clients: raidctl's setup
// commands (schedule, scan, initialize) and the firmware upgrade run on this
// monitor's core, one at a time in the order they came, and answered with
// what raidctl standalone prints: its standard output, its standard error
// and its exit code. An upgrade reports its progress on the way and can be
// stopped by the client that asked for it; one whose client went away runs
// to its end.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/common/runtime.h"
#include "app/common/setup_commands.h"
#include "maintenance/enclosure_verbs.h"
#include "maintenance/firmware_upgrade.h"
#include "service/monitor_service.h"

namespace raid {

class ServiceCommands {
 public:
  // reply: called on the main thread with a command's result
  // ({"exit": N, "out": "...", "err": "..."}).
  using Reply = std::function<void(uint64_t client, uint64_t id, const nlohmann::json& result)>;
  ServiceCommands(Runtime& runtime, Reply reply, Reply progress);
  ~ServiceCommands();

  // Main thread: a client's command, checked and allowed.
  void Submit(uint64_t client, uint64_t id, const SetupCommand& command);
  // A client's upgrade: the image file's name and bytes (none: the client
  // could not open it).
  // length: a file too large to send, by its length alone.
  void SubmitUpgrade(uint64_t client, uint64_t id, int slot, const std::string& name,
                     std::optional<std::vector<uint8_t>> image, uint64_t length);
  // A client asks to stop its running upgrade `request` at the next
  // request boundary; answered {"stopping": bool} under `id`.
  void Cancel(uint64_t client, uint64_t id, uint64_t request);
  // After every step: the running upgrade's progress to its client.
  void Tick();
  // The command a service request stands for (its fields already checked).
  static SetupCommand FromRequest(const ServiceRequest& request);
  // Main thread: the client is gone; its commands still waiting are dropped
  // (one already sent to the enclosure runs to its end).
  void Forget(uint64_t client);
  // Whether an initialisation runs now: the monitor lets it end before it
  // stops (half done, it leaves the drives unusable).
  bool Busy() const {
    return running_ && (current_.command.command == "initialize" || current_.command.command == "upgrade");
  }
  // At the end: the commands still waiting, and a schedule or scan request
  // not yet served, are answered that the monitor stops; none is started
  // any more.
  void Close();

 private:
  struct Pending {
    uint64_t client = 0;
    uint64_t id = 0;
    SetupCommand command;
    std::string imageName;                      // upgrade
    std::optional<std::vector<uint8_t>> image;  // upgrade
    uint64_t imageLength = 0;                   // upgrade, a file too large to send
  };
  void StartUpgrade();
  // Waits its turn, or is answered at once when the monitor is stopping.
  void Queue(Pending p);
  void StartNext();
  void Finish(int exit);
  // The day log's line on how a long operation for a client ended.
  void NoteEnd(const std::string& what, const std::string& how);

  Runtime& runtime_;
  Reply reply_;
  Reply progress_;
  FirmwareUpgrade framing_;
  BufferedOutput out_;
  CommandView view_;
  EnclosureVerbs verbs_;
  std::deque<Pending> waiting_;
  bool running_ = false;
  bool closed_ = false;
  bool clientGone_ = false;  // the running command's client has gone
  Pending current_;
  SetupStart start_;
  VerbStatus initialised_ = VerbStatus::Failed;       // written by the device job, read after it
  UpgradeOutcome upgraded_ = UpgradeOutcome::Failed;  // likewise
  int lastPercent_ = -1;
  std::string lastCaption_;
};

}  // namespace raid
