// The notification area, offscreen with a fake tray: the icon's colour and
// tooltip follow the core's state, drive events become notifications, the
// stored option keeps the program in the tray, and where no tray exists the
// option is greyed out with the reason.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QImage>
#include <filesystem>

#include "app/common/options.h"
#include "app/raidgui/message_box.h"
#include "app/raidgui/main_window.h"
#include "app/raidgui/tray_monitor.h"
#include "app/common/text.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

struct FakeTray final : TrayHost {
  struct Message {
    std::string title, text;
    bool warning;
  };
  explicit FakeTray(bool available) : available(available) {}
  bool Available() const override { return available; }
  void SetVisible(bool v) override { visible = v; }
  void SetIcon(const QIcon& i) override {
    icon = i;
    ++iconChanges;
  }
  void SetToolTip(const QString& t) override { tip = FromQt(t); }
  void SetMenu(QMenu* m) override { menu = m; }
  void ShowMessage(const QString& title, const QString& text, bool warning) override {
    messages.push_back({FromQt(title), FromQt(text), warning});
  }
  bool available;
  bool visible = false;
  QIcon icon;
  int iconChanges = 0;
  std::string tip;
  QMenu* menu = nullptr;
  std::vector<Message> messages;
};

struct TrayRig {
  TrayRig(const std::string& scenario, bool available, bool keepStored, bool minimized = false) {
    dir = fs::temp_directory_path() /
          ("raidgui-tray-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir / "logs");
    ProgramOptions opt;
    opt.simulate = true;
    if (!scenario.empty()) {
      opt.scenario = (dir / "scenario.json").string();
      FILE* f = std::fopen(opt.scenario.c_str(), "w");
      std::fputs(scenario.c_str(), f);
      std::fclose(f);
    }
    std::string error;
    EXPECT_TRUE(BuildMachine(opt, machine, error)) << error;
    SetMessageBoxHook([](const MessageBoxRequest&) { return BoxResult::Ok; });
    form = std::make_unique<MainWindow>(machine, (dir / "logs").string(), nullptr, (dir / "config").string());
    form->FormCreate(false);
    store.exists = true;
    if (keepStored) store.values[kKeepInTraySetting] = {SettingsType::Dword, "", 1, {}};
    auto host = std::make_unique<FakeTray>(available);
    fake = host.get();
    tray = std::make_unique<TrayMonitor>(*form, form->Core(), store, std::move(host), minimized);
    form->DayLogHook = [this](const DayLogEntry& e) { tray->OnDayLogEntry(e); };
    if (tray->ShowWindowAtStart()) form->show();
  }
  ~TrayRig() {
    form->DayLogHook = nullptr;
    tray.reset();
    form->close();
    form.reset();
    SetMessageBoxHook(nullptr);
    QApplication::setQuitOnLastWindowClosed(true);
    fs::remove_all(dir);
  }
  void Run(int64_t ms) {
    for (int64_t t = 0; t < ms; t += 50) {
      form->Runtime().StepFor(50);
      QCoreApplication::processEvents();
      tray->Update();
    }
  }
  QColor IconColour() const {
    const QImage img = fake->icon.pixmap(32, 32).toImage();
    return img.pixelColor(16, 9);
  }
  fs::path dir;
  Machine machine;
  MemorySettingsStore store;
  std::unique_ptr<MainWindow> form;
  FakeTray* fake = nullptr;
  std::unique_ptr<TrayMonitor> tray;
};

const char* kRemovalThenFailure = R"({
  "clock": {"start": "2010-05-03 09:00:00", "speed": 1},
  "enclosures": [{"name": "E1", "transport": "read58", "status": {"hdd1": "present", "hdd2": "present"}}],
  "disks": [{"drive": 0, "enclosure": "E1"}],
  "timeline": [{"at": 6, "enclosure": "E1", "set": {"hdd2": "absent"}},
               {"at": 14, "enclosure": "E1", "set": {"hdd2": "inserted", "activity": 2, "progress": 3}},
               {"at": 22, "enclosure": "E1", "set": {"hdd2": "present", "activity": 0, "progress": 0}}]})";

TEST(Tray, IconTooltipAndNotificationsFollowTheEnclosure) {
  TrayRig rig(kRemovalThenFailure, true, true);
  ASSERT_TRUE(rig.tray->Active());
  EXPECT_TRUE(rig.fake->visible);
  EXPECT_EQ(rig.fake->menu != nullptr, true);
  rig.Run(4000);
  EXPECT_EQ(rig.tray->ShownHealth(), Health::Healthy);
  EXPECT_EQ(rig.fake->tip, "RAID GUI\nDevice1: Normal");
  EXPECT_EQ(rig.IconColour(), HealthColour(Health::Healthy));
  rig.Run(6000);
  EXPECT_EQ(rig.tray->ShownHealth(), Health::Degraded);
  EXPECT_EQ(rig.fake->tip, "RAID GUI\nDevice1: HDD2 missing");
  EXPECT_EQ(rig.IconColour(), HealthColour(Health::Degraded));
  ASSERT_FALSE(rig.fake->messages.empty());
  EXPECT_EQ(rig.fake->messages[0].title, "Drive removed");
  EXPECT_EQ(rig.fake->messages[0].text.rfind("D1 HDD2 was removed, ", 0), 0u) << rig.fake->messages[0].text;
  EXPECT_TRUE(rig.fake->messages[0].warning);
  rig.Run(8000);
  EXPECT_EQ(rig.tray->ShownHealth(), Health::Busy);
  EXPECT_EQ(rig.fake->tip, "RAID GUI\nDevice1: rebuilding 3%");
  rig.Run(8000);
  EXPECT_EQ(rig.tray->ShownHealth(), Health::Healthy);
  std::vector<std::string> titles;
  for (const auto& m : rig.fake->messages) titles.push_back(m.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"Drive removed", "Drive inserted", "Rebuild or scan finished"}));
  // Progress lines are not notified, and the icon is redrawn only on a
  // change: none found (before detection), healthy, degraded, busy, healthy.
  EXPECT_EQ(rig.fake->iconChanges, 5);
}

TEST(Tray, NoEnclosureIsGrey) {
  TrayRig rig(R"({"enclosures": []})", true, true);
  rig.Run(2000);
  EXPECT_EQ(rig.tray->ShownHealth(), Health::NoneFound);
  EXPECT_EQ(rig.fake->tip, "RAID GUI\nNo enclosure found");
  EXPECT_EQ(rig.IconColour(), HealthColour(Health::NoneFound));
}

TEST(Tray, OffByDefaultNothingChanges) {
  TrayRig rig(kRemovalThenFailure, true, false);
  EXPECT_FALSE(rig.tray->Active());
  EXPECT_FALSE(rig.fake->visible);
  rig.Run(10000);
  EXPECT_TRUE(rig.fake->messages.empty());
  EXPECT_TRUE(rig.tray->KeepAction().isEnabled());
  EXPECT_FALSE(rig.tray->KeepAction().isChecked());
  EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
  // Switching it on stores it and shows the icon at once.
  rig.tray->KeepAction().setChecked(true);
  EXPECT_EQ(rig.store.values[kKeepInTraySetting].number, 1u);
  EXPECT_TRUE(rig.tray->Active());
  EXPECT_TRUE(rig.fake->visible);
  EXPECT_EQ(rig.fake->tip, "RAID GUI\nDevice1: HDD2 missing");
}

TEST(Tray, ClosingHidesWhileKeptAndQuitEnds) {
  TrayRig rig(kRemovalThenFailure, true, true);
  rig.Run(1000);
  EXPECT_TRUE(rig.form->isVisible());
  EXPECT_FALSE(rig.form->close());  // only hidden
  EXPECT_FALSE(rig.form->isVisible());
  rig.Run(8000);  // monitoring goes on
  EXPECT_EQ(rig.tray->ShownHealth(), Health::Degraded);
  rig.tray->ShowAction().trigger();
  EXPECT_TRUE(rig.form->isVisible());
  rig.tray->QuitAction().trigger();
  EXPECT_FALSE(rig.form->isVisible());
  EXPECT_FALSE(rig.fake->visible);
}

TEST(Tray, MinimizedStartsInTheTrayWithoutTheOption) {
  TrayRig rig("", true, false, true);
  EXPECT_TRUE(rig.tray->Active());
  EXPECT_FALSE(rig.tray->ShowWindowAtStart());
  EXPECT_FALSE(rig.form->isVisible());
}

TEST(Tray, WithoutANotificationAreaTheOptionIsGreyedWithTheReason) {
  TrayRig rig("", false, true, true);
  EXPECT_FALSE(rig.tray->Active());
  EXPECT_TRUE(rig.tray->ShowWindowAtStart());  // --minimized cannot hide it
  EXPECT_TRUE(rig.form->isVisible());
  QAction& keep = rig.tray->KeepAction();
  EXPECT_FALSE(keep.isEnabled());
  EXPECT_FALSE(keep.isChecked());
  EXPECT_EQ(FromQt(keep.text()), "Keep monitoring in the notification area (this desktop has no notification area)");
  EXPECT_EQ(FromQt(keep.toolTip()), "this desktop has no notification area");
  // It is on the window's right-click menu, greyed there too.
  EXPECT_TRUE(rig.form->actions().contains(&keep));
  EXPECT_EQ(rig.form->contextMenuPolicy(), Qt::ActionsContextMenu);
  EXPECT_TRUE(rig.form->close());  // closing closes
}

}  // namespace
}  // namespace raid
