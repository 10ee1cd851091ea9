// The window's E-mail page: fields, sub-pages and grids drawn from the page
// model, OK writing the settings file, and a drive removal in a simulated
// scenario mailed to a real SMTP server.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/gui/simulated_window.h"
#include "app/common/options.h"
#include "app/raidgui/message_box.h"
#include "app/raidgui/main_window.h"
#include "notify/mail_follow_up.h"
#include "platform/settings_file.h"
#include "tests/mail/smtp_test_server.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

struct MailWindow : test::SimulatedWindow {
  // scenario: a scenario file, or empty for the built-in enclosure.
  explicit MailWindow(const std::string& scenario = "")
      : SimulatedWindow("raidgui-email",
                        test::WindowOptions().Scenario(scenario.empty() ? "" : "@" + scenario).Settle(1000)) {}
  // A click as the mouse gives it (the page's own buttons are pictures).
  void Click(const char* name) { QTest::mouseClick(Find<QWidget>(name), Qt::LeftButton); }
  void Type(const char* edit, const QString& text) {
    auto* e = Find<QLineEdit>(edit);
    e->setFocus();
    e->selectAll();
    QTest::keyClicks(e, text);
  }
  // The server, the sender and one recipient, entered on the page and
  // stored with OK.
  void Configure(int port, const QString& name, const QString& password) {
    Click("Image_Email");
    Type("Edit1", QString::number(port));
    Type("Edit2", "127.0.0.1");
    if (!name.isEmpty()) Type("Edit3", name);
    Type("Edit4", "alerts@example.com");
    if (!password.isEmpty()) Type("Edit8", password);
    Click("Image3_DeviceRemove");
    Type("Edit6", "ops@example.com");
    Click("Image3_2P");
    Click("Image3_OK");
  }
  std::string Cell(const char* grid, int row) { return Find<QTableWidget>(grid)->item(row, 0)->text().toStdString(); }
};

TEST(EmailPage, FreshMachineEditsAddressesAndOk) {
  MailWindow w;
  w.Click("Image_Email");
  EXPECT_EQ(w.Find<QStackedWidget>("Notebook1")->currentIndex(), 3);
  EXPECT_EQ(w.Find<QLineEdit>("Edit1")->text(), "25");
  EXPECT_EQ(w.Find<QLineEdit>("Edit5")->text(), "0");
  EXPECT_FALSE(w.Find<QLineEdit>("Edit8")->isVisible());
  EXPECT_TRUE(w.Find<QWidget>("Page_Setup")->isVisible());
  w.Type("Edit2", "127.0.0.1");
  w.Type("Edit4", "alerts@example.com");
  w.Click("CheckBox8");
  EXPECT_TRUE(w.Find<QLineEdit>("Edit8")->isVisible());
  w.Type("Edit8", "s3cret");
  EXPECT_EQ(w.form->EmailModel().Model.MailPageDirty, 0x02 | 0x08 | 0x20);

  w.Click("Image3_HDDFail");
  EXPECT_TRUE(w.Find<QWidget>("Page_HDD_Fail")->isVisible());
  w.Type("Edit7", "no-at-sign");
  w.Click("Image3_1P");
  ASSERT_EQ(w.boxes.size(), 1u);
  EXPECT_EQ(w.boxes[0].text, "E-Mail Address formula error!");
  EXPECT_EQ(w.Find<QLineEdit>("Edit7")->text(), "");
  w.Type("Edit7", "ops@example.com");
  w.Click("Image3_1P");
  // Both grids show the one list.
  EXPECT_EQ(w.Cell("StringGrid1", 0), "ops@example.com");
  EXPECT_EQ(w.Cell("StringGrid2", 0), "ops@example.com");
  EXPECT_EQ(w.Cell("StringGrid2", 1), " ");
  QTest::keyClicks(w.Find<QPlainTextEdit>("Memo5"), "Drive failure");

  w.Click("Image3_OK");
  const fs::path file = w.dir / "config" / "raidgui.conf";
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  FileSettingsStore store((w.dir / "config").string());
  std::string host;
  uint32_t count = 0;
  EXPECT_TRUE(store.ReadString("SMTP", host).ok());
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_TRUE(store.ReadDword("ToAddrCount", count).ok());
  EXPECT_EQ(count, 1u);
  EXPECT_TRUE(fs::exists(w.dir / "config" / "EmailSubject Hard Disks Fail.txt"));

  // Unsaved edits are gone when the page is entered again.
  w.Type("Edit2", "unsaved.example.com");
  w.Click("Image_Sts");
  w.Run(500);  // the reload happens within a poll of the mail thread
  w.Click("Image_Email");
  EXPECT_EQ(w.Find<QLineEdit>("Edit2")->text(), "127.0.0.1");
  EXPECT_TRUE(w.Find<QCheckBox>("CheckBox8")->isChecked());
  EXPECT_EQ(w.form->EmailModel().Model.MailPageDirty, 0);

  // Stored settings that can no longer be read are said when the page is
  // entered, not passed over.
  fs::remove(file);
  fs::create_directory(file);
  w.Click("Image_Sts");
  w.Run(6000);
  w.boxes.clear();
  w.Click("Image_Email");
  ASSERT_EQ(w.boxes.size(), 1u);
  EXPECT_EQ(w.boxes[0].text.rfind("The stored mail settings cannot be read: cannot read the settings file", 0), 0u)
      << w.boxes[0].text;
}

TEST(EmailPage, DriveRemovalIsMailedAndTestMailGoes) {
  auto running = std::make_unique<test::SmtpServer>("auth");
  test::SmtpServer& server = *running;
  ASSERT_GT(server.port, 0);
  MailWindow w(std::string(RAID_SOURCE_DIR) + "/scenarios/removal-rebuild-badsectors.json");
  w.Configure(server.port, "RAID Box", "s3cret");
  w.Run(12000);  // hdd2 leaves at 10 s
  w.form->Notifier().WaitIdle();
  QCoreApplication::processEvents();
  auto mails = server.Mails();
  ASSERT_EQ(mails.size(), 1u);
  const std::string data = mails[0]["data"];
  EXPECT_NE(data.find("Subject: [RAID GUI v0.23-1 Message] \r\n"), std::string::npos);
  EXPECT_NE(data.find("\r\n\r\nDevice1 P1 Hard Disk Drive fail.\r\nDevice1 information :\r\n"), std::string::npos);
  EXPECT_EQ(w.Find<QLabel>("StatusBar1_Panel3")->text(), "Send mail Success!");

  // The outcome of a test mail is told whole in a box that waits for
  // nobody: the mail panel is too narrow for a reason.
  const auto testMail = [&w] {
    w.Click("Button_SendTestMail");
    w.form->Notifier().WaitIdle();
    QCoreApplication::processEvents();
    std::string told;
    for (auto* b : w.form->findChildren<QMessageBox*>()) {
      if (b->isVisible() && b->text().startsWith("The test mail")) told = b->text().toStdString();
      b->close();
    }
    return told;
  };
  w.Click("Image3_Setup");
  EXPECT_EQ(testMail(), "The test mail was sent.");
  mails = server.Mails();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_NE(mails[1]["data"].get<std::string>().find("Test mail"), std::string::npos);
  running.reset();
  const std::string failed = testMail();
  EXPECT_EQ(failed.rfind("The test mail could not be sent: ", 0), 0u) << failed;
  EXPECT_GT(failed.size(), std::string("The test mail could not be sent: ").size() + 5) << failed;
}

// A notification that could not go out and waits for its retry is not
// lost when the window closes: the day log names it and it is kept for the
// next start.
TEST(EmailPage, ANotificationLeftUnsentAtTheCloseIsKept) {
  auto running = std::make_unique<test::SmtpServer>("auth");
  const int port = running->port;
  ASSERT_GT(port, 0);
  MailWindow w(std::string(RAID_SOURCE_DIR) + "/scenarios/removal-rebuild-badsectors.json");
  w.Configure(port, "", "");
  (void)FileSettingsStore((w.dir / "config").string()).WriteDword(kRetryFailedMailSetting, 1);
  running.reset();  // the server is gone when the drive leaves (at 10 s)
  w.Run(12000);
  w.form->Notifier().WaitIdle();
  QCoreApplication::processEvents();
  w.form->close();
  EXPECT_TRUE(fs::exists(w.dir / "logs" / "unsent-mail.simulated.conf"));
  std::ifstream day(w.dir / "logs" / "100503.log");
  const std::string text((std::istreambuf_iterator<char>(day)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("was not sent before the program ended; it is sent again at the next start"), std::string::npos)
      << text;
}

}  // namespace
}  // namespace raid
