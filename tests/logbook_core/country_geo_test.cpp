// The country file as read from the installed cty.dat and from small texts that exercise its
// grammar; bearing and distance against a Vincenty geodesic on the same ellipsoid; grid
// locators; the C-locale number texts they are shown with.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "country_file.h"
#include "geo_test_support.h"
#include "geodesy.h"
#include "number_text.h"

namespace {

using namespace quillmere;

TEST(CountryFileTest, InstalledFileGivesOneRowPerEntityWithColumnsInPlace) {
  const CountryFile& cty = *geo_test::Countries();
  // Count the header lines independently: every line that does not start with a blank.
  std::istringstream in(geo_test::Slurp(geo_test::CtyPath()));
  size_t headers = 0;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != ' ' && line[0] != '\t' && line[0] != '\r') ++headers;
  ASSERT_GE(headers, 300u);
  EXPECT_EQ(cty.Rows().size(), headers);
  EXPECT_EQ(cty.MemoLines().size(), headers);
  for (const std::string& line : cty.MemoLines()) EXPECT_NE(line.substr(0, 2), "  ");
  // Every row has eight cells, and its position and zones are numbers: no name with
  // punctuation shifted a column.
  for (const CtyRow& row : cty.Rows()) {
    SCOPED_TRACE(row[kCtyName]);
    EXPECT_FALSE(row[kCtyPrefix].empty());
    EXPECT_NO_THROW(TextToFloat(row[kCtyLatitude]));
    EXPECT_NO_THROW(TextToFloat(row[kCtyLongitude]));
    EXPECT_NO_THROW(TextToFloat(row[kCtyCqZone]));
    EXPECT_NO_THROW(TextToFloat(row[kCtyItuZone]));
  }
  struct Known {
    const char* name;
    const char* cq;
    const char* itu;
    const char* continent;
    const char* prefix;
  };
  for (const Known& k : {Known{"Japan", "25", "45", "AS", "JA"}, Known{"Fiji", "32", "56", "OC", "3D2"},
                         Known{"Cote d'Ivoire", "35", "46", "AF", "TU"},
                         Known{"Juan de Nova, Europa", "39", "53", "AF", "FT/j"},
                         Known{"Vienna Intl Ctr", "15", "28", "EU", "*4U1V"},
                         Known{"United States of America", "05", "08", "NA", "K"}}) {
    SCOPED_TRACE(k.name);
    const int r = cty.FindName(k.name);
    ASSERT_GE(r, 0);
    const CtyRow& row = cty.Rows()[static_cast<size_t>(r)];
    EXPECT_EQ(row[kCtyCqZone], k.cq);
    EXPECT_EQ(row[kCtyItuZone], k.itu);
    EXPECT_EQ(row[kCtyContinent], k.continent);
    EXPECT_EQ(row[kCtyPrefix], k.prefix);
  }
  EXPECT_LT(cty.FindName("japan"), 0);  // case-sensitive
  EXPECT_LT(cty.FindName("Japan "), 0);
}

TEST(CountryFileTest, CallsResolveByExactCallThenLongestPrefix) {
  const CountryFile& cty = *geo_test::Countries();
  struct Case {
    const char* call;
    const char* entity;  // empty: no entity
    bool exact;
  };
  for (const Case& c : {Case{"JA1ABC", "Japan", false}, Case{"ja1abc", "Japan", false},
                        Case{"3D2AB", "Fiji", false},
                        // Exact calls listed under another entity beat their prefix.
                        Case{"3D2CR", "Conway Reef", true}, Case{"9M2/PG5M", "Spratly Islands", true},
                        Case{"9M2ABC", "West Malaysia", false}, Case{"KH6XYZ", "Hawaii", false},
                        Case{"W1AW", "United States of America", false}, Case{"", "", false},
                        Case{"Q1ABC", "", false}}) {
    SCOPED_TRACE(c.call);
    const CtyCallInfo info = cty.LookupCall(c.call);
    if (*c.entity == '\0') {
      EXPECT_LT(info.row, 0);
      continue;
    }
    ASSERT_GE(info.row, 0);
    EXPECT_EQ(cty.Rows()[static_cast<size_t>(info.row)][kCtyName], c.entity);
    EXPECT_EQ(info.exactCall, c.exact);
  }
  // Zone overrides of a listed prefix replace the entity's zones.
  const CtyCallInfo china = cty.LookupCall("BA0ABC");
  EXPECT_EQ(china.cqZone, "23");
  EXPECT_EQ(china.ituZone, "42");
  EXPECT_EQ(cty.LookupCall("BY1ABC").cqZone, "24");
}

// Calls with a slash, as the country file's conventions read them.
TEST(CountryFileTest, SlashedCallsFollowTheFilesConventions) {
  const CountryFile& cty = *geo_test::Countries();
  struct Case {
    const char* call;
    const char* entity;  // empty: no entity
  };
  for (const Case& c : {
           Case{"K1ABC/KH6", "Hawaii"}, Case{"KH6/K1ABC", "Hawaii"},      // the location, either side
           Case{"W1AW/VE3", "Canada"},  Case{"ve3/w1aw", "Canada"},       Case{"DL1ABC/F", "France"},
           Case{"K1ABC/P", "United States of America"},                   // how, not where
           Case{"K1ABC/M", "United States of America"},                   // mobile, not England's M
           Case{"K1ABC/QRP", "United States of America"}, Case{"KH6/K1ABC/P", "Hawaii"},
           Case{"K1ABC/QQ", "United States of America"},                  // no such prefix: home
           Case{"UA1ABC/9", "Asiatic Russia"}, Case{"UA9ABC/1", "European Russia"},  // call area
           Case{"K1ABC/MM", ""}, Case{"G4ABC/AM", ""}, Case{"K1ABC/MM/P", ""},       // no entity
           Case{"JA1ABC/", "Japan"}, Case{"/", ""},
       }) {
    SCOPED_TRACE(c.call);
    const CtyCallInfo info = cty.LookupCall(c.call);
    if (*c.entity == '\0') {
      EXPECT_LT(info.row, 0);
      continue;
    }
    ASSERT_GE(info.row, 0);
    EXPECT_EQ(cty.Rows()[static_cast<size_t>(info.row)][kCtyName], c.entity);
  }
  // The location's zones, and the call area's: from the prefix that matched.
  CountryFile small;
  small.Parse(
      "Alpha Land:  1:  2:  EU:  10.00:  -20.00:  -1.0:  AL:\n"
      "    AL,AL9(7)[8];\n"
      "Beta's Isle: 4:  5:  OC: -30.50:  150.25:  10.0:  BE:\n"
      "    BE;\n");
  EXPECT_EQ(small.LookupCall("AL1AB/9").cqZone, "7");
  EXPECT_EQ(small.LookupCall("AL1AB/9").matched, "AL9");
  EXPECT_EQ(small.LookupCall("AL9AB/BE").row, 1);
  EXPECT_EQ(small.LookupCall("AL9AB/BE").cqZone, "4");
  EXPECT_EQ(small.LookupCall("BE/AL9AB").row, 1);
  EXPECT_EQ(small.LookupCall("AL9AB/XX").cqZone, "7");  // unknown location: the home call
}

TEST(CountryFileTest, GrammarOfHeadersAndLists) {
  // Fields close at ':' or ';'; a text left open at the end of a line is no field; blanks trim.
  EXPECT_EQ(SplitCtyLine("A b:  1: x y :"), (std::vector<std::string>{"A b", "1", "x y"}));
  EXPECT_EQ(SplitCtyLine("O'Hare, Ltd.: 5: rest"), (std::vector<std::string>{"O'Hare, Ltd.", "5"}));
  EXPECT_EQ(SplitCtyLine("a::b;"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_TRUE(SplitCtyLine("no separator").empty());

  CountryFile cty;
  cty.Parse(
      "Alpha Land:  1:  2:  EU:  10.00:  -20.00:  -1.0:  AL:\r\n"
      "    AL,AL9(7)[8],=AL1XYZ(3),\r\n"
      "    =AX/AL1;\r\n"
      "Beta's Isle: 4:  5:  OC: -30.50:  150.25:  10.0:  *BE/b:\n"
      "    BE,=AL9B;\n"
      "\n"
      "  stray list line without a header;\n"
      "Gamma:       6:  7:  AF:  0.00:  0.00:  0.0:  GA:\n"
      "    GA");  // no ';' at the end of the file
  ASSERT_EQ(cty.Rows().size(), 3u);
  EXPECT_EQ(cty.Rows()[1][kCtyName], "Beta's Isle");
  EXPECT_EQ(cty.Rows()[1][kCtyPrefix], "*BE/b");
  EXPECT_EQ(cty.Rows()[0][kCtyLongitude], "-20.00");
  struct Case {
    const char* call;
    int row;
    const char* cq;
    const char* itu;
  };
  for (const Case& c : {Case{"AL2AA", 0, "1", "2"}, Case{"AL9ZZ", 0, "7", "8"}, Case{"AL1XYZ", 0, "3", "2"},
                        Case{"AX/AL1", 0, "1", "2"}, Case{"AL9B", 1, "4", "5"}, Case{"AL9BC", 0, "7", "8"},
                        Case{"GA1", 2, "6", "7"}, Case{"AX1", -1, "", ""}}) {
    SCOPED_TRACE(c.call);
    const CtyCallInfo info = cty.LookupCall(c.call);
    EXPECT_EQ(info.row, c.row);
    EXPECT_EQ(info.cqZone, c.cq);
    EXPECT_EQ(info.ituZone, c.itu);
  }
}

TEST(CountryFileTest, MissingFileLeavesAnEmptyGridAndAReason) {
  CountryFile cty;
  std::string error;
  EXPECT_FALSE(cty.Load("/nonexistent/cty.dat", &error));
  EXPECT_NE(error.find("/nonexistent/cty.dat"), std::string::npos);
  EXPECT_TRUE(cty.Rows().empty());
  EXPECT_LT(cty.LookupCall("JA1ABC").row, 0);
}

// The inverse problem on the ellipsoid by Vincenty's iteration, written independently of the
// closed-form formula under test.
struct Vincenty {
  double km, azimuth, backAzimuth;
};
Vincenty VincentyInverse(double lat1, double lon1, double lat2, double lon2) {
  const double a = kClarke1866A, b = kClarke1866B, f = 1 - b / a;
  const double rad = M_PI / 180;
  const double L = (lon2 - lon1) * rad;
  const double U1 = std::atan((1 - f) * std::tan(lat1 * rad)), U2 = std::atan((1 - f) * std::tan(lat2 * rad));
  const double sinU1 = std::sin(U1), cosU1 = std::cos(U1), sinU2 = std::sin(U2), cosU2 = std::cos(U2);
  double lambda = L, sinSigma = 0, cosSigma = 0, sigma = 0, cos2Alpha = 0, cos2SigmaM = 0;
  for (int i = 0; i < 200; ++i) {
    const double sinL = std::sin(lambda), cosL = std::cos(lambda);
    sinSigma = std::hypot(cosU2 * sinL, cosU1 * sinU2 - sinU1 * cosU2 * cosL);
    cosSigma = sinU1 * sinU2 + cosU1 * cosU2 * cosL;
    sigma = std::atan2(sinSigma, cosSigma);
    const double sinAlpha = cosU1 * cosU2 * sinL / sinSigma;
    cos2Alpha = 1 - sinAlpha * sinAlpha;
    cos2SigmaM = cos2Alpha != 0 ? cosSigma - 2 * sinU1 * sinU2 / cos2Alpha : 0;
    const double C = f / 16 * cos2Alpha * (4 + f * (4 - 3 * cos2Alpha));
    const double previous = lambda;
    lambda = L + (1 - C) * f * sinAlpha *
                     (sigma + C * sinSigma * (cos2SigmaM + C * cosSigma * (-1 + 2 * cos2SigmaM * cos2SigmaM)));
    if (std::fabs(lambda - previous) < 1e-13) break;
  }
  const double u2 = cos2Alpha * (a * a - b * b) / (b * b);
  const double A = 1 + u2 / 16384 * (4096 + u2 * (-768 + u2 * (320 - 175 * u2)));
  const double B = u2 / 1024 * (256 + u2 * (-128 + u2 * (74 - 47 * u2)));
  const double dSigma = B * sinSigma * (cos2SigmaM + B / 4 * (cosSigma * (-1 + 2 * cos2SigmaM * cos2SigmaM) -
                                                        B / 6 * cos2SigmaM * (-3 + 4 * sinSigma * sinSigma) *
                                                            (-3 + 4 * cos2SigmaM * cos2SigmaM)));
  const double s = b * A * (sigma - dSigma);
  const double sinL = std::sin(lambda), cosL = std::cos(lambda);
  double fwd = std::atan2(cosU2 * sinL, cosU1 * sinU2 - sinU1 * cosU2 * cosL) / rad;
  double back = std::atan2(cosU1 * sinL, -sinU1 * cosU2 + cosU1 * sinU2 * cosL) / rad + 180;
  if (fwd < 0) fwd += 360;
  if (back >= 360) back -= 360;
  return {s / 1000, fwd, back};
}

double AngleGap(double x, double y) {
  const double d = std::fmod(std::fabs(x - y), 360.0);
  return std::min(d, 360.0 - d);
}

TEST(GeodesyTest, BearingAndDistanceAgreeWithVincentyToTheShownPrecision) {
  struct Pair {
    double lat1, lon1, lat2, lon2;
  };
  const Pair pairs[] = {
      {41.7147, -72.7273, 51.5074, -0.1278},   // New England to London
      {41.7147, -72.7273, 36.40, 138.38},      // to Japan, across the pole
      {33.01, -96.892, -33.8688, 151.2093},    // Texas to Sydney
      {-22.9068, -43.1729, 35.6895, 139.6917}, // Rio to Tokyo, long way
      {0, 0, 0, 90},                           // along the equator
      {10, 20, -10, 20},                       // along a meridian, due south
      {60, 5, 60.001, 5.001},                  // a hundred metres
      {-45, 170, -44, -179},                   // across the date line
      {89.9, 0, 89.9, 180},                    // over the pole
  };
  for (const Pair& p : pairs) {
    SCOPED_TRACE(::testing::Message() << p.lat1 << "," << p.lon1 << " -> " << p.lat2 << "," << p.lon2);
    const GeoDist g = CalcGeoDist(p.lat1, p.lon1, p.lat2, p.lon2);
    const Vincenty v = VincentyInverse(p.lat1, p.lon1, p.lat2, p.lon2);
    // Kilometres are shown without decimals and bearings with one.
    EXPECT_NEAR(g.km, v.km, 0.05 + v.km * 2e-6);
    EXPECT_LT(AngleGap(g.azimuth, v.azimuth), 0.05);
    EXPECT_LT(AngleGap(g.backAzimuth, v.backAzimuth), 0.05);
    EXPECT_NEAR(g.degrees, g.km / 111.195, 1e-9);
    EXPECT_GE(g.azimuth, 0);
    EXPECT_LE(g.azimuth, 360);
  }
}

TEST(GeodesyTest, CoincidentAndAntipodalPointsGiveFiniteLimits) {
  const double halfMeridianKm = VincentyInverse(0, 0, 89.999999, 0).km * 2;
  struct Case {
    double lat1, lon1, lat2, lon2, km;
  };
  for (const Case& c : {Case{41.7, -72.7, 41.7, -72.7, 0}, Case{0, 0, 0, 0, 0}, Case{90, 0, 90, 0, 0},
                        Case{0, 0, 0, 180, halfMeridianKm}, Case{41.7, -72.7, -41.7, 107.3, halfMeridianKm},
                        Case{90, 0, -90, 0, halfMeridianKm}}) {
    SCOPED_TRACE(::testing::Message() << c.lat1 << "," << c.lon1 << " -> " << c.lat2 << "," << c.lon2);
    const GeoDist g = CalcGeoDist(c.lat1, c.lon1, c.lat2, c.lon2);
    EXPECT_TRUE(std::isfinite(g.km) && std::isfinite(g.azimuth) && std::isfinite(g.backAzimuth));
    EXPECT_NEAR(g.km, c.km, 1.0);
    EXPECT_EQ(g.azimuth, 0);
  }
  // Nearly coincident and nearly antipodal points stay finite too.
  for (double eps : {1e-9, 1e-12, 1e-15}) {
    const GeoDist near = CalcGeoDist(10, 10, 10 + eps, 10);
    const GeoDist far = CalcGeoDist(10, 10, -10 - eps, -170);
    EXPECT_TRUE(std::isfinite(near.km) && std::isfinite(near.azimuth)) << eps;
    EXPECT_TRUE(std::isfinite(far.km) && std::isfinite(far.azimuth)) << eps;
    EXPECT_LT(near.km, 0.01);
  }
}

// The centre of a locator's subsquare, computed here from the characters.
std::pair<double, double> LocatorCentre(const std::string& loc) {
  const double lon = (loc[0] - 'A') * 20 + (loc[2] - '0') * 2 + (loc[4] - 'A' + 0.5) * (2.0 / 24) - 180;
  const double lat = (loc[1] - 'A') * 10 + (loc[3] - '0') + (loc[5] - 'A' + 0.5) * (1.0 / 24) - 90;
  return {lat, lon};
}

TEST(GeodesyTest, GridLocatorsOfKnownPlacesAndRoundTrips) {
  struct Case {
    double lat, lon;
    const char* locator;
  };
  for (const Case& c : {Case{41.714775, -72.727260, "FN31PR"}, Case{51.5074, -0.1278, "IO91WM"},
                        Case{35.6895, 139.6917, "PM95UQ"}, Case{-33.8688, 151.2093, "QF56OD"},
                        Case{-22.9068, -43.1729, "GG87JC"}, Case{33.01, -96.892, "EM13NA"},
                        // Even-degree west longitudes start a new square.
                        Case{41.0, -72.0, "FN41AA"}, Case{-12.0, -78.0, "FH18AA"}, Case{0, 0, "JJ00AA"},
                        // The far edges stay in the last square.
                        Case{90, 180, "RR99XX"}, Case{-90, -180, "AA00AA"}}) {
    SCOPED_TRACE(c.locator);
    EXPECT_EQ(GridLocator(c.lat, c.lon), c.locator);
  }
  for (double lat = -89.9; lat < 90; lat += 7.37) {
    for (double lon = -179.9; lon < 180; lon += 11.13) {
      const std::string loc = GridLocator(lat, lon);
      const auto [clat, clon] = LocatorCentre(loc);
      EXPECT_LE(std::fabs(clat - lat), 1.0 / 48 + 1e-9) << loc;
      EXPECT_LE(std::fabs(clon - lon), 1.0 / 24 + 1e-9) << loc;
      EXPECT_EQ(GridLocator(clat, clon), loc);
    }
  }
}

TEST(NumberTextTest, ParsingAndFormattingInTheCLocale) {
  struct Parse {
    const char* text;
    double value;
  };
  for (const Parse& p : {Parse{"41.7", 41.7}, Parse{" -72.5 ", -72.5}, Parse{"+3", 3}, Parse{"-65.00", -65},
                         Parse{".5", 0.5}, Parse{"1e2", 100}}) {
    EXPECT_EQ(TextToFloat(p.text), p.value) << p.text;
  }
  for (const char* bad : {"", " ", "41,7", "abc", "1.2.3", "12x", "inf", "nan", "-", "--1"}) {
    try {
      TextToFloat(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + bad + "' is not a valid floating point value");
    }
  }
  struct Fixed {
    double value;
    int precision, digits;
    const char* text;
  };
  for (const Fixed& f : {Fixed{359.96, 6, 1, "360.0"}, Fixed{360, 6, 1, "360.0"}, Fixed{0, 6, 1, "0.0"},
                         Fixed{-0.04, 6, 1, "0.0"}, Fixed{12345.678, 6, 2, "12345.70"},
                         Fixed{5432.5, 6, 0, "5433"}, Fixed{48.25, 6, 1, "48.3"}, Fixed{0.0049, 6, 2, "0.00"},
                         Fixed{-12.345, 6, 2, "-12.35"}, Fixed{999.96, 6, 1, "1000.0"},
                         Fixed{1234567, 6, 0, "1234567"}}) {
    EXPECT_EQ(FloatToFixed(f.value, f.precision, f.digits), f.text) << f.value;
  }
  for (const auto& [value, text] : std::vector<std::pair<double, std::string>>{
           {65, "65"}, {12.43, "12.43"}, {-0.5, "-0.5"}, {-0.0, "0"}, {138.38, "138.38"}}) {
    EXPECT_EQ(FloatToText(value), text);
  }
}

}  // namespace
