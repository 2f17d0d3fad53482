// TForm1: the Edit page ("SEARCH / EDIT"): the navigator and the editable grid DBGrid3 over the
// current logbook (DataSource1), the search box Edit19 that filters the logbook by station, its
// Clear button and the grid's magnify box.
//
// The search box's text becomes a literal of the filter expression through
// StationSearchFilter, so quotes and expression text typed into it are searched for, never
// evaluated. Edits made in the grid are posted through the data set by the grid model.
#include <QCheckBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <memory>

#include "PSKUnit1.h"
#include "SorrelNavigator.h"
#include "cp1252_text.h"
#include "dbctrls.h"
#include "dbgridmodel.h"
#include "expression_literal.h"
#include "grid_capitals.h"
#include "log_grid.h"
#include "grid_font.h"
#include "ui_TabSheet2.h"
#include "ui_TabSheet3.h"

namespace quillmere {

namespace {

constexpr int kGridFontSize = 12;
constexpr int kMagnifiedGridFontSize = 18;

// DBGrid3 shows DATE, TIME and STATION first, then the other fields in record order.
void PutStationThird(QTableView* grid, const TDBGridModel& model) {
  for (int column = 0; column < model.columnCount(); ++column) {
    const TField* field = model.ColumnField(column);
    if (field == nullptr || field->FieldName() != "STATION") continue;
    QHeaderView* header = grid->horizontalHeader();
    const int visual = header->visualIndex(column);
    if (visual != 2 && model.columnCount() > 2) header->moveSection(visual, 2);
    return;
  }
}

// The data-aware labels of the page and the field of the current contact each shows.
struct TContactLabel {
  const char* Name;
  const char* Field;
};
constexpr TContactLabel kContactLabels[] = {{"DBText1", "DATE"}, {"DBText2", "TIME"},  {"DBText3", "STATION"},
                                            {"DBText4", "SPARE1"}, {"DBText5", "QTH"}, {"DBText6", "STATE"},
                                            {"DBText7", "BAND"}, {"DBText8", "MODE"},  {"DBText9", "FREQ"}};

std::string TrimmedRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

void TForm1::ConnectEditPage() {
  edit_->SorrelNavigator1->SetDataSource(dataSource1_.get());
  edit_->SorrelNavigator1->ShowError = [this](const std::string& text) {
    services_.dialogs->ShowError(QString::fromStdString(Cp1252ToUtf8(text)));
  };

  for (const TContactLabel& label : kContactLabels)
    if (auto* text = Page(1)->findChild<TDBText*>(label.Name)) {
      text->SetDataField(label.Field);
      text->SetDataSource(dataSource1_.get());
    }

  grid3Model_ = new TDBGridModel(this);
  grid3Model_->SetDataSource(dataSource1_.get());
  QTableView* grid = edit_->DBGrid3;
  grid->setModel(grid3Model_);
  TypeInCapitals(grid);
  // The model lists its rows anew when the view changes (filter, order, posts); the operator's
  // column survives that.
  auto column = std::make_shared<int>(0);
  connect(grid3Model_, &QAbstractItemModel::modelAboutToBeReset, this, [this, column] {
    if (edit_->DBGrid3->currentIndex().isValid()) *column = edit_->DBGrid3->currentIndex().column();
  });
  connect(grid3Model_, &QAbstractItemModel::modelReset, this, [this, column] {
    PutStationThird(edit_->DBGrid3, *grid3Model_);
    const int row = grid3Model_->CurrentRow();
    // Putting the cursor back is the program's move, never announced.
    if (row >= 0 && *column < grid3Model_->columnCount())
      edit_->DBGrid3->MoveCursor(grid3Model_->index(row, *column), QItemSelectionModel::ClearAndSelect);
  });
  // The grid's current row and the data set's current record follow each other.
  connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid() && current.row() != grid3Model_->CurrentRow()) grid3Model_->SetCurrentRow(current.row());
          });
  connect(grid3Model_, &TDBGridModel::currentRowChanged, this, [this](int row) {
    TLogGrid* view = edit_->DBGrid3;
    if (row < 0 || view->currentIndex().row() == row) return;
    const int column = view->currentIndex().isValid() ? view->currentIndex().column() : 0;
    view->MoveCursor(grid3Model_->index(row, column));
  });
  connect(grid3Model_, &TDBGridModel::editFailed, this,
          [this](const QString& message) { services_.dialogs->ShowError(message); });

  connect(edit_->Edit19, &QLineEdit::textChanged, this, &TForm1::Edit19Change);
  connect(edit_->Edit19, &QLineEdit::returnPressed, this, &TForm1::Edit19KeyDown);
  connect(edit_->Button34, &QPushButton::clicked, this, &TForm1::Button34Click);
  connect(edit_->CheckBox6, &QCheckBox::clicked, this, &TForm1::CheckBox6Click);
}

void TForm1::DetachEditPage() {
  if (grid3Model_ != nullptr) grid3Model_->SetDataSource(nullptr);
  edit_->SorrelNavigator1->SetDataSource(nullptr);
  for (TDBText* text : Page(1)->findChildren<TDBText*>()) text->SetDataSource(nullptr);
}

void TForm1::Edit19Change() {
  // With no logbook open there is nothing to search; the text waits in the box.
  if (!dbf1_->Active()) return;
  const QString typed = edit_->Edit19->text();
  try {
    if (typed.isEmpty()) {
      dbf1_->SetFiltered(false);
      return;
    }
    const std::optional<std::string> filter = StationSearchFilter(Utf8ToCp1252(typed.toStdString()));
    if (!filter) {
      // The previous filter stays, as it does for any search that cannot be made.
      SayOrShow("cannot search for text that holds a single quote, a double quote and a closing bracket. ",
                "Cannot search for \"" + typed +
                    "\": a search text may not hold a single quote, a double quote and a closing bracket together.");
      return;
    }
    dbf1_->SetFilter(*filter);
    dbf1_->SetFiltered(true);
    dbf1_->Last();
  } catch (const std::exception& e) {
    services_.dialogs->ShowError(QString::fromStdString(Cp1252ToUtf8(e.what())));
  }
}

void TForm1::Edit19KeyDown() {
  if (set_->CheckBox12->isChecked() || !SpeechOn()) return;
  // With no logbook open there was nothing to search: the usual refusal, not "no entries".
  if (!RequireLogbook()) return;
  const QString typed = edit_->Edit19->text();
  Speak("the search found.");
  std::string station;
  if (dbf1_->Active() && !dbf1_->IsEmpty()) {
    try {
      station = TrimmedRight(dbf1_->FieldByName("STATION")->AsString());
    } catch (const std::exception&) {
      // A table without a STATION field holds no entry for any station.
    }
  }
  const QString found = QString::fromStdString(Cp1252ToUtf8(station));
  if (!found.isEmpty() && found == typed) {
    Speak(found);
  } else {
    Speak("no entries for " + typed);
  }
}

void TForm1::Button34Click() {
  if (Page(1)->isVisible()) edit_->Edit19->clear();
}

void TForm1::CheckBox6Click() {
  SetGridFontSize(edit_->DBGrid3, edit_->CheckBox6->isChecked() ? kMagnifiedGridFontSize : kGridFontSize);
}

}  // namespace quillmere
