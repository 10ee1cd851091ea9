// The Setup page and the service-mode controls of the window on the
// simulated enclosure: hidden without --maintenance, and with it the
// schedule, a scan and the initialisation driven through the controls.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTimer>
#include <filesystem>

#include "app/common/options.h"
#include "app/raidgui/message_box.h"
#include "app/raidgui/main_window.h"
#include "simulated_window.h"

namespace raid {
namespace {

struct SetupWindow : test::SimulatedWindow {
  explicit SetupWindow(bool maintenance)
      : SimulatedWindow("raidgui-setup", test::WindowOptions().Before(
                                             [maintenance](MainWindow& f) { f.SetMaintenanceMode(maintenance); })) {}
  const std::vector<Sector>& Accepted() { return machine.sim->FindEnclosure("E1")->AcceptedCommands(); }
};

TEST(SetupPage, WithoutMaintenanceTheServiceControlsStayHidden) {
  SetupWindow w(false);
  EXPECT_FALSE(w.Find<QWidget>("Image_Setup")->isVisible());
  EXPECT_EQ(w.Find<QWidget>("Image_About")->y(), 280);
  for (const char* name : {"CheckBox6", "CheckBox7", "Button3", "Button4", "BitBtn2"})
    EXPECT_FALSE(w.Find<QWidget>(name)->isVisible()) << name;
  // Their states are still kept: the option boxes follow the enclosure.
  EXPECT_TRUE(w.Find<QCheckBox>("CheckBox6")->isEnabled());
  EXPECT_EQ(w.Find<QPushButton>("Button3")->text(), "Start P0 Scan");
}

TEST(SetupPage, MaintenanceShowsTheSetupButtonAndSetsTheSchedule) {
  SetupWindow w(true);
  EXPECT_TRUE(w.Find<QWidget>("Image_Setup")->isVisible());
  EXPECT_EQ(w.Find<QWidget>("Image_Setup")->y(), 168);
  EXPECT_EQ(w.Find<QWidget>("Image_About")->y(), 336);
  for (const char* name : {"CheckBox6", "CheckBox7", "Button3", "Button4", "BitBtn2"})
    EXPECT_TRUE(w.Find<QWidget>(name)->isVisible()) << name;

  w.Click("Image_Setup");
  EXPECT_EQ(w.Find<QStackedWidget>("Notebook1")->currentIndex(), 1);
  EXPECT_EQ(w.Find<QStackedWidget>("Notebook3")->currentIndex(), 0);
  w.Click("Image1_Schedule");
  EXPECT_EQ(w.Find<QStackedWidget>("Notebook3")->currentIndex(), 1);
  EXPECT_FALSE(w.Find<QWidget>("Image1_Set")->isVisible());
  for (const char* r : {"RadioButton_10min", "RadioButton_30min", "RadioButton_1Hour", "RadioButton_3Hour"})
    EXPECT_FALSE(w.Find<QRadioButton>(r)->isChecked()) << r;

  w.Click("CheckBox_Backup");
  EXPECT_TRUE(w.Find<QWidget>("Image1_Set")->isVisible());
  EXPECT_EQ(w.Find<QLabel>("Label_Backup_mess")->text(), "Schedule Backup Disable");
  w.Click("RadioButton_1Hour");
  const size_t before = w.Accepted().size();
  w.Click("Image1_Set");
  w.Run(100);
  ASSERT_EQ(w.Accepted().size(), before + 1);
  const Sector& c = w.Accepted().back();
  EXPECT_EQ(c[2], 0x20);
  EXPECT_EQ(c[5], 1);
  EXPECT_EQ(c[6], 60);
  EXPECT_EQ(w.Find<QLabel>("Label_Backup_mess")->text(), "Backup period: 60 min");
  // The sender holds the option controls back for four ticks.
  EXPECT_FALSE(w.Find<QCheckBox>("CheckBox6")->isEnabled());
  EXPECT_FALSE(w.Find<QPushButton>("Button3")->isEnabled());
  w.Run(5000);
  EXPECT_TRUE(w.Find<QCheckBox>("CheckBox6")->isEnabled());
  EXPECT_TRUE(w.Find<QPushButton>("Button3")->isEnabled());
}

TEST(SetupPage, TheScanButtonsStartAScanWithTheirCaptions) {
  SetupWindow w(true);
  const size_t before = w.Accepted().size();
  w.Click("Button4");
  EXPECT_EQ(w.Find<QPushButton>("Button4")->text(), "Stop HDD2 Scan");
  w.Run(100);
  ASSERT_EQ(w.Accepted().size(), before + 1);
  EXPECT_EQ(w.Accepted().back()[2], 0x24);
  EXPECT_EQ(w.Accepted().back()[4], 1);
}

TEST(SetupPage, InitialisingAsksFirstAndShowsItsProgress) {
  SetupWindow w(true);
  w.Click("Image_Setup");
  const size_t before = w.Accepted().size();
  w.answer = BoxResult::No;
  w.Click("Image1_Set");
  ASSERT_EQ(w.boxes.size(), 1u);
  EXPECT_EQ(w.boxes[0].buttons, BoxButtons::YesNo);
  EXPECT_EQ(w.boxes[0].caption, "Auto Patition Message");
  EXPECT_NE(w.boxes[0].text.find("Device1 (Two-bay RAID, 931 GB)"), std::string::npos) << w.boxes[0].text;
  EXPECT_EQ(w.Accepted().size(), before);

  w.boxes.clear();
  w.answer = BoxResult::Yes;
  bool panelSeen = false;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] { panelSeen |= w.Find<QWidget>("Panel8")->isVisible(); });
  probe.start(0);
  w.Click("Image1_Set");
  probe.stop();
  EXPECT_TRUE(panelSeen);
  EXPECT_FALSE(w.Find<QWidget>("Panel8")->isVisible());
  ASSERT_EQ(w.Accepted().size(), before + 7);
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(w.Accepted()[before + i][2], 0x22) << i;
  // The bar went with its panel: it showed 100 at the end, and the next
  // initialisation starts it anew.
  auto* bar = w.Find<QProgressBar>("ProgressBar2");
  EXPECT_EQ(bar->value(), 100);
  EXPECT_FALSE(bar->isVisible());
  EXPECT_EQ(w.Find<QLabel>("StatusBar1_Panel4")->text(), "Create partition OK");
  EXPECT_EQ(w.Find<QLabel>("Label1")->text(), "Auto Partition...");
  ASSERT_EQ(w.boxes.size(), 2u);
  EXPECT_EQ(w.boxes[1].caption, "Auto Patition Message");
  EXPECT_FALSE(w.form->Core().Devices().Lease.Taken());

  int firstValue = -1;
  std::string firstText;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (firstValue < 0 && bar->isVisible()) {
      firstValue = bar->value();
      firstText = w.form->PanelText(kMessagePanel);
    }
  });
  probe.start(0);
  w.Click("Image1_Set");
  probe.stop();
  EXPECT_GE(firstValue, 0);
  EXPECT_LT(firstValue, 100);
  EXPECT_NE(firstText, "Create partition OK");
}

}  // namespace
}  // namespace raid
