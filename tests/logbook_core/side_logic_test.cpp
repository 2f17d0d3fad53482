// The printed log's content and pages, the word lists, and the tool launchers.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "core_test_util.h"
#include "log_print.h"
#include "tool_launchers.h"
#include "word_lists.h"

namespace {

using namespace quillmere;
using core_test::Contact;

class SideLogicTest : public core_test::TempDirTest {};

// A detail text too wide for its box: a left-aligned one runs on up to the next cell, then the font
// shrinks; centred and right-aligned ones keep their box.
TEST(PrintedLogLayout, LongTextsRunIntoTheGapThenShrinkAndAreNeverCut) {
  const std::vector<PrintDetailCell>& cells = PrintDetailCells();
  ASSERT_STREQ(cells[0].field, "STATION");
  ASSERT_STREQ(cells[1].field, "DATE");
  EXPECT_DOUBLE_EQ(PrintDetailRoom(0), 18.0);           // the call, up to where the date's box begins
  EXPECT_DOUBLE_EQ(PrintDetailRoom(1), 20.4);           // the date is centred: its own box
  EXPECT_DOUBLE_EQ(PrintDetailRoom(3), 16.4);           // the frequency is right-aligned
  EXPECT_NEAR(PrintDetailRoom(cells.size() - 1), 254.0 - 235.7, 1e-9);  // the last, to the margin
  EXPECT_EQ(PrintDetailRoom(cells.size()), 0.0);
  for (size_t i = 0; i < cells.size(); ++i) EXPECT_GE(PrintDetailRoom(i), cells[i].place.width) << i;

  struct Case {
    double text, box, room, width, scale;
  };
  for (const Case& c : {Case{10, 12.7, 18, 12.7, 1}, Case{12.7, 12.7, 18, 12.7, 1}, Case{15, 12.7, 18, 15, 1},
                        Case{18, 12.7, 18, 18, 1}, Case{36, 12.7, 18, 18, 0.5}, Case{30, 20.4, 20.4, 20.4, 0.68},
                        Case{30, 20.4, 0, 20.4, 0.68}}) {
    const PrintTextFit fit = FitPrintText(c.text, c.box, c.room);
    EXPECT_DOUBLE_EQ(fit.width, c.width) << c.text << " in " << c.box;
    EXPECT_DOUBLE_EQ(fit.scale, c.scale) << c.text << " in " << c.box;
    EXPECT_LE(c.text * fit.scale, fit.width + 1e-9);
  }
}

TEST_F(SideLogicTest, PrintedLogIsInDateOrderOnLetterPages) {
  std::vector<Contact> contacts;
  for (int i = 0; i < 100; ++i) {
    // Dates and times scattered so that table order is not date order.
    const int day = 1 + (i * 37) % 28;
    char date[9], time[6];
    snprintf(date, sizeof date, "202403%02d", day);
    snprintf(time, sizeof time, "%02d:%02d", (i * 7) % 24, (i * 13) % 60);
    contacts.push_back({{"DATE", date}, {"TIME", time}, {"STATION", "K" + std::to_string(i)},
                        {"FREQ", "14.070"}, {"MODE", "CW"}, {"NRSENT", "59"},
                        {"NRRCVD", std::to_string(i)}, {"SPARE1", "Op " + std::to_string(i)},
                        {"QTH", "Town"}, {"CITY", "City"}, {"STATE", "CT"}, {"GRIDSQR", "FN31"},
                        {"QSLR", "Y"}});
  }
  core_test::MakeLogbook(PathOf("log1.dbf"), contacts);
  {
    TSorrelDataSet dbf1;
    OpenLogbook(dbf1, PathOf("log1.dbf"));
  }
  const int32_t today = DBFDate().EncodeDate(2024, 5, 6);
  const PrintedLog log = LoadPrintedLog(PathOf("log1.dbf"), "N0CALL", today);
  EXPECT_EQ(log.title, "Log of N0CALL");
  EXPECT_EQ(log.date, DBFDate().DTOC(today));  // the short date form
  EXPECT_EQ(PrintGeometry().RowsPerPage(), 41);
  ASSERT_EQ(log.rows.size(), 100u);
  EXPECT_EQ(log.PageCount(), 3);
  EXPECT_EQ(log.FirstRowOfPage(2), 41u);
  EXPECT_EQ(log.EndRowOfPage(2), 82u);
  EXPECT_EQ(log.EndRowOfPage(3), 100u);

  // Oldest first by date, then time; every row has a text for every cell.
  std::vector<std::string> keys;
  for (const auto& row : log.rows) {
    ASSERT_EQ(row.size(), PrintDetailCells().size());
    keys.push_back(row[1].substr(6) + row[1].substr(0, 2) + row[1].substr(3, 2) + row[2]);
  }
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  // Contact 0 is the only one of 1 March at 00:00, so the first.
  EXPECT_EQ(log.rows.front(), (std::vector<std::string>{"K0", DBFDate().DTOC(DBFDate().EncodeDate(2024, 3, 1)), "00:00", "14.070", "CW", "59",
                                                        "/", "0", "Op 0", "Town", "City", "CT", "FN31", "Y"}));

  core_test::MakeLogbook(PathOf("empty.dbf"));
  {
    TSorrelDataSet dbf1;
    OpenLogbook(dbf1, PathOf("empty.dbf"));
  }
  const PrintedLog none = LoadPrintedLog(PathOf("empty.dbf"), "N0CALL", today);
  EXPECT_TRUE(none.rows.empty());
  EXPECT_EQ(none.PageCount(), 1);  // the header alone

  core_test::MakeLogbook(PathOf("noindex.dbf"));
  EXPECT_ANY_THROW(LoadPrintedLog(PathOf("noindex.dbf"), "N0CALL", today));
}

TEST_F(SideLogicTest, WordListsTurnCommasIntoTabsAndAMissingListKeepsTheOld) {
  EXPECT_EQ(WordListFileName(0), "WordList.txt");
  EXPECT_EQ(WordListFileName(1), "WordList2.txt");
  core_test::WriteFile(PathOf("WordList.txt"), "AL,Alabama\r\nNO COMMA\r\nX,a,b\n");
  std::vector<std::string> items = {"old"};
  std::string error;
  // Found without regard to case, as start-up asks for "wordlist.txt".
  ASSERT_TRUE(LoadWordList(PathOf(kStartupWordList), items, error));
  EXPECT_EQ(items, (std::vector<std::string>{"AL\tAlabama", "NO COMMA", "X\ta\tb"}));
  EXPECT_FALSE(LoadWordList(PathOf("WordList2.txt"), items, error));
  EXPECT_NE(error.find("WordList2.txt"), std::string::npos);
  EXPECT_EQ(items.size(), 3u);

  // The delivered lists: code, comma, name; the name with its tab within the 25 characters that
  // the spoken state lookup reads.
  const char* source = std::getenv("QM_TEST_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  for (int item : {0, 1}) {
    ASSERT_TRUE(LoadWordList(std::string(source) + "/data/" + WordListFileName(item), items, error)) << error;
    EXPECT_GE(items.size(), 51u);
    for (const std::string& entry : items) {
      const size_t tab = entry.find('\t');
      ASSERT_NE(tab, std::string::npos) << entry;
      EXPECT_LE(entry.size() - tab, 25u) << entry;
    }
  }
}

TEST_F(SideLogicTest, ToolLaunchers) {
  // A PATH with one of the magnifiers and one of the editors installed.
  std::filesystem::create_directory(PathOf("bin"));
  for (const char* program : {"kmag", "mousepad"}) {
    core_test::WriteFile(PathOf("bin/") + program, "#!/bin/sh\n");
    chmod(PathOf(std::string("bin/") + program).c_str(), 0755);
  }
  ToolLauncherSettings settings(dir_ + "bin:/nonexistent");
  EXPECT_EQ(settings.Command(AccessTool::Magnifier), (ToolCommand{"kmag", {}}));
  EXPECT_EQ(settings.Command(AccessTool::TextEditor), (ToolCommand{"mousepad", {}}));
  // Nothing installed: the first of the usual programs, so starting it fails with the message.
  EXPECT_EQ(settings.Command(AccessTool::OnScreenKeyboard), (ToolCommand{"onboard", {}}));
  EXPECT_EQ(settings.Command(AccessTool::AccessibilityWizard),
            (ToolCommand{"gnome-control-center", {"universal-access"}}));

  core_test::WriteFile(PathOf("tools.cfg"),
                       "; launcher settings\r\nvolumecontrol = \"/opt/my mixer/mix\" --tab \"output devices\"\r\n"
                       "Magnifier=\r\nUnknown=x\r\n");
  ASSERT_TRUE(settings.Load(PathOf("tools.cfg")));
  EXPECT_FALSE(settings.Load(PathOf("missing.cfg")));
  EXPECT_EQ(settings.Command(AccessTool::VolumeControl),
            (ToolCommand{"/opt/my mixer/mix", {"--tab", "output devices"}}));
  EXPECT_EQ(settings.Command(AccessTool::Magnifier), (ToolCommand{"kmag", {}}));  // empty value skipped

  std::vector<std::pair<std::string, std::vector<std::string>>> started;
  auto recorder = [&](bool works) {
    return [&started, works](const std::string& program, const std::vector<std::string>& args) {
      started.emplace_back(program, args);
      return works;
    };
  };
  EXPECT_EQ(LaunchTool(AccessTool::VolumeControl, settings, recorder(true)), std::nullopt);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].first, "/opt/my mixer/mix");
  EXPECT_EQ(started[0].second, (std::vector<std::string>{"--tab", "output devices"}));

  const std::pair<AccessTool, ToolFailure> failures[] = {
      {AccessTool::Magnifier, {"Could not find Magnifier", true}},
      {AccessTool::OnScreenKeyboard, {"Could not find On-ScreenKeyboard.", true}},
      {AccessTool::AccessibilityWizard, {"Could not find Accessibility Wizard", true}},
      {AccessTool::UtilityManager, {"Could not find Utility Manager", true}},
      {AccessTool::VolumeControl, {"Volume Control panel not found.", false}},
      {AccessTool::TextEditor, {"Could not find the text editor.", false}},
  };
  for (const auto& [tool, failure] : failures) EXPECT_EQ(LaunchTool(tool, settings, recorder(false)), failure);
  EXPECT_EQ(started.size(), 7u);
  settings.SetCommand(AccessTool::Magnifier, {});
  EXPECT_EQ(LaunchTool(AccessTool::Magnifier, settings, recorder(true)), failures[0].second);
  EXPECT_EQ(started.size(), 7u);  // nothing to start
}

}  // namespace
