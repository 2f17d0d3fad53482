#include "fake_services.h"

namespace quillmere_test {

namespace {

// The next queued answer; an empty queue answers as a cancel would.
std::optional<QString> TakeAnswer(std::deque<std::optional<QString>>& answers) {
  if (answers.empty()) return std::nullopt;
  const bool chosen = answers.front().has_value();
  const QString text = answers.front().value_or(QString());
  answers.pop_front();
  if (!chosen) return std::nullopt;
  return text;
}

}  // namespace

bool FakeRigLink::Connect(std::string* error) {
  ++ConnectCalls;
  IsConnected = Present;
  if (!Present && error != nullptr) *error = "The name org.tarvane.TarvaneX was not provided by any .service files";
  return Present;
}

std::optional<int32_t> FakeRigLink::Read(TRigProperty property) {
  if (!IsConnected || FailingReads.count(property) != 0) return std::nullopt;
  const auto it = Values.find(property);
  return it == Values.end() ? 0 : it->second;
}

bool FakeRigLink::Write(TRigProperty property, int32_t value) {
  if (!IsConnected) return false;
  Writes.emplace_back(property, value);
  return true;
}

std::optional<std::string> FakeRigLink::RigType() {
  if (!IsConnected) return std::nullopt;
  return Type;
}

bool RecordingDialogs::AskYesNo(const QString& caption, const QString& text, bool) {
  Shown << "Question " + caption + ": " + text;
  if (YesNoAnswers.empty()) return false;
  const bool answer = YesNoAnswers.front();
  YesNoAnswers.pop_front();
  return answer;
}

bool RecordingDialogs::AskOkCancel(const QString& caption, const QString& text) {
  Shown << "Warning " + caption + ": " + text;
  if (YesNoAnswers.empty()) return false;
  const bool answer = YesNoAnswers.front();
  YesNoAnswers.pop_front();
  return answer;
}

std::optional<QString> RecordingDialogs::AskText(const QString& caption, const QString& prompt, const QString&) {
  Shown << "Input " + caption + ": " + prompt;
  return TakeAnswer(TextAnswers);
}

std::optional<QFont> RecordingDialogs::ChooseFont(const QFont& initial, int minSize, int maxSize) {
  Shown << QString("Font %1-%2: %3 %4").arg(minSize).arg(maxSize).arg(initial.family()).arg(initial.pointSize());
  if (FontAnswers.empty()) return std::nullopt;
  const std::optional<QFont> answer = FontAnswers.front();
  FontAnswers.pop_front();
  return answer;
}

std::optional<QString> FakeFileChooser::OpenFile(const QString& title, const QString& folder, const QString& filter) {
  Requests << "Open " + title + " | " + folder + " | " + filter;
  return TakeAnswer(Answers);
}

std::optional<QString> FakeFileChooser::SaveFile(const QString& title, const QString& folder, const QString& filter) {
  Requests << "Save " + title + " | " + folder + " | " + filter;
  return TakeAnswer(Answers);
}

std::optional<QStringList> FakeFileChooser::OpenFiles(const QString& title, const QString& folder,
                                                      const QString& filter) {
  Requests << "Open files " + title + " | " + folder + " | " + filter;
  const std::optional<QString> answer = TakeAnswer(Answers);
  if (!answer) return std::nullopt;
  return answer->split('\n');
}

bool RecordingLauncher::RunAndWait(const QString& path, const QString& parameters) {
  Ran << path + " " + parameters;
  if (OnRunAndWait) OnRunAndWait();
  return Result;
}

TServices TFakeServices::Make() {
  TServices s;
  auto v = std::make_unique<CaptureVoice>();
  auto r = std::make_unique<FakeRigLink>();
  auto d = std::make_unique<RecordingDialogs>();
  auto f = std::make_unique<FakeFileChooser>();
  auto c = std::make_unique<FakeClock>();
  auto so = std::make_unique<RecordingSound>();
  auto l = std::make_unique<RecordingLauncher>();
  voice = v.get();
  rig = r.get();
  dialogs = d.get();
  files = f.get();
  clock = c.get();
  sound = so.get();
  launcher = l.get();
  s.voice = std::move(v);
  s.rig = std::move(r);
  s.dialogs = std::move(d);
  s.files = std::move(f);
  s.clock = std::move(c);
  s.sound = std::move(so);
  s.launcher = std::move(l);
  return s;
}

}  // namespace quillmere_test
