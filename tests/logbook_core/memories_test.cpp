// The frequency memories: the memory file, the sort, GO's rig writes and phrases, the zoom.
#include <gtest/gtest.h>

#include <tuple>

#include "base/SysSorl.h"
#include "core_test_util.h"
#include "decimal_frequency.h"
#include "memory_go.h"
#include "memory_grid.h"
#include "tarvane_enums.h"

namespace {

using namespace quillmere;
using namespace tarvane;

class MemoriesTest : public core_test::TempDirTest {};

class RecordingRig : public MemoryRig {
 public:
  void SetRigValue(int32_t which, int32_t value) override { writes.push_back({which, value}); }
  void SetRigParam(int32_t param) override { writes.push_back({param, 0}); }
  std::vector<std::pair<int32_t, int32_t>> writes;
};

// Every cell of the grid, titles included, different from every other.
MemoryGrid FullGrid() {
  MemoryGrid grid;
  for (int row = 1; row < MemoryGrid::kRows; ++row) {
    grid.SetCell(0, row, std::to_string(row));
    grid.SetCell(1, row, "Net " + std::to_string(row));
    grid.SetCell(2, row, std::to_string(row) + ".125");
    grid.SetCell(3, row, row % 2 ? "USB" : "CW");
  }
  grid.WriteTitles();
  return grid;
}

std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t end = bytes.find("\r\n", at);
    lines.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

TEST_F(MemoriesTest, AFullFileRoundTripsCellForCell) {
  MemoryGrid grid = FullGrid();
  grid.SetCell(1, 7, "Łódź\r\nnet");  // a pasted line break must not add a line to the file
  const std::string path = PathOf("QMemd.cfg");
  ASSERT_EQ(SaveMemoryFile(path, grid).status, MemoryFileResult::Status::Done);

  const std::vector<std::string> lines = Lines(core_test::ReadFile(path));
  ASSERT_EQ(lines.size(), 2u + 4u * 151u);
  EXPECT_EQ(lines[0], "4");
  EXPECT_EQ(lines[1], "151");
  EXPECT_EQ(lines[2], "No.");                  // column 0, row 0
  EXPECT_EQ(lines[2 + 151], "Memory Name");    // column 1, row 0
  EXPECT_EQ(lines[2 + 151 + 7], "Łódźnet");
  EXPECT_EQ(lines[2 + 3 * 151 + 150], "CW");  // the last cell
  EXPECT_EQ(Entries(), std::vector<std::string>{"QMemd.cfg"});  // no temporary left

  MemoryGrid loaded;
  ASSERT_EQ(LoadMemoryFile(path, loaded).status, MemoryFileResult::Status::Done);
  EXPECT_EQ(loaded.Cells(), grid.Cells());

  // A file of an earlier version: CP1252 bytes, LF line ends, a row count other than 151 on line
  // 2 (still read as 151 rows per column) and lines after the last cell.
  std::string old = "4\n200\n";
  for (int i = 0; i < 4 * 151; ++i) old += (i == 152 ? "Caf\xE9" : "") + std::string("\n");
  core_test::WriteFile(path, old + "extra\n");
  ASSERT_EQ(LoadMemoryFile(path, loaded).status, MemoryFileResult::Status::Done);
  EXPECT_EQ(loaded.Cell(1, 1), "Café");
  EXPECT_TRUE(loaded.RowUnused(2));

  EXPECT_EQ(LoadMemoryFile(PathOf("none.cfg"), loaded).status, MemoryFileResult::Status::NoFile);
  EXPECT_EQ(loaded.Cell(1, 1), "Café");
  const MemoryFileResult unwritable = SaveMemoryFile(PathOf("no/such/folder/QMemd.cfg"), grid);
  EXPECT_EQ(unwritable.status, MemoryFileResult::Status::Failed);
  EXPECT_NE(unwritable.message.find("QMemd.cfg"), std::string::npos);
}

// The first `count` lines of `bytes`, each with its line end.
std::string FirstLines(const std::string& bytes, int count) {
  size_t end = 0;
  for (int i = 0; i < count; ++i) end = bytes.find('\n', end) + 1;
  return bytes.substr(0, end);
}

TEST_F(MemoriesTest, AFileThatCannotBeReadWholeLeavesGridAndFileAsTheyWere) {
  const std::string good = FormatColumnGridFile(FullGrid().Cells());
  // Five columns claimed over the cells of four: the fifth column is missing.
  const std::string fiveColumns = "5\r\n151\r\n" + good.substr(8);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {FirstLines(good, 300), "ends at line 300"},
      {FirstLines(good, 605), "ends at line 605"},  // only the last cell missing
      {fiveColumns, "ends at line 606, before its last cell (line 757)"},
      {"3\r\n151\r\n", "ends at line 2"},
      {"0\r\n151\r\n", "has 0 columns"},
      {"-4\r\n151\r\n", "has -4 columns"},
      {"four\r\n151\r\n", "line 1"},
      {"4\r\nmany\r\n", "line 2"},
      {"", "empty"},
  };
  const std::string path = PathOf("QMemd.cfg");
  for (const auto& [bytes, reason] : cases) {
    SCOPED_TRACE(reason);
    MemoryGrid grid = FullGrid();
    core_test::WriteFile(path, bytes);
    const MemoryFileResult result = LoadMemoryFile(path, grid);
    EXPECT_EQ(result.status, MemoryFileResult::Status::Failed);
    EXPECT_NE(result.message.find(path), std::string::npos);
    EXPECT_NE(result.message.find(reason), std::string::npos) << result.message;
    EXPECT_EQ(grid.Cells(), FullGrid().Cells());
    EXPECT_EQ(core_test::ReadFile(path), bytes);
  }
}

// A file of 3 or 5 columns (line 1) is read with that many columns and saved back with them; the
// sort then does nothing (it needs one key per column) and GO sends the default mode for a
// missing mode column.
TEST_F(MemoriesTest, LineOneSetsTheColumnCount) {
  const std::string path = PathOf("QMemd.cfg");
  for (int columns : {3, 5, 1}) {
    SCOPED_TRACE(columns);
    GridCells cells(static_cast<size_t>(columns), std::vector<std::string>(151));
    for (int c = 0; c < columns; ++c) cells[size_t(c)][2] = "c" + std::to_string(c);
    if (columns >= 3) cells[2][2] = "14.070";
    core_test::WriteFile(path, FormatColumnGridFile(cells));
    MemoryGrid grid = FullGrid();
    ASSERT_EQ(LoadMemoryFile(path, grid).status, MemoryFileResult::Status::Done);
    ASSERT_EQ(grid.ColumnCount(), columns);
    EXPECT_EQ(grid.Cell(0, 2), "c0");
    EXPECT_EQ(grid.Cell(columns - 1, 2), columns >= 3 ? (columns == 3 ? "14.070" : "c4") : "c0");
    EXPECT_EQ(grid.Cell(columns, 2), "");  // outside the grid
    EXPECT_EQ(grid.Row(2).size(), size_t(columns));
    EXPECT_FALSE(grid.RowUnused(2));
    EXPECT_TRUE(grid.RowUnused(1));
    grid.WriteTitles();
    EXPECT_EQ(grid.Cell(0, 0), "No.");
    EXPECT_FALSE(SortMemoryGrid(grid, *MemorySortKeys("Name")));

    ASSERT_EQ(SaveMemoryFile(path, grid).status, MemoryFileResult::Status::Done);
    const std::vector<std::string> lines = Lines(core_test::ReadFile(path));
    ASSERT_EQ(lines.size(), 2u + size_t(columns) * 151u);
    EXPECT_EQ(lines[0], std::to_string(columns));
    EXPECT_EQ(lines[1], "151");
    MemoryGrid again;
    ASSERT_EQ(LoadMemoryFile(path, again).status, MemoryFileResult::Status::Done);
    EXPECT_EQ(again.Cells(), grid.Cells());
  }
  // Three columns: no mode column, so GO sends the frequency and upper side band.
  GridCells three(3, std::vector<std::string>(151));
  three[2][4] = "7.040";
  core_test::WriteFile(path, FormatColumnGridFile(three));
  MemoryGrid grid;
  ASSERT_EQ(LoadMemoryFile(path, grid).status, MemoryFileResult::Status::Done);
  RecordingRig rig;
  EXPECT_EQ(GoToMemory(grid, 4, MemoryGoSource::Button, rig).error, "");
  EXPECT_EQ(rig.writes, (std::vector<std::pair<int32_t, int32_t>>{{PM_FREQ, 7040000}, {PM_FREQA, 7040000}, {PM_SSB_U, 0}}));
}

// A file of an earlier version, in CP1252, is saved back in CP1252; a UTF-8 file stays UTF-8; a
// cell CP1252 cannot hold makes the save UTF-8, so nothing typed is lost.
TEST_F(MemoriesTest, TheFileKeepsItsEncoding) {
  const std::string path = PathOf("QMemd.cfg");
  std::string old = "4\r\n151\r\n";
  for (int i = 0; i < 4 * 151; ++i) old += (i == 152 ? "Caf\xE9 \x80" : "") + std::string("\r\n");
  core_test::WriteFile(path, old);
  MemoryGrid grid;
  ASSERT_EQ(LoadMemoryFile(path, grid).status, MemoryFileResult::Status::Done);
  EXPECT_TRUE(grid.FileCp1252());
  EXPECT_EQ(grid.Cell(1, 1), "Café €");
  ASSERT_EQ(SaveMemoryFile(path, grid).status, MemoryFileResult::Status::Done);
  EXPECT_EQ(core_test::ReadFile(path), old);  // byte for byte

  grid.SetCell(1, 2, "Łódź");
  ASSERT_EQ(SaveMemoryFile(path, grid).status, MemoryFileResult::Status::Done);
  MemoryGrid utf8;
  ASSERT_EQ(LoadMemoryFile(path, utf8).status, MemoryFileResult::Status::Done);
  EXPECT_FALSE(utf8.FileCp1252());
  EXPECT_EQ(utf8.Cell(1, 1), "Café €");
  EXPECT_EQ(utf8.Cell(1, 2), "Łódź");
  ASSERT_EQ(SaveMemoryFile(path, utf8).status, MemoryFileResult::Status::Done);
  EXPECT_NE(core_test::ReadFile(path).find("Caf\xC3\xA9"), std::string::npos);
}

TEST(MemorySort, ChoicesSortTheMemoriesInUseAndLeaveUnusedRowsInPlace) {
  SysSetCollationLocale("C");
  EXPECT_EQ(MemorySortKeys("Name"), (std::vector<int>{1, 2, 3, 0}));
  EXPECT_EQ(MemorySortKeys("Frequency"), (std::vector<int>{2, 1, 3, 0}));
  EXPECT_EQ(MemorySortKeys("Number"), (std::vector<int>{0, 2, 1, 3}));
  EXPECT_EQ(MemorySortKeys("name"), std::nullopt);
  EXPECT_EQ(texts::MemorySorted("Name"), "memory sorted according to . Name");

  // Rows 1, 2, 4, 5 and 9 in use; the rest empty.
  const std::vector<std::tuple<int, std::string, std::string, std::string, std::string>> rows = {
      {1, "3", "Beacon", "28.200", "CW"},   {2, "1", "Net", "7.040", "LSB"}, {4, "2", "Net", "14.070", "USB"},
      {5, "10", "beacon", "14.070", "USB"}, {9, "4", "DX", "14.070", "CW"},
  };
  MemoryGrid grid;
  grid.WriteTitles();
  for (const auto& [row, number, name, freq, mode] : rows) {
    grid.SetCell(0, row, number);
    grid.SetCell(1, row, name);
    grid.SetCell(2, row, freq);
    grid.SetCell(3, row, mode);
  }
  const auto column = [&](int c) {
    std::vector<std::string> out;
    for (int row : {1, 2, 4, 5, 9}) out.push_back(grid.Cell(c, row));
    return out;
  };
  // Texts compare as texts: "7.040" after "14.070"; equal frequencies go by name, then mode. The
  // fixed comparison stands in for the locale's: letters without regard to case first.
  ASSERT_TRUE(SortMemoryGrid(grid, *MemorySortKeys("Frequency")));
  EXPECT_EQ(column(1), (std::vector<std::string>{"beacon", "DX", "Net", "Beacon", "Net"}));
  EXPECT_EQ(column(2), (std::vector<std::string>{"14.070", "14.070", "14.070", "28.200", "7.040"}));
  for (int row : {3, 6, 7, 8, 10, 150}) EXPECT_TRUE(grid.RowUnused(row)) << row;
  EXPECT_EQ(grid.Cell(0, 0), "No.");
  // Case-sensitive: "beacon" and "Beacon" are different names, lower case first.
  ASSERT_TRUE(SortMemoryGrid(grid, *MemorySortKeys("Name")));
  EXPECT_EQ(column(1), (std::vector<std::string>{"beacon", "Beacon", "DX", "Net", "Net"}));
  EXPECT_EQ(column(2)[3], "14.070");  // the two nets by frequency text
  ASSERT_TRUE(SortMemoryGrid(grid, *MemorySortKeys("Number")));
  EXPECT_EQ(column(0), (std::vector<std::string>{"1", "10", "2", "3", "4"}));

  const auto before = grid.Cells();
  EXPECT_FALSE(SortMemoryGrid(grid, {1, 2, 3}));
  EXPECT_FALSE(SortMemoryGrid(grid, {1, 2, 3, 4}));
  EXPECT_EQ(grid.Cells(), before);
  SysSetCollationLocale(nullptr);
}

TEST(MemoryGo, SendsFrequencyTwiceThenTheModeAndSaysWhatItDid) {
  struct Case {
    std::string frequency, mode;
    MemoryGoSource source;
    int64_t hertz;  // -1: refused, 0: nothing sent
    int32_t modeParam;
    std::vector<std::string> phrases;
  };
  const auto click = MemoryGoSource::DoubleClick;
  const std::vector<Case> cases = {
      {"14.0705", "USB", click, 14070500, PM_SSB_U, {"NOW.", "14.0705mega hertz.", "USB . "}},
      {"2.002", " CW ", MemoryGoSource::Button, 2002000, PM_CW_U, {"NOW .", "2.002mega hertz.", "CW . "}},
      {"7.0351234567", "LSB", click, 7035123, PM_SSB_L, {"NOW.", "7.03512345mega hertz.", "LSB . "}},
      {"1.4E1", "RTTYR", click, 14000000, PM_DIG_U, {"NOW.", "1.4E1mega hertz.", "RTTYR . "}},
      {"14.08", "RTTY", click, 14080000, PM_DIG_L, {}},
      {"14.08", "rtty", click, 14080000, PM_SSB_U, {}},
      {"145.5", "FM", click, 145500000, PM_FM, {}},
      {"0.5", "AM", click, 500000, PM_AM, {}},
      {" 3.5 ", "PSK", click, 3500000, PM_SSB_U, {}},
      {"2147.483647", "USB", click, 2147483640, PM_SSB_U, {"NOW.", "2147.48364mega hertz.", "USB . "}},
      {"", "USB", click, 0, 0, {"NOW.", "mega hertz.", "USB . "}},
      {"abc", "USB", click, -1, 0, {}},
      {"14,070", "USB", click, -1, 0, {}},
      {"0", "USB", click, -1, 0, {}},
      {"0.0000009", "USB", click, -1, 0, {}},
      {"-7.1", "USB", click, -1, 0, {}},
      {"2147.5", "USB", click, -1, 0, {}},
      {"9E99999999", "USB", click, -1, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frequency + " " + c.mode);
    MemoryGrid grid;
    grid.SetCell(2, 5, c.frequency);
    grid.SetCell(3, 5, c.mode);
    RecordingRig rig;
    const MemoryGoResult result = GoToMemory(grid, 5, c.source, rig);
    if (c.hertz < 0) {
      EXPECT_NE(result.error.find("'" + c.frequency.substr(0, 10) + "'"), std::string::npos) << result.error;
      EXPECT_TRUE(rig.writes.empty());
      EXPECT_TRUE(result.phrases.empty());
      continue;
    }
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.frequencyText, c.frequency.substr(0, 10));
    if (c.hertz == 0) {
      EXPECT_TRUE(rig.writes.empty());
      EXPECT_EQ(result.hertzText, std::nullopt);
    } else {
      const auto hz = static_cast<int32_t>(c.hertz);
      EXPECT_EQ(rig.writes, (std::vector<std::pair<int32_t, int32_t>>{{PM_FREQ, hz}, {PM_FREQA, hz}, {c.modeParam, 0}}));
      EXPECT_EQ(result.hertzText, std::to_string(c.hertz));
    }
    if (!c.phrases.empty()) {
      EXPECT_EQ(result.phrases, c.phrases);
    }
  }
  // The bus's limit itself, beyond the ten characters a memory cell gives.
  EXPECT_EQ(MHzTextToHertz("2147.483647").hertz, 2147483647);
  EXPECT_EQ(MHzTextToHertz("2147.483648").hertz, std::nullopt);
  EXPECT_EQ(MHzTextToHertz("2147.4836479").hertz, 2147483647);
}

TEST(MemoryPage, ZoomNeverReachesZeroAndCellsSpeakTheirText) {
  std::vector<int> widths = {64, 120, 1, 4}, heights = {24, 24};
  EXPECT_EQ(ZoomMemoryGrid(widths, heights, 1.1), 17);  // 24 * 1.1 = 26.4 -> 26; 26 * 0.65 = 16.9
  EXPECT_EQ(widths, (std::vector<int>{70, 132, 2, 5}));  // 1 and 4 grow by a pixel at least
  for (int i = 0; i < 100; ++i) EXPECT_GE(ZoomMemoryGrid(widths, heights, 0.9), 1);
  std::vector<int> smallest = widths;
  for (int width : widths) EXPECT_GE(width, 1);
  ZoomMemoryGrid(widths, heights, 1.1);
  for (size_t i = 0; i < widths.size(); ++i) EXPECT_GT(widths[i], smallest[i]);
  std::vector<int> one = {1}, tiny = {1};
  EXPECT_EQ(ZoomMemoryGrid(one, tiny, 0.9), 1);
  EXPECT_EQ(one, std::vector<int>{1});

  MemoryGrid grid;
  grid.SetCell(1, 3, "Net");
  grid.SetCell(3, 3, "CW");
  EXPECT_EQ(MemoryCellPhrases(grid, 3, 3), (std::vector<std::string>{"<SPELL> CW </SPELL>", "CW."}));
  EXPECT_EQ(MemoryCellPhrases(grid, 1, 3), (std::vector<std::string>{"Net."}));
  EXPECT_EQ(texts::MemoryPanelUp(), "Memory Panel is up.");
}

}  // namespace
