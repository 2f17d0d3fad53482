#include "shortcutscreen.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <cmath>

#include "PSKUnit1.h"
#include "accessibility.h"
#include "find_dialog.h"
#include "ui_TForm1.h"
#include "ui_shortcutscreen.h"

namespace quillmere {

Tshortcuts* shortcuts = nullptr;

// Each entry is one line; an entry that runs on to the next line leaves its first line without a
// closing period, so reading that line reads its continuation too.
const char* const kShortcutReviewText = R"(MENU FUNCTIONS.
Ctrl + S   Activates the speech system. 
Ctrl + Q   Quits the speech system. 
F2   Opens this shortcut key review, and closes it again. 
F3   Stops the speech at once. 
Ctrl + N   Makes a new logbook. 
Ctrl + L   Loads a logbook from the logbook list. 
Ctrl + F2   Brings up the LOG sheet and puts you in the call sign field. 
Ctrl + F3   Brings up the Edit sheet to search and change the logbook. 
Ctrl + F4   Brings up the configuration sheet. 
Ctrl + F5   Brings up the DX and W. A. S. sheet. 
Ctrl + F6   Brings up the frequency memory sheet. 
Ctrl + M   Manual operation: lets you work with the QMR
   without a radio connection, choosing band and mode yourself.
Note: the large hint box and, in manual operation, the band change
   have keys of their own, listed under PROGRAM FUNCTIONS.
Ctrl + E   Brings up the Edit sheet to adjust the logbook. 
Ctrl + A   Opens the ADIF conversion window, and closes it again. 
Ctrl + C   Turns the radio amateur call book on or off. 
Ctrl + Back Arrow   Tunes the radio one step down. 
Ctrl + Forward Arrow   Tunes the radio one step up. 
Ctrl + R   Has no function in this version. 
Ctrl + H   Opens the help file. 
Note: Ctrl + Enter logs the contact when Use CTRL +Enter
   is checked on the configuration sheet.
PROGRAM FUNCTIONS..
Alt + T   Speaks the time now. 
Alt + F   Speaks the frequency. 
Alt + E   Speaks the emission mode. 
Alt + S   Speaks the call sign being entered. 
Alt + P   Speaks the DX entity of the call sign. 
Alt + C   Clears the logging fields. 
Alt + L   Logs the contact. 
Alt + X   Exits the logbook. 
Alt + B   Speaks the bearing and range. 
Alt + D   Turns the automatic QTH and DXCC entity look-up on or off. 
Alt + A   Turns audible typing on or off. 
Alt + M   Turns the magnified log grid on or off. 
Alt + R   Reads the last contact of the log. 
Alt + U   Looks up the call sign in the call book. 
Alt + R   In the call book window, reads the call book entry. 
Alt + G   On the memory sheet, sends the chosen memory to the radio. 
Alt + N   In manual operation, changes the band. 
Alt + O   In manual operation, changes the mode. 
Alt + H   Shows or hides the large hint box. )";

namespace {

void Speak(const QString& text) {
  if (Form1 != nullptr) Form1->Speak(text);
}

void SpeakAlways(const QString& text) {
  if (Form1 != nullptr) Form1->SpeakAlways(text);
}

void ShowError(const QString& text) {
  if (Form1 != nullptr) Form1->Services().dialogs->ShowError(text);
}

}  // namespace

Tshortcuts::Tshortcuts(QWidget* parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), ui_(std::make_unique<Ui::Tshortcuts>()) {
  shortcuts = this;
  ui_->setupUi(this);
  ui_->Memo1->setPlainText(QString::fromUtf8(kShortcutReviewText));
  ui_->Memo1->viewport()->installEventFilter(this);
  ApplyHintsAsAccessibleText(this);
  NameStop(ui_->Memo1, "Shortcut keys", "The logbook's keys, one entry per line");
  CloseOnEscape(this, [this] { close(); });

  findDialog_ = new TFindDialog(this);
  findDialog_->SetOptions(TFindDialog::frDown | TFindDialog::frFindNext);
  findDialog_->SetHiddenOptions(TFindDialog::frWholeWord);
  findDialog_->SetDisabledOptions(TFindDialog::frWholeWord | TFindDialog::frMatchCase | TFindDialog::frDown);

  connect(ui_->Button2, &QPushButton::clicked, this, &Tshortcuts::Button2Click);
  connect(ui_->Button8, &QPushButton::clicked, this, &Tshortcuts::Button8Click);
  connect(ui_->Button4, &QPushButton::clicked, this, &Tshortcuts::Button4Click);
  connect(ui_->Button5, &QPushButton::clicked, this, &Tshortcuts::Button5Click);
  connect(ui_->Button1, &QPushButton::clicked, this, &Tshortcuts::Button1Click);
  connect(ui_->Button7, &QPushButton::clicked, this, &Tshortcuts::Button7Click);
  connect(ui_->Edit1, &QLineEdit::returnPressed, this, &Tshortcuts::Edit1Enter);
  connect(findDialog_, &TFindDialog::Find, this, &Tshortcuts::FindDialog1Find);
}

Tshortcuts::~Tshortcuts() {
  if (shortcuts == this) shortcuts = nullptr;
}

bool Tshortcuts::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->Memo1->viewport()) {
    // The memo has placed its caret by the time the button comes up or the second press arrives.
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
      Memo1Click();
    else if (event->type() == QEvent::MouseButtonDblClick)
      Memo1DblClick();
  }
  return QWidget::eventFilter(watched, event);
}

void Tshortcuts::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  TakeKeyboard(this, ui_->Memo1);
}

void Tshortcuts::closeEvent(QCloseEvent* event) {
  // Closed by its own close box: the menu item that shows it is no longer checked.
  if (Form1 != nullptr) Form1->Frame().ShortCut1->setChecked(false);
  QWidget::closeEvent(event);
}

void Tshortcuts::ZoomMemo(double factor) {
  QFont font = ui_->Memo1->font();
  // Never below one point, however often it is made smaller.
  const long size = std::lround(font.pointSizeF() * factor);
  font.setPointSize(int(std::max(1L, size)));
  ui_->Memo1->setFont(font);
  ui_->Memo1->update();
}

void Tshortcuts::Button2Click() { ZoomMemo(1.1); }

void Tshortcuts::Button8Click() { ZoomMemo(0.9); }

void Tshortcuts::Button4Click() {
  const QString text = ui_->Memo1->toPlainText();
  if (!text.isEmpty()) SpeakAlways(text);
}

void Tshortcuts::Button5Click() {
  const QTextBlock block = ui_->Memo1->textCursor().block();
  const QString line = block.text().trimmed();
  if (!line.isEmpty()) SpeakAlways(line);
  if (line.endsWith('.')) return;
  // The entry runs on: its continuation closes the sentence. The last line has none.
  const QTextBlock next = block.next();
  if (next.isValid()) SpeakAlways(next.text().trimmed() + ".");
}

void Tshortcuts::Memo1Click() {
  const QTextBlock block = ui_->Memo1->textCursor().block();
  SelectInMemo(block.position(), block.length() - 1);
}

void Tshortcuts::Memo1DblClick() { Button5Click(); }

void Tshortcuts::Button1Click() { findDialog_->Execute(); }

void Tshortcuts::Edit1Enter() {
  findDialog_->SetFindText(ui_->Edit1->text());
  findDialog_->Execute();
}

void Tshortcuts::SelectInMemo(int start, int length) {
  QTextCursor cursor = ui_->Memo1->textCursor();
  cursor.setPosition(start);
  cursor.setPosition(start + length, QTextCursor::KeepAnchor);
  ui_->Memo1->setTextCursor(cursor);
}

void Tshortcuts::FindDialog1Find() {
  TFindDialog::Options options = findDialog_->GetOptions();
  // Before the first hit every request starts at the top; case never matters.
  if (lastHit_ == 0) options &= ~TFindDialog::Options(TFindDialog::frFindNext);
  options &= ~TFindDialog::Options(TFindDialog::frMatchCase);
  findDialog_->SetOptions(options);

  const QString what = findDialog_->FindText();
  const QString text = ui_->Memo1->toPlainText();
  const bool next = options.testFlag(TFindDialog::frFindNext);
  int from = 0;
  if (next)
    from = lastHit_ - 1 + int(what.size());
  else
    Speak("Searching for. " + what + ".");
  // An empty text finds nothing (an empty needle would "match" at the start).
  const qsizetype index = what.isEmpty() ? -1 : text.indexOf(what, from, Qt::CaseInsensitive);
  if (index >= 0) {
    lastHit_ = int(index) + 1;
    SelectInMemo(int(index), int(what.size()));
    ui_->Memo1->setFocus();
    Speak("found. " + what + ".");
  } else if (next && !what.isEmpty()) {
    ShowError("There are no further occurences of \"" + what + "\" ");
    Speak("There are no further occurences of " + what + ". ");
  } else {
    ShowError("Could not find \"" + what + "\".");
    Speak("Could not find " + what + ".");
  }
  Button5Click();
}

void Tshortcuts::Button7Click() {
  if (Form1 == nullptr) return;
  const std::optional<QString> what = Form1->Services().dialogs->AskText("Find Text", "Enter text to find:", QString());
  if (!what) return;
  const qsizetype index = what->isEmpty() ? -1 : ui_->Memo1->toPlainText().indexOf(*what, 0, Qt::CaseSensitive);
  if (index < 0) {
    Form1->Services().dialogs->ShowMessage("not found");
    return;
  }
  SelectInMemo(int(index), int(what->size()));
}

}  // namespace quillmere
