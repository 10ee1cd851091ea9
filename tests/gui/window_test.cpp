// The main window and the event log window, found by object name, with every
// message box answered in advance and time moved by hand.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScrollBar>
#include <QTextLayout>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/core/core_access.h"
#include "app/common/options.h"
#include "app/common/quit_signals.h"
#include "app/raidgui/event_log_window.h"
#include "app/raidgui/message_box.h"
#include "app/raidgui/status_panel.h"
#include "app/raidgui/main_window.h"
#include "app/raidgui/image_builder_window.h"
#include "tests/gui/simulated_window.h"
#include "device/record_layout.h"
#include "monitor/day_log_file.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

// The window before anything has run: the tests start the program.
struct Window : test::SimulatedWindow {
  // scenario: JSON text, or "@path" for a scenario file.
  explicit Window(const std::string& scenario = "")
      : SimulatedWindow("raidgui", test::WindowOptions().Scenario(scenario).Settle(0)) {}
  QString Label(const char* name) { return Find<QLabel>(name)->text(); }
};

TEST(MainWindow, StartsDetectingWithNavigationDisabledThenPublishes) {
  Window w;
  EXPECT_EQ(w.form->windowTitle(), "RAID GUI v0.23-1");
  EXPECT_EQ(w.form->size(), QSize(620, 440));
  EXPECT_EQ(w.Label("StaticText1"), "Drive detecting");
  auto* sts = w.Find<PictureButton>("Image_Sts");
  EXPECT_FALSE(sts->isEnabled());
  w.Run(1000);
  EXPECT_TRUE(sts->isEnabled());
  EXPECT_EQ(w.Find<QLabel>("StatusBar1_Panel1")->text(), "Detected OK");
  EXPECT_EQ(w.form->windowTitle(), "RAID GUI v0.23-1 - Two-bay RAID [E]");
  EXPECT_TRUE(w.Find<PictureButton>("Image0_D1")->isVisible());
  EXPECT_FALSE(w.Find<PictureButton>("Image0_D2")->isVisible());
  EXPECT_EQ(w.Label("Label18"), "Normal");
  EXPECT_EQ(w.Label("Label17"), "Mirroring(RAID1)");
}

TEST(MainWindow, StatusBarPanelsFitTheWindowAndCutLongTextsWithATooltip) {
  Window w;
  w.Run(1000);
  // Side by side from the left edge, the last one ending inside the window.
  int left = 0;
  for (int i = 0; i < 5; ++i) {
    auto* p = w.Find<StatusPanel>(QString("StatusBar1_Panel%1").arg(i).toLatin1().constData());
    EXPECT_EQ(p->x(), left) << i;
    EXPECT_LE(p->mapTo(w.form.get(), QPoint(p->width(), 0)).x(), w.form->width()) << i;
    left += p->width();
  }
  auto* p1 = w.Find<StatusPanel>("StatusBar1_Panel1");
  EXPECT_FALSE(p1->Elided());
  EXPECT_TRUE(p1->toolTip().isEmpty());
  // Panel 4 names the log folder; a text too long for it is cut, whole in
  // the tooltip, and still read back whole.
  EXPECT_EQ(w.form->PanelText(kMessagePanel), "Day log folder: " + (w.dir / "logs").string());
  const std::string longText(200, 'x');
  w.form->SetPanelText(kMessagePanel, longText);
  auto* p4 = w.Find<StatusPanel>("StatusBar1_Panel4");
  EXPECT_TRUE(p4->Elided());
  EXPECT_EQ(p4->toolTip().toStdString(), longText);
  EXPECT_EQ(w.form->PanelText(kMessagePanel), longText);
}

TEST(MainWindow, AfterTheLastEnclosureLeavesTheCaptionsStayGreyed) {
  Window w(R"({"enclosures":[{"name":"E1"}],"disks":[{"drive":0,"enclosure":"E1"}],
    "volumes":[{"letter":"E","drive":0,"length":1000}],
    "timeline":[{"at":12,"enclosure":"E1","set":{"hdd2":"failed"}},{"at":20,"unplug":"E1"},
                {"at":40,"plug":"E1"}]})");
  w.Run(10000);
  auto* mode = w.Find<QLabel>("Label17");
  EXPECT_TRUE(mode->isEnabled());
  EXPECT_EQ(w.Find<QLabel>("Image4")->property("driveLook").toString(), "present");
  w.Run(6000);
  EXPECT_EQ(w.Find<QLabel>("Image5")->property("driveLook").toString(), "failed");
  w.Run(16000);
  EXPECT_EQ(w.Label("StaticText1"), "No Drive found! ");
  // The captions stay, greyed; the bays no longer claim a state.
  EXPECT_EQ(mode->text(), "Mirroring(RAID1)");
  EXPECT_FALSE(mode->isEnabled());
  EXPECT_FALSE(w.Find<QLabel>("Label25")->isEnabled());
  EXPECT_EQ(w.Find<QLabel>("Image4")->property("driveLook").toString(), "unknown");
  // Back again: live.
  w.Run(20000);
  EXPECT_TRUE(mode->isEnabled());
  EXPECT_EQ(w.Find<QLabel>("Image4")->property("driveLook").toString(), "present");
}

// What a drive, an enclosure or a file says is shown as it is, never as
// markup; and each window has the title-bar buttons its kind calls for.
TEST(MainWindow, ShowsDeviceTextsAsTheyAreWithEachWindowsTitleBarButtons) {
  const std::string heading = "<h1><font color=red>X</font></h1>", picture = "<img src=/tmp/x.png>";
  Window w(R"({"enclosures":[{"name":"E1","model":")" + picture + R"(","status":{"hdd1Model":")" + heading +
           R"("}}],"disks":[{"drive":0,"enclosure":"E1"}],"volumes":[{"letter":"E","drive":0,"length":1000}]})");
  w.Run(1000);
  EXPECT_NE(w.Label("Label51").toStdString().find(heading), std::string::npos) << w.Label("Label51").toStdString();
  // Tooltips as Qt shows them: the tabs' hint names the enclosure, the
  // message panel's the whole of a file name that looks like markup.
  const auto asShown = [](const QString& tip) {
    QTextDocument d;
    if (Qt::mightBeRichText(tip))
      d.setHtml(tip);
    else
      d.setPlainText(tip);
    return d.toPlainText().toStdString();
  };
  EXPECT_EQ(asShown(w.Find<PictureButton>("Image0_D1")->toolTip()).rfind(picture, 0), 0u);
  const std::string file = "File:/tmp/" + picture + std::string(200, 'x') + ".bin";
  w.form->SetPanelText(kMessagePanel, file);
  EXPECT_EQ(asShown(w.Find<StatusPanel>("StatusBar1_Panel4")->toolTip()), file);

  EventLogWindow log(w.form->Core(), w.form.get());
  w.form->ShowNotice({"Serial# " + heading, "Message", BoxIcon::Information, BoxButtons::Ok});
  QMessageBox* box = nullptr;
  for (auto* b : w.form->findChildren<QMessageBox*>())
    if (b->text().startsWith("Serial# ")) box = b;
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  for (QWidget* window : {static_cast<QWidget*>(w.form.get()), static_cast<QWidget*>(&log),
                          static_cast<QWidget*>(&w.form->ImageBuilderForm())})
    for (QLabel* l : window->findChildren<QLabel*>())
      if (l->window() == window) {
        EXPECT_EQ(l->textFormat(), Qt::PlainText) << l->objectName().toStdString();
      }

  // The main window has a fixed size: minimise and close. The dialogs are
  // modal and fixed: close only.
  const Qt::WindowFlags main = w.form->windowFlags();
  EXPECT_TRUE(main & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(main & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(main & Qt::WindowMaximizeButtonHint);
  for (QWidget* dialog :
       {static_cast<QWidget*>(&log), static_cast<QWidget*>(&w.form->ImageBuilderForm()), static_cast<QWidget*>(box)}) {
    const Qt::WindowFlags f = dialog->windowFlags();
    EXPECT_TRUE((f & Qt::CustomizeWindowHint) && (f & Qt::WindowCloseButtonHint))
        << dialog->windowTitle().toStdString();
    EXPECT_FALSE(f & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint))
        << dialog->windowTitle().toStdString();
  }
  box->close();
}

// Every caption and text shows whole with the default fonts, at the scale
// the test runs at (ctest runs it at 100 % and at 200 %): labels, wrapped
// notes, buttons, check boxes, and the short status-bar panels (the byte
// sum of a loaded firmware file among them), on every page and sub-page,
// in the event log window and in "Make Bin".
TEST(Window, EveryTextShowsWhole) {
  test::SimulatedWindow w("raidgui-fit",
                          test::WindowOptions().Before([](MainWindow& f) { f.SetMaintenanceMode(true); }));
  std::vector<uint8_t> image(0x80000, 0xFF);
  std::memcpy(image.data(), "FIPS", 4);
  image[491521] = 0xA0;
  const std::string file = (w.dir / "fw.bin").string();
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 0x80000);
  w.form->LoadFirmwareFile(file);
  ASSERT_TRUE(w.form->Upgrade().ImageLoaded());
  std::vector<std::string> cut;
  const auto look = [&cut](QWidget* window, const std::string& where) {
    QCoreApplication::processEvents();
    for (QWidget* c : window->findChildren<QWidget*>()) {
      if (!c->isVisible()) continue;
      const std::string name = where + " " + c->objectName().toStdString();
      if (auto* p = dynamic_cast<StatusPanel*>(c)) {
        if (p->objectName() != "StatusBar1_Panel4" && p->Elided()) cut.push_back(name + ": " + p->text().toStdString());
      } else if (auto* l = qobject_cast<QLabel*>(c); l && !l->text().isEmpty()) {
        const bool fits = l->wordWrap() ? l->heightForWidth(l->width()) <= l->height()
                                        : l->sizeHint().width() <= l->width() && l->sizeHint().height() <= l->height();
        if (!fits) cut.push_back(name + ": " + l->text().toStdString());
      } else if (auto* b = qobject_cast<QAbstractButton*>(c); b && !dynamic_cast<PictureButton*>(b)) {
        if (!b->text().isEmpty() && b->sizeHint().width() > b->width())
          cut.push_back(name + ": " + b->text().toStdString());
      }
    }
  };
  const char* pages[5] = {"Status", "Setup", "Upgrade", "E-mail", "About"};
  for (uint8_t p = 0; p < 5; ++p) {
    if (p == notebook_page::kSetup) {
      w.form->SetupNavClick();
      look(w.form.get(), "Setup/Initialize");
      w.form->Setup().ShowSchedule();
    } else {
      ASSERT_TRUE(w.form->Core().SelectPage(static_cast<ShownPage>(p)));
    }
    if (p == notebook_page::kEmail) {
      for (const char* tab : {"Image3_Setup", "Image3_HDDFail", "Image3_DeviceRemove"}) {
        w.Click(tab);
        look(w.form.get(), std::string("E-mail/") + tab);
      }
    }
    look(w.form.get(), pages[p]);
  }
  EXPECT_EQ(w.form->PanelText(kChecksumPanel).rfind("Chksum:", 0), 0u);
  EventLogWindow log(w.form->Core(), w.form.get());
  log.show();
  look(&log, "Event Log");
  ImageBuilderWindow& bin = w.form->ImageBuilderForm();
  bin.show();
  auto* binPages = bin.findChild<QTabWidget*>("PageControl1");
  for (int t = 0; t < binPages->count(); ++t) {
    binPages->setCurrentIndex(t);
    look(&bin, "Make Bin/" + binPages->tabText(t).toStdString());
  }
  bin.hide();
  for (const auto& c : cut) ADD_FAILURE() << "cut: " << c;
}

TEST(MainWindow, NavigationLayoutHidesSetupAndPacksTheRest) {
  Window w;
  EXPECT_FALSE(w.Find<PictureButton>("Image_Setup")->isVisible());
  EXPECT_EQ(w.Find<PictureButton>("Image_Sts")->y(), 112);
  EXPECT_EQ(w.Find<PictureButton>("Image_FWUpg")->y(), 168);
  EXPECT_EQ(w.Find<PictureButton>("Image_Email")->y(), 224);
  EXPECT_EQ(w.Find<PictureButton>("Image_About")->y(), 280);
  for (auto* b : w.form->findChildren<PictureButton*>())
    if (b->isVisible() && b->parent() == w.form.get()) {
      EXPECT_NE(b->y(), 336) << b->objectName().toStdString();
    }
  EXPECT_TRUE(w.Find<QLabel>("Image_Sts_Yellow")->isHidden());
  EXPECT_TRUE(w.Find<QLabel>("Image_Sts_White")->isHidden());
}

TEST(MainWindow, ClicksBeforeTheFirstRefreshDoNothing) {
  Window w;
  auto* notebook = w.Find<QStackedWidget>("Notebook1");
  auto* about = w.Find<PictureButton>("Image_About");
  about->setEnabled(true);  // even an enabled picture is refused
  QTest::mouseClick(about, Qt::LeftButton);
  EXPECT_EQ(notebook->currentIndex(), 0);
  w.Run(1000);
  QTest::mouseClick(about, Qt::LeftButton);
  EXPECT_EQ(notebook->currentIndex(), 4);
  EXPECT_EQ(about->picture().cacheKey(), w.Find<QLabel>("Image_About_Yellow")->pixmap().cacheKey());
  EXPECT_EQ(w.Find<QLabel>("Label65")->text(), "v0.23-1");
}

TEST(MainWindow, PictureButtonsWorkFromTheKeyboardAndSinkWhilePressed) {
  Window w;
  w.Run(1000);
  auto* email = w.Find<PictureButton>("Image_Email");
  EXPECT_EQ(email->accessibleName(), "E-mail");
  EXPECT_EQ(email->focusPolicy(), Qt::StrongFocus);
  email->setFocus();
  QTest::keyClick(email, Qt::Key_Space);
  EXPECT_EQ(w.Find<QStackedWidget>("Notebook1")->currentIndex(), 3);
  auto* ok = w.Find<PictureButton>("Image3_OK");
  const int y = ok->y();
  QTest::mousePress(ok, Qt::LeftButton);
  EXPECT_EQ(ok->y(), y + 2);
  QTest::mouseRelease(ok, Qt::LeftButton);
  EXPECT_EQ(ok->y(), y);
}

TEST(MainWindow, StatusBarDoubleClickShowsSystemInformation) {
  Window w;
  w.form->StatusBarDoubleClick();
  ASSERT_EQ(w.boxes.size(), 1u);
  EXPECT_EQ(w.boxes[0].caption, "System Information");
}

TEST(MainWindow, RebuildMovesTheStateText) {
  Window w(R"({"enclosures":[{"name":"E1","status":{"activity":1,"progress":10}}],
              "disks":[{"drive":0,"enclosure":"E1"}],
              "timeline":[{"at":3,"enclosure":"E1","set":{"progress":11}}]})");
  w.Run(1000);
  EXPECT_EQ(w.Label("Label18"), "10%\n<<<<\nRebuilding");
  EXPECT_TRUE(w.Find<PictureButton>("Image0_Log")->isVisible());
  w.Run(5000);
  EXPECT_EQ(w.Label("Label18"), "11%\n<<<<\nRebuilding");
}

// A box raised by the polling waits for nobody: monitoring goes on while it
// is open, and a box still open is never opened a second time.
TEST(MainWindow, PollingBoxesWaitForNobodyAndNeverStack) {
  Window w(R"({"clock":{"start":"2010-05-03 09:00:00"},"enclosures":[{"name":"E1"}],
              "disks":[{"drive":0,"enclosure":"E1"}],"volumes":[{"letter":"E","drive":0,"length":1000}],
              "timeline":[{"at":10,"enclosure":"E1","set":{"hdd2":"failed"}},
                          {"at":30,"enclosure":"E1","set":{"hdd1":"absent"}},
                          {"at":40,"enclosure":"E1","set":{"hdd1":"present"}},
                          {"at":60,"unplug":"E1"}]})");
  const auto open = [&w] {
    int n = 0;
    for (auto* b : w.form->findChildren<QMessageBox*>())
      if (b->isVisible() && b->text().startsWith("Unmatched SSD is inserted.")) ++n;
    return n;
  };
  w.Run(20000);
  EXPECT_EQ(open(), 1);
  w.Run(55000);
  // Nobody answered, and nothing waited for an answer.
  for (const auto& b : w.boxes) EXPECT_EQ(b.text.find("SSD"), std::string::npos) << b.text;
  EXPECT_EQ(open(), 1);
  const auto& log = w.form->Core().Log().DayLog();
  const auto has = [&log](const std::string& start) {
    return std::any_of(log.begin(), log.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
  };
  EXPECT_TRUE(has("D1 HDD2 was failed, Capacity too small."));
  EXPECT_TRUE(has("D1 HDD1 was removed, "));
  EXPECT_TRUE(has("D1 Device was removed."));
  // Answered, the box goes; the next change may show it again.
  for (auto* b : w.form->findChildren<QMessageBox*>()) b->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(open(), 0);
}

TEST(QuitSignals, HangUpEndsTheProgramLikeTerminate) {
  bool fired = false;
  QuitOnSignals quit([&fired] { fired = true; });
  std::raise(SIGHUP);
  quit.Check();
  EXPECT_TRUE(fired);
}

TEST(EventLogWindow, FollowsPausesResumesAndReloadsAfterADayChange) {
  Window w;
  w.Run(1000);
  EventLogWindow log(w.form->Core(), w.form.get());
  log.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(log.windowTitle(), "Event log - Real Time");
  const int lines = log.LogText()->blockCount();
  EXPECT_EQ(static_cast<size_t>(lines), w.form->Core().Log().DayLog().size());

  // Paused (an operation disarms polling at the next poll tick): new lines
  // wait, the caption says so.
  OperationLease lease = w.form->Core().BeginOperation();
  w.form->Core().OnPollTimer();
  ASSERT_FALSE(w.form->Core().Devices().RequestBits.load() & request_bits::kArmed);
  CoreTestAccess::DayLog(w.form->Core()).push_back("new line");
  log.OnFollowTimer();
  EXPECT_EQ(log.windowTitle(), "Event log - Real Time( Paused )");
  EXPECT_TRUE(log.Model().Grey);
  EXPECT_EQ(log.LogText()->blockCount(), lines);
  // Resumed: they appear at the next tick.
  w.form->Core().EndOperation(lease);
  w.form->Core().OnPollTimer();  // armed again
  log.OnFollowTimer();
  EXPECT_EQ(log.LogText()->blockCount(), lines + 1);
  EXPECT_EQ(log.LogText()->document()->lastBlock().text(), "new line");
  // A new day restarted the buffer: the whole buffer is shown again.
  CoreTestAccess::DayLog(w.form->Core()) = {"-- first line of the new day --"};
  log.OnFollowTimer();
  EXPECT_EQ(log.LogText()->toPlainText(), "-- first line of the new day --");
}

TEST(EventLogWindow, FollowsTheEndUnlessScrolledUpAndNeedsNoSidewaysScrolling) {
  Window w;
  w.Run(1000);
  for (int i = 0; i < 60; ++i) CoreTestAccess::DayLog(w.form->Core()).push_back("filler line " + std::to_string(i));
  EventLogWindow log(w.form->Core(), w.form.get());
  log.show();
  QCoreApplication::processEvents();
  QScrollBar* bar = log.LogText()->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());  // opens at the end
  CoreTestAccess::DayLog(w.form->Core()).push_back("followed");
  log.OnFollowTimer();
  EXPECT_EQ(bar->value(), bar->maximum());
  // Scrolled up by the user: new lines do not pull the view away.
  bar->setValue(0);
  CoreTestAccess::DayLog(w.form->Core()).push_back("not followed");
  log.OnFollowTimer();
  EXPECT_EQ(bar->value(), 0);
  // Back at the end: followed again.
  bar->setValue(bar->maximum());
  CoreTestAccess::DayLog(w.form->Core()).push_back("followed again");
  log.OnFollowTimer();
  EXPECT_EQ(bar->value(), bar->maximum());
  // The separators fit the width, every line is still one block, and
  // nothing scrolls sideways.
  EXPECT_EQ(log.LogText()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(static_cast<size_t>(log.LogText()->blockCount()), w.form->Core().Log().DayLog().size());
  const QTextBlock first = log.LogText()->document()->firstBlock();
  ASSERT_TRUE(first.text().startsWith("----"));
  EXPECT_EQ(first.layout()->lineCount(), 1);
}

TEST(EventLogWindow, CancelledFileDialogLeavesTextAndStopsTheTimer) {
  Window w;
  w.Run(1000);
  EventLogWindow log(w.form->Core(), w.form.get());
  log.show();
  const QString before = log.LogText()->toPlainText();
  auto saved = EventLogWindow::FileChooser();
  EventLogWindow::FileChooser() = [](QWidget*, const std::string&) { return std::string(); };
  log.ViewLogFileClick();
  EXPECT_EQ(log.LogText()->toPlainText(), before);
  EXPECT_EQ(log.windowTitle(), "Event log - Real Time");
  EXPECT_FALSE(log.FollowTimer().isActive());
  // A chosen file replaces the text; its name becomes the caption.
  const std::string file = (w.dir / "100101.log").string();
  FILE* f = std::fopen(file.c_str(), "wb");
  std::fputs("line one\r\nline two\r\n", f);
  std::fclose(f);
  std::string folder;
  EventLogWindow::FileChooser() = [file, &folder](QWidget*, const std::string& f) {
    folder = f;
    return file;
  };
  log.ViewLogFileClick();
  // The dialog starts in the day log folder, not the working folder.
  EXPECT_EQ(std::filesystem::path(folder), std::filesystem::path(w.form->Core().Log().LogDir()));
  EXPECT_EQ(log.LogText()->toPlainText(), "line one\nline two");
  EXPECT_EQ(log.windowTitle(), "Event log - 100101.log");
  // "Real Time Log" goes back to the day's buffer and its timer.
  log.RealTimeLogClick();
  EXPECT_TRUE(log.FollowTimer().isActive());
  EXPECT_EQ(log.windowTitle(), "Event log - Real Time");
  EventLogWindow::FileChooser() = saved;
}

TEST(EventLogWindow, LogButtonOpensOneWindowAtATime) {
  Window w;
  w.Run(1000);
  int opened = 0;
  QTimer::singleShot(0, [&] {
    ++opened;
    ASSERT_TRUE(w.form->LogWindowOpen());
    w.form->EventLogClick();  // a second click while open: nothing
    w.form->LogWindow()->reject();
  });
  w.form->EventLogClick();
  EXPECT_EQ(opened, 1);
  EXPECT_FALSE(w.form->LogWindowOpen());
}

TEST(MainWindow, WritesTheSameDayFilesAsTheHeadlessMonitor) {
  setenv("LC_ALL", "C", 1);  // the stamps of the expected files
  Window w("@" RAID_SOURCE_DIR "/scenarios/removal-rebuild-badsectors.json");
  w.Run(150000);
  for (const char* name : {"100503.log", "100504.log"}) {
    std::vector<std::string> got, want;
    ASSERT_TRUE(ReadTextLines((w.dir / "logs" / name).string(), got).ok()) << name;
    ASSERT_TRUE(
        ReadTextLines(RAID_SOURCE_DIR "/tests/data/removal-rebuild-badsectors/" + std::string(name), want).ok());
    EXPECT_EQ(got, want) << name;
  }
}

}  // namespace
}  // namespace raid
