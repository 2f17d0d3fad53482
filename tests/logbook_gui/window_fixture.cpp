#include "window_fixture.h"

#include <QFile>
#include <fstream>
#include <iterator>

namespace quillmere_test {

namespace {

QString SourceDir() { return qEnvironmentVariable("QM_TEST_SOURCE_DIR"); }
QString BuiltDir() { return qEnvironmentVariable("QM_TEST_BIN_DIR"); }

}  // namespace

TWindowTest::TWindowTest() {
  services_ = fakes.Make();
  Deliver("ConfigLog.cfg");
  Deliver("wordlist.txt");
  Deliver("QMR1Help.html");
  Deliver("Extra Class.bdl");
  Deliver("ding.wav");
  DeliverBuilt("cty.dat");
}

TWindowTest::~TWindowTest() {
  if (windows_) CloseAndDestroy();
}

void TWindowTest::Deliver(const QString& name) {
  const QString target = home_.filePath(name);
  QFile::remove(target);
  ASSERT_TRUE(QFile::copy(SourceDir() + "/data/" + name, target)) << name.toStdString();
  QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
}

void TWindowTest::DeliverBuilt(const QString& name) {
  const QString target = home_.filePath(name);
  QFile::remove(target);
  ASSERT_TRUE(QFile::copy(BuiltDir() + "/" + name, target)) << name.toStdString();
  QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
}

void TWindowTest::WriteFile(const QString& name, const std::string& bytes) {
  std::ofstream(home_.filePath(name).toStdString(), std::ios::binary | std::ios::trunc) << bytes;
}

std::string TWindowTest::ReadFile(const QString& name) const {
  std::ifstream in(home_.filePath(name).toStdString(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TForm1Options TWindowTest::Options() const {
  TForm1Options o;
  o.ProgramFolder = home_.path().toStdString();
  o.WritableFolder = home_.path().toStdString();
  o.LockFolder = lock_.path().toStdString();
  return o;
}

TForm1& TWindowTest::Start() {
  windows_ = std::make_unique<TProgramWindows>(std::move(services_), Options());
  return windows_->Main();
}

void TWindowTest::StartActive() {
  Start();
  ASSERT_TRUE(Settle());
  Form().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
  ASSERT_TRUE(Settle());
}

void TWindowTest::CloseAndDestroy() {
  Form().close();
  windows_.reset();
}

void TWindowTest::Key(Qt::Key key, Qt::KeyboardModifiers modifiers) {
  QWidget* focus = QApplication::focusWidget();
  QTest::keyClick(focus != nullptr && focus->window() == &Form() ? focus : &Form(), key, modifiers);
}

bool TWindowTest::Settle(int ms) {
  return QTest::qWaitFor([this] { return Form().Sequencer().Idle(); }, ms);
}

}  // namespace quillmere_test
