// TCTConvert (instance CTConvert): the country file window (it is never shown): country file, bearing and distance. Created at start-up, after the main window, as the one
// global instance CTConvert; shown and hidden, never created again. So far the window's frame only:
// the country file fills it.
//
// Main thread only.
#pragma once

#include <QWidget>
#include <memory>

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

 public slots:
  // "callcalcgeodist": bearing and distance from home to the call-book station into status
  // panel 4 (built with the country file).
  void Button1Click();

 private:
  std::unique_ptr<Ui::TCTConvert> ui_;
};

// The one instance, set while it exists.
extern TCTConvert* CTConvert;

}  // namespace quillmere
