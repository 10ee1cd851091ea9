// The notification settings: the password record, the settings file and its
// store, the load, and the E-mail page's edits and OK.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "notify/mail_address.h"
#include "notify/mail_page.h"
#include "notify/mail_settings.h"
#include "notify/password_record.h"
#include "platform/settings_file.h"
#include "tests/core/test_support.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

fs::path FreshDir(const std::string& name) {
  const fs::path d = fs::temp_directory_path() / ("raidgui-mail-" + name + "-" + std::to_string(::getpid()));
  fs::remove_all(d);
  fs::create_directories(d);
  return d;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PasswordRecord, NumbersOfTheLayout) {
  // Empty password, switch off: every c(i) = i, so byte 17 = 120 XOR S.
  for (uint8_t salt : {0x00, 0x5A, 0xFF}) {
    const PasswordRecord off = EncodePasswordRecord("", false, salt);
    EXPECT_EQ(off[16], salt);
    EXPECT_EQ(off[17], 120 ^ salt);
    // The switch flips exactly bit 0 of the check byte and nothing else.
    const PasswordRecord on = EncodePasswordRecord("", true, salt);
    for (size_t i = 0; i < 17; ++i) EXPECT_EQ(on[i], off[i]);
    EXPECT_EQ(on[17], off[17] ^ 1);
  }
  const PasswordRecord r = EncodePasswordRecord("A", false, 0);
  EXPECT_EQ(r[0], 'A' ^ 0xA5);  // c(0) = 'A' + 0
  EXPECT_EQ(r[8], 8 ^ 0xA5);    // beyond the text: c(i) = i, mask wraps at 8
}

TEST(PasswordRecord, RoundTripsAndRejectsForeignRecords) {
  const std::string fifteen = "abcdefghijklmn\xFF";
  ASSERT_EQ(fifteen.size(), 15u);
  for (bool auth : {false, true}) {
    const DecodedPassword d = DecodePasswordRecord(EncodePasswordRecord(fifteen, auth, 0x33));
    EXPECT_EQ(d.password, fifteen);
    EXPECT_EQ(d.authState, auth ? kAuthOn : kAuthOff);
  }
  // A sixteenth character is cut off by the field's limit.
  EXPECT_EQ(DecodePasswordRecord(EncodePasswordRecord(fifteen + "x", false, 0)).password, fifteen);
  PasswordRecord bad = EncodePasswordRecord("secret", true, 7);
  bad[17] ^= 0x80;
  const DecodedPassword d = DecodePasswordRecord(bad);
  EXPECT_EQ(d.password, "ErrorFormat");
  EXPECT_EQ(d.authState, kAuthInvalid);
  // An all-zero buffer (a key without "ProductID") does not decode either.
  EXPECT_EQ(DecodePasswordRecord(PasswordRecord{}).authState, kAuthInvalid);
}

TEST(SettingsFile, FormatParsesBackExactly) {
  SettingsValues v;
  v["Port"] = {SettingsType::String, "25", 0, {}};
  v["UserName"] = {SettingsType::String, "A \"quoted\" \\ name\r\nX-Injected: yes\x01\xE9", 0, {}};
  v["ToAddrCount"] = {SettingsType::Dword, "", 0xDEADBEEF, {}};
  v["ProductID"] = {SettingsType::Binary, "", 0, {0x00, 0xFF, 0x10}};
  v["Empty"] = {SettingsType::Binary, "", 0, {}};
  const std::string text = FormatSettingsFile(v);
  EXPECT_EQ(text.find("X-Injected: yes\n"), std::string::npos) << "a value never spans lines";
  const Expected<SettingsValues> back = ParseSettingsFile(text);
  ASSERT_TRUE(back) << back.error();
  EXPECT_EQ(*back, v);
}

TEST(SettingsFile, BrokenFilesAreRefusedWithTheirLine) {
  const std::string key = "[SOFTWARE\\KX_RAID_GUI]\n";
  const std::pair<std::string, std::string> cases[] = {
      {"\"Port\"=\"25\"\n", "line 1"},  // no key line
      {key + "\"Port\"=\"25\"\n\"Port\"=\"26\"\n", "given twice"},
      {key + "\"Port\"=\"25\n", "closing quote"},
      {key + "\"N\"=dword:1234\n", "8 hexadecimal"},
      {key + "\"N\"=dword:1234567g\n", "8 hexadecimal"},
      {key + "\"N\"=hex:0,11\n", "two hexadecimal"},
      {key + "\"N\"=hex:00,11,\n", "two hexadecimal"},
      {key + "\"N\"=\"a\\q\"\n", "unknown escape"},
      {key + "\"N\"=\"a\" trailing\n", "after the closing quote"},
      {key + "\"\"=\"a\"\n", "1 to 255"},
      {key + "N=\"a\"\n", "quoted"},
      {"", "missing"},
  };
  for (const auto& [text, why] : cases) {
    const Expected<SettingsValues> v = ParseSettingsFile(text);
    EXPECT_FALSE(v) << text;
    EXPECT_NE(v.error().find(why), std::string::npos) << text << " -> " << v.error();
  }
  const Expected<SettingsValues> v = ParseSettingsFile("; c\r\n# c\r\n\r\n" + key + "\"A\"=\"b\"\r\n");
  ASSERT_TRUE(v) << v.error();
  EXPECT_EQ(v->at("A").text, "b");
}

TEST(FileSettingsStore, SettingsAndTemplatesAreTheOwnersAloneWhateverTheMask) {
  // A mask that lets everyone read, and one that would take the owner's
  // own write right away: the files name recipients and hold the password.
  for (const mode_t mask : {mode_t{0}, mode_t{0277}}) {
    const fs::path dir = FreshDir("mask" + std::to_string(mask)) / "etc";
    const mode_t before = ::umask(mask);
    FileSettingsStore store(dir.string());
    const bool created = store.CreateKey().ok() && store.WriteString("Port", "2525").ok();
    const bool templated = WriteTemplateFile((dir / "subject1.txt").string(), {"Drive lost"}).ok();
    ::umask(before);
    ASSERT_TRUE(created && templated) << "mask " << mask;
    for (const char* name : {"raidgui.conf", "subject1.txt"}) {
      struct stat st {};
      ASSERT_EQ(::stat((dir / name).c_str(), &st), 0) << name;
      EXPECT_EQ(st.st_mode & 0777, 0600u) << name << ", mask " << mask;
    }
  }
}

TEST(FileSettingsStore, RoundTripPrivateAtomicAndDamagedFileKept) {
  const fs::path dir = FreshDir("store") / "etc";
  FileSettingsStore store(dir.string());
  EXPECT_FALSE(store.KeyExists());
  std::string s;
  EXPECT_TRUE(store.ReadString("Port", s).ok());  // no file: empty, no error
  EXPECT_FALSE(store.WriteString("Port", "25").ok());
  ASSERT_TRUE(store.CreateKey().ok());
  ASSERT_TRUE(store.WriteString("Port", "2525").ok());
  ASSERT_TRUE(store.WriteDword("ToAddrCount", 3).ok());
  ASSERT_TRUE(store.WriteBinary("ProductID", {1, 2, 3}).ok());
  const fs::path file = dir / "raidgui.conf";
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(store.DefaultTemplateDir(), dir.string() + "/");
  FileSettingsStore again(dir.string());
  uint32_t n = 0;
  std::vector<uint8_t> bytes;
  bool found = false;
  EXPECT_TRUE(again.ReadString("Port", s).ok());
  EXPECT_EQ(s, "2525");
  EXPECT_TRUE(again.ReadDword("ToAddrCount", n).ok());
  EXPECT_EQ(n, 3u);
  EXPECT_TRUE(again.ReadBinary("ProductID", bytes, found).ok());
  EXPECT_TRUE(found);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3}));
  // A value of the wrong type is an error, not a silent default.
  EXPECT_FALSE(again.ReadDword("Port", n).ok());
  // A damaged file is reported and never written over.
  std::ofstream(file, std::ios::app) << "garbage\n";
  const std::string damaged = ReadAll(file);
  const Outcome r = again.WriteString("SMTP", "mail.example.com");
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.error().find("line"), std::string::npos) << r.error();
  EXPECT_EQ(ReadAll(file), damaged);
  EXPECT_FALSE(again.ReadString("Port", s).ok());
}

// The page and its store, as the window has them.
struct PageRig {
  MemorySettingsStore store;
  MailSettingsState settings;
  std::atomic<uint8_t> flags{0};
  test::RecordingUi ui;
  MailPage page{settings, store, flags, ui};
  fs::path dir;

  explicit PageRig(const std::string& name) {
    dir = FreshDir(name);
    store.templateDir = dir.string() + "/";
  }
  void Start() { PrepareMailSettings(store, settings, flags); }
  void Load() { ASSERT_TRUE(LoadMailSettings(store, settings, flags).ok()); }
  void Add(const std::string& a) {
    page.Model.FailPageInput = a;
    page.AddRecipient();
  }
};

TEST(MailPage, FreshMachineFirstOkWritesEverything) {
  PageRig rig("fresh");
  rig.Start();
  EXPECT_EQ(rig.flags.load(), 0);
  rig.page.Fill();
  EXPECT_EQ(rig.page.Model.Port, "25");
  EXPECT_EQ(rig.page.Model.TimeOut, "0");
  EXPECT_FALSE(rig.page.Model.PasswordVisible);
  ASSERT_TRUE(rig.page.OkClick());
  EXPECT_TRUE(rig.store.exists);
  EXPECT_EQ(rig.store.writeLog, (std::vector<std::string>{"Port", "SMTP", "UserName", "Addr", "TimeOut", "ProductID",
                                                          "ToAddrCount", "FilePath"}));
  EXPECT_EQ(rig.store.values["ToAddrCount"].number, 0u);
  EXPECT_EQ(rig.store.values["FilePath"].text, rig.dir.string() + "/");
  EXPECT_EQ(rig.store.values["ProductID"].bytes[17], 120);
  EXPECT_EQ(rig.flags.load(), 1);
  EXPECT_TRUE(rig.settings.SettingsKeyExists);
}

TEST(MailPage, OnlyEditedFieldsAreWrittenAndPasswordSurvives) {
  PageRig rig("dirty");
  rig.Start();
  rig.page.Fill();
  rig.page.EditChanged(MailField::SmtpHost, "smtp.example.com");
  rig.page.LoginClick(true);
  rig.page.EditChanged(MailField::Password, "fifteen-chars!!xyz");  // the field keeps 15
  rig.page.SelectSubPage(1);
  rig.Add("ops@example.com");
  rig.Add("second@example.com");
  ASSERT_TRUE(rig.page.OkClick());
  rig.Load();
  EXPECT_EQ(rig.settings.Setting(kPassword), "fifteen-chars!!");
  EXPECT_EQ(rig.settings.MailAuthState, kAuthOn);
  EXPECT_EQ(rig.settings.MailRecipients, (std::vector<std::string>{"ops@example.com", "second@example.com"}));
  EXPECT_EQ(rig.settings.MailRecipientCount, 2u);
  EXPECT_EQ(rig.store.values["ToAddr_01"].text, "second@example.com");

  rig.page.Fill();
  rig.store.writeLog.clear();
  // A CA file stored while the page is shown (raidctl, read again by the
  // running program) is not written back over by the page's OK.
  rig.store.values[kCaFileSetting] = {SettingsType::String, "/etc/raidgui/ca.pem", 0, {}};
  rig.Load();
  rig.page.EditChanged(MailField::SenderName, "RAID box");
  ASSERT_TRUE(rig.page.OkClick());
  EXPECT_EQ(rig.store.writeLog, (std::vector<std::string>{"UserName", "ProductID", "FilePath"}));
  EXPECT_EQ(rig.store.values[kCaFileSetting].text, "/etc/raidgui/ca.pem");
  // Nothing touched: only the template folder is written again.
  rig.Load();
  rig.page.Fill();
  rig.store.writeLog.clear();
  ASSERT_TRUE(rig.page.OkClick());
  EXPECT_EQ(rig.store.writeLog, (std::vector<std::string>{"FilePath"}));
  // Emptying the list stores a count of 0; old entries stay but are ignored.
  rig.Load();
  rig.page.Fill();
  rig.page.SelectSubPage(2);
  rig.page.SelectCell(2, 0);
  EXPECT_EQ(rig.page.Model.RemovePageInput, "ops@example.com");
  rig.page.RemoveRecipient();
  rig.page.SelectCell(2, 0);
  rig.page.RemoveRecipient();
  EXPECT_EQ(rig.page.Model.Grid[0], " ");
  ASSERT_TRUE(rig.page.OkClick());
  EXPECT_EQ(rig.store.values["ToAddrCount"].number, 0u);
  rig.Load();
  EXPECT_TRUE(rig.settings.MailRecipients.empty());
}

TEST(MailPage, AddressRules) {
  PageRig rig("addresses");
  rig.Start();
  rig.page.Fill();
  rig.page.Model.FailPageInput = "x@y";
  rig.page.AddRecipient();  // sub-page 0: nothing happens
  EXPECT_TRUE(rig.page.Model.Recipients.empty());
  rig.page.SelectSubPage(1);
  rig.Add("no-at-sign");
  ASSERT_EQ(rig.ui.boxes.size(), 1u);
  EXPECT_EQ(rig.ui.boxes[0].text, "E-Mail Address formula error!");
  EXPECT_EQ(rig.ui.boxes[0].caption, "E-Mail Message");
  EXPECT_TRUE(rig.page.Model.FailPageInput.empty());
  // Only mailboxes are taken; what is refused says why.
  for (const std::string bad :
       {"bad addr@test.example", "@example.com", "ops@", ".ops@x", "a..b@x", "a@b@c", "a@-b.example", "a@b_c.example",
        "<a@b.example>", "a@[300.1.1.1]", "a@x..y", "\"open@x", "caf\xC3\xA9@x"}) {
    EXPECT_FALSE(MailboxSyntaxError(bad).empty()) << bad;
    rig.Add(bad);
    EXPECT_TRUE(rig.page.Model.Recipients.empty()) << bad;
  }
  EXPECT_NE(MailboxSyntaxError("bad addr@test.example").find("blank"), std::string::npos);
  for (const std::string good : {"first.last+tag@mail.example.com", "\"john doe\"@example.com", "a@[192.0.2.1]",
                                 "a@[IPv6:2001:db8::1]", "root@localhost"})
    EXPECT_EQ(MailboxSyntaxError(good), "") << good;
  rig.ui.boxes.resize(1);
  rig.Add("");
  for (int i = 0; i < 10; ++i) rig.Add("a" + std::to_string(i) + "@x");
  rig.Add("eleventh@x");  // refused without a word, input left as it is
  EXPECT_EQ(rig.page.Model.Recipients.size(), 10u);
  EXPECT_EQ(rig.page.Model.FailPageInput, "eleventh@x");
  EXPECT_EQ(rig.ui.boxes.size(), 1u);
  rig.page.SelectSubPage(2);  // choosing a sub-page clears both inputs
  EXPECT_TRUE(rig.page.Model.FailPageInput.empty());
  // A row past the list removes nothing.
  rig.page.Model.Recipients.resize(3);
  rig.page.SelectCell(2, 5);
  rig.page.RemoveRecipient();
  EXPECT_EQ(rig.page.Model.Recipients.size(), 3u);
}

TEST(MailPage, IgnoreAndReentryShowTheStoredValues) {
  PageRig rig("ignore");
  rig.Start();
  rig.page.Fill();
  rig.page.EditChanged(MailField::SmtpHost, "stored.example.com");
  ASSERT_TRUE(rig.page.OkClick());
  rig.Load();
  rig.page.Fill();
  rig.page.EditChanged(MailField::SmtpHost, "unsaved.example.com");
  rig.page.LoginClick(true);
  rig.page.Fill();  // entering the page again
  EXPECT_EQ(rig.page.Model.SmtpHost, "stored.example.com");
  EXPECT_FALSE(rig.page.Model.LoginChecked);
  EXPECT_EQ(rig.page.Model.MailPageDirty, 0);
}

TEST(MailPage, TemplatesSavedLoadedAndDeleted) {
  PageRig rig("templates");
  rig.Start();
  rig.page.Fill();
  rig.page.Model.FailSubject = {"Drive failed", "second line"};
  rig.page.Model.FailContents = {"Please replace it."};
  rig.page.Model.RemoveSubject = {"Enclosure gone"};
  ASSERT_TRUE(rig.page.OkClick());
  const fs::path subject = rig.dir / "EmailSubject Hard Disks Fail.txt";
  EXPECT_EQ(ReadAll(subject), "Drive failed\r\nsecond line\r\n");
  EXPECT_TRUE(fs::exists(rig.dir / "EmailContens Hard Disks Fail.txt"));
  EXPECT_TRUE(fs::exists(rig.dir / "EmailSubject Device Removed.txt"));
  EXPECT_FALSE(fs::exists(rig.dir / "EmailContens Device Removed.txt"));
  std::ofstream(rig.dir / "EmailSubject Over Heat.txt", std::ios::binary) << "Hot\nno CR";
  rig.Load();
  EXPECT_EQ(rig.settings.MailSubjectTemplate[1], (TextLines{"Drive failed", "second line"}));
  EXPECT_EQ(rig.settings.MailSubjectTemplate[3], (TextLines{"Hot", "no CR"}));
  rig.page.Fill();
  rig.page.Model.FailSubject.clear();
  ASSERT_TRUE(rig.page.OkClick());
  EXPECT_FALSE(fs::exists(subject));
  rig.Load();
  EXPECT_TRUE(rig.settings.MailSubjectTemplate[1].empty());
}

TEST(MailPage, BadRecordAndFailedWrites) {
  PageRig rig("badrecord");
  rig.store.exists = true;
  rig.store.values["ProductID"] = {SettingsType::Binary, "", 0, std::vector<uint8_t>(18, 0x42)};
  rig.store.values["FilePath"] = {SettingsType::String, rig.dir.string() + "/", 0, {}};
  rig.Start();
  EXPECT_EQ(rig.flags.load(), 1);
  rig.Load();
  EXPECT_EQ(rig.settings.Setting(kPassword), "ErrorFormat");
  EXPECT_EQ(rig.settings.MailAuthState, kAuthInvalid);
  rig.page.Fill();
  EXPECT_FALSE(rig.page.Model.LoginChecked);
  // Editing another field never stores "ErrorFormat" as the password.
  rig.page.EditChanged(MailField::Port, "587");
  ASSERT_TRUE(rig.page.OkClick());
  EXPECT_EQ(rig.store.values["ProductID"].bytes, std::vector<uint8_t>(18, 0x42));
  // A refused write is said, and what was written before it stays.
  rig.Load();
  rig.page.Fill();
  rig.page.EditChanged(MailField::SmtpHost, "host");
  rig.page.EditChanged(MailField::Password, "pw");
  rig.store.failWrites = {"ProductID"};
  EXPECT_FALSE(rig.page.OkClick());
  ASSERT_FALSE(rig.ui.boxes.empty());
  EXPECT_NE(rig.ui.boxes.back().text.find("could not be saved"), std::string::npos);
  EXPECT_EQ(rig.store.values["SMTP"].text, "host");
  EXPECT_EQ(rig.flags.load() & 1, 1);
}

TEST(MailSettings, LoadIsBoundedAndKeepsMemoryOnFailure) {
  MemorySettingsStore store;
  store.exists = true;
  store.values["ToAddrCount"] = {SettingsType::Dword, "", 0xFFFFFFFF, {}};
  store.values["ToAddr_00"] = {SettingsType::String, "a@b", 0, {}};
  MailSettingsState s;
  std::atomic<uint8_t> flags{3};
  ASSERT_TRUE(LoadMailSettings(store, s, flags).ok());
  EXPECT_EQ(flags.load(), 2);
  // Never more than the list holds, and the blanks a damaged count leaves
  // are no recipients.
  EXPECT_EQ(s.MailRecipients.size(), 1u);
  EXPECT_EQ(s.MailRecipientCount, 1u);
  EXPECT_EQ(s.MailRecipients[0], "a@b");
  store.values["Port"] = {SettingsType::Dword, "", 25, {}};  // wrong type
  flags = 1;
  EXPECT_FALSE(LoadMailSettings(store, s, flags).ok());
  EXPECT_EQ(flags.load(), 0);
  EXPECT_TRUE(s.MailSettingsLoaded);  // what was loaded before stays in use
  EXPECT_EQ(s.MailRecipients[0], "a@b");
}

TEST(MailSettings, LoginUser) {
  EXPECT_EQ(LoginUser("alerts@example.com"), "alerts");
  EXPECT_EQ(LoginUser("a@b@c"), "a");
  EXPECT_EQ(LoginUser("plainuser"), "plainuser");
}

TEST(MailPage, EachEditBoxKeepsItsTextAndMarksOnlyItsSetting) {
  PageRig rig("editboxes");
  rig.Start();
  rig.page.Fill();
  const std::string longText(40, 'x');
  struct Box {
    MailField edit;
    std::string MailPageModel::*field;
    size_t kept;
    uint8_t dirty;
  };
  const Box boxes[] = {{MailField::Port, &MailPageModel::Port, 40, mail_dirty::kPort},
                       {MailField::SmtpHost, &MailPageModel::SmtpHost, 40, mail_dirty::kHost},
                       {MailField::SenderName, &MailPageModel::SenderName, 40, mail_dirty::kName},
                       {MailField::SenderAddress, &MailPageModel::SenderAddress, 40, mail_dirty::kAddress},
                       {MailField::TimeOut, &MailPageModel::TimeOut, 2, mail_dirty::kTimeOut},
                       {MailField::Password, &MailPageModel::Password, kPasswordMaxLength, mail_dirty::kPassword}};
  for (const Box& b : boxes) {
    rig.page.Model.MailPageDirty = 0;
    rig.page.EditChanged(b.edit, longText);
    EXPECT_EQ(rig.page.Model.*b.field, longText.substr(0, b.kept)) << "edit " << static_cast<int>(b.edit);
    EXPECT_EQ(rig.page.Model.MailPageDirty, b.dirty) << "edit " << static_cast<int>(b.edit);
  }
  // Boxes the page does not have change nothing.
  const MailPageModel before = rig.page.Model;
  rig.page.Model.MailPageDirty = 0;
  for (const int edit : {6, 7, 99, -1}) rig.page.EditChanged(static_cast<MailField>(edit), "stray");
  EXPECT_EQ(rig.page.Model.MailPageDirty, 0);
  EXPECT_EQ(rig.page.Model.RemovePageInput, before.RemovePageInput);
  EXPECT_EQ(rig.page.Model.FailPageInput, before.FailPageInput);
  EXPECT_EQ(rig.page.Model.Port, before.Port);
}

}  // namespace
}  // namespace raid
