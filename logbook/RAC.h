// TRAC (instance RAC): the call-book window "Radio Amateur CALL BOOK", a small window kept on
// top, created at start-up after the main window and shown on demand. It looks a call (Edit2,
// forced to upper case) up in the call-book data folder (ComboBox1: the drive items, or a folder
// typed in) through an outside library bound at run time, and shows the record's fields, the
// library's version and its status texts; "Callbook &Read" speaks the station and its address.
// Without the library it says "call book not available" and the rest of the program is
// unaffected. The main window uses the hidden "Find" and then reads the station's position
// from Label14 (longitude, west positive) and Label15 (latitude).
//
// The logic is TRACLogic (call_book.h). Main thread only.
#pragma once

#include <QWidget>
#include <memory>

class QComboBox;

#include "call_book.h"

namespace Ui {
class TRAC;
}

namespace quillmere {

class TRAC : public QWidget {
  Q_OBJECT
 public:
  explicit TRAC(QWidget* parent = nullptr);
  ~TRAC() override;

  Ui::TRAC& Controls() { return *ui_; }
  bool Available() const { return logic_.Available(); }

 public slots:
  // "&Get": the look-up, the position labels marked " Lon." and " Lat.".
  void BitBtn1Click();
  // "Find": the look-up for the main window, the position labels bare numbers.
  void Button1Click();
  // "Callbook &Read": speaks the station and its address when speech is on.
  void Button2Click();
  // "&Hide".
  void Button3Click();
  // The drive box takes the Set page's drive box's items and its text (a drive or a folder).
  void FollowDrive(const QComboBox& driveBox);
  // A drive chosen in ComboBox1: its text is said (when speech is on and it is not empty).
  void ComboBox1Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void LookUp(CallBookAction action);
  void ShowTexts();

  std::unique_ptr<Ui::TRAC> ui_;
  TRACLogic logic_;
};

// The one instance, set while it exists.
extern TRAC* RAC;

}  // namespace quillmere
