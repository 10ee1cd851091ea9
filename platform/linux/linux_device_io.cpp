#include "platform/linux/linux_device_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>

#include "platform/pass_through.h"

namespace raid {

namespace {
bool Skipped(const std::string& n) {
  for (const char* p : {"loop", "ram", "zram", "dm-", "md", "sr", "fd", "nbd"})
    if (n.rfind(p, 0) == 0) return true;
  return false;
}

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string s;
  std::getline(in, s);
  return s;
}

// The whole disk a block device belongs to ("sdb1" -> "sdb").
std::string ParentDisk(const std::string& dev) {
  char buf[512];
  const std::string link = "/sys/class/block/" + dev;
  const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return dev;
  buf[n] = 0;
  std::string path(buf);
  if (std::ifstream("/sys/class/block/" + dev + "/partition")) {
    path = path.substr(0, path.rfind('/'));
    return path.substr(path.rfind('/') + 1);
  }
  return dev;
}

std::string Unescape(const std::string& s) {
  // /proc/self/mounts escapes blanks and the like as \ooo.
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto octal = [&](size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '7'; };
    if (s[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}
}  // namespace

bool LinuxDeviceIo::NaturalLess(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

std::vector<std::string> LinuxDeviceIo::ListDisks(const std::string& sysBlock) {
  std::vector<std::string> sd, other;
  if (DIR* d = ::opendir(sysBlock.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n == "." || n == ".." || Skipped(n)) continue;
      (n.rfind("sd", 0) == 0 ? sd : other).push_back(n);
    }
    ::closedir(d);
  }
  std::sort(sd.begin(), sd.end(), NaturalLess);
  std::sort(other.begin(), other.end(), NaturalLess);
  sd.insert(sd.end(), other.begin(), other.end());
  if (sd.size() > 10) sd.resize(10);
  return sd;
}

LinuxDeviceIo::LinuxDeviceIo() { Refresh(); }

void LinuxDeviceIo::Refresh() {
  disks_ = ListDisks();
  volumes_.clear();
  std::ifstream in("/proc/self/mounts");
  std::string line;
  char letter = 'C';
  while (std::getline(in, line) && letter <= 'Z') {
    std::istringstream ls(line);
    std::string src, mnt;
    ls >> src >> mnt;
    if (src.rfind("/dev/", 0) != 0) continue;
    std::string dev = src.substr(5);
    // The resolved name in a buffer of its own size (a fixed one would
    // overflow on a path longer than it).
    if (char* real = ::realpath(src.c_str(), nullptr)) {
      const std::string resolved(real);
      std::free(real);
      dev = resolved.substr(resolved.rfind('/') + 1);
    }
    if (std::any_of(volumes_.begin(), volumes_.end(), [&](const Volume& v) { return v.device == dev; })) continue;
    if (std::find(disks_.begin(), disks_.end(), ParentDisk(dev)) == disks_.end()) continue;
    volumes_.push_back({letter++, dev, Unescape(mnt)});
  }
}

const LinuxDeviceIo::Volume* LinuxDeviceIo::FindVolume(char letter) const {
  for (const auto& v : volumes_)
    if (v.letter == letter) return &v;
  return nullptr;
}

namespace {

// Whether this process holds CAP_SYS_RAWIO in its effective set, as
// /proc/self/status says ("CapEff:" in hexadecimal). Unknown counts as not.
bool HasRawIoCapability() {
  static const bool has = [] {
    constexpr int kCapSysRawio = 17;
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("CapEff:", 0) != 0) continue;
      std::string_view digits(line);
      digits.remove_prefix(7);
      while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t')) digits.remove_prefix(1);
      uint64_t caps = 0;
      const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), caps, 16);
      return ec == std::errc() && ((caps >> kCapSysRawio) & 1u) != 0;
    }
    return false;
  }();
  return has;
}

}  // namespace

Outcome LinuxDeviceIo::Failed(const std::string& what, int err) {
  std::string why = what + ": " + std::strerror(err);
  if (err == EPERM || err == EACCES) {
    // The hint helps only a process that lacks the capability: with it,
    // the refusal has another cause (the device's own permissions, a
    // security module) and the hint would mislead.
    if (!HasRawIoCapability()) {
      // Root whose capability was dropped (a container, a unit's bounding
      // set) would only be confused by "needs root".
      why += ::geteuid() == 0 ? " (raw device access needs the CAP_SYS_RAWIO capability, which this root process lacks)"
                              : " (raw device access needs root or the CAP_SYS_RAWIO capability)";
    }
    accessProblem_ = why;
  }
  return Outcome::Fail(why);
}

std::string LinuxDeviceIo::AccessProblem() const {
  std::lock_guard lock(mu_);
  return accessProblem_;
}

Expected<DeviceHandleValue> LinuxDeviceIo::Open(DeviceId id) {
  std::lock_guard lock(mu_);
  std::string dev;
  if (id >= kFirstLetterId) {
    if (const Volume* v = FindVolume(static_cast<char>(id))) dev = v->device;
  } else if (id < disks_.size()) {
    dev = disks_[id];
  }
  if (dev.empty()) return Expected<DeviceHandleValue>::Fail("no such device");
  const std::string path = "/dev/" + dev;
  // Read-only: SG_IO passes every CDB on a read-only descriptor for root or
  // the raw-I/O capability, and closing a writable descriptor of a disk makes
  // udev's watch rule announce a "change" and re-read its partition table.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Failed(path, errno);
  open_.push_back({fd, {fd, dev}});
  accessProblem_.clear();
  return DeviceHandleValue{fd};
}

void LinuxDeviceIo::Close(DeviceHandleValue h) {
  std::lock_guard lock(mu_);
  auto it = std::find_if(open_.begin(), open_.end(), [&](const auto& p) { return p.first == h; });
  if (it == open_.end()) return;
  ::close(it->second.fd);
  open_.erase(it);
}

Outcome LinuxDeviceIo::Scsi(DeviceHandleValue h, ScsiRequest& req) { return Transfer(h, req, false); }

Outcome LinuxDeviceIo::Transfer(DeviceHandleValue h, ScsiRequest& req, bool ataPassThrough) {
  req.transferred = 0;
  req.status = ReplyStatus{};
  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.cmd_len = req.cdbLength;
  io.cmdp = req.cdb.data();
  io.mx_sb_len = static_cast<unsigned char>(req.status.sense.size());
  io.sbp = req.status.sense.data();
  io.dxfer_len = req.transferLength;
  io.dxferp = req.data;
  io.dxfer_direction = req.transferLength == 0 || req.direction == DataDirection::None ? SG_DXFER_NONE
                       : req.direction == DataDirection::In                            ? SG_DXFER_FROM_DEV
                                                                                       : SG_DXFER_TO_DEV;
  io.timeout = req.timeoutSeconds * 1000;
  if (::ioctl(static_cast<int>(h), SG_IO, &io) < 0) {
    const int err = errno;
    std::lock_guard lock(mu_);
    return Failed("SG_IO", err);
  }
  req.status.scsiStatus = io.status;
  req.status.senseLength = io.sb_len_wr;
  // The host adapter or the driver failing is a failure whatever the status;
  // "sense data came back" alone is not (the status decides).
  constexpr unsigned kDriverSense = 0x08;
  if (io.host_status != 0 || (io.driver_status & 0x0F & ~kDriverSense) != 0)
    return Outcome::Fail("request failed (host status " + std::to_string(io.host_status) + ", driver status " +
                         std::to_string(io.driver_status) + ")");
  if (Outcome replied = PassThroughSucceeded(req.status, ataPassThrough); !replied) return replied;
  req.transferred = req.transferLength - static_cast<uint32_t>(std::clamp<int>(io.resid, 0, req.transferLength));
  return Outcome::Ok();
}

Outcome LinuxDeviceIo::Ata(DeviceHandleValue h, AtaRegisters& regs, uint8_t* data, uint32_t sectors,
                           ReplyStatus& status) {
  // ATA PASS-THROUGH(16) of the SCSI/ATA translation layer.
  return AtaByPassThrough16(regs, data, sectors, status, [&](ScsiRequest& r) { return Transfer(h, r, true); });
}

Outcome LinuxDeviceIo::RescanBus(DeviceHandleValue) {
  // The kernel notices its SCSI devices itself; nothing to ask for.
  return Outcome::Ok();
}

Expected<VolumeExtent> LinuxDeviceIo::DiskExtents(DeviceHandleValue h) {
  std::lock_guard lock(mu_);
  auto it = std::find_if(open_.begin(), open_.end(), [&](const auto& p) { return p.first == h; });
  if (it == open_.end()) return Expected<VolumeExtent>::Fail("invalid handle");
  const std::string dev = it->second.device;
  const std::string disk = ParentDisk(dev);
  auto pos = std::find(disks_.begin(), disks_.end(), disk);
  if (pos == disks_.end()) return Expected<VolumeExtent>::Fail(dev + " is on no listed disk");
  // Sectors of 512 bytes; a missing or unreadable number counts as 0.
  auto sectors = [](const std::string& path) {
    const std::string text = ReadLine(path);
    uint64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return ec == std::errc() ? v : 0;
  };
  VolumeExtent extent;
  extent.diskNumber = static_cast<uint8_t>(pos - disks_.begin());
  extent.startingOffset = sectors("/sys/class/block/" + dev + "/start") * 512;
  extent.extentLength = sectors("/sys/class/block/" + dev + "/size") * 512;
  return extent;
}

uint32_t LinuxDeviceIo::LogicalDriveMask() {
  std::lock_guard lock(mu_);
  Refresh();
  uint32_t mask = 0;
  for (const auto& v : volumes_) mask |= 1u << (v.letter - 'A');
  return mask;
}

unsigned LinuxDeviceIo::DriveTypeOf(char letter) {
  std::lock_guard lock(mu_);
  const Volume* v = FindVolume(letter);
  if (!v) return kDriveNoRootDir;
  return ReadLine("/sys/block/" + ParentDisk(v->device) + "/removable") == "1" ? kDriveRemovable : kDriveFixed;
}

std::string LinuxDeviceIo::VolumeName(char letter) {
  std::lock_guard lock(mu_);
  const Volume* v = FindVolume(letter);
  return v ? v->mountPoint : std::string(1, letter);
}

struct UdevDeviceChanges::Impl {
  udev* u = nullptr;
  udev_monitor* mon = nullptr;
  std::atomic<bool> stop{false};
  std::thread thread;
};

UdevDeviceChanges::~UdevDeviceChanges() { Stop(); }

bool UdevDeviceChanges::Start(std::function<void()> onChange) {
  Stop();
  auto* impl = new Impl;
  impl->u = udev_new();
  if (impl->u) impl->mon = udev_monitor_new_from_netlink(impl->u, "udev");
  if (!impl->mon || udev_monitor_filter_add_match_subsystem_devtype(impl->mon, "block", "disk") < 0 ||
      udev_monitor_enable_receiving(impl->mon) < 0) {
    if (impl->mon) udev_monitor_unref(impl->mon);
    if (impl->u) udev_unref(impl->u);
    delete impl;
    return false;
  }
  impl_ = impl;
  impl->thread = std::thread([impl, onChange] {
    const int fd = udev_monitor_get_fd(impl->mon);
    while (!impl->stop) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 250) > 0) {
        if (udev_device* d = udev_monitor_receive_device(impl->mon)) {
          const char* action = udev_device_get_action(d);
          const char* devtype = udev_device_get_devtype(d);
          const bool relevant = IsDiskArrivalOrRemoval(action ? action : "", devtype ? devtype : "");
          udev_device_unref(d);
          if (relevant) onChange();
        }
      }
    }
  });
  return true;
}

void UdevDeviceChanges::Stop() {
  if (!impl_) return;
  impl_->stop = true;
  if (impl_->thread.joinable()) impl_->thread.join();
  udev_monitor_unref(impl_->mon);
  udev_unref(impl_->u);
  delete impl_;
  impl_ = nullptr;
}

}  // namespace raid
