// The monitor service's request lines from any bytes, split into lines as a
// client would send them: every line gets exactly one answer, each answer
// is one JSON object with "ok", a refusal always says why, and nothing but
// hello opens the conversation.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "service/monitor_service.h"

using namespace raid;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MonitorService service("fuzz");
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  bool greeted = false;
  size_t start = 0;
  while (start <= all.size()) {
    size_t nl = all.find('\n', start);
    if (nl == std::string_view::npos) nl = all.size();
    const std::string_view line = all.substr(start, nl - start);
    const auto answers = service.Answer(1, line);
    if (answers.size() != 1) std::abort();
    const nlohmann::json a = nlohmann::json::parse(answers[0], nullptr, false);
    if (a.is_discarded() || !a.is_object() || !a.contains("ok") || !a["ok"].is_boolean()) std::abort();
    if (!a["ok"].get<bool>() && (!a.contains("error") || a["error"].get<std::string>().empty())) std::abort();
    const Expected<ServiceRequest> parsed = ParseServiceRequest(line);
    if (a["ok"].get<bool>()) {
      if (!parsed || (!greeted && parsed->op != "hello")) std::abort();
      if (parsed->op == "hello") greeted = true;
    }
    start = nl + 1;
  }
  return 0;
}
