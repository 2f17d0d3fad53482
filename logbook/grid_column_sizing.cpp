#include "grid_column_sizing.h"

#include <QMouseEvent>
#include <QTableView>
#include <algorithm>
#include <cstdlib>

namespace quillmere {

namespace {

// How far from a border, in pixels, the pointer still takes it.
constexpr int kBorderReach = 3;

class TColumnSizer : public QObject {
 public:
  explicit TColumnSizer(QTableView* grid) : QObject(grid), grid_(grid), viewport_(grid->viewport()) {}

 protected:
  // The viewport still gets events while the grid is being destroyed: only the mouse's events,
  // which cannot come then, reach the grid.
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != viewport_) return false;
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) return false;
        const int column = BorderAt(mouse->position().toPoint());
        if (column < 0) return false;
        dragged_ = column;
        return true;
      }
      case QEvent::MouseMove: {
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        if (dragged_ >= 0) {
          grid_->setColumnWidth(dragged_,
                                std::max(kMinDraggedColumnWidth, at.x() - grid_->columnViewportPosition(dragged_)));
          return true;
        }
        if (BorderAt(at) >= 0)
          viewport_->setCursor(Qt::SplitHCursor);
        else
          viewport_->unsetCursor();
        return false;
      }
      case QEvent::MouseButtonRelease:
        if (dragged_ < 0 || static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
        dragged_ = -1;
        return true;
      case QEvent::Leave:
        if (dragged_ < 0) viewport_->unsetCursor();
        return false;
      default:
        return false;
    }
  }

 private:
  // The column whose right border lies under `at` in the title row, or -1.
  int BorderAt(const QPoint& at) const {
    const int top = grid_->rowViewportPosition(0);
    if (top < 0 || at.y() < top || at.y() >= top + grid_->rowHeight(0)) return -1;
    for (int column = grid_->model() != nullptr ? grid_->model()->columnCount() - 1 : -1; column >= 0; --column) {
      if (grid_->isColumnHidden(column)) continue;
      const int right = grid_->columnViewportPosition(column) + grid_->columnWidth(column);
      if (std::abs(at.x() - right) <= kBorderReach) return column;
    }
    return -1;
  }

  QTableView* grid_;
  QWidget* viewport_;
  int dragged_ = -1;
};

}  // namespace

void SizeColumnsInTitleRow(QTableView* grid) {
  grid->viewport()->setMouseTracking(true);
  grid->viewport()->installEventFilter(new TColumnSizer(grid));
}

}  // namespace quillmere
