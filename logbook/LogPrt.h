// TqrLogPrintForm (instance qrLogPrintForm): the printed log (the report and its preview). Created at start-up, after the main window, as the one
// global instance qrLogPrintForm; shown and hidden, never created again. So far the window's frame only:
// the printed log fills it.
//
// Main thread only.
#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TqrLogPrintForm;
}

namespace quillmere {

class TqrLogPrintForm : public QWidget {
  Q_OBJECT
 public:
  explicit TqrLogPrintForm(QWidget* parent = nullptr);
  ~TqrLogPrintForm() override;

  Ui::TqrLogPrintForm& Controls() { return *ui_; }

 private:
  std::unique_ptr<Ui::TqrLogPrintForm> ui_;
};

// The one instance, set while it exists.
extern TqrLogPrintForm* qrLogPrintForm;

}  // namespace quillmere
