#include "entity_list.h"

#include <unordered_map>

#include "ascii_text.h"

namespace quillmere {

namespace {

const char kGap[] = "    ";

}  // namespace

const std::vector<EntityListEntry>& EntityList() {
  static const std::vector<EntityListEntry> list = {
    {"Afghanistan    YA", nullptr},
    {"African Italy    IG9", nullptr},
    {"Agalega & St.Brandon    3B6", "Agalega & St. Brandon"},
    {"Aland Is.    OH0", "Aland Islands"},
    {"Alaska    KL", nullptr},
    {"Albania    ZA", nullptr},
    {"Algeria    7X", nullptr},
    {"American Samoa    KH8", "American Samoa;Swains Island"},
    {"Amsterdam & St.Paul    FT5Z", "Amsterdam & St. Paul Is."},
    {"Andaman & Nicobar    VU4", "Andaman & Nicobar Is."},
    {"Andorra    C3", nullptr},
    {"Angola    D2", nullptr},
    {"Anguilla    VP2E", nullptr},
    {"Antarctica    CE9", nullptr},
    {"Antigua & Barbuda    V2", nullptr},
    {"Argentina    LU", nullptr},
    {"Armenia    EK", nullptr},
    {"Aruba    P4", nullptr},
    {"Ascension I.    ZD8", "Ascension Island"},
    {"Asiatic Russia    UA9", nullptr},
    {"Auckland & Campbell    ZL9", "N.Z. Subantarctic Is."},
    {"Austral Is.    FO/a", "Austral Islands"},
    {"Australia    VK", nullptr},
    {"Austria    OE", nullptr},
    {"Aves I.    YV0", "Aves Island"},
    {"Azerbaijan    4J", nullptr},
    {"Azores    CU", nullptr},
    {"Bahamas    C6", nullptr},
    {"Bahrain    A9", nullptr},
    {"Baker & Howland Is.    KH1", "Baker & Howland Islands"},
    {"Balearic Is.    EA6", "Balearic Islands"},
    {"Banaba    T33", "Banaba Island"},
    {"Bangladesh    S2", nullptr},
    {"Barbados    8P", nullptr},
    {"Bear I.    JW/b                 ****", "Bear Island"},
    {"Belarus    EU", nullptr},
    {"Belgium    ON", nullptr},
    {"Belize    V3", nullptr},
    {"Benin    TY", nullptr},
    {"Bermuda    VP9", nullptr},
    {"Bhutan    A5", nullptr},
    {"Bolivia    CP", nullptr},
    {"Bosnia-Herzegovina    E7", nullptr},
    {"Botswana    A2", nullptr},
    {"Bouvet    3Y/b", nullptr},
    {"Brazil    PY", nullptr},
    {"British Virgin Is.    VP2V", "British Virgin Islands"},
    {"Brunei    V8", "Brunei Darussalam"},
    {"Bulgaria    LZ", nullptr},
    {"Burkina Faso    XT", nullptr},
    {"Burundi    9U", nullptr},
    {"Cameroon    TJ", nullptr},
    {"Canada    VE", nullptr},
    {"Canary Is.    EA8", "Canary Islands"},
    {"Cape Verde    D4", nullptr},
    {"Cayman Is.    ZF", "Cayman Islands"},
    {"Central African Rep.    TL", "Central African Republic"},
    {"Central Kiribati    T31", nullptr},
    {"Ceuta & Melilla    EA9", nullptr},
    {"Chad    TT", nullptr},
    {"Chagos Is.    VQ9", "Chagos Islands"},
    {"Chatham Is.    ZL7", "Chatham Islands"},
    {"Chesterfield I.    FK/C", "Chesterfield Islands"},
    {"Chile    CE", nullptr},
    {"China    BY", nullptr},
    {"Christmas I.    VK9X", "Christmas Island"},
    {"Clipperton I.    FO/c", "Clipperton Island"},
    {"Cocos I.    TI9", "Cocos Island"},
    {"Cocos-Keeling    VK9C", "Cocos (Keeling) Islands"},
    {"Colombia    HK", nullptr},
    {"Comoros    D6", nullptr},
    {"Congo    9Q", "Dem. Rep. of the Congo"},
    {"Conway Reef    3D2/c", nullptr},
    {"Corsica    TK", nullptr},
    {"Costa Rica    TI", nullptr},
    {"Crete    SV9", nullptr},
    {"Croatia    9A", nullptr},
    {"Crozet    FT5W", "Crozet Island"},
    {"Cuba    CM", nullptr},
    {"Cyprus    5B", nullptr},
    {"Czech Republic    OK", nullptr},
    {"Denmark    OZ", nullptr},
    {"Desecheo I.    KP5", "Desecheo Island"},
    {"Djibouti    J2", nullptr},
    {"Dodecanese    SV5", nullptr},
    {"Dominica    J7", nullptr},
    {"Dominican Republic    HI", nullptr},
    {"Ducie I.    VP6/d", "Ducie Island"},
    {"East Kiribati    T32", "Eastern Kiribati"},
    {"East Malaysia    9M6", nullptr},
    {"Easter I.    CE0Y", "Easter Island"},
    {"Ecuador    HC", nullptr},
    {"Egypt    SU", nullptr},
    {"El Salvador    YS", nullptr},
    {"England    G", nullptr},
    {"Equatorial Guinea    3C", nullptr},
    {"Eritrea    E3", nullptr},
    {"Estonia    ES", nullptr},
    {"Ethiopia    ET", nullptr},
    {"Europa    FR/e", "Juan de Nova, Europa"},
    {"European Italy    I", "Italy"},
    {"European Russia    UA", nullptr},
    {"Falkland Is.    VP8", "Falkland Islands"},
    {"Faroe Is.    OY", "Faroe Islands"},
    {"Fed Rep. of Germany    DL", "Fed. Rep. of Germany"},
    {"Fernando de Noronha    PY0F", nullptr},
    {"Fiji    3D2ov", nullptr},
    {"Finland    OH", nullptr},
    {"France    F", nullptr},
    {"Franz Josef Land    R1FJ", nullptr},
    {"French Guiana    FY", nullptr},
    {"French Polynesia    FO", nullptr},
    {"French St.Martin    FS", "St. Martin"},
    {"Gabon    TR", nullptr},
    {"Galapagos Is.    HC8", "Galapagos Islands"},
    {"Georgia    4L", nullptr},
    {"Ghana    9G", nullptr},
    {"Gibraltar    ZB", nullptr},
    {"Glorioso I.   FR/g              ", "Glorioso Islands"},
    {"Greece    SV", nullptr},
    {"Greenland    OX", nullptr},
    {"Grenada    J3", nullptr},
    {"Guadeloupe    FG", "Guadeloupe;St. Barthelemy"},
    {"Guam    KH2", nullptr},
    {"Guantanamo Bay    KG4", nullptr},
    {"Guatemala    TG", nullptr},
    {"Guernsey    GU", nullptr},
    {"Guinea-Bissau    J5", nullptr},
    {"Guyana    8R", nullptr},
    {"Haiti    HH", nullptr},
    {"Hawaii    KH6", nullptr},
    {"Heard I.    VK0H", "Heard Island"},
    {"Honduras    HR", nullptr},
    {"Hong Kong    VR", nullptr},
    {"Hungary    HA", nullptr},
    {"Iceland    TF", nullptr},
    {"India    VU", nullptr},
    {"Indonesia    YB", nullptr},
    {"Iran    EP", nullptr},
    {"Iraq    YI", nullptr},
    {"Ireland    EI", nullptr},
    {"Isle of Man    GD", nullptr},
    {"Israel    4X", nullptr},
    {"ITU HQ    4U1I", nullptr},
    {"Ivory Coast    TU", "Cote d'Ivoire"},
    {"Jamaica    6Y", nullptr},
    {"Jan Mayen    JX", nullptr},
    {"Japan    JA", nullptr},
    {"Jersey    GJ", nullptr},
    {"Johnston Is.    KH3", "Johnston Island"},
    {"Jordan    JY", nullptr},
    {"Juan de Nova    FR/j", "Juan de Nova, Europa"},
    {"Juan Fernandez Is.    CE0Z", "Juan Fernandez Islands"},
    {"Kaliningradsk    UA2", "Kaliningrad"},
    {"Kampuchea    XU", "Cambodia"},
    {"Kazakhstan    UN", nullptr},
    {"Kenya    5Z", nullptr},
    {"Kerguelen    FT5X", "Kerguelen Islands"},
    {"Kermadec Is.    ZL8", "Kermadec Islands"},
    {"Kingman Reef    KH5K", ""},
    {"Kure I.    KH7K", "Kure Island"},
    {"Kuwait    9K", nullptr},
    {"Kyrgyzstan    EX", nullptr},
    {"Laccadive Is.    VU7", "Lakshadweep Islands"},
    {"Laos    XW", nullptr},
    {"Latvia    YL", nullptr},
    {"lebanon    OD", "Lebanon"},
    {"Lesotho    7P", nullptr},
    {"Liberia    EL", nullptr},
    {"Liechtenstein    HB0", nullptr},
    {"Lithuania    LY", nullptr},
    {"Lord Howe I.    VK9L", "Lord Howe Island"},
    {"Luxembourg    LX", nullptr},
    {"Macau    XX9", "Macao"},
    {"Macedonia    Z3", "North Macedonia"},
    {"Macquarie I.    VK0M", "Macquarie Island"},
    {"Madagascar    5R", nullptr},
    {"Madeira I.    CT3", "Madeira Islands"},
    {"Malawi    7Q", nullptr},
    {"Maldive Is.    8Q", "Maldives"},
    {"Mali    TZ", nullptr},
    {"Malpelo I.    HK0/m", "Malpelo Island"},
    {"Malta    9H", nullptr},
    {"Malyj Vysotskij I.    R1MV", ""},
    {"Mariana Is.    KH0", "Mariana Islands"},
    {"Marion I.    ZS8", "Pr. Edward & Marion Is."},
    {"Market Reef    OJ0", nullptr},
    {"Marquesas Is.    FO/m", "Marquesas Islands"},
    {"Marshall Is.    V7", "Marshall Islands"},
    {"Martinique    FM", nullptr},
    {"Mauritania    5T", nullptr},
    {"Mauritius    3B8", nullptr},
    {"Mayotte    FH", nullptr},
    {"Mellish Reef    VK9M", nullptr},
    {"Mexico    XE", nullptr},
    {"Micronesia    V6", nullptr},
    {"Midway I.    KH4", "Midway Island"},
    {"Minami Torishima    JD/m", nullptr},
    {"Moldova    ER", nullptr},
    {"Mongolia    JT", nullptr},
    {"Monoco    3A", "Monaco"},
    {"Montserrat    VP2M", nullptr},
    {"Morocco    CN", nullptr},
    {"Mount Athos    SV/a", nullptr},
    {"Mozambique    C9", nullptr},
    {"Namibia    V5", nullptr},
    {"Nauru    C2", nullptr},
    {"Navassa I.    KP1", "Navassa Island"},
    {"Nepal    9N", nullptr},
    {"Netherlands    PA", nullptr},
    {"Netherlands Antilles    PJ2", "Curacao;Bonaire;Saba & St. Eustatius"},
    {"New Caledonia    FK", nullptr},
    {"New Zealand    ZL", nullptr},
    {"Nicaragua    YN", nullptr},
    {"Niger    5U", nullptr},
    {"Nigeria    5N", nullptr},
    {"Niue    E6", nullptr},
    {"Norfolk I.    VK9N", "Norfolk Island"},
    {"North Cook Is.    E5/n", "North Cook Islands"},
    {"North Korea    P5", "DPR of Korea"},
    {"Northern Ireland    GI", nullptr},
    {"Norway    LA", nullptr},
    {"Ogasawara    JD/o", nullptr},
    {"Oman    A4", nullptr},
    {"Pagalu I.    3C0", "Annobon Island"},
    {"Pakistan    AP", nullptr},
    {"Palau    T8", nullptr},
    {"Palestine    E4", nullptr},
    {"Palmyra & Jarvis Is    KH5", "Palmyra & Jarvis Islands"},
    {"Panama    HP", nullptr},
    {"Papua New Guinea    P2", nullptr},
    {"Paraguay    ZP", nullptr},
    {"Peru    OA", nullptr},
    {"Peter I I.    3Y/p", "Peter 1 Island"},
    {"Philippines    DU", nullptr},
    {"Pitcairn I.    VP6", "Pitcairn Island"},
    {"Poland    SP", nullptr},
    {"Portugal    CT", nullptr},
    {"Pratas I.    BV9P", "Pratas Island"},
    {"Puerto Rico    KP4", nullptr},
    {"Qatar    A7", nullptr},
    {"Rep. of Congo    TN", "Republic of the Congo"},
    {"Republic of Guinea    3X", "Guinea"},
    {"Reunion    FR", "Reunion Island"},
    {"Revilla Gigedo    XF4", "Revillagigedo"},
    {"Rodriguez I.    3B9", "Rodriguez Island"},
    {"Romania    YO", nullptr},
    {"Rotuma I.    3D2/r", "Rotuma Island"},
    {"Rwanda    9X", nullptr},
    {"Sable I.    CY0", "Sable Island"},
    {"San Andres & Providencia    HK0/a", nullptr},
    {"San Felix I.    CE0X", "San Felix & San Ambrosio"},
    {"San Marino    T7", nullptr},
    {"Sao Tome & Principe    S9", nullptr},
    {"Sardinia    IS", nullptr},
    {"Saudi Arabia    HZ", nullptr},
    {"Scarborough Reef    BS7", nullptr},
    {"Scotland    GM", nullptr},
    {"Senegal    6W", nullptr},
    {"Serbia & Montenegro    YU", "Serbia;Montenegro;Republic of Kosovo"},
    {"Shetlands    GM/s", "Shetland Islands"},
    {"Sicily    IT9", nullptr},
    {"Sierra Leone    9L", nullptr},
    {"Singapore    9V", nullptr},
    {"Sint Maarten    PJ7", nullptr},
    {"Slovakia    OM", "Slovak Republic"},
    {"Slovenia    S5", nullptr},
    {"Solomon Is.    H4", "Solomon Islands"},
    {"Somalia    T5", nullptr},
    {"South Africa    ZS", nullptr},
    {"South Cook Is.    E5/s", "South Cook Islands"},
    {"South Georgia    VP8/g", "South Georgia Island"},
    {"South Korea    HL", "Republic of Korea"},
    {"South Orkney    VP8/o", "South Orkney Islands"},
    {"South Sandwich    VP8/s", "South Sandwich Islands"},
    {"South Shetland    VP8/h", "South Shetland Islands"},
    {"Sov Mil Order of Malta    1A", nullptr},
    {"Spain    EA", nullptr},
    {"Spratly Is.    1S", "Spratly Islands"},
    {"Sri Lanka    4S", nullptr},
    {"St. Helena    ZD7", nullptr},
    {"St. Kitts & Nevis    V4", nullptr},
    {"St. Lucia    J6", nullptr},
    {"St. Paul I.    CY9", "St. Paul Island"},
    {"St. Pierre & Miquelon    FP", nullptr},
    {"St. Vincent    J8", nullptr},
    {"St.Peter & St.Paul    PY0S", "St. Peter & St. Paul"},
    {"Sudan    ST", "Sudan;Republic of South Sudan"},
    {"Suriname    PZ", nullptr},
    {"Svalbard    JW", nullptr},
    {"Swaziland    3DA", "Kingdom of Eswatini"},
    {"Sweden    SM", nullptr},
    {"Switzerland    HB", nullptr},
    {"Syria    YK", nullptr},
    {"Taiwan    BV", nullptr},
    {"Tajikistan    EY", nullptr},
    {"Tanzania    5H", nullptr},
    {"Temotu Province    H40", nullptr},
    {"Thailand    HS", nullptr},
    {"The GAmbia    C5", "The Gambia"},
    {"Timor-Leste    4W", "Timor - Leste"},
    {"Togo    5V", nullptr},
    {"Tokelau Is.    ZK3", "Tokelau Islands"},
    {"Tonga    A3", nullptr},
    {"Trindade & Martim Vaz    PY0T", nullptr},
    {"Trinidad & Tobago    9Y", nullptr},
    {"Tristan da Cunha    ZD9", "Tristan da Cunha & Gough"},
    {"Tromelin I.   FR/t", "Tromelin Island"},
    {"Tunisia    3V", nullptr},
    {"Turkey    TA", "Asiatic Turkey"},
    {"Turkey (Europe)    TA1", "European Turkey"},
    {"Turkmenistan    EZ", nullptr},
    {"Turks & Caicos    VP5", "Turks & Caicos Islands"},
    {"Tuvalu    T2", nullptr},
    {"Uganda    5X", nullptr},
    {"UK Bases on Cyprus    ZC4", "UK Base Areas on Cyprus"},
    {"Ukraine    UR", nullptr},
    {"UN HQ    4U1U", "United Nations HQ"},
    {"United Arab Emirates    A6", nullptr},
    {"United States    K", "United States of America"},
    {"Uruguay    CX", nullptr},
    {"US Virgin Is.    KP2", "US Virgin Islands"},
    {"Uzbekistan    UK", nullptr},
    {"Vanuatu    YJ", nullptr},
    {"Vatican    HV", "Vatican City"},
    {"Venezuela    YV", nullptr},
    {"Vienna Intl Ctr    4U1V", nullptr},
    {"Vietnam    3W", nullptr},
    {"Wake I.    KH9", "Wake Island"},
    {"Wales    GW", nullptr},
    {"Wallis & Futuna Is.    FW", "Wallis & Futuna Islands"},
    {"West Kiribati    T30", "Western Kiribati"},
    {"West Malaysia    9M2", nullptr},
    {"Western Sahara    S0", nullptr},
    {"Western Samoa    5W", "Samoa"},
    {"Willis I.    VK9W", "Willis Island"},
    {"Yemen    7O", nullptr},
    {"Zambia    9J", nullptr},
    {"Zimbabwe    Z2", nullptr},
  };
  return list;
}

std::vector<std::string> EntityListItems() {
  std::vector<std::string> items;
  items.reserve(EntityList().size());
  for (const EntityListEntry& e : EntityList()) items.emplace_back(e.item);
  return items;
}

std::string EntityName(std::string_view item) {
  return std::string(item.substr(0, item.find("   ")));
}

std::string FindEntityPrefix(std::string_view qth) {
  const std::string target = AsciiUpperCase(qth);
  for (const EntityListEntry& e : EntityList()) {
    const std::string_view item = e.item;
    const size_t gap = item.find(kGap);
    if (gap == std::string_view::npos) continue;
    // The name as the list box compares it: up to and including the gap's first blank.
    const std::string name = AsciiUpperCase(item.substr(0, gap + 1));
    if (TrimSpaces(name).empty() || TrimSpaces(name) != target) continue;
    return std::string(TrimSpaces(AsciiUpperCase(item.substr(gap, 10))));
  }
  return {};
}

std::string CountryFileNameOf(std::string_view name) {
  if (name.empty()) return {};
  for (const EntityListEntry& e : EntityList()) {
    if (EntityName(e.item) != name) continue;
    if (e.countryFileNames == nullptr) return std::string(name);
    const std::string_view names = e.countryFileNames;
    return std::string(names.substr(0, names.find(';')));
  }
  return {};
}

std::string EntityListNameOf(std::string_view countryFileName) {
  static const std::unordered_map<std::string, std::string> byCountryName = [] {
    std::unordered_map<std::string, std::string> map;
    for (const EntityListEntry& e : EntityList()) {
      const std::string name = EntityName(e.item);
      if (e.countryFileNames == nullptr) {
        map.emplace(name, name);
        continue;
      }
      std::string_view names = e.countryFileNames;
      while (!names.empty()) {
        const size_t semi = names.find(';');
        map.emplace(std::string(names.substr(0, semi)), name);
        if (semi == std::string_view::npos) break;
        names.remove_prefix(semi + 1);
      }
    }
    return map;
  }();
  if (auto it = byCountryName.find(std::string(countryFileName)); it != byCountryName.end())
    return it->second;
  return std::string(countryFileName);
}

std::string BearingPanelText(std::string_view entity, bool found, std::string_view bearingLabel,
                             std::string_view distanceLabel) {
  if (entity.empty() || !found) return {};
  return std::string(bearingLabel) + ". @ " + std::string(distanceLabel);
}

}  // namespace quillmere
