// Tshortcuts (instance shortcuts): "Shortcut Key Review", the always-on-top window that lists
// every keyboard shortcut of the logbook in Memo1 and reads it aloud: the whole text, or the
// line at the caret (with the line after it when an entry runs on). Edit1 and the find dialog
// FindDialog1 search the text without regard to case, walking down from hit to hit. Created at
// start-up, after the main window, as the one global instance shortcuts; shown and hidden
// (the main window's "ShortCut" menu item, F2), never created again. The position after the last
// hit survives hiding.
//
// Speech goes through the main window's voice. Main thread only.
#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class Tshortcuts;
}

namespace quillmere {

class TFindDialog;

// The text of the review: the menu functions, then the program functions, one key per entry.
extern const char* const kShortcutReviewText;

class Tshortcuts : public QWidget {
  Q_OBJECT
 public:
  explicit Tshortcuts(QWidget* parent = nullptr);
  ~Tshortcuts() override;

  Ui::Tshortcuts& Controls() { return *ui_; }
  TFindDialog& FindDialog1() { return *findDialog_; }
  // 1-based position of the last hit in Memo1's text; 0 before the first hit.
  int LastHit() const { return lastHit_; }

 public slots:
  void Button2Click();  // Zoom Font
  void Button8Click();  // UNZoom
  void Button4Click();  // Read the Entire Review
  void Button5Click();  // Read Selected Line
  void Button1Click();  // Search (hidden)
  void Button7Click();  // find through an input box (hidden)
  void Memo1Click();
  void Memo1DblClick();
  void Edit1Enter();
  void FindDialog1Find();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void ZoomMemo(double factor);
  void SelectInMemo(int start, int length);

  std::unique_ptr<Ui::Tshortcuts> ui_;
  TFindDialog* findDialog_ = nullptr;  // owned by the window
  int lastHit_ = 0;
};

// The one instance, set while it exists.
extern Tshortcuts* shortcuts;

}  // namespace quillmere
