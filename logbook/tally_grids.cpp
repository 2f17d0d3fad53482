#include "tally_grids.h"

#include <string>
#include <vector>

namespace quillmere {

namespace {

// The width of `field` in the reference table's field definition lines ("NAME;C;20;0").
int FieldWidth(TallyKind kind, const std::string& field) {
  for (const std::string& line : ReferenceFieldLines(kind)) {
    const size_t first = line.find(';');
    if (line.compare(0, first, field) != 0) continue;
    const size_t second = line.find(';', first + 1);
    return std::stoi(line.substr(second + 1));
  }
  return 0;
}

}  // namespace

void TTallyGrids::Build(Table& table, TallyKind kind, QTableView* grid) {
  table.grid = grid;
  table.data = std::make_unique<TSorrelDataSet>();
  TSorrelDataSet& data = *table.data;
  for (const TallyGridColumn& column : TallyGridColumns(kind)) {
    TField* field = data.AddField(
        std::make_unique<TField>(&data, column.field, TFieldType::ftString, FieldWidth(kind, column.field)));
    field->SetDisplayLabel(column.title);
  }
  const TallyTable& t = TallyTableOf(kind);
  if (data.FindField(t.keyField) == nullptr) {
    TField* key = data.AddField(
        std::make_unique<TField>(&data, t.keyField, TFieldType::ftString, FieldWidth(kind, t.keyField)));
    key->SetVisible(false);
  }
  table.source = std::make_unique<TDataSource>(&data);
  table.model = std::make_unique<TDBGridModel>();
  table.model->SetDataSource(table.source.get());
  grid->setModel(table.model.get());
}

TTallyGrids::TTallyGrids(QTableView* wasGrid, QTableView* dxGrid) {
  Build(was_, TallyKind::WAS, wasGrid);
  Build(dx_, TallyKind::DX, dxGrid);
}

TTallyGrids::~TTallyGrids() {
  // The grids outlive this object (they belong to the page): they let go of the models first.
  for (Table* t : {&was_, &dx_})
    if (t->grid != nullptr) t->grid->setModel(nullptr);
}

}  // namespace quillmere
