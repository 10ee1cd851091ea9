// raid-usb-responder: a USB mass-storage device, made with the kernel's
// configfs gadget and FunctionFS (on dummy_hcd in the test guest), whose
// every SCSI command is answered by the simulated enclosure. The host side's
// usb-storage and sd make a /dev/sdX of it, as they do for a USB-to-SATA
// bridge. The scenario's plug and unplug events bind and unbind the gadget.
//
//   raid-usb-responder [--scenario FILE] [--drive N] [--gadget NAME] [--udc NAME]
//                      [--log FILE] [--trace FILE] [--ready FILE] [--start-on-signal]
//
// Runs until SIGTERM or SIGINT, then unbinds and removes the gadget.
#include <fcntl.h>
#include <linux/usb/functionfs.h>
#include <pthread.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "realkernel/bulk_only.h"
#include "realkernel/responder_support.h"
#include "platform/clock.h"
#include "sim/scenario.h"
#include "sim/scsi_responder.h"
#include "sim/sim_device_io.h"

namespace fs = std::filesystem;
using namespace raid::realkernel;

namespace {

// Nothing in a CBW may make the program allocate more than this.
constexpr uint32_t kMaxTransfer = 16u << 20;
// The full-speed bulk packet size; a data-in phase that ends on a multiple
// of it needs a zero-length packet to end before the host's length.
constexpr uint32_t kFullSpeedPacket = 64;

std::atomic<bool> g_stop{false};

void OnStopSignal(int) { g_stop = true; }
// Sent to one endpoint thread only to interrupt its blocking read or write
// (no SA_RESTART); the process-wide signals are blocked in those threads.
constexpr int kWakeSignal = SIGUSR2;
void OnWake(int) {}

struct Options {
  std::string scenario;
  int drive = 0;
  std::string gadget = "raidsim";
  std::string udc;
  std::string log;
  std::string trace;
  std::string ready;
  bool startOnSignal = false;
};

// Writes all of `size` bytes; false on an error (errno set).
bool WriteAll(int fd, const uint8_t* p, size_t size) {
  do {
    ssize_t n = write(fd, p, size);
    if (n < 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  } while (size > 0);
  return true;
}

void PutLe16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void PutLe32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PatchLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// FunctionFS descriptors (v2 layout): one mass-storage interface (SCSI
// transparent command set, Bulk-Only) with a bulk-in endpoint (ep1) and a
// bulk-out endpoint (ep2), for full and high speed.
std::vector<uint8_t> Descriptors() {
  std::vector<uint8_t> b;
  PutLe32(b, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
  PutLe32(b, 0);  // length, patched below
  PutLe32(b, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
  PutLe32(b, 3);  // full-speed descriptors
  PutLe32(b, 3);  // high-speed descriptors
  for (uint16_t packet : {uint16_t{64}, uint16_t{512}}) {
    // Interface: length, type, number, alternate, endpoints, class 0x08,
    // subclass 0x06 (SCSI), protocol 0x50 (Bulk-Only), string 1.
    for (uint8_t v : {9, 4, 0, 0, 2, 0x08, 0x06, 0x50, 1}) b.push_back(v);
    for (uint8_t address : {uint8_t{0x81}, uint8_t{0x02}}) {
      b.insert(b.end(), {7, 5, address, 0x02});  // endpoint, bulk
      PutLe16(b, packet);
      b.push_back(0);  // interval
    }
  }
  PatchLe32(b, 4, static_cast<uint32_t>(b.size()));
  return b;
}

std::vector<uint8_t> Strings() {
  const char interfaceName[] = "Bulk-Only mass storage";
  std::vector<uint8_t> b;
  PutLe32(b, FUNCTIONFS_STRINGS_MAGIC);
  PutLe32(b, 0);
  PutLe32(b, 1);  // strings
  PutLe32(b, 1);  // languages
  PutLe16(b, 0x0409);
  b.insert(b.end(), interfaceName, interfaceName + sizeof interfaceName);
  PatchLe32(b, 4, static_cast<uint32_t>(b.size()));
  return b;
}

std::string FirstUdc() {
  std::vector<std::string> names;
  if (DIR* d = opendir("/sys/class/udc")) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names.empty() ? std::string() : names.front();
}

// The simulated drive as the gadget's logical unit. The endpoint thread
// answers commands while the main thread follows the plug state.
class Drive {
 public:
  Drive(const std::string& scenarioPath, int drive)
      : scenario_(scenarioPath.empty() ? raid::sim::DefaultScenario() : Load(scenarioPath)),
        io_(clock_, scenario_),
        responder_(io_, drive, raid::sim::ScsiResponder::BlocksFor(scenario_, drive)) {}

  // A scenario that does not load ends the program with its error text.
  static raid::sim::ScenarioSpec Load(const std::string& path) {
    raid::Expected<raid::sim::ScenarioSpec> sc = raid::sim::LoadScenarioFile(path);
    if (!sc) throw std::runtime_error(sc.error());
    return std::move(*sc);
  }

  ScsiReply Answer(const uint8_t* cdb, size_t cdbLength, raid::DataDirection dir, uint8_t* data, uint32_t length) {
    raid::sim::ScsiCommand c;
    c.cdb = cdb;
    c.cdbLength = cdbLength;
    c.direction = dir;
    c.data = data;
    c.dataLength = length;
    std::lock_guard lock(mu_);
    const raid::sim::ScsiAnswer a = responder_.Answer(c);
    ScsiReply r;
    r.status = a.status;
    r.sense.assign(a.sense.begin(), a.sense.begin() + std::min<size_t>(a.senseLength, a.sense.size()));
    r.moved = a.transferred;
    r.hang = a.hang;
    return r;
  }

  // The simulator's request trace (as raidmon --trace writes it).
  void SetTrace(std::ostream* out) {
    std::lock_guard lock(mu_);
    io_.SetTrace(out);
  }

  // The new plug state when it changed (at once the first time).
  std::optional<bool> PlugChange() {
    std::lock_guard lock(mu_);
    return responder_.PlugChange();
  }

 private:
  TimelineClock clock_;
  raid::sim::ScenarioSpec scenario_;
  raid::sim::SimDeviceIo io_;
  raid::sim::ScsiResponder responder_;
  std::mutex mu_;
};

class Gadget {
 public:
  Gadget(const Options& o, Drive& drive, ResponderLog& log)
      : opt_(o),
        log_(log),
        target_([&drive](const uint8_t* cdb, size_t len, raid::DataDirection dir, uint8_t* data, uint32_t length) {
          return drive.Answer(cdb, len, dir, data, length);
        }) {}

  ~Gadget() { TearDown(); }

  void SetUp() {
    dir_ = fs::path("/sys/kernel/config/usb_gadget") / opt_.gadget;
    fs::create_directory(dir_);
    made_ = true;
    // A test identity: no vendor's number.
    WriteText(dir_ / "idVendor", "0x0000");
    WriteText(dir_ / "idProduct", "0x7273");
    WriteText(dir_ / "bcdUSB", "0x0200");
    fs::create_directories(dir_ / "strings/0x409");
    WriteText(dir_ / "strings/0x409/manufacturer", "Test fixture");
    WriteText(dir_ / "strings/0x409/product", "Simulated enclosure");
    WriteText(dir_ / "strings/0x409/serialnumber", "SIM" + std::to_string(opt_.drive) + "000000000001");
    fs::create_directories(dir_ / "configs/c.1/strings/0x409");
    WriteText(dir_ / "configs/c.1/strings/0x409/configuration", "Bulk-Only");
    WriteText(dir_ / "configs/c.1/MaxPower", "100");
    fs::create_directory(dir_ / ("functions/ffs." + opt_.gadget));
    fs::create_directory_symlink(dir_ / ("functions/ffs." + opt_.gadget), dir_ / ("configs/c.1/ffs." + opt_.gadget));

    mount_ = fs::path("/run/raid-usb") / opt_.gadget;
    fs::create_directories(mount_);
    if (mount(opt_.gadget.c_str(), mount_.c_str(), "functionfs", 0, nullptr) != 0)
      throw std::runtime_error("cannot mount functionfs: " + std::string(std::strerror(errno)));
    mounted_ = true;
    ep0_ = open((mount_ / "ep0").c_str(), O_RDWR);
    if (ep0_ < 0) throw std::runtime_error("cannot open ep0");
    const auto d = Descriptors();
    const auto s = Strings();
    if (!WriteAll(ep0_, d.data(), d.size()) || !WriteAll(ep0_, s.data(), s.size()))
      throw std::runtime_error("FunctionFS refused the descriptors: " + std::string(std::strerror(errno)));
    epIn_ = open((mount_ / "ep1").c_str(), O_RDWR);
    epOut_ = open((mount_ / "ep2").c_str(), O_RDWR);
    if (epIn_ < 0 || epOut_ < 0) throw std::runtime_error("cannot open the bulk endpoints");
    udc_ = opt_.udc.empty() ? FirstUdc() : opt_.udc;
    if (udc_.empty()) throw std::runtime_error("no USB device controller (is dummy_hcd loaded?)");
    // The endpoint threads start with SIGTERM, SIGINT and SIGUSR1 blocked:
    // those go to the main thread, never into a transfer.
    sigset_t block, old;
    sigemptyset(&block);
    for (int sig : {SIGTERM, SIGINT, SIGUSR1}) sigaddset(&block, sig);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    control_ = std::thread([this] { ControlLoop(); });
    bulk_ = std::thread([this] { BulkLoop(); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }

  // Binds or unbinds the gadget to follow the simulated drive. Called
  // again and again: a bind or unbind that failed is tried at the next call
  // (its failure logged once).
  void Follow(bool plugged) {
    if (plugged == bound_) return;
    try {
      WriteText(dir_ / "UDC", plugged ? udc_ + "\n" : "\n");
      bound_ = plugged;
      failureLogged_ = false;
      log_.Line(plugged ? "plug: bound to " + udc_ : "unplug: unbound");
    } catch (const std::exception& e) {
      if (!failureLogged_) log_.Line(std::string(plugged ? "plug" : "unplug") + " failed: " + e.what());
      failureLogged_ = true;
    }
  }

  void TearDown() {
    if (!made_) return;
    if (bound_) Follow(false);
    g_stop = true;
    for (std::thread* t : {&control_, &bulk_}) {
      if (!t->joinable()) continue;
      // Blocking endpoint I/O ends with EINTR; the loops then see the stop.
      const int bit = t == &control_ ? 1 : 2;
      while (!(finished_ & bit)) {
        pthread_kill(t->native_handle(), kWakeSignal);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      t->join();
    }
    for (int* fd : {&epIn_, &epOut_, &ep0_}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
    if (mounted_) umount(mount_.c_str());
    std::error_code ec;
    fs::remove(mount_, ec);
    fs::remove(dir_ / ("configs/c.1/ffs." + opt_.gadget), ec);
    fs::remove(dir_ / "configs/c.1/strings/0x409", ec);
    fs::remove(dir_ / "configs/c.1", ec);
    fs::remove(dir_ / ("functions/ffs." + opt_.gadget), ec);
    fs::remove(dir_ / "strings/0x409", ec);
    fs::remove(dir_, ec);
    made_ = false;
  }

 private:
  // A reset or a disconnect ends whatever command the bulk side holds.
  void Interrupt(const char* why) {
    {
      std::lock_guard lock(mu_);
      ++generation_;
    }
    cv_.notify_all();
    if (bulk_.joinable()) pthread_kill(bulk_.native_handle(), kWakeSignal);
    log_.Line(why);
  }

  void ControlLoop() {
    usb_functionfs_event events[8];
    while (!g_stop) {
      ssize_t n = read(ep0_, events, sizeof events);
      if (n < 0) {
        if (errno == EINTR) continue;
        log_.Line(std::string("ep0 read failed: ") + std::strerror(errno));
        break;
      }
      for (size_t i = 0; i < static_cast<size_t>(n) / sizeof events[0]; ++i) HandleEvent(events[i]);
    }
    finished_ |= 1;
  }

  void HandleEvent(const usb_functionfs_event& e) {
    switch (e.type) {
      case FUNCTIONFS_ENABLE: log_.Line("usb: enabled"); break;
      case FUNCTIONFS_DISABLE: Interrupt("usb: disabled"); break;
      case FUNCTIONFS_UNBIND: Interrupt("usb: unbound"); break;
      case FUNCTIONFS_SETUP: HandleSetup(e); break;
      default: break;
    }
  }

  void HandleSetup(const usb_functionfs_event& e) {
    // The setup packet as the host sent it: wValue, wIndex, wLength little-endian.
    uint8_t raw[8];
    std::memcpy(raw, &e.u.setup, sizeof raw);
    const uint8_t requestType = raw[0];
    const uint8_t request = raw[1];
    const uint16_t length = static_cast<uint16_t>(raw[6] | raw[7] << 8);
    const bool toHost = (requestType & 0x80) != 0;
    const bool classInterface = (requestType & 0x7F) == 0x21;
    if (classInterface && request == 0xFE && toHost && length >= 1) {
      // Get Max LUN: one LUN.
      const uint8_t maxLun = 0;
      if (write(ep0_, &maxLun, 1) < 0) log_.Line("ep0: Get Max LUN answer failed");
      return;
    }
    if (classInterface && request == 0xFF && !toHost && length == 0) {
      Interrupt("usb: Bulk-Only Mass Storage Reset");
      if (read(ep0_, nullptr, 0) < 0) log_.Line("ep0: reset status failed");
      return;
    }
    // Anything else is stalled: I/O on ep0 against the request's direction.
    char hex[64];
    std::snprintf(hex, sizeof hex, "ep0: stalled request %02x %02x", requestType, request);
    log_.Line(hex);
    uint8_t dummy = 0;
    if (toHost) {
      (void)!read(ep0_, &dummy, 0);
    } else {
      (void)!write(ep0_, &dummy, 0);
    }
  }

  // Reads exactly `size` bytes of a data-out phase; false when the phase
  // ended early (short packet, reset or disconnect).
  bool ReadData(uint8_t* p, size_t size) {
    size_t got = 0;
    while (got < size) {
      ssize_t n = read(epOut_, p + got, size - got);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
      if (static_cast<size_t>(n) % kFullSpeedPacket != 0) break;
    }
    return got == size;
  }

  void BulkLoop() {
    std::vector<uint8_t> buffer;
    uint8_t wrapper[512];
    while (!g_stop) {
      ssize_t n = read(epOut_, wrapper, sizeof wrapper);
      if (n < 0) {
        if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      uint64_t generation;
      {
        std::lock_guard lock(mu_);
        generation = generation_;
      }
      auto cbw = ParseCbw(wrapper, static_cast<size_t>(n));
      if (!cbw) {
        // Not a CBW: the host will time out and reset the device.
        log_.Line("bulk: not a CBW (" + std::to_string(n) + " bytes)");
        continue;
      }
      if (cbw->dataLength > kMaxTransfer) {
        log_.Line("bulk: data length " + std::to_string(cbw->dataLength) + " refused");
        const auto csw = MakeCsw(cbw->tag, cbw->dataLength, kCswPhaseError);
        WriteAll(epIn_, csw.data(), csw.size());
        continue;
      }
      buffer.assign(cbw->dataLength, 0);
      if (cbw->direction == raid::DataDirection::Out && !ReadData(buffer.data(), buffer.size())) {
        log_.Line("bulk: data-out phase ended early");
        continue;
      }
      BotOutcome o = target_.Run(*cbw, buffer);
      log_.Line(DescribeCommand(*cbw, o));
      if (o.hang) {
        // Held until the host resets the device or it goes away.
        std::unique_lock lock(mu_);
        cv_.wait(lock, [&] { return generation_ != generation || g_stop; });
        target_.Reset();
        continue;
      }
      if (cbw->direction == raid::DataDirection::In) {
        bool ok = o.dataInBytes == 0 || WriteAll(epIn_, buffer.data(), o.dataInBytes);
        if (ok && o.dataInBytes < cbw->dataLength && o.dataInBytes % kFullSpeedPacket == 0)
          ok = write(epIn_, "", 0) >= 0;
        if (!ok) {
          log_.Line("bulk: data-in phase ended early");
          continue;
        }
      }
      if (!WriteAll(epIn_, o.csw.data(), o.csw.size())) log_.Line("bulk: CSW not taken");
    }
    finished_ |= 2;
  }

  Options opt_;
  ResponderLog& log_;
  BulkOnlyTarget target_;
  fs::path dir_;
  fs::path mount_;
  std::string udc_;
  bool made_ = false;
  bool mounted_ = false;
  bool bound_ = false;
  bool failureLogged_ = false;
  int ep0_ = -1;
  int epIn_ = -1;
  int epOut_ = -1;
  std::thread control_;
  std::thread bulk_;
  std::atomic<int> finished_{0};
  std::mutex mu_;
  std::condition_variable cv_;
  uint64_t generation_ = 0;
};

int Usage(const char* why) {
  std::fprintf(stderr,
               "raid-usb-responder: %s\n"
               "usage: raid-usb-responder [--scenario FILE] [--drive N] [--gadget NAME] [--udc NAME] [--log FILE] "
               "[--trace FILE] [--ready FILE] [--start-on-signal]\n",
               why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--start-on-signal") {
      o.startOnSignal = true;
      continue;
    }
    if (a == "--help") {
      std::printf(
          "raid-usb-responder: a USB mass-storage gadget (configfs + FunctionFS) answered by the simulated "
          "enclosure\n"
          "  --scenario FILE  the simulated machine (default: the built-in one)\n"
          "  --drive N        its physical drive the gadget shows (default 0)\n"
          "  --gadget NAME    configfs gadget and FunctionFS instance name (default raidsim)\n"
          "  --udc NAME       USB device controller (default the first in /sys/class/udc)\n"
          "  --log FILE       one line per command and per USB event\n"
          "  --trace FILE     the simulator's request trace (as raidmon --trace writes it)\n"
          "  --ready FILE     created once the gadget is set up and follows the scenario\n"
          "  --start-on-signal  the scenario's timeline stands at 0 until SIGUSR1 (default: it\n"
          "                   starts with the program)\n");
      return 0;
    }
    if (i + 1 >= argc) return Usage(("missing value of " + a).c_str());
    const std::string v = argv[++i];
    if (a == "--scenario") {
      o.scenario = v;
    } else if (a == "--drive") {
      if (v.size() != 1 || v[0] < '0' || v[0] > '9') return Usage("--drive takes 0-9");
      o.drive = v[0] - '0';
    } else if (a == "--gadget") {
      if (v.empty() || v.find('/') != std::string::npos) return Usage("bad --gadget name");
      o.gadget = v;
    } else if (a == "--udc") {
      o.udc = v;
    } else if (a == "--log") {
      o.log = v;
    } else if (a == "--trace") {
      o.trace = v;
    } else if (a == "--ready") {
      o.ready = v;
    } else {
      return Usage(("unknown option " + a).c_str());
    }
  }

  struct sigaction wake {};
  wake.sa_handler = OnWake;
  sigaction(kWakeSignal, &wake, nullptr);
  struct sigaction start {};
  start.sa_handler = StartTimeline;
  sigaction(SIGUSR1, &start, nullptr);
  if (!o.startOnSignal) g_timelineStart = MonotonicNowMs();
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);

  try {
    ResponderLog log;
    log.Open(o.log);
    Drive drive(o.scenario, o.drive);
    std::ofstream trace;
    if (!o.trace.empty()) {
      trace.open(o.trace);
      if (!trace) throw std::runtime_error("cannot write " + o.trace);
      drive.SetTrace(&trace);
    }
    Gadget g(o, drive, log);
    g.SetUp();
    bool plugged = false;
    if (auto change = drive.PlugChange()) plugged = *change;
    g.Follow(plugged);
    if (!o.ready.empty()) WriteText(o.ready, "ready\n");
    bool startLogged = false;
    while (!g_stop) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (!startLogged && g_timelineStart >= 0) {
        log.Line("timeline started");
        startLogged = true;
      }
      if (auto change = drive.PlugChange()) plugged = *change;
      g.Follow(plugged);
    }
    g.TearDown();
    log.Line("stopped");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "raid-usb-responder: %s\n", e.what());
    return 1;
  }
  return 0;
}
