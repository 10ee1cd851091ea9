// The mail commands the monitor service runs for its clients: raidctl's
// mail commands on the monitor's own settings, which its notifier reads
// again at once, and a test mail sent with them on a thread of its own, so
// neither the monitor nor another client waits for the mail server. Each
// is answered with what raidctl standalone prints and its exit code.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include <nlohmann/json.hpp>

#include "notify/notifier.h"
#include "platform/settings_store.h"

namespace raid {

class ServiceMail {
 public:
  // reply: a command's result ({"exit": N, "out": "...", "err": "..."}),
  // called on the main thread or on the test mail's thread.
  using Reply = std::function<void(uint64_t client, uint64_t id, const nlohmann::json& result)>;
  ServiceMail(SettingsStore& store, MailNotifier& notifier, Reply reply);
  ~ServiceMail();

  // Main thread: raidctl mail's words after "mail", with what the client
  // read for them ("password", "template" in base64), as the request has
  // them (checked).
  void Run(uint64_t client, uint64_t id, const nlohmann::json& request);
  // Main thread: the window's E-mail page on the monitor's settings:
  // without "page" the page as stored, with it (and "password") the page's
  // edits made and its OK pressed; answered with the page after it and the
  // page's boxes.
  void Page(uint64_t client, uint64_t id, const nlohmann::json& request);
  // Main thread: a test mail, composed now from the stored settings.
  void TestMail(uint64_t client, uint64_t id);
  // A test mail being sent stops at its next step; its answer is sent and
  // its thread ended.
  void Stop();

 private:
  SettingsStore& store_;
  MailNotifier& notifier_;
  Reply reply_;
  std::thread sender_;
  std::atomic<bool> sending_{false};
  std::atomic<bool> cancel_{false};
};

}  // namespace raid
