// ct_convert: the logic of the country-file window TCTConvert, without its widgets.
//
// The window reads "cty.dat" once when it is created, finds an entity by name for the main
// window (prefix and zone edits, status panel 4), computes bearing and distance from the home
// position to that entity or to a call-book station, and the grid locators of two positions.
// Its edits and labels are kept here as texts under the controls' names; the window copies them
// into its controls after each handler.
//
// Home positions are the preference texts (latitude N+, longitude E+), read at each computation
// in the C locale; a text that is not a number raises EConvertError before any result is set.
//
// Owns its country file (shared with the DX look-up, which only reads it). Thread-safety: none;
// the GUI thread only.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "country_file.h"
#include "geodesy.h"

namespace quillmere {

// What the main window takes from an entity look-up.
struct EntityLookup {
  bool found = false;
  std::string prefix;    // the main window's Edit9
  std::string cqZone;    // Edit10
  std::string ituZone;   // Edit11
  std::string panel4;    // status panel 4 ("Bearing / Range")
};

class TCTConvertLogic {
 public:
  TCTConvertLogic();

  // FormCreate: the ellipsoid, then Button4Click on the country file at `ctyPath`. Returns the
  // error to report when the file cannot be read (the grid then stays empty), else empty.
  std::string FormCreate(const std::string& ctyPath);
  // Button4Click ("Convert CT"): Button3Click then Button2Click.
  std::string Button4Click(const std::string& ctyPath);

  // Button5Click: the entity named in the main window's entity field Edit8. Found: Edit33/Edit44
  // and Label1..Label7 from its row, then Button7Click. Not found: the labels, the zone and
  // prefix results and panel 4 are emptied, so no earlier entity's bearing or zones stay in
  // view (Edit33/Edit44 keep the last entity found). An entity of the logbook's own list
  // spelled otherwise in the country file ("Monoco") is found under the file's spelling.
  EntityLookup Button5Click(std::string_view edit8, std::string_view homeLat,
                            std::string_view homeLon);
  // Button7Click: bearing and distance from home to Edit33/Edit44 into Label1, Label2, Label3,
  // Label5, then Button8Click.
  void Button7Click(std::string_view homeLat, std::string_view homeLon);
  // Button8Click: locators of Edit11/Edit22 into Edit9 and of Edit33/Edit44 into Edit10.
  void Button8Click();
  // Button1Click ("callcalcgeodist"): the text for status panel 4 from home to the call-book
  // station whose longitude (west positive) and latitude the call-book window found;
  // "Cannot determine." when the longitude is empty.
  std::string Button1Click(std::string_view callBookLon, std::string_view callBookLat,
                           std::string_view homeLat, std::string_view homeLon) const;

  // The country file (the grid StringGrid1 is its Rows(), the memo Memo1 its MemoLines()).
  const CountryFile& Countries() const { return *countries_; }
  std::shared_ptr<const CountryFile> SharedCountries() const { return countries_; }

  double a = kClarke1866A, b = kClarke1866B;
  // The window's edits, under their names.
  std::string Edit33 = "0", Edit44 = "0";           // last entity found (lat N+, lon E+)
  std::string Edit11 = "33.01", Edit22 = "-96.892";  // second position for the locators
  std::string Edit9, Edit10;                         // locators of Edit11/22 and Edit33/44
  // Label1 .. Label7 at index 0 .. 6.
  std::array<std::string, 7> Label;

 private:
  std::shared_ptr<CountryFile> countries_;
};

// The phrase shown in panel 4 when the call book gave no position.
inline constexpr std::string_view kCannotDetermine = "Cannot determine.";

}  // namespace quillmere
