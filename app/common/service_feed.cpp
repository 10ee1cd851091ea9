#include "app/common/service_feed.h"

#include <chrono>

#include "platform/local_endpoint.h"
#include "service/monitor_service.h"

namespace raid {

namespace {

// The longest line the window takes from the service: a whole day log.
constexpr size_t kMaxAnswerBytes = 64 * 1024 * 1024;
constexpr int kReadSliceMs = 250;

}  // namespace

ServiceFeed::ServiceFeed(std::string address, Handlers handlers)
    : address_(std::move(address)), handlers_(std::move(handlers)) {}

ServiceFeed::~ServiceFeed() { Stop(); }

void ServiceFeed::Start() {
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
}

void ServiceFeed::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void ServiceFeed::Run() {
  std::string lastWhy;
  while (!stop_) {
    const std::string why = Follow();
    if (stop_) break;
    if (why != lastWhy && handlers_.lost) handlers_.lost(why);
    lastWhy = why;
    for (int waited = 0; waited < kRetryMs && !stop_; waited += kReadSliceMs)
      std::this_thread::sleep_for(std::chrono::milliseconds(kReadSliceMs));
  }
}

std::string ServiceFeed::Follow() {
  LocalConnection c;
  if (Outcome o = c.Connect(address_); !o) return o.error();
  auto ask = [&c](const nlohmann::json& request) -> Expected<nlohmann::json> {
    if (Outcome o = c.SendLine(request.dump(), 5000); !o) return Expected<nlohmann::json>::Fail(o.error());
    Expected<std::string> line = c.ReadLine(10000, kMaxAnswerBytes);
    if (!line) return Expected<nlohmann::json>::Fail(line.error());
    nlohmann::json a = nlohmann::json::parse(*line, nullptr, false);
    if (!a.is_object()) return Expected<nlohmann::json>::Fail("the service sent no protocol message");
    if (!JsonFlag(a, "ok")) return Expected<nlohmann::json>::Fail(JsonText(a, "error", "refused"));
    return JsonField(a, "result");
  };
  const Expected<nlohmann::json> hello =
      ask({{"op", "hello"}, {"id", 1}, {"protocol", kServiceProtocolVersion}, {"client", "raidgui"}});
  if (!hello) return hello.error();
  // Subscribed before the day log is read: no line falls between them (a
  // line sent meanwhile comes before the log's answer and is in it too).
  if (auto sub = ask({{"op", "subscribe"}, {"id", 2}}); !sub) return sub.error();
  if (Outcome o = c.SendLine(nlohmann::json({{"op", "log"}, {"id", 3}}).dump(), 5000); !o) return o.error();
  bool haveLog = false;
  uint64_t next = 4;
  auto lastAsk = std::chrono::steady_clock::now() - std::chrono::hours(1);
  while (!stop_) {
    const auto now = std::chrono::steady_clock::now();
    if (haveLog && now - lastAsk >= std::chrono::milliseconds(kMirrorEveryMs)) {
      if (Outcome o = c.SendLine(nlohmann::json({{"op", "mirror"}, {"id", next++}}).dump(), 5000); !o) return o.error();
      lastAsk = now;
    }
    Expected<std::string> line = c.ReadLine(kReadSliceMs, kMaxAnswerBytes);
    if (!line) {
      if (line.error().find("in time") != std::string::npos) continue;
      return line.error();
    }
    const nlohmann::json m = nlohmann::json::parse(*line, nullptr, false);
    if (!m.is_object()) return "the service sent no protocol message";
    if (m.contains("dayLog")) {
      // The service's day log started anew (a new day): it replaces ours.
      std::vector<std::string> log;
      const nlohmann::json lines = JsonField(m, "dayLog");
      for (const nlohmann::json& l : lines.is_array() ? lines : nlohmann::json::array())
        if (l.is_string()) log.push_back(l.get<std::string>());
      if (haveLog && handlers_.connected) handlers_.connected(log, *hello);
      continue;
    }
    if (m.contains("line")) {
      const std::string text = JsonText(m, "line");
      // A line heard before the log's answer is in that answer too.
      if (haveLog && handlers_.line) handlers_.line(text, JsonField(m, "event"));
      continue;
    }
    if (!JsonFlag(m, "ok")) return "the service refused: " + JsonText(m, "error", "no reason given");
    const int64_t id = JsonNumber(m, "id");
    const nlohmann::json result = JsonField(m, "result");
    if (id == 3) {
      std::vector<std::string> log;
      const nlohmann::json lines = JsonField(result, "lines");
      for (const nlohmann::json& l : lines.is_array() ? lines : nlohmann::json::array())
        if (l.is_string()) log.push_back(l.get<std::string>());
      haveLog = true;
      if (handlers_.connected) handlers_.connected(log, *hello);
      continue;
    }
    if (handlers_.mirror) handlers_.mirror(result);
  }
  return "stopped";
}

ServiceChange::~ServiceChange() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool ServiceChange::Start(const std::string& address, nlohmann::json request,
                          std::function<void(const nlohmann::json&)> progress,
                          std::function<void(bool, const nlohmann::json&)> done) {
  if (running_) return false;
  if (thread_.joinable()) thread_.join();
  running_ = true;
  stop_ = false;
  thread_ = std::thread(
      [this, address, request = std::move(request), progress = std::move(progress), done = std::move(done)] {
        ServiceSession session;
        Outcome sent = session.Open(address, "raidgui", 5000);
        if (sent) sent = session.Send(request, 5000);
        if (!sent) {
          running_ = false;
          done(false, sent.error());
          return;
        }
        const int64_t id = JsonNumber(request, "id");
        while (!stop_) {
          Expected<nlohmann::json> m = session.Next(500);
          if (!m) {
            if (m.error().find("in time") != std::string::npos) continue;
            running_ = false;
            done(false, m.error());
            return;
          }
          if (m->contains("progress")) {
            progress(JsonField(*m, "progress"));
            continue;
          }
          if (JsonNumber(*m, "id") != id) continue;
          running_ = false;
          if (JsonFlag(*m, "ok"))
            done(true, JsonField(*m, "result"));
          else
            done(false, JsonText(*m, "error", "refused"));
          return;
        }
        running_ = false;
      });
  return true;
}

}  // namespace raid
