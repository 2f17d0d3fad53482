// THintBox (instance HintBox): a small always-on-top tool window that mirrors the application's
// current hint in very large letters (64-pixel "Arial"), in the one centred panel of its status
// bar StatusBar1. Created at start-up, after the main window, as the one global instance
// HintBox; shown and hidden, never created again. The main window's hint handler writes the
// panel.
//
// Main thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>

class QLabel;

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
  // Panel 0 of StatusBar1.
  QLabel* Panel() const { return panel_; }
  QString PanelText() const;
  void SetPanelText(const QString& text);

 private:
  std::unique_ptr<Ui::THintBox> ui_;
  QLabel* panel_ = nullptr;  // owned by StatusBar1
};

// The one instance, set while it exists.
extern THintBox* HintBox;

}  // namespace quillmere
