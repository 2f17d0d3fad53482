// What the entry fields, the grid cells and the read-out buttons say, without a window: the
// state-name look-up in the word list, each field's prompt and read-backs, the grid rules in
// their order, and the buttons' phrases.
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

TEST(SpokenReading, EntryFieldsPromptAndReadBack) {
  const std::vector<std::string> list = WordList();
  struct Case {
    const char* field;
    const char* prompt;
    const char* text;
    std::optional<std::string> doubleClick;
    std::optional<std::string> enter;
  };
  const Case cases[] = {
      {"LogEdit3", "enter call. ", "W1AW", "W1AW", "W1AW"},
      {"Edit3", "enter name. ", "Hiram", "Hiram", "Hiram"},
      {"LogEdit8", "enter Q.T.H. ", "Newington", "Newington", "Newington"},
      {"LogEdit9", "enter city. ", "Hartford", "Hartford", "Hartford"},
      {"Edit4", "enter remarks. ", "nice QSO", "nice QSO", "nice QSO"},
      {"LogEdit6", "enter state. ", "tx", "Texas", "Texas"},
      {"LogEdit6", "enter state. ", "ZZ", "ZZ", "ZZ"},  // missing from the list: the code itself
      {"logedit10", "enter grid. ", "FN31PR", "<SPELL>fn31pr</SPELL>", "fn31pr"},
      {"LogEdit4", "enter sent R.S.T. ", "59", std::nullopt, std::nullopt},
      {"LogEdit5", "enter received R.S.T. ", "57", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    const TEntryFieldReading* field = FindEntryFieldReading(c.field);
    ASSERT_NE(field, nullptr) << c.field;
    EXPECT_STREQ(field->Prompt, c.prompt);
    EXPECT_EQ(DoubleClickPhrase(field->Reading, c.text, list), c.doubleClick) << c.field;
    EXPECT_EQ(EnterKeyPhrase(field->Reading, c.text, list), c.enter) << c.field;
    // An empty field: "empty" on a double click (where the field reads back), silence on Enter.
    const bool readsBack = field->Reading != TReadBack::None;
    const std::optional<std::string> empty = readsBack ? std::optional<std::string>("empty") : std::nullopt;
    EXPECT_EQ(DoubleClickPhrase(field->Reading, "", list), empty);
    EXPECT_EQ(EnterKeyPhrase(field->Reading, "", list), std::nullopt);
  }
  EXPECT_EQ(EntryFieldReadings().size(), 9u);
  EXPECT_EQ(FindEntryFieldReading("Edit12"), nullptr);
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

TEST(SpokenReading, ReadOutButtonPhrases) {
  EXPECT_EQ(FrequencyPhrase("14.07400"), "14.07400 mega hertz. ");
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
  EXPECT_EQ(BearingPhrase("45.2 \xC2\xB0. @ 5000 km.", "Japan"), "45.2 \xC2\xB0. @ 5000 km.is the bearing to .  Japan");
  EXPECT_EQ(PrefixPhrase("Japan"), "Japan. is the DX.");
  EXPECT_EQ(ReviewLogPhrases("3/9/2024", "21:30", "W1AW", "Hiram", "CT"),
            (std::vector<std::string>{"3/9/2024  21:30  W1AW  Hiram   . ", "CT . "}));
  EXPECT_EQ(LogListPhrases("field.dbf"),
            (std::vector<std::string>{"Double click or press enter to select the ", "field . ", "log book."}));
  EXPECT_EQ(LogListPhrases("my.log.dbf")[1], "my.log . ");
  EXPECT_EQ(LogListPhrases("plain")[1], "plain . ");
  EXPECT_EQ(TrimmedField("W1AW   "), "W1AW");
  EXPECT_EQ(TrimmedField(" W1AW"), " W1AW");
}
