#include "log_grid.h"

namespace quillmere {

TLogGrid::TLogGrid(QWidget* parent) : QTableView(parent) {}

void TLogGrid::MoveCursor(const QModelIndex& index) {
  const bool outer = programMove_;
  programMove_ = true;
  setCurrentIndex(index);
  programMove_ = outer;
}

void TLogGrid::MoveCursor(const QModelIndex& index, QItemSelectionModel::SelectionFlags flags) {
  if (selectionModel() == nullptr) return;
  const bool outer = programMove_;
  programMove_ = true;
  selectionModel()->setCurrentIndex(index, flags);
  programMove_ = outer;
}

// The table view's own handlers add only the accessibility events to the item view's; without
// them the cursor and the selection are drawn and kept just the same.
void TLogGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  if (Announce()) {
    ++announced_;
    QTableView::currentChanged(current, previous);
  } else {
    QAbstractItemView::currentChanged(current, previous);
  }
}

void TLogGrid::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  if (Announce()) {
    ++announced_;
    QTableView::selectionChanged(selected, deselected);
  } else {
    QAbstractItemView::selectionChanged(selected, deselected);
  }
}

}  // namespace quillmere
