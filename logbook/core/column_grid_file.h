// column_grid_file: the plain text format in which the logbook keeps a grid of cells, used by the
// frequency memories ("QMemd.cfg") and the band limits (".bdl" files). One value per line:
//
//   line 1            the number of columns C, a decimal integer
//   line 2            a number of rows, a decimal integer (written, but the reader always takes
//                     the row count its caller fixes)
//   lines 3 .. 2+C*R  the cells, column by column: column 0 rows 0 to R-1, then column 1 ...
//
// Lines are written ending in CR LF and read ending in CR LF or LF. A file that is well-formed
// UTF-8 is taken as it is, any other as CP1252 (files of earlier versions), so cells come back as
// UTF-8; the reader says which it was, so that a writer can keep the file's encoding. A cell never
// holds a line break (the writer's callers strip them): a line is a cell.
//
// Pure functions over one file; safe from any thread.
#pragma once

#include <string>
#include <vector>

namespace quillmere {

// Cells as [column][row].
using GridCells = std::vector<std::vector<std::string>>;

struct ColumnGridRead {
  enum class Status { Read, Missing, Bad };
  Status status = Status::Missing;
  std::string reason;  // for Missing and Bad: what is wrong, in words ("the file ends at line 9, ...")
  GridCells cells;     // for Read: every column of the file with `rows` cells each
  bool cp1252 = false; // for Read: the file was not UTF-8 and was read as CP1252
};

// Reads the file at `path` with `rows` rows per column. Bad when the file cannot be read, line 1
// or 2 is not a whole number, the column count lies outside [minColumns, maxColumns], or the file
// ends before the last cell. Lines after the last cell are ignored.
ColumnGridRead ReadColumnGridFile(const std::string& path, int rows, int minColumns, int maxColumns);

// The file's bytes for `cells` (every column as long as the first), in UTF-8; with `cp1252` in
// CP1252 when every cell can be written in it, else in UTF-8 all the same (nothing is lost).
std::string FormatColumnGridFile(const GridCells& cells, bool cp1252 = false);

// `text` without carriage returns and line feeds, so it stays one line of the file.
std::string WithoutLineBreaks(std::string text);

}  // namespace quillmere
