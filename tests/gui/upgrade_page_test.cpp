// The Upgrade page of the window on the simulated enclosure: load, upgrade,
// the progress panel, and closing the window in the middle of an upgrade.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/common/options.h"
#include "app/raidgui/message_box.h"
#include "app/raidgui/main_window.h"
#include "simulated_window.h"

namespace raid {
namespace {

struct UpgradeWindow : test::SimulatedWindow {
  UpgradeWindow() : SimulatedWindow("raidgui-upgrade") { form->UpgradeNavClick(); }
  std::string WriteImage() {
    std::vector<char> b(0x80000, '\x5A');
    std::memcpy(b.data(), "FIPS", 4);
    b[0x78001] = static_cast<char>(0xA0);
    const auto path = dir / "fw.bin";
    std::ofstream(path, std::ios::binary).write(b.data(), static_cast<std::streamsize>(b.size()));
    return path.string();
  }
};

TEST(UpgradePage, LoadsAndUpgradesTheSimulatedEnclosure) {
  UpgradeWindow w;
  EXPECT_EQ(w.Find<QLabel>("Label54")->text(), "100607.1.A12");
  EXPECT_FALSE(w.Find<QWidget>("Panel1")->isVisible());
  const std::string file = w.WriteImage();
  w.form->ChooseFirmwareFile = [&] { return QString::fromStdString(file); };
  w.form->LoadFirmwareClick();
  EXPECT_TRUE(w.boxes.empty());
  EXPECT_EQ(w.Find<QLineEdit>("Edit9")->text().toStdString(), file);
  EXPECT_EQ(w.Find<QLabel>("StatusBar1_Panel4")->text().toStdString(), "File:" + file);
  EXPECT_EQ(w.Find<QLabel>("StatusBar1_Panel0")->text(), "Chksum:02D00010");
  // Panel 4 takes what the first four leave of the bar.
  auto* messagePanel = w.Find<QLabel>("StatusBar1_Panel4");
  EXPECT_EQ(messagePanel->x() + messagePanel->width(), w.form->width());

  bool panelSeen = false;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] { panelSeen |= w.Find<QWidget>("Panel1")->isVisible(); });
  probe.start(0);
  w.form->UpgradeFirmwareClick();
  probe.stop();
  EXPECT_TRUE(panelSeen);
  EXPECT_FALSE(w.Find<QWidget>("Panel1")->isVisible());
  EXPECT_EQ(w.Find<QProgressBar>("ProgressBar1")->maximum(), 2206);
  EXPECT_EQ(w.Find<QLabel>("StatusBar1_Panel4")->text(), "SPI Verify OK");
  ASSERT_EQ(w.boxes.size(), 1u);
  EXPECT_EQ(w.boxes[0].caption, "Firmware Upgrade Message");
  const auto& flash = w.machine.sim->FindEnclosure("E1")->Flash();
  EXPECT_EQ(flash.Peek(0x40000), 0x5A);
  EXPECT_EQ(flash.UnverifiedBytes(), 0u);
  EXPECT_FALSE(w.form->Core().Devices().Lease.Taken());
}

TEST(UpgradePage, ClosingDuringTheUpgradeAsksAndStopsAtTheNextRequest) {
  UpgradeWindow w;
  const std::string file = w.WriteImage();
  w.form->LoadFirmwareFile(file);
  ASSERT_TRUE(w.form->Upgrade().ImageLoaded());

  // Declined: the upgrade runs to its end and the window stays.
  w.answer = BoxResult::No;
  QTimer::singleShot(0, w.form.get(), [&] { w.form->close(); });
  w.form->UpgradeFirmwareClick();
  ASSERT_EQ(w.boxes.size(), 2u);
  EXPECT_EQ(w.boxes[0].buttons, BoxButtons::YesNo);
  EXPECT_EQ(w.boxes[1].caption, "Firmware Upgrade Message");
  QCoreApplication::processEvents();
  EXPECT_TRUE(w.form->isVisible());

  // Confirmed: stops, leaves update mode, says so, then closes.
  w.boxes.clear();
  w.answer = BoxResult::Yes;
  QTimer::singleShot(0, w.form.get(), [&] { w.form->close(); });
  w.form->UpgradeFirmwareClick();
  ASSERT_EQ(w.boxes.size(), 2u);
  EXPECT_EQ(w.boxes[1].text, upgrade_text::kStopped);
  EXPECT_FALSE(w.machine.sim->FindEnclosure("E1")->SpiMode());
  EXPECT_FALSE(w.form->Core().Devices().Lease.Taken());
  QCoreApplication::processEvents();
  EXPECT_FALSE(w.form->isVisible());
}

}  // namespace
}  // namespace raid
