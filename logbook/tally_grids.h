// TTallyGrids: what stands behind the DX page's two tally grids: the reference data sets
// StatesData (STATES.DBF) and DXdata (DXCC.DBF), their data sources, and the grid models that
// show them in DBGrid4 (WAS) and DBGrid6 (DXCC).
//
// Each data set carries persistent fields in the grid's column order with the column titles
// ("RTTY/PSK", "10" .. "160", "PFX"), so a grid shows exactly its tally columns; the WAS table's
// key STATE is there for the check but hidden. The tables are opened only by a check.
//
// Owns the data sets, sources and models (models first to go, data sets last); the grids belong
// to the page. Main thread only.
#pragma once

#include <QTableView>
#include <memory>

#include "dataset/Sorl6db.h"
#include "dbgridmodel.h"
#include "dataset/dblink.h"
#include "tallies.h"

namespace quillmere {

class TTallyGrids {
 public:
  TTallyGrids(QTableView* wasGrid, QTableView* dxGrid);
  ~TTallyGrids();
  TTallyGrids(const TTallyGrids&) = delete;
  TTallyGrids& operator=(const TTallyGrids&) = delete;

  TSorrelDataSet& DataSet(TallyKind kind) { return *Of(kind).data; }
  QTableView* Grid(TallyKind kind) { return Of(kind).grid; }
  TDBGridModel& Model(TallyKind kind) { return *Of(kind).model; }

 private:
  struct Table {
    QTableView* grid = nullptr;
    std::unique_ptr<TSorrelDataSet> data;
    std::unique_ptr<TDataSource> source;
    std::unique_ptr<TDBGridModel> model;
  };
  Table& Of(TallyKind kind) { return kind == TallyKind::WAS ? was_ : dx_; }
  static void Build(Table& table, TallyKind kind, QTableView* grid);

  Table was_, dx_;
};

}  // namespace quillmere
