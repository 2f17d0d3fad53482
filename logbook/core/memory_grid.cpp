#include "memory_grid.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>

#include "base/SysSorl.h"
#include "cp1252_text.h"
#include "data_folders.h"
#include "file_replacement.h"

namespace quillmere {

namespace {

constexpr const char* kMemoryFileName = "QMemd.cfg";

const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}

bool Blank(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t'; });
}

}  // namespace

MemoryGrid::MemoryGrid(int columns)
    : cells_(static_cast<size_t>(std::max(columns, 1)), std::vector<std::string>(kRows)) {}

const std::string& MemoryGrid::Cell(int column, int row) const {
  if (column < 0 || column >= ColumnCount() || row < 0 || row >= kRows) return EmptyText();
  return cells_[static_cast<size_t>(column)][static_cast<size_t>(row)];
}

void MemoryGrid::SetCell(int column, int row, std::string_view text) {
  if (column < 0 || column >= ColumnCount() || row < 0 || row >= kRows) return;
  cells_[static_cast<size_t>(column)][static_cast<size_t>(row)] = WithoutLineBreaks(std::string(text));
}

std::vector<std::string> MemoryGrid::Row(int row) const {
  std::vector<std::string> cells;
  for (int column = 0; column < ColumnCount(); ++column) cells.push_back(Cell(column, row));
  return cells;
}

bool MemoryGrid::RowUnused(int row) const {
  for (int column = 0; column < ColumnCount(); ++column)
    if (!Blank(Cell(column, row))) return false;
  return true;
}

void MemoryGrid::WriteTitles() {
  for (int column = 0; column < std::min(ColumnCount(), kColumns); ++column)
    SetCell(column, 0, texts::MemoryTitle(column));
}

void MemoryGrid::SetCells(GridCells cells) {
  if (cells.empty() ||
      std::any_of(cells.begin(), cells.end(), [](const auto& c) { return c.size() != static_cast<size_t>(kRows); }))
    throw std::invalid_argument("a memory grid has columns of 151 cells");
  for (auto& column : cells)
    for (auto& cell : column) cell = WithoutLineBreaks(std::move(cell));
  cells_ = std::move(cells);
}

// ---- the file ----

std::string MemoryFilePath() {
  const std::string folder = WritableDataFolder();
  return folder.empty() ? std::string() : ResolveFileCase(folder + "/" + kMemoryFileName);
}

MemoryFileResult LoadMemoryFile(const std::string& path, MemoryGrid& grid) {
  MemoryFileResult result;
  // The file's own column count: the lines it must hold for it are checked before any cell is kept.
  ColumnGridRead read = ReadColumnGridFile(path, MemoryGrid::kRows, 1, INT_MAX);
  switch (read.status) {
    case ColumnGridRead::Status::Missing:
      result.status = MemoryFileResult::Status::NoFile;
      break;
    case ColumnGridRead::Status::Bad:
      result.status = MemoryFileResult::Status::Failed;
      result.message = "The memories were not loaded from \"" + path + "\": " + read.reason + ".";
      break;
    case ColumnGridRead::Status::Read:
      grid.SetCells(std::move(read.cells));
      grid.SetFileCp1252(read.cp1252);
      break;
  }
  return result;
}

MemoryFileResult SaveMemoryFile(const std::string& path, const MemoryGrid& grid) {
  MemoryFileResult result;
  try {
    if (path.empty()) throw std::runtime_error("there is no folder the logbook can write to");
    FileReplacement file(path);
    file.Write(FormatColumnGridFile(grid.Cells(), grid.FileCp1252()));
    file.Commit();
  } catch (const std::exception& e) {
    result.status = MemoryFileResult::Status::Failed;
    result.message = std::string("The memories were not saved: ") + e.what() + ".";
  }
  return result;
}

// ---- sort ----

int CompareGridRows(const MemoryGrid& grid, int rowA, int rowB, const std::vector<int>& keyColumns) {
  for (int column : keyColumns) {
    const int order = SysCompareStr(Utf8ToCp1252(grid.Cell(column, rowA)), Utf8ToCp1252(grid.Cell(column, rowB)));
    if (order != 0) return order;
  }
  return 0;
}

bool SortMemoryGrid(MemoryGrid& grid, const std::vector<int>& keyColumns) {
  if (static_cast<int>(keyColumns.size()) != grid.ColumnCount()) return false;
  for (int column : keyColumns)
    if (column < 0 || column >= grid.ColumnCount()) return false;
  std::vector<int> used;
  for (int row = 1; row < grid.RowCount(); ++row)
    if (!grid.RowUnused(row)) used.push_back(row);
  std::vector<int> order = used;
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return CompareGridRows(grid, a, b, keyColumns) < 0; });
  GridCells cells = grid.Cells();
  for (size_t i = 0; i < used.size(); ++i)
    for (int column = 0; column < grid.ColumnCount(); ++column)
      cells[static_cast<size_t>(column)][static_cast<size_t>(used[i])] = grid.Cell(column, order[i]);
  grid.SetCells(std::move(cells));
  return true;
}

std::optional<std::vector<int>> MemorySortKeys(std::string_view choice) {
  if (choice == "Name") return std::vector<int>{1, 2, 3, 0};
  if (choice == "Frequency") return std::vector<int>{2, 1, 3, 0};
  if (choice == "Number") return std::vector<int>{0, 2, 1, 3};
  return std::nullopt;
}

// ---- zoom ----

namespace {

int Zoomed(int size, double factor) {
  int zoomed = static_cast<int>(std::lround(size * factor));
  if (factor > 1 && zoomed <= size) zoomed = size + 1;
  return std::max(zoomed, 1);
}

}  // namespace

int ZoomMemoryGrid(std::vector<int>& columnWidths, std::vector<int>& rowHeights, double factor) {
  for (int& width : columnWidths) width = Zoomed(width, factor);
  for (int& height : rowHeights) height = Zoomed(height, factor);
  const int rowZero = rowHeights.empty() ? 1 : rowHeights.front();
  return std::max(static_cast<int>(std::lround(rowZero * 0.65)), 1);
}

// ---- texts ----

std::vector<std::string> MemoryCellPhrases(const MemoryGrid& grid, int column, int row) {
  std::vector<std::string> phrases;
  const std::string& text = grid.Cell(column, row);
  if (grid.Cell(MemoryGrid::kModeColumn, row) == text) phrases.push_back("<SPELL> " + text + " </SPELL>");
  phrases.push_back(text + ".");
  return phrases;
}

}  // namespace quillmere
