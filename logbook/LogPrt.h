// TqrLogPrintForm (instance qrLogPrintForm): the printed log. QuickRep1BeforePrint reads the
// current logbook in date order (by its full path, on a worker thread while this window shows
// that it is busy) into the report's rows and closes it again; the preview then shows the
// report, from which the operator prints it. The layout (US Letter landscape, the page header
// with title, date, page number and column captions, one line per contact) is the logbook core's
// (log_print.h); this window only paints it. Created at start-up, after the main window, as the
// one global instance qrLogPrintForm.
//
// Main thread only (the worker touches no widget).
#pragma once

#include <QFont>
#include <QString>
#include <QWidget>
#include <memory>

#include "log_print.h"

class QPaintDevice;
class QPrinter;
class QPrintPreviewDialog;

namespace Ui {
class TqrLogPrintForm;
}

namespace quillmere {

class TBackgroundJob;

class TqrLogPrintForm : public QWidget {
  Q_OBJECT
 public:
  explicit TqrLogPrintForm(QWidget* parent = nullptr);
  ~TqrLogPrintForm() override;

  Ui::TqrLogPrintForm& Controls() { return *ui_; }

  // Reads the logbook at `logbookPath` for the report with the title "Log of " + `ownCall`, then
  // shows the preview; a failure to read it is shown instead. False while a report is being read.
  bool QuickRep1BeforePrint(const QString& logbookPath, const QString& ownCall);
  // The report last read.
  const PrintedLog& Report() const { return report_; }
  // The preview on screen, or null.
  QPrintPreviewDialog* Preview() const { return preview_; }

  // Letter, landscape, 12.7 mm margins all round.
  static void ConfigurePrinter(QPrinter& printer);
  // Paints every page of the report on `printer` (the preview's paint request, or a printer of
  // the caller's, set up by ConfigurePrinter).
  void QuickRep1Print(QPrinter* printer);

  // The font and the box width (mm) in which `text` is drawn at `place` on `device`, with `room`
  // mm to run on into (FitPrintText): a long call runs into the gap before Date, and shrinks when
  // that is not enough.
  struct TextLayout {
    QFont font;
    double width;
  };
  static TextLayout LayOutText(const PrintElement& place, double room, const QString& text, QPaintDevice* device);

 signals:
  // The preview was shown, or the report could not be read.
  void ReportReady();

 private:
  void ShowPreview();
  static void ReachToolBarByKeyboard(QPrintPreviewDialog& preview);

  std::unique_ptr<Ui::TqrLogPrintForm> ui_;
  PrintedLog report_;
  std::unique_ptr<QPrinter> printer_;
  QPrintPreviewDialog* preview_ = nullptr;  // owned by the window while shown
  std::unique_ptr<TBackgroundJob> job_;
};

// The one instance, set while it exists.
extern TqrLogPrintForm* qrLogPrintForm;

}  // namespace quillmere
