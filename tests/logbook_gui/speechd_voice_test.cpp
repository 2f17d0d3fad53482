// The speech-dispatcher voice against a real speech-dispatcher started by the test: a private
// daemon (own socket, own configuration, no autospawn) whose only output module writes the text
// of each message and its rate into a file, so what the service would say can be read back.
// Skipped, with the reason, only when the daemon cannot be started on this machine.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "speech_markup.h"
#include "speechd_voice.h"

using namespace quillmere;

namespace {

const char* const kModuleDir = "/usr/lib/speech-dispatcher-modules";

class PrivateSpeechDispatcher {
 public:
  PrivateSpeechDispatcher() {
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
    // Each message takes 0.3 s, so later ones wait in the queue.
    Write("conf/modules/recorder.conf",
          "GenericExecuteSynth \"printf '%s|%s\\\\n' \\'$DATA\\' \\'$RATE\\' >> " + Output() + "; sleep 0.3\"\n"
          "AddVoice \"en\" \"male1\" \"recorder-voice\"\n"
          "GenericLanguage \"en\" \"en\" \"utf-8\"\n");
    daemon_.setProcessChannelMode(QProcess::MergedChannels);
    daemon_.start(program, {"-s", "-C", dir_.filePath("conf"), "-S", Socket(), "-c", "unix_socket", "-t", "0", "-P",
                            dir_.filePath("speechd.pid"), "-L", dir_.filePath("logs")});
    const bool up = QTest::qWaitFor(
        [this] { return QFile::exists(Socket()) || daemon_.state() == QProcess::NotRunning; }, 10000);
    if (!up || !QFile::exists(Socket())) {
      reason_ = "it did not start: " + QString::fromUtf8(daemon_.readAll()).trimmed() + " " + Log();
      return;
    }
    ok_ = true;
  }
  ~PrivateSpeechDispatcher() {
    if (daemon_.state() != QProcess::NotRunning) {
      daemon_.terminate();
      if (!daemon_.waitForFinished(3000)) {
        daemon_.kill();
        daemon_.waitForFinished(3000);
      }
    }
  }

  bool Ok() const { return ok_; }
  const QString& Reason() const { return reason_; }
  QString Socket() const { return dir_.filePath("speechd.sock"); }
  QString Output() const { return dir_.filePath("spoken.txt"); }
  // The lines the module wrote: "text|rate".
  QStringList Spoken() const {
    QFile f(Output());
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
  }
  QString Log() const {
    QFile f(dir_.filePath("logs/speech-dispatcher.log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }
  // The spelling mode the daemon handed to its module for the message that starts with `text`.
  QString SpellingFor(const QString& text) const {
    const QString log = Log();
    const qsizetype message = log.indexOf("Command sent to output module: |<speak>" + text);
    if (message < 0) return "never sent";
    const qsizetype setting = log.lastIndexOf("spelling_mode=", message);
    if (setting < 0) return "not set";
    return log.mid(setting + 14, log.indexOf('\n', setting) - setting - 14).trimmed();
  }

 private:
  void Write(const QString& name, const QString& text) {
    QFile f(dir_.filePath(name));
    if (f.open(QIODevice::WriteOnly)) f.write(text.toUtf8());
  }

  QTemporaryDir dir_;
  QProcess daemon_;
  bool ok_ = false;
  QString reason_;
};

class SpeechDispatcherVoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!daemon_.Ok()) GTEST_SKIP() << "speech-dispatcher could not be started: " << daemon_.Reason().toStdString();
    previous_ = qgetenv("SPEECHD_ADDRESS");
    qputenv("SPEECHD_ADDRESS", ("unix_socket:" + daemon_.Socket()).toUtf8());
  }
  void TearDown() override {
    voice_.Disconnect();
    if (previous_.isEmpty())
      qunsetenv("SPEECHD_ADDRESS");
    else
      qputenv("SPEECHD_ADDRESS", previous_);
  }
  bool WaitForLines(qsizetype count, int ms = 10000) {
    return QTest::qWaitFor([&] { return daemon_.Spoken().size() >= count; }, ms);
  }

  PrivateSpeechDispatcher daemon_;
  SpeechDispatcherVoice voice_{"QuillmereTest"};
  QByteArray previous_;
};

}  // namespace

TEST(SpeechMarkup, SpellTagsSplitAndDisappear) {
  using Parts = std::vector<TSpeechPart>;
  const std::pair<const char*, Parts> cases[] = {
      {"contact logged. ", {{"contact logged. ", false}}},
      {"<SPELL> FN31 </SPELL>", {{"FN31", true}}},
      {"<SPELL>fn31</SPELL>", {{"fn31", true}}},
      {"<SPELL> 59 </SPELL> is the report. ", {{"59", true}, {"is the report.", false}}},
      {"<SPELL> W1AW", {{"W1AW", true}}},
      {"<SPELL></SPELL>", {}},
      {"<SPELL>A</SPELL> and <SPELL>B</SPELL>", {{"A", true}, {"and", false}, {"B", true}}},
      {" <SPELL>X</SPELL>", {{" <SPELL>X</SPELL>", false}}},  // markup only at the very start
      {"", {}},
  };
  for (const auto& [text, parts] : cases) EXPECT_EQ(SplitSpeechMarkup(text), parts) << text;
}

TEST(SpeechMarkup, ServiceRanges) {
  EXPECT_EQ(SpeechDispatcherVoice::ServiceRate(-10), -100);
  EXPECT_EQ(SpeechDispatcherVoice::ServiceRate(3), 30);
  EXPECT_EQ(SpeechDispatcherVoice::ServiceRate(11), 100);
  EXPECT_EQ(SpeechDispatcherVoice::ServiceVolume(0), -100);
  EXPECT_EQ(SpeechDispatcherVoice::ServiceVolume(50), 0);
  EXPECT_EQ(SpeechDispatcherVoice::ServiceVolume(100), 100);
}

TEST_F(SpeechDispatcherVoiceTest, PhrasesQueueInOrderAndSpellingMarkupIsSpelled) {
  ASSERT_TRUE(voice_.Speak("one. ")) << voice_.LastError();
  ASSERT_TRUE(voice_.SetRate(5));
  ASSERT_TRUE(voice_.Speak("two. "));
  ASSERT_TRUE(voice_.Speak("<SPELL> W1AW </SPELL>"));
  ASSERT_TRUE(voice_.Speak("three. "));
  ASSERT_TRUE(WaitForLines(4)) << daemon_.Spoken().join('\n').toStdString();
  // The rate travels with the phrases asked for after it; the tags are not spoken.
  EXPECT_EQ(daemon_.Spoken(), (QStringList{"one. |0.00", "two. |50.00", "W1AW|50.00", "three. |50.00"}));
  EXPECT_EQ(daemon_.SpellingFor("W1AW"), "on");
  EXPECT_EQ(daemon_.SpellingFor("three."), "off");
}

TEST_F(SpeechDispatcherVoiceTest, SkipEmptiesTheQueue) {
  for (const char* text : {"first. ", "second. ", "third. ", "fourth. "}) ASSERT_TRUE(voice_.Speak(text));
  ASSERT_TRUE(WaitForLines(1));
  ASSERT_TRUE(voice_.Skip());
  QTest::qWait(1500);
  const QStringList spoken = daemon_.Spoken();
  EXPECT_LE(spoken.size(), 2) << spoken.join('\n').toStdString();
  EXPECT_FALSE(spoken.contains("fourth. |0.00"));
  ASSERT_TRUE(voice_.Speak("after. "));
  ASSERT_TRUE(WaitForLines(spoken.size() + 1));
  EXPECT_EQ(daemon_.Spoken().last(), "after. |0.00");
}

TEST_F(SpeechDispatcherVoiceTest, VoicesAndPause) {
  std::vector<TVoiceInfo> voices;
  ASSERT_TRUE(voice_.GetVoices(voices)) << voice_.LastError();
  const auto found = std::find_if(voices.begin(), voices.end(), [](const TVoiceInfo& v) {
    return v.Name == "recorder-voice" && v.Module == "recorder";
  });
  ASSERT_NE(found, voices.end());
  EXPECT_TRUE(voice_.SetVoice(*found));
  EXPECT_TRUE(voice_.Pause());
  EXPECT_TRUE(voice_.Paused());
  EXPECT_TRUE(voice_.Resume());
  EXPECT_FALSE(voice_.Paused());
  // The chosen voice speaks; a new connection takes it up again.
  voice_.Disconnect();
  ASSERT_TRUE(voice_.Speak("again. "));
  ASSERT_TRUE(WaitForLines(1));
  EXPECT_TRUE(daemon_.Log().contains("synthesis_voice=recorder-voice"));
}
