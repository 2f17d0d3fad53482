// TADIFform (instance ADIFform): the ADIF conversion window. "QMR to ADIF" writes a chosen logbook
// as an ADIF file beside it; "ADIF to QMR" makes a new logbook from one or more ADIF files, beside
// the first of them. Created at start-up, after the main window, as the one global instance
// ADIFform; shown and hidden from the main window's menu, never created again.
//
// The conversions themselves are the logbook core's (ExportLogbookToAdif, ImportAdifFiles); they
// run on a worker thread while ProgressBar1 shows how far they are, and the window stays
// responsive. One conversion runs at a time: the two buttons are disabled meanwhile. Closing the
// program waits for a running conversion to end, so no half file is left behind.
//
// Main thread only (the worker touches no widget).
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <optional>

class QAction;
class QMenuBar;

namespace Ui {
class TADIFform;
}

namespace quillmere {

class TBackgroundJob;

class TADIFform : public QWidget {
  Q_OBJECT
 public:
  explicit TADIFform(QWidget* parent = nullptr);
  ~TADIFform() override;

  Ui::TADIFform& Controls() { return *ui_; }
  QMenuBar* Menu() const { return MainMenu1; }
  // A conversion is running.
  bool Busy() const;

 signals:
  // A conversion has ended (after its messages were shown).
  void ConversionEnded();

 public slots:
  // "QMR to ADIF".
  void BitBtn1Click();
  // "ADIF to QMR".
  void BitBtn2Click();
  // Chooses the logbook to export; its full path, or nullopt when the choice was cancelled.
  std::optional<QString> Button10Click();
  // Empties what the last import left in the window.
  void Button12Click();
  void Exit1Click();
  void Help2Click();

 private:
  void StartConversion();
  void EndConversion();
  void ShowProgress(int phase, qint64 done, qint64 total);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::unique_ptr<Ui::TADIFform> ui_;
  QMenuBar* MainMenu1 = nullptr;  // owned by the window
  QAction* Exit1 = nullptr;
  QAction* Help2 = nullptr;
  // Last: destroyed first, so a running conversion ends while the controls still exist.
  std::unique_ptr<TBackgroundJob> job_;
};

// The one instance, set while it exists.
extern TADIFform* ADIFform;

}  // namespace quillmere
