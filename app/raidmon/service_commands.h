// The changes the monitor service makes for its clients: raidctl's setup
// commands (schedule, scan, initialize) run on this monitor's core, one at a
// time in the order they came, and answered with what raidctl standalone
// prints: its standard output, its standard error and its exit code.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>

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
  ServiceCommands(Runtime& runtime, Reply reply);
  ~ServiceCommands();

  // Main thread: a client's command, checked and allowed.
  void Submit(uint64_t client, uint64_t id, const SetupCommand& command);
  // The command a service request stands for (its fields already checked).
  static SetupCommand FromRequest(const ServiceRequest& request);
  // Main thread: the client is gone; its commands still waiting are dropped
  // (one already sent to the enclosure runs to its end).
  void Forget(uint64_t client);
  // Whether an initialisation runs now: the monitor lets it end before it
  // stops (half done, it leaves the drives unusable).
  bool Busy() const { return running_ && current_.command.command == "initialize"; }
  // At the end: the commands still waiting, and a schedule or scan request
  // not yet served, are answered that the monitor stops; none is started
  // any more.
  void Close();

 private:
  struct Pending {
    uint64_t client = 0;
    uint64_t id = 0;
    SetupCommand command;
  };
  void StartNext();
  void Finish(int exit);

  Runtime& runtime_;
  Reply reply_;
  SilentView pageView_;
  FirmwareUpgrade framing_;
  BufferedOutput out_;
  CommandView view_;
  EnclosureVerbs verbs_;
  std::deque<Pending> waiting_;
  bool running_ = false;
  bool closed_ = false;
  Pending current_;
  SetupStart start_;
  VerbStatus initialised_ = VerbStatus::Failed;  // written by the device job, read after it
};

}  // namespace raid
