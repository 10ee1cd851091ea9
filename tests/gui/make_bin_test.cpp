// The "Make Bin" window on the simulated enclosure: opening it, adding,
// editing, reordering and deleting entries with the grid's editors and
// keys, refusals that keep it open, and a saved image that the Upgrade page
// writes into the enclosure's flash.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/gui/simulated_window.h"
#include "app/common/options.h"
#include "app/raidgui/message_box.h"
#include "app/raidgui/main_window.h"
#include "app/raidgui/image_builder_window.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

struct MakeBinWindow : test::SimulatedWindow {
  MakeBinWindow() : SimulatedWindow("raidgui-makebin") { form->UpgradeNavClick(); }
  std::string Write(const std::string& name, std::vector<uint8_t> bytes) {
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  std::string BootLoader() {
    std::vector<uint8_t> b(0x2000, 0x11);
    std::memcpy(b.data(), "FIPS", 4);
    b[16] = 0x00;
    b[17] = 0x80;
    b[18] = 0x07;
    return Write("SPIHEAD.BIN", b);
  }
  ImageBuilderWindow& Bin() { return form->ImageBuilderForm(); }
  template <typename T>
  T* Find(const char* name) {
    T* w = Bin().findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QString Cell(int row, int col) { return Find<QTableWidget>("StringGrid1")->item(row, col)->text(); }
};

TEST(MakeBin, OpensFromTheUpgradePageButtonAndCtrlM) {
  MakeBinWindow w;
  EXPECT_EQ(w.Bin().windowTitle(), "Make Bin");
  EXPECT_FALSE(w.Bin().isVisible());
  auto* button = w.form->findChild<QPushButton*>("Button_MakeBin");
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->text(), "Make Bin...");
  int opened = 0;
  auto closeWhenShown = [&] {
    QTimer::singleShot(0, &w.Bin(), [&] {
      opened += w.Bin().isVisible();
      w.Bin().reject();
    });
  };
  closeWhenShown();
  button->click();
  EXPECT_EQ(opened, 1);

  // Ctrl+M: the window's shortcut (activated as the shortcut map would).
  QShortcut* ctrlM = nullptr;
  for (auto* s : w.form->findChildren<QShortcut*>())
    if (s->key() == QKeySequence(Qt::CTRL | Qt::Key_M)) ctrlM = s;
  ASSERT_NE(ctrlM, nullptr);
  EXPECT_EQ(ctrlM->context(), Qt::WindowShortcut);
  closeWhenShown();
  emit ctrlM->activated();
  EXPECT_EQ(opened, 2);

  // Not while an operation runs: the image may be an upgrade's source.
  OperationLease lease = w.form->Core().BeginOperation();
  w.form->OpenImageBuilder();
  EXPECT_FALSE(w.Bin().isVisible());
  w.form->Core().EndOperation(lease);
}

TEST(MakeBin, GridAddsEditsReordersAndDeletes) {
  MakeBinWindow w;
  w.Bin().show();  // shown without its own event loop, so the test goes on
  auto* grid = w.Find<QTableWidget>("StringGrid1");
  EXPECT_EQ(grid->rowCount(), 12);
  EXPECT_EQ(grid->columnCount(), 4);
  EXPECT_EQ(w.Cell(0, 1), "Subcode file");
  EXPECT_EQ(w.Cell(1, 0), "Boot Loader");
  EXPECT_EQ(w.Cell(11, 0), "SubCode-9");

  const std::string boot = w.BootLoader();
  const std::string a = w.Write("aa01.bin", std::vector<uint8_t>(10, 1));
  const std::string b = w.Write("bb0A.bin", std::vector<uint8_t>(10, 2));
  const std::string c = w.Write("cc13.bin", std::vector<uint8_t>(10, 3));
  w.Bin().ChooseFiles = [&] {
    return QStringList{QString::fromStdString(a), QString::fromStdString(boot), QString::fromStdString(b),
                       QString::fromStdString(c)};
  };
  w.Bin().AddSubCodesClick();
  EXPECT_TRUE(w.boxes.empty());
  EXPECT_EQ(w.Cell(1, 1), "SPIHEAD.BIN");
  EXPECT_EQ(w.Cell(2, 1), "aa01.bin");
  EXPECT_EQ(w.Cell(3, 2), "0Ah");
  EXPECT_EQ(w.Cell(4, 3), "TRUE");
  EXPECT_EQ(w.Cell(5, 1), "");

  // Selecting a cell shows the entry number and its detail.
  grid->setCurrentCell(3, 1);
  EXPECT_EQ(w.Bin().PanelText(kEntryPanel), "2");
  EXPECT_EQ(w.Bin().PanelText(kDetailPanel).toStdString(), b);

  // Enter on a code-type cell opens its editor with the cell's text; Enter stores it.
  auto* codeType = w.Find<QLineEdit>("Edit1");
  grid->setCurrentCell(2, 2);
  QTest::keyClick(grid, Qt::Key_Return);
  ASSERT_TRUE(codeType->isVisible());
  EXPECT_EQ(codeType->text(), "01h");
  codeType->setText("10");
  QTest::keyClick(codeType, Qt::Key_Return);
  EXPECT_FALSE(codeType->isVisible());
  EXPECT_EQ(w.Cell(2, 2), "0Ah");
  w.Bin().OpenCellEditor(2, 2);
  codeType->setText("10h");
  QTest::keyClick(codeType, Qt::Key_Return);
  EXPECT_EQ(w.Cell(2, 2), "10h");
  // A malformed code type names the field and keeps the editor open.
  w.Bin().OpenCellEditor(2, 2);
  codeType->setText("1x");
  QTest::keyClick(codeType, Qt::Key_Return);
  ASSERT_EQ(w.boxes.size(), 1u);
  EXPECT_NE(w.boxes[0].text.find("Code Type: \"1x\" is not a number"), std::string::npos) << w.boxes[0].text;
  EXPECT_TRUE(codeType->isVisible());
  EXPECT_EQ(w.Cell(2, 2), "10h");
  // Any key in the grid hides the editors.
  QTest::keyClick(grid, Qt::Key_Down);
  EXPECT_FALSE(codeType->isVisible());
  w.boxes.clear();

  // A modifier on its own is no key of the grid's: the editor stays with
  // what was typed, so Ctrl+A, a capital letter and Shift+Home work in it.
  w.Bin().OpenCellEditor(2, 2);
  QTest::keyClick(codeType, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(codeType, '0');
  QTest::keyClick(codeType, 'A', Qt::ShiftModifier);
  QTest::keyClick(codeType, 'h');
  QTest::keyClick(codeType, Qt::Key_Home, Qt::ShiftModifier);
  ASSERT_TRUE(codeType->isVisible());
  EXPECT_EQ(codeType->selectedText(), "0Ah");
  QTest::keyClick(codeType, Qt::Key_Return);
  EXPECT_EQ(w.Cell(2, 2), "0Ah");

  // The update flag through its drop-down editor.
  auto* combo = w.Find<QComboBox>("ComboBox1");
  w.Bin().OpenCellEditor(3, 3);
  QTest::keyClick(combo, Qt::Key_Shift);
  ASSERT_TRUE(combo->isVisible());
  EXPECT_EQ(combo->currentText(), "TRUE");
  combo->setCurrentIndex(0);
  emit combo->activated(0);
  EXPECT_FALSE(combo->isVisible());
  EXPECT_EQ(w.Cell(3, 3), "FALSE");
  // Not on the boot loader's row, nor on an empty one.
  w.Bin().OpenCellEditor(1, 2);
  w.Bin().OpenCellEditor(6, 3);
  EXPECT_FALSE(codeType->isVisible());
  EXPECT_FALSE(combo->isVisible());

  // "-" moves the entry down and follows it; "+" moves it up.
  grid->setCurrentCell(2, 1);
  QTest::keyClick(grid, Qt::Key_Minus);
  EXPECT_EQ(w.Cell(2, 1), "bb0A.bin");
  EXPECT_EQ(w.Cell(3, 1), "aa01.bin");
  EXPECT_EQ(grid->currentRow(), 3);
  QTest::keyClick(grid, Qt::Key_Minus);
  QTest::keyClick(grid, Qt::Key_Minus);  // already the last entry
  EXPECT_EQ(grid->currentRow(), 4);
  EXPECT_EQ(w.Cell(4, 1), "aa01.bin");
  QTest::keyClick(grid, Qt::Key_Plus);
  EXPECT_EQ(w.Cell(3, 1), "aa01.bin");
  EXPECT_EQ(grid->currentRow(), 3);
  // Nothing moves into or out of the boot loader's row.
  grid->setCurrentCell(2, 1);
  QTest::keyClick(grid, Qt::Key_Plus);
  EXPECT_EQ(grid->currentRow(), 2);
  EXPECT_EQ(w.Cell(1, 1), "SPIHEAD.BIN");
  grid->setCurrentCell(1, 1);
  QTest::keyClick(grid, Qt::Key_Minus);
  EXPECT_EQ(w.Cell(1, 1), "SPIHEAD.BIN");
  EXPECT_EQ(w.Cell(2, 1), "bb0A.bin");

  // Delete removes the entry and the later ones move up.
  grid->setCurrentCell(2, 1);
  QTest::keyClick(grid, Qt::Key_Delete);
  EXPECT_EQ(w.Cell(2, 1), "aa01.bin");
  EXPECT_EQ(w.Cell(3, 1), "cc13.bin");
  EXPECT_EQ(w.Cell(4, 1), "");
  EXPECT_EQ(w.Bin().Builder().SubCodeCount(), 2);
  // On the boot loader's row it forgets only the boot loader.
  grid->setCurrentCell(1, 1);
  QTest::keyClick(grid, Qt::Key_Delete);
  EXPECT_EQ(w.Cell(1, 1), "");
  EXPECT_EQ(w.Cell(2, 1), "aa01.bin");

  // An eleventh sub-code is refused with a box.
  std::vector<std::string> many;
  for (int i = 0; i < 9; ++i) many.push_back(w.Write("m" + std::to_string(i) + "1.bin", {1}));
  w.Bin().ChooseFiles = [&] {
    QStringList l;
    for (const auto& m : many) l << QString::fromStdString(m);
    return l;
  };
  w.Bin().AddSubCodesClick();
  EXPECT_EQ(w.Bin().Builder().SubCodeCount(), 10);
  ASSERT_EQ(w.boxes.size(), 1u);
  EXPECT_NE(w.boxes[0].text.find("at most 10 sub-codes"), std::string::npos);
  EXPECT_NE(w.boxes[0].text.find("m81.bin was not added"), std::string::npos) << w.boxes[0].text;
}

TEST(MakeBin, RefusalsKeepTheFormOpenAndWriteNothing) {
  MakeBinWindow w;
  bool asked = false;
  w.Bin().ChooseSaveName = [&] {
    asked = true;
    return QString::fromStdString((w.dir / "never").string());
  };
  // No boot loader.
  EXPECT_FALSE(w.Bin().SaveBinClick());
  ASSERT_EQ(w.boxes.size(), 1u);
  EXPECT_NE(w.boxes[0].text.find("No boot loader"), std::string::npos);

  const std::string boot = w.BootLoader();
  w.Bin().ChooseFiles = [&] { return QStringList{QString::fromStdString(boot)}; };
  w.Bin().AddSubCodesClick();
  // An empty setting names its field and gets the focus.
  w.Find<QLineEdit>("Edit3")->setText("");
  w.boxes.clear();
  EXPECT_FALSE(w.Bin().SaveBinClick());
  ASSERT_EQ(w.boxes.size(), 1u);
  EXPECT_EQ(w.boxes[0].text.rfind("FAN \"Alarm Limit:\": is empty", 0), 0u) << w.boxes[0].text;
  w.Find<QLineEdit>("Edit3")->setText("2000");
  // Size not automatic and none chosen; then one too small.
  w.Find<QCheckBox>("CheckBox1")->click();
  EXPECT_TRUE(w.Find<QRadioButton>("RadioButton1")->isEnabled());
  w.boxes.clear();
  EXPECT_FALSE(w.Bin().SaveBinClick());
  EXPECT_NE(w.boxes.at(0).text.find("Choose a bin size"), std::string::npos);
  w.Find<QRadioButton>("RadioButton2")->click();
  EXPECT_FALSE(w.Bin().SaveBinClick());
  EXPECT_NE(w.boxes.at(1).text.find("2M Bits (262144 bytes) is too small"), std::string::npos);
  EXPECT_EQ(w.Bin().PanelText(kConfigOffsetPanel), "491520");
  // A boot loader that went missing.
  fs::remove(boot);
  w.Find<QCheckBox>("CheckBox1")->click();
  EXPECT_FALSE(w.Bin().SaveBinClick());
  EXPECT_EQ(w.boxes.at(2).text, "Fail to open firmware file");
  EXPECT_EQ(w.Bin().PanelText(kDetailPanel).toStdString(), boot);
  EXPECT_FALSE(asked);
  EXPECT_FALSE(w.form->Upgrade().ImageLoaded());
  EXPECT_FALSE(fs::exists(w.dir / "never.bin"));
}

TEST(MakeBin, SavedImageIsTheUpgradePagesImageAndUpgradesTheEnclosure) {
  MakeBinWindow w;
  const std::string boot = w.BootLoader();
  const std::string sub = w.Write("main02.bin", std::vector<uint8_t>(0x9000, 0x42));
  w.Bin().ChooseFiles = [&] { return QStringList{QString::fromStdString(boot), QString::fromStdString(sub)}; };
  w.Bin().AddSubCodesClick();
  const std::string chosen = (w.dir / "made.dat").string();
  const std::string name = (w.dir / "made.bin").string();
  w.Bin().ChooseSaveName = [&] { return QString::fromStdString(chosen); };
  const uint32_t before = w.Bin().Filler().State();
  ASSERT_TRUE(w.Bin().SaveBinClick());
  EXPECT_TRUE(w.boxes.empty());
  EXPECT_NE(w.Bin().Filler().State(), before);
  EXPECT_EQ(w.Bin().PanelText(kImageSizePanel), "524288");
  EXPECT_EQ(w.Bin().PanelText(kConfigOffsetPanel), "491520");
  EXPECT_EQ(w.Bin().PanelText(kEntryPanel), "524288");
  EXPECT_EQ(w.Bin().PanelText(kDetailPanel).toStdString(), "Svae File OK :" + name);
  EXPECT_FALSE(fs::exists(chosen));
  ASSERT_EQ(fs::file_size(name), 0x80000u);

  ASSERT_TRUE(w.form->Upgrade().ImageLoaded());
  const std::vector<uint8_t> image = w.form->Upgrade().Image();
  std::ifstream in(name, std::ios::binary);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(file, image);
  EXPECT_EQ(w.form->findChild<QLineEdit*>("Edit9")->text().toStdString(), name);

  w.form->UpgradeFirmwareClick();
  EXPECT_EQ(w.form->findChild<QLabel*>("StatusBar1_Panel4")->text(), "SPI Verify OK");
  const auto& flash = w.machine.sim->FindEnclosure("E1")->Flash();
  for (uint32_t a = 0; a < 0x80000; ++a) ASSERT_EQ(flash.Peek(a), image[a]) << a;

  // The form keeps its entries for the next build.
  EXPECT_EQ(w.Bin().Builder().SubCodeCount(), 1);
  EXPECT_EQ(w.Bin().Builder().Entry(0).path, boot);
}

}  // namespace
}  // namespace raid
