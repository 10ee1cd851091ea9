#include "platform/windows/windows_device_io.h"

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
#include <dbt.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <future>
#include <utility>
#include <vector>

#include "platform/windows/windows_records.h"
#include "platform/pass_through.h"

namespace raid {

// The request codes and layouts the program relies on, pinned against the
// SDK's own definitions.
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == kIoctlScsiPassThroughDirect);
static_assert(IOCTL_IDE_PASS_THROUGH == kIoctlIdePassThrough);
static_assert(IOCTL_SCSI_RESCAN_BUS == kIoctlScsiRescanBus);
static_assert(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS == kIoctlVolumeGetDiskExtents);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Length) == sptd32::kLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TargetId) == sptd32::kTargetId);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength) == sptd32::kCdbLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength) == sptd32::kSenseInfoLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == sptd32::kDataIn);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == sptd32::kDataTransferLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == sptd32::kTimeOutValue);
#ifdef _WIN64
// A 64-bit process has an 8-byte buffer pointer: the later fields move.
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 32);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 36);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56);
#else
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == sptd32::kDataBuffer);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == sptd32::kSenseInfoOffset);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == sptd32::kCdb);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == sptd32::kStructSize);
#endif
static_assert(sizeof(VOLUME_DISK_EXTENTS) == sizeof(ExtentsReply));
static_assert(offsetof(VOLUME_DISK_EXTENTS, Extents) == 8);
static_assert(offsetof(DISK_EXTENT, StartingOffset) == 8);
static_assert(offsetof(DISK_EXTENT, ExtentLength) == 16);
static_assert(SCSI_IOCTL_DATA_IN == 1 && SCSI_IOCTL_DATA_OUT == 0);

namespace {
// The request record with room for sense data behind it.
struct ScsiRecord {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG filler;
  UCHAR sense[32];
};

// A page-aligned buffer, as the pass-through driver wants for direct I/O.
class PageBuffer {
 public:
  explicit PageBuffer(size_t n)
      : size_(n),
        p_(n ? static_cast<uint8_t*>(VirtualAlloc(nullptr, n, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) : nullptr) {}
  ~PageBuffer() {
    if (p_) VirtualFree(p_, 0, MEM_RELEASE);
  }
  PageBuffer(const PageBuffer&) = delete;
  PageBuffer& operator=(const PageBuffer&) = delete;
  uint8_t* get() const { return p_; }
  bool ok() const { return size_ == 0 || p_ != nullptr; }

 private:
  size_t size_;
  uint8_t* p_;
};

HANDLE H(DeviceHandleValue v) { return reinterpret_cast<HANDLE>(v); }
}  // namespace

Outcome WindowsDeviceIo::Failed(const char* what) {
  const DWORD e = GetLastError();
  char msg[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, e, 0, msg, sizeof msg, nullptr);
  const std::string why = std::string(what) + ": " + msg;
  if (e == ERROR_ACCESS_DENIED) accessProblem_ = why + " (the program needs administrator rights)";
  return Outcome::Fail(why);
}

Expected<DeviceHandleValue> WindowsDeviceIo::Open(DeviceId id) {
  char path[32];
  if (id >= kFirstLetterId)
    std::snprintf(path, sizeof path, "\\\\.\\%c:", static_cast<char>(id));
  else
    std::snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%u", static_cast<unsigned>(id));
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Failed(path);
  accessProblem_.clear();
  return reinterpret_cast<DeviceHandleValue>(h);
}

void WindowsDeviceIo::Close(DeviceHandleValue h) {
  if (h != kInvalidHandle) CloseHandle(H(h));
}

Outcome WindowsDeviceIo::Scsi(DeviceHandleValue h, ScsiRequest& req) {
  req.transferred = 0;
  req.status = ReplyStatus{};
  PageBuffer buf(req.transferLength);
  if (!buf.ok()) return Failed("VirtualAlloc");
  if (req.transferLength && req.direction == DataDirection::Out && req.data)
    std::memcpy(buf.get(), req.data, req.transferLength);
  ScsiRecord rec{};
  rec.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  rec.sptd.TargetId = sptd32::kTargetIdValue;
  rec.sptd.CdbLength = req.cdbLength;
  rec.sptd.SenseInfoLength = sptd32::kSenseLength;
  rec.sptd.DataIn = DataInByte(req.direction);
  rec.sptd.DataTransferLength = req.transferLength;
  rec.sptd.TimeOutValue = req.timeoutSeconds;
  rec.sptd.DataBuffer = buf.get();
  rec.sptd.SenseInfoOffset = offsetof(ScsiRecord, sense);
  std::memcpy(rec.sptd.Cdb, req.cdb.data(), 16);
  DWORD returned = 0;
  const BOOL ok =
      DeviceIoControl(H(h), IOCTL_SCSI_PASS_THROUGH_DIRECT, &rec, sizeof rec, &rec, sizeof rec, &returned, nullptr);
  if (!ok) return Failed("IOCTL_SCSI_PASS_THROUGH_DIRECT");
  // The request went through; whether the device carried it out is in its
  // SCSI status (CHECK CONDITION with no data must never pass as a reply).
  req.status.scsiStatus = rec.sptd.ScsiStatus;
  req.status.senseLength = rec.sptd.SenseInfoLength < sizeof rec.sense ? rec.sptd.SenseInfoLength : sizeof rec.sense;
  std::memcpy(req.status.sense.data(), rec.sense, req.status.senseLength);
  if (Outcome replied = PassThroughSucceeded(req.status, false); !replied) return replied;
  req.transferred = rec.sptd.DataTransferLength;
  if (req.transferred > req.transferLength) req.transferred = req.transferLength;
  if (req.direction == DataDirection::In && req.data && req.transferLength)
    std::memcpy(req.data, buf.get(), req.transferLength);
  return Outcome::Ok();
}

Outcome WindowsDeviceIo::Ata(DeviceHandleValue h, AtaRegisters& regs, uint8_t* data, uint32_t sectors,
                             ReplyStatus& status) {
  // The IDE pass-through gives the registers back and no SCSI status.
  status = ReplyStatus{};
  status.ataRegistersReturned = true;
  std::vector<uint8_t> b = EncodeIdeBuffer(regs, sectors);
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(H(h), IOCTL_IDE_PASS_THROUGH, b.data(), static_cast<DWORD>(b.size()), b.data(),
                                  static_cast<DWORD>(b.size()), &returned, nullptr);
  const Outcome done = ok ? Outcome::Ok() : Failed("IOCTL_IDE_PASS_THROUGH");
  DecodeIdeBuffer(b, regs, data, sectors, ok != FALSE);
  return done;
}

Outcome WindowsDeviceIo::RescanBus(DeviceHandleValue h) {
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(H(h), IOCTL_SCSI_RESCAN_BUS, nullptr, 0, nullptr, 0, &returned, nullptr);
  return ok ? Outcome::Ok() : Failed("IOCTL_SCSI_RESCAN_BUS");
}

Expected<VolumeExtent> WindowsDeviceIo::DiskExtents(DeviceHandleValue h) {
  ExtentsReply reply{};
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(H(h), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, reply.data(),
                                  static_cast<DWORD>(reply.size()), &returned, nullptr);
  if (!ok) return Failed("IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS");
  return ParseExtents(reply);
}

uint32_t WindowsDeviceIo::LogicalDriveMask() { return GetLogicalDrives(); }

unsigned WindowsDeviceIo::DriveTypeOf(char letter) {
  const char root[4] = {letter, ':', '\\', 0};
  return ::GetDriveTypeA(root) & 0xFF;
}

namespace {
HDEVNOTIFY RegisterUsbInterfaces(HWND window) {
  static const GUID kUsbDeviceInterface = {
      0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kUsbDeviceInterface;
  return RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

constexpr const char* kChangeWindowClass = "RaidDeviceChangeWindow";

LRESULT CALLBACK ChangeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DEVICECHANGE && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
    if (auto* onChange = reinterpret_cast<std::function<void()>*>(GetWindowLongPtrA(window, GWLP_USERDATA)))
      (*onChange)();
    return TRUE;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
}  // namespace

bool RegisterUsbDeviceNotifications(void* windowHandle) {
  return RegisterUsbInterfaces(static_cast<HWND>(windowHandle)) != nullptr;
}

WindowsDeviceChanges::~WindowsDeviceChanges() { Stop(); }

bool WindowsDeviceChanges::Start(std::function<void()> onChange) {
  Stop();
  onChange_ = std::move(onChange);
  std::promise<bool> started;
  std::future<bool> ready = started.get_future();
  thread_ = std::thread([this, &started] {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = ChangeWindowProc;
    cls.hInstance = instance;
    cls.lpszClassName = kChangeWindowClass;
    RegisterClassExA(&cls);  // already registered by an earlier start: fine
    // A message-only window: never shown, but it receives the notifications
    // it registers for.
    HWND window = CreateWindowExA(0, kChangeWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    HDEVNOTIFY registration = window ? RegisterUsbInterfaces(window) : nullptr;
    if (!registration) {
      if (window) DestroyWindow(window);
      started.set_value(false);
      return;
    }
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&onChange_));
    threadId_ = GetCurrentThreadId();
    started.set_value(true);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    UnregisterDeviceNotification(registration);
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
  });
  if (!ready.get()) {
    thread_.join();
    return false;
  }
  return true;
}

void WindowsDeviceChanges::Stop() {
  if (!thread_.joinable()) return;
  // The thread's message queue exists from its first window on.
  if (threadId_) PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
  thread_.join();
  threadId_ = 0;
}

}  // namespace raid
