// MainWindow, the main window: the notebook of pages with its column of
// navigation pictures, the Status page, the five-panel status bar and the
// detection text. It owns the core through the runtime and draws what the
// core's model says; every decision is the core's.
#pragma once

#include <functional>

#include <QButtonGroup>
#include <QCheckBox>
#include <QRadioButton>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QWidget>
#include <array>
#include <memory>

#include "app/common/core_runtime.h"
#include "app/common/service_feed.h"
#include "app/common/service_mirror.h"
#include "app/raidgui/artwork.h"
#include "app/raidgui/email_page.h"
#include "app/raidgui/picture_button.h"
#include "app/raidgui/status_panel.h"
#include "maintenance/firmware_upgrade.h"
#include "maintenance/setup_page.h"
#include "monitor/core_view.h"
#include "notify/mail_page.h"
#include "notify/notifier.h"
#include "platform/com_session.h"
#include "platform/settings_store.h"

namespace raid {

class EventLogWindow;
class ImageBuilderWindow;

class MainWindow : public QWidget, public CoreView {
  Q_OBJECT
 public:
  // configDir: the mail settings folder (--config-dir); empty: the system's store.
  MainWindow(Machine& machine, const std::string& logDir, QWidget* parent = nullptr, const std::string& configDir = {});
  ~MainWindow() override;

  // False when COM security could not be set up (the box has been shown and
  // the program ends).
  bool StartedWell() const { return startedWell_; }
  RaidCore& Core() { return runtime_->Core(); }
  CoreRuntime& Runtime() { return *runtime_; }
  // Service mode (--maintenance), set before FormCreate: the navigation
  // gets the Setup button, and the scan buttons, "Buzzer Mute", "Auto Scan"
  // and "E-Mail" are shown; initialising asks first.
  void SetMaintenanceMode(bool on);
  bool MaintenanceMode() const { return maintenance_; }
  // Shows the monitor service at `address`, set before FormCreate: the
  // machine is the service's mirror (`sim`, from ServiceMirror), the core
  // writes no day log and sends no mail, the log window and the tray
  // follow the service's day log; the upgrade, the Setup page's commands,
  // the scans and the option switches are asked of the service (the mail
  // settings are changed with raidctl). When the service goes away the
  // pages keep their last state, greyed, until it answers again.
  void ShowService(const std::string& address, sim::SimDeviceIo& sim);
  bool ShowsService() const { return feed_ != nullptr; }
  // The service's day log as the window has heard it.
  const std::vector<std::string>& ServiceDayLog() const { return serviceLog_; }
  // Starts detection, threads and timers (FormCreate's last steps).
  void FormCreate(bool pace = true);

  // Navigation.
  void LayoutNavigation(uint8_t mask);
  void RedrawNavigation();
  void StatusNavClick() { Core().SelectPage(ShownPage::Status); }
  void SetupNavClick() { setup_->OpenPage(); }
  void UpgradeNavClick();
  void EmailNavClick();
  // The E-mail page, its model and the notification sender.
  EmailPage& Email() { return *emailPage_; }
  MailPage& EmailModel() { return *mailPage_; }
  MailNotifier& Notifier() { return *notifier_; }
  // The settings store of this run (the mail settings and the tray option).
  SettingsStore& Settings() { return *mailStore_; }
  // Called with every line appended to the day log and its event (the
  // tray's notifications); main thread.
  std::function<void(const DayLogEntry&)> DayLogHook;
  void DayLogEntryAppended(const DayLogEntry& entry) override {
    // Showing the service, the service's lines are the day log.
    if (DayLogHook && !ShowsService()) DayLogHook(entry);
  }
  void AboutNavClick() { Core().SelectPage(ShownPage::About); }
  void EventLogClick();
  // The Upgrade page.
  FirmwareUpgrade& Upgrade() { return *upgrade_; }
  void LoadFirmwareClick();
  void LoadFirmwareFile(const std::string& fileName);
  void UpgradeFirmwareClick();
  // The Setup page.
  SetupPage& Setup() { return *setup_; }
  void SetButtonClick();
  // Replaces the file dialog of "Load" while set (tests): returns the chosen
  // file name, empty when cancelled.
  std::function<QString()> ChooseFirmwareFile;
  void StatusBarDoubleClick();
  // The image builder "Make Bin" ("Make Bin..." on the Upgrade page, Ctrl+M):
  // opened while no long operation runs; what it builds becomes the
  // Upgrade page's image.
  void OpenImageBuilder();
  ImageBuilderWindow& ImageBuilderForm() { return *imageBuilder_; }
  bool LogWindowOpen() const { return logWindowOpen_; }
  // The log window while it is open (for tests), else null.
  EventLogWindow* LogWindow() const { return logWindow_; }

  // CoreView
  void SetPanelText(StatusBarPanel panel, const std::string& text) override;
  BoxResult ShowMessage(const MessageBoxRequest& box) override;
  void ShowNotice(const MessageBoxRequest& box) override;
  void ProcessMessages() override;
  void DetectTextChanged(const std::string& text, bool visible) override;
  void NavigationEnabledChanged(bool enabled) override;
  void UpgradeButtonEnabledChanged(bool enabled) override;
  void SlotControlsChanged(int slot, bool visible, bool checked) override;
  void LogButtonVisibleChanged(bool visible) override;
  void IdentityChanged() override;
  void StatusPageChanged() override;
  void NavigationChanged() override;
  void ProgressChanged(ProgressBar bar, uint32_t value) override;
  void OptionControlsChanged() override;
  void UpgradePageChanged() override;
  void SetupPageChanged() override;
  std::string PanelText(StatusBarPanel panel) const override;

 protected:
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* o, QEvent* e) override;
#ifdef _WIN32
  bool nativeEvent(const QByteArray& type, void* message, qintptr* result) override;
#endif

 private:
  struct NavEntry {
    PictureButton* button;
    QLabel* yellow;
    QLabel* white;
    int page;
  };
  void BuildFrame();
  void BuildStatusPage(QWidget* page);
  void BuildPlainPages();
  void BuildUpgradePage(QWidget* page);
  void BuildSetupPage(QWidget* page);
  PictureButton* MakeNav(const QString& name, const QString& label, art::Glyph glyph, int top, int page);
  PictureButton* MakeTab(QWidget* parent, const QString& name, const QString& label, const QRect& r);
  QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& r);
  // A caption in bold.
  QLabel* MakeBoldLabel(QWidget* parent, const QString& name, const QString& text, const QRect& r);
  void ApplyLabel(QLabel* l, const struct LabelModel& m);
  // Places the status-bar panels side by side from the left by their widths.
  void LayoutPanels();
  // The drive pictures show the drive state bits of the shown slot.
  void DrawDrivePictures();
  qreal Dpr() const;

  ComSession com_;
  bool startedWell_ = true;
  std::unique_ptr<CoreRuntime> runtime_;
  QStackedWidget* pages_ = nullptr;
  QStatusBar* statusBar_ = nullptr;
  std::array<StatusPanel*, kStatusBarPanels> panels_{};
  QLabel* detectionText_ = nullptr;
  std::array<NavEntry, 5> nav_{};
  std::array<PictureButton*, 2> statusTabs_{}, upgradeTabs_{};
  std::array<QLabel*, 2> statusTabYellow_{}, statusTabWhite_{};
  std::array<QCheckBox*, 2> slotBoxes_{};
  QCheckBox* buzzerMuteBox_ = nullptr;
  QCheckBox* autoScanBox_ = nullptr;
  PictureButton* eventLogButton_ = nullptr;
  PictureButton* loadButton_ = nullptr;
  PictureButton* upgradeButton_ = nullptr;
  QLabel* upgradeFirmwareVersionLabel_ = nullptr;
  QLineEdit* firmwareFileEdit_ = nullptr;
  QWidget* upgradeProgressPanel_ = nullptr;
  QLabel* upgradeProgressCaption_ = nullptr;
  QLabel* upgradeProgressText_ = nullptr;
  QProgressBar* upgradeProgressBar_ = nullptr;
  std::unique_ptr<FirmwareUpgrade> upgrade_;
  bool closeAfterUpgrade_ = false;
  bool stopQuestionOpen_ = false;
  QProgressBar* setupProgressBar_ = nullptr;
  std::unique_ptr<SetupPage> setup_;
  bool maintenance_ = false;
  bool closeAfterInitialisation_ = false;
  std::array<PictureButton*, 2> setupTabs_{};
  std::array<QLabel*, 2> setupTabYellow_{}, setupTabWhite_{};
  QStackedWidget* setupSubPages_ = nullptr;
  QCheckBox* scheduleBackupBox_ = nullptr;
  std::array<QRadioButton*, 4> periodButtons_{};
  QButtonGroup* periodGroup_ = nullptr;
  QLabel* backupMessageLabel_ = nullptr;
  PictureButton* setButton_ = nullptr;
  QWidget* stepPanel_ = nullptr;
  QLabel* stepPanelCaption_ = nullptr;
  QLabel* stepText_ = nullptr;
  QWidget* emailButton_ = nullptr;
  QPushButton* hdd1ScanButton_ = nullptr;
  QPushButton* hdd2ScanButton_ = nullptr;
  QWidget* environmentPanel_ = nullptr;
  // The Status page's values, each drawn from its field of the status page
  // model; the drive pictures show the bays' state.
  QLabel* modeLabel_ = nullptr;
  QLabel* arrayCapacityLabel_ = nullptr;
  QLabel* firmwareVersionLabel_ = nullptr;
  QLabel* arrayStateLabel_ = nullptr;
  QLabel* hdd1CapacityLabel_ = nullptr;
  QLabel* hdd1IdentityLabel_ = nullptr;
  QLabel* hdd2CapacityLabel_ = nullptr;
  QLabel* hdd2IdentityLabel_ = nullptr;
  QLabel* fanSpeedLabel_ = nullptr;
  QLabel* temperatureLabel_ = nullptr;
  QLabel* hdd1Picture_ = nullptr;
  QLabel* hdd2Picture_ = nullptr;
  // No enclosure is ready: the Status page keeps its last captions, greyed.
  bool stale_ = false;
  std::string logDir_;
  bool logWindowOpen_ = false;
  EventLogWindow* logWindow_ = nullptr;
  // Declared after the runtime: the sender ends before the core goes.
  std::unique_ptr<SettingsStore> mailStore_;
  std::unique_ptr<MailNotifier> notifier_;
  std::unique_ptr<MailPage> mailPage_;
  EmailPage* emailPage_ = nullptr;
  ImageBuilderWindow* imageBuilder_ = nullptr;
  // Showing the monitor service (declared last: the feed's thread ends
  // first).
  // The upgrade asked of the service: the page's progress from its
  // messages, its boxes at the end.
  void ServiceUpgradeClick();
  // A change asked of the service, one at a time; its end shows its message
  // text and boxes.
  // then: also called with the answer of a change that was answered.
  void AskServiceChange(nlohmann::json request, std::function<void(const nlohmann::json&)> then = {});
  // The E-mail page on the service's settings: read, or the page's edits
  // sent with its OK.
  void ServiceMailPage(bool send);
  void ServiceTestMail();
  void ServiceChangeEnded(bool ok, const nlohmann::json& answer);
  // The Setup page's and the Status page's switches and buttons: the core's
  // own, or asked of the service.
  void ScheduleSwitchClick(bool on);
  void ScanButtonClick(uint8_t drive);
  void OptionSwitchClick();
  // Greys the change controls this user may not use, the reason in their
  // tooltip.
  void ApplyServiceRights();
  bool serviceMayChange_ = false;
  bool serviceAnswered_ = false;
  std::string serviceRefusal_ = "the monitor service has not answered yet";
  uint64_t nextChangeId_ = 100;
  std::unique_ptr<ServiceChange> change_ = std::make_unique<ServiceChange>();
  std::string serviceAddress_;
  std::vector<std::string> serviceLog_;
  std::unique_ptr<ServiceMirror> mirror_;
  std::unique_ptr<ServiceFeed> feed_;
};

}  // namespace raid
