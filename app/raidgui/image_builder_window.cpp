#include "app/raidgui/image_builder_window.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/raidgui/make_widget.h"
#include "app/raidgui/message_box.h"

namespace raid {

namespace {
constexpr int kFormW = 560, kFormH = 420;
const char* const kFilter = "Binary code (*.bin);;All files (*.*)";

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool IsModifierKey(int key) {
  switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R: return true;
    default: return false;
  }
}

QLabel* Label(QWidget* parent, const QString& text, const QRect& r) {
  auto* l = new QLabel(text, parent);
  MakePlain(l);
  l->setGeometry(r);
  return l;
}

QLineEdit* Field(QWidget* parent, const char* name, const QString& text, const QRect& r, const QString& accessible) {
  auto* e = MakeWidget<QLineEdit>(parent, name, r, text);
  e->setAccessibleName(accessible);
  return e;
}

// A sensor's group on the Setting page: whether the enclosure has the
// sensor, and the limit that raises its alarm, in `unit`.
struct SensorGroup {
  const char* title;
  const char* name;
  int left;
  const char* supportedEdit;
  const char* supportedName;
  const char* limitEdit;
  const char* limit;
  const char* limitName;
  QString unit;
};

void BuildSensorGroup(QWidget* page, const SensorGroup& s, QLineEdit*& supported, QLineEdit*& limit) {
  auto* group = MakeWidget<QGroupBox>(page, s.name, QRect(s.left, 70, 250, 90), s.title);
  Label(group, "Supported:", QRect(10, 24, 90, 22));
  supported = Field(group, s.supportedEdit, "1", QRect(100, 24, 60, 22), s.supportedName);
  Label(group, "Alarm Limit:", QRect(10, 54, 90, 22));
  limit = Field(group, s.limitEdit, s.limit, QRect(100, 54, 60, 22), s.limitName);
  Label(group, s.unit, QRect(166, 54, 40, 22));
}
}  // namespace

ImageBuilderWindow::ImageBuilderWindow(FirmwareUpgrade& upgrade, uint32_t seed, QWidget* parent)
    : QDialog(parent), upgrade_(upgrade), filler_(seed) {
  setObjectName("Form2");
  setWindowTitle(builder_text::kCaption);
  setWindowFlags(kCloseOnlyDialog);
  setFixedSize(kFormW, kFormH);

  pages_ = new QTabWidget(this);
  pages_->setObjectName("PageControl1");
  pages_->setGeometry(6, 6, kFormW - 12, kFormH - 36);
  auto* make = new QWidget;
  make->setObjectName("TabSheet_Make");
  auto* setting = new QWidget;
  setting->setObjectName("TabSheet_Setting");
  pages_->addTab(make, "Make");
  pages_->addTab(setting, "Setting");
  BuildMakePage(make);
  BuildSettingPage(setting);

  auto* bar = new QStatusBar(this);
  bar->setObjectName("StatusBar1");
  bar->setSizeGripEnabled(false);
  bar->setGeometry(0, kFormH - 24, kFormW, 24);
  const int widths[kBuilderPanels] = {90, 90, 90, 280};
  for (int i = 0; i < kBuilderPanels; ++i) {
    panels_[i] = new QLabel(bar);
    MakePlain(panels_[i]);
    panels_[i]->setObjectName(QString("StatusBar1_Panel%1").arg(i));
    panels_[i]->setFrameShape(QFrame::StyledPanel);
    panels_[i]->setMinimumWidth(widths[i]);
    bar->addWidget(panels_[i], i == kDetailPanel ? 1 : 0);  // the detail takes the rest
  }
  RefreshGrid();
}

void ImageBuilderWindow::BuildMakePage(QWidget* page) {
  grid_ = new QTableWidget(ImageBuilder::kRows, ImageBuilder::kColumns, page);
  grid_->setObjectName("StringGrid1");
  grid_->setAccessibleName("Boot loader and sub-codes");
  grid_->setGeometry(8, 8, 530, 250);
  grid_->horizontalHeader()->hide();
  grid_->verticalHeader()->hide();
  grid_->verticalHeader()->setDefaultSectionSize(19);
  grid_->setColumnWidth(0, 90);
  grid_->setColumnWidth(1, 250);
  grid_->setColumnWidth(2, 80);
  grid_->setColumnWidth(3, 85);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setTabKeyNavigation(false);
  const QBrush fixed = palette().brush(QPalette::Button);
  for (int r = 0; r < ImageBuilder::kRows; ++r) {
    for (int c = 0; c < ImageBuilder::kColumns; ++c) {
      auto* item = new QTableWidgetItem;
      if (r == 0 || c == 0) {
        // The title row and column: shown, never selected.
        item->setFlags(Qt::ItemIsEnabled);
        item->setBackground(fixed);
      } else {
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      }
      grid_->setItem(r, c, item);
    }
  }
  grid_->installEventFilter(this);
  connect(grid_, &QTableWidget::currentCellChanged, this,
          [this](int row, int col, int, int) { GridCellSelected(row, col); });
  connect(grid_, &QTableWidget::cellDoubleClicked, this, [this](int row, int col) { OpenCellEditor(row, col); });

  codeTypeEditor_ = new QLineEdit(grid_->viewport());
  codeTypeEditor_->setObjectName("Edit1");
  codeTypeEditor_->setAccessibleName("Code type");
  codeTypeEditor_->hide();
  codeTypeEditor_->installEventFilter(this);
  updateFlagEditor_ = new QComboBox(grid_->viewport());
  updateFlagEditor_->setObjectName("ComboBox1");
  updateFlagEditor_->setAccessibleName("Update flag");
  updateFlagEditor_->addItems({"FALSE", "TRUE"});
  updateFlagEditor_->hide();
  connect(updateFlagEditor_, &QComboBox::activated, this, [this](int i) { UpdateFlagChosen(i); });

  auto* add = MakeWidget<QPushButton>(page, "Button1", QRect(8, 270, 120, 28), "Add Sub-code");
  // Enter belongs to the grid and its editors, never to a default button.
  add->setAutoDefault(false);
  connect(add, &QPushButton::clicked, this, [this] { AddSubCodesClick(); });
  auto* save = MakeWidget<QPushButton>(page, "Button2", QRect(8, 306, 120, 28), "Save Bin");
  save->setAutoDefault(false);
  connect(save, &QPushButton::clicked, this, [this] { SaveBinClick(); });

  autoSize_ = MakeWidget<QCheckBox>(page, "CheckBox1", QRect(150, 270, 200, 22), builder_text::kAutoSize);
  autoSize_->setChecked(true);
  connect(autoSize_, &QCheckBox::clicked, this, [this] { AutoSizeClick(); });
  sizeGroup_ = MakeWidget<QGroupBox>(page, "GroupBox_BinSize", QRect(150, 294, 388, 50), "  Bin Size  ");
  auto* group = new QButtonGroup(this);
  for (size_t k = 0; k < sizes_.size(); ++k) {
    sizes_[k] = MakeWidget<QRadioButton>(sizeGroup_, QString("RadioButton%1").arg(k + 1),
                                         QRect(10 + static_cast<int>(k) * 92, 20, 88, 22), kImageSizeNames[k]);
    group->addButton(sizes_[k]);
  }
  sizeGroup_->setEnabled(false);
}

void ImageBuilderWindow::BuildSettingPage(QWidget* page) {
  jumper_ = MakeWidget<QCheckBox>(page, "CheckBox2", QRect(16, 12, 300, 22), "RAID Mode setting by  jumper");
  jumper_->setChecked(true);
  chip_ = MakeWidget<QCheckBox>(page, "CheckBox3", QRect(16, 38, 300, 22), "KX5080A chip");
  chip_->setChecked(true);

  BuildSensorGroup(
      page, {" FAN ", "GroupBox_Fan", 16, "Edit2", "Fan supported", "Edit3", "2000", "Fan alarm limit in RPM", "RPM"},
      fanSupported_, fanLimit_);
  BuildSensorGroup(page,
                   {" Thermal sensor ", "GroupBox_Thermal", 276, "Edit4", "Thermal sensor supported", "Edit5", "50",
                    "Thermal alarm limit in degrees Celsius", QString::fromUtf8("\u2103")},
                   thermalSupported_, thermalLimit_);

  auto* functions = MakeWidget<QGroupBox>(page, "GroupBox_Function", QRect(16, 172, 510, 56), " Function Supported ");
  scheduleBackup_ = MakeWidget<QCheckBox>(functions, "CheckBox4", QRect(10, 24, 200, 22), "Schedule Backup");
  fastBackup_ = MakeWidget<QCheckBox>(functions, "CheckBox5", QRect(220, 24, 200, 22), "Fast Backup");
}

QString ImageBuilderWindow::ProgramDir() const { return QCoreApplication::applicationDirPath(); }

void ImageBuilderWindow::SetPanel(BuilderPanel panel, const std::string& text) {
  if (panel >= 0 && panel < kBuilderPanels) panels_[static_cast<size_t>(panel)]->setText(Q(text));
}

QString ImageBuilderWindow::PanelText(BuilderPanel panel) const {
  return panel >= 0 && panel < kBuilderPanels ? panels_[static_cast<size_t>(panel)]->text() : QString();
}

void ImageBuilderWindow::RefreshGrid() {
  for (int r = 0; r < ImageBuilder::kRows; ++r)
    for (int c = 0; c < ImageBuilder::kColumns; ++c) grid_->item(r, c)->setText(Q(builder_.CellText(r, c)));
}

void ImageBuilderWindow::AddSubCodesClick() {
  const QStringList files =
      ChooseFiles ? ChooseFiles() : QFileDialog::getOpenFileNames(this, "Open", ProgramDir(), kFilter);
  std::vector<std::string> paths;
  for (const QString& f : files) paths.push_back(f.toStdString());
  const std::string refused = builder_.AddFiles(paths);
  RefreshGrid();
  if (!refused.empty()) ShowMessageBox(this, {refused, "Error", BoxIcon::Error, BoxButtons::Ok});
}

void ImageBuilderWindow::AutoSizeClick() { sizeGroup_->setEnabled(!autoSize_->isChecked()); }

BuilderSettings ImageBuilderWindow::Settings() const {
  BuilderSettings s;
  s.autoSize = autoSize_->isChecked();
  s.sizeChoice = -1;
  for (size_t k = 0; k < sizes_.size(); ++k)
    if (sizes_[k]->isChecked()) s.sizeChoice = static_cast<int>(k);
  s.jumper = jumper_->isChecked();
  s.chip = chip_->isChecked();
  s.fanSupported = fanSupported_->text().toStdString();
  s.fanLimit = fanLimit_->text().toStdString();
  s.thermalSupported = thermalSupported_->text().toStdString();
  s.thermalLimit = thermalLimit_->text().toStdString();
  s.scheduleBackup = scheduleBackup_->isChecked();
  s.fastBackup = fastBackup_->isChecked();
  return s;
}

bool ImageBuilderWindow::SaveBinClick() {
  HideEditors();
  BuildResult r = builder_.Assemble(Settings(), filler_, [] { return MakeFileImageReader(); });
  if (r.configKnown) SetPanel(kConfigOffsetPanel, std::to_string(r.configOffset));
  if (r.size) SetPanel(kImageSizePanel, std::to_string(r.size));
  if (!r.ok) {
    // The form stays open so the input can be put right; the file
    // concerned shows in panel 3, the field at fault gets the focus.
    SetPanel(kDetailPanel, r.detail);
    if (r.field != BuilderField::None) {
      QWidget* at = r.field == BuilderField::FanSupported       ? fanSupported_
                    : r.field == BuilderField::FanLimit         ? fanLimit_
                    : r.field == BuilderField::ThermalSupported ? thermalSupported_
                    : r.field == BuilderField::ThermalLimit     ? thermalLimit_
                                                                : static_cast<QWidget*>(autoSize_);
      pages_->setCurrentIndex(at == autoSize_ ? 0 : 1);
      at->setFocus();
    }
    ShowMessageBox(this, r.error);
    return false;
  }
  if (!r.warnings.empty()) {
    std::string text;
    for (const auto& w : r.warnings) text += (text.empty() ? "" : "\n") + w;
    ShowMessageBox(this, {text, "Warning", BoxIcon::Warning, BoxButtons::Ok});
  }

  const QString chosen =
      ChooseSaveName ? ChooseSaveName() : QFileDialog::getSaveFileName(this, "Save As", ProgramDir(), kFilter);
  std::string saved;
  saveResult_.clear();
  if (!chosen.isEmpty()) {
    const std::string name = BinFileName(chosen.toStdString());
    SetPanel(kDetailPanel, name);
    SetPanel(kEntryPanel, std::to_string(r.size));
    const Outcome f = SaveImageFile(name, r.image);
    if (f.ok()) {
      saved = name;
      saveResult_ = builder_text::kSaved + name;
      SetPanel(kDetailPanel, saveResult_);
    } else {
      saveResult_ = builder_text::kCreateFailed;
      ShowMessageBox(this, {builder_text::kCreateFailed, "Error", BoxIcon::Error, BoxButtons::Ok});
    }
  }
  // The image stays where the Upgrade page's image lives, saved or not.
  upgrade_.UseBuiltImage(std::move(r.image), saved);
  accept();
  return true;
}

void ImageBuilderWindow::HideEditors() {
  codeTypeEditor_->hide();
  updateFlagEditor_->hide();
}

void ImageBuilderWindow::PlaceEditor(QWidget* editor, int row, int col) {
  editRow_ = row;
  editor->setGeometry(grid_->visualItemRect(grid_->item(row, col)));
  editor->show();
  editor->raise();
  editor->setFocus();
}

void ImageBuilderWindow::GridCellSelected(int row, int col) {
  HideEditors();
  if (row < 1 || col < 1) return;
  SetPanel(kEntryPanel, builder_.SelectedEntryText(row));
  SetPanel(kDetailPanel, builder_.SelectedDetailText(row, col));
}

void ImageBuilderWindow::OpenCellEditor(int row, int col) {
  HideEditors();
  // Only the code type and update flag of an existing sub-code are edited.
  if (row < 2 || row > builder_.SubCodeCount() + 1) return;
  if (col == 2) {
    codeTypeEditor_->setText(grid_->item(row, col)->text());
    codeTypeEditor_->selectAll();
    PlaceEditor(codeTypeEditor_, row, col);
  } else if (col == 3) {
    updateFlagEditor_->setCurrentIndex(builder_.Entry(row - 1).updateFlag ? 1 : 0);
    PlaceEditor(updateFlagEditor_, row, col);
  }
}

void ImageBuilderWindow::CodeTypeEntered() {
  if (!codeTypeEditor_->isVisible()) return;
  if (const Outcome set = builder_.SetCodeType(editRow_ - 1, codeTypeEditor_->text().toStdString()); !set) {
    ShowMessageBox(this, {set.error() + ".", "Error", BoxIcon::Error, BoxButtons::Ok});
    codeTypeEditor_->setFocus();
    return;
  }
  HideEditors();
  RefreshGrid();
  grid_->setFocus();
}

void ImageBuilderWindow::UpdateFlagChosen(int index) {
  builder_.SetUpdateFlag(editRow_ - 1, index == 1);
  HideEditors();
  RefreshGrid();
  grid_->setFocus();
}

bool ImageBuilderWindow::GridKeyDown(int key) {
  HideEditors();
  const int row = grid_->currentRow();
  const int col = grid_->currentColumn();
  if (row < 1) return false;
  const int index = row - 1;
  switch (key) {
    case Qt::Key_Delete:
      if (builder_.DeleteEntry(index)) RefreshGrid();
      GridCellSelected(row, col);
      return true;
    case Qt::Key_Plus:
      if (builder_.MoveUp(index)) {
        RefreshGrid();
        grid_->setCurrentCell(row - 1, col);
      }
      return true;
    case Qt::Key_Minus:
      if (builder_.MoveDown(index)) {
        RefreshGrid();
        grid_->setCurrentCell(row + 1, col);
      }
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: OpenCellEditor(row, col); return true;
    default: return false;
  }
}

bool ImageBuilderWindow::eventFilter(QObject* o, QEvent* e) {
  if (e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    if (o == codeTypeEditor_) {
      // Enter stores the code type here, before the key could travel on to
      // the grid (which would open the editor again); Escape leaves the
      // cell as it was, not the form.
      if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
        CodeTypeEntered();
        return true;
      }
      if (k->key() == Qt::Key_Escape) {
        HideEditors();
        grid_->setFocus();
        return true;
      }
      return false;
    }
    // A modifier pressed on its own (on its way to Shift+A or Ctrl+A in an
    // editor, which hands it on to the grid) is no key of the grid's: it
    // leaves an open editor and what was typed in it alone.
    if (o == grid_ && !IsModifierKey(k->key())) return GridKeyDown(k->key());
  }
  return QDialog::eventFilter(o, e);
}

}  // namespace raid
