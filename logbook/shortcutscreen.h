// Tshortcuts (instance shortcuts): the review window of the keyboard shortcuts. Created at start-up, after the main window, as the one
// global instance shortcuts; shown and hidden, never created again. So far the window's frame only:
// hints and shortcuts fills it.
//
// Main thread only.
#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class Tshortcuts;
}

namespace quillmere {

class Tshortcuts : public QWidget {
  Q_OBJECT
 public:
  explicit Tshortcuts(QWidget* parent = nullptr);
  ~Tshortcuts() override;

  Ui::Tshortcuts& Controls() { return *ui_; }

 private:
  std::unique_ptr<Ui::Tshortcuts> ui_;
};

// The one instance, set while it exists.
extern Tshortcuts* shortcuts;

}  // namespace quillmere
