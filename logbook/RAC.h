// TRAC (instance RAC): the call-book window. Created at start-up, after the main window, as the one
// global instance RAC; shown and hidden, never created again. So far the window's frame only:
// the call-book look-up fills it.
//
// Main thread only.
#pragma once

#include <QWidget>
#include <memory>

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

 public slots:
  // "Find": looks up the call in Edit2 for the main window (built with the call-book look-up).
  void Button1Click();

 private:
  std::unique_ptr<Ui::TRAC> ui_;
};

// The one instance, set while it exists.
extern TRAC* RAC;

}  // namespace quillmere
