// The device thread and the mail loop on real threads, with the main thread
// serving their calls from a queue and running the timers: the hand-over by
// one-byte flags and blocking calls must detect, poll, log and run long
// operations without a data race (this test is also run under
// ThreadSanitizer).
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "app/common/loop_view.h"
#include "app/common/service_feed.h"
#include "app/raidmon/service_mail.h"
#include "core_harness.h"
#include "device/record_layout.h"
#include "maintenance/firmware_upgrade.h"
#include "maintenance/setup_page.h"
#include "monitor/worker_threads.h"
#include "platform/settings_store.h"
#include "service/monitor_service.h"

namespace raid {
namespace {

// Runs queued calls when the main thread asks; a worker waits for its call.
class QueueInvoker final : public LoopHost {
 public:
  bool OnMainThread() const override { return std::this_thread::get_id() == main_; }
  void Post(std::function<void()> fn) override {
    std::lock_guard lock(mu_);
    if (!closing_) queue_.push_back(std::move(fn));
  }
  void WakeIn(int64_t) override {}
  void SetClosing() override { Close(); }
  bool RunAndWait(const std::function<void()>& fn) override {
    std::unique_lock lock(mu_);
    if (closing_) return false;
    bool done = false;
    queue_.push_back([&] {
      fn();
      std::lock_guard inner(mu_);
      done = true;
      cv_.notify_all();
    });
    cv_.wait(lock, [&] { return done || closing_; });
    return done;
  }
  void RunPending() {
    std::deque<std::function<void()>> work;
    {
      std::lock_guard lock(mu_);
      work.swap(queue_);
    }
    for (auto& w : work) w();
  }
  void Close() {
    std::lock_guard lock(mu_);
    closing_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> queue_;
  bool closing_ = false;
  const std::thread::id main_ = std::this_thread::get_id();
};

// A status bar and boxes that may be called from the detection thread.
class LockedView final : public CoreView {
 public:
  void SetPanelText(StatusBarPanel panel, const std::string& text) override {
    std::lock_guard lock(mu_);
    panels[panel] = text;
  }
  BoxResult ShowMessage(const MessageBoxRequest&) override { return BoxResult::Ok; }
  std::string Panel(int i) {
    std::lock_guard lock(mu_);
    return panels[i];
  }

 private:
  std::mutex mu_;
  std::string panels[5];
};

// How the worker loops wait: idleMs 0, at their own pace of program time;
// idleMs > 0, until nudged or idleMs real milliseconds have passed. nudge:
// the main loop nudges them after each pass of the timers, as the program
// does on real disks; without nudges they still serve, once per idle period.
struct ThreadMode {
  int64_t idleMs;
  bool nudge;
};

class RealThreadModes : public ::testing::TestWithParam<ThreadMode> {};

// The built-in enclosure on a clock 50 times the wall, with a core and a
// main-thread queue.
struct ThreadRig {
  ~ThreadRig() { std::filesystem::remove_all(dir); }
  std::filesystem::path dir = test::TestDir();
  ScaledClock clock{{2010, 5, 3, 9, 0, 0, 0}, 50.0};
  sim::SimDeviceIo io{clock, sim::DefaultScenario()};
  FixedDateTimeFormat fmt;
  LockedView view;
  PageSelection pages;
  RaidCore core{io, clock, fmt, view, dir.string(), pages};
  QueueInvoker invoker;
};

TEST_P(RealThreadModes, DetectionPollingAndTheLogHandOverWithoutRaces) {
  const ThreadMode mode = GetParam();
  ThreadRig r;
  auto& [dir, clock, io, fmt, view, pages, core, invoker] = r;
  core.Start();
  CoreThreads threads(core, clock, invoker, mode.idleMs);
  threads.Start();
  CoreScheduler timers(core, clock, nullptr, false, nullptr);
  const int64_t end = clock.MonotonicMs() + 20000;
  while (clock.MonotonicMs() < end) {
    invoker.RunPending();
    timers.RunUntil(clock.MonotonicMs());
    if (mode.nudge) threads.Nudge();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  invoker.Close();
  threads.Stop([&] { invoker.RunPending(); });
  EXPECT_EQ(view.Panel(1), "Detected OK");
  EXPECT_EQ(core.Devices().DeviceCount, 1);
  EXPECT_EQ(core.Devices().FirstFill, 0);
  EXPECT_GE(core.Log().DayLog().size(), 15u);
}

// The simulated machine with a hook run on the calling thread before every
// SCSI or ATA request.
class HookedIo final : public DeviceIo {
 public:
  HookedIo(DeviceIo& inner, std::function<void()> beforeRequest) : in_(inner), before_(std::move(beforeRequest)) {}
  Expected<DeviceHandleValue> Open(DeviceId id) override { return in_.Open(id); }
  void Close(DeviceHandleValue h) override { in_.Close(h); }
  Outcome Scsi(DeviceHandleValue h, ScsiRequest& r) override {
    before_();
    return in_.Scsi(h, r);
  }
  Outcome Ata(DeviceHandleValue h, AtaRegisters& regs, uint8_t* d, uint32_t n, ReplyStatus& s) override {
    before_();
    return in_.Ata(h, regs, d, n, s);
  }
  Outcome RescanBus(DeviceHandleValue h) override { return in_.RescanBus(h); }
  Expected<VolumeExtent> DiskExtents(DeviceHandleValue h) override { return in_.DiskExtents(h); }
  uint32_t LogicalDriveMask() override { return in_.LogicalDriveMask(); }
  unsigned DriveTypeOf(char l) override { return in_.DriveTypeOf(l); }

 private:
  DeviceIo& in_;
  std::function<void()> before_;
};

// Long operations posted to the device thread.
class ThreadJobs final : public DeviceJobs {
 public:
  ThreadJobs(CoreThreads& threads, LoopHost& host) : threads_(threads), host_(host) {}
  bool Run(std::function<void(MainThreadInvoker&)> job, std::function<void()> done) override {
    threads_.PostDeviceJob([this, job = std::move(job), done = std::move(done)] {
      job(host_);
      if (done) host_.Post(done);
    });
    return false;
  }

 private:
  CoreThreads& threads_;
  LoopHost& host_;
};

// One thread owns the enclosures: the detection scans, the polls, an upgrade
// and an initialisation all reach the device from it and never from the
// main thread, which meanwhile serves the view, runs the timers and reads
// the page models (under ThreadSanitizer: the models change only there).
TEST(RealThreads, OneDeviceThreadRunsPollsUpgradeAndInitialisation) {
  const auto dir = test::TestDir();
  ScaledClock clock({2010, 5, 3, 9, 0, 0, 0}, 50.0);
  sim::SimDeviceIo sim(clock, sim::DefaultScenario());
  // Which threads send device requests.
  std::mutex sendersMu;
  std::set<std::thread::id> senders;
  HookedIo io(sim, [&] {
    std::lock_guard lock(sendersMu);
    senders.insert(std::this_thread::get_id());
  });
  FixedDateTimeFormat fmt;
  LockedView screen;
  QueueInvoker host;
  LoopView view(screen, host);
  PageSelection pages;
  RaidCore core(io, clock, fmt, view, dir.string(), pages);
  FirmwareUpgrade upgrade(core, view);
  SetupPage setup(core, view, upgrade);
  core.Start();
  CoreThreads threads(core, clock, host, 20);
  ThreadJobs jobs(threads, host);
  setup.Jobs = &jobs;
  threads.Start();
  CoreScheduler timers(core, clock, nullptr, false, nullptr);
  size_t drawn = 0;
  auto runUntil = [&](const std::function<bool()>& done) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done() && std::chrono::steady_clock::now() < give_up) {
      host.RunPending();
      timers.RunUntil(clock.MonotonicMs());
      threads.Nudge();
      drawn += upgrade.Model.ProgressPanelCaption.size() + setup.Model.StepPanelCaption.size();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
  };
  ASSERT_TRUE(runUntil([&] { return core.Devices().FirstFill == 0; }));

  std::vector<uint8_t> image(kFlashImageLength, 0x5A);
  std::memcpy(image.data(), "FIPS", 4);
  image[kImageConfigVersionOffset] = kImageConfigVersion;
  ASSERT_TRUE(upgrade.UseBuiltImage(image, "fw.bin"));
  std::atomic<int> outcome{-1};
  threads.PostDeviceJob([&] { outcome = static_cast<int>(upgrade.Upgrade(0, host)); });
  ASSERT_TRUE(runUntil([&] { return outcome.load() >= 0; }));
  EXPECT_EQ(outcome.load(), static_cast<int>(UpgradeOutcome::Succeeded));

  setup.ShowInitialize();
  ASSERT_EQ(setup.SetClick(), SetOutcome::Started);
  ASSERT_TRUE(runUntil([&] { return !setup.Running(); }));
  EXPECT_EQ(screen.Panel(kMessagePanel), setup_text::kCreatePartitionOk);

  host.Close();
  threads.Stop([&] { host.RunPending(); });
  std::lock_guard lock(sendersMu);
  EXPECT_EQ(senders.size(), 1u);
  EXPECT_FALSE(senders.count(std::this_thread::get_id()));
  EXPECT_GT(drawn, 0u);
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(RealThreads, RealThreadModes,
                         ::testing::Values(ThreadMode{0, false}, ThreadMode{1000, true}, ThreadMode{20, false}));

// Stop wakes loops at once, even from an hour-long idle wait.
TEST(RealThreads, StopWakesSleepingLoopsAtOnce) {
  ThreadRig r;
  r.invoker.Close();
  const auto before = std::chrono::steady_clock::now();
  CoreThreads idle(r.core, r.clock, r.invoker, 60 * 60 * 1000);
  idle.Start();
  idle.Stop([&] { r.invoker.RunPending(); });
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
}

// Records, at every publish, whether the published tables are those of one
// complete scan of one state of the machine: every group found was
// identified, and the drives are those of one plug state. (The published
// list is copied from the scan's groups before this is called, so comparing
// the two would prove nothing.)
class PublishCheckingView final : public CoreView {
 public:
  void SetPanelText(StatusBarPanel, const std::string&) override {}
  BoxResult ShowMessage(const MessageBoxRequest&) override { return BoxResult::Ok; }
  void NavigationEnabledChanged(bool) override {
    if (!core) return;
    ++publishes;
    const DriveDetector& d = core->Detected();
    std::set<int> drives;
    bool whole = d.FoundCount == d.GroupCount;
    for (int g = 0; g < d.GroupCount; ++g) {
      const int drive = drive_flags::Drive(d.GroupTable[g]);
      drives.insert(drive);
      whole = whole && DriveDetector::HasSignature(d.IdentSector[drive].data());
    }
    if (!whole || (drives != std::set<int>{0} && drives != std::set<int>{0, 2})) ++torn;
  }
  RaidCore* core = nullptr;
  int publishes = 0;
  int torn = 0;
};

TEST(RealThreads, DeviceChangesDuringASlowScanPublishOnlyWholeScans) {
  const auto dir = test::TestDir();
  ScaledClock clock({2010, 5, 3, 9, 0, 0, 0}, 50.0);
  sim::SimDeviceIo sim(
      clock, test::Scenario(R"({"enclosures":[{"name":"E1"},{"name":"E2","transport":"vendor2","model":"Second"}],
      "disks":[{"drive":0,"enclosure":"E1"},{"drive":1},{"drive":2,"enclosure":"E2"}]})"));
  // Every request of the detection thread is slowed down by real time, so
  // that device changes and recounts land in the middle of a scan.
  HookedIo io(sim, [main = std::this_thread::get_id()] {
    if (std::this_thread::get_id() != main) std::this_thread::sleep_for(std::chrono::milliseconds(3));
  });
  FixedDateTimeFormat fmt;
  PublishCheckingView view;
  PageSelection pages;
  RaidCore core(io, clock, fmt, view, dir.string(), pages);
  QueueInvoker invoker;
  core.Start();
  view.core = &core;
  CoreThreads threads(core, clock, invoker);
  threads.Start();
  CoreScheduler timers(core, clock, nullptr, false, nullptr);
  bool plugged = true;
  int changesDuringScans = 0;  // all but the first of the second burst
  int64_t lastChange = -100000;
  const int64_t end = clock.MonotonicMs() + 120000;
  while (clock.MonotonicMs() < end) {
    invoker.RunPending();
    timers.RunUntil(clock.MonotonicMs());
    // Two bursts of three changes: the second enclosure unplugged or plugged
    // in and the change announced, at most every 1.5 s of program time and
    // only while a scan is waiting or running; the second burst starts once
    // the first one's scan has been published.
    const int64_t now = clock.MonotonicMs();
    const bool due = changesDuringScans == 3 ? view.publishes == 1 && !core.DetectionPending()
                                             : changesDuringScans < 6 && core.DetectionPending();
    if (due && now - lastChange > 1500) {
      plugged = !plugged;
      sim.SetPlugged("E2", plugged);
      core.OnDeviceChange();
      ++changesDuringScans;

      lastChange = now;
    }
    if (changesDuringScans == 6 && view.publishes == 2 && !core.DetectionPending() &&
        core.Devices().RedetectCountdown == 0)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  invoker.Close();
  threads.Stop([&] { invoker.RunPending(); });
  // Each burst was published once, as one whole scan.
  EXPECT_EQ(changesDuringScans, 6);
  EXPECT_EQ(view.publishes, 2);
  EXPECT_EQ(view.torn, 0);
  // The last publish shows the machine as it is now.
  EXPECT_FALSE(core.DetectionPending());
  EXPECT_EQ(core.Devices().DeviceCount, plugged ? 2 : 1);
  std::filesystem::remove_all(dir);
}

// The service's endpoint thread answers clients from what the main thread
// publishes while it publishes: whole snapshots, day log lines in order.
TEST(RealThreads, TheServiceAnswersClientsWhileTheMonitorPublishes) {
  const auto dir = test::TestDir();
  const std::string address = (dir / "s.sock").string();
  MonitorService service("test");
  const Outcome started = service.Start(address);
  ASSERT_TRUE(started) << started.error();
  std::atomic<int> answered{0};
  std::atomic<bool> inOrder{true};
  std::atomic<int> heard{0};
  std::atomic<bool> subscribed{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < 3; ++c) {
    clients.emplace_back([&, c] {
      for (int i = 0; i < 20; ++i) {
        if (AskService(address, "test", c == 0 ? "status" : "log")) ++answered;
      }
    });
  }
  clients.emplace_back([&] {
    LocalConnection conn;
    if (!conn.Connect(address)) return;
    (void)conn.SendLine(R"({"op":"hello","protocol":1})", 5000);
    (void)conn.ReadLine(5000, 1 << 20);
    (void)conn.SendLine(R"({"op":"subscribe"})", 5000);
    (void)conn.ReadLine(5000, 1 << 20);
    subscribed = true;
    int last = -1;
    for (Expected<std::string> line = conn.ReadLine(5000, 1 << 20); line; line = conn.ReadLine(5000, 1 << 20)) {
      const int n = std::stoi(nlohmann::json::parse(*line)["line"].get<std::string>());
      if (n != last + 1) inOrder = false;
      last = n;
      ++heard;
      if (n == 199) break;
    }
  });
  for (int waited = 0; !subscribed && waited < 10000; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(subscribed.load());
  for (int i = 0; i < 200; ++i) {
    ServiceSnapshot snap;
    snap.list = {{"exit", 0}, {"text", std::to_string(i)}};
    snap.status = {{"exit", 0}, {"text", std::to_string(i)}, {"document", nullptr}};
    service.Publish(std::move(snap));
    service.LogLine(std::to_string(i), nullptr);
    if (i % 20 == 0) service.ResetDayLog({std::to_string(i)});
  }
  for (auto& t : clients) t.join();
  service.Stop();
  EXPECT_EQ(answered.load(), 60);
  EXPECT_TRUE(inOrder.load());
  EXPECT_EQ(heard.load(), 200);
  std::filesystem::remove_all(dir);
}

// A window's feed and its change follow the service from their own
// threads while the monitor publishes: every line in order, the mirror, and
// the change's progress and answer, with no race.
TEST(RealThreads, AWindowFollowsTheServiceWhileItPublishes) {
  const auto dir = test::TestDir();
  const std::string address = (dir / "s.sock").string();
  MonitorService service("test");
  std::vector<std::thread> answering;
  std::mutex answeringMu;
  service.SetChangeHandler([&](uint64_t client, const ServiceRequest& r) {
    std::lock_guard lock(answeringMu);
    answering.emplace_back([&service, client, id = r.id] {
      service.Progress(client, id, {{"text", "Firmware Update..."}, {"caption", "Process 2 / 3"}, {"percent", 50}});
      service.Reply(client, id, {{"exit", 0}, {"out", ""}, {"err", ""}, {"boxes", nlohmann::json::array()}});
    });
  });
  ASSERT_TRUE(service.Start(address));
  std::mutex mu;
  std::vector<std::string> lines;
  int mirrors = 0;
  bool connected = false;
  ServiceFeed::Handlers h;
  h.connected = [&](const std::vector<std::string>& log, const nlohmann::json&) {
    std::lock_guard lock(mu);
    lines = log;
    connected = true;
  };
  h.line = [&](const std::string& line, const nlohmann::json&) {
    std::lock_guard lock(mu);
    lines.push_back(line);
  };
  h.mirror = [&](const nlohmann::json& m) {
    std::lock_guard lock(mu);
    mirrors += m.is_object() ? 1 : 0;
  };
  ServiceFeed feed(address, h);
  feed.Start();
  auto waitFor = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 1000; ++i) {
      {
        std::lock_guard lock(mu);
        if (done()) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  };
  ASSERT_TRUE(waitFor([&] { return connected; }));
  // Declared before the change, whose thread writes them until it ends.
  std::atomic<int> progress{0};
  std::atomic<int> answered{-1};
  ServiceChange change;
  ASSERT_TRUE(change.Start(
      address, {{"op", "scan"}, {"id", 7}, {"drive", 1}, {"stop", false}}, [&](const nlohmann::json&) { ++progress; },
      [&](bool ok, const nlohmann::json&) { answered = ok ? 1 : 0; }));
  for (int i = 0; i < 100; ++i) {
    ServiceSnapshot snap;
    snap.mirror = {{"enclosures", nlohmann::json::array()}};
    service.Publish(std::move(snap));
    service.LogLine(std::to_string(i), nullptr);
  }
  ASSERT_TRUE(waitFor([&] { return lines.size() == 100 && mirrors > 0; }));
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], std::to_string(i));
  for (int i = 0; i < 500 && answered < 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // Root may change (the answer and its progress came); anyone else is
  // refused, which also ends the change.
  EXPECT_GE(answered.load(), 0);
  if (answered == 1) {
    EXPECT_EQ(progress.load(), 1);
  }
  feed.Stop();
  service.Stop();
  for (auto& t : answering) t.join();
  std::filesystem::remove_all(dir);
}

// The service's test mail is answered from its own thread while the main
// thread goes on changing the settings the notifier reads.
TEST(RealThreads, TheServiceSendsATestMailWhileItsSettingsChange) {
  MemorySettingsStore store;
  MonitorState ms;
  SystemClock clock;
  const std::vector<std::string> info;
  MailNotifier notifier(store, ms, ms.MailRequestFlags, info, clock, [](StatusBarPanel, const std::string&) {});
  std::mutex mu;
  std::condition_variable cv;
  std::map<uint64_t, nlohmann::json> replies;
  ServiceMail mail(store, notifier, [&](uint64_t, uint64_t id, const nlohmann::json& result) {
    std::lock_guard lock(mu);
    replies[id] = result;
    cv.notify_all();
  });
  auto words = [](std::initializer_list<const char*> w) { return nlohmann::json{{"args", w}}; };
  // Nothing listens on port 1: the mail fails at its connection.
  mail.Run(1, 1, words({"set", "--server", "127.0.0.1", "--port", "1", "--address", "a@example.com"}));
  mail.Run(1, 2, words({"recipients", "add", "ops@example.com"}));
  mail.TestMail(1, 3);
  mail.Run(1, 4, words({"recipients", "add", "dev@example.com"}));
  mail.Run(1, 5, words({"show"}));
  {
    std::unique_lock lock(mu);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(60), [&] { return replies.size() == 5; }));
  }
  mail.TestMail(1, 6);
  mail.Stop();
  std::lock_guard lock(mu);
  for (const uint64_t id : {1, 2, 4, 5}) EXPECT_EQ(replies[id]["exit"], 0) << replies[id].dump();
  EXPECT_EQ(replies[3]["exit"], 1);
  EXPECT_NE(replies[3]["out"].get<std::string>().find("Send mail failed: "), std::string::npos);
  EXPECT_NE(replies[5]["out"].get<std::string>().find("dev@example.com"), std::string::npos);
  // Stopped or failed, the last one is answered too.
  EXPECT_EQ(replies[6]["exit"], 1);
}

}  // namespace
}  // namespace raid
