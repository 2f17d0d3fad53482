// memory_grid: the frequency memories of the "S. MEMORY" page as data: a grid of 151 rows of text
// (row 0 the titles, rows 1 to 150 the memories) in 4 columns (0 the memory number, 1 the name, 2
// the frequency in MHz, 3 the mode), or as many as the file's line 1 says; its file "QMemd.cfg",
// the sort, the zoom arithmetic and the texts the page shows and speaks. The page's grid widget mirrors a MemoryGrid: the
// window copies cells in and out and wires its controls to these functions.
//
// A MemoryGrid is a plain value; one thread at a time.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "column_grid_file.h"

namespace quillmere {

class MemoryGrid {
 public:
  static constexpr int kColumns = 4;
  static constexpr int kRows = 151;
  static constexpr int kFrequencyColumn = 2;
  static constexpr int kModeColumn = 3;

  // Every cell empty; `columns` columns (at least one).
  explicit MemoryGrid(int columns = kColumns);

  int ColumnCount() const { return static_cast<int>(cells_.size()); }
  int RowCount() const { return kRows; }
  // Empty for a cell outside the grid.
  const std::string& Cell(int column, int row) const;
  // Line breaks are dropped, so that no cell can add lines to the file; a cell outside the grid
  // is ignored.
  void SetCell(int column, int row, std::string_view text);
  // The cells of one row, column 0 first (what the page copies into its hidden list).
  std::vector<std::string> Row(int row) const;
  // A memory row whose cells are all empty or blank: an unused memory.
  bool RowUnused(int row) const;
  // Writes "No.", "Memory Name", "Frequency", "Mode" into row 0 (each time the page is shown).
  void WriteTitles();

  const GridCells& Cells() const { return cells_; }
  // Takes `cells` whole; they must have at least one column, each of kRows cells.
  void SetCells(GridCells cells);

  // The memory file was CP1252 (an earlier version's) and is saved back in it.
  bool FileCp1252() const { return fileCp1252_; }
  void SetFileCp1252(bool cp1252) { fileCp1252_ = cp1252; }

 private:
  GridCells cells_;  // [column][row]
  bool fileCp1252_ = false;
};

// ---- the file ----

// "QMemd.cfg" in the logbook's writable folder, found without regard to case; empty when no
// writable folder can be made.
std::string MemoryFilePath();

struct MemoryFileResult {
  enum class Status { Done, NoFile, Failed };
  Status status = Status::Done;
  std::string message;  // for Failed: the message to show, naming the file
};

// Loads the file at `path` into `grid` (the "Load" button, run once at start-up). Line 1 sets the
// grid's column count (4 as the page writes it; a file of 3 or 5 columns is read with 3 or 5);
// line 2's row count is read and ignored: the grid always has 151 rows. The file is read into a
// grid of its own and `grid` changes only when every cell was read: a missing file (NoFile), a
// column count below 1, or a file that ends early (Failed) leave `grid` as it was. The grid
// remembers whether the file was CP1252.
MemoryFileResult LoadMemoryFile(const std::string& path, MemoryGrid& grid);

// Writes `grid` into the file at `path` ("&Keep Memories") whole, through a temporary file beside
// it that is flushed and renamed over the old one: a failure leaves the old file as it was. A grid
// read from a CP1252 file is written in CP1252 (unless a cell holds a character CP1252 lacks).
MemoryFileResult SaveMemoryFile(const std::string& path, const MemoryGrid& grid);

// ---- sort ----

// The rows' texts in the first key column compared by the platform's locale-aware, case-sensitive
// comparison; while equal, the next key column; negative, 0 or positive.
int CompareGridRows(const MemoryGrid& grid, int rowA, int rowB, const std::vector<int>& keyColumns);

// Sorts the memory rows (row 0 stays) by `keyColumns`, stably: rows that compare equal keep their
// order. Unused memories stay where they are; the memories in use are sorted among the rows they
// occupy. Nothing happens unless there is one key per column and every key is a valid column
// (false then).
bool SortMemoryGrid(MemoryGrid& grid, const std::vector<int>& keyColumns);

// The key columns of a choice of the sort list: "Name" 1, 2, 3, 0; "Frequency" 2, 1, 3, 0;
// "Number" 0, 2, 1, 3; nullopt for any other text.
std::optional<std::vector<int>> MemorySortKeys(std::string_view choice);

// ---- zoom ----

// Scales the grid's column widths and row heights by `factor` (1.1 for "Zoom +", 0.9 for
// "Zoom -"), each rounded to the nearest pixel, and answers the new font size: the new height of
// row 0 times 0.65, rounded. No size ever falls below 1 pixel, and a zoom in always grows a size
// by at least a pixel, so a shrunken column can always be zoomed back.
int ZoomMemoryGrid(std::vector<int>& columnWidths, std::vector<int>& rowHeights, double factor);

// ---- texts ----
namespace texts {

inline std::string MemoryTitle(int column) {
  static const char* const kTitles[] = {"No.", "Memory Name", "Frequency", "Mode"};
  return column >= 0 && column < MemoryGrid::kColumns ? kTitles[column] : "";
}
inline std::string MemoryPanelUp() { return "Memory Panel is up."; }
inline std::string MemorySorted(std::string_view choice) {
  return "memory sorted according to . " + std::string(choice);
}

}  // namespace texts

// What selecting a cell speaks (whether speech is on or off): the text spelled when the row's mode
// cell holds the same text, then the text and a period.
std::vector<std::string> MemoryCellPhrases(const MemoryGrid& grid, int column, int row);

}  // namespace quillmere
