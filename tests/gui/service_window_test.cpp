// The window as the monitor service's client: it opens beside a monitor
// that serves its enclosures, draws the Status page that monitor draws,
// follows its day log, offers no page that would change an enclosure, says
// when the service is gone (its last state greyed) and comes back with it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QAbstractButton>
#include <QLabel>
#include <QStackedWidget>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

#include "app/common/service_mirror.h"
#include "app/common/status_report.h"
#include "monitor/decoded_status.h"
#include "service/monitor_service.h"
#include "simulated_window.h"

namespace raid {
namespace {

std::map<QString, QString> StatusPageTexts(MainWindow& w) {
  std::map<QString, QString> texts;
  QWidget* page = w.findChild<QWidget*>("Page_Status");
  for (QLabel* l : page->findChildren<QLabel*>()) texts[l->objectName()] = l->text();
  return texts;
}

// Real time, for the client's feed and its own polls.
bool RunUntil(const std::function<bool()>& done, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

TEST(ServiceWindow, ShowsWhatTheMonitorShowsAndFollowsIt) {
  // The monitor: a window of its own on a failed drive, its state served.
  test::SimulatedWindow monitor("svcwin",
                                test::WindowOptions()
                                    .Scenario(std::string("@") + RAID_SOURCE_DIR + "/scenarios/failed-drive.json")
                                    .Settle(12000));
  RaidCore& core = monitor.form->Core();
  const std::string address = (monitor.dir / "s.sock").string();
  auto service = std::make_unique<MonitorService>("test");
  auto serve = [&] {
    ASSERT_TRUE(service->Start(address));
    service->Publish({ListOutput(core), AcceptedStatusOutput(core), MirrorDocument(core)});
    service->ResetDayLog(core.Log().DayLog());
  };
  serve();

  Machine machine;
  ServiceMirror::BuildMachine(machine);
  MainWindow client(machine, "", nullptr, (monitor.dir / "client-config").string());
  client.ShowService(address, *machine.sim);
  client.FormCreate();
  client.show();
  ASSERT_TRUE(RunUntil([&] { return StatusPageTexts(client) == StatusPageTexts(*monitor.form); }, 20))
      << "the client never drew the monitor's Status page";
  EXPECT_EQ(client.ServiceDayLog(), core.Log().DayLog());
  // The pages of the standalone window (no Setup page outside service mode).
  EXPECT_FALSE(client.findChild<QWidget*>("Image_Setup")->isVisible());
  EXPECT_TRUE(client.findChild<QWidget*>("Image_Email")->isVisible());
  EXPECT_NE(client.PanelText(kMessagePanel).find("Showing the monitor service at " + address), std::string::npos);
  // This service makes no changes: the upgrade is greyed, and says why.
  auto* upgrade = client.findChild<QAbstractButton*>("Image2_Upgrade");
  ASSERT_NE(upgrade, nullptr);
  EXPECT_FALSE(upgrade->isEnabled());
  EXPECT_TRUE(upgrade->toolTip().contains("this service makes no changes"));

  // A new line of the service's day log reaches the window.
  service->LogLine("Device1 P1 Hard Disk Drive fail.",
                   nlohmann::json{{"kind", "DriveFailed"}, {"slot", 0}, {"drive", 1}, {"headline", true}});
  ASSERT_TRUE(RunUntil([&] { return client.ServiceDayLog().back() == "Device1 P1 Hard Disk Drive fail."; }, 10));

  // The service goes: the last state stays, greyed, and says why.
  service.reset();
  auto* pages = client.findChild<QStackedWidget*>("Notebook1");
  ASSERT_TRUE(RunUntil([&] { return !pages->isEnabled(); }, 10));
  EXPECT_NE(client.PanelText(kMessagePanel).find("does not answer"), std::string::npos);
  EXPECT_EQ(StatusPageTexts(client), StatusPageTexts(*monitor.form));
  // It comes back: so does the window.
  service = std::make_unique<MonitorService>("test");
  serve();
  ASSERT_TRUE(RunUntil([&] { return pages->isEnabled(); }, 10));
  client.close();
}

// A real monitor service: the window's upgrade goes to it, shows its
// progress and ends with the boxes and texts the window's own upgrade shows;
// the Setup page's schedule goes to it too and comes back in the record.
TEST(ServiceWindow, UpgradesAndSetsTheScheduleThroughTheService) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("svcwin-upgrade-" + std::to_string(QCoreApplication::applicationPid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "logs");
  const std::string address = (dir / "s.sock").string();
  QProcess monitor;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.string()));
  monitor.setProcessEnvironment(env);
  monitor.start(RAID_RAIDMON,
                {"--simulate", "--duration", "120", "--log-dir", QString::fromStdString((dir / "logs").string()),
                 "--listen", QString::fromStdString(address)});
  ASSERT_TRUE(RunUntil([&] { return std::filesystem::exists(address); }, 10));

  std::vector<MessageBoxRequest> boxes;
  SetMessageBoxHook([&](const MessageBoxRequest& b) {
    boxes.push_back(b);
    return BoxResult::Ok;
  });
  Machine machine;
  ServiceMirror::BuildMachine(machine);
  MainWindow client(machine, "", nullptr, (dir / "config").string());
  client.SetMaintenanceMode(true);
  client.ShowService(address, *machine.sim);
  client.FormCreate();
  client.show();
  auto* upgrade = client.findChild<QAbstractButton*>("Image2_Upgrade");
  ASSERT_TRUE(RunUntil([&] { return client.Core().StatusRecordRead(0) && upgrade->isEnabled(); }, 20));
  client.UpgradeNavClick();
  // No image yet: said here, nothing sent.
  client.UpgradeFirmwareClick();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, upgrade_text::kLoadFirst);
  std::vector<char> b(0x80000, '\x5A');
  std::memcpy(b.data(), "FIPS", 4);
  b[0x78001] = static_cast<char>(0xA0);
  const auto file = dir / "fw.bin";
  std::ofstream(file, std::ios::binary).write(b.data(), static_cast<std::streamsize>(b.size()));
  client.ChooseFirmwareFile = [&] { return QString::fromStdString(file.string()); };
  client.LoadFirmwareClick();
  client.UpgradeFirmwareClick();
  EXPECT_FALSE(upgrade->isEnabled());  // one at a time
  ASSERT_TRUE(RunUntil([&] { return boxes.size() == 2; }, 30));
  EXPECT_EQ(boxes[1].caption, upgrade_text::kCompletedCaption);
  EXPECT_EQ(boxes[1].text, upgrade_text::kCompleted);
  EXPECT_EQ(client.PanelText(kMessagePanel), upgrade_text::kVerifyOk);
  EXPECT_TRUE(RunUntil([&] { return upgrade->isEnabled(); }, 5));

  // The Setup page's schedule, set through the service, comes back in the
  // enclosure's record.
  client.SetupNavClick();
  client.Setup().ShowSchedule();
  client.findChild<QAbstractButton*>("CheckBox_Backup")->click();
  client.findChild<QAbstractButton*>("RadioButton_30min")->click();
  client.findChild<QAbstractButton*>("Image1_Set")->click();
  ASSERT_TRUE(RunUntil(
      [&] {
        const DecodedStatus st = DecodeStatus(client.Core().StatusRecordOf(0), FirmwareInfo{});
        return st.scheduleOn && st.schedulePeriod == 30;
      },
      20));
  EXPECT_EQ(boxes.size(), 2u);  // nothing to say

  // The E-mail page shows the service's settings and its OK stores there.
  client.EmailNavClick();
  ASSERT_TRUE(RunUntil([&] { return upgrade->isEnabled(); }, 10));
  client.EmailModel().EditChanged(MailField::SmtpHost, "mail.example.com");
  client.EmailModel().SelectSubPage(1);
  client.EmailModel().Model.FailPageInput = "ops@example.com";
  client.EmailModel().AddRecipient();
  client.findChild<QAbstractButton*>("Image3_OK")->click();
  ASSERT_TRUE(RunUntil([&] { return upgrade->isEnabled(); }, 10));
  EXPECT_EQ(boxes.size(), 2u);
  const Expected<nlohmann::json> shown =
      AskServiceRequest(address, "test", {{"op", "mail"}, {"id", 5}, {"args", {"show"}}}, 10000);
  ASSERT_TRUE(shown) << shown.error();
  const std::string out = JsonText(*shown, "out");
  EXPECT_NE(out.find("SMTP: mail.example.com"), std::string::npos) << out;
  EXPECT_NE(out.find("  ops@example.com"), std::string::npos) << out;
  client.close();
  SetMessageBoxHook(nullptr);
  monitor.terminate();
  monitor.waitForFinished(10000);
  // The monitor's day log says the upgrade was made for a client.
  std::string log;
  for (const auto& f : std::filesystem::directory_iterator(dir / "logs")) {
    std::ifstream in(f.path());
    log.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  EXPECT_NE(log.find("Service: firmware upgrade of Device1 for a client: done"), std::string::npos) << log;
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace raid
