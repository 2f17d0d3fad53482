// TFindDialog: the modeless "Find" dialog of the review window: the text to find, a match-case
// choice, a whole-word choice, the direction, and "Find Next" / "Cancel". Each "Find Next" asks
// the owner to search (the Find signal); the dialog stays open until cancelled or closed. Which
// choices are offered is the owner's to set (SetOptions / SetHiddenOptions / SetDisabledOptions).
//
// Main thread only.
#pragma once

#include <QDialog>
#include <QFlags>
#include <QString>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace quillmere {

class TFindDialog : public QDialog {
  Q_OBJECT
 public:
  enum Option {
    frDown = 0x1,
    frFindNext = 0x2,
    frMatchCase = 0x4,
    frWholeWord = 0x8,
  };
  Q_DECLARE_FLAGS(Options, Option)

  explicit TFindDialog(QWidget* parent = nullptr);

  QString FindText() const;
  void SetFindText(const QString& text);
  // The choices as the operator left them; frFindNext is set while a search asked for by
  // "Find Next" runs.
  Options GetOptions() const;
  void SetOptions(Options options);
  // frWholeWord / frMatchCase hide or disable that choice; frDown among the disabled options
  // fixes the direction (searching up is not offered).
  void SetHiddenOptions(Options options);
  void SetDisabledOptions(Options options);
  // Shows the dialog (modeless) with the focus in the text.
  void Execute();

  QPushButton* FindNextButton() const { return findNext_; }

 signals:
  void Find();

 private:
  QLineEdit* text_;
  QCheckBox* wholeWord_;
  QCheckBox* matchCase_;
  QRadioButton* up_;
  QRadioButton* down_;
  QPushButton* findNext_;
  QPushButton* cancel_;
  bool findNextFlag_ = false;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TFindDialog::Options)

}  // namespace quillmere
