// What the entry fields, the grid cells and the read-out buttons say, without a window: the
// state-name look-up in the word list, the state field's fall-backs, the grid rules in their
// order, and the buttons' phrases where their edges lie.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "spoken_reading.h"
#include "word_lists.h"

using namespace quillmere;

namespace {

// As the list holds it after loading: commas turned into tabs.
std::vector<std::string> WordList() {
  std::vector<std::string> items;
  for (const char* line :
       {"AL,Alabama", "ALB,Albania", "TX,Texas", "TXX,Texarkana", "NY New York no comma here at all", "ME,   Maine   ",
        "QC,Qu\xC3\xA9" "bec et tout le Canada francophone", "LONG,A state name that runs on well past the limit"})
    items.push_back(WordListItem(line));
  return items;
}

}  // namespace

TEST(SpokenReading, StateNameLookUp) {
  const std::vector<std::string> list = WordList();
  struct Case {
    const char* code;
    const char* name;
  };
  const Case cases[] = {
      {"AL", "Alabama"},     // the first line that begins with the code wins
      {"al", "Alabama"},     // case does not matter
      {"ALB", "Albania"},
      {"T", "Texas"},        // a code that begins a line is enough
      {"TXX", "Texarkana"},
      {"NY", "NY New York no comma here"},  // no tab: the line from its start, 25 characters
      {"ME", "Maine"},       // blanks trimmed
      {"LONG", "A state name that runs o"},  // 25 characters with the tab, then trimmed
      {"QC", "Qu\xC3\xA9" "bec et tout le Canada "},  // counted in characters, not bytes...
      {"ZZ", ""},            // missing
      {"", ""},              // nothing to look for
  };
  for (const Case& c : cases) {
    std::string expected = c.name;
    while (!expected.empty() && expected.back() == ' ') expected.pop_back();
    EXPECT_EQ(StateName(list, c.code), expected) << c.code;
  }
  EXPECT_EQ(FindWordListItem(list, "tx"), 2);
  EXPECT_EQ(FindWordListItem(list, "ZZ"), -1);
  EXPECT_EQ(FindWordListItem({}, "AL"), -1);
}

TEST(SpokenReading, StateFieldReadsTheNameOrItsCode) {
  const std::vector<std::string> list = WordList();
  EXPECT_EQ(DoubleClickPhrase(TReadBack::StateName, "me", list), "Maine");
  EXPECT_EQ(DoubleClickPhrase(TReadBack::StateName, "ZZ", list), "ZZ");
  EXPECT_EQ(DoubleClickPhrase(TReadBack::StateName, "", list), "empty");
  EXPECT_EQ(EnterKeyPhrase(TReadBack::StateName, "", list), std::nullopt);
  EXPECT_EQ(DoubleClickPhrase(TReadBack::None, "", list), std::nullopt);
}

TEST(SpokenReading, GridCellRulesInTheirOrder) {
  const std::vector<std::string> list = WordList();
  // A record whose sent report equals its received one, and whose state is a code in the list.
  const TRecordReading record{"FN31pr", "59", "57", "CW    ", "TX "};
  struct Case {
    const char* cell;
    std::optional<std::string> spoken;
  };
  const Case cases[] = {
      {"FN31pr", "<SPELL> FN31pr </SPELL>"},
      {"59", "<SPELL> 59 </SPELL>"},
      {"57    ", "<SPELL> 57 </SPELL>"},  // trailing blanks do not count
      {"CW", "C.W."},
      {"TX", "Texas"},
      {"W1AW", "W1AW"},
      {"", std::nullopt},
      {"   ", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(GridCellPhrase(c.cell, record, list), c.spoken) << c.cell;

  // The first equal field decides: a mode of "59" is spelled as the report, not read as a mode.
  EXPECT_EQ(GridCellPhrase("59", {"", "59", "", "59", ""}, list), "<SPELL> 59 </SPELL>");
  // An unknown mode as its own text; a state missing from the list says nothing.
  EXPECT_EQ(GridCellPhrase("JT65", {"", "", "", "JT65", ""}, list), "JT65");
  EXPECT_EQ(GridCellPhrase("USB", {"", "", "", "USB", ""}, list), "Upper Side Band");
  EXPECT_EQ(GridCellPhrase("ZZ", {"", "", "", "", "ZZ"}, list), std::nullopt);
  // Empty record fields match no cell.
  EXPECT_EQ(GridCellPhrase("K1ABC", {}, list), "K1ABC");
}

TEST(SpokenReading, ReadOutPhraseEdges) {
  struct Mode {
    const char* mode;
    const char* word;
  };
  for (const Mode& m : {Mode{"USB", "Upper Side Band"}, Mode{"LSB", "Lower Side Band"}, Mode{"FM", "F.M."},
                        Mode{"CW", "C.W."}, Mode{"AM", "A.M."}, Mode{"RTTY", "R.T.T.Y."}, Mode{"PSK", "Other"},
                        Mode{"", "Other"}, Mode{"cw", "Other"}}) {
    EXPECT_EQ(EmissionPhrases(m.mode), (std::vector<std::string>{std::string(m.word) + " . ", "is the current mode."}))
        << m.mode;
  }
  EXPECT_EQ(ReviewLogPhrases("3/9/2024", "21:30", "W1AW", "Hiram", "CT"),
            (std::vector<std::string>{"3/9/2024  21:30  W1AW  Hiram   . ", "CT . "}));
  EXPECT_EQ(LogListPhrases("field.dbf"),
            (std::vector<std::string>{"Double click or press enter to select the ", "field . ", "log book."}));
  EXPECT_EQ(LogListPhrases("my.log.dbf")[1], "my.log . ");
  EXPECT_EQ(LogListPhrases("plain")[1], "plain . ");
}
