// TDXStuff (instance DXStuff): the small window through which the automatic DX look-up runs. Created at start-up, after the main window, as the one
// global instance DXStuff; shown and hidden, never created again. So far the window's frame only:
// the DX look-up window fills it.
//
// Main thread only.
#pragma once

#include <QWidget>
#include <memory>

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

 private:
  std::unique_ptr<Ui::TDXStuff> ui_;
};

// The one instance, set while it exists.
extern TDXStuff* DXStuff;

}  // namespace quillmere
