// TForm1: the controls that read themselves aloud. Each LOG-page entry field says what to type
// when it gets the focus, reads its text back on a double click or on Enter, and echoes typed
// keys while "Audible Typing" is checked; the log grids read the cell under the cursor (codes
// spelled, mode words, state names from the word list) and keep their hint on that cell's text;
// the read-out buttons, the clock and log labels, the sort and band boxes and the log list say
// their piece. The phrases are spoken_reading's; this file picks the texts and speaks them.
//
// The events come through one filter object owned by the window. It is the window's last member,
// so it goes (and its filters and connections with it) before the pages it reads from.
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QTableView>
#include <functional>
#include <string_view>

#include "PSKUnit1.h"
#include "dbctrls.h"
#include "dbgridmodel.h"
#include "dbtext.h"
#include "spoken_reading.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet2.h"
#include "ui_TabSheet3.h"
#include "ui_TabSheet4.h"

namespace quillmere {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

// Hands every event of the widgets it watches to one function; true from the function eats it.
class TEventHook : public QObject {
 public:
  using Handler = std::function<bool(QObject*, QEvent*)>;
  explicit TEventHook(Handler handler) : handler_(std::move(handler)) {}
  bool eventFilter(QObject* watched, QEvent* event) override { return handler_(watched, event); }

 private:
  Handler handler_;
};

bool IsClick(QEvent* event, QWidget* widget) {
  if (event->type() != QEvent::MouseButtonRelease) return false;
  const auto* mouse = static_cast<QMouseEvent*>(event);
  return mouse->button() == Qt::LeftButton && widget->rect().contains(mouse->position().toPoint());
}

}  // namespace

void TForm1::ConnectLogOrderPhrases() {
  // Connected before the boxes' own handlers: the choice is said first, then acted on.
  connect(log_->ComboBox5, &QComboBox::activated, this, &TForm1::ComboBox5Click);
  connect(log_->ComboBox8, &QComboBox::activated, this, &TForm1::ComboBox8Click);
}

void TForm1::ConnectReadingHandlers() {
  auto* hook = new TEventHook([this](QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr) return false;
    const QEvent::Type type = event->type();

    if (auto* field = qobject_cast<QLineEdit*>(widget)) {
      if (type == QEvent::FocusIn) {
        // A window coming back to the front, or a menu or the menu bar closing (also when its
        // item opened a window), is no move into the field: the focus only comes back.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason ||
            reason == Qt::MenuBarFocusReason)
          return false;
        if (field == set_->Edit12)
          Edit12Enter();
        else
          EntryFieldEnter(field);
      } else if (field != set_->Edit12 && type == QEvent::MouseButtonDblClick) {
        EntryFieldDblClick(field);
      } else if (field != set_->Edit12 && type == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        EntryFieldKeyDown(field, key->key());
        if (!key->modifiers().testAnyFlags(Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
          EntryFieldKeyPress(key->text());
      }
      return false;
    }

    const bool mouseButton = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
                             type == QEvent::MouseButtonDblClick;
    if (auto* grid = qobject_cast<QTableView*>(widget->parentWidget());
        mouseButton && grid != nullptr && widget == grid->viewport() &&
        (grid == log_->DBGrid1 || grid == edit_->DBGrid3)) {
      // The clicks on a log grid's cells. On the Edit page a move to another record lists the
      // rows again, which the view's own click and double-click signals do not survive, so they
      // are taken here. A click that enters another column is read once, as a click.
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        gridMousePressed_ = true;
      } else if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton) {
        const bool click = gridMousePressed_ && grid->indexAt(mouse->position().toPoint()).isValid();
        gridMousePressed_ = false;
        if (click) ReadGridCell(grid);
      } else if (type == QEvent::MouseButtonDblClick && mouse->button() == Qt::LeftButton) {
        if (grid == log_->DBGrid1)
          DBGrid1DblClick();
        else
          DBGrid3DblClick();
      }
    }
    if (type == QEvent::MouseMove) {
      // Over a grid's cells (its viewport) or a data-aware label: the hint follows the text.
      if (auto* grid = qobject_cast<QTableView*>(widget->parentWidget());
          grid != nullptr && widget == grid->viewport()) {
        SetHintText(grid, GridCellText(grid));
      } else if (auto* label = qobject_cast<TDBText*>(widget)) {
        SetHintText(label, Q(TrimmedField(S(label->text()))));
      }
      return false;
    }
    if (widget == log_->FileListBox1) {
      // The operator's keys move through the log list; the list's own moves say nothing.
      if (type == QEvent::KeyPress) logListKeyDown_ = true;
      if (type == QEvent::KeyRelease || type == QEvent::FocusOut) logListKeyDown_ = false;
      return false;
    }
    if (type == QEvent::KeyRelease) {
      auto* grid = qobject_cast<QTableView*>(widget);
      const auto* key = static_cast<QKeyEvent*>(event);
      if (grid == nullptr || key->isAutoRepeat()) return false;
      SetHintText(grid, GridCellText(grid));
      if ((grid == log_->DBGrid1 || grid == edit_->DBGrid3) && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down))
        ReadGridCell(grid);
      return false;
    }
    if (widget == log_->Label1 && IsClick(event, widget)) Label1Click();
    if (widget == log_->Label19 && IsClick(event, widget)) Label19Click();
    return false;
  });
  readingHook_.reset(hook);

  for (const TEntryFieldReading& reading : EntryFieldReadings()) {
    auto* field = Page(0)->findChild<QLineEdit*>(reading.Name);
    if (field != nullptr) field->installEventFilter(hook);
  }
  set_->Edit12->installEventFilter(hook);
  log_->Label1->installEventFilter(hook);
  log_->Label19->installEventFilter(hook);

  ConnectGridReading(log_->DBGrid1);
  ConnectGridReading(edit_->DBGrid3);
  // The tally grids: the hint follows the column entered, and in the DXCC grid the key released.
  for (QTableView* grid : {dx_->DBGrid4, dx_->DBGrid6}) {
    connect(grid->selectionModel(), &QItemSelectionModel::currentColumnChanged, hook,
            [this, grid] { SetHintText(grid, GridCellText(grid)); });
  }
  dx_->DBGrid6->installEventFilter(hook);
  // The Edit page's first eight data-aware labels: the hint follows the field under the mouse.
  for (int n = 1; n <= 8; ++n)
    if (auto* label = Page(1)->findChild<TDBText*>(QStringLiteral("DBText%1").arg(n))) {
      label->setMouseTracking(true);
      label->installEventFilter(hook);
    }

  connect(log_->Button1, &QPushButton::clicked, hook, [this] { Button1Click(); });
  connect(log_->Button12, &QPushButton::clicked, hook, [this] { Button12Click(); });
  connect(log_->Button17, &QPushButton::clicked, hook, [this] { Button17Click(); });
  connect(log_->Button19, &QPushButton::clicked, hook, [this] { Button19Click(); });
  connect(log_->Button20, &QPushButton::clicked, hook, [this] { Button20Click(); });
  connect(log_->Button28, &QPushButton::clicked, hook, [this] { Button28Click(); });
  // The log list names the file chosen by a click or by the arrow keys.
  log_->FileListBox1->installEventFilter(hook);
  connect(log_->FileListBox1, &QListWidget::itemClicked, hook, [this] { FileListBox1Click(); });
  connect(log_->FileListBox1, &QListWidget::currentRowChanged, hook, [this](int row) {
    if (logListKeyDown_ && row >= 0) FileListBox1Click();
  });
}

void TForm1::ConnectGridReading(QTableView* grid) {
  TEventHook* hook = static_cast<TEventHook*>(readingHook_.get());
  grid->installEventFilter(hook);
  grid->viewport()->setMouseTracking(true);
  grid->viewport()->installEventFilter(hook);
  // Entering another column. After the rows were listed again the grid has no previous cell:
  // putting the cursor back is no move of the operator's and says nothing. A mouse press that
  // enters a column leaves the reading to the click.
  connect(grid->selectionModel(), &QItemSelectionModel::currentColumnChanged, hook,
          [this, grid](const QModelIndex& current, const QModelIndex& previous) {
            if (current.isValid() && previous.isValid() && !gridMousePressed_) ReadGridCell(grid);
          });
}

QString TForm1::GridCellText(const QTableView* grid) const {
  const QModelIndex index = grid->currentIndex();
  if (!index.isValid()) return QString();
  return Q(TrimmedField(S(index.data().toString())));
}

void TForm1::SetHintText(QWidget* widget, const QString& text) {
  if (widget->toolTip() != text) widget->setToolTip(text);
}

// ---- Entry fields ----------------------------------------------------------------------------

std::vector<std::string> TForm1::WordListItems(const QString& code) {
  std::vector<std::string> items;
  items.reserve(size_t(log_->ListBox1->count()));
  for (int i = 0; i < log_->ListBox1->count(); ++i) items.push_back(S(log_->ListBox1->item(i)->text()));
  if (!code.isEmpty()) {
    const int found = FindWordListItem(items, S(code));
    if (found >= 0) log_->ListBox1->setCurrentRow(found);
  }
  return items;
}

void TForm1::EntryFieldEnter(QLineEdit* field) {
  if (const TEntryFieldReading* reading = FindEntryFieldReading(S(field->objectName())))
    Echo(QString::fromLatin1(reading->Prompt));
}

void TForm1::Edit12Enter() { Echo(set_->Edit12->text()); }

void TForm1::PromptFocusedField() {
  auto* field = qobject_cast<QLineEdit*>(focusWidget());
  if (field == nullptr) return;
  if (field == set_->Edit12)
    Edit12Enter();
  else
    EntryFieldEnter(field);
}

void TForm1::EntryFieldDblClick(QLineEdit* field) {
  const TEntryFieldReading* reading = FindEntryFieldReading(S(field->objectName()));
  if (reading == nullptr) return;
  const QString text = field->text();
  const bool state = reading->Reading == TReadBack::StateName;
  if (const auto phrase = DoubleClickPhrase(reading->Reading, S(text), WordListItems(state ? text : QString())))
    Speak(Q(*phrase));
}

void TForm1::EntryFieldKeyDown(QLineEdit* field, int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return;
  // With "Use CTRL +Enter" checked, Enter belongs to Log It.
  if (set_->CheckBox12->isChecked()) return;
  const TEntryFieldReading* reading = FindEntryFieldReading(S(field->objectName()));
  const QString text = field->text();
  if (reading == nullptr || text.isEmpty()) return;
  const bool state = reading->Reading == TReadBack::StateName;
  if (const auto phrase = EnterKeyPhrase(reading->Reading, S(text), WordListItems(state ? text : QString())))
    Speak(Q(*phrase));
}

void TForm1::EntryFieldKeyPress(const QString& typed) {
  // One typed character; the keys that type none (Enter, Backspace, Escape, Ctrl+letter) are
  // not echoed. The echo follows "Audible Typing" alone, whether speech is on or not.
  if (!log_->CheckBox11->isChecked() || typed.size() != 1 || !typed.at(0).isPrint()) return;
  log_->Label47->setText(typed);
  EchoAlways(typed);
}

// ---- Grids -----------------------------------------------------------------------------------

namespace {

// The text of field `name` in the row under the grid's cursor, as the grid lists it. That row is
// the record the reading is about; the data set is not moved there, since a move lists every
// row of the grid again.
QString RowFieldText(const QTableView* grid, std::string_view name) {
  const auto* model = qobject_cast<const TDBGridModel*>(grid->model());
  const QModelIndex current = grid->currentIndex();
  if (model == nullptr || !current.isValid()) return QString();
  for (int column = 0; column < model->columnCount(); ++column) {
    const TField* field = model->ColumnField(column);
    if (field != nullptr && field->FieldName() == name)
      return Q(TrimmedField(S(model->index(current.row(), column).data().toString())));
  }
  return QString();
}

}  // namespace

void TForm1::ReadGridCell(QTableView* grid) {
  const QString cell = GridCellText(grid);
  if (cell.isEmpty() || !SpeechOn()) return;
  const TRecordReading record{S(RowFieldText(grid, "GRIDSQR")), S(RowFieldText(grid, "NRSENT")),
                              S(RowFieldText(grid, "NRRCVD")), S(RowFieldText(grid, "MODE")),
                              S(RowFieldText(grid, "STATE"))};
  // Only a cell read as a state looks its code up in the list.
  const bool state = S(cell) == record.State;
  // The cell under the cursor, as a screen reader reads it too: it gives way.
  if (const auto phrase = GridCellPhrase(S(cell), record, WordListItems(state ? cell : QString())))
    Echo(Q(*phrase));
}

void TForm1::DBGrid1DblClick() { Speak(RowFieldText(log_->DBGrid1, "STATION")); }

void TForm1::DBGrid3DblClick() { Speak(RowFieldText(edit_->DBGrid3, "STATION") + " . "); }

// ---- Read-out buttons, labels and boxes ------------------------------------------------------

void TForm1::Button12Click() { Speak(log_->LogEdit3->text()); }

void TForm1::Button17Click() { Speak(Q(FrequencyPhrase(S(log_->Label4->text())))); }

void TForm1::Button19Click() {
  for (const std::string& phrase : EmissionPhrases(S(log_->Label5->text()))) Speak(Q(phrase));
}

void TForm1::Button20Click() { Speak(Q(BearingPhrase(S(StatusText(4)), S(StatusText(3))))); }

void TForm1::Button28Click() { Speak(Q(PrefixPhrase(S(StatusText(3))))); }

void TForm1::Button1Click() {
  if (!RequireLogbook()) return;
  std::vector<std::string> phrases;
  try {
    dbf1_->Last();
    auto text = [this](const char* name) {
      const TField* field = dbf1_->FindField(name);
      return field == nullptr || dbf1_->IsEmpty() ? std::string() : TrimmedField(S(FromEngineText(field->AsString())));
    };
    phrases = ReviewLogPhrases(text("DATE"), text("TIME"), text("STATION"), text("SPARE1"), text("STATE"));
  } catch (const std::exception& e) {
    ShowFailure(e);
    return;
  }
  for (const std::string& phrase : phrases) Speak(Q(phrase));
}

void TForm1::Label1Click() { Speak(log_->Label1->text()); }

void TForm1::Label19Click() { Speak(log_->Label19->text()); }

void TForm1::ComboBox5Click() { Speak("log sorted according to. " + log_->ComboBox5->currentText()); }

void TForm1::ComboBox8Click() {
  Speak("log filtered according to. " + log_->ComboBox8->currentText() + " meters");
}

void TForm1::FileListBox1Click() {
  const QListWidgetItem* item = log_->FileListBox1->currentItem();
  if (item == nullptr) return;
  for (const std::string& phrase : LogListPhrases(S(item->text()))) Speak(Q(phrase));
}

}  // namespace quillmere
