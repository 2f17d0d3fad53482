// TConstants (instance Constants): the band-limits window (limits table and the check). Created at start-up, after the main window, as the one
// global instance Constants; shown and hidden, never created again. So far the window's frame only:
// band limits fills it.
//
// Main thread only.
#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TConstants;
}

namespace quillmere {

class TConstants : public QWidget {
  Q_OBJECT
 public:
  explicit TConstants(QWidget* parent = nullptr);
  ~TConstants() override;

  Ui::TConstants& Controls() { return *ui_; }

 private:
  std::unique_ptr<Ui::TConstants> ui_;
};

// The one instance, set while it exists.
extern TConstants* Constants;

}  // namespace quillmere
