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
    // Connected (with today's day log as it stands) or gone (with why).
    std::function<void(const std::vector<std::string>& dayLog)> connected;
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

}  // namespace raid
