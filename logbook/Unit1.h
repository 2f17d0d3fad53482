// TPrintForm (instance PrintForm): the window where a new, empty logbook is made. Created at start-up, after the main window, as the one
// global instance PrintForm; shown and hidden, never created again. So far the window's frame only:
// the new-logbook window fills it.
//
// Main thread only.
#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TPrintForm;
}

namespace quillmere {

class TPrintForm : public QWidget {
  Q_OBJECT
 public:
  explicit TPrintForm(QWidget* parent = nullptr);
  ~TPrintForm() override;

  Ui::TPrintForm& Controls() { return *ui_; }

 private:
  std::unique_ptr<Ui::TPrintForm> ui_;
};

// The one instance, set while it exists.
extern TPrintForm* PrintForm;

}  // namespace quillmere
