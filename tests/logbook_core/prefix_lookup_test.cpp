// The entity list and its prefix look-up, the country-file window's look-ups and texts, and the
// agreement of the list with the installed country file and the generated DXCC table.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <map>
#include <set>

#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_search.h"
#include "ct_convert.h"
#include "entity_list.h"
#include "geo_test_support.h"
#include "number_text.h"

namespace {

using namespace quillmere;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

TEST(EntityListTest, ItemsAsWrittenInAlphabeticalOrder) {
  const std::vector<std::string> items = EntityListItems();
  ASSERT_EQ(items.size(), 339u);
  EXPECT_EQ(items.front(), "Afghanistan    YA");
  EXPECT_EQ(items.back(), "Zimbabwe    Z2");
  const std::set<std::string> present(items.begin(), items.end());
  for (const char* item : {"Alaska    KL", "Austral Is.    FO/a", "Bear I.    JW/b                 ****",
                           "Chesterfield I.    FK/C", "Fiji    3D2ov", "Japan    JA", "United States    K",
                           "Tromelin I.   FR/t", "lebanon    OD", "The GAmbia    C5", "Monoco    3A"}) {
    EXPECT_EQ(present.count(item), 1u) << item;
  }
  EXPECT_EQ(present.count("Glorioso I.   FR/g" + std::string(14, ' ')), 1u);
  for (size_t i = 1; i < items.size(); ++i)
    EXPECT_LT(Upper(EntityName(items[i - 1])), Upper(EntityName(items[i]))) << items[i];
}

TEST(EntityListTest, PrefixLookUp) {
  struct Case {
    const char* qth;
    const char* prefix;
  };
  for (const Case& c : {Case{"japan", "JA"}, Case{"JAPAN", "JA"}, Case{"Afghanistan", "YA"},
                        Case{"Zimbabwe", "Z2"}, Case{"Bear I.", "JW/B"}, Case{"Austral Is.", "FO/A"},
                        Case{"Fiji", "3D2OV"}, Case{"United States", "K"}, Case{"LEBANON", "OD"},
                        Case{"Tromelin I.", ""}, Case{"Glorioso I.", ""}, Case{"", ""}, Case{"Japan ", ""},
                        Case{" Japan", ""}, Case{"Jap", ""}, Case{"United States of America", ""}}) {
    EXPECT_EQ(FindEntityPrefix(c.qth), c.prefix) << "'" << c.qth << "'";
  }
}

TEST(EntityListTest, EveryNamePassesBetweenListAndCountryFile) {
  const CountryFile& cty = *geo_test::Countries();
  std::set<std::string> claimed;
  for (const EntityListEntry& e : EntityList()) {
    const std::string name = EntityName(e.item);
    SCOPED_TRACE(name);
    const std::string other = CountryFileNameOf(name);
    if (e.countryFileNames != nullptr && *e.countryFileNames == '\0') {
      EXPECT_EQ(other, "");  // the country file no longer has the entity
      continue;
    }
    ASSERT_FALSE(other.empty());
    EXPECT_GE(cty.FindName(other), 0) << other;
    // Two list entities may share one country-file entity ("Europa", "Juan de Nova"): the
    // answer for it is one of them, and leads back to it.
    EXPECT_EQ(CountryFileNameOf(EntityListNameOf(other)), other);
    claimed.insert(other);
  }
  // Country-file entities the list has no entity for answer their own names.
  size_t unclaimed = 0;
  for (const CtyRow& row : cty.Rows())
    if (EntityListNameOf(row[kCtyName]) == row[kCtyName] && claimed.count(row[kCtyName]) == 0) ++unclaimed;
  EXPECT_LE(unclaimed, 5u);
  EXPECT_EQ(EntityListNameOf("Curacao"), "Netherlands Antilles");
  EXPECT_EQ(EntityListNameOf("Libya"), "Libya");
}

TEST(EntityListTest, GeneratedDxccTableHoldsOneRowPerEntityUnderItsPrefix) {
  TSorrelDataSet dx;
  dx.SetDatabaseName(geo_test::BinDir());
  dx.SetTableName("DXCC.DBF");
  dx.SetIndexFiles({"DXCC.CDX"});
  dx.SetIndexName("CTRYPFX");
  dx.Open();
  std::map<std::string, std::string> rows;  // prefix -> name
  for (dx.First(); !dx.Eof(); dx.Next()) {
    const std::string prefix = dx.FieldByName("CTRYPFX")->AsString();
    EXPECT_TRUE(rows.emplace(prefix, dx.FieldByName("CTRYNAME")->AsString()).second) << prefix;
    EXPECT_EQ(dx.FieldByName("CW")->AsString(), "-");
    EXPECT_EQ(dx.FieldByName("M160")->AsString(), "---");
  }
  EXPECT_EQ(rows.size(), EntityList().size());
  for (const EntityListEntry& e : EntityList()) {
    const std::string name = EntityName(e.item);
    SCOPED_TRACE(name);
    std::string prefix = FindEntityPrefix(name);
    if (prefix.empty()) {
      // The two items the look-up never finds keep a row under their island prefix.
      prefix = Upper(std::string(e.item).substr(name.size() + 3, 4));
    }
    ASSERT_LE(prefix.size(), 5u);  // the logbook's PREFIX field holds 5 characters
    ASSERT_EQ(rows.count(prefix), 1u) << prefix;
    EXPECT_EQ(rows[prefix], name);
    EXPECT_TRUE(SeekIndexKey(dx, prefix, true, false)) << prefix;
    EXPECT_EQ(dx.FieldByName("CTRYPFX")->AsString(), prefix);
  }
  dx.Close();

  TSorrelDataSet states;
  states.SetDatabaseName(geo_test::BinDir());
  states.SetTableName("STATES.DBF");
  states.SetIndexFiles({"STATES.CDX"});
  states.SetIndexName("STATE");
  states.Open();
  EXPECT_EQ(states.RecordCount(), 50);
  EXPECT_TRUE(SeekIndexKey(states, "WY", true, false));
  EXPECT_EQ(states.FieldByName("NAME")->AsString(), "Wyoming");
  states.Close();
}

class CTConvertTest : public geo_test::TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    ASSERT_EQ(ct_.FormCreate(geo_test::CtyPath()), "");
  }
  TCTConvertLogic ct_;
};

TEST_F(CTConvertTest, EntityLookUpFillsLabelsZonesAndPanel) {
  const EntityLookup japan = ct_.Button5Click("Japan", "41.7147", "-72.7273");
  ASSERT_TRUE(japan.found);
  EXPECT_EQ(japan.prefix, "JA");
  EXPECT_EQ(japan.cqZone, "25");
  EXPECT_EQ(japan.ituZone, "45");
  EXPECT_EQ(ct_.Edit33, "36.40");
  EXPECT_EQ(ct_.Edit44, "138.38");
  EXPECT_EQ(ct_.Label[3], "36.40");  // Label4; Label1-3 and Label5 now hold the results
  EXPECT_EQ(ct_.Label[5], "-9.0");
  EXPECT_EQ(ct_.Label[6], "JA");
  const GeoDist g = CalcGeoDist(41.7147, -72.7273, 36.40, 138.38);
  EXPECT_EQ(ct_.Label[0], FloatToFixed(g.azimuth, 6, 1) + " \xC2\xB0");
  EXPECT_EQ(ct_.Label[1], FloatToFixed(g.backAzimuth, 6, 1) + " deg. from");
  EXPECT_EQ(ct_.Label[2], FloatToFixed(g.km, 6, 0) + " km.");
  EXPECT_EQ(ct_.Label[4], FloatToFixed(g.km * 0.6214, 6, 0) + " miles");
  EXPECT_EQ(japan.panel4, ct_.Label[0] + ". @ " + ct_.Label[2]);
  EXPECT_EQ(ct_.Edit10, GridLocator(36.40, 138.38));
  EXPECT_EQ(ct_.Edit9, "EM13NA");

  // A list spelling the country file writes otherwise is found under the file's spelling.
  const EntityLookup monaco = ct_.Button5Click("Monoco", "41.7147", "-72.7273");
  EXPECT_TRUE(monaco.found);
  EXPECT_EQ(monaco.prefix, "3A");
  EXPECT_EQ(ct_.Edit44, "7.4");

  // A failed look-up shows no bearing, zones or prefix of the entity before it.
  for (const char* missing : {"united states", "Ja", "", "Atlantis", "Kingman Reef"}) {
    SCOPED_TRACE(missing);
    const EntityLookup none = ct_.Button5Click(missing, "41.7147", "-72.7273");
    EXPECT_FALSE(none.found);
    EXPECT_EQ(none.panel4, "");
    EXPECT_EQ(none.prefix + none.cqZone + none.ituZone, "");
    for (const std::string& label : ct_.Label) EXPECT_EQ(label, "");
    EXPECT_EQ(ct_.Edit44, "7.4");  // the last entity found stays the target
  }
}

TEST_F(CTConvertTest, LongitudesAreNegatedAndNumbersReadInTheCLocale) {
  const std::string path = Put("cty.dat",
                               "East Land:    1:  2:  EU:  10.50:  -65.00:  -1.0:  EL:\n    EL;\n"
                               "Zero Land:    3:  4:  AF:   0.00:    0.00:   0.0:  ZL:\n    ZL;\n"
                               "Bad Land:     5:  6:  NA:  12.00:   12,5:    5.0:  BL:\n    BL;\n");
  ASSERT_EQ(ct_.FormCreate(path), "");
  // The desktop's language may use a decimal comma; the texts here always use a point.
  const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  EXPECT_TRUE(ct_.Button5Click("East Land", "0", "0").found);
  EXPECT_EQ(ct_.Edit44, "65");
  EXPECT_TRUE(ct_.Button5Click("Zero Land", "0", "0").found);
  EXPECT_EQ(ct_.Edit44, "0");
  EXPECT_EQ(ct_.Label[0], "0.0 \xC2\xB0");  // home and target are one point
  EXPECT_EQ(ct_.Label[2], "0 km.");
  EXPECT_THROW(ct_.Button5Click("Bad Land", "0", "0"), EConvertError);
  EXPECT_THROW(ct_.Button5Click("East Land", "41,7", "0"), EConvertError);
  EXPECT_THROW(ct_.Button5Click("East Land", "", "0"), EConvertError);
  std::setlocale(LC_NUMERIC, previous.c_str());
}

TEST_F(CTConvertTest, CallBookPositionGivesPanelFourText) {
  EXPECT_EQ(ct_.Button1Click("", "41.0", "41.7", "-72.7"), "Cannot determine.");
  const GeoDist g = CalcGeoDist(41.7147, -72.7273, 51.5, -0.13);
  EXPECT_EQ(ct_.Button1Click("0.13", "51.5", "41.7147", "-72.7273"),
            FloatToFixed(g.azimuth, 6, 2) + " \xC2\xB0@" + FloatToFixed(g.km, 6, 2) + " km");
  EXPECT_EQ(ct_.Button1Click("72.7273", "41.7147", "41.7147", "-72.7273"), "0.00 \xC2\xB0@0.00 km");
  EXPECT_THROW(ct_.Button1Click("0.13 Lon.", "51.5", "41.7", "-72.7"), EConvertError);
}

TEST(CTConvertLoadTest, MissingCountryFileLeavesEmptyGridAndFindsNothing) {
  TCTConvertLogic ct;
  EXPECT_NE(ct.FormCreate("/nonexistent/cty.dat"), "");
  EXPECT_FALSE(ct.Button5Click("Japan", "0", "0").found);
}

}  // namespace
