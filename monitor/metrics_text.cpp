#include "monitor/metrics_text.h"

#include <charconv>
#include <cmath>
#include <initializer_list>
#include <utility>

namespace raid {

namespace {

// The length of the well-formed UTF-8 sequence at s[i] (no overlong forms,
// no surrogates, nothing above U+10FFFF), 0 when there is none.
size_t Utf8Length(std::string_view s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size() || b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k)
    if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
  return n;
}

// A sample value: whole numbers as such, others in the shortest form that
// reads back the same.
std::string Number(double v) {
  if (!std::isfinite(v)) return v != v ? "NaN" : (v > 0 ? "+Inf" : "-Inf");
  char b[64];
  const auto r = std::to_chars(b, b + sizeof b, v);
  return std::string(b, r.ptr);
}

using Labels = std::initializer_list<std::pair<const char*, std::string_view>>;

// One metric family: its samples are gathered first, so that a family
// without any is left out whole.
class Family {
 public:
  Family(const char* name, const char* type, const char* help) : name_(name), type_(type), help_(help) {}
  void Add(Labels labels, double value) {
    samples_ += name_;
    if (labels.size() != 0) {
      samples_ += '{';
      bool first = true;
      for (const auto& [key, text] : labels) {
        if (!first) samples_ += ',';
        first = false;
        samples_ += key;
        samples_ += "=\"";
        samples_ += EscapeLabelValue(text);
        samples_ += '"';
      }
      samples_ += '}';
    }
    samples_ += ' ';
    samples_ += Number(value);
    samples_ += '\n';
  }
  void AppendTo(std::string& out) const {
    if (samples_.empty()) return;
    out += "# HELP " + name_ + " " + help_ + "\n# TYPE " + name_ + " " + type_ + "\n" + samples_;
  }

 private:
  std::string name_, type_, help_, samples_;
};

const char* ActivityKindLabel(ActivityKind k) { return k == ActivityKind::Scan ? "scan" : "rebuild"; }

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size();) {
    const char c = value[i];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else if (const size_t n = Utf8Length(value, i); n != 0) {
      out.append(value.substr(i, n));
      i += n;
      continue;
    } else {
      out += "\xEF\xBF\xBD";  // U+FFFD for a byte that starts no UTF-8 character
    }
    ++i;
  }
  return out;
}

std::string MetricsText(const MetricsSnapshot& snapshot) {
  Family enclosures("raidgui_enclosures", "gauge", "Enclosures the last detection found.");
  Family info("raidgui_enclosure_info", "gauge", "The enclosure's model, firmware and RAID mode (always 1).");
  Family driveUp("raidgui_drive_up", "gauge",
                 "Whether the drive is in its bay: 0 when the controller reports it absent or failed, else 1.");
  Family driveState("raidgui_drive_state", "gauge", "The drive's state as the controller reports it (one-hot).");
  Family degraded("raidgui_array_degraded", "gauge",
                  "Whether the array runs degraded or has failed (not both drives present).");
  Family progress("raidgui_activity_progress_ratio", "gauge", "Progress of the running rebuild or scan (0 to 1).");
  Family temperature("raidgui_temperature_celsius", "gauge", "The enclosure's temperature in degrees Celsius.");
  Family fan("raidgui_fan_rpm", "gauge", "The enclosure's fan speed in revolutions per minute.");
  Family alarm("raidgui_alarm", "gauge", "Whether the enclosure raises its fan or temperature alarm.");
  Family lastPoll("raidgui_last_poll_timestamp_seconds", "gauge",
                  "Unix time of the last poll that read the enclosure's status record.");
  Family mail("raidgui_mail_failures_total", "counter",
              "Notification mails (first tries, retries, reminders) that could not be sent since the start.");

  enclosures.Add({}, static_cast<double>(snapshot.enclosures.size()));
  for (const MetricsEnclosure& e : snapshot.enclosures) {
    if (!e.recordRead) continue;
    const DecodedStatus& s = e.status;
    const std::string_view name = e.name;
    info.Add({{"enclosure", name}, {"model", e.model}, {"firmware", s.firmware}, {"mode", s.mode}}, 1);
    for (int x = 0; x < 2; ++x) {
      const DriveState state = s.drives[static_cast<size_t>(x)].state;
      const char* drive = DriveName(x);
      driveUp.Add({{"enclosure", name}, {"drive", drive}},
                  state == DriveState::Absent || state == DriveState::Failed ? 0 : 1);
      for (DriveState each :
           {DriveState::Present, DriveState::Absent, DriveState::Failed, DriveState::Inserted, DriveState::None})
        driveState.Add({{"enclosure", name}, {"drive", drive}, {"state", DriveStateName(each)}}, each == state ? 1 : 0);
    }
    degraded.Add({{"enclosure", name}}, s.array == ArrayState::Normal ? 0 : 1);
    // A progress no activity can reach is no ratio: left out.
    if (s.activity.Running() && s.activity.ProgressKnown())
      progress.Add({{"enclosure", name}, {"kind", ActivityKindLabel(s.activity.kind)}}, s.activity.progress / 100.0);
    if (s.environment.shown) {
      temperature.Add({{"enclosure", name}}, s.environment.celsius);
      fan.Add({{"enclosure", name}}, s.environment.fanRpm);
      alarm.Add({{"enclosure", name}, {"kind", "fan"}}, s.environment.fanAlarm ? 1 : 0);
      alarm.Add({{"enclosure", name}, {"kind", "temperature"}}, s.environment.temperatureAlarm ? 1 : 0);
    }
    if (e.lastPollSeconds >= 0) lastPoll.Add({{"enclosure", name}}, e.lastPollSeconds);
  }
  mail.Add({}, static_cast<double>(snapshot.mailFailures));

  std::string out;
  for (const Family* f :
       {&enclosures, &info, &driveUp, &driveState, &degraded, &progress, &temperature, &fan, &alarm, &lastPoll, &mail})
    f->AppendTo(out);
  return out;
}

}  // namespace raid
