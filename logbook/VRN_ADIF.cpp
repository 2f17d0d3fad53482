#include "VRN_ADIF.h"

#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QTextCursor>
#include <QTextDocument>
#include <exception>

#include "PSKUnit1.h"
#include "accessibility.h"
#include "adif_export.h"
#include "adif_import.h"
#include "background_job.h"
#include "cp1252_text.h"
#include "side_window_texts.h"
#include "ui_VRN_ADIF.h"

namespace quillmere {

TADIFform* ADIFform = nullptr;

namespace {

// The export's own stage, after the import's (ImportPhase).
constexpr int kExportPhase = 10;

QString Q(const std::string& text) { return QString::fromStdString(text); }

QString ErrorText(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return QString::fromStdString(e.what());
  } catch (...) {
    return QStringLiteral("The conversion failed.");
  }
}

QString LogbookFolder() {
  return Form1 != nullptr ? QString::fromStdString(Form1->Options().WritableFolder) : QString();
}

Dialogs& Boxes() { return *Form1->Services().dialogs; }

// A result the box shows is heard too when speech is on, as one phrase.
void ShowAndSay(const QString& text) {
  Form1->Speak(text.endsWith('.') ? text + " " : text + ". ");
  Boxes().ShowMessage(text);
}

}  // namespace

TADIFform::TADIFform(QWidget* parent)
    : QWidget(parent, Qt::Tool),
      ui_(std::make_unique<Ui::TADIFform>()),
      job_(std::make_unique<TBackgroundJob>()) {
  ADIFform = this;
  ui_->setupUi(this);
  MainMenu1 = new QMenuBar(this);
  MainMenu1->setObjectName("MainMenu1");
  QMenu* file = MainMenu1->addMenu("File");
  file->setObjectName("File1");
  Exit1 = file->addAction("Exit");
  Exit1->setObjectName("Exit1");
  QMenu* help = MainMenu1->addMenu("Help");
  help->setObjectName("Help1");
  Help2 = help->addAction("Help");
  Help2->setObjectName("Help2");
  layout()->setMenuBar(MainMenu1);

  connect(ui_->BitBtn1, &QPushButton::clicked, this, &TADIFform::BitBtn1Click);
  connect(ui_->BitBtn2, &QPushButton::clicked, this, &TADIFform::BitBtn2Click);
  connect(Exit1, &QAction::triggered, this, &TADIFform::Exit1Click);
  connect(Help2, &QAction::triggered, this, &TADIFform::Help2Click);
  connect(job_.get(), &TBackgroundJob::Progressed, this, &TADIFform::ShowProgress);
  ApplyHintsAsAccessibleText(this);
  CloseOnEscape(this, [this] { Exit1Click(); });
}

void TADIFform::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  TakeKeyboard(this, ui_->BitBtn1);
}

TADIFform::~TADIFform() {
  job_.reset();
  if (ADIFform == this) ADIFform = nullptr;
}

bool TADIFform::Busy() const { return job_->Running(); }

std::optional<QString> TADIFform::Button10Click() {
  const std::optional<QString> file =
      Form1->Services().files->OpenFile("QMR File to Convert", LogbookFolder(), "VINT LogBook File (*.DBF *.dbf)");
  if (!file) return std::nullopt;
  ui_->Label2->setText(QFileInfo(*file).fileName());
  return file;
}

void TADIFform::BitBtn1Click() {
  if (Busy() || Form1 == nullptr) return;
  ui_->Label2->clear();
  ui_->Label4->hide();
  // A cancelled choice converts nothing.
  const std::optional<QString> table = Button10Click();
  if (!table) return;
  const bool asTxt = ui_->CheckBox1->isChecked();
  bool truncated = false;
  AdifExportFileName(ui_->Label2->text().toStdString(), asTxt, &truncated);
  if (truncated) ShowAndSay(Q(texts::AdifNameTruncated()));

  const std::string path = table->toStdString();
  auto result = std::make_shared<AdifExportResult>();
  TBackgroundJob* job = job_.get();
  StartConversion();
  job_->Start(
      [path, asTxt, result, job] {
        *result = ExportLogbookToAdif(path, asTxt, [job](int64_t done, int64_t total) {
          job->Report(kExportPhase, done, total);
        });
      },
      [this, result](std::exception_ptr error) {
        EndConversion();
        if (error) {
          Boxes().ShowError(ErrorText(error));
        } else {
          ui_->Label4->show();
          ShowAndSay(Q(texts::AdifConverted(ui_->Label2->text().toStdString(), result->fileName)));
          if (const std::string note = AdifIncompleteNote(result->incomplete); !note.empty())
            ShowAndSay(Q(note));
        }
        emit ConversionEnded();
      });
}

void TADIFform::BitBtn2Click() {
  if (Busy() || Form1 == nullptr) return;
  const std::optional<QStringList> files =
      Form1->Services().files->OpenFiles("Select ADI File", LogbookFolder(),
                                         "ADI files (*.adi *.ADI);;Text files (*.txt *.TXT);;All files (*)");
  if (!files || files->isEmpty()) return;

  TBackgroundJob* job = job_.get();
  AdifImportRequest request;
  for (const QString& file : *files) request.files.push_back(file.toStdString());
  request.digiPan = ui_->CheckBox2->isChecked();
  request.openLogbookPath = Form1->LogPath().toStdString();
  // Asked on the main thread while the worker waits for the answer.
  request.confirmOverwrite = [job](const std::string& text) {
    return job->Ask([text] { return Form1 != nullptr && Boxes().AskOkCancel("Confirm", Q(text)); });
  };
  request.progress = [job](ImportPhase phase, int64_t done, int64_t total) {
    job->Report(static_cast<int>(phase), done, total);
  };
  // Each file's text is shown as it is read; a failed import leaves it there to look at.
  ui_->RichEdit1->clear();
  request.collected = [edit = ui_->RichEdit1](const std::string& collected) {
    QMetaObject::invokeMethod(
        edit,
        [edit, text = QString::fromStdString(Cp1252ToUtf8(collected))] {
          QTextCursor end(edit->document());
          end.movePosition(QTextCursor::End);
          end.insertText(text);
        },
        Qt::QueuedConnection);
  };
  const QString tableName = Q(ImportTableName(FileNameOf(request.files.front())));
  ui_->Edit1->setText(QFileInfo(tableName).completeBaseName());

  auto result = std::make_shared<AdifImportResult>();
  StartConversion();
  job_->Start([request = std::move(request), result] { *result = ImportAdifFiles(request); },
              [this, result](std::exception_ptr error) {
                EndConversion();
                if (error) {
                  Boxes().ShowError(ErrorText(error));
                } else {
                  switch (result->outcome) {
                    case AdifImportOutcome::Imported:
                      ui_->Label6->setText(QString::number(result->records));
                      Button12Click();
                      ui_->ProgressBar1->setValue(ui_->ProgressBar1->maximum());
                      ui_->ProgressBar1->setFormat(QStringLiteral("%1 contacts imported into %2")
                                                       .arg(result->records)
                                                       .arg(QFileInfo(Q(result->tablePath)).fileName()));
                      if (const std::string note = AdifImportNote(*result); !note.empty())
                        Boxes().ShowMessage(Q(note));
                      break;
                    case AdifImportOutcome::OpenLogbook:
                      Boxes().ShowError(Q(texts::AdifActiveLogbookWarning()));
                      break;
                    case AdifImportOutcome::ReservedName:
                      Boxes().ShowError(Q(texts::CannotUseFileShown()) + QFileInfo(Q(result->tablePath)).fileName());
                      break;
                    case AdifImportOutcome::Cancelled:
                      break;
                  }
                }
                emit ConversionEnded();
              });
}

void TADIFform::Button12Click() {
  ui_->RichEdit1->clear();
  ui_->Label6->setText("0");
}

void TADIFform::Exit1Click() { close(); }

void TADIFform::Help2Click() { Boxes().ShowMessage(Q(texts::AdifHelp())); }

void TADIFform::StartConversion() {
  ui_->BitBtn1->setEnabled(false);
  ui_->BitBtn2->setEnabled(false);
  ui_->ProgressBar1->setValue(0);
  ui_->ProgressBar1->setFormat(QString());
}

void TADIFform::EndConversion() {
  ui_->BitBtn1->setEnabled(true);
  ui_->BitBtn2->setEnabled(true);
  ui_->ProgressBar1->setValue(0);
  ui_->ProgressBar1->setFormat(QString());
}

void TADIFform::ShowProgress(int phase, qint64 done, qint64 total) {
  const int scaled = total > 0 ? static_cast<int>(done * 1000 / total) : 0;
  QString text;
  switch (phase) {
    case kExportPhase:
      text = QStringLiteral("Writing the ADIF file: %1 of %2 contacts").arg(done).arg(total);
      break;
    case static_cast<int>(ImportPhase::Reading):
      text = QStringLiteral("Reading the ADIF files: %1%").arg(scaled / 10);
      break;
    case static_cast<int>(ImportPhase::Writing):
      text = QStringLiteral("Writing the logbook: %1 of %2 contacts").arg(done).arg(total);
      break;
    case static_cast<int>(ImportPhase::Indexing):
      text = QStringLiteral("Building the index tags: %1 of %2").arg(done).arg(total);
      break;
    default:
      break;
  }
  ui_->ProgressBar1->setValue(scaled);
  ui_->ProgressBar1->setFormat(text);
  ui_->ProgressBar1->setAccessibleDescription(text);
}

}  // namespace quillmere
