#include "private_speechd.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

namespace quillmere_test {

namespace {

const char* const kModuleDir = "/usr/lib/speech-dispatcher-modules";

}  // namespace

TPrivateSpeechDispatcher::TPrivateSpeechDispatcher(double secondsPerMessage) {
  const QString program = QStandardPaths::findExecutable("speech-dispatcher");
  if (program.isEmpty()) {
    reason_ = "the program speech-dispatcher is not installed";
    return;
  }
  if (!QFile::exists(QString(kModuleDir) + "/sd_generic")) {
    reason_ = QString("its generic output module is not in ") + kModuleDir;
    return;
  }
  QDir(dir_.path()).mkpath("conf/modules");
  QDir(dir_.path()).mkpath("logs");
  Write("conf/speechd.conf",
        "CommunicationMethod \"unix_socket\"\n"
        "SocketPath \"" + Socket() + "\"\n"
        "LogLevel 5\n"
        "LogDir \"" + dir_.filePath("logs") + "\"\n"
        // The generic module plays nothing itself, but insists on an audio output that opens.
        "AudioOutputMethod \"libao\"\n"
        "AddModule \"recorder\" \"sd_generic\" \"recorder.conf\"\n"
        "DefaultModule recorder\n"
        "DefaultLanguage \"en\"\n");
  Write("conf/modules/recorder.conf",
        "GenericExecuteSynth \"printf '%s|%s\\\\n' \\'$DATA\\' \\'$RATE\\' >> " + dir_.filePath("spoken.txt") +
            "; sleep " + QString::number(secondsPerMessage, 'f', 2) + "\"\n"
            // One line per message: the module would cut a phrase at every stop and comma.
            "GenericDelimiters \"~\"\n"
            "GenericMaxChunkLength 10000\n"
            "AddVoice \"en\" \"male1\" \"recorder-voice\"\n"
            "GenericLanguage \"en\" \"en\" \"utf-8\"\n");
  daemon_.setProcessChannelMode(QProcess::MergedChannels);
  daemon_.start(program, {"-s", "-C", dir_.filePath("conf"), "-S", Socket(), "-c", "unix_socket", "-t", "0", "-P",
                          dir_.filePath("speechd.pid"), "-L", dir_.filePath("logs")});
  const bool up =
      QTest::qWaitFor([this] { return QFile::exists(Socket()) || daemon_.state() == QProcess::NotRunning; }, 10000);
  if (!up || !QFile::exists(Socket())) {
    reason_ = "it did not start: " + QString::fromUtf8(daemon_.readAll()).trimmed() + " " + Log();
    return;
  }
  ok_ = true;
}

TPrivateSpeechDispatcher::~TPrivateSpeechDispatcher() {
  if (defaultSet_) {
    if (previousAddress_.isEmpty())
      qunsetenv("SPEECHD_ADDRESS");
    else
      qputenv("SPEECHD_ADDRESS", previousAddress_);
  }
  if (daemon_.state() != QProcess::NotRunning) {
    daemon_.terminate();
    if (!daemon_.waitForFinished(3000)) {
      daemon_.kill();
      daemon_.waitForFinished(3000);
    }
  }
}

void TPrivateSpeechDispatcher::SetAsDefault() {
  if (!defaultSet_) previousAddress_ = qgetenv("SPEECHD_ADDRESS");
  defaultSet_ = true;
  qputenv("SPEECHD_ADDRESS", ("unix_socket:" + Socket()).toUtf8());
}

QStringList TPrivateSpeechDispatcher::Spoken() const {
  QFile f(dir_.filePath("spoken.txt"));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

QStringList TPrivateSpeechDispatcher::Texts() const {
  QStringList texts;
  for (const QString& line : Spoken()) texts << line.left(line.lastIndexOf('|'));
  return texts;
}

bool TPrivateSpeechDispatcher::WaitForTexts(qsizetype count, int ms) const {
  return QTest::qWaitFor([&] { return Spoken().size() >= count; }, ms);
}

void TPrivateSpeechDispatcher::WaitForQuiet(int quietMs, int ms) const {
  QElapsedTimer total, quiet;
  total.start();
  quiet.start();
  qsizetype seen = Spoken().size();
  while (quiet.elapsed() < quietMs && total.elapsed() < ms) {
    QTest::qWait(50);
    const qsizetype now = Spoken().size();
    if (now != seen) {
      seen = now;
      quiet.restart();
    }
  }
}

QString TPrivateSpeechDispatcher::Log() const {
  QFile f(dir_.filePath("logs/speech-dispatcher.log"));
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString TPrivateSpeechDispatcher::SpellingFor(const QString& text) const {
  const QString log = Log();
  const qsizetype message = log.indexOf("Command sent to output module: |<speak>" + text);
  if (message < 0) return "never sent";
  const qsizetype setting = log.lastIndexOf("spelling_mode=", message);
  if (setting < 0) return "not set";
  return log.mid(setting + 14, log.indexOf('\n', setting) - setting - 14).trimmed();
}

QString TPrivateSpeechDispatcher::PriorityOf(const QString& text) const {
  // The daemon's numbers: 1 important, 2 message, 3 text, 4 notification, 5 progress.
  static const char* const kNames[] = {"?", "important", "message", "text", "notification", "progress"};
  const QString log = Log();
  const QString mark = "Queueing message |" + text + "| with priority ";
  const qsizetype at = log.indexOf(mark);
  if (at < 0) return "never queued";
  const int level = log.mid(at + mark.size(), 1).toInt();
  return level >= 1 && level <= 5 ? kNames[level] : "?";
}

void TPrivateSpeechDispatcher::Write(const QString& name, const QString& text) {
  QFile f(dir_.filePath(name));
  if (f.open(QIODevice::WriteOnly)) f.write(text.toUtf8());
}

}  // namespace quillmere_test
