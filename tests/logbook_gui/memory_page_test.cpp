// The "S. MEMORY" page: the memory file read at start-up and kept back byte for byte, a damaged
// file that leaves grid and file alone, the three sort orders with the unused memories in place,
// GO through the fake rig with its writes, labels and phrases, cell read-out and zoom.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTableWidget>

#include "tarvane_enums.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

struct Memory {
  int row;
  const char *number, *name, *frequency, *mode;
};

const Memory kMemories[] = {
    {1, "1", "Net 20", "14.0705", "USB"},  {2, "2", "Forty CW", "7.040", "CW"},
    {3, "3", "Ten FM", "29.600", "FM"},    {5, "4", "RTTY contest", "14.080", "RTTYR"},
    {6, "5", "Dx window", "2.002", "rtty"}, {8, "6", "Bad", "fourteen", "USB"},
    {9, "7", "Net 20", "14.0705", "LSB"},
};

// A memory file as the page writes it: 4 columns of 151 lines, CR LF.
std::string MemoryFile(int lastLine = -1) {
  std::vector<std::vector<std::string>> cells(4, std::vector<std::string>(151));
  cells[0][0] = "No.";
  cells[1][0] = "Memory Name";
  cells[2][0] = "Frequency";
  cells[3][0] = "Mode";
  for (const Memory& m : kMemories) {
    cells[0][size_t(m.row)] = m.number;
    cells[1][size_t(m.row)] = m.name;
    cells[2][size_t(m.row)] = m.frequency;
    cells[3][size_t(m.row)] = m.mode;
  }
  std::vector<std::string> lines = {"4", "151"};
  for (const auto& column : cells) lines.insert(lines.end(), column.begin(), column.end());
  if (lastLine >= 0) lines.resize(size_t(lastLine));
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace

class MemoryPageTest : public TWindowTest {
 protected:
  void SetUp() override {
    WriteFile("QMemd.cfg", MemoryFile());
    Start();
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
    grid_ = Find<QTableWidget>("StringGrid1");
  }
  QString Cell(int row, int column) { return grid_->item(row, column)->text(); }
  QStringList Column(int column) {
    QStringList cells;
    for (int row = 1; row <= 9; ++row) cells << Cell(row, column);
    return cells;
  }
  void Choose(int row, int column) {
    grid_->setCurrentCell(row, column);
    ASSERT_TRUE(Settle());
  }

  QTableWidget* grid_ = nullptr;
};

TEST_F(MemoryPageTest, FileRoundTripsAndADamagedFileChangesNothing) {
  EXPECT_EQ(Cell(1, 1), "Net 20");
  EXPECT_EQ(Cell(5, 3), "RTTYR");
  EXPECT_EQ(Cell(0, 2), "Frequency");
  // An edit and back, then "&Keep Memories": the very same file.
  grid_->item(4, 1)->setText("New memory");
  grid_->item(4, 1)->setText("");
  Find<QPushButton>("Button25")->click();
  const std::string kept = ReadFile("QMemd.cfg");
  EXPECT_EQ(kept, MemoryFile());
  EXPECT_EQ(std::count(kept.begin(), kept.end(), '\n'), 2 + 4 * 151);

  // A file cut short: the grid keeps its memories, the message names the file.
  const std::string cut = MemoryFile(300);
  WriteFile("QMemd.cfg", cut);
  Find<QPushButton>("Button24")->click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Cell(1, 1), "Net 20");
  EXPECT_EQ(Cell(9, 3), "LSB");
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"The frequency memories could not be loaded. "});
  EXPECT_EQ(ReadFile("QMemd.cfg"), cut);
}

using MemoryStartTest = TWindowTest;

TEST_F(MemoryStartTest, DamagedFileAtStartUpIsReportedOnceAndNeverOverwritten) {
  const std::string wide = "5\r\n151\r\n" + MemoryFile().substr(8);  // five columns claimed
  WriteFile("QMemd.cfg", wide);
  Start();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Find<QTableWidget>("StringGrid1")->item(1, 1)->text(), "");
  EXPECT_EQ(Form().StartupProblems().filter("memories").size(), 1);
  CloseAndDestroy();
  EXPECT_EQ(ReadFile("QMemd.cfg"), wide);
}

// A file of three columns, in CP1252 as earlier versions wrote it: the grid takes line 1's column
// count, and "&Keep Memories" writes the same bytes back.
TEST_F(MemoryStartTest, ColumnCountOfLineOneAndTheFilesEncodingAreKept) {
  {
    const int columns = 3;
    const char* titles[] = {"No.", "Memory Name", "Frequency", "Mode", ""};
    std::string file = std::to_string(columns) + "\r\n151\r\n";
    for (int c = 0; c < columns; ++c)
      for (int row = 0; row < 151; ++row)
        file += std::string(row == 0 ? titles[c] : row == 1 && c == 1 ? "Caf\xE9" : row == 1 ? "1" : "") + "\r\n";
    WriteFile("QMemd.cfg", file);
    Start();
    ASSERT_TRUE(Settle());
    auto* grid = Find<QTableWidget>("StringGrid1");
    ASSERT_EQ(grid->columnCount(), columns);
    EXPECT_EQ(grid->item(1, 1)->text(), QString::fromUtf8("Café"));
    EXPECT_EQ(grid->item(1, columns - 1)->text(), "1");
    EXPECT_TRUE(Form().StartupProblems().filter("memories").isEmpty());
    Find<QTabWidget>("PageControl1")->setCurrentIndex(4);  // the titles are written again
    ASSERT_TRUE(Settle());
    EXPECT_EQ(grid->item(0, 2)->text(), "Frequency");
    Find<QPushButton>("Button25")->click();
    EXPECT_EQ(ReadFile("QMemd.cfg"), file);
  }
}

TEST_F(MemoryPageTest, SortOrdersKeepUnusedMemoriesInPlace) {
  struct Case {
    const char* choice;
    QStringList names;
  };
  const Case cases[] = {
      // Frequencies compare as texts: "7.040" after "29.600"; equal frequencies by name, then mode.
      {"Frequency",
       {"Net 20", "Net 20", "RTTY contest", "", "Dx window", "Ten FM", "", "Forty CW", "Bad"}},
      {"Name", {"Bad", "Dx window", "Forty CW", "", "Net 20", "Net 20", "", "RTTY contest", "Ten FM"}},
      {"Number", {"Net 20", "Forty CW", "Ten FM", "", "RTTY contest", "Dx window", "", "Bad", "Net 20"}},
  };
  auto* box = Find<QComboBox>("ComboBox3");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.choice);
    fakes.voice->Clear();
    box->setCurrentText(c.choice);
    Form().ComboBox3Click();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Column(1), c.names);
    EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{std::string("memory sorted according to . ") + c.choice});
  }
  // The two "Net 20" memories on 14.0705 kept their modes with them.
  EXPECT_EQ(Column(3).mid(0, 2), (QStringList{"USB", "CW"}));
  EXPECT_EQ(Column(3).last(), "LSB");
}

TEST_F(MemoryPageTest, GoSendsFrequencyThenModeAndSaysSo) {
  using namespace tarvane;
  struct Case {
    int row;
    bool doubleClick;
    std::vector<std::pair<TRigProperty, int32_t>> writes;
    QString shown;
    std::vector<std::string> spoken;
  };
  const Case cases[] = {
      {1, false, {{TRigProperty::Freq, 14070500}, {TRigProperty::FreqA, 14070500}, {TRigProperty::Mode, PM_SSB_U}},
       "14.0705", {"NOW .", "14.0705mega hertz.", "USB . "}},
      {5, true, {{TRigProperty::Freq, 14080000}, {TRigProperty::FreqA, 14080000}, {TRigProperty::Mode, PM_DIG_U}},
       "14.080", {"NOW.", "14.080mega hertz.", "RTTYR . "}},
      {6, false, {{TRigProperty::Freq, 2002000}, {TRigProperty::FreqA, 2002000}, {TRigProperty::Mode, PM_SSB_U}},
       "2.002", {"NOW .", "2.002mega hertz.", "rtty . "}},
      {2, true, {{TRigProperty::Freq, 7040000}, {TRigProperty::FreqA, 7040000}, {TRigProperty::Mode, PM_CW_U}},
       "7.040", {"NOW.", "7.040mega hertz.", "CW . "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    Choose(c.row, 1);
    fakes.rig->Writes.clear();
    fakes.voice->Clear();
    if (c.doubleClick) {
      Form().StringGrid1DblClick();
    } else {
      Find<QPushButton>("Button35")->click();
    }
    ASSERT_TRUE(Settle());
    EXPECT_EQ(fakes.rig->Writes, c.writes);
    EXPECT_EQ(Find<QLabel>("Label4")->text(), c.shown);
    EXPECT_EQ(Find<QLabel>("Label49")->text(), c.shown);
    EXPECT_EQ(Find<QLineEdit>("Edit20")->text().toInt(), c.writes[0].second);
    EXPECT_EQ(Find<QListWidget>("ListBox4")->item(2)->text(), c.shown);
    EXPECT_EQ(fakes.voice->Spoken(), c.spoken);
  }

  // A frequency that is no number sends nothing and says why.
  Choose(8, 2);
  fakes.rig->Writes.clear();
  fakes.voice->Clear();
  Find<QPushButton>("Button35")->click();
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(fakes.rig->Writes.empty());
  EXPECT_EQ(Find<QLabel>("Label4")->text(), "7.040");
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"The memory's frequency cannot be sent to the radio. "});
}

TEST_F(MemoryPageTest, CellsReadThemselvesAndThePageItsName) {
  Choose(5, 3);
  Choose(5, 1);
  EXPECT_EQ(fakes.voice->Spoken(), (std::vector<std::string>{"<SPELL> RTTYR </SPELL>", "RTTYR.", "RTTY contest."}));
  // Read whatever the speech state.
  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();
  Choose(1, 2);
  EXPECT_EQ(Form().windowTitle(), "14.0705");
  EXPECT_EQ(grid_->toolTip(), "14.0705");
  Form().Start1Click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(), (std::vector<std::string>{"14.0705.", "Speech activated. "}));

  fakes.voice->Clear();
  grid_->item(0, 1)->setText("");
  Find<QTabWidget>("PageControl1")->setCurrentIndex(4);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Cell(0, 1), "Memory Name");
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"Memory Panel is up."});
}

TEST_F(MemoryPageTest, ZoomScalesSizesAndFontAndNeverReachesZero) {
  const int width = grid_->columnWidth(1), height = grid_->rowHeight(0);
  Form().Button36Click();
  EXPECT_EQ(grid_->columnWidth(1), std::lround(width * 1.1));
  EXPECT_EQ(grid_->rowHeight(0), std::lround(height * 1.1));
  EXPECT_EQ(grid_->font().pointSize(), std::lround(grid_->rowHeight(0) * 0.65));
  // Shrunk as far as the rounding goes, the grid can still be zoomed back.
  for (int i = 0; i < 80; ++i) Form().Button37Click();
  const int smallest = grid_->rowHeight(0);
  EXPECT_GE(smallest, 1);
  EXPECT_GE(grid_->columnWidth(0), 1);
  EXPECT_GE(grid_->font().pointSize(), 1);
  Form().Button36Click();
  EXPECT_GT(grid_->rowHeight(0), smallest);
}
