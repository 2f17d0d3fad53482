// grid_font: a grid's font changed together with its column widths and row heights, so that
// enlarged cells and titles are not cut off ("12/0…" for a date) and a smaller font gives the
// room back. Columns scale with the font's character width and never fall below what their title
// needs; rows take the font's height, never less than the grid's own design height.
//
// Main thread only.
#pragma once

class QFont;
class QTableView;

namespace quillmere {

// The font of the grid's cells and titles becomes `font`.
void SetGridFont(QTableView* grid, const QFont& font);
// The grid's font keeps its name and style and takes `pointSize`.
void SetGridFontSize(QTableView* grid, int pointSize);

}  // namespace quillmere
