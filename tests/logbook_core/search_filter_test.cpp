// The search box's filter over a real logbook: every typed text is quoted so that the engine
// reads it back as the same literal, whatever quotes and brackets it holds, and expression text
// typed into the box is searched for, never evaluated.
#include <optional>

#include "core_test_util.h"
#include "expression_literal.h"

namespace {

using namespace quillmere;
using core_test::Contact;

class SearchFilterTest : public core_test::TempDirTest {};

TEST_F(SearchFilterTest, TypedTextIsQuotedAndFindsOnlyItsOwnStation) {
  const std::vector<std::string> stations = {"K1ABC", "O'HARA", "SAY\"HI", "A]B", "IT'S\"A]", "K1ABCD", "[K2]"};
  std::vector<Contact> contacts;
  for (const std::string& s : stations) contacts.push_back({{"STATION", s}, {"BAND", "20"}});
  const std::string path = PathOf("search.dbf");
  core_test::MakeLogbook(path, contacts);

  struct Case {
    std::string typed;
    std::optional<std::string> filter;  // nullopt: refused
    std::vector<std::string> found;
  };
  const Case cases[] = {
      {"K1ABC", "STATION = 'K1ABC'", {"K1ABC"}},
      {"O'HARA", "STATION = \"O'HARA\"", {"O'HARA"}},
      {"SAY\"HI", "STATION = 'SAY\"HI'", {"SAY\"HI"}},
      {"A]B", "STATION = 'A]B'", {"A]B"}},
      {"[K2]", "STATION = '[K2]'", {"[K2]"}},
      {"IT'S\"A", "STATION = [IT'S\"A]", {}},
      // Expression text is searched for as a call: it matches no record instead of every one.
      {"X' .OR. .T. .OR. STATION='Y", "STATION = \"X' .OR. .T. .OR. STATION='Y\"", {}},
      {"X\" .OR. .T. .OR. STATION=\"Y", "STATION = 'X\" .OR. .T. .OR. STATION=\"Y'", {}},
      {"K1ABC' .OR. 'A", "STATION = \"K1ABC' .OR. 'A\"", {}},
      {"IT'S\"A]", std::nullopt, {}},
      {"", "STATION = ''", {}},
  };
  TSorrelDataSet log;
  log.SetTableName(path);
  log.Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    const std::optional<std::string> filter = StationSearchFilter(c.typed);
    ASSERT_EQ(filter, c.filter);
    if (!filter) continue;
    log.SetFilter(*filter);
    log.SetFiltered(true);
    std::vector<std::string> found;
    for (log.First(); !log.Eof(); log.Next()) {
      std::string station = log.FieldByName("STATION")->AsString();
      while (!station.empty() && station.back() == ' ') station.pop_back();
      found.push_back(station);
    }
    EXPECT_EQ(found, c.found);
    log.SetFiltered(false);
  }
  log.Close();
}

}  // namespace
