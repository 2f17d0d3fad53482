#include "grid_font.h"

#include <QFontMetricsF>
#include <QHeaderView>
#include <QTableView>
#include <algorithm>
#include <cmath>

namespace quillmere {

namespace {

constexpr const char* kDesignRowHeight = "quillmereDesignRowHeight";
constexpr int kRowPadding = 8;

}  // namespace

void SetGridFont(QTableView* grid, const QFont& font) {
  const double before = QFontMetricsF(grid->font()).averageCharWidth();
  QHeaderView* columns = grid->horizontalHeader();
  QHeaderView* rows = grid->verticalHeader();
  if (!rows->property(kDesignRowHeight).isValid()) rows->setProperty(kDesignRowHeight, rows->defaultSectionSize());
  grid->setFont(font);  // the titles follow: the header has no font of its own
  const QFontMetricsF metrics(font);
  const double scale = before > 0 ? metrics.averageCharWidth() / before : 1.0;
  for (int column = 0; column < columns->count(); ++column) {
    if (columns->isSectionHidden(column)) continue;
    const int scaled = static_cast<int>(std::lround(columns->sectionSize(column) * scale));
    columns->resizeSection(column, std::max(scaled, columns->sectionSizeHint(column)));
  }
  const int height = static_cast<int>(std::ceil(metrics.height())) + kRowPadding;
  rows->setDefaultSectionSize(std::max(rows->property(kDesignRowHeight).toInt(), height));
}

void SetGridFontSize(QTableView* grid, int pointSize) {
  QFont font = grid->font();
  font.setPointSize(pointSize);
  SetGridFont(grid, font);
}

}  // namespace quillmere
