// TLogGrid: the view of the logbook grids DBGrid1 (LOG page) and DBGrid3 (Edit page). The grid's
// cursor follows the logbook's current record, so it moves on every key of the call sign, on
// Log It and on Clear while the operator types elsewhere; a plain table view would send an
// accessibility focus event for the new cell each time, and a screen reader would follow it
// away from the field the operator is in. This view sends focus and selection events only while
// it has the keyboard focus, and then only for the operator's own moves: the program moves the
// cursor through MoveCursor, which is always silent.
//
// Main thread only.
#pragma once

#include <QItemSelectionModel>
#include <QTableView>

namespace quillmere {

class TLogGrid : public QTableView {
  Q_OBJECT
 public:
  explicit TLogGrid(QWidget* parent = nullptr);

  // Put the cursor on `index` for the program (following the data set), as setCurrentIndex and
  // the selection model's setCurrentIndex with `flags` do, without an accessibility event.
  void MoveCursor(const QModelIndex& index);
  void MoveCursor(const QModelIndex& index, QItemSelectionModel::SelectionFlags flags);
  // The cursor moves and selection changes announced to a screen reader so far (each one is an
  // accessibility event while a screen reader listens); for tests, which run without one.
  int Announced() const { return announced_; }

 protected:
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

 private:
  // Events for the screen reader are due: the operator moved the cursor of the focused grid.
  bool Announce() const { return hasFocus() && !programMove_; }

  bool programMove_ = false;
  int announced_ = 0;
};

}  // namespace quillmere
