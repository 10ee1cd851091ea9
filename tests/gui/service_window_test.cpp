// The window as the monitor service's client: it opens beside a monitor
// that serves its enclosures, draws the Status page that monitor draws,
// follows its day log, offers no page that would change an enclosure, says
// when the service is gone (its last state greyed) and comes back with it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QStackedWidget>
#include <chrono>
#include <map>
#include <thread>

#include "app/common/service_mirror.h"
#include "app/common/status_report.h"
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
  // Only the Status and About pages: nothing here changes an enclosure.
  for (const char* hidden : {"Image_Setup", "Image_FWUpg", "Image_Email"}) {
    EXPECT_FALSE(client.findChild<QWidget*>(hidden)->isVisible()) << hidden;
  }
  EXPECT_NE(client.PanelText(kMessagePanel).find("Showing the monitor service at " + address), std::string::npos);

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

}  // namespace
}  // namespace raid
