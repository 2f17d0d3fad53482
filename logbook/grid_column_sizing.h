// grid_column_sizing: column sizing by the mouse in a grid whose headers are hidden and whose
// first row holds the titles (the memory grid). As in a grid with a fixed title row, a column's
// right border in that row can be dragged to make the column wider or narrower; the pointer
// shows the sizing shape over a border. Presses and double clicks on a border size the column and
// reach the grid no further (a double click elsewhere in the grid keeps its meaning).
// SizeColumnsInTitleRow installs this on a table view; the view owns it.
//
// Main thread only.
#pragma once

class QTableView;

namespace quillmere {

// A column is never made narrower than this many pixels by dragging.
inline constexpr int kMinDraggedColumnWidth = 8;

void SizeColumnsInTitleRow(QTableView* grid);

}  // namespace quillmere
