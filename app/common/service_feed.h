// A window's line to the monitor service: on a thread of its own it says
// hello, reads today's day log, subscribes to the new lines and asks for
// the enclosures' mirror once a second; when the service goes away it says
// so and tries again every two seconds. What it hears is handed to the
// callbacks on its thread; the front end carries it to its main thread.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace raid {

class ServiceFeed {
 public:
  struct Handlers {
    // Connected (with today's day log as it stands, and the hello's
    // answer: whether this user may make changes) or gone (with why).
    std::function<void(const std::vector<std::string>& dayLog, const nlohmann::json& hello)> connected;
    std::function<void(const std::string& why)> lost;
    // A new day log line, with its event ({"kind", "slot", "drive",
    // "headline"} or null).
    std::function<void(const std::string& line, const nlohmann::json& event)> line;
    // The service's mirror document.
    std::function<void(const nlohmann::json& mirror)> mirror;
  };
  ServiceFeed(std::string address, Handlers handlers);
  ~ServiceFeed();
  void Start();
  // Ends the thread (within about a second).
  void Stop();

  static constexpr int kMirrorEveryMs = 1000;
  static constexpr int kRetryMs = 2000;

 private:
  void Run();
  // One connection, until it ends; returns why.
  std::string Follow();

  std::string address_;
  Handlers handlers_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

// One change asked of the monitor service on a thread of its own: its
// progress messages and its answer go to the callbacks, on that thread. A
// change whose window closes is left to the service (which runs an upgrade
// or an initialisation to its end); the thread ends within half a second.
class ServiceChange {
 public:
  ~ServiceChange();
  bool Running() const { return running_; }
  // Nothing when one still runs.
  bool Start(const std::string& address, nlohmann::json request,
             std::function<void(const nlohmann::json& progress)> progress,
             std::function<void(bool ok, const nlohmann::json& resultOrWhy)> done);

 private:
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
};

}  // namespace raid
