#include "app/raidgui/tray_monitor.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

#include "app/common/log_event.h"
#include "app/common/text.h"

namespace raid {

namespace {

class SystemTrayHost final : public TrayHost {
 public:
  explicit SystemTrayHost(QObject* parent) : icon_(parent) {
    QObject::connect(&icon_, &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason r) {
      if ((r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick) && OnActivated) OnActivated();
    });
  }
  bool Available() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }
  void SetVisible(bool v) override { icon_.setVisible(v); }
  void SetIcon(const QIcon& i) override { icon_.setIcon(i); }
  void SetToolTip(const QString& t) override { icon_.setToolTip(t); }
  void SetMenu(QMenu* m) override { icon_.setContextMenu(m); }
  void ShowMessage(const QString& title, const QString& text, bool warning) override {
    if (QSystemTrayIcon::supportsMessages())
      icon_.showMessage(title, text, warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information, 10000);
  }

 private:
  QSystemTrayIcon icon_;
};

}  // namespace

std::unique_ptr<TrayHost> MakeSystemTrayHost(QObject* parent) { return std::make_unique<SystemTrayHost>(parent); }

QColor HealthColour(Health h) {
  switch (h) {
    case Health::Healthy: return QColor(0x2e, 0xa0, 0x43);   // green
    case Health::Busy: return QColor(0xe0, 0x9a, 0x10);      // amber
    case Health::Degraded: return QColor(0xd0, 0x2b, 0x2b);  // red
    case Health::NoneFound: break;
  }
  return QColor(0x8a, 0x8a, 0x8a);  // grey
}

QIcon HealthIcon(Health h) {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // Two drive bays in the state's colour.
    const qreal m = size / 8.0, w = size - 2 * m, bay = (w - m) / 2;
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), std::max(1.0, size / 24.0)));
    p.setBrush(HealthColour(h));
    p.drawRoundedRect(QRectF(m, m, w, bay), m / 2, m / 2);
    p.drawRoundedRect(QRectF(m, m + bay + m, w, bay), m / 2, m / 2);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

QString HealthToolTip(const std::vector<EnclosureHealth>& list) {
  QString t = "RAID GUI";
  if (list.empty()) return t + "\nNo enclosure found";
  for (const auto& e : list) t += "\n" + ToQt(e.name + ": " + e.text);
  return t;
}

TrayMonitor::TrayMonitor(QWidget& window, const RaidCore& core, SettingsStore& store, std::unique_ptr<TrayHost> host,
                         bool minimized)
    : window_(window), core_(core), store_(store), host_(std::move(host)), minimized_(minimized) {
  showAction_ = menu_.addAction("Show RAID GUI");
  keepAction_ = menu_.addAction("Keep monitoring in the notification area");
  menu_.addSeparator();
  quitAction_ = menu_.addAction("Quit");
  keepAction_->setObjectName("KeepInTrayAction");
  keepAction_->setCheckable(true);
  connect(showAction_, &QAction::triggered, this, [this] { ShowWindow(); });
  connect(quitAction_, &QAction::triggered, this, [this] { RequestQuit(); });
  host_->OnActivated = [this] { ShowWindow(); };

  uint32_t stored = 0;
  if (store_.KeyExists()) (void)store_.ReadDword(kKeepInTraySetting, stored);
  keep_ = stored != 0;
  if (!host_->Available()) {
    // Greyed out with the reason, in its text and its tooltip.
    keepAction_->setEnabled(false);
    keepAction_->setText(keepAction_->text() + " (" + UnavailableReason() + ")");
    keepAction_->setToolTip(UnavailableReason());
    keep_ = false;
  }
  keepAction_->setChecked(keep_);
  connect(keepAction_, &QAction::toggled, this, [this](bool on) { SetKeep(on); });
  // Reached by a right click on the window, and in the tray's menu.
  window_.addAction(keepAction_);
  window_.setContextMenuPolicy(Qt::ActionsContextMenu);
  window_.installEventFilter(this);
  Activate(keep_ || (minimized_ && host_->Available()));
}

TrayMonitor::~TrayMonitor() {
  window_.removeEventFilter(this);
  host_->SetVisible(false);
}

QString TrayMonitor::UnavailableReason() const {
  return host_->Available() ? QString() : QString("this desktop has no notification area");
}

void TrayMonitor::Activate(bool on) {
  active_ = on && host_->Available();
  if (active_) {
    host_->SetMenu(&menu_);
    haveShown_ = false;
    Update();
  }
  host_->SetVisible(active_);
  // While the window only hides, closing it must not end the program.
  QApplication::setQuitOnLastWindowClosed(!active_);
}

void TrayMonitor::SetKeep(bool on) {
  keep_ = on;
  Outcome r;
  if (!store_.KeyExists()) r = store_.CreateKey();
  if (r.ok()) r = store_.WriteDword(kKeepInTraySetting, on ? 1u : 0u);
  if (!r.ok()) keepAction_->setToolTip(ToQt("The option could not be stored: " + r.error()));
  Activate(keep_ || (minimized_ && host_->Available()));
}

void TrayMonitor::RequestQuit() {
  // From here on closing really closes, also when the window closes itself
  // later (after an upgrade that was asked to stop).
  quitting_ = true;
  QApplication::setQuitOnLastWindowClosed(true);
  if (window_.close()) {
    host_->SetVisible(false);
    QApplication::quit();
  }
}

void TrayMonitor::ShowWindow() {
  window_.showNormal();
  window_.raise();
  window_.activateWindow();
}

void TrayMonitor::Update() {
  if (!active_) return;
  const auto list = EnclosureHealthOf(core_);
  const Health worst = WorstHealth(list);
  if (!haveShown_ || worst != shown_) {
    host_->SetIcon(HealthIcon(worst));
    shown_ = worst;
    haveShown_ = true;
  }
  const QString tip = HealthToolTip(list);
  if (tip != lastTip_) {
    host_->SetToolTip(tip);
    lastTip_ = tip;
  }
}

void TrayMonitor::OnDayLogEntry(const DayLogEntry& entry) {
  if (!active_) return;
  const std::optional<TrayNotice> notice = TrayNoticeOf(entry);
  if (notice) host_->ShowMessage(ToQt(notice->title), ToQt(entry.line), notice->warning);
}

bool TrayMonitor::eventFilter(QObject* o, QEvent* e) {
  if (o == &window_ && e->type() == QEvent::Close && active_ && !quitting_) {
    // Monitoring goes on in the notification area.
    window_.hide();
    e->ignore();
    return true;
  }
  return QObject::eventFilter(o, e);
}

}  // namespace raid
