#include "ct_convert.h"

#include "entity_list.h"
#include "number_text.h"

namespace quillmere {

namespace {

const char kDegreeSign[] = "\xC2\xB0";  // UTF-8

}  // namespace

TCTConvertLogic::TCTConvertLogic() : countries_(std::make_shared<CountryFile>()) {}

std::string TCTConvertLogic::FormCreate(const std::string& ctyPath) {
  a = kClarke1866A;
  b = kClarke1866B;
  return Button4Click(ctyPath);
}

std::string TCTConvertLogic::Button4Click(const std::string& ctyPath) {
  std::string error;
  countries_->Load(ctyPath, &error);
  return error;
}

EntityLookup TCTConvertLogic::Button5Click(std::string_view edit8, std::string_view homeLat,
                                           std::string_view homeLon) {
  EntityLookup out;
  int row = countries_->FindName(edit8);
  if (row < 0) {
    const std::string other = CountryFileNameOf(edit8);
    if (!other.empty() && other != edit8) row = countries_->FindName(other);
  }
  if (row < 0) {
    for (std::string& l : Label) l.clear();
    return out;
  }
  const CtyRow& cells = countries_->Rows()[static_cast<size_t>(row)];
  const double westLon = TextToFloat(cells[kCtyLongitude]);
  Edit33 = cells[kCtyLatitude];
  Edit44 = FloatToText(-westLon);
  for (size_t i = 0; i < Label.size(); ++i) Label[i] = cells[i + 1];
  Button7Click(homeLat, homeLon);
  out.found = true;
  out.prefix = cells[kCtyPrefix];
  out.cqZone = cells[kCtyCqZone];
  out.ituZone = cells[kCtyItuZone];
  out.panel4 = BearingPanelText(edit8, true, Label[0], Label[2]);
  return out;
}

void TCTConvertLogic::Button7Click(std::string_view homeLat, std::string_view homeLon) {
  const double lat1 = TextToFloat(homeLat), lon1 = TextToFloat(homeLon);
  const double lat2 = TextToFloat(Edit33), lon2 = TextToFloat(Edit44);
  const GeoDist g = CalcGeoDist(lat1, lon1, lat2, lon2, a, b);
  Label[0] = FloatToFixed(g.azimuth, 6, 1) + " " + kDegreeSign;
  Label[1] = FloatToFixed(g.backAzimuth, 6, 1) + " deg. from";
  Label[2] = FloatToFixed(g.km, 6, 0) + " km.";
  Label[4] = FloatToFixed(g.km * 0.6214, 6, 0) + " miles";
  Button8Click();
}

void TCTConvertLogic::Button8Click() {
  Edit9 = GridLocator(TextToFloat(Edit11), TextToFloat(Edit22));
  Edit10 = GridLocator(TextToFloat(Edit33), TextToFloat(Edit44));
}

std::string TCTConvertLogic::Button1Click(std::string_view callBookLon, std::string_view callBookLat,
                                          std::string_view homeLat, std::string_view homeLon) const {
  if (callBookLon.empty()) return std::string(kCannotDetermine);
  const double lat1 = TextToFloat(homeLat), lon1 = TextToFloat(homeLon);
  const double lat2 = TextToFloat(callBookLat), westLon = TextToFloat(callBookLon);
  const GeoDist g = CalcGeoDist(lat1, lon1, lat2, -westLon, a, b);
  return FloatToFixed(g.azimuth, 6, 2) + " " + kDegreeSign + "@" + FloatToFixed(g.km, 6, 2) + " km";
}

}  // namespace quillmere
