// THintBox (instance HintBox): the large hint box that mirrors the current hint. Created at start-up, after the main window, as the one
// global instance HintBox; shown and hidden, never created again. So far the window's frame only:
// hints and shortcuts fills it.
//
// Main thread only.
#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class THintBox;
}

namespace quillmere {

class THintBox : public QWidget {
  Q_OBJECT
 public:
  explicit THintBox(QWidget* parent = nullptr);
  ~THintBox() override;

  Ui::THintBox& Controls() { return *ui_; }

 private:
  std::unique_ptr<Ui::THintBox> ui_;
};

// The one instance, set while it exists.
extern THintBox* HintBox;

}  // namespace quillmere
