#include "sim/sim_device_io.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "device/requests.h"

namespace raid::sim {

namespace {
const char* DirText(DataDirection d) {
  switch (d) {
    case DataDirection::In: return "IN";
    case DataDirection::Out: return "OUT";
    default: return "NONE";
  }
}

std::string ScsiKind(uint8_t op) {
  switch (op) {
    case 0x28: return "read10";
    case 0x2A: return "write10";
    case 0x12: return "inquiry";
    case 0xFE: return "vendor";
    default: return "scsi";
  }
}
}  // namespace

SimDeviceIo::SimDeviceIo(Clock& clock, const ScenarioSpec& sc)
    : clock_(clock), startMs_(clock.MonotonicMs()), rng_(sc.seed) {
  for (const auto& e : sc.enclosures) {
    auto enc = std::make_unique<Enclosure>(e.name, e.transport);
    enc->Ident() = e.ident;
    enc->Status() = e.status;
    enc->answersIdentOpcode = e.answersIdentOpcode;
    enc->inquiryAdditionalLength = e.inquiryAdditionalLength;
    enc->LogStatus();
    enclosures_[e.name].enclosure = std::move(enc);
  }
  for (int i = 0; i < 10; ++i) disks_[i] = sc.disks[i];
  volumes_ = sc.volumes;
  events_ = sc.events;
  timing_ = sc.timing;
  for (const auto& f : sc.faults) faults_.push_back({f, 0});
}

double SimDeviceIo::Elapsed() const { return static_cast<double>(clock_.MonotonicMs() - startMs_) / 1000.0; }

int64_t SimDeviceIo::NextEventMs() const {
  std::lock_guard lock(mu_);
  if (nextEvent_ >= events_.size()) return std::numeric_limits<int64_t>::max();
  return startMs_ + static_cast<int64_t>(std::ceil(events_[nextEvent_].at * 1000.0));
}

void SimDeviceIo::SetTrace(std::ostream* out) {
  std::lock_guard lock(mu_);
  trace_ = out;
}

Enclosure* SimDeviceIo::FindEnclosure(const std::string& name) {
  auto it = enclosures_.find(name);
  return it == enclosures_.end() ? nullptr : it->second.enclosure.get();
}

void SimDeviceIo::SetPlugged(const std::string& name, bool plugged) {
  std::function<void()> cb;
  {
    std::lock_guard lock(mu_);
    auto it = enclosures_.find(name);
    if (it == enclosures_.end() || it->second.plugged == plugged) return;
    it->second.plugged = plugged;
    cb = onChange_;
  }
  if (cb) cb();
}

void SimDeviceIo::AddFault(const FaultSpec& f) {
  std::lock_guard lock(mu_);
  faults_.push_back({f, 0});
}

void SimDeviceIo::SetDisk(int drive, const DiskSpec& d) {
  std::lock_guard lock(mu_);
  if (drive >= 0 && drive < 10) disks_[drive] = d;
}

size_t SimDeviceIo::OpenHandles() const {
  std::lock_guard lock(mu_);
  return handles_.size();
}

bool SimDeviceIo::DrivePresent(int drive) {
  Pump();
  std::lock_guard lock(mu_);
  return DriveAvailable(drive);
}

bool SimDeviceIo::LastRequestHung() const {
  std::lock_guard lock(mu_);
  return lastHung_;
}

bool SimDeviceIo::Start(std::function<void()> onChange) {
  std::lock_guard lock(mu_);
  onChange_ = std::move(onChange);
  return true;
}

void SimDeviceIo::Stop() {
  std::lock_guard lock(mu_);
  onChange_ = nullptr;
}

void SimDeviceIo::Pump() {
  std::vector<std::function<void()>> notify;
  {
    std::lock_guard lock(mu_);
    PumpLocked(notify);
  }
  for (auto& n : notify) n();
}

void SimDeviceIo::PumpLocked(std::vector<std::function<void()>>& notify) {
  const double now = Elapsed();
  std::vector<Enclosure*> touched;
  while (nextEvent_ < events_.size() && events_[nextEvent_].at <= now) {
    const TimelineEvent& e = events_[nextEvent_++];
    switch (e.kind) {
      case TimelineEvent::Kind::Patch: {
        Enclosure* enc = FindEnclosure(e.enclosure);
        if (!enc) break;
        for (size_t i = 0; i < e.bytes.size() && i < 512 && e.offset < 512 - i; ++i) {
          uint8_t& b = enc->Status()[e.offset + i];
          b = static_cast<uint8_t>((b & ~e.mask) | (e.bytes[i] & e.mask));
        }
        if (std::find(touched.begin(), touched.end(), enc) == touched.end()) touched.push_back(enc);
        break;
      }
      case TimelineEvent::Kind::Plug:
      case TimelineEvent::Kind::Unplug: {
        auto it = enclosures_.find(e.enclosure);
        const bool plug = e.kind == TimelineEvent::Kind::Plug;
        if (it != enclosures_.end() && it->second.plugged != plug) {
          it->second.plugged = plug;
          if (onChange_) notify.push_back(onChange_);
        }
        break;
      }
      case TimelineEvent::Kind::Fault: faults_.push_back({e.fault, 0}); break;
    }
  }
  for (Enclosure* enc : touched) enc->LogStatus();
}

Enclosure* SimDeviceIo::EnclosureOf(int drive) {
  if (drive < 0 || drive > 9 || disks_[drive].kind != DiskKind::Enclosure) return nullptr;
  return FindEnclosure(disks_[drive].enclosure);
}

bool SimDeviceIo::DriveAvailable(int drive) {
  if (drive < 0 || drive > 9) return false;
  switch (disks_[drive].kind) {
    case DiskKind::Empty: return false;
    case DiskKind::Plain: return true;
    case DiskKind::Enclosure: {
      auto it = enclosures_.find(disks_[drive].enclosure);
      return it != enclosures_.end() && it->second.plugged;
    }
  }
  return false;
}

const VolumeSpec* SimDeviceIo::Volume(char letter) const {
  for (const auto& v : volumes_)
    if (v.letter == letter) return &v;
  return nullptr;
}

SimDeviceIo::Fault* SimDeviceIo::MatchFault(const std::string& kind, int drive) {
  const double now = Elapsed();
  for (auto& f : faults_) {
    const auto& s = f.rule;
    const bool kindMatch =
        s.kind == kind || s.kind == "any" ||
        (s.kind == "scsi" && (kind == "read10" || kind == "write10" || kind == "inquiry" || kind == "vendor"));
    if (!kindMatch || (s.drive >= 0 && s.drive != drive) || now < s.from || now >= s.until) continue;
    if (f.seen++ < s.after) continue;
    if (s.count >= 0 && f.used >= s.count) continue;
    ++f.used;
    return &f;
  }
  return nullptr;
}

std::string SimDeviceIo::Who(const OpenTarget& t) const {
  if (t.letter) return std::string(1, t.letter) + ":";
  return "PD" + std::to_string(t.drive);
}

void SimDeviceIo::Trace(const std::string& who, const std::string& what, DataDirection dir, uint32_t length, bool ok) {
  if (!trace_) return;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%.3f", Elapsed());
  *trace_ << stamp << ' ' << who << ' ' << what << ' ' << DirText(dir) << ' ' << length << ' ' << (ok ? "ok" : "fail")
          << '\n';
}

Expected<DeviceHandleValue> SimDeviceIo::Open(DeviceId id) {
  std::vector<std::function<void()>> notify;
  DeviceHandleValue h = kInvalidHandle;
  {
    std::lock_guard lock(mu_);
    PumpLocked(notify);
    OpenTarget t;
    if (id >= kFirstLetterId) {
      const VolumeSpec* v = Volume(static_cast<char>(id));
      if (v && DriveAvailable(v->drive)) {
        t.drive = v->drive;
        t.letter = v->letter;
      }
    } else if (id <= 9 && DriveAvailable(id)) {
      t.drive = id;
    }
    if (t.drive >= 0 && MatchFault("open", t.drive)) t.drive = -1;
    if (t.drive >= 0) {
      h = nextHandle_++;
      handles_[h] = t;
    }
  }
  for (auto& n : notify) n();
  if (h == kInvalidHandle) return Expected<DeviceHandleValue>::Fail("no such device");
  return h;
}

void SimDeviceIo::Close(DeviceHandleValue h) {
  std::lock_guard lock(mu_);
  handles_.erase(h);
}

bool SimDeviceIo::FinishScsi(const OpenTarget& t, ScsiRequest& req, Fault* fault, bool ok, int64_t cost) {
  if (ok) {
    req.transferred = req.transferLength;
    if (fault && req.data && req.direction == DataDirection::In && req.transferLength > 0) {
      const std::string& m = fault->rule.mode;
      if (m == "short") {
        req.transferred = req.transferLength / 2;
      } else if (m == "corrupt") {
        for (int i = 0; i < 8; ++i) req.data[rng_() % req.transferLength] ^= static_cast<uint8_t>(rng_() | 1);
      } else if (m == "flip") {
        req.data[rng_() % req.transferLength] ^= static_cast<uint8_t>(1u << (rng_() % 8));
      }
    }
  }
  clock_.Charge(cost);
  if (trace_) {
    Trace(Who(t), "CDB " + HexBytes(req.cdb.data(), req.cdbLength), req.direction, req.transferLength, ok);
    if (req.cdb[0] == 0x2A && req.data && req.transferLength == 512 && req.data[0] == cmd::kSignature0 &&
        req.data[1] == cmd::kSignature1) {
      Sector s;
      std::memcpy(s.data(), req.data, 512);
      char stamp[32];
      std::snprintf(stamp, sizeof stamp, "%.3f", Elapsed());
      *trace_ << stamp << ' ' << Who(t) << " CMD " << HexBytes(req.data, 19) << ' '
              << (CommandBlock::ChecksumOk(s) ? "sum ok" : "sum bad") << '\n';
    }
  }
  return ok;
}

Outcome SimDeviceIo::Scsi(DeviceHandleValue h, ScsiRequest& req) {
  std::vector<std::function<void()>> notify;
  bool ok = false;
  {
    std::lock_guard lock(mu_);
    PumpLocked(notify);
    req.transferred = 0;
    lastHung_ = false;
    auto it = handles_.find(h);
    if (it == handles_.end()) return Outcome::Fail("invalid handle");
    const OpenTarget t = it->second;
    Fault* f = MatchFault(ScsiKind(req.cdb[0]), t.drive);
    lastHung_ = f && f->rule.mode == "hang";
    int64_t cost = timing_.roundTripMs;
    if (f && f->rule.mode == "fail") {
      ok = false;
    } else if (f && f->rule.mode == "hang") {
      cost = static_cast<int64_t>(req.timeoutSeconds) * 1000;  // the request times out
      ok = false;
    } else if (!DriveAvailable(t.drive)) {
      ok = false;  // the device went away after it was opened
    } else if (Enclosure* e = EnclosureOf(t.drive)) {
      if (f && f->rule.mode == "drop-write") ++e->dropWrites;
      ok = e->Scsi(req, timing_, cost);
    } else {
      // An ordinary disk: reads give zeros, writes are taken, INQUIRY
      // answers; nothing else is understood.
      const uint8_t op = req.cdb[0];
      if (op == 0x28 && req.data && req.direction == DataDirection::In) {
        std::memset(req.data, 0, req.transferLength);
        ok = true;
      } else if (op == 0x2A && req.direction == DataDirection::Out) {
        ok = true;
      } else if (op == 0x12 && req.data && req.transferLength >= 36) {
        std::memset(req.data, 0, 36);
        req.data[4] = disks_[t.drive].inquiryAdditionalLength;
        std::memcpy(req.data + 8, "SIMDISK ", 8);
        ok = true;
      }
    }
    ok = FinishScsi(t, req, f, ok, cost);
  }
  for (auto& n : notify) n();
  return ok ? Outcome::Ok() : Outcome::Fail("request failed");
}

Outcome SimDeviceIo::Ata(DeviceHandleValue h, AtaRegisters& regs, uint8_t* data, uint32_t sectors,
                         ReplyStatus& status) {
  status = ReplyStatus{};
  std::vector<std::function<void()>> notify;
  bool ok = false;
  {
    std::lock_guard lock(mu_);
    PumpLocked(notify);
    lastHung_ = false;
    auto it = handles_.find(h);
    if (it == handles_.end()) return Outcome::Fail("invalid handle");
    const OpenTarget t = it->second;
    const auto in = regs.Bytes();
    Fault* f = MatchFault("ata", t.drive);
    lastHung_ = f && f->rule.mode == "hang";
    int64_t cost = timing_.roundTripMs;
    if (f && f->rule.mode == "hang") cost = 2000;
    if (!f || (f->rule.mode != "fail" && f->rule.mode != "hang")) {
      Enclosure* e = DriveAvailable(t.drive) ? EnclosureOf(t.drive) : nullptr;
      ok = e && e->Ata(regs, data, sectors, timing_, cost);
    }
    clock_.Charge(cost);
    Trace(Who(t), "ATA " + HexBytes(in.data(), 7), sectors ? DataDirection::In : DataDirection::None, sectors * 512,
          ok);
  }
  for (auto& n : notify) n();
  return ok ? Outcome::Ok() : Outcome::Fail("ATA command failed");
}

Outcome SimDeviceIo::RescanBus(DeviceHandleValue h) {
  std::lock_guard lock(mu_);
  auto it = handles_.find(h);
  if (it == handles_.end()) return Outcome::Fail("invalid handle");
  const bool ok = !MatchFault("rescan", it->second.drive) && DriveAvailable(it->second.drive);
  Trace(Who(it->second), "RESCAN", DataDirection::None, 0, ok);
  return ok ? Outcome::Ok() : Outcome::Fail("rescan failed");
}

Expected<VolumeExtent> SimDeviceIo::DiskExtents(DeviceHandleValue h) {
  std::lock_guard lock(mu_);
  auto it = handles_.find(h);
  if (it == handles_.end()) return Expected<VolumeExtent>::Fail("invalid handle");
  const VolumeSpec* v = it->second.letter ? Volume(it->second.letter) : nullptr;
  const bool ok = v && !MatchFault("extents", it->second.drive);
  Trace(Who(it->second), "EXTENTS", DataDirection::In, 32, ok);
  if (!ok) return Expected<VolumeExtent>::Fail("no disk extents");
  return VolumeExtent{static_cast<uint8_t>(v->drive), v->offset, v->length};
}

uint32_t SimDeviceIo::LogicalDriveMask() {
  std::lock_guard lock(mu_);
  uint32_t mask = extraMask_;
  for (const auto& v : volumes_)
    if (DriveAvailable(v.drive)) mask |= 1u << (v.letter - 'A');
  return mask;
}

unsigned SimDeviceIo::DriveTypeOf(char letter) {
  std::lock_guard lock(mu_);
  const VolumeSpec* v = Volume(letter);
  return v ? v->type : kDriveNoRootDir;
}

std::string SimDeviceIo::VolumeName(char letter) {
  std::lock_guard lock(mu_);
  const VolumeSpec* v = Volume(letter);
  return v && !v->name.empty() ? v->name : std::string(1, letter);
}

}  // namespace raid::sim
