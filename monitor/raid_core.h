// The program's core: every piece of state the main window owns and the
// handlers its timers, its device-change message and its worker threads run.
// Both front ends own one RaidCore and wire their window or console to it.
#pragma once

#include <array>
#include <functional>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "device/command_set.h"
#include "device/detection.h"
#include "device/detection_worker.h"
#include "device/device_state.h"
#include "monitor/core_view.h"
#include "monitor/device_messages.h"
#include "monitor/settings_commands.h"
#include "monitor/device_report.h"
#include "monitor/event_log.h"
#include "monitor/monitor_state.h"
#include "monitor/status_page.h"
#include "monitor/status_poller.h"
#include "platform/clock.h"
#include "platform/datetime_text.h"
#include "platform/device_io.h"
#include "platform/app_version.h"

namespace raid {

class RaidCore {
 public:
  RaidCore(DeviceIo& io, Clock& clock, const DateTimeFormat& fmt, CoreView& view, const std::string& logDir);

  // The main window's creation: everything into its start state, the
  // letters and drives counted and the first detection requested.
  void Start();
  // The main window's closing: polling disarmed, clock timer stopped.
  void Close();

  // Timer handlers.
  void OnProgressTimer();
  void OnPollTimer() { poller.OnPollTimer(); }
  void OnClockTimer();
  void OnDetectionTimer();
  void OnHoldOffTimer() { poller.OnHoldOffTimer(); }
  // A device arrived or left (WM_DEVICECHANGE, udev, the simulator).
  void OnDeviceChange();

  // Worker thread bodies. DriveDetectThread: runs a requested scan; returns
  // whether it did.
  bool DetectionStep() { return detection.RunOnce(); }
  // TRaidThread: whether a request waits, and the callback that serves it
  // on the main thread.
  bool StatusRequestWaiting() const;
  void ServeStatusRequest() { poller.ServeRequest(); }
  // TEmailThread.
  bool MailRequestWaiting() const { return ms.MailRequestFlags.load() != 0; }
  void ServeMailRequest();
  // The notification callback the front end installs (SendNotification);
  // without one a request is dropped.
  std::function<void()> MailHandler;

  // Navigation: accepted only once the first refresh has happened.
  bool NavigationAccepted() const;
  // Selects a notebook page (0 Status, 1 Setup, 2 Upgrade, 3 E-mail, 4 About).
  bool SelectPage(uint8_t page);

  DeviceState st;
  WindowControls controls;
  MonitorState ms;
  // The status-bar texts of a running detection (before the pieces that
  // report to it).
  StatusBarDetectionProgress detectionMessages;
  CommandSet cs;
  DriveDetector det;  // counts letters and drives; holds the published tables
  DetectionWorker detection;
  SettingsCommands settings;
  DeviceReport report;
  EventLog log;
  StatusPoller poller;
  StatusPage page;

  std::string DetectionBanner = "Drive detecting";
  bool DetectionBannerVisible = true;
  bool NavigationEnabled = false;
  bool ProgressTimerEnabled = false, PollTimerEnabled = false, ClockTimerEnabled = false, DetectionTimerEnabled = false;
  LocalDateTime StartTime;
  LocalDateTime Now;  // sampled by Timer3
  std::array<double, kPhysicalDrives> ConnectTime{};
  int ConnectTimeRef = -1;  // drive whose ConnectTime the log and page read
  std::vector<std::string> SystemInfoText;

 private:
  // Asks the detection thread for a scan of the drives just counted.
  void RequestDetection();
  void Publish(const DetectionResult& result);
  void SetDetectText(const std::string& text, bool visible);

  Clock& clock_;
  CoreView& view_;
  bool changedDuringScan_ = false;
};

}  // namespace raid
