// TForm1: logbooks. The log list and Load Log, opening a chosen or the default logbook (the seven
// tags built into the compound index beside it, date order, newest contact), the sort and
// band-filter boxes, the grid option boxes of the LOG page and PACK on the Edit page.
//
// Logbooks are opened by their full path and their index lies beside them; nothing depends on
// the current directory. When an open is refused or fails, no logbook is open (LogPath() is
// empty) rather than a placeholder table. Opening, re-ordering and packing run on the GUI thread;
// their progress is shown in status panel 1, painted as it goes.
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <memory>
#include <optional>

#include "PSKUnit1.h"
#include "ascii_text.h"
#include "cp1252_text.h"
#include "dataset/Sorl6db_search.h"
#include "dbgridmodel.h"
#include "log_grid.h"
#include "grid_capitals.h"
#include "grid_font.h"
#include "logbook_fileset.h"
#include "logbook_folders.h"
#include "ui_TForm1.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet2.h"

namespace quillmere {

namespace {

const char* const kPackQuestion =
    "Pack permanently deletes all records previously deleted using the toolbar. Do you want to permanently "
    "delete those records?";

// Long work on the logbook reports its progress in status panel 1, repainted at once since the
// work holds the GUI thread; the panel's text comes back when the work ends.
class TWorkProgress {
 public:
  TWorkProgress(TForm1& form, QString what) : form_(form), what_(std::move(what)), saved_(form.StatusText(1)) {}
  ~TWorkProgress() {
    if (shown_) Show(saved_);
  }
  TWorkProgress(const TWorkProgress&) = delete;
  TWorkProgress& operator=(const TWorkProgress&) = delete;

  IndexProgress ForTags() {
    return [this](int tag, int tagCount, int64_t done, int64_t total) {
      Step(QStringLiteral("%1: tag %2 of %3").arg(what_).arg(tag).arg(tagCount), done, total);
    };
  }
  // The engine's three integers: (-1, phase, total) at a phase's start, (phase, current, 0) per
  // step, (0, 0, 0) at the end.
  ThxStatusReport ForStatus() {
    return [this](int stat1, int stat2, int stat3) {
      if (stat1 == -1) total_ = stat3;
      else if (stat1 != 0) Step(what_, stat2, total_);
    };
  }

 private:
  void Step(const QString& text, int64_t done, int64_t total) {
    const int percent = total > 0 ? int(std::min<int64_t>(100, done * 100 / total)) : 0;
    const QString shown = QStringLiteral("%1, %2%").arg(text).arg(percent);
    if (shown != last_) Show(shown);
  }
  void Show(const QString& text) {
    shown_ = true;
    last_ = text;
    form_.SetStatusText(1, text);
    form_.StatusPanel(1)->repaint();
  }

  TForm1& form_;
  QString what_, saved_, last_;
  int64_t total_ = 0;
  bool shown_ = false;
};

// Keeps the data set's OnStatus for the scope's life and puts the old one back.
class TStatusHook {
 public:
  TStatusHook(TSorrelDataSet& dataSet, ThxStatusReport hook) : dataSet_(dataSet), saved_(dataSet.OnStatus) {
    dataSet_.OnStatus = std::move(hook);
  }
  ~TStatusHook() { dataSet_.OnStatus = saved_; }
  TStatusHook(const TStatusHook&) = delete;
  TStatusHook& operator=(const TStatusHook&) = delete;

 private:
  TSorrelDataSet& dataSet_;
  ThxStatusReport saved_;
};

QString FileName(const QString& path) { return QFileInfo(path).fileName(); }

}  // namespace

void TForm1::ConnectLogbookHandlers() {
  dbGrid1Model_ = new TDBGridModel(this);
  dbGrid1Model_->SetDataSource(dataSource1_.get());
  log_->DBGrid1->setModel(dbGrid1Model_);
  // With "Edit?" checked the grid is edited like DBGrid3, and takes letters in capitals too.
  TypeInCapitals(log_->DBGrid1);
  // The grid's cursor follows the data set's current record, also after the rows were listed
  // again (which forgets the view's selection; a move to another record does that). The
  // operator's column stays: the cell under the cursor is what the grid reads aloud.
  auto column = std::make_shared<int>(0);
  connect(dbGrid1Model_, &QAbstractItemModel::modelAboutToBeReset, this, [this, column] {
    if (log_->DBGrid1->currentIndex().isValid()) *column = log_->DBGrid1->currentIndex().column();
  });
  auto follow = [this, column] {
    const int row = dbGrid1Model_->CurrentRow();
    if (row < 0) return;
    TLogGrid* grid = log_->DBGrid1;
    const QModelIndex current = grid->currentIndex();
    const int keep = current.isValid() ? current.column() : *column;
    const QModelIndex target = dbGrid1Model_->index(row, keep < dbGrid1Model_->columnCount() ? keep : 0);
    // The program's move: the screen reader stays with the field the operator is in.
    if (current != target) grid->MoveCursor(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    grid->scrollTo(target);
  };
  connect(dbGrid1Model_, &TDBGridModel::currentRowChanged, this, follow);
  connect(dbGrid1Model_, &QAbstractItemModel::modelReset, this, follow);
  connect(dbGrid1Model_, &TDBGridModel::editFailed, this,
          [this](const QString& message) { services_.dialogs->ShowError(message); });

  ui_->LoadLog1->setEnabled(true);
  connect(ui_->LoadLog1, &QAction::triggered, this, [this] { LoadLog1Click(); });
  // A double click or Enter on a file of the log list.
  connect(log_->FileListBox1, &QListWidget::itemActivated, this, [this] { Button16Click(); });
  // The boxes act on the operator's choice only: Log It sets their texts without acting.
  connect(log_->ComboBox5, &QComboBox::activated, this, &TForm1::ComboBox5Change);
  connect(log_->ComboBox8, &QComboBox::activated, this, &TForm1::ComboBox8Change);
  connect(log_->CheckBox3, &QCheckBox::clicked, this, &TForm1::CheckBox3Click);
  connect(log_->CheckBox4, &QCheckBox::clicked, this, &TForm1::CheckBox4Click);
  connect(log_->CheckBox9, &QCheckBox::clicked, this, &TForm1::CheckBox9Click);
  connect(edit_->Button41, &QPushButton::clicked, this, &TForm1::Button41Click);
  // The hidden buttons whose handlers other handlers run: makeindex, dateindex, and the prefix
  // look-up of the QTH field.
  connect(log_->Button8, &QPushButton::clicked, this, &TForm1::Button8Click);
  connect(log_->Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
  connect(log_->Button11, &QPushButton::clicked, this, &TForm1::Button11Click);
}

void TForm1::DetachLogbookControls() {
  // LOG page.
  if (dbGrid1Model_ != nullptr) dbGrid1Model_->SetDataSource(nullptr);
  // Edit page: DBGrid3, its navigator and data-aware labels are detached here too.
}

// ---- Helpers ---------------------------------------------------------------------------------

void TForm1::ShowFailure(const std::exception& error) {
  const QByteArray bytes(error.what());
  // Engine messages carry file names (UTF-8 here) inside code-page text.
  const QString text = QString::fromUtf8(bytes);
  services_.dialogs->ShowError(text.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(bytes) : text);
}

void TForm1::SetNoLogbook() {
  try {
    dbf1_->Close();
  } catch (const std::exception&) {
    // A table that cannot be closed cleanly has released its handles all the same.
  }
  dbf1_->SetTableName("");
  logPath_.clear();
  logBaseName_.clear();
  log_->Label19->setText("LogBook Empty");
  // A duplicate found in the logbook that is closed says nothing of the next one.
  log_->StaticText1->hide();
}

bool TForm1::RequireLogbook() {
  if (LogbookOpen()) return true;
  SayOrShow("please load a log book first. ", "Please load a log book first!");
  return false;
}

bool TForm1::ReopenShared() {
  try {
    TDataSourceOff quiet(*dataSource1_);
    dbf1_->SetExclusive(false);
    dbf1_->Open();
    return true;
  } catch (const std::exception& e) {
    SetNoLogbook();
    SetStatusText(1, "Log: None Loaded");
    ShowFailure(e);
    return false;
  }
}

bool TForm1::OpenLogbookAt(QString path, bool speak) {
  SetNoLogbook();
  const QString file = FileName(path);
  // The logbook is named (spoken and in the status bar) once its table is open, before its tags
  // are built; the build's progress then stands in the status bar until it ends.
  std::optional<TWorkProgress> progress;
  const IndexProgress tags = [&progress](int tag, int tagCount, int64_t done, int64_t total) {
    if (progress) progress->ForTags()(tag, tagCount, done, total);
  };
  const auto announce = [&] {
    logPath_ = path;
    log_->Label19->setText(file);
    logBaseName_ = QString::fromStdString(quillmere::LogBaseName(file.toStdString()));
    if (speak) Speak(logBaseName_ + ". is  the  current  log. ");
    SetStatusText(1, "Log: " + file);
    log_->FileListBox1->hide();
    progress.emplace(*this, "Indexing " + file);
  };
  try {
    TDataSourceOff quiet(*dataSource1_);
    OpenLogbook(*dbf1_, path.toStdString(), tags, announce);
  } catch (const ELogbookRefused& e) {
    progress.reset();
    SetNoLogbook();
    SetStatusText(1, "Log: None Loaded");
    if (e.GetReason() == ELogbookRefused::Reason::RefusedName)
      SayOrShow("cannot use this log file. ", "Cannot use this file. ");
    else
      SayOrShow(QString::fromStdString(quillmere::LogBaseName(file.toStdString())) + ". is not a log book. ",
                QString::fromUtf8(e.what()));
    return false;
  } catch (const std::exception& e) {
    progress.reset();
    SetNoLogbook();
    SetStatusText(1, "Log: None Loaded");
    ShowFailure(e);
    return false;
  }
  progress.reset();
  log_->DBGrid1->show();
  return true;
}

// ---- The log list and opening ----------------------------------------------------------------

void TForm1::RefreshLogList() {
  const QString folder = log_->FileListBox1->property("Directory").toString();
  log_->FileListBox1->clear();
  for (const std::string& name : LogListFiles(folder.toStdString()))
    log_->FileListBox1->addItem(QString::fromStdString(name));
  if (log_->FileListBox1->count() > 0) log_->FileListBox1->setCurrentRow(0);
}

void TForm1::LoadLog1Click() {
  ShowPage(Page(0));
  if (log_->FileListBox1->isVisible()) {
    log_->FileListBox1->hide();
    Speak("Log book loading cancelled. ");
    return;
  }
  RefreshLogList();
  log_->FileListBox1->show();
  log_->FileListBox1->setFocus();
  Speak("Load an existing log book. ");
}

void TForm1::Button16Click() {
  const QListWidgetItem* item = log_->FileListBox1->currentItem();
  if (item == nullptr) return;
  const QString folder = log_->FileListBox1->property("Directory").toString();
  const bool opened = OpenChosenLogbook(QString::fromStdString(JoinPath(folder.toStdString(), item->text().toStdString())));
  // The list that had the focus is gone: the next keys are the next contact's call sign.
  if (opened) log_->LogEdit3->setFocus(Qt::OtherFocusReason);
}

bool TForm1::OpenChosenLogbook(const QString& path) { return OpenLogbookAt(path, true); }

bool TForm1::OpenNewLogbook(const QString& path) { return OpenLogbookAt(path, false); }

std::string TForm1::DefaultLogbookPath() const {
  // The operator's copy in the writable folder, else the one delivered beside the program. The
  // line holds CP1252 bytes: a name carried over from the original system is also looked for
  // as this desktop writes file names (UTF-8).
  const std::string& name = prefs_[plDefaultLog];
  if (name.empty()) return std::string();
  std::vector<std::string> names = {name};
  if (const std::string utf8 = Cp1252ToUtf8(name); utf8 != name) names.push_back(utf8);
  for (const std::string& folder : {options_.WritableFolder, options_.ProgramFolder})
    for (const std::string& n : names) {
      const std::string path = ResolveFileCase(JoinPath(folder, n));
      if (FileExistsAnyCase(path)) return path;
    }
  return std::string();
}

void TForm1::Button9Click() {
  // The placeholder "dummy.dbf" names no logbook: none is opened and nothing is said.
  if (SameTextAscii(FileNameOf(prefs_[plDefaultLog]), "dummy.dbf")) return;
  const std::string path = DefaultLogbookPath();
  if (!path.empty()) OpenLogbookAt(QString::fromStdString(path), false);
}

void TForm1::Button8Click() {
  // makeindex: the seven tags of the current logbook built again, then the date order.
  if (LogbookOpen()) OpenLogbookAt(logPath_, false);
}

void TForm1::Button6Click() {
  // dateindex: the date order, the newest contact current.
  if (!LogbookOpen()) {
    SayOrShow("No CDX file. ", "No CDX file. ");
    return;
  }
  try {
    TWorkProgress progress(*this, "Re-indexing " + FileName(logPath_));
    TStatusHook hook(*dbf1_, progress.ForStatus());
    TDataSourceOff quiet(*dataSource1_);
    if (!OrderLogbook(*dbf1_, logPath_.toStdString(), "DATE")) SayOrShow("No CDX file. ", "No CDX file. ");
  } catch (const std::exception& e) {
    ShowFailure(e);
    if (!dbf1_->Active()) ReopenShared();
  }
}

// ---- Sort, band filter, grid options ---------------------------------------------------------

void TForm1::ComboBox5Change() {
  const QString tag = log_->ComboBox5->currentText().trimmed();
  if (!LogbookOpen()) {
    SayOrShow("No CDX file. ", "No CDX file.");
    return;
  }
  // GRID names no tag of the logbook's index: the order stays as it is.
  if (!IsLogbookTag(tag.toStdString())) {
    SayOrShow("There is no " + tag + " order in this log book. ",
              "There is no " + tag + " order in this log book; the order is unchanged.");
    return;
  }
  try {
    TWorkProgress progress(*this, "Re-indexing " + FileName(logPath_));
    TStatusHook hook(*dbf1_, progress.ForStatus());
    TDataSourceOff quiet(*dataSource1_);
    if (!OrderLogbook(*dbf1_, logPath_.toStdString(), tag.toStdString())) SayOrShow("No CDX file. ", "No CDX file.");
  } catch (const std::exception& e) {
    ShowFailure(e);
    if (!dbf1_->Active()) ReopenShared();
  }
}

void TForm1::ComboBox8Change() {
  const QString item = log_->ComboBox8->currentText();
  try {
    TControlsDisabled quiet(*dbf1_);
    if (item == "NONE") {
      dbf1_->SetFiltered(false);
    } else {
      dbf1_->SetFilter("BAND =" + item.toStdString());
      dbf1_->SetFiltered(true);
    }
  } catch (const std::exception& e) {
    ShowFailure(e);
  }
}

void TForm1::CheckBox3Click() {
  log_->DBGrid1->setEditTriggers(log_->CheckBox3->isChecked()
                                     ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                           QAbstractItemView::AnyKeyPressed
                                     : QAbstractItemView::NoEditTriggers);
}

void TForm1::CheckBox4Click() { SetGridFontSize(log_->DBGrid1, log_->CheckBox4->isChecked() ? 18 : 12); }

void TForm1::CheckBox9Click() {
  // Custom Magnify: a font of the operator's choice, 12 to 36 points; unchecked, back to 12 points
  // in the same face and style.
  if (!log_->CheckBox9->isChecked()) {
    SetGridFontSize(log_->DBGrid1, 12);
    return;
  }
  const std::optional<QFont> chosen = services_.dialogs->ChooseFont(log_->DBGrid1->font(), 12, 36);
  if (chosen) SetGridFont(log_->DBGrid1, *chosen);
}

// ---- Pack ------------------------------------------------------------------------------------

void TForm1::Button41Click() {
  if (!RequireLogbook()) return;
  if (!services_.dialogs->AskYesNo("Contest", kPackQuestion, false)) return;
  const QString file = FileName(logPath_);
  dbf1_->Close();
  dbf1_->SetExclusive(true);
  try {
    TDataSourceOff quiet(*dataSource1_);
    dbf1_->Open();
  } catch (const std::exception& e) {
    // Another program has the logbook open: it stays as it was, open here again as before.
    if (!ReopenShared()) return;
    dbf1_->Last();
    SayOrShow("The log book is open in another program, so it was not packed. ",
              "The log book " + file + " is open in another program, so it was not packed: " +
                  QString::fromUtf8(e.what()));
    return;
  }
  try {
    TWorkProgress progress(*this, "Packing " + file);
    TStatusHook hook(*dbf1_, progress.ForStatus());
    TDataSourceOff quiet(*dataSource1_);
    PackTable(*dbf1_);
  } catch (const std::exception& e) {
    dbf1_->Close();
    if (ReopenShared()) ShowFailure(e);
    return;
  }
  dbf1_->Close();
  ReopenShared();
}

}  // namespace quillmere
