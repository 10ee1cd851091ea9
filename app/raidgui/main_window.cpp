#include "app/raidgui/main_window.h"

#include "platform/base64.h"
#include "service/monitor_service.h"
#include "app/common/drive_health.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QTimer>
#include <QIcon>
#include <QMouseEvent>
#include <QShortcut>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <tuple>

#include "app/common/text.h"
#include "app/raidgui/event_log_window.h"
#include "app/raidgui/make_widget.h"
#include "app/raidgui/message_box.h"
#include "monitor/decoded_status.h"
#include "app/raidgui/image_builder_window.h"
#include "monitor/status_page.h"
#include "notify/mail_message.h"
#include "platform/system_info.h"

#ifdef _WIN32
#include <windows.h>
#include "platform/windows/windows_device_io.h"
#endif

namespace raid {

namespace {
constexpr int kClientW = 620, kClientH = 440;
constexpr int kNavLeft = 16, kNavW = 169, kNavH = 44;
constexpr int kNavTops[5] = {112, 168, 224, 280, 336};
constexpr int kHintMs = 6000;

QString Text(const std::string& s) { return ToQt(s); }

QColor ColorOf(TextColor c) {
  switch (c) {
    case TextColor::Navy: return QColor(0x00, 0x00, 0x80);
    case TextColor::Red: return QColor(0xD0, 0x00, 0x00);
    case TextColor::Blue: return QColor(0x00, 0x00, 0xFF);
    case TextColor::Fuchsia: return QColor(0xFF, 0x00, 0xFF);
    default: return QColor(0x20, 0x20, 0x20);
  }
}

// A service-mode control: hidden until --maintenance shows it, its click
// handed to the Setup page.
template <class W>
W* MakeServiceControl(QWidget* parent, const char* name, const QRect& r, const char* text, QObject* owner,
                      std::function<void()> click) {
  W* w = MakeWidget<W>(parent, name, r, text);
  w->hide();
  QObject::connect(w, &QAbstractButton::clicked, owner, [click = std::move(click)] { click(); });
  return w;
}
}  // namespace

MainWindow::MainWindow(Machine& machine, const std::string& logDir, QWidget* parent, const std::string& configDir)
    : QWidget(parent), logDir_(logDir) {
  setObjectName("Form1");
  if (!com_.InitializeSecurity()) {
    ShowMessageBox(nullptr, {"CoInitializeSecurity error!", "", BoxIcon::Error, BoxButtons::Ok});
    startedWell_ = false;
  }
  runtime_ = std::make_unique<CoreRuntime>(machine, *this, logDir);
  // The long operations run on the device thread on real devices: their
  // texts and page changes reach the window through the runtime's view.
  upgrade_ = std::make_unique<FirmwareUpgrade>(runtime_->Core(), runtime_->SafeView());
  setup_ = std::make_unique<SetupPage>(runtime_->Core(), runtime_->SafeView(), *upgrade_);
  setup_->Jobs = &runtime_->Jobs();
  // A close asked for during the initialisation happens once it has ended.
  setup_->InitialisationEnded = [this] {
    if (closeAfterInitialisation_ && !setup_->Running()) QTimer::singleShot(0, this, [this] { close(); });
  };
  // The system information block, then the mail settings' start-up hook.
  Core().SetSystemInfo(BuildSystemInfoText(QuerySystemProperties()));
  mailStore_ = MakeRunSettingsStore(configDir, machine.sim != nullptr);
  notifier_ = std::make_unique<MailNotifier>(
      *mailStore_, Core().Monitoring(), Core().MailRequestFlags(), Core().SystemInfo(), *machine.clock,
      [this](StatusBarPanel panel, const std::string& text) { runtime_->SafeView().SetPanelText(panel, text); },
      [this] { ProcessMessages(); });
  Core().SetMailHandler([this] { notifier_->SendNotification(); });
  mailPage_ = std::make_unique<MailPage>(notifier_->Settings, *mailStore_, Core().MailRequestFlags(), *this);
  // Retries and reminders (when switched on) say what they did in the day
  // log; after each step they look at what is due.
  // A note made on the main thread (the close's, naming mails left unsent)
  // goes in at once: nothing runs posted calls after the close.
  notifier_->LogNote = [this](const std::string& text) {
    if (runtime_->OnMainThread())
      Core().Log().AppendNote(text);
    else
      runtime_->Post([this, text] { Core().Log().AppendNote(text); });
  };
  // Notifications left unsent at the close are kept (with retries on) and
  // sent at the next start, as the monitor does; a simulated run keeps its
  // own.
  notifier_->UnsentFile = logDir + (machine.sim ? "/unsent-mail.simulated.conf" : "/unsent-mail.conf");
  // The outcome of "Send test mail", in a box that waits for nobody: the
  // user asked for it, and a reason does not fit the mail panel.
  notifier_->TestMailFinished = [this](const SmtpOutcome& o) {
    const MessageBoxRequest box =
        o.ok() ? MessageBoxRequest{"The test mail was sent." + (o.refused.empty() ? "" : "\n" + RefusedText(o)),
                                   "E-Mail Message", BoxIcon::Information, BoxButtons::Ok}
               : MessageBoxRequest{"The test mail could not be sent: " + o.error(), "E-Mail Message", BoxIcon::Warning,
                                   BoxButtons::Ok};
    runtime_->Post([this, box] { ShowNotice(box); });
  };
  notifier_->Start();
  connect(runtime_.get(), &CoreRuntime::Stepped, this, [this] { notifier_->Observe(AnyDriveDown(Core())); });
  BuildFrame();
  // The image builder lives as long as the window; its filler generator is
  // seeded with the time it was made.
  imageBuilder_ = new ImageBuilderWindow(*upgrade_, SeedFromTime(machine.clock->Now()), this);
  auto* makeBin = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_M), this);
  connect(makeBin, &QShortcut::activated, this, [this] { OpenImageBuilder(); });
}

void MainWindow::OpenImageBuilder() {
  // The image is the source of a running upgrade: it is never replaced under it.
  if (!upgrade_->LoadAllowed() || imageBuilder_->isVisible()) return;
  if (imageBuilder_->exec() == QDialog::Accepted && !imageBuilder_->SaveResult().empty())
    SetPanelText(kMessagePanel, imageBuilder_->SaveResult());
}

MainWindow::~MainWindow() = default;

qreal MainWindow::Dpr() const {
  const qreal d = devicePixelRatioF();
  return d < 1 ? 1 : d;
}

QLabel* MainWindow::MakeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& r) {
  return MakeWidget<QLabel>(parent, name, r, text);
}

QLabel* MainWindow::MakeBoldLabel(QWidget* parent, const QString& name, const QString& text, const QRect& r) {
  QLabel* l = MakeLabel(parent, name, text, r);
  QFont f = l->font();
  f.setBold(true);
  l->setFont(f);
  return l;
}

PictureButton* MainWindow::MakeNav(const QString& name, const QString& label, art::Glyph glyph, int top, int page) {
  auto* b = new PictureButton(this, name, label);
  b->setGeometry(kNavLeft, top, kNavW, kNavH);
  const QRect r(kNavLeft, top, kNavW, kNavH);
  QLabel* yellow = MakePictureStore(this, name + "_Yellow", art::NavPicture(label, glyph, true, Dpr()), r);
  QLabel* white = MakePictureStore(this, name + "_White", art::NavPicture(label, glyph, false, Dpr()), r);
  b->setPicture(white->pixmap());
  nav_[static_cast<size_t>(page)] = {b, yellow, white, page};
  return b;
}

PictureButton* MainWindow::MakeTab(QWidget* parent, const QString& name, const QString& label, const QRect& r) {
  auto* b = new PictureButton(parent, name, label);
  b->setGeometry(r);
  b->setPicture(art::TabPicture(label, false, r.width(), r.height(), Dpr()));
  return b;
}

void MainWindow::BuildFrame() {
  // A window of a fixed size: minimise and close, nothing to maximise.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientW, kClientH);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(0xF3, 0xF5, 0xF8));
  setPalette(pal);
  setWindowTitle(Text(AppTitleText()));
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128}) icon.addPixmap(art::IconPicture(size));
  setWindowIcon(icon);
  QApplication::setWindowIcon(icon);

  auto* logo = MakeLabel(this, "Image_Logo", "", QRect(16, 16, 169, 80));
  logo->setPixmap(art::LogoPicture(169, 80, Dpr()));
  logo->setAccessibleName(Text(kAppTitle));

  detectionText_ = MakeLabel(this, "StaticText1", "Drive detecting", QRect(216, 40, 385, 26));
  QFont bold = detectionText_->font();
  bold.setBold(true);
  bold.setPixelSize(15);
  detectionText_->setFont(bold);

  pages_ = new QStackedWidget(this);
  pages_->setObjectName("Notebook1");
  pages_->setGeometry(216, 74, 385, 321);
  pages_->setFrameShape(QFrame::StyledPanel);
  const char* pageNames[5] = {"Status", "schedule_backup", "Upgrade", "E-mail", "About"};
  for (const char* n : pageNames) {
    auto* p = new QWidget;
    p->setObjectName(QString("Page_") + n);
    p->setAccessibleName(n);
    pages_->addWidget(p);
  }

  PictureButton* sts = MakeNav("Image_Sts", "Status", art::Glyph::Status, kNavTops[0], notebook_page::kStatus);
  PictureButton* setup = MakeNav("Image_Setup", "Setup", art::Glyph::Setup, kNavTops[1], notebook_page::kSetup);
  PictureButton* upg = MakeNav("Image_FWUpg", "Upgrade", art::Glyph::Upgrade, kNavTops[2], notebook_page::kUpgrade);
  PictureButton* mail = MakeNav("Image_Email", "E-mail", art::Glyph::Mail, kNavTops[3], notebook_page::kEmail);
  PictureButton* about = MakeNav("Image_About", "About", art::Glyph::About, kNavTops[4], notebook_page::kAbout);
  connect(sts, &QAbstractButton::clicked, this, [this] { StatusNavClick(); });
  connect(setup, &QAbstractButton::clicked, this, [this] { SetupNavClick(); });
  connect(upg, &QAbstractButton::clicked, this, [this] { UpgradeNavClick(); });
  connect(mail, &QAbstractButton::clicked, this, [this] { EmailNavClick(); });
  connect(about, &QAbstractButton::clicked, this, [this] { AboutNavClick(); });

  statusBar_ = new QStatusBar(this);
  statusBar_->setObjectName("StatusBar1");
  statusBar_->setSizeGripEnabled(false);
  statusBar_->setGeometry(0, kClientH - 22, kClientW, 22);
  // The five panels sit side by side at fixed widths (610 of the 620
  // pixels); the bar's own layout, which adds gaps and margins, is not
  // used, so the last panel ends inside the window with its border. Panels
  // 0-3 are 100, 80, 80 and 100 pixels wide, or as wide as the longest of
  // their own texts needs in the font they get (the byte sum is read
  // digit by digit), and the message panel has the rest; its longer texts
  // are cut short, whole in its tooltip.
  const int widths[4] = {100, 80, 80, 100};
  QStringList longest[4] = {{},
                            {"Detecting D9", "Detected OK"},
                            {"Mode 4", "Email=3", "Connect"},
                            {"Mail is Sending...", "Send mail Success!"}};
  int used = 0;
  for (int i = 0; i < kStatusBarPanels; ++i) {
    StatusPanel* p = panels_[i] = new StatusPanel(statusBar_, QString("StatusBar1_Panel%1").arg(i));
    if (i == kMessagePanel) {
      p->setFixedWidth(kClientW - 10 - used);
    } else {
      if (i == kChecksumPanel) {
        QChar widest = '0';
        for (QChar c : QString("0123456789ABCDEF"))
          if (p->fontMetrics().horizontalAdvance(c) > p->fontMetrics().horizontalAdvance(widest)) widest = c;
        longest[i] << "Chksum:" + QString(8, widest);
      }
      p->setFixedWidth(std::max(widths[i], p->WidthFor(longest[i])));
      used += p->width();
    }
  }
  LayoutPanels();
  statusBar_->installEventFilter(this);
  for (auto* p : panels_) p->installEventFilter(this);

  // The monitoring switches and option boxes exist but stay hidden.
  for (int s = 0; s < 2; ++s) {
    slotBoxes_[s] = new QCheckBox(s == 0 ? "Device1" : "Device2", this);
    slotBoxes_[s]->setObjectName(s == 0 ? "CheckBox1" : "CheckBox3");
    slotBoxes_[s]->setChecked(true);
    slotBoxes_[s]->hide();
    slotBoxes_[s]->setToolTipDuration(kHintMs);
    connect(slotBoxes_[s], &QCheckBox::clicked, this,
            [this, s](bool on) { Core().SetSlotMonitored(static_cast<uint8_t>(s), on); });
  }
  // Only the user's clicks make requests: the Status page refresh sets the
  // boxes to what the enclosure reports without sending anything back.
  buzzerMuteBox_ = MakeServiceControl<QCheckBox>(this, "CheckBox6", QRect(16, 392, 100, 22), "Buzzer Mute", this,
                                                 [this] { OptionSwitchClick(); });
  autoScanBox_ = MakeServiceControl<QCheckBox>(this, "CheckBox7", QRect(118, 392, 90, 22), "Auto Scan", this,
                                               [this] { OptionSwitchClick(); });

  // Present in this configuration but never shown.
  auto hidden = [this](QWidget* w, const char* name) {
    w->setObjectName(name);
    w->hide();
  };
  auto* emailButton = new QPushButton("E-Mail", this);
  emailButton->setGeometry(521, 397, 80, 20);
  hidden(emailButton, "BitBtn2");
  emailButton_ = emailButton;
  // The e-mail settings live on the E-mail page.
  connect(emailButton, &QPushButton::clicked, this, [this] { EmailNavClick(); });
  hidden(new QPushButton("<<", this), "Button5");
  hidden(new QPushButton(">>", this), "Button6");
  hidden(MakeWidget<QLabel>(this, "", QRect(), ""), "StaticText10");
  for (const char* memo : {"Memo1", "Memo2", "Memo7"}) hidden(MakeWidget<QLabel>(this, "", QRect(), ""), memo);

  BuildStatusPage(pages_->widget(notebook_page::kStatus));
  BuildPlainPages();
}

void MainWindow::LayoutPanels() {
  int left = 0;
  for (auto* p : panels_) {
    p->setGeometry(left, 0, p->width(), statusBar_->height());
    left += p->width();
  }
}

void MainWindow::BuildStatusPage(QWidget* page) {
  for (int s = 0; s < 2; ++s) {
    const QString label = s == 0 ? "Device1" : "Device2";
    const QRect r(8 + s * 94, 4, 90, 26);
    statusTabs_[s] = MakeTab(page, s == 0 ? "Image0_D1" : "Image0_D2", label, r);
    statusTabYellow_[s] = MakePictureStore(page, statusTabs_[s]->objectName() + "_Yellow",
                                           art::TabPicture(label, true, 90, 26, Dpr()), r);
    statusTabWhite_[s] = MakePictureStore(page, statusTabs_[s]->objectName() + "_White",
                                          art::TabPicture(label, false, 90, 26, Dpr()), r);
    statusTabs_[s]->setToolTipDuration(kHintMs);
    statusTabs_[s]->hide();
    connect(statusTabs_[s], &QAbstractButton::clicked, this,
            [this, s] { Core().SelectStatusSlot(static_cast<uint8_t>(s)); });
  }
  // Captions in one column, values in the next, with room between them.
  MakeBoldLabel(page, "Label_Mode", "Mode:", QRect(14, 40, 130, 20));
  modeLabel_ = MakeLabel(page, "Label17", "", QRect(152, 40, 225, 20));
  MakeBoldLabel(page, "Label_SystemCapacity", "System Capacity:", QRect(14, 62, 130, 20));
  arrayCapacityLabel_ = MakeLabel(page, "Label27", "", QRect(152, 62, 225, 20));
  MakeBoldLabel(page, "Label_Firmware", "Firmware Version:", QRect(14, 84, 130, 20));
  firmwareVersionLabel_ = MakeLabel(page, "Label48", "", QRect(152, 84, 225, 20));

  // Two bays, each a column: the picture, its name, then its capacity and
  // model centred under it.
  const int centres[2] = {96, 289};
  hdd1Picture_ = MakeLabel(page, "Image4", "", QRect(centres[0] - 45, 112, 90, 80));
  hdd2Picture_ = MakeLabel(page, "Image5", "", QRect(centres[1] - 45, 112, 90, 80));
  DrawDrivePictures();
  MakeBoldLabel(page, "Label_HDD1", "HDD1", QRect(centres[0] - 45, 192, 90, 16))->setAlignment(Qt::AlignCenter);
  MakeBoldLabel(page, "Label_HDD2", "HDD2", QRect(centres[1] - 45, 192, 90, 16))->setAlignment(Qt::AlignCenter);

  arrayStateLabel_ = MakeLabel(page, "Label18", "", QRect(centres[0] + 45, 112, centres[1] - centres[0] - 90, 80));
  arrayStateLabel_->setAlignment(Qt::AlignCenter);
  QFont stateFont = arrayStateLabel_->font();
  stateFont.setBold(true);
  stateFont.setPixelSize(15);
  arrayStateLabel_->setFont(stateFont);
  arrayStateLabel_->setStyleSheet("color: #FF00FF;");

  // The capacity texts end in a line feed: their labels have room for it.
  auto bay = [&](int cx, const char* captionName, const char* capName, const char* modelName, QLabel*& cap,
                 QLabel*& model) {
    MakeBoldLabel(page, captionName, "Capacity", QRect(cx - 70, 212, 66, 18))
        ->setAlignment(Qt::AlignRight | Qt::AlignTop);
    cap = MakeLabel(page, capName, "", QRect(cx, 212, 90, 36));
    cap->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    model = MakeLabel(page, modelName, "", QRect(cx - 90, 234, 180, 32));
    model->setWordWrap(true);
    model->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  };
  bay(centres[0], "Label_Capacity1", "Label25", "Label51", hdd1CapacityLabel_, hdd1IdentityLabel_);
  bay(centres[1], "Label_Capacity2", "Label26", "Label52", hdd2CapacityLabel_, hdd2IdentityLabel_);

  hdd1ScanButton_ = MakeServiceControl<QPushButton>(page, "Button3", QRect(8, 264, 110, 22), "Start P0 Scan", this,
                                                    [this] { ScanButtonClick(0); });
  hdd2ScanButton_ = MakeServiceControl<QPushButton>(page, "Button4", QRect(198, 264, 100, 22), "Start P1 Scan", this,
                                                    [this] { ScanButtonClick(1); });

  // Fan and temperature: captions bold like those above, values plain,
  // each followed by its unit.
  environmentPanel_ = new QWidget(page);
  environmentPanel_->setObjectName("Panel11");
  environmentPanel_->setGeometry(8, 290, 286, 24);
  MakeBoldLabel(environmentPanel_, "Label_Fan", "Fan:", QRect(6, 2, 34, 20));
  fanSpeedLabel_ = MakeLabel(environmentPanel_, "Label5", "", QRect(40, 2, 42, 20));
  fanSpeedLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  MakeLabel(environmentPanel_, "Label_Rpm", "RPM", QRect(86, 2, 34, 20));
  MakeBoldLabel(environmentPanel_, "Label_Temperature", "Temperature:", QRect(124, 2, 100, 20));
  temperatureLabel_ = MakeLabel(environmentPanel_, "Label7", "", QRect(224, 2, 26, 20));
  temperatureLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  MakeLabel(environmentPanel_, "Label_TemperatureUnit", QString::fromUtf8("\u00B0C"), QRect(252, 2, 18, 20));
  auto* thermo = MakeLabel(environmentPanel_, "Image_Thermometer", "", QRect(272, 2, 12, 20));
  thermo->setPixmap(art::ThermometerPicture(12, 20, Dpr()));
  environmentPanel_->hide();

  // Screen readers name the values by what they are.
  const std::pair<QLabel*, const char*> names[] = {{modeLabel_, "Mode"},
                                                   {arrayCapacityLabel_, "System capacity"},
                                                   {firmwareVersionLabel_, "Firmware version"},
                                                   {arrayStateLabel_, "Array state"},
                                                   {hdd1CapacityLabel_, "HDD1 capacity"},
                                                   {hdd1IdentityLabel_, "HDD1 model"},
                                                   {hdd2CapacityLabel_, "HDD2 capacity"},
                                                   {hdd2IdentityLabel_, "HDD2 model"},
                                                   {fanSpeedLabel_, "Fan speed in RPM"},
                                                   {temperatureLabel_, "Temperature"},
                                                   {hdd1Picture_, "HDD1 drive bay"},
                                                   {hdd2Picture_, "HDD2 drive bay"}};
  for (const auto& [label, name] : names) label->setAccessibleName(name);

  eventLogButton_ = new PictureButton(page, "Image0_Log", "Event log");
  eventLogButton_->setGeometry(300, 286, 76, 30);
  eventLogButton_->setPicture(art::LogPicture(76, 30, Dpr()));
  eventLogButton_->setPressedEffect(true);
  eventLogButton_->hide();
  connect(eventLogButton_, &QAbstractButton::clicked, this, [this] { EventLogClick(); });
}

void MainWindow::BuildPlainPages() {
  // Setup (reached only in service mode, by the navigation mask).
  BuildSetupPage(pages_->widget(notebook_page::kSetup));
  BuildUpgradePage(pages_->widget(notebook_page::kUpgrade));

  // E-mail.
  emailPage_ = new EmailPage(pages_->widget(notebook_page::kEmail), *mailPage_, *notifier_, *this, Dpr());

  // About.
  QWidget* about = pages_->widget(notebook_page::kAbout);
  auto* logo = MakeLabel(about, "Image_AboutLogo", "", QRect(108, 40, 169, 80));
  logo->setPixmap(art::LogoPicture(169, 80, Dpr()));
  auto* title = MakeLabel(about, "Label_AboutTitle", Text(kAppTitle), QRect(0, 140, 385, 28));
  title->setAlignment(Qt::AlignCenter);
  QFont f = title->font();
  f.setBold(true);
  f.setPixelSize(20);
  title->setFont(f);
  auto* version = MakeLabel(about, "Label65", Text(kAppVersion), QRect(0, 172, 385, 22));
  version->setAlignment(Qt::AlignCenter);
  MakeLabel(about, "Label_AboutText", "Monitoring and maintenance of two-drive RAID enclosures.",
            QRect(0, 210, 385, 22))
      ->setAlignment(Qt::AlignCenter);
}

namespace {
// A warning on a maintenance page: red, wrapped, read from the top left.
void MakeWarning(QWidget* page, const char* name, const QString& text, const QRect& r) {
  auto* l = MakeWidget<QLabel>(page, name, r, text);
  l->setWordWrap(true);
  l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  l->setStyleSheet("color: #D00000;");
}

// The framed panel of a running operation, named `name`: its caption
// (`name`_Caption, bold and centred) at `captionTop` and a line of text
// (`textName`) at `textTop`. The caller adds what else the panel shows.
std::tuple<QFrame*, QLabel*, QLabel*> MakeProgressPanel(QWidget* page, const char* name, const QRect& r,
                                                        const QFont& bold, int captionTop, const char* textName,
                                                        int textTop) {
  auto* frame = MakeWidget<QFrame>(page, name, r);
  frame->setFrameShape(QFrame::StyledPanel);
  auto* caption = MakeWidget<QLabel>(frame, QString(name) + "_Caption", QRect(4, captionTop, r.width() - 8, 20), "");
  caption->setAlignment(Qt::AlignCenter);
  caption->setFont(bold);
  auto* text = MakeWidget<QLabel>(frame, textName, QRect(8, textTop, r.width() - 16, 20), "");
  return {frame, caption, text};
}

// The bar inside a progress panel: it goes with the panel, and starts at 0.
QProgressBar* MakePanelBar(QWidget* panel, const char* name, int maximum) {
  auto* bar = new QProgressBar(panel);
  bar->setObjectName(name);
  bar->setGeometry(6, 54, panel->width() - 12, 18);
  bar->setMaximum(maximum);
  bar->setValue(0);
  return bar;
}
}  // namespace

void MainWindow::BuildUpgradePage(QWidget* upg) {
  for (int s = 0; s < 2; ++s) {
    upgradeTabs_[s] =
        MakeTab(upg, s == 0 ? "Image2_D1" : "Image2_D2", s == 0 ? "Device1" : "Device2", QRect(8 + s * 94, 4, 90, 26));
    upgradeTabs_[s]->setToolTipDuration(kHintMs);
    upgradeTabs_[s]->hide();
    connect(upgradeTabs_[s], &QAbstractButton::clicked, this,
            [this, s] { upgrade_->SelectSlot(static_cast<uint8_t>(s)); });
  }
  QLabel* caption = MakeLabel(upg, "Label_UpgradeFirmware", "Firmware Version:", QRect(14, 44, 125, 20));
  QFont bold = caption->font();
  bold.setBold(true);
  caption->setFont(bold);
  upgradeFirmwareVersionLabel_ = MakeLabel(upg, "Label54", "", QRect(140, 44, 230, 20));
  upgradeFirmwareVersionLabel_->setAccessibleName("Firmware version");
  firmwareFileEdit_ = new QLineEdit(upg);
  firmwareFileEdit_->setObjectName("Edit9");
  firmwareFileEdit_->setGeometry(14, 72, 357, 22);
  firmwareFileEdit_->setReadOnly(true);
  firmwareFileEdit_->setAccessibleName("Firmware file");

  loadButton_ = MakeLabelledButton(upg, "Image2_Load", "Load", QRect(40, 104, 120, 32), Dpr());
  loadButton_->setEnabled(false);
  connect(loadButton_, &QAbstractButton::clicked, this, [this] { LoadFirmwareClick(); });
  upgradeButton_ = MakeLabelledButton(upg, "Image2_Upgrade", "Upgrade", QRect(220, 104, 120, 32), Dpr());
  upgradeButton_->setEnabled(false);
  connect(upgradeButton_, &QAbstractButton::clicked, this, [this] { UpgradeFirmwareClick(); });
  auto* makeBin = new QPushButton("Make Bin...", upg);
  makeBin->setObjectName("Button_MakeBin");
  makeBin->setGeometry(289, 6, 82, 24);
  makeBin->setToolTip("Build a firmware image from a boot loader and sub-codes (Ctrl+M)");
  connect(makeBin, &QPushButton::clicked, this, [this] { OpenImageBuilder(); });

  MakeWarning(upg, "Label_UpgradeWarning",
              "Keep the enclosure powered and connected until the upgrade has ended: an interrupted "
              "upgrade can leave it unable to start.\nStop any rebuild or scan first, and power the "
              "enclosure off and on again afterwards.",
              QRect(14, 146, 357, 76));

  // The progress of a running upgrade (hidden otherwise).
  std::tie(upgradeProgressPanel_, upgradeProgressCaption_, upgradeProgressText_) =
      MakeProgressPanel(upg, "Panel1", QRect(14, 230, 357, 84), bold, 4, "Label12", 28);
  upgradeProgressBar_ = MakePanelBar(upgradeProgressPanel_, "ProgressBar1", static_cast<int>(kUpgradeProgressMax));
  upgradeProgressPanel_->hide();
}

void MainWindow::BuildSetupPage(QWidget* setup) {
  const char* tabNames[2] = {"Image1_Initialize", "Image1_Schedule"};
  const char* tabLabels[2] = {"Initialize", "Schedule"};
  for (int t = 0; t < 2; ++t) {
    const QRect r(8 + t * 94, 4, 90, 26);
    setupTabs_[t] = MakeTab(setup, tabNames[t], tabLabels[t], r);
    setupTabYellow_[t] = MakePictureStore(setup, QString(tabNames[t]) + "_Yellow",
                                          art::TabPicture(tabLabels[t], true, 90, 26, Dpr()), r);
    setupTabWhite_[t] = MakePictureStore(setup, QString(tabNames[t]) + "_White",
                                         art::TabPicture(tabLabels[t], false, 90, 26, Dpr()), r);
  }
  connect(setupTabs_[0], &QAbstractButton::clicked, this, [this] { setup_->ShowInitialize(); });
  connect(setupTabs_[1], &QAbstractButton::clicked, this, [this] { setup_->ShowSchedule(); });

  setupSubPages_ = new QStackedWidget(setup);
  setupSubPages_->setObjectName("Notebook3");
  setupSubPages_->setGeometry(8, 36, 369, 196);
  auto* initialize = new QWidget;
  initialize->setObjectName("Page_Default");
  auto* schedule = new QWidget;
  schedule->setObjectName("Page_1");
  setupSubPages_->addWidget(initialize);
  setupSubPages_->addWidget(schedule);

  // Initialize: the warning, then the progress panel of a running
  // initialisation.
  QLabel* intro = MakeLabel(initialize, "Label2", "Initialize sets up the enclosure's two drives as a new array.",
                            QRect(6, 8, 357, 36));
  intro->setWordWrap(true);
  QFont bold = intro->font();
  bold.setBold(true);
  intro->setFont(bold);
  MakeWarning(initialize, "Label3",
              "It formats both drives: every partition and all data on them is lost. Save your data "
              "first, and keep the enclosure powered until it has ended.",
              QRect(6, 46, 357, 54));
  // Its bar is part of it, as on the Upgrade page: both go when the
  // initialisation has ended, and the next one starts the bar at 0.
  std::tie(stepPanel_, stepPanelCaption_, stepText_) =
      MakeProgressPanel(initialize, "Panel8", QRect(6, 106, 357, 84), bold, 4, "Label1", 28);
  setupProgressBar_ = MakePanelBar(stepPanel_, "ProgressBar2", 100);
  stepPanel_->hide();

  // Schedule: the switch, the four periods with their clocks, the message.
  scheduleBackupBox_ = new QCheckBox("Schedule Backup enable", schedule);
  scheduleBackupBox_->setObjectName("CheckBox_Backup");
  scheduleBackupBox_->setGeometry(8, 6, 300, 22);
  connect(scheduleBackupBox_, &QCheckBox::clicked, this, [this](bool on) { ScheduleSwitchClick(on); });
  periodGroup_ = new QButtonGroup(this);
  const char* radioNames[4] = {"RadioButton_10min", "RadioButton_30min", "RadioButton_1Hour", "RadioButton_3Hour"};
  const char* radioLabels[4] = {"10 minutes", "30 minutes", "1 hour", "3 hours"};
  // Each period takes the width its caption needs in the font at hand, the
  // room left over shared out evenly; its clock sits centred above it.
  int spare = 357;
  for (int i = 0; i < 4; ++i) {
    periodButtons_[i] = new QRadioButton(radioLabels[i], schedule);
    periodButtons_[i]->setObjectName(radioNames[i]);
    spare -= periodButtons_[i]->sizeHint().width();
    periodGroup_->addButton(periodButtons_[i], i);
    connect(periodButtons_[i], &QRadioButton::clicked, this, [this, i] { setup_->SelectPeriod(i); });
  }
  for (int i = 0, left = 6; i < 4; ++i) {
    const int width = periodButtons_[i]->sizeHint().width() + std::max(0, spare / 4);
    periodButtons_[i]->setGeometry(left, 92, width, 22);
    auto* clock = MakeLabel(schedule, QString("Image_Clock%1").arg(kBackupPeriods[static_cast<size_t>(i)]), "",
                            QRect(left + (width - 48) / 2, 38, 48, 48));
    clock->setPixmap(art::ClockPicture(kBackupPeriods[static_cast<size_t>(i)], 48, Dpr()));
    clock->setAccessibleName(radioLabels[i]);
    left += width;
  }
  backupMessageLabel_ = MakeLabel(schedule, "Label_Backup_mess", "Schedule Backup Disable", QRect(8, 130, 353, 22));
  backupMessageLabel_->setFont(bold);
  backupMessageLabel_->hide();

  setButton_ = MakeLabelledButton(setup, "Image1_Set", "Set", QRect(140, 240, 100, 30), Dpr());
  connect(setButton_, &QAbstractButton::clicked, this, [this] { SetButtonClick(); });
  SetupPageChanged();
}

void MainWindow::SetMaintenanceMode(bool on) {
  maintenance_ = on;
  if (on) {
    setup_->ConfirmInitialize = [this](const std::string& question) {
      return ShowMessage({question, setup_text::kCaption, BoxIcon::Warning, BoxButtons::YesNo}) == BoxResult::Yes;
    };
  } else {
    setup_->ConfirmInitialize = nullptr;
  }
}

void MainWindow::SetButtonClick() {
  if (!ShowsService()) {
    setup_->SetClick();
    return;
  }
  const SetupPageModel& m = setup_->Model;
  const int slot = Core().Focus().StatusSlot();
  if (m.SetupSubPage == 1) {
    // Switching on needs a period, as on the enclosure itself.
    if (m.ScheduleChecked && m.PeriodChecked < 0) {
      SetPanelText(kMessagePanel, setup_text::kChoosePeriod);
      return;
    }
    nlohmann::json r = {{"op", "schedule"}, {"slot", slot}, {"on", m.ScheduleChecked}};
    if (m.ScheduleChecked) r["period"] = kBackupPeriods[static_cast<size_t>(m.PeriodChecked)];
    AskServiceChange(std::move(r));
    return;
  }
  if (maintenance_ && ShowMessage({setup_->InitializeQuestion(), setup_text::kCaption, BoxIcon::Warning,
                                   BoxButtons::YesNo}) != BoxResult::Yes)
    return;
  AskServiceChange({{"op", "initialize"}, {"slot", slot}});
}

void MainWindow::ScheduleSwitchClick(bool on) {
  if (!ShowsService()) {
    setup_->ScheduleSwitchClick(on);
    return;
  }
  // Switching off is sent at once; switching on waits for "Set".
  setup_->Model.ScheduleChecked = on;
  if (!on) AskServiceChange({{"op", "schedule"}, {"slot", Core().Focus().StatusSlot()}, {"on", false}});
}

void MainWindow::ScanButtonClick(uint8_t drive) {
  if (!ShowsService()) {
    setup_->ScanClick(drive);
    return;
  }
  const int slot = Core().Focus().StatusSlot();
  bool stop = false;
  if (Core().Monitoring().ScanRunning[static_cast<size_t>(slot % 4)]) {
    if (ShowMessage({drive == 0 ? setup_text::kTerminateHdd1 : setup_text::kTerminateHdd2, "Message", BoxIcon::Question,
                     BoxButtons::YesNo}) != BoxResult::Yes)
      return;
    stop = true;
  }
  AskServiceChange({{"op", "scan"}, {"slot", slot}, {"drive", drive + 1}, {"stop", stop}});
}

void MainWindow::OptionSwitchClick() {
  if (!ShowsService()) {
    setup_->BuzzerMuteClick();
    return;
  }
  // The switches travel with the schedule command: the enclosure's own
  // schedule is sent back with them.
  const int slot = Core().Focus().StatusSlot();
  if (!Core().StatusRecordRead(slot)) return;
  const DecodedStatus st = DecodeStatus(Core().StatusRecordOf(slot), FirmwareInfo{});
  AskServiceChange({{"op", "schedule"}, {"slot", slot}, {"on", st.scheduleOn}});
}

void MainWindow::SetupPageChanged() {
  const SetupPageModel& m = setup_->Model;
  for (int t = 0; t < 2; ++t)
    setupTabs_[t]->setPicture((m.SetupSubPage == t ? setupTabYellow_[t] : setupTabWhite_[t])->pixmap());
  setupSubPages_->setCurrentIndex(m.SetupSubPage);
  scheduleBackupBox_->setChecked(m.ScheduleChecked);
  scheduleBackupBox_->setEnabled(m.ScheduleSwitchEnabled);
  // Loading unchecks all four; a group keeps one checked unless told not to.
  periodGroup_->setExclusive(false);
  for (int i = 0; i < 4; ++i) periodButtons_[i]->setChecked(m.PeriodChecked == i);
  periodGroup_->setExclusive(true);
  backupMessageLabel_->setText(Text(m.ScheduleMessage));
  backupMessageLabel_->setVisible(m.ScheduleMessageVisible);
  setButton_->setVisible(m.SetButtonVisible);
  stepText_->setText(Text(m.StepText));
  stepPanelCaption_->setText(Text(m.StepPanelCaption));
  stepPanel_->setVisible(m.StepPanelVisible);
  setupProgressBar_->setMaximum(static_cast<int>(m.ProgressMax));
}

void MainWindow::EmailNavClick() {
  if (Core().SelectPage(ShownPage::Email)) emailPage_->Enter();
}

void MainWindow::UpgradeNavClick() {
  if (Core().SelectPage(ShownPage::Upgrade)) upgrade_->RedrawHeader();
}

void MainWindow::LoadFirmwareClick() {
  if (!upgrade_->LoadAllowed()) return;
  const QString name = ChooseFirmwareFile ? ChooseFirmwareFile()
                                          : QFileDialog::getOpenFileName(this, "Open", QString(),
                                                                         "Binary code (*.bin);;All files (*.*)");
  if (name.isEmpty()) return;
  LoadFirmwareFile(FromQt(name));
}

void MainWindow::LoadFirmwareFile(const std::string& fileName) {
  if (!upgrade_->LoadAllowed()) return;
  // Panel 4 takes the rest of the bar, so the whole file name shows.
  int rest = statusBar_->width();
  for (int i = 0; i < 4; ++i) rest -= panels_[static_cast<size_t>(i)]->width();
  if (rest > 0) panels_[4]->setFixedWidth(rest);
  LayoutPanels();
  upgrade_->LoadImageFile(fileName);
}

void MainWindow::UpgradeFirmwareClick() {
  if (ShowsService()) return ServiceUpgradeClick();
  // The page's slot is chosen now: later selections do not move the
  // operation.
  // One upgrade at a time: a click while one runs or waits to start is
  // ignored, as the window always did.
  if (upgrade_->Running() || !Core().OperationAllowed()) return;
  const uint8_t slot = Core().Focus().UpgradeSlot();
  upgrade_->Queue();
  runtime_->Jobs().Run([this, slot](MainThreadInvoker& main) { upgrade_->Upgrade(slot, main); },
                       [this] {
                         // A close confirmed during the upgrade happens now
                         // that it has ended.
                         if (closeAfterUpgrade_ && !upgrade_->Running())
                           QTimer::singleShot(0, this, [this] { close(); });
                       });
}

void MainWindow::UpgradePageChanged() {
  const UpgradePageModel& m = upgrade_->Model;
  upgradeProgressCaption_->setText(Text(m.ProgressPanelCaption));
  upgradeProgressText_->setText(Text(m.ProgressText));
  upgradeProgressBar_->setMaximum(static_cast<int>(m.ProgressMax));
  upgradeProgressPanel_->setVisible(m.ProgressPanelVisible);
  firmwareFileEdit_->setText(ToQt(m.FileNameText));
  upgradeFirmwareVersionLabel_->setText(Text(m.FirmwareVersionText));
  for (auto* box : slotBoxes_) box->setEnabled(m.SlotBoxesEnabled);
}

std::string MainWindow::PanelText(StatusBarPanel panel) const {
  if (!IsStatusBarPanel(panel)) return {};
  return FromQt(panels_[static_cast<size_t>(panel)]->text());
}

void MainWindow::FormCreate(bool pace) {
#ifdef _WIN32
  RegisterUsbDeviceNotifications(reinterpret_cast<void*>(winId()));
#endif
  // The Setup button only in service mode.
  LayoutNavigation(maintenance_ ? 0x1F : 0x1D);
  if (maintenance_) {
    for (QWidget* w : {static_cast<QWidget*>(buzzerMuteBox_), static_cast<QWidget*>(autoScanBox_), emailButton_,
                       static_cast<QWidget*>(hdd1ScanButton_), static_cast<QWidget*>(hdd2ScanButton_)})
      w->show();
  }
  for (auto& n : nav_) n.button->setEnabled(false);
  RedrawNavigation();
  // Where the day log goes, until the device operations need the panel.
  SetPanelText(kMessagePanel,
               ShowsService() ? "Showing the monitor service at " + serviceAddress_ : "Day log folder: " + logDir_);
  runtime_->Start(pace);
  if (feed_) feed_->Start();
}

namespace {

// The event a service line names, for the tray.
std::optional<RaidEvent> ServedEvent(const nlohmann::json& e) {
  if (!e.is_object()) return std::nullopt;
  const std::string kind = JsonText(e, "kind");
  for (int k = 0; k <= static_cast<int>(EventKind::BadSectors); ++k) {
    if (kind != EventKindName(static_cast<EventKind>(k))) continue;
    RaidEvent ev;
    ev.kind = static_cast<EventKind>(k);
    const nlohmann::json slot = JsonField(e, "slot"), drive = JsonField(e, "drive");
    ev.slot = slot.is_number_integer() ? std::clamp(slot.get<int>(), 0, kMaxSlots - 1) : 0;
    ev.drive = drive.is_number_integer() ? std::clamp(drive.get<int>(), -1, 1) : -1;
    return ev;
  }
  return std::nullopt;
}

}  // namespace

void MainWindow::ShowService(const std::string& address, sim::SimDeviceIo& sim) {
  serviceAddress_ = address;
  mirror_ = std::make_unique<ServiceMirror>(sim);
  // The service writes the day log and sends the mails.
  Core().Log().SetFileless();
  Core().SetMailHandler(nullptr);
  ServiceFeed::Handlers h;
  h.connected = [this](const std::vector<std::string>& log, const nlohmann::json& hello) {
    runtime_->Post([this, log, hello] {
      serviceMayChange_ = JsonFlag(hello, "changes");
      serviceRefusal_ = JsonText(hello, "refusal", "the monitor service makes no changes");
      ApplyServiceRights();
      serviceLog_ = log;
      // Said once on stderr, for whoever started the window from a shell.
      if (!serviceAnswered_)
        std::fprintf(stderr, "raidgui: the monitor service at %s answers\n", serviceAddress_.c_str());
      serviceAnswered_ = true;
      pages_->setEnabled(true);
      SetPanelText(kMessagePanel, "Showing the monitor service at " + serviceAddress_);
    });
  };
  h.lost = [this](const std::string& why) {
    runtime_->Post([this, why] {
      // The last state stays, greyed: it is no longer the enclosures' own.
      pages_->setEnabled(false);
      SetPanelText(kMessagePanel, "The monitor service at " + serviceAddress_ + " does not answer (" + why +
                                      "); the page shows its last state");
    });
  };
  h.line = [this](const std::string& line, const nlohmann::json& event) {
    runtime_->Post([this, line, event] {
      serviceLog_.push_back(line);
      const std::optional<RaidEvent> ev = ServedEvent(event);
      if (DayLogHook) DayLogHook(DayLogEntry{serviceLog_.back(), ev ? &*ev : nullptr, JsonFlag(event, "headline")});
    });
  };
  h.mirror = [this](const nlohmann::json& mirror) {
    runtime_->Post([this, mirror] {
      if (const Outcome applied = mirror_->Apply(mirror); !applied)
        SetPanelText(kMessagePanel, "The monitor service sent a mirror that is not taken: " + applied.error());
    });
  };
  feed_ = std::make_unique<ServiceFeed>(address, std::move(h));
  emailPage_->EnterOverride = [this] { ServiceMailPage(false); };
  emailPage_->OkOverride = [this] { ServiceMailPage(true); };
  emailPage_->TestMailOverride = [this] { ServiceTestMail(); };
  connect(runtime_.get(), &CoreRuntime::Stepped, this, [this] { ApplyServiceRights(); });
}

void MainWindow::ApplyServiceRights() {
  if (!ShowsService()) return;
  const bool may = serviceMayChange_ && !change_->Running();
  const QString tip = serviceMayChange_ ? QString() : ToQt("Refused: " + serviceRefusal_);
  for (QWidget* w : {static_cast<QWidget*>(upgradeButton_), static_cast<QWidget*>(setButton_),
                     static_cast<QWidget*>(hdd1ScanButton_), static_cast<QWidget*>(hdd2ScanButton_),
                     static_cast<QWidget*>(buzzerMuteBox_), static_cast<QWidget*>(autoScanBox_),
                     static_cast<QWidget*>(scheduleBackupBox_)}) {
    if (!may && w->isEnabled()) w->setEnabled(false);
    if (w->toolTip() != tip) w->setToolTip(tip);
  }
  if (may && !upgradeButton_->isEnabled()) upgradeButton_->setEnabled(true);
  if (may && !setButton_->isEnabled()) setButton_->setEnabled(true);
}

void MainWindow::AskServiceChange(nlohmann::json request, std::function<void(const nlohmann::json&)> then) {
  if (change_->Running()) return;
  if (!serviceMayChange_) {
    ShowMessage({"Refused: " + serviceRefusal_, "Message", BoxIcon::Warning, BoxButtons::Ok});
    return;
  }
  request["id"] = nextChangeId_++;
  auto done = [this, then = std::move(then)](bool ok, const nlohmann::json& answer) {
    runtime_->Post([this, ok, answer, then] {
      if (ok && then) then(answer);
      ServiceChangeEnded(ok, answer);
    });
  };
  change_->Start(
      serviceAddress_, std::move(request), [](const nlohmann::json&) {}, done);
  ApplyServiceRights();
}

void MainWindow::ServiceMailPage(bool send) {
  nlohmann::json request = {{"op", "mail-page"}};
  if (send) {
    request["page"] = mailPage_->PageJson();
    if (mailPage_->Model.MailPageDirty & mail_dirty::kPassword) request["password"] = mailPage_->Model.Password;
  }
  AskServiceChange(std::move(request), [this](const nlohmann::json& answer) {
    const nlohmann::json page = JsonField(answer, "page");
    if (!page.is_object()) return;
    mailPage_->ShowPageJson(page);
    emailPage_->Redraw();
  });
}

void MainWindow::ServiceTestMail() {
  // The window's own texts for the outcome, from what raidctl test-mail
  // would have printed.
  AskServiceChange({{"op", "test-mail"}}, [this](const nlohmann::json& answer) {
    const std::string out = JsonText(answer, "out");
    auto after = [&out](const std::string& mark) {
      std::string rest = out.substr(out.find(mark) + mark.size());
      while (!rest.empty() && rest.front() == '\n') rest.erase(0, 1);
      while (!rest.empty() && rest.back() == '\n') rest.pop_back();
      return rest;
    };
    if (out.find("Send mail Success!") != std::string::npos) {
      const std::string refused = after("Send mail Success!");
      ShowNotice({"The test mail was sent." + (refused.empty() ? "" : "\n" + refused), "E-Mail Message",
                  BoxIcon::Information, BoxButtons::Ok});
    } else if (out.find("Send mail failed: ") != std::string::npos) {
      ShowNotice({"The test mail could not be sent: " + after("Send mail failed: "), "E-Mail Message", BoxIcon::Warning,
                  BoxButtons::Ok});
    } else {
      std::string why = JsonText(answer, "err");
      if (why.rfind("raidctl: ", 0) == 0) why.erase(0, 9);
      while (!why.empty() && why.back() == '\n') why.pop_back();
      ShowNotice({"The test mail cannot be sent: " + why, "E-Mail Message", BoxIcon::Warning, BoxButtons::Ok});
    }
  });
}

void MainWindow::ServiceChangeEnded(bool ok, const nlohmann::json& answer) {
  ApplyServiceRights();
  if (!ok) {
    ShowMessage({"The monitor service at " + serviceAddress_ + ": " +
                     (answer.is_string() ? answer.get<std::string>() : std::string("no answer")) +
                     " (the change may still be made there: see its day log)",
                 "Message", BoxIcon::Warning, BoxButtons::Ok});
    return;
  }
  // The command's own failure line when it said no more than that.
  const std::string panel = JsonText(answer, "panel");
  std::string err = JsonText(answer, "err");
  if (!err.empty() && err.back() == '\n') err.pop_back();
  if (err.rfind("raidctl: ", 0) == 0) err.erase(0, 9);
  if (!panel.empty())
    SetPanelText(kMessagePanel, panel);
  else if (!err.empty())
    SetPanelText(kMessagePanel, err);
  const nlohmann::json boxes = JsonField(answer, "boxes");
  for (const nlohmann::json& b : boxes.is_array() ? boxes : nlohmann::json::array()) ShowMessage(BoxFromJson(b));
}

void MainWindow::ServiceUpgradeClick() {
  if (change_->Running()) return;
  if (!serviceMayChange_) {
    ShowMessage({"Refused: " + serviceRefusal_, "Message", BoxIcon::Warning, BoxButtons::Ok});
    return;
  }
  if (!upgrade_->ImageLoaded()) {
    ShowMessage({upgrade_text::kLoadFirst, "Message", BoxIcon::None, BoxButtons::Ok});
    return;
  }
  const std::vector<uint8_t>& image = upgrade_->Image();
  nlohmann::json request = {
      {"op", "upgrade"},
      {"id", nextChangeId_++},
      {"slot", Core().Focus().UpgradeSlot()},
      {"name", upgrade_->Model.FileNameText},
      {"image", Base64Encode(std::string_view(reinterpret_cast<const char*>(image.data()), image.size()))}};
  auto progress = [this](const nlohmann::json& p) {
    runtime_->Post([this, p] {
      UpgradePageModel& m = upgrade_->Model;
      m.ProgressPanelVisible = true;
      m.ProgressPanelCaption = JsonText(p, "caption");
      m.ProgressText = JsonText(p, "text");
      UpgradePageChanged();
      const int percent = static_cast<int>(std::clamp<int64_t>(JsonNumber(p, "percent"), 0, 100));
      upgradeProgressBar_->setValue(static_cast<int>(int64_t{percent} * m.ProgressMax / 100));
    });
  };
  auto done = [this](bool ok, const nlohmann::json& answer) {
    runtime_->Post([this, ok, answer] {
      upgrade_->Model.ProgressPanelVisible = false;
      UpgradePageChanged();
      ServiceChangeEnded(ok, answer);
    });
  };
  change_->Start(serviceAddress_, std::move(request), progress, done);
  ApplyServiceRights();
}

void MainWindow::LayoutNavigation(uint8_t mask) {
  int place = 0;
  for (int i = 0; i < 5; ++i) {
    NavEntry& n = nav_[static_cast<size_t>(i)];
    if (mask & (1u << i)) {
      const QRect r(kNavLeft, kNavTops[place], kNavW, kNavH);
      n.button->setGeometry(r);
      n.yellow->setGeometry(r);
      n.white->setGeometry(r);
      n.button->show();
      ++place;
    } else {
      n.button->hide();
    }
  }
}

void MainWindow::RedrawNavigation() {
  const int current = static_cast<int>(Core().Focus().Page());
  for (auto& n : nav_) n.button->setPicture((n.page == current ? n.yellow : n.white)->pixmap());
  pages_->setCurrentIndex(current);
  for (int s = 0; s < 2; ++s) {
    const bool sel = Core().Focus().StatusSlot() == s;
    statusTabs_[s]->setPicture((sel ? statusTabYellow_[s] : statusTabWhite_[s])->pixmap());
    const bool upSel = Core().Focus().UpgradeSlot() == s;
    upgradeTabs_[s]->setPicture((upSel ? statusTabYellow_[s] : statusTabWhite_[s])->pixmap());
  }
}

void MainWindow::EventLogClick() {
  if (logWindowOpen_) return;
  logWindowOpen_ = true;
  EventLogWindow window(Core(), this, ShowsService() ? &serviceLog_ : nullptr);
  logWindow_ = &window;
  window.exec();
  logWindow_ = nullptr;
  logWindowOpen_ = false;
}

void MainWindow::StatusBarDoubleClick() {
  std::string text;
  for (const auto& l : Core().SystemInfo()) text += l;
  ShowMessage({text, "System Information", BoxIcon::Information, BoxButtons::Ok});
}

bool MainWindow::eventFilter(QObject* o, QEvent* e) {
  if (e->type() == QEvent::MouseButtonDblClick) {
    StatusBarDoubleClick();
    return true;
  }
  return QWidget::eventFilter(o, e);
}

void MainWindow::closeEvent(QCloseEvent* e) {
  if (setup_->Running()) {
    // The initialisation's few steps run to their end; the window closes
    // after it.
    e->ignore();
    closeAfterInitialisation_ = true;
    return;
  }
  if (upgrade_->Running()) {
    // Closing (or SIGTERM) in the middle of an upgrade asks first; the
    // upgrade goes on unless the user says otherwise.
    e->ignore();
    if (stopQuestionOpen_ || closeAfterUpgrade_) return;
    stopQuestionOpen_ = true;
    const BoxResult answer = ShowMessage(
        {"A firmware upgrade is running.\nStop it at the next request and close the program?\n\nThe flash may be "
         "left half written, and the enclosure may not start until it is upgraded again.",
         "Firmware Upgrade Message", BoxIcon::Warning, BoxButtons::YesNo});
    stopQuestionOpen_ = false;
    if (answer == BoxResult::Yes && upgrade_->Running()) {
      closeAfterUpgrade_ = true;
      upgrade_->RequestStop();
    }
    return;
  }
  runtime_->Stop();
  // A mail still being sent is stopped: closing never waits for a server.
  notifier_->Stop(false);
  Core().SetMailHandler(nullptr);
  Core().Log().SaveNow();
  e->accept();
}

#ifdef _WIN32
bool MainWindow::nativeEvent(const QByteArray& type, void* message, qintptr* result) {
  auto* msg = static_cast<MSG*>(message);
  if (msg->message == WM_DEVICECHANGE) {
    Core().OnDeviceChange();
    *result = 0;
    return true;
  }
  return QWidget::nativeEvent(type, message, result);
}
#endif

void MainWindow::SetPanelText(StatusBarPanel panel, const std::string& text) {
  if (IsStatusBarPanel(panel)) panels_[static_cast<size_t>(panel)]->SetFullText(Text(text));
}

BoxResult MainWindow::ShowMessage(const MessageBoxRequest& box) {
  MessageBoxRequest b = box;
  if (b.caption.empty()) b.caption = AppTitleText();
  return ShowMessageBox(this, b);
}

void MainWindow::ShowNotice(const MessageBoxRequest& box) {
  MessageBoxRequest b = box;
  if (b.caption.empty()) b.caption = AppTitleText();
  ShowNoticeBox(this, b);
}

void MainWindow::ProcessMessages() { QCoreApplication::processEvents(); }

void MainWindow::DetectTextChanged(const std::string& text, bool visible) {
  detectionText_->setText(Text(text));
  detectionText_->setVisible(visible);
}

void MainWindow::NavigationEnabledChanged(bool enabled) {
  // Navigation is enabled exactly while an enclosure is ready; without one
  // the Status page's captions are the last ones read, shown greyed.
  if (stale_ == enabled) {
    stale_ = !enabled;
    StatusPageChanged();
  }
  for (auto& n : nav_) n.button->setEnabled(enabled);
  loadButton_->setEnabled(enabled);
  upgradeButton_->setEnabled(enabled);
}

void MainWindow::UpgradeButtonEnabledChanged(bool enabled) { upgradeButton_->setEnabled(enabled); }

void MainWindow::SlotControlsChanged(int slot, bool visible, bool checked) {
  if (slot < 0 || slot > 1) return;
  slotBoxes_[slot]->setChecked(checked);
  statusTabs_[slot]->setVisible(visible);
  upgradeTabs_[slot]->setVisible(visible);
}

void MainWindow::LogButtonVisibleChanged(bool visible) { eventLogButton_->setVisible(visible); }

void MainWindow::IdentityChanged() {
  const MonitorState& ms = Core().Monitoring();
  setWindowTitle(Text(ms.Caption));
  for (int s = 0; s < 2; ++s) {
    const QString hint = PlainToolTip(Text(ms.SlotNames[s]));
    slotBoxes_[s]->setToolTip(hint);
    statusTabs_[s]->setToolTip(hint);
    upgradeTabs_[s]->setToolTip(hint);
  }
}

void MainWindow::ApplyLabel(QLabel* l, const LabelModel& m) {
  l->setText(Text(m.text));
  l->setEnabled(m.enabled && !stale_);
  QPalette p = l->palette();
  p.setColor(QPalette::Active, QPalette::WindowText, ColorOf(m.color));
  p.setColor(QPalette::Inactive, QPalette::WindowText, ColorOf(m.color));
  l->setPalette(p);
}

void MainWindow::StatusPageChanged() {
  const StatusPageModel& m = Core().StatusModel();
  ApplyLabel(modeLabel_, m.ModeText);
  ApplyLabel(arrayCapacityLabel_, m.ArrayCapacityText);
  ApplyLabel(hdd1CapacityLabel_, m.Hdd1CapacityText);
  ApplyLabel(hdd1IdentityLabel_, m.Hdd1IdentityText);
  ApplyLabel(hdd2CapacityLabel_, m.Hdd2CapacityText);
  ApplyLabel(hdd2IdentityLabel_, m.Hdd2IdentityText);
  arrayStateLabel_->setText(Text(m.StateText.text));
  arrayStateLabel_->setStyleSheet(stale_ ? "color: #A0A0A0;" : "color: #FF00FF;");
  ApplyLabel(firmwareVersionLabel_, m.FirmwareVersionText);
  ApplyLabel(fanSpeedLabel_, m.FanSpeedText);
  ApplyLabel(temperatureLabel_, m.TemperatureText);
  environmentPanel_->setVisible(m.EnvironmentPanelVisible);
  environmentPanel_->setEnabled(!stale_);
  DrawDrivePictures();
  hdd1ScanButton_->setText(Text(m.Hdd1ScanButtonCaption));
  hdd2ScanButton_->setText(Text(m.Hdd2ScanButtonCaption));
  // Service mode keeps the scan buttons; otherwise nothing shows them.
  if (!m.Hdd1ScanButtonVisible && !maintenance_) hdd1ScanButton_->hide();
  if (!m.Hdd2ScanButtonVisible && !maintenance_) hdd2ScanButton_->hide();
  if (buzzerMuteBox_->isChecked() != m.BuzzerMuteChecked) buzzerMuteBox_->setChecked(m.BuzzerMuteChecked);
  if (autoScanBox_->isChecked() != m.AutoScanChecked) autoScanBox_->setChecked(m.AutoScanChecked);
}

void MainWindow::DrawDrivePictures() {
  // The state bits and activity of the Status page's slot: each bay's light
  // says present (green), failed (red), inserted or rebuilding (amber); an
  // absent drive leaves the bay empty; grey while nothing is known or the
  // state is stale.
  std::array<art::DriveLook, 2> looks{art::DriveLook::Unknown, art::DriveLook::Unknown};
  const RaidCore& core = runtime_->Core();
  const uint8_t slot = core.Focus().StatusSlot();
  if (!stale_ && core.Devices().DeviceCount > slot && core.StatusModel().Refreshes > 0) {
    const DecodedStatus s = DecodeStatus(core.StatusRecordOf(slot), ReadFirmware(core.IdentSectorOf(slot)));
    for (size_t x = 0; x < 2; ++x) {
      const DecodedDrive& d = s.drives[x];
      looks[x] = d.state == DriveState::Absent     ? art::DriveLook::Absent
                 : d.active                        ? art::DriveLook::Rebuilding
                 : d.state == DriveState::Present  ? art::DriveLook::Present
                 : d.state == DriveState::Failed   ? art::DriveLook::Failed
                 : d.state == DriveState::Inserted ? art::DriveLook::Inserted
                                                   : art::DriveLook::Unknown;
    }
  }
  QLabel* pictures[2] = {hdd1Picture_, hdd2Picture_};
  static const char* const kLookNames[] = {"unknown", "present", "failed", "absent", "inserted", "rebuilding"};
  for (int x = 0; x < 2; ++x) {
    const auto name = QString::fromLatin1(kLookNames[static_cast<int>(looks[x])]);
    if (pictures[x]->property("driveLook").toString() == name) continue;
    pictures[x]->setProperty("driveLook", name);
    pictures[x]->setPixmap(art::DrivePicture(90, 80, Dpr(), looks[x]));
  }
}

void MainWindow::NavigationChanged() { RedrawNavigation(); }

void MainWindow::ProgressChanged(ProgressBar bar, uint32_t value) {
  (bar == ProgressBar::Setup ? setupProgressBar_ : upgradeProgressBar_)->setValue(static_cast<int>(value));
}

void MainWindow::OptionControlsChanged() {
  const OptionHoldOff& c = Core().HoldOff();
  buzzerMuteBox_->setEnabled(c.OptionBoxesEnabled);
  autoScanBox_->setEnabled(c.AutoScanEnabled);
  hdd1ScanButton_->setEnabled(c.OptionBoxesEnabled);
  hdd2ScanButton_->setEnabled(c.OptionBoxesEnabled);
}

}  // namespace raid
