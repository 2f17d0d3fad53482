// TADIFform (instance ADIFform): the ADIF conversion window (logbook to ADIF and back). Created at start-up, after the main window, as the one
// global instance ADIFform; shown and hidden, never created again. So far the window's frame only:
// ADIF export and import fills it.
//
// Main thread only.
#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TADIFform;
}

namespace quillmere {

class TADIFform : public QWidget {
  Q_OBJECT
 public:
  explicit TADIFform(QWidget* parent = nullptr);
  ~TADIFform() override;

  Ui::TADIFform& Controls() { return *ui_; }

 private:
  std::unique_ptr<Ui::TADIFform> ui_;
};

// The one instance, set while it exists.
extern TADIFform* ADIFform;

}  // namespace quillmere
