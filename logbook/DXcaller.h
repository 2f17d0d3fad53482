// TDXStuff (instance DXStuff): the hidden window through which the automatic DX look-up runs,
// created at start-up after the main window and never shown. The duplicate check puts the call
// into Edit1 (forced to upper case); its change asks the DX look-up (an outside library exporting
// DDXCheck when one is configured, else our own component over the country file) and puts the
// entity's name into Edit2, whose change hands it to the main window: status panel 3, the hidden
// entity field Edit8 (bearing and range) and the QTH field LogEdit8 (the prefix look-up).
//
// The look-up is made at the first call, once the country-file window (created after this one)
// has read the country file it shares. Main thread only.
#pragma once

#include <QWidget>
#include <memory>

#include "dx_check.h"

namespace Ui {
class TDXStuff;
}

namespace quillmere {

class TDXStuff : public QWidget {
  Q_OBJECT
 public:
  explicit TDXStuff(QWidget* parent = nullptr);
  ~TDXStuff() override;

  Ui::TDXStuff& Controls() { return *ui_; }

 public slots:
  // Edit1 changed: the look-up of its call.
  void Button1Click();
  // Edit2 changed: the hand-over of the answer.
  void Edit2Change();

 private:
  std::unique_ptr<Ui::TDXStuff> ui_;
  std::unique_ptr<TDXStuffLogic> logic_;
};

// The one instance, set while it exists.
extern TDXStuff* DXStuff;

}  // namespace quillmere
