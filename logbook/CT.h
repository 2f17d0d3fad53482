// TCTConvert (instance CTConvert): the country-file window, created at start-up after the main
// window and never needed on screen. It reads "cty.dat" from the program folder once (into the
// memo Memo1 and the grid StringGrid1), finds an entity by the name in the main window's entity
// field Edit8 (zones and prefix into the main window's Edit9 .. Edit11, bearing and distance into
// its labels), and gives the bearing and distance to the station the call-book window found.
//
// The logic is TCTConvertLogic (ct_convert.h); the window copies the edits an operator may have
// typed into it before each handler and shows the logic's texts after it. Errors that end a
// handler (a home position that is no number) go to the application's error display.
//
// Main thread only.
#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "ct_convert.h"

namespace Ui {
class TCTConvert;
}

namespace quillmere {

class TCTConvert : public QWidget {
  Q_OBJECT
 public:
  explicit TCTConvert(QWidget* parent = nullptr);
  ~TCTConvert() override;

  Ui::TCTConvert& Controls() { return *ui_; }
  TCTConvertLogic& Logic() { return logic_; }

  // The entity look-up for the main window (Button5Click): what it found, or nothing when the
  // look-up ended with an error.
  std::optional<EntityLookup> LookUpEntity();

 public slots:
  // "Convert CT": Button3Click, then Button2Click.
  void Button4Click();
  // Reads the country file into Memo1.
  void Button3Click();
  // Splits the memo's lines into the grid.
  void Button2Click();
  // The entity named in the main window's Edit8.
  void Button5Click();
  // Bearing and distance from home to Edit33/Edit44, then Button8Click.
  void Button7Click();
  // Grid locators of Edit11/Edit22 and of Edit33/Edit44.
  void Button8Click();
  // "callcalcgeodist": bearing and distance from home to the call-book station into status
  // panel 4.
  void Button1Click();

 private:
  void FormCreate();
  // The edits an operator may change, into the logic; the logic's texts, into the controls.
  void TakeEdits();
  void ShowTexts();

  std::unique_ptr<Ui::TCTConvert> ui_;
  TCTConvertLogic logic_;
};

// The one instance, set while it exists.
extern TCTConvert* CTConvert;

}  // namespace quillmere
