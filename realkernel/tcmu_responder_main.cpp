// raid-tcmu-responder: serves each disk of a scenario as a SCSI disk of the
// running kernel, through the kernel's SCSI target (LIO) with a TCMU user
// backstore per drive, each the LUN 0 of a loopback target (tcm_loop) of its
// own, so each drive is a SCSI host of its own as each enclosure behind its
// own USB bridge is. Every command the kernel sends to such a disk comes
// through the backstore's command ring and is answered by the simulated
// enclosure (sim/scsi_responder.h). The scenario's plug and unplug events
// link and unlink the drive's LUN, so the kernel and udev see the disk come
// and go.
//
//   raid-tcmu-responder --scenario FILE [--log FILE] [--trace FILE]
//                       [--ready FILE] [--hba N] [--hang-hold SECONDS]
//                       [--start-on-signal]
//
// Needs root, configfs mounted at /sys/kernel/config and the modules
// target_core_mod, target_core_user, tcm_loop and uio loaded. Makes every
// configfs object itself and removes them again on SIGTERM or SIGINT.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "device/requests.h"
#include "realkernel/responder_support.h"
#include "realkernel/tcmu_ring.h"
#include "sim/scenario.h"
#include "sim/scsi_responder.h"
#include "sim/sim_device_io.h"

namespace fs = std::filesystem;
using namespace raid;
using raid::realkernel::TcmuEntry;
using raid::realkernel::TcmuRing;
using namespace raid::realkernel;

namespace {

const fs::path kCore = "/sys/kernel/config/target/core";
const fs::path kLoopback = "/sys/kernel/config/target/loopback";
// Drive N's loopback target and its initiator: naa.5001405aa000NN01 and
// ...NN02. One target per drive: LIO tells every other LUN of a target that
// its LUN inventory changed when a LUN is linked or unlinked (a unit
// attention the next command gets), and the kernel turns that into a
// `change` event of the other disks, which no separate USB enclosure causes.
std::string Wwn(int drive, int role) {
  char b[32];
  std::snprintf(b, sizeof b, "naa.5001405aa000%02X%02X", drive & 0xFF, role);
  return b;
}
fs::path TargetPortal(int drive) { return kLoopback / Wwn(drive, 1) / "tpgt_1"; }
// A command's data beyond this is not from a kernel that was set up here.
constexpr size_t kMaxData = 64u << 20;

std::atomic<bool> g_stop{false};
void OnStopSignal(int) { g_stop = true; }

struct Options {
  std::string scenario;
  std::string log;
  std::string trace;
  std::string ready;
  int hba = 0;
  int hangHoldSeconds = 30;
  bool startOnSignal = false;
};

const char* DirText(DataDirection d) {
  return d == DataDirection::In ? "IN" : d == DataDirection::Out ? "OUT" : "NONE";
}

std::string ReadText(const fs::path& p) {
  std::ifstream f(p);
  std::string s;
  std::getline(f, s);
  return s;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  for (int i = 0; i < ms / 20; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

// Runs the configfs link and unlink of LUNs on a thread of its own: linking
// a LUN makes the kernel scan it and unlinking waits for its commands, both
// inside the system call, and those commands need the ring loop answering.
class PlugWorker {
 public:
  explicit PlugWorker(ResponderLog& log) : log_(log), thread_([this] { Run(); }) {}
  ~PlugWorker() {
    {
      std::lock_guard lock(mu_);
      quit_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  void Post(std::function<void()> job) {
    {
      std::lock_guard lock(mu_);
      jobs_.push_back(std::move(job));
      ++pending_;
    }
    cv_.notify_all();
  }
  bool Idle() const { return pending_ == 0; }

 private:
  void Run() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mu_);
        cv_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      try {
        job();
      } catch (const std::exception& e) {
        log_.Line(std::string("configfs: ") + e.what());
      }
      --pending_;
    }
  }
  ResponderLog& log_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
  std::atomic<int> pending_{0};
  bool quit_ = false;
  std::thread thread_;
};

void MakeTarget(int drive) {
  const fs::path tpg = TargetPortal(drive);
  fs::create_directories(tpg);
  if (ReadText(tpg / "nexus").empty()) WriteText(tpg / "nexus", Wwn(drive, 2));
}

void RemoveTarget(int drive) {
  std::error_code ec;
  const fs::path tpg = TargetPortal(drive);
  if (fs::exists(tpg / "nexus")) {
    std::ofstream(tpg / "nexus") << "NULL";
  }
  fs::remove(tpg, ec);
  fs::remove(tpg.parent_path(), ec);
}

// One scenario drive served as a TCMU backstore and a loopback LUN.
class Backstore {
 public:
  Backstore(sim::SimDeviceIo& io, int drive, uint64_t blocks, const Options& o, ResponderLog& log)
      : responder_(io, drive, blocks), log_(log), hangHold_(o.hangHoldSeconds) {
    name_ = "pd" + std::to_string(drive);
    config_ = "raidsim/" + name_;
    dir_ = kCore / ("user_" + std::to_string(o.hba)) / name_;
    drive_ = drive;
    lunDir_ = TargetPortal(drive) / "lun" / "lun_0";
    hbaIndex_ = o.hba;
  }
  ~Backstore() { Unmap(); }

  void Create() {
    fs::create_directories(dir_);
    WriteText(dir_ / "control", "dev_config=" + config_ + ",dev_size=" + std::to_string(responder_.Blocks() * 512));
    // An aborted command comes through the ring, so a held one is let go.
    if (fs::exists(dir_ / "attrib" / "tmr_notification")) WriteText(dir_ / "attrib" / "tmr_notification", "1");
    WriteText(dir_ / "enable", "1");
    Map();
    MakeTarget(drive_);
    fs::create_directories(lunDir_);
  }

  void Remove() {
    Unmap();
    std::error_code ec;
    fs::remove(lunDir_, ec);
    RemoveTarget(drive_);
    fs::remove(dir_, ec);
  }

  // Links or unlinks the LUN (on the plug worker's thread).
  void SetPlugged(bool plugged) {
    const fs::path link = lunDir_ / name_;
    std::error_code ec;
    if (plugged) {
      if (!fs::is_symlink(link)) fs::create_directory_symlink(dir_, link);
    } else if (fs::is_symlink(link)) {
      fs::remove(link);
    }
    log_.Line(name_ + (plugged ? " linked" : " unlinked"));
  }
  bool Linked() const { return fs::is_symlink(lunDir_ / name_); }

  sim::ScsiResponder& Responder() { return responder_; }
  int Fd() const { return fd_; }
  const std::string& Name() const { return name_; }

  // Answers what the ring holds; true when the kernel is to be told.
  bool Serve() {
    if (!ring_) return false;
    uint32_t count = 0;
    if (::read(fd_, &count, sizeof count) < 0 && errno != EAGAIN)
      log_.Line(name_ + ": uio read: " + std::strerror(errno));
    bool advanced = false;
    while (!ring_->Empty()) {
      if (held_ && !ReleaseHeld()) break;
      const auto e = ring_->Entry(ring_->Tail());
      if (!e) {
        log_.Line(name_ + ": malformed ring entry at " + std::to_string(ring_->Tail()) + "; the ring is left alone");
        Unmap();
        return advanced;
      }
      switch (e->kind) {
        case TcmuEntry::Kind::Pad: break;
        case TcmuEntry::Kind::TaskManagement:
          log_.Line(name_ + " task management " + std::to_string(e->taskType) + " for " +
                    std::to_string(e->commandIds.size()) + " command(s)");
          break;
        case TcmuEntry::Kind::Unknown: ring_->MarkUnknown(*e); break;
        case TcmuEntry::Kind::Command:
          if (!Command(*e)) return advanced;  // held: nothing after it can be completed
          break;
      }
      ring_->Advance(*e);
      advanced = true;
    }
    if (held_ && !ring_->Empty()) ReleaseHeld();
    return advanced;
  }

  void Notify() {
    const uint32_t one = 1;
    if (::write(fd_, &one, sizeof one) < 0) log_.Line(name_ + ": uio write: " + std::strerror(errno));
  }

  // A held command whose hold has run out is let go; true when it went.
  bool Tick() {
    if (!held_ || std::chrono::steady_clock::now() - heldSince_ < std::chrono::seconds(hangHold_)) return false;
    log_.Line(name_ + " command " + std::to_string(held_->commandId) + " let go after " + std::to_string(hangHold_) +
              " s");
    Finish(*held_);
    held_.reset();
    return true;
  }

 private:
  void Map() {
    // The UIO device the kernel made for this backstore.
    const std::string want = "tcm-user/" + std::to_string(hbaIndex_) + "/" + name_ + "/" + config_;
    fs::path uio;
    WaitFor(
        [&] {
          for (const auto& d : fs::directory_iterator("/sys/class/uio"))
            if (ReadText(d.path() / "name") == want) uio = d.path();
          return !uio.empty();
        },
        5000);
    if (uio.empty()) throw std::runtime_error("no UIO device named " + want);
    const fs::path dev = "/dev" / uio.filename();
    WaitFor([&] { return fs::exists(dev); }, 5000);
    fd_ = ::open(dev.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + dev.string() + ": " + std::strerror(errno));
    size_ = std::stoull(ReadText(uio / "maps" / "map0" / "size"), nullptr, 0);
    void* p = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) throw std::runtime_error("cannot map " + dev.string() + ": " + std::strerror(errno));
    base_ = static_cast<uint8_t*>(p);
    ring_ = std::make_unique<TcmuRing>(base_, size_);
    const std::string why = ring_->Check();
    if (!why.empty()) throw std::runtime_error(dev.string() + ": " + why);
    log_.Line(name_ + " served through " + dev.string() + " (" + std::to_string(responder_.Blocks()) + " blocks)");
  }

  void Unmap() {
    ring_.reset();
    if (base_) ::munmap(base_, size_);
    base_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Answers one command; false when it is held unanswered.
  bool Command(const TcmuEntry& e) {
    const size_t length = ring_->DataLength(e);
    const DataDirection dir = sim::ScsiResponder::ExpectedDirection(e.cdb.data(), e.cdb.size());
    std::vector<uint8_t> data;
    if (length > kMaxData) {
      data.clear();
    } else if (dir == DataDirection::Out) {
      data = ring_->Gather(e);
    } else if (dir == DataDirection::In) {
      data.assign(length, 0);
    }
    sim::ScsiCommand c;
    c.cdb = e.cdb.data();
    c.cdbLength = e.cdb.size();
    c.direction = data.empty() ? DataDirection::None : dir;
    c.data = data.data();
    c.dataLength = static_cast<uint32_t>(data.size());
    const sim::ScsiAnswer a = responder_.Answer(c);
    std::string line = name_ + " " + HexBytes(e.cdb.data(), e.cdb.size()) + " " + DirText(c.direction) + " " +
                       std::to_string(c.dataLength) + " -> ";
    if (a.hang) {
      log_.Line(line + "held (no answer)");
      held_ = e;
      heldSince_ = std::chrono::steady_clock::now();
      return false;
    }
    if (a.status == sim::kStatusGood) {
      line += "GOOD " + std::to_string(a.transferred);
    } else {
      char b[48];
      const uint8_t* s = a.sense.data();
      const bool descriptor = (s[0] & 0x7F) >= 0x72;
      std::snprintf(b, sizeof b, "CHECK %02X/%02X/%02X %u", (descriptor ? s[1] : s[2]) & 0x0F,
                    descriptor ? s[2] : s[12], descriptor ? s[3] : s[13], a.transferred);
      line += b;
    }
    log_.Line(line);
    if (c.direction == DataDirection::In) ring_->Scatter(e, data.data(), a.transferred);
    ring_->Complete(e, a.status, a.sense.data(), a.senseLength, a.transferred);
    return true;
  }

  // Looks past the held command for an abort naming it; when one came, the
  // held command is finished (its answer no longer matters) and the ring
  // moves on. True when nothing is held any more.
  bool ReleaseHeld() {
    uint32_t at = ring_->After(*held_);
    for (int guard = 0; at != ring_->Head() && guard < 100000; ++guard) {
      const auto e = ring_->Entry(at);
      if (!e) break;
      if (e->kind == TcmuEntry::Kind::TaskManagement) {
        for (uint16_t id : e->commandIds) {
          if (id != held_->commandId) continue;
          log_.Line(name_ + " command " + std::to_string(id) + " aborted by the host");
          Finish(*held_);
          held_.reset();
          return true;
        }
      }
      at = ring_->After(*e);
    }
    return false;
  }

  void Finish(const TcmuEntry& e) {
    const uint8_t aborted[18] = {0x70, 0, sim::kKeyAbortedCommand, 0, 0, 0, 0, 10};
    ring_->Complete(e, sim::kStatusCheckCondition, aborted, sizeof aborted, 0);
    ring_->Advance(e);
    Notify();
  }

  sim::ScsiResponder responder_;
  ResponderLog& log_;
  int hangHold_;
  std::string name_, config_;
  fs::path dir_, lunDir_;
  int hbaIndex_ = 0;
  int drive_ = 0;
  int fd_ = -1;
  uint8_t* base_ = nullptr;
  size_t size_ = 0;
  std::unique_ptr<TcmuRing> ring_;
  std::optional<TcmuEntry> held_;
  std::chrono::steady_clock::time_point heldSince_;
};

int Usage(const char* why) {
  std::fprintf(stderr,
               "%s\nusage: raid-tcmu-responder --scenario FILE [--log FILE] [--trace FILE] [--ready FILE] [--hba N] "
               "[--hang-hold SECONDS] [--start-on-signal]\n"
               "  --scenario FILE      the simulated machine (the format of raidmon --simulate)\n"
               "  --log FILE           one line per command, per plug change and per abort\n"
               "  --trace FILE         the simulator's request trace (as raidmon --trace writes it)\n"
               "  --ready FILE         written once every present drive is linked\n"
               "  --hba N              the backstores go to core/user_N (default 0)\n"
               "  --hang-hold SECONDS  longest a hung command is held without an abort (default 30)\n"
               "  --start-on-signal    the scenario's timeline stands at 0 until SIGUSR1 (default: it\n"
               "                       starts at once)\n",
               why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") return Usage("raid-tcmu-responder: the simulated enclosure as SCSI disks");
    if (a == "--start-on-signal") {
      o.startOnSignal = true;
      continue;
    }
    if (i + 1 >= argc) return Usage(("missing value after " + a).c_str());
    const std::string v = argv[++i];
    try {
      if (a == "--scenario") {
        o.scenario = v;
      } else if (a == "--log") {
        o.log = v;
      } else if (a == "--trace") {
        o.trace = v;
      } else if (a == "--ready") {
        o.ready = v;
      } else if (a == "--hba") {
        o.hba = std::stoi(v);
      } else if (a == "--hang-hold") {
        o.hangHoldSeconds = std::stoi(v);
      } else {
        return Usage(("unknown option " + a).c_str());
      }
    } catch (const std::exception&) {
      return Usage(("not a number: " + v).c_str());
    }
  }
  if (o.scenario.empty()) return Usage("--scenario is needed");
  if (o.hba < 0 || o.hangHoldSeconds < 0) return Usage("negative number");

  ResponderLog log;
  // Declared before the drives: their responders use it to the end.
  TimelineClock clock;
  std::unique_ptr<sim::SimDeviceIo> io;
  std::ofstream trace;
  std::vector<std::unique_ptr<Backstore>> drives;
  const fs::path hba = kCore / ("user_" + std::to_string(o.hba));
  std::unique_ptr<PlugWorker> worker;
  int rc = 0;
  try {
    log.Open(o.log);
    Expected<sim::ScenarioSpec> loaded = sim::LoadScenarioFile(o.scenario);
    if (!loaded) throw std::runtime_error(loaded.error());
    const sim::ScenarioSpec scenario = std::move(*loaded);
    if (!fs::exists(kCore)) throw std::runtime_error(kCore.string() + " is missing (configfs and target_core_mod)");
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGUSR1, StartTimeline);
    if (!o.startOnSignal) g_timelineStart = MonotonicNowMs();
    // The timeline runs on the real clock from now: the program on a real
    // device runs on the real clock too.
    io = std::make_unique<sim::SimDeviceIo>(clock, scenario);
    if (!o.trace.empty()) {
      trace.open(o.trace);
      if (!trace) throw std::runtime_error("cannot write " + o.trace);
      trace << std::unitbuf;
      io->SetTrace(&trace);
    }
    if (!fs::exists(kLoopback)) fs::create_directories(kLoopback);
    for (int d = 0; d < 10; ++d) {
      if (scenario.disks[d].kind == sim::DiskKind::Empty) continue;
      drives.push_back(std::make_unique<Backstore>(*io, d, sim::ScsiResponder::BlocksFor(scenario, d), o, log));
      drives.back()->Create();
    }
    worker = std::make_unique<PlugWorker>(log);
    bool readyWritten = o.ready.empty();
    bool startLogged = false;
    while (!g_stop) {
      if (!startLogged && g_timelineStart >= 0) {
        log.Line("timeline started");
        startLogged = true;
      }
      for (auto& b : drives) {
        if (const auto change = b->Responder().PlugChange()) {
          log.Line(b->Name() + (*change ? " plug" : " unplug"));
          Backstore* p = b.get();
          const bool plugged = *change;
          worker->Post([p, plugged] { p->SetPlugged(plugged); });
        }
      }
      if (!readyWritten && worker->Idle()) {
        WriteText(o.ready, "ready\n");
        readyWritten = true;
      }
      std::vector<pollfd> fds;
      for (auto& b : drives) fds.push_back({b->Fd(), POLLIN, 0});
      ::poll(fds.data(), fds.size(), 50);
      for (auto& b : drives) {
        if (b->Fd() < 0) continue;
        bool tell = b->Serve();
        tell = b->Tick() || tell;
        if (tell) b->Notify();
      }
    }
    log.Line("stopping");
    for (auto& b : drives) {
      Backstore* p = b.get();
      worker->Post([p] { p->SetPlugged(false); });
    }
    // Unlinking waits for the LUN's commands: keep answering meanwhile.
    while (!worker->Idle()) {
      for (auto& b : drives) {
        if (b->Fd() < 0) continue;
        if (b->Serve() || b->Tick()) b->Notify();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "raid-tcmu-responder: %s\n", e.what());
    log.Line(std::string("error: ") + e.what());
    rc = 1;
  }
  worker.reset();
  for (auto& b : drives) b->Remove();
  std::error_code ec;
  fs::remove(hba, ec);
  log.Line("stopped");
  return rc;
}
