#include "LogPrt.h"

#include <QAbstractScrollArea>
#include <QComboBox>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QPageLayout>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QToolBar>
#include <QToolButton>
#include <cmath>
#include <exception>

#include "PSKUnit1.h"
#include "accessibility.h"
#include "background_job.h"
#include "cp1252_text.h"
#include "dataset/dbfield.h"
#include "side_window_texts.h"
#include "ui_LogPrt.h"

namespace quillmere {

TqrLogPrintForm* qrLogPrintForm = nullptr;

namespace {

QFont FontOf(const PrintFont& font) {
  QFont f(QString::fromLatin1(font.family));
  // The report's sizes are pixels at 96 per inch; points keep them the same size on paper.
  f.setPointSizeF(font.pixels * 72.0 / 96.0);
  f.setBold(font.bold);
  f.setItalic(font.italic);
  return f;
}

Qt::Alignment AlignmentOf(PrintAlign align) {
  switch (align) {
    case PrintAlign::Left: return Qt::AlignLeft | Qt::AlignVCenter;
    case PrintAlign::Centre: return Qt::AlignHCenter | Qt::AlignVCenter;
    case PrintAlign::Right: return Qt::AlignRight | Qt::AlignVCenter;
  }
  return Qt::AlignLeft | Qt::AlignVCenter;
}

// Paints in millimetres from the printable area's top left corner.
class ReportPainter {
 public:
  explicit ReportPainter(QPrinter* printer) : painter_(printer), device_(printer) {
    perMm_ = printer->resolution() / 25.4;
  }
  QPainter& Painter() { return painter_; }

  // `text` in the element's box, `height` mm high (the font's height when 0), clipped to it so a
  // long value never runs into its neighbour. A text wider than its box takes up to `room` mm
  // (the box's width when 0) and, when still too wide, a font small enough to fit: the clip never
  // cuts a glyph.
  void Text(const PrintElement& place, double bandTop, double height, const QString& text, double room = 0) {
    const TqrLogPrintForm::TextLayout layout = TqrLogPrintForm::LayOutText(place, room, text, device_);
    painter_.setFont(layout.font);
    if (height <= 0) height = QFontMetricsF(layout.font, device_).height() / perMm_;
    const QRectF box(place.x * perMm_, (bandTop + place.y) * perMm_, layout.width * perMm_, height * perMm_);
    painter_.save();
    painter_.setClipRect(box);
    painter_.drawText(box, int(AlignmentOf(place.align)) | Qt::TextSingleLine, text);
    painter_.restore();
  }

  void Rule(double x, double y, double width) {
    painter_.drawLine(QPointF(x * perMm_, y * perMm_), QPointF((x + width) * perMm_, y * perMm_));
  }

 private:
  QPainter painter_;
  QPaintDevice* device_;
  double perMm_ = 1;
};

}  // namespace

TqrLogPrintForm::TextLayout TqrLogPrintForm::LayOutText(const PrintElement& place, double room, const QString& text,
                                                        QPaintDevice* device) {
  const double perMm = device->logicalDpiX() / 25.4;
  TextLayout layout{FontOf(place.font), place.width};
  const auto widthMm = [&] { return QFontMetricsF(layout.font, device).horizontalAdvance(text) / perMm; };
  const PrintTextFit fit = FitPrintText(widthMm(), place.width, room > 0 ? room : place.width);
  layout.width = fit.width;
  if (fit.scale < 1) {
    // Glyph widths do not scale exactly with the size: shrink until the text fits.
    const double points = layout.font.pointSizeF();
    layout.font.setPointSizeF(points * fit.scale);
    for (int i = 0; i < 20 && widthMm() > layout.width; ++i) layout.font.setPointSizeF(layout.font.pointSizeF() * 0.97);
  }
  return layout;
}

TqrLogPrintForm::TqrLogPrintForm(QWidget* parent)
    : QWidget(parent, Qt::Window), ui_(std::make_unique<Ui::TqrLogPrintForm>()),
      job_(std::make_unique<TBackgroundJob>()) {
  qrLogPrintForm = this;
  ui_->setupUi(this);
}

TqrLogPrintForm::~TqrLogPrintForm() {
  job_.reset();
  // The preview uses the printer: it goes first.
  delete preview_;
  if (qrLogPrintForm == this) qrLogPrintForm = nullptr;
}

void TqrLogPrintForm::ConfigurePrinter(QPrinter& printer) {
  const PrintPageGeometry& page = PrintGeometry();
  printer.setFullPage(false);
  printer.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Landscape,
                                    QMarginsF(page.margin, page.margin, page.margin, page.margin),
                                    QPageLayout::Millimeter));
}

bool TqrLogPrintForm::QuickRep1BeforePrint(const QString& logbookPath, const QString& ownCall) {
  if (job_->Running()) return false;
  // One preview at a time: the one on screen shows the report about to be replaced.
  delete preview_;
  const std::string path = logbookPath.toStdString();
  const std::string call = Utf8ToCp1252(ownCall.toStdString());
  const int32_t today = Form1 != nullptr ? DateTimeToJulian(Form1->Services().clock->Now()) : 0;
  auto report = std::make_shared<PrintedLog>();
  ui_->QRLabel1->setText("Reading " + logbookPath + " for printing ...");
  show();
  job_->Start([report, path, call, today] { *report = LoadPrintedLog(path, call, today); },
              [this, report](std::exception_ptr error) {
                hide();
                if (error) {
                  QString text = QStringLiteral("The log could not be printed.");
                  try {
                    std::rethrow_exception(error);
                  } catch (const std::exception& e) {
                    text = QString::fromStdString(e.what());
                  } catch (...) {
                  }
                  if (Form1 != nullptr) Form1->Services().dialogs->ShowError(text);
                  emit ReportReady();
                  return;
                }
                report_ = std::move(*report);
                ShowPreview();
                emit ReportReady();
              });
  return true;
}

void TqrLogPrintForm::ShowPreview() {
  printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  ConfigurePrinter(*printer_);
  preview_ = new QPrintPreviewDialog(printer_.get(), this);
  preview_->setObjectName("QuickRep1Preview");
  preview_->setWindowTitle("Log Print");
  preview_->setAttribute(Qt::WA_DeleteOnClose);
  connect(preview_, &QPrintPreviewDialog::paintRequested, this, &TqrLogPrintForm::QuickRep1Print);
  connect(preview_, &QObject::destroyed, this, [this] { preview_ = nullptr; });
  ReachToolBarByKeyboard(*preview_);
  preview_->open();
  TakeKeyboard(preview_, nullptr);
}

void TqrLogPrintForm::ReachToolBarByKeyboard(QPrintPreviewDialog& preview) {
  // The toolkit's preview keeps its tool bar for the mouse: every button becomes a Tab stop, the
  // window is wide enough for all of them (none hidden behind the overflow arrow), and the fields
  // without a caption are named.
  auto* toolBar = preview.findChild<QToolBar*>();
  if (toolBar == nullptr) return;
  for (QToolButton* button : toolBar->findChildren<QToolButton*>(QString(), Qt::FindDirectChildrenOnly))
    if (button->defaultAction() != nullptr) button->setFocusPolicy(Qt::TabFocus);
  if (auto* zoom = toolBar->findChild<QComboBox*>()) {
    // A screen reader names a combo box by its buddy label (it reports the box's text as name).
    QAction* zoomAction = nullptr;
    for (QAction* action : toolBar->actions())
      if (toolBar->widgetForAction(action) == zoom) zoomAction = action;
    auto* caption = new QLabel("Zoom:", toolBar);
    caption->setObjectName("ZoomCaption");
    caption->setBuddy(zoom);
    toolBar->insertWidget(zoomAction, caption);
    NameStop(zoom, "Zoom", "Zoom factor of the preview");
    NameStop(zoom->lineEdit(), "Zoom", "Zoom factor of the preview");
  }
  for (QLineEdit* field : toolBar->findChildren<QLineEdit*>())
    if (field->parentWidget() != nullptr && qobject_cast<QComboBox*>(field->parentWidget()) == nullptr)
      NameStop(field, "Page", "Number of the page shown");
  if (auto* pages = preview.findChild<QPrintPreviewWidget*>()) {
    // The preview itself has the focus when the window opens.
    NameStop(pages, "Log Print pages", "The printed log as it will come out of the printer");
    for (QAbstractScrollArea* view : pages->findChildren<QAbstractScrollArea*>()) {
      NameStop(view, "Log Print pages", "The printed log as it will come out of the printer");
      NameStop(view->viewport(), "Log Print pages", "The printed log as it will come out of the printer");
    }
  }
  const QMargins margins = preview.contentsMargins();
  preview.resize(std::max(preview.width(), toolBar->sizeHint().width() + margins.left() + margins.right() + 24),
                 std::max(preview.height(), 600));
}

void TqrLogPrintForm::QuickRep1Print(QPrinter* printer) {
  const PrintPageGeometry& page = PrintGeometry();
  ReportPainter paint(printer);
  const QString title = QString::fromStdString(Cp1252ToUtf8(report_.title));
  const QString date = QString::fromStdString(report_.date);
  const PrintElement captionPlace{0, page.captionTop, 0, PrintAlign::Left, PrintCaptionFont()};
  const std::vector<PrintDetailCell>& cells = PrintDetailCells();

  for (int number = 1; number <= report_.PageCount(); ++number) {
    if (number > 1) printer->newPage();
    // The page header band.
    paint.Text(PrintTitlePlace(), 0, 0, title);
    paint.Text(PrintDateCaptionPlace(), 0, 0, QString::fromStdString(texts::PrintDateCaption()));
    paint.Text(PrintDatePlace(), 0, 0, date);
    paint.Text(PrintPageCaptionPlace(), 0, 0, QString::fromStdString(texts::PrintPageCaption()));
    paint.Text(PrintPageNumberPlace(), 0, 0, QString::number(number));
    for (const PrintColumn& column : PrintColumns()) {
      PrintElement place = captionPlace;
      place.x = column.captionX;
      place.width = std::max(column.ruleWidth + column.ruleX - column.captionX, 15.0);
      paint.Text(place, 0, page.ruleTop - page.captionTop, QString::fromLatin1(column.caption));
      paint.Rule(column.ruleX, page.ruleTop, column.ruleWidth);
    }
    // One detail band per contact.
    double top = page.headerHeight;
    for (size_t row = report_.FirstRowOfPage(number); row < report_.EndRowOfPage(number); ++row) {
      const std::vector<std::string>& texts = report_.rows[row];
      for (size_t i = 0; i < cells.size() && i < texts.size(); ++i)
        paint.Text(cells[i].place, top, page.detailHeight, QString::fromStdString(Cp1252ToUtf8(texts[i])),
                   PrintDetailRoom(i));
      top += page.detailHeight;
    }
  }
}

}  // namespace quillmere
