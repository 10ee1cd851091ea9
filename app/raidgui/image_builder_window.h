// ImageBuilderWindow, the "Make Bin" window: the entry grid of a boot loader and up to
// ten sub-codes with its in-cell editors and keys, the "Setting" page of the
// configuration block, and "Save Bin", which assembles the image, puts it
// where the Upgrade page's loaded image lives and saves it. The main window
// creates it once and keeps it (entries, settings and the filler
// generator's state) for the whole run; "Make Bin..." on the Upgrade page
// and Ctrl+M open it.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTabWidget>
#include <array>
#include <functional>

#include "maintenance/firmware_upgrade.h"
#include "maintenance/image_builder.h"

namespace raid {

// The image builder's status bar, panel by panel.
enum BuilderPanel : int {
  kImageSizePanel = 0,     // the built image's size in bytes
  kConfigOffsetPanel = 1,  // where the configuration block starts
  kEntryPanel = 2,         // the selected row's entry, or the saved size
  kDetailPanel = 3,        // the selected cell's detail, or what a build or save said
};
constexpr int kBuilderPanels = 4;

class ImageBuilderWindow : public QDialog {
  Q_OBJECT
 public:
  ImageBuilderWindow(FirmwareUpgrade& upgrade, uint32_t seed, QWidget* parent = nullptr);

  ImageBuilder& Builder() { return builder_; }
  const FillerGenerator& Filler() const { return filler_; }
  // Replace the file dialogs while set (tests): the files chosen to add, and
  // the name to save as (empty: cancelled).
  std::function<QStringList()> ChooseFiles;
  std::function<QString()> ChooseSaveName;

  // "Add Sub-code".
  void AddSubCodesClick();
  // "Save Bin". True when an image was assembled (the form then closes).
  bool SaveBinClick();
  // "Bin Size Auto-detected" enables the size group while unchecked.
  void AutoSizeClick();
  // The grid: selecting a cell, a double click or Enter on a cell (opens
  // its in-cell editor), and the Delete / "+" / "-" keys on the current row.
  void GridCellSelected(int row, int col);
  void OpenCellEditor(int row, int col);
  bool GridKeyDown(int key);
  // Enter in the code-type editor / an item chosen in the update-flag editor.
  void CodeTypeEntered();
  void UpdateFlagChosen(int index);

  QString PanelText(BuilderPanel panel) const;
  // What the last "Save Bin" said of the file: "Svae File OK :" and the
  // name, "Fail to create file", or empty when no name was chosen.
  const std::string& SaveResult() const { return saveResult_; }
  // The settings as the form's controls hold them.
  BuilderSettings Settings() const;
  // Redraws the grid from the entry table.
  void RefreshGrid();

 protected:
  bool eventFilter(QObject* o, QEvent* e) override;

 private:
  void BuildMakePage(QWidget* page);
  void BuildSettingPage(QWidget* page);
  void HideEditors();
  void PlaceEditor(QWidget* editor, int row, int col);
  void SetPanel(BuilderPanel panel, const std::string& text);
  QString ProgramDir() const;

  FirmwareUpgrade& upgrade_;
  ImageBuilder builder_;
  FillerGenerator filler_;
  int editRow_ = -1;
  std::string saveResult_;
  QTabWidget* pages_ = nullptr;
  QTableWidget* grid_ = nullptr;
  QLineEdit* codeTypeEditor_ = nullptr;
  QComboBox* updateFlagEditor_ = nullptr;
  QCheckBox* autoSize_ = nullptr;
  QGroupBox* sizeGroup_ = nullptr;
  std::array<QRadioButton*, 4> sizes_{};
  QCheckBox* jumper_ = nullptr;
  QCheckBox* chip_ = nullptr;
  QLineEdit* fanSupported_ = nullptr;
  QLineEdit* fanLimit_ = nullptr;
  QLineEdit* thermalSupported_ = nullptr;
  QLineEdit* thermalLimit_ = nullptr;
  QCheckBox* scheduleBackup_ = nullptr;
  QCheckBox* fastBackup_ = nullptr;
  std::array<QLabel*, kBuilderPanels> panels_{};
};

}  // namespace raid
