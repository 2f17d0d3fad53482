// TConstants (instance Constants): the band-limits window. It is never shown to the operator in
// normal use (the main window's hidden Button23 shows it): created at start-up after the main
// window, it loads the band-limits file of the licence class the preferences chose into its grid
// StringGrid1, keeps the limits (BandLimits), and checks the main window's frequency and mode
// labels against them whenever asked (Button3Click: by every rig report unless the class is
// "OFF", and by the main window's hidden Button22).
//
// A check outside every segment turns the frequency label red and plays "ding.wav", without
// waiting for it; inside a segment the label takes the tooltip background. A file that could not
// be loaded switches the check off, and the operator is told so once. The buttons Button1 and
// Button2 and the open dialog OpenDialog1 (filter "Band Limits (*.bdl)") are part of the window
// and are not used.
//
// Main thread only.
#pragma once

#include <QWidget>
#include <memory>

#include "band_limits.h"

namespace Ui {
class TConstants;
}

namespace quillmere {

class TConstants : public QWidget {
  Q_OBJECT
 public:
  // Runs FormCreate when the main window exists.
  explicit TConstants(QWidget* parent = nullptr);
  ~TConstants() override;

  Ui::TConstants& Controls() { return *ui_; }
  BandLimits& Limits() { return limits_; }

 public slots:
  // Clears the out-of-band flag, loads the file of the licence class and sets the limits from it;
  // a file that could not be loaded is reported at once unless the class is "OFF".
  void FormCreate();
  // "loadlimits": the file of the licence class into the grid.
  void Button5Click();
  // "set limits": the limits from the grid.
  void Button4Click();
  // The check of the main window's Label4 (MHz) and Label5 (mode).
  void Button3Click();

 private:
  void ShowGrid();
  std::unique_ptr<Ui::TConstants> ui_;
  BandLimits limits_;
};

// The one instance, set while it exists.
extern TConstants* Constants;

}  // namespace quillmere
