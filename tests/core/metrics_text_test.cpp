// The Prometheus text of raidmon --metrics-file, read back by a small reader
// of the exposition format: label values survive any bytes a device sends,
// and every snapshot gives well-formed families whose values agree with the
// decoded status. The real node exporter reads it in tests/e2e_metrics.sh.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "monitor/metrics_text.h"

namespace raid {
namespace {

// Reads a label value from s[i] (just after its opening quote) up to its
// closing quote, undoing the three escapes; i ends after the quote. False
// when the value has no closing quote, holds a raw line feed or an escape
// the format does not know.
bool ReadLabelValue(const std::string& s, size_t& i, std::string& out) {
  out.clear();
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') {
      ++i;
      return true;
    }
    if (c == '\n') return false;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i == s.size()) return false;
    if (s[i] == '\\')
      out += '\\';
    else if (s[i] == '"')
      out += '"';
    else if (s[i] == 'n')
      out += '\n';
    else
      return false;
  }
  return false;
}

std::string Utf8(char32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

// Random device text: plain and special characters, valid UTF-8 of every
// length, and byte sequences that are no UTF-8 (each such byte must come
// back as U+FFFD). `expected` receives what a reader must find.
std::string DeviceText(std::mt19937& rng, std::string& expected) {
  static const std::vector<std::string> invalid = {
      "\x80", "\xFF", "\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\xF4\x90\x80\x80", "\xC1"};
  static const std::string specials = "\\\"\n\r\t{},= \x01\x7F";
  std::string text;
  expected.clear();
  const int pieces = static_cast<int>(rng() % 12);
  for (int p = 0; p < pieces; ++p) {
    switch (rng() % 4) {
      case 0: {
        const std::string c(1, specials[rng() % specials.size()]);
        text += c;
        expected += c;
        break;
      }
      case 1: {
        const std::string c(1, static_cast<char>('0' + rng() % 75));
        text += c;
        expected += c;
        break;
      }
      case 2: {
        char32_t cp = 0x80 + rng() % 0x10FF80;
        if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xE9;
        text += Utf8(cp);
        expected += Utf8(cp);
        break;
      }
      default: {
        // Followed by a plain character, so that no later piece completes it.
        const std::string& bad = invalid[rng() % invalid.size()];
        text += bad + "x";
        for (size_t k = 0; k < bad.size(); ++k) expected += "\xEF\xBF\xBD";
        expected += "x";
      }
    }
  }
  return text;
}

TEST(MetricsTextTest, AnyDeviceTextReadsBackAsValidUtf8) {
  std::mt19937 rng(27);
  for (int round = 0; round < 5000; ++round) {
    std::string expected;
    const std::string text = DeviceText(rng, expected);
    const std::string escaped = EscapeLabelValue(text) + "\"";
    size_t i = 0;
    std::string read;
    ASSERT_TRUE(ReadLabelValue(escaped, i, read)) << escaped;
    EXPECT_EQ(i, escaped.size()) << "the value ended early: " << escaped;
    EXPECT_EQ(read, expected);
  }
}

struct Sample {
  std::string name;
  std::map<std::string, std::string> labels;
  double value = 0;
};

// Reads the exposition: HELP and TYPE before each family's samples, each
// family in one piece. Fails the test on any line it cannot read.
std::vector<Sample> ReadExposition(const std::string& text) {
  std::vector<Sample> samples;
  std::set<std::string> finished;
  std::string family, typed;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    EXPECT_NE(end, std::string::npos) << "the last line has no line feed";
    if (end == std::string::npos) break;
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.rfind("# HELP ", 0) == 0) {
      const std::string name = line.substr(7, line.find(' ', 7) - 7);
      EXPECT_FALSE(finished.count(name)) << name << " comes twice";
      if (!family.empty()) finished.insert(family);
      family = name;
      continue;
    }
    if (line.rfind("# TYPE ", 0) == 0) {
      EXPECT_EQ(line.substr(7, family.size() + 1), family + " ") << line;
      const std::string type = line.substr(8 + family.size());
      EXPECT_TRUE(type == "gauge" || type == "counter") << line;
      typed = family;
      continue;
    }
    Sample s;
    size_t i = 0;
    while (i < line.size() && (std::isalnum(static_cast<unsigned char>(line[i])) || line[i] == '_')) ++i;
    s.name = line.substr(0, i);
    EXPECT_EQ(s.name, family) << "a sample outside its family: " << line;
    EXPECT_EQ(typed, family) << "no TYPE line before " << line;
    if (i < line.size() && line[i] == '{') {
      ++i;
      while (i < line.size() && line[i] != '}') {
        const size_t eq = line.find("=\"", i);
        EXPECT_NE(eq, std::string::npos) << line;
        if (eq == std::string::npos) return samples;
        const std::string key = line.substr(i, eq - i);
        i = eq + 2;
        std::string value;
        EXPECT_TRUE(ReadLabelValue(line, i, value)) << line;
        EXPECT_FALSE(s.labels.count(key)) << line;
        s.labels[key] = value;
        if (i < line.size() && line[i] == ',') ++i;
      }
      ++i;
    }
    EXPECT_EQ(line.substr(i, 1), " ") << line;
    s.value = std::stod(line.substr(i + 1));
    samples.push_back(std::move(s));
  }
  return samples;
}

DecodedStatus RandomStatus(std::mt19937& rng) {
  static const DriveState states[] = {DriveState::None, DriveState::Inserted, DriveState::Failed, DriveState::Present,
                                      DriveState::Absent};
  DecodedStatus s;
  std::string ignored;
  s.mode = DeviceText(rng, ignored);
  s.firmware = DeviceText(rng, ignored);
  for (DecodedDrive& d : s.drives) d.state = states[rng() % 5];
  s.array = static_cast<ArrayState>(rng() % 3);
  s.activity.kind = static_cast<ActivityKind>(rng() % 3);
  s.activity.progress = static_cast<uint8_t>(rng() % 101);
  s.environment.shown = rng() % 2;
  s.environment.celsius = rng() % 90;
  s.environment.fanRpm = rng() % 5000;
  s.environment.fanAlarm = rng() % 2;
  s.environment.temperatureAlarm = rng() % 2;
  return s;
}

TEST(MetricsTextTest, EverySnapshotReadsBackAsItsStatus) {
  std::mt19937 rng(4);
  for (int round = 0; round < 300; ++round) {
    MetricsSnapshot snap;
    snap.mailFailures = rng() % 7;
    const int count = static_cast<int>(rng() % 4);
    std::map<std::string, std::string> models;
    for (int e = 0; e < count; ++e) {
      MetricsEnclosure& m = snap.enclosures.emplace_back();
      m.name = "Device" + std::to_string(e + 1);
      m.model = DeviceText(rng, models[m.name]);
      m.recordRead = rng() % 5 != 0;
      m.status = RandomStatus(rng);
      m.lastPollSeconds = rng() % 2 ? 1.7e9 + rng() % 1000 / 8.0 : -1;
    }
    const std::vector<Sample> samples = ReadExposition(MetricsText(snap));
    std::map<std::string, std::vector<const Sample*>> by;
    for (const Sample& s : samples) by[s.name].push_back(&s);
    ASSERT_EQ(by["raidgui_enclosures"].size(), 1u);
    EXPECT_EQ(by["raidgui_enclosures"][0]->value, count);
    ASSERT_EQ(by["raidgui_mail_failures_total"].size(), 1u);
    EXPECT_EQ(by["raidgui_mail_failures_total"][0]->value, static_cast<double>(snap.mailFailures));
    auto of = [&](const std::string& name, const std::string& enclosure) {
      std::vector<const Sample*> r;
      for (const Sample* s : by[name])
        if (s->labels.at("enclosure") == enclosure) r.push_back(s);
      return r;
    };
    for (const MetricsEnclosure& e : snap.enclosures) {
      const DecodedStatus& st = e.status;
      const auto info = of("raidgui_enclosure_info", e.name);
      if (!e.recordRead) {
        EXPECT_TRUE(info.empty());
        EXPECT_TRUE(of("raidgui_drive_up", e.name).empty());
        continue;
      }
      ASSERT_EQ(info.size(), 1u);
      EXPECT_EQ(info[0]->labels.at("model"), models[e.name]);
      EXPECT_EQ(info[0]->value, 1);
      for (int x = 0; x < 2; ++x) {
        const std::string drive = DriveName(x);
        const DriveState state = st.drives[static_cast<size_t>(x)].state;
        int ones = 0;
        for (const Sample* s : of("raidgui_drive_state", e.name)) {
          if (s->labels.at("drive") != drive) continue;
          EXPECT_EQ(s->value, s->labels.at("state") == DriveStateName(state) ? 1 : 0);
          ones += s->value == 1;
        }
        EXPECT_EQ(ones, 1);
        for (const Sample* s : of("raidgui_drive_up", e.name)) {
          if (s->labels.at("drive") == drive) {
            EXPECT_EQ(s->value, state == DriveState::Absent || state == DriveState::Failed ? 0 : 1);
          }
        }
      }
      ASSERT_EQ(of("raidgui_array_degraded", e.name).size(), 1u);
      EXPECT_EQ(of("raidgui_array_degraded", e.name)[0]->value, st.array == ArrayState::Normal ? 0 : 1);
      const auto progress = of("raidgui_activity_progress_ratio", e.name);
      ASSERT_EQ(progress.size(), st.activity.Running() ? 1u : 0u);
      if (st.activity.Running()) {
        EXPECT_DOUBLE_EQ(progress[0]->value, st.activity.progress / 100.0);
        EXPECT_EQ(progress[0]->labels.at("kind"), st.activity.kind == ActivityKind::Scan ? "scan" : "rebuild");
      }
      const auto temperature = of("raidgui_temperature_celsius", e.name);
      ASSERT_EQ(temperature.size(), st.environment.shown ? 1u : 0u);
      if (st.environment.shown) {
        EXPECT_EQ(temperature[0]->value, st.environment.celsius);
        EXPECT_EQ(of("raidgui_fan_rpm", e.name)[0]->value, st.environment.fanRpm);
        for (const Sample* s : of("raidgui_alarm", e.name)) {
          EXPECT_EQ(s->value,
                    s->labels.at("kind") == "fan" ? st.environment.fanAlarm : st.environment.temperatureAlarm);
        }
      }
      const auto poll = of("raidgui_last_poll_timestamp_seconds", e.name);
      ASSERT_EQ(poll.size(), e.lastPollSeconds >= 0 ? 1u : 0u);
      if (!poll.empty()) {
        EXPECT_EQ(poll[0]->value, e.lastPollSeconds);
      }
    }
  }
}

}  // namespace
}  // namespace raid
