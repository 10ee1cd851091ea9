// TForm1, the main window: the notebook of pages with its column of
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

class TForm5;
class TForm2;

class TForm1 : public QWidget, public CoreView {
  Q_OBJECT
 public:
  // configDir: the mail settings folder (--config-dir); empty: the system's store.
  TForm1(Machine& machine, const std::string& logDir, QWidget* parent = nullptr, const std::string& configDir = {});
  ~TForm1() override;

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
  // Starts detection, threads and timers (FormCreate's last steps).
  void FormCreate(bool pace = true);

  // Navigation.
  void LayoutNavigation(uint8_t mask);
  void RedrawNavigation();
  void Image_StsClick() { Core().SelectPage(0); }
  void OpenPage() { setup_->OpenPage(); }
  void Image_FWUpgClick();
  void Image_EmailClick();
  // The E-mail page, its model and the notification sender.
  EmailPage& Email() { return *emailPage_; }
  MailPage& EmailModel() { return *mailPage_; }
  MailNotifier& Notifier() { return *notifier_; }
  // Called with every line appended to the day log (the tray's
  // notifications); main thread.
  std::function<void(const std::string&)> LogLineHook;
  void LogLineAppended(const std::string& line) override {
    if (LogLineHook) LogLineHook(line);
  }
  void Image_AboutClick() { Core().SelectPage(4); }
  void Image0_LogClick();
  // The Upgrade page.
  FirmwareUpgrade& Upgrade() { return *upgrade_; }
  void Image2_LoadClick();
  void LoadImageFile(const std::string& fileName);
  void UpgradeClick();
  // The Setup page.
  SetupPage& Setup() { return *setup_; }
  void SetClick();
  // Replaces the file dialog of "Load" while set (tests): returns the chosen
  // file name, empty when cancelled.
  std::function<QString()> ChooseFirmwareFile;
  void StatusBar1DblClick();
  // The image builder "Make Bin" ("Make Bin..." on the Upgrade page, Ctrl+M):
  // opened while no long operation runs; what it builds becomes the
  // Upgrade page's image.
  void MakeBinClick();
  TForm2& MakeBinForm() { return *form2_; }
  bool LogWindowOpen() const { return logWindowOpen_; }
  // The log window while it is open (for tests), else null.
  TForm5* LogWindow() const { return logWindow_; }

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
  void ApplyLabel(QLabel* l, const struct LabelModel& m);
  // Places the status-bar panels side by side from the left by their widths.
  void LayoutPanels();
  // The drive pictures show the drive state bits of the shown slot.
  void DrawDrivePictures();
  qreal Dpr() const;

  ComSession com_;
  bool startedWell_ = true;
  std::unique_ptr<CoreRuntime> runtime_;
  QStackedWidget* notebook1_ = nullptr;
  QStatusBar* statusBar1_ = nullptr;
  std::array<StatusPanel*, kStatusBarPanels> panels_{};
  QLabel* staticText1_ = nullptr;
  std::array<NavEntry, 5> nav_{};
  std::array<PictureButton*, 2> statusTabs_{}, upgradeTabs_{};
  std::array<QLabel*, 2> statusTabYellow_{}, statusTabWhite_{};
  std::array<QCheckBox*, 2> slotBoxes_{};
  QCheckBox* checkBox6_ = nullptr;
  QCheckBox* checkBox7_ = nullptr;
  PictureButton* image0Log_ = nullptr;
  PictureButton* image2Load_ = nullptr;
  PictureButton* image2Upgrade_ = nullptr;
  QLabel* label54_ = nullptr;
  QLineEdit* edit9_ = nullptr;
  QWidget* panel1_ = nullptr;
  QLabel* panel1Caption_ = nullptr;
  QLabel* label12_ = nullptr;
  QProgressBar* progressBar1_ = nullptr;
  std::unique_ptr<FirmwareUpgrade> upgrade_;
  bool closeAfterUpgrade_ = false;
  bool stopQuestionOpen_ = false;
  QProgressBar* progressBar2_ = nullptr;
  std::unique_ptr<SetupPage> setup_;
  bool maintenance_ = false;
  bool closeAfterInitialisation_ = false;
  std::array<PictureButton*, 2> setupTabs_{};
  std::array<QLabel*, 2> setupTabYellow_{}, setupTabWhite_{};
  QStackedWidget* notebook3_ = nullptr;
  QCheckBox* checkBoxBackup_ = nullptr;
  std::array<QRadioButton*, 4> periodButtons_{};
  QButtonGroup* periodGroup_ = nullptr;
  QLabel* labelBackupMess_ = nullptr;
  PictureButton* image1Set_ = nullptr;
  QWidget* panel8_ = nullptr;
  QLabel* panel8Caption_ = nullptr;
  QLabel* label1_ = nullptr;
  QWidget* bitBtn2_ = nullptr;
  QPushButton* button3_ = nullptr;
  QPushButton* button4_ = nullptr;
  QWidget* panel11_ = nullptr;
  QLabel *label17_ = nullptr, *label27_ = nullptr, *label25_ = nullptr, *label51_ = nullptr, *label26_ = nullptr,
         *label52_ = nullptr, *label18_ = nullptr, *label48_ = nullptr, *label5_ = nullptr, *label7_ = nullptr;
  QLabel *image4_ = nullptr, *image5_ = nullptr;
  // No enclosure is ready: the Status page keeps its last captions, greyed.
  bool stale_ = false;
  std::string logDir_;
  bool logWindowOpen_ = false;
  TForm5* logWindow_ = nullptr;
  // Declared after the runtime: the sender ends before the core goes.
  std::unique_ptr<SettingsStore> mailStore_;
  std::unique_ptr<MailNotifier> notifier_;
  std::unique_ptr<MailPage> mailPage_;
  EmailPage* emailPage_ = nullptr;
  TForm2* form2_ = nullptr;
};

}  // namespace raid
