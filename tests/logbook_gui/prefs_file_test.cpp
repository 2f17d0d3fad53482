// The preferences file as start-up, Configure and the close use it: a file carried over in CP1252
// comes back byte for byte; lines missing at its end are empty texts (no made-up power, speech or
// default logbook); a ConfigLog.cfg that is a symbolic link stays one and its file is rewritten;
// a default logbook named in CP1252 is found under the name this desktop gives it.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <filesystem>

#include "../logbook_core/core_test_util.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) lines.push_back(text.substr(at, end - at));
  return lines;
}

}  // namespace

class PrefsFileTest : public TWindowTest {
 protected:
  std::string Path(const QString& name) const { return (Home() + "/" + name).toStdString(); }
};

TEST_F(PrefsFileTest, ACodePageFileComesBackByteForByteAfterConfigureAndClose) {
  const std::string file =
      "M\xDCLLER\r\nJO31\r\n51.2\r\n6.8\r\n1\r\nAUTODXNO\r\nM\xFCller.dbf\r\n0\r\nAUTOSPEECHNO\r\nE:/\r\nPOWER\xB5W\r\n";
  WriteFile("ConfigLog.cfg", file);
  // The logbook was copied over under the name this desktop gives it.
  core_test::MakeLogbook(Path("Müller.dbf"), {{{"DATE", "20240101"}, {"TIME", "1000"}, {"STATION", "DL1ABC"}}});
  Start();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Find<QLineEdit>("Edit12")->text(), "MÜLLER");
  EXPECT_EQ(Find<QLabel>("Label57")->text(), "Müller.dbf");
  EXPECT_EQ(Find<QLineEdit>("Edit18")->text(), "µW");
  EXPECT_TRUE(Form().LogbookOpen());
  EXPECT_EQ(Form().StatusText(1), "Log: Müller.dbf");

  Find<QPushButton>("Button3")->click();
  Find<QPushButton>("BitBtn4")->click();  // Configure with what the file gave
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Find<QLabel>("Label11")->text(), "MÜLLER");
  CloseAndDestroy();
  EXPECT_EQ(ReadFile("ConfigLog.cfg"), file);
}

TEST_F(PrefsFileTest, MissingLinesAreEmptyTextsNotTheDeliveredValues) {
  // Six lines: no speech at start, no default logbook, no power, although logbook.dbf exists.
  WriteFile("ConfigLog.cfg", "W1AW\r\nFN31\r\n41.7\r\n-72.7\r\n-5\r\nAUTODXNO\r\n");
  core_test::MakeLogbook(Path("logbook.dbf"));
  Start();
  ASSERT_TRUE(Settle());
  EXPECT_FALSE(Form().SpeechOn());
  EXPECT_FALSE(Form().LogbookOpen());
  EXPECT_TRUE(Find<QLineEdit>("Edit18")->text().isEmpty());
  EXPECT_TRUE(Find<QLabel>("Label53")->text().isEmpty());
  EXPECT_DOUBLE_EQ(Form().UtcOffset(), -5 / 24.0);
  CloseAndDestroy();
  const std::vector<std::string> lines = Lines(ReadFile("ConfigLog.cfg"));
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[6], "");
  EXPECT_EQ(lines[7], "7");
  EXPECT_EQ(lines[8], "AUTOSPEECHNO");
  EXPECT_EQ(lines[10], "POWER");
}

TEST_F(PrefsFileTest, ALinkedPreferencesFileIsWrittenThroughTheLink) {
  QDir(Home()).mkdir("kept");
  const std::string target = Path("kept/ConfigLog.cfg");
  core_test::WriteFile(target,
                       "K1ABC\r\nFN42\r\n42\r\n-71\r\n0\r\nAUTODXNO\r\n\r\n7\r\nAUTOSPEECHNO\r\nD:/\r\nPOWER5\r\n");
  QFile::remove(Home() + "/ConfigLog.cfg");
  std::filesystem::create_symlink("kept/ConfigLog.cfg", Path("ConfigLog.cfg"));
  Start();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Find<QLineEdit>("Edit12")->text(), "K1ABC");
  Find<QLineEdit>("Edit18")->setText("100");
  CloseAndDestroy();
  EXPECT_TRUE(std::filesystem::is_symlink(Path("ConfigLog.cfg")));
  EXPECT_EQ(Lines(core_test::ReadFile(target)).at(10), "POWER100");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Path("kept")), {}), 1);
}
