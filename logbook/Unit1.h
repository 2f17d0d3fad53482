// TPrintForm (instance PrintForm): the window where a new, empty logbook is made. The operator
// types a name into Edit2 (lower-case letters, digits, '_' and '.'); Enter makes "<name>.dbf" in
// the logbook folder with the 27 fields of a logbook, and the program then opens it through its
// one open path, which builds the seven index tags and makes it the current logbook. The list
// shows the logbooks already there. Created at start-up, after the main window, as the one global
// instance PrintForm; shown and hidden from the main window's File menu, never created again.
//
// Main thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class QKeyEvent;

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

  // How a created logbook is opened (full path; true when it became the current logbook). The
  // main window's OpenChosenLogbook; tests may record the call instead.
  std::function<bool(const QString& path)> OpenLogbook;

 public slots:
  void Edit2Enter();
  // Whether the key goes into the name box (false: dropped). Enter runs Button3Click.
  bool Edit2KeyPress(QKeyEvent* event);
  void Button3Click();
  void FileListBox1Click();
  void FileListBox1DblClick();
  // Lists the logbook folder's tables anew.
  void RefreshFileList();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void FormClose();
  QString Folder() const;

  std::unique_ptr<Ui::TPrintForm> ui_;
};

// The one instance, set while it exists.
extern TPrintForm* PrintForm;

}  // namespace quillmere
