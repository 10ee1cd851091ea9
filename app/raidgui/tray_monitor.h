// The window in the notification area: an icon whose colour is the worst
// state of the enclosures (green healthy, amber rebuilding or scanning, red
// degraded or failed, grey none found) with each enclosure's state in its
// tooltip, a desktop notification for each drive or enclosure event of the
// day log, and the stored option "Keep monitoring in the notification area"
// (off by default): closing the window then only hides it, and the tray
// menu's "Quit" ends the program. None of it appears unless that option is
// on or the program was started with --minimized.
#pragma once

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "app/common/drive_health.h"
#include "monitor/core_view.h"
#include "platform/settings_store.h"

class QSystemTrayIcon;
class QWidget;

namespace raid {

class RaidCore;

// The notification area as the monitor uses it; a fake stands in for tests
// and for desktops without one.
class TrayHost {
 public:
  virtual ~TrayHost() = default;
  // Whether the desktop has a notification area at all.
  virtual bool Available() const = 0;
  virtual void SetVisible(bool visible) = 0;
  virtual void SetIcon(const QIcon& icon) = 0;
  virtual void SetToolTip(const QString& text) = 0;
  virtual void SetMenu(QMenu* menu) = 0;
  virtual void ShowMessage(const QString& title, const QString& text, bool warning) = 0;
  // A click on the icon.
  std::function<void()> OnActivated;
};

// The desktop's own (QSystemTrayIcon).
std::unique_ptr<TrayHost> MakeSystemTrayHost(QObject* parent);

// Settings value of the option (DWORD 0 off, 1 on).
inline constexpr const char* kKeepInTraySetting = "KeepInTray";

// The colour of each state and the icon drawn in it.
QColor HealthColour(Health h);
QIcon HealthIcon(Health h);
// "RAID GUI" and a line per enclosure ("Device1: Normal"), or "No enclosure found".
QString HealthToolTip(const std::vector<EnclosureHealth>& list);

class TrayMonitor : public QObject {
  Q_OBJECT
 public:
  // window: the main window, hidden instead of closed while the option is
  // on; store: where the option is kept; minimized: --minimized.
  TrayMonitor(QWidget& window, const RaidCore& core, SettingsStore& store, std::unique_ptr<TrayHost> host,
              bool minimized);
  ~TrayMonitor() override;

  // Main thread: after each step, the icon and tooltip from the core.
  void Update();
  // Main thread: each new day log line with its event; the event's
  // headline may become a notification.
  void OnDayLogEntry(const DayLogEntry& entry);
  // Ends the program as the tray menu's "Quit" does (the window's own
  // closing steps run; a running upgrade still asks first).
  void RequestQuit();

  bool Active() const { return active_; }
  bool KeepInTray() const { return keep_; }
  // Whether the window should be shown at start (not with --minimized and
  // a notification area to start in).
  bool ShowWindowAtStart() const { return !(minimized_ && host_->Available()); }
  QAction& KeepAction() { return *keepAction_; }
  QAction& QuitAction() { return *quitAction_; }
  QAction& ShowAction() { return *showAction_; }
  Health ShownHealth() const { return shown_; }
  // Why the option is greyed out (empty when it is not).
  QString UnavailableReason() const;

 protected:
  bool eventFilter(QObject* o, QEvent* e) override;

 private:
  void SetKeep(bool on);
  void Activate(bool on);
  void ShowWindow();

  QWidget& window_;
  const RaidCore& core_;
  SettingsStore& store_;
  std::unique_ptr<TrayHost> host_;
  bool minimized_;
  bool keep_ = false;
  bool active_ = false;
  bool quitting_ = false;
  Health shown_ = Health::NoneFound;
  bool haveShown_ = false;
  QString lastTip_;
  QMenu menu_;
  QAction* showAction_;
  QAction* keepAction_;
  QAction* quitAction_;
};

}  // namespace raid
