// TForm1: the frequency memories of the "S. MEMORY" page. The grid StringGrid1 holds them (row 0
// the titles, column 0 the memory numbers, both fixed); the memory logic (file, sort, zoom, GO,
// phrases) is MemoryGrid's and GoToMemory's, and this file copies cells between the grid and a
// MemoryGrid and wires the page's controls to it.
//
// Start-up loads the memories through Button24Click; "&Keep Memories" writes them back. A file
// that cannot be read whole leaves the grid as it was, so a later save never writes a half grid
// over the operator's file. The file's line 1 sets the grid's column count, and a file read as
// CP1252 is written back in it (the grid carries that as a property).
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>

#include "PSKUnit1.h"
#include "grid_column_sizing.h"
#include "logbook_folders.h"
#include "memory_go.h"
#include "memory_grid.h"
#include "ui_TForm1.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet4.h"
#include "ui_TabSheet5.h"

namespace quillmere {

namespace {

inline constexpr const char* kMemoryFile = "QMemd.cfg";

// Sizes of the grid as the page first shows it (the zoom buttons scale them).
constexpr int kFontPixels = 32;
constexpr int kRowHeight = 42;
constexpr int kColumnWidths[MemoryGrid::kColumns] = {70, 320, 170, 110};
// Columns beyond the four a file may bring.
constexpr int kExtraColumnWidth = 110;
// The grid's property that says its memories came from a CP1252 file.
constexpr const char* kFileCp1252Property = "memoryFileCp1252";

// Memory rows alternate two backgrounds; names are black, frequencies blue.
const QColor kEvenRowBackground(0xF9, 0xFF, 0xE1);
const QColor kOddRowBackground(0xDF, 0xEB, 0xFF);

bool FixedCell(int column, int row) { return column == 0 || row == 0; }

// A cell of the grid with the look of its place.
QTableWidgetItem* MakeMemoryItem(const QTableWidget* table, int row, int column) {
  auto* item = new QTableWidgetItem();
  if (FixedCell(column, row)) {
    // Titles and numbers: neither chosen nor edited, drawn as fixed cells.
    item->setFlags(Qt::NoItemFlags);
    item->setBackground(table->palette().button());
    item->setForeground(table->palette().buttonText());
  } else {
    item->setBackground(row % 2 == 0 ? kEvenRowBackground : kOddRowBackground);
    if (column == 1) item->setForeground(QColor(Qt::black));
    if (column == MemoryGrid::kFrequencyColumn) item->setForeground(QColor(Qt::blue));
  }
  return item;
}

// The grid's column count becomes `columns`; new columns get their cells.
void SetMemoryColumns(QTableWidget* table, int columns) {
  const int before = table->columnCount();
  if (columns == before) return;
  table->setColumnCount(columns);
  for (int column = before; column < columns; ++column) {
    table->setColumnWidth(column, column < MemoryGrid::kColumns ? kColumnWidths[column] : kExtraColumnWidth);
    for (int row = 0; row < table->rowCount(); ++row) table->setItem(row, column, MakeMemoryItem(table, row, column));
  }
}

MemoryGrid GridOf(const QTableWidget* table) {
  MemoryGrid grid(table->columnCount());
  for (int column = 0; column < grid.ColumnCount(); ++column)
    for (int row = 0; row < grid.RowCount(); ++row)
      if (const QTableWidgetItem* item = table->item(row, column)) grid.SetCell(column, row, item->text().toStdString());
  grid.SetFileCp1252(table->property(kFileCp1252Property).toBool());
  return grid;
}

void ShowGrid(QTableWidget* table, const MemoryGrid& grid) {
  SetMemoryColumns(table, grid.ColumnCount());
  for (int column = 0; column < grid.ColumnCount(); ++column)
    for (int row = 0; row < grid.RowCount(); ++row)
      table->item(row, column)->setText(QString::fromStdString(grid.Cell(column, row)));
  table->setProperty(kFileCp1252Property, grid.FileCp1252());
}

// The form's rig writes, as the memory logic asks for them.
class TWindowRig : public MemoryRig {
 public:
  explicit TWindowRig(TForm1& form) : form_(form) {}
  void SetRigValue(int32_t which, int32_t value) override { form_.SetRigValue(which, value); }
  void SetRigParam(int32_t param) override { form_.SetRigParam(param); }

 private:
  TForm1& form_;
};

}  // namespace

void TForm1::ConnectMemoryPage() {
  QTableWidget* table = memory_->StringGrid1;
  table->setRowCount(MemoryGrid::kRows);
  table->setColumnCount(MemoryGrid::kColumns);
  QFont font = table->font();
  font.setPixelSize(kFontPixels);
  table->setFont(font);
  // The zoom sets every size itself, down to a pixel.
  for (QHeaderView* header : {table->horizontalHeader(), table->verticalHeader()}) {
    header->setMinimumSectionSize(1);
    header->setSectionResizeMode(QHeaderView::Interactive);
  }
  for (int column = 0; column < MemoryGrid::kColumns; ++column) table->setColumnWidth(column, kColumnWidths[column]);
  for (int row = 0; row < MemoryGrid::kRows; ++row) {
    table->setRowHeight(row, kRowHeight);
    for (int column = 0; column < MemoryGrid::kColumns; ++column)
      table->setItem(row, column, MakeMemoryItem(table, row, column));
  }
  // The headers are hidden: the columns are sized by their borders in the title row.
  SizeColumnsInTitleRow(table);
  // A double click sends the memory to the radio; a cell is edited by typing into it.
  table->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);

  connect(memory_->Button24, &QPushButton::clicked, this, &TForm1::Button24Click);
  connect(memory_->Button25, &QPushButton::clicked, this, &TForm1::Button25Click);
  connect(memory_->ComboBox3, &QComboBox::activated, this, &TForm1::ComboBox3Click);
  connect(memory_->Button35, &QPushButton::clicked, this, &TForm1::Button35Click);
  connect(memory_->Button36, &QPushButton::clicked, this, &TForm1::Button36Click);
  connect(memory_->Button37, &QPushButton::clicked, this, &TForm1::Button37Click);
  connect(memory_->Button22, &QPushButton::clicked, this, &TForm1::Button22Click);
  connect(memory_->Button23, &QPushButton::clicked, this, &TForm1::Button23Click);
  connect(table, &QTableWidget::cellClicked, this, &TForm1::StringGrid1Click);
  connect(table, &QTableWidget::cellDoubleClicked, this, &TForm1::StringGrid1DblClick);
  connect(table, &QTableWidget::currentCellChanged, this,
          [this](int row, int column) { StringGrid1SelectCell(column, row); });
  connect(ui_->PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
    if (index == 4) TabSheet5Show();
  });
}

void TForm1::Button24Click() {
  // The operator's file in the writable folder; before the first save, one delivered with the
  // program.
  QString path = WritableFile(kMemoryFile);
  if (!FileExistsAnyCase(path.toStdString()) && FileExistsAnyCase(ProgramFile(kMemoryFile).toStdString()))
    path = ProgramFile(kMemoryFile);
  MemoryGrid grid = GridOf(memory_->StringGrid1);
  const MemoryFileResult result = LoadMemoryFile(path.toStdString(), grid);
  if (result.status == MemoryFileResult::Status::Failed) {
    ReportProblem("The frequency memories could not be loaded. ", QString::fromStdString(result.message));
    return;
  }
  if (result.status == MemoryFileResult::Status::Done) ShowGrid(memory_->StringGrid1, grid);
}

void TForm1::Button25Click() {
  const MemoryFileResult result =
      SaveMemoryFile(JoinPath(options_.WritableFolder, kMemoryFile), GridOf(memory_->StringGrid1));
  if (result.status == MemoryFileResult::Status::Failed)
    SayOrShow("The frequency memories could not be saved. ", QString::fromStdString(result.message));
}

void TForm1::ComboBox3Click() {
  const QString choice = memory_->ComboBox3->currentText();
  const std::optional<std::vector<int>> keys = MemorySortKeys(choice.toStdString());
  if (!keys) return;
  MemoryGrid grid = GridOf(memory_->StringGrid1);
  SortMemoryGrid(grid, *keys);
  ShowGrid(memory_->StringGrid1, grid);
  Speak(QString::fromStdString(texts::MemorySorted(choice.toStdString())));
}

void TForm1::Button35Click() { GoToMemoryRow(false); }

void TForm1::StringGrid1DblClick() { GoToMemoryRow(true); }

void TForm1::GoToMemoryRow(bool doubleClick) {
  const int row = memory_->StringGrid1->currentRow();
  if (row < 1) return;  // no memory chosen
  StringGrid1Click();
  const MemoryGrid grid = GridOf(memory_->StringGrid1);
  TWindowRig rig(*this);
  const MemoryGoResult go =
      GoToMemory(grid, row, doubleClick ? MemoryGoSource::DoubleClick : MemoryGoSource::Button, rig);
  if (!go.error.empty()) {
    SayOrShow("The memory's frequency cannot be sent to the radio. ", QString::fromStdString(go.error));
    return;
  }
  if (go.hertzText) memory_->Edit20->setText(QString::fromStdString(*go.hertzText));
  const QString frequency = QString::fromStdString(go.frequencyText);
  dx_->Label49->setText(frequency);
  log_->Label4->setText(frequency);
  for (const std::string& phrase : go.phrases) Speak(QString::fromStdString(phrase));
}

void TForm1::Button36Click() { ZoomMemories(1.1); }

void TForm1::Button37Click() { ZoomMemories(0.9); }

void TForm1::ZoomMemories(double factor) {
  QTableWidget* table = memory_->StringGrid1;
  std::vector<int> widths, heights;
  for (int column = 0; column < table->columnCount(); ++column) widths.push_back(table->columnWidth(column));
  for (int row = 0; row < table->rowCount(); ++row) heights.push_back(table->rowHeight(row));
  const int fontSize = ZoomMemoryGrid(widths, heights, factor);
  for (int column = 0; column < table->columnCount(); ++column) table->setColumnWidth(column, widths[size_t(column)]);
  for (int row = 0; row < table->rowCount(); ++row) table->setRowHeight(row, heights[size_t(row)]);
  QFont font = table->font();
  font.setPointSize(fontSize);
  table->setFont(font);
}

void TForm1::StringGrid1Click() {
  const int row = memory_->StringGrid1->currentRow();
  if (row < 0) return;
  memory_->ListBox4->clear();
  for (const std::string& cell : GridOf(memory_->StringGrid1).Row(row))
    memory_->ListBox4->addItem(QString::fromStdString(cell));
}

void TForm1::StringGrid1SelectCell(int column, int row) {
  if (row < 0 || column < 0 || FixedCell(column, row)) return;
  const QString text = memory_->StringGrid1->item(row, column)->text();
  setWindowTitle(text);
  memory_->StringGrid1->setToolTip(text);
  for (const std::string& phrase : MemoryCellPhrases(GridOf(memory_->StringGrid1), column, row))
    SpeakAlways(QString::fromStdString(phrase));
}

void TForm1::TabSheet5Show() {
  // The four titles, as far as the grid has columns for them.
  for (int column = 0; column < std::min(memory_->StringGrid1->columnCount(), MemoryGrid::kColumns); ++column)
    memory_->StringGrid1->item(0, column)->setText(QString::fromStdString(texts::MemoryTitle(column)));
  HideNoticeLabel();
  Speak(QString::fromStdString(texts::MemoryPanelUp()));
}

}  // namespace quillmere
