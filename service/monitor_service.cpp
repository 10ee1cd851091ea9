#include "service/monitor_service.h"

namespace raid {

namespace {

constexpr size_t kMaxClientName = 64;
constexpr uint64_t kMaxId = 1ULL << 53;  // what every JSON reader keeps exactly
constexpr size_t kMaxImageName = 4096;
constexpr size_t kMaxMailWords = 32, kMaxMailWord = 4096;

std::string Dump(const nlohmann::json& j) { return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace); }

std::string Ok(uint64_t id, nlohmann::json result) {
  return Dump({{"id", id}, {"ok", true}, {"result", std::move(result)}});
}

std::string Error(uint64_t id, const std::string& why) { return Dump({{"id", id}, {"ok", false}, {"error", why}}); }

}  // namespace

namespace {
constexpr const char* kIconNames[] = {"none", "information", "warning", "error", "question"};
}  // namespace

nlohmann::json JsonField(const nlohmann::json& message, const char* key) {
  if (!message.is_object()) return nullptr;
  const auto it = message.find(key);
  return it == message.end() ? nlohmann::json(nullptr) : *it;
}

std::string JsonText(const nlohmann::json& message, const char* key, const std::string& fallback) {
  const nlohmann::json v = JsonField(message, key);
  return v.is_string() ? v.get<std::string>() : fallback;
}

bool JsonFlag(const nlohmann::json& message, const char* key, bool fallback) {
  const nlohmann::json v = JsonField(message, key);
  return v.is_boolean() ? v.get<bool>() : fallback;
}

int64_t JsonNumber(const nlohmann::json& message, const char* key, int64_t fallback) {
  const nlohmann::json v = JsonField(message, key);
  return v.is_number_integer() ? v.get<int64_t>() : fallback;
}

nlohmann::json BoxJson(const MessageBoxRequest& box) {
  return {{"text", box.text}, {"caption", box.caption}, {"icon", kIconNames[static_cast<int>(box.icon)]}};
}

MessageBoxRequest BoxFromJson(const nlohmann::json& box) {
  MessageBoxRequest b{"", "", BoxIcon::None, BoxButtons::Ok};
  if (!box.is_object()) return b;
  const nlohmann::json text = box.value("text", nlohmann::json()), caption = box.value("caption", nlohmann::json());
  if (text.is_string()) b.text = text.get<std::string>();
  if (caption.is_string()) b.caption = caption.get<std::string>();
  const nlohmann::json icon = box.value("icon", nlohmann::json());
  for (int i = 0; i < 5; ++i)
    if (icon.is_string() && icon.get<std::string>() == kIconNames[i]) b.icon = static_cast<BoxIcon>(i);
  return b;
}

bool IsServiceChange(const std::string& op) {
  return op == "schedule" || op == "scan" || op == "initialize" || op == "upgrade" || op == "cancel" || op == "mail" ||
         op == "test-mail" || op == "mail-page";
}

namespace {

// A change's fields: which it takes, and whether each has the right value.
Outcome CheckChange(const ServiceRequest& r) {
  const nlohmann::json& a = r.args;
  auto allowed = [&](std::initializer_list<const char*> keys) {
    for (const auto& [key, value] : a.items()) {
      bool known = false;
      for (const char* k : keys) known = known || key == k;
      if (!known) return Outcome::Fail("\"" + r.op + "\" takes no field \"" + key.substr(0, 32) + "\"");
    }
    return Outcome::Ok();
  };
  if (!IsServiceChange(r.op)) return allowed({});
  if (a.contains("slot") && !(a["slot"].is_number_unsigned() && a["slot"].get<uint64_t>() <= 7))
    return Outcome::Fail("\"slot\" must be a slot number 0-7");
  if (r.op == "schedule") {
    if (Outcome known = allowed({"slot", "on", "period"}); !known) return known;
    if (!a.contains("on") || !a["on"].is_boolean()) return Outcome::Fail("schedule needs \"on\": true or false");
    if (a.contains("period")) {
      const nlohmann::json& p = a["period"];
      const uint64_t v = p.is_number_unsigned() ? p.get<uint64_t>() : 1;
      if (v != 0 && v != 10 && v != 30 && v != 60 && v != 180)
        return Outcome::Fail("\"period\" must be 10, 30, 60 or 180 minutes (0: keep the enclosure's)");
      if (v != 0 && !a["on"].get<bool>()) return Outcome::Fail("\"period\" belongs to a schedule that is switched on");
    }
    return Outcome::Ok();
  }
  if (r.op == "scan") {
    if (Outcome known = allowed({"slot", "drive", "stop"}); !known) return known;
    const bool drive = a.contains("drive") && a["drive"].is_number_unsigned() &&
                       (a["drive"].get<uint64_t>() == 1 || a["drive"].get<uint64_t>() == 2);
    if (!drive) return Outcome::Fail("scan needs \"drive\": 1 (HDD1) or 2 (HDD2)");
    if (!a.contains("stop") || !a["stop"].is_boolean()) return Outcome::Fail("scan needs \"stop\": true or false");
    return Outcome::Ok();
  }
  if (r.op == "upgrade") {
    if (Outcome known = allowed({"slot", "name", "image", "length"}); !known) return known;
    if (a.contains("length") && !a["length"].is_number_unsigned())
      return Outcome::Fail("\"length\" must be the file's length in bytes");
    if (!a.contains("name") || !a["name"].is_string() || a["name"].get<std::string>().size() > kMaxImageName)
      return Outcome::Fail("upgrade needs \"name\": the image file's name, at most 4096 bytes");
    // null: the client could not open the file (the service says so as
    // standalone raidctl does).
    if (!a.contains("image") || !(a["image"].is_string() || a["image"].is_null()))
      return Outcome::Fail("upgrade needs \"image\": the file's bytes in base64, or null");
    return Outcome::Ok();
  }
  if (r.op == "mail") {
    if (Outcome known = allowed({"args", "password", "template"}); !known) return known;
    bool words = a.contains("args") && a["args"].is_array() && !a["args"].empty() && a["args"].size() <= kMaxMailWords;
    for (const nlohmann::json& w : words ? a["args"] : nlohmann::json::array())
      words = words && w.is_string() && w.get_ref<const std::string&>().size() <= kMaxMailWord;
    if (!words)
      return Outcome::Fail("mail needs \"args\": the words after raidctl mail, at most 32 of at most 4096 bytes each");
    if (a.contains("password") &&
        !(a["password"].is_string() && a["password"].get_ref<const std::string&>().size() <= kMaxMailWord))
      return Outcome::Fail("\"password\" must be a text of at most 4096 bytes");
    if (a.contains("template") && !a["template"].is_string())
      return Outcome::Fail("\"template\" must be the file's bytes in base64");
    return Outcome::Ok();
  }
  if (r.op == "test-mail") return allowed({});
  if (r.op == "mail-page") {
    if (Outcome known = allowed({"page", "password"}); !known) return known;
    if (a.contains("page") && !a["page"].is_object())
      return Outcome::Fail("\"page\" must be the E-mail page's fields as an object");
    if (a.contains("password") &&
        !(a["password"].is_string() && a["password"].get_ref<const std::string&>().size() <= kMaxMailWord))
      return Outcome::Fail("\"password\" must be a text of at most 4096 bytes");
    return Outcome::Ok();
  }
  if (r.op == "cancel") {
    if (Outcome known = allowed({"request"}); !known) return known;
    if (!a.contains("request") || !a["request"].is_number_unsigned())
      return Outcome::Fail("cancel needs \"request\": the id of the change to stop");
    return Outcome::Ok();
  }
  return allowed({"slot"});
}

}  // namespace

Expected<ServiceRequest> ParseServiceRequest(std::string_view line) {
  ServiceRequest out;
  auto fail = [](std::string why) { return Expected<ServiceRequest>::Fail(std::move(why)); };
  const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return fail("a request is one JSON object on one line");
  for (const auto& [key, value] : j.items()) {
    if (key == "op") {
      if (!value.is_string()) return fail("\"op\" must be a string");
      out.op = value.get<std::string>();
    } else if (key == "id") {
      if (!value.is_number_unsigned() || value.get<uint64_t>() > kMaxId)
        return fail("\"id\" must be a whole number from 0 to 2^53");
      out.id = value.get<uint64_t>();
    } else if (key == "protocol") {
      if (!value.is_number_integer()) return fail("\"protocol\" must be a whole number");
      const auto v = value.get<int64_t>();
      out.protocol = v < 0 || v > 1000000 ? -1 : static_cast<int>(v);
    } else if (key == "client") {
      if (!value.is_string() || value.get<std::string>().size() > kMaxClientName)
        return fail("\"client\" must be a name of at most 64 bytes");
      out.client = value.get<std::string>();
    } else if (key == "slot" || key == "on" || key == "period" || key == "drive" || key == "stop" || key == "name" ||
               key == "image" || key == "request" || key == "length" || key == "args" || key == "password" ||
               key == "template" || key == "page") {
      out.args[key] = value;
    } else {
      return fail("unknown field \"" + key.substr(0, 32) + "\"");
    }
  }
  if (out.op.empty()) return fail("a request needs \"op\"");
  if (!out.args.empty() && !IsServiceChange(out.op)) return fail("unknown field \"" + out.args.begin().key() + "\"");
  if (Outcome checked = CheckChange(out); !checked) return fail(checked.error());
  return out;
}

MonitorService::MonitorService(std::string serverName) : serverName_(std::move(serverName)) {
  snapshot_.list = {{"exit", 1}, {"text", "No enclosure found.\n"}};
  snapshot_.status = {{"exit", 1}, {"text", "No enclosure found.\n"}, {"document", nullptr}};
}

MonitorService::~MonitorService() { Stop(); }

Outcome MonitorService::Start(const std::string& address) {
  endpoint_ = MakeLocalEndpoint();
  LocalEndpoint::Handlers h;
  h.connected = [this](uint64_t id, const PeerIdentity& peer) {
    std::lock_guard lock(mu_);
    clients_[id] = {};
    clients_[id].peer = peer;
    return true;
  };
  h.line = [this](uint64_t id, const std::string& line) {
    for (const std::string& answer : Answer(id, line)) endpoint_->Send(id, answer);
  };
  h.closed = [this](uint64_t id) {
    {
      std::lock_guard lock(mu_);
      clients_.erase(id);
    }
    if (ClientGone) ClientGone(id);
  };
  LocalEndpoint::Limits limits;
  // An upgrade's request carries the whole image (1 MiB at most, in base64).
  limits.maxLineBytes = kMaxRequestBytes;
  Outcome started = endpoint_->Start(address, std::move(h), limits);
  if (!started) endpoint_.reset();
  return started;
}

void MonitorService::Stop() {
  if (endpoint_) endpoint_->Stop();
  endpoint_.reset();
}

void MonitorService::Publish(ServiceSnapshot snapshot) {
  std::lock_guard lock(mu_);
  snapshot_ = std::move(snapshot);
}

void MonitorService::ResetDayLog(std::vector<std::string> lines) {
  std::string whole;
  {
    std::lock_guard lock(mu_);
    // A day log that is no longer the one the subscribers followed (a new
    // day, a reload): they get it whole.
    if (lines.size() < dayLog_.size() || (!dayLog_.empty() && lines.front() != dayLog_.front()))
      whole = Dump({{"dayLog", lines}});
    dayLog_ = std::move(lines);
  }
  // (Protocol 1 subscribers know only line messages.)
  if (!whole.empty()) Broadcast(whole, 2);
}

void MonitorService::LogLine(const std::string& line, const nlohmann::json& event) {
  {
    // Kept at once, so a client that heard of the line finds it in the log.
    std::lock_guard lock(mu_);
    dayLog_.push_back(line);
  }
  Broadcast(Dump({{"event", event}, {"line", line}}));
}

void MonitorService::Broadcast(const std::string& line, int minProtocol) {
  if (!endpoint_) return;
  std::vector<uint64_t> to;
  {
    std::lock_guard lock(mu_);
    for (const auto& [id, c] : clients_)
      if (c.subscribed && c.protocol >= minProtocol) to.push_back(id);
  }
  for (uint64_t id : to) endpoint_->Send(id, line);
}

std::string MonitorService::ChangeRefusal(const PeerIdentity& peer) {
  // Root, a member of the service's group, or (Windows, where the endpoint
  // gives no POSIX ids) an administrator or the system.
  if (peer.known && (peer.uid == 0 || peer.admin)) return {};
  if (peer.known) {
    if (const std::optional<uint32_t> group = LocalGroupId(kServiceGroup); group && peer.InGroup(*group)) return {};
  }
#ifdef _WIN32
  return "refused: changes need an administrator";
#else
  return std::string("refused: changes need root or membership of the group ") + kServiceGroup +
         (peer.known ? " (user id " + std::to_string(peer.uid) + " is neither)" : " (the client is not known)");
#endif
}

void MonitorService::Reply(uint64_t client, uint64_t id, const nlohmann::json& result) {
  if (endpoint_) endpoint_->Send(client, Ok(id, result));
}

void MonitorService::Progress(uint64_t client, uint64_t id, const nlohmann::json& progress) {
  if (endpoint_) endpoint_->Send(client, Dump({{"id", id}, {"progress", progress}}));
}

std::vector<std::string> MonitorService::Answer(uint64_t client, std::string_view line) {
  const Expected<ServiceRequest> parsed = ParseServiceRequest(line);
  if (!parsed) {
    // The refusal carries the request's id when it has a good one, so a
    // client waiting for several answers knows which was refused.
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    uint64_t id = 0;
    if (j.is_object() && j.contains("id") && j["id"].is_number_unsigned() && j["id"].get<uint64_t>() <= kMaxId)
      id = j["id"].get<uint64_t>();
    return {Error(id, parsed.error())};
  }
  const ServiceRequest& r = *parsed;
  std::unique_lock lock(mu_);
  ClientState& c = clients_[client];
  if (r.op == "hello") {
    if (r.protocol < kOldestServiceProtocol || r.protocol > kServiceProtocolVersion)
      return {Error(r.id, "protocol " + std::to_string(r.protocol) + " is not served; this service speaks protocols " +
                              std::to_string(kOldestServiceProtocol) + " to " +
                              std::to_string(kServiceProtocolVersion))};
    c.greeted = true;
    c.protocol = r.protocol;
    nlohmann::json result = {{"protocol", r.protocol}, {"server", serverName_}};
    if (r.protocol >= 2) {
      // What this client may do, so a window greys what it may not.
      const std::string refusal = changeHandler_ ? ChangeRefusal(c.peer) : "this service makes no changes";
      result["changes"] = refusal.empty();
      if (!refusal.empty()) result["refusal"] = refusal;
    }
    return {Ok(r.id, std::move(result))};
  }
  if (!c.greeted) return {Error(r.id, "say hello first, with the protocol you speak")};
  if (IsServiceChange(r.op)) {
    if (c.protocol < 2) return {Error(r.id, "\"" + r.op + "\" needs protocol 2")};
    if (std::string refusal = ChangeRefusal(c.peer); !refusal.empty()) return {Error(r.id, refusal)};
    if (!changeHandler_) return {Error(r.id, "this service makes no changes")};
    lock.unlock();
    changeHandler_(client, r);
    return {};
  }
  if (r.op == "list") return {Ok(r.id, snapshot_.list)};
  if (r.op == "status") return {Ok(r.id, snapshot_.status)};
  if (r.op == "mirror") return {Ok(r.id, snapshot_.mirror)};
  if (r.op == "log") return {Ok(r.id, {{"lines", dayLog_}})};
  if (r.op == "subscribe") {
    c.subscribed = true;
    return {Ok(r.id, nlohmann::json::object())};
  }
  return {Error(r.id, "unknown request \"" + r.op.substr(0, 32) + "\"")};
}

}  // namespace raid

namespace raid {

namespace {
constexpr size_t kMaxAnswerBytes = 16 * 1024 * 1024;

// The result of one request, or why there is none.
Expected<nlohmann::json> Exchange(LocalConnection& c, const nlohmann::json& request, int timeoutMs) {
  if (Outcome sent = c.SendLine(request.dump(), timeoutMs); !sent) return sent;
  const Expected<std::string> line = c.ReadLine(timeoutMs, kMaxAnswerBytes);
  if (!line) return line.outcome();
  const nlohmann::json answer = nlohmann::json::parse(*line, nullptr, false);
  // Every field is looked at by its type first: a reading that throws would
  // leave this call.
  const auto ok = answer.is_object() ? answer.find("ok") : answer.end();
  if (answer.is_discarded() || !answer.is_object() || ok == answer.end() || !ok->is_boolean())
    return Expected<nlohmann::json>::Fail("the service's answer is no protocol message");
  if (!ok->get<bool>()) {
    const auto e = answer.find("error");
    return Expected<nlohmann::json>::Fail(e != answer.end() && e->is_string() ? e->get<std::string>()
                                                                              : "the service refused");
  }
  return answer.value("result", nlohmann::json());
}
}  // namespace

Outcome ServiceSession::Open(const std::string& address, const std::string& client, int timeoutMs) {
  if (Outcome connected = c_.Connect(address); !connected) return connected;
  const Expected<nlohmann::json> hello =
      Exchange(c_, {{"op", "hello"}, {"id", 1}, {"protocol", kServiceProtocolVersion}, {"client", client}}, timeoutMs);
  return hello ? Outcome::Ok() : hello.outcome();
}

Outcome ServiceSession::Send(const nlohmann::json& request, int timeoutMs) {
  return c_.SendLine(request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), timeoutMs);
}

Expected<nlohmann::json> ServiceSession::Next(int timeoutMs) {
  const Expected<std::string> line = c_.ReadLine(timeoutMs, kMaxAnswerBytes);
  if (!line) return line.outcome();
  nlohmann::json message = nlohmann::json::parse(*line, nullptr, false);
  if (message.is_discarded() || !message.is_object() || !(message.contains("progress") || message.contains("ok")))
    return Expected<nlohmann::json>::Fail("the service's answer is no protocol message");
  return message;
}

Expected<nlohmann::json> AskServiceRequest(const std::string& address, const std::string& client,
                                           nlohmann::json request, int timeoutMs) {
  LocalConnection c;
  if (Outcome connected = c.Connect(address); !connected) return connected;
  // Reading is protocol 1, which every service speaks (one not restarted
  // since an upgrade too); a change needs 2.
  const int protocol = IsServiceChange(request.value("op", std::string())) ? 2 : kOldestServiceProtocol;
  const Expected<nlohmann::json> hello =
      Exchange(c, {{"op", "hello"}, {"id", 1}, {"protocol", protocol}, {"client", client}}, timeoutMs);
  if (!hello) return hello;
  request["id"] = 2;
  return Exchange(c, request, timeoutMs);
}

Expected<nlohmann::json> AskService(const std::string& address, const std::string& client, const std::string& op,
                                    int timeoutMs) {
  return AskServiceRequest(address, client, nlohmann::json{{"op", op}}, timeoutMs);
}

}  // namespace raid
