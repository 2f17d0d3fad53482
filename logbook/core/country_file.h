// country_file: the country file "cty.dat" read into the rows of the country-file window's grid
// and into a table of call prefixes.
//
// The file holds one entry per entity: a header line of eight fields, each closed by ':'
//   name: CQ zone: ITU zone: continent: latitude: longitude (west positive): UTC offset: prefix:
// followed by indented lines listing the entity's prefixes and calls, separated by ',' and ended
// by ';'. A listed item may start with '=' (that exact call, not a prefix) and may carry
// overrides after the call: (CQ zone) [ITU zone] <lat/lon> {continent} ~UTC offset~.
// Fields are split at the file's ':' and ';' only, so names with apostrophes, commas or other
// punctuation ("Cote d'Ivoire", "Juan de Nova, Europa") keep every later column in its place.
//
// A CountryFile is filled once and then only read; reading is safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillmere {

// The columns of a grid row.
enum CtyColumn : size_t {
  kCtyName = 0,
  kCtyCqZone = 1,
  kCtyItuZone = 2,
  kCtyContinent = 3,
  kCtyLatitude = 4,
  kCtyLongitude = 5,  // west positive, as the file has it
  kCtyUtcOffset = 6,
  kCtyPrefix = 7,
  kCtyColumns = 8
};

using CtyRow = std::array<std::string, kCtyColumns>;

// The fields of one header line: every text closed by ':' or ';', blanks trimmed at both ends,
// in order; a text not closed by a separator at the end of the line is not a field.
std::vector<std::string> SplitCtyLine(std::string_view line);

// What the file says about one call.
struct CtyCallInfo {
  int row = -1;              // grid row of the entity, -1 when no prefix matches
  bool exactCall = false;    // matched an '=' item
  std::string matched;       // the item that matched (without '=' and overrides)
  std::string cqZone;        // the item's override, else the entity's
  std::string ituZone;
};

class CountryFile {
 public:
  // Reads the file at `path`. False, with the reason in `error`, when it cannot be read; the
  // file then counts as empty and every look-up finds nothing.
  bool Load(const std::string& path, std::string* error = nullptr);
  // Reads the file's text.
  void Parse(std::string_view text);

  // The kept lines (the header lines, in file order); row r of the grid is line r.
  const std::vector<std::string>& MemoLines() const { return memo_; }
  const std::vector<CtyRow>& Rows() const { return rows_; }

  // The first row whose name equals `name` exactly (case-sensitive), -1 when none does or when
  // `name` has fewer than 3 characters.
  int FindName(std::string_view name) const;

  // The entity of a call: an '=' item equal to the whole call wins; otherwise the longest listed
  // prefix the call begins with. The call is upper-cased and trimmed first. A call with a slash
  // follows the file's conventions: "/MM" and "/AM" are no entity, "/P", "/M", "/QRP" and their
  // kin are ignored, a single digit changes the call area, and of the two parts left the shorter
  // is the location when the file knows it as a prefix ("K1ABC/KH6" is Hawaii).
  CtyCallInfo LookupCall(std::string_view call) const;

 private:
  struct Item {
    int row = -1;
    std::string cqZone, ituZone;  // overrides, empty when none
  };
  void AddItems(int row, std::string_view list);
  // The longest listed prefix `key` begins with (into `matched`), null when none.
  const Item* LongestPrefix(std::string_view key, std::string& matched) const;

  std::vector<std::string> memo_;
  std::vector<CtyRow> rows_;
  std::unordered_map<std::string, Item> prefixes_;
  std::unordered_map<std::string, Item> exactCalls_;
  size_t longestPrefix_ = 0;
};

}  // namespace quillmere
