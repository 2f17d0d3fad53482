#include "Unit1.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QRegularExpressionValidator>
#include <exception>

#include "PSKUnit1.h"
#include "accessibility.h"
#include "logbook_fileset.h"
#include "logbook_folders.h"
#include "new_logbook.h"
#include "side_window_texts.h"
#include "ui_Unit1.h"

namespace quillmere {

TPrintForm* PrintForm = nullptr;

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TPrintForm::TPrintForm(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), ui_(std::make_unique<Ui::TPrintForm>()) {
  PrintForm = this;
  ui_->setupUi(this);
  ui_->Label2->setText(Q(texts::NewLogInstruction()));
  // The key rule holds for pasted text too: nothing but the name's own characters enters the box.
  ui_->Edit2->setValidator(new QRegularExpressionValidator(QRegularExpression("[a-z0-9_.]*"), ui_->Edit2));
  ui_->Edit2->installEventFilter(this);
  connect(ui_->FileListBox1, &QListWidget::itemClicked, this, &TPrintForm::FileListBox1Click);
  connect(ui_->FileListBox1, &QListWidget::itemDoubleClicked, this, &TPrintForm::FileListBox1DblClick);
  connect(ui_->FileListBox1, &QListWidget::currentTextChanged, ui_->Edit3, &QLineEdit::setText);
  OpenLogbook = [](const QString& path) { return Form1 != nullptr && Form1->OpenNewLogbook(path); };
  ApplyHintsAsAccessibleText(this);
  CloseOnEscape(this, [this] { close(); });
  FormCreate();
}

TPrintForm::~TPrintForm() {
  if (PrintForm == this) PrintForm = nullptr;
}

QString TPrintForm::Folder() const {
  return Form1 != nullptr ? Q(Form1->Options().WritableFolder) : QString();
}

void TPrintForm::FormCreate() {
  if (Form1 != nullptr) ui_->Edit3->setText(Q(JoinPath(Form1->Options().ProgramFolder, "Quillmere")));
  RefreshFileList();
}

void TPrintForm::RefreshFileList() {
  ui_->FileListBox1->clear();
  if (Folder().isEmpty()) return;
  for (const std::string& name : ListLogbookFiles(Folder().toStdString())) ui_->FileListBox1->addItem(Q(name));
}

bool TPrintForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->Edit2) {
    if (event->type() == QEvent::FocusIn) Edit2Enter();
    if (event->type() == QEvent::KeyPress) return !Edit2KeyPress(static_cast<QKeyEvent*>(event));
  }
  return QWidget::eventFilter(watched, event);
}

void TPrintForm::showEvent(QShowEvent* event) {
  RefreshFileList();
  QWidget::showEvent(event);
  // Opened by a key: the name typed next belongs here, not in the main window's call field.
  TakeKeyboard(this, ui_->Edit2);
}

void TPrintForm::closeEvent(QCloseEvent* event) {
  FormClose();
  QWidget::closeEvent(event);
}

void TPrintForm::FormClose() { ui_->Edit2->clear(); }

void TPrintForm::Edit2Enter() {
  if (Form1 != nullptr) Form1->Speak(Q(texts::NewLogNamePrompt()));
}

bool TPrintForm::Edit2KeyPress(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    Button3Click();
    return false;
  }
  const QString text = event->text();
  // Keys that type nothing (arrows, Home, Delete, Tab) move or edit as usual.
  if (text.isEmpty()) return true;
  const char32_t key = text.toUcs4().value(0);
  if (key < 0x20 && key != 8) return true;
  return NewLogNameKeyPasses(key);
}

void TPrintForm::Button3Click() {
  if (Form1 == nullptr) return;
  Dialogs& boxes = *Form1->Services().dialogs;
  const QString name = ui_->Edit2->text();
  std::vector<std::string> listed;
  for (int i = 0; i < ui_->FileListBox1->count(); ++i) listed.push_back(ui_->FileListBox1->item(i)->text().toStdString());

  switch (CheckNewLogName(name.toStdString(), listed)) {
    case NewLogNameVerdict::Exists:
      boxes.ShowMessage(Q(texts::NewLogItemSelected(ui_->FileListBox1->currentRow())));
      boxes.ShowMessage(Q(texts::NewLogCannotOverwrite()));
      hide();
      close();
      return;
    case NewLogNameVerdict::Nothing:
      close();
      return;
    case NewLogNameVerdict::StartsWithDigit:
      Form1->SayOrShow(Q(texts::NewLogNumeralRule()) + ". ", Q(texts::NewLogNumeralRule()));
      return;
    case NewLogNameVerdict::StartsOtherwise:
      Form1->SayOrShow(Q(texts::NewLogLetterRule()) + ". ", Q(texts::NewLogLetterRule()));
      return;
    case NewLogNameVerdict::Reserved:
      Form1->SayOrShow(Q(texts::NewLogCannotUseSpoken()), Q(texts::NewLogCannotUseShown()));
      return;
    case NewLogNameVerdict::Create:
      break;
  }

  const QString candidate = name + ".dbf";
  ui_->Edit1->setText(candidate);
  Form1->SetStatusText(1, Q(texts::NewLogCurrentPanel(candidate.toStdString())));
  std::string path;
  try {
    path = CreateNewLogbook(JoinPath(Folder().toStdString(), ""), name.toStdString(), [&boxes](const std::string& text) {
      return boxes.AskOkCancel("Confirm", Q(text));
    });
  } catch (const std::exception& e) {
    boxes.ShowError(Q(e.what()));
    close();
    return;
  }
  // Declined to overwrite: nothing was made, and nothing is announced.
  if (!path.empty() && OpenLogbook && OpenLogbook(Q(path))) {
    Form1->SetStatusText(1, Q(texts::NewLogBookPanel(FileNameOf(path))));
    Form1->Speak(Q(texts::NewLogIsSpoken()));
    Form1->Speak(Q(texts::NewLogNameSpoken(candidate.toStdString())));
  }
  close();
}

void TPrintForm::FileListBox1Click() {
  QListWidgetItem* item = ui_->FileListBox1->currentItem();
  if (item != nullptr && Form1 != nullptr) Form1->Speak(Q(texts::NewLogFileClicked(item->text().toStdString())));
}

void TPrintForm::FileListBox1DblClick() {
  QListWidgetItem* item = ui_->FileListBox1->currentItem();
  if (item == nullptr || Form1 == nullptr || item->text() != "dummy.dbf") return;
  Form1->SayOrShow(Q(texts::NewLogCannotUseSpoken()), Q(texts::NewLogCannotUseShown()));
}

}  // namespace quillmere
