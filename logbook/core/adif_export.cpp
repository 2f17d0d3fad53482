#include "adif_export.h"

#include <charconv>
#include <cmath>

#include "dataset/Sorl6db.h"
#include "cp1252_text.h"
#include "file_replacement.h"
#include "base/hx6_date.h"

namespace quillmere {

namespace {

struct BandRow {
  const char* band;
  double above;
  double below;
};

constexpr BandRow kBands[] = {
    {"160M", 1.8, 2.0},      {"80M", 3.5, 4.0},     {"40M", 7.0, 7.3},       {"30M", 10.1, 10.15},
    {"20M", 14.0, 14.35},    {"17M", 18.068, 18.168}, {"15M", 21.0, 21.45},  {"12M", 24.89, 24.99},
    {"10M", 28.0, 29.7},     {"6M", 50.0, 54.0},    {"2M", 144.0, 148.0},    {"70CM", 420.0, 450.0},
    {"23CM", 1240.0, 1300.0},
};

// Every band name of the interchange format.
constexpr std::string_view kAdifBands[] = {
    "2190M", "630M", "560M", "160M", "80M", "60M", "40M", "30M", "20M", "17M", "15M",
    "12M",   "10M",  "8M",   "6M",   "5M",  "4M",  "2M",  "1.25M", "70CM", "33CM", "23CM",
    "13CM",  "9CM",  "6CM",  "3CM",  "1.25CM", "6MM", "4MM", "2.5MM", "2MM", "1MM", "SUBMM",
};

// Every mode of the interchange format.
constexpr std::string_view kAdifModes[] = {
    "AM",     "ARDOP", "ATV",   "CHIP",   "CLO",    "CONTESTI", "CW",     "DIGITALVOICE", "DOMINO",
    "DYNAMIC", "FAX",  "FM",    "FSK",    "FSK441", "FT8",      "HELL",   "ISCAT",  "JT4",   "JT6M",
    "JT9",    "JT44",  "JT65",  "MFSK",   "MSK144", "MTONE",    "MT63",   "OFDM",   "OLIVIA", "OPERA",
    "PAC",    "PAX",   "PKT",   "PSK",    "PSK2K",  "Q15",      "QRA64",  "ROS",    "RTTY",  "RTTYM",
    "SSB",    "SSTV",  "T10",   "THOR",   "THRB",   "TOR",      "V4",     "VOI",    "WINMOR", "WSPR",
};

// The modes the logbook logs that the format names otherwise: the sideband is SSB's submode,
// and the reversed shifts the rig reports are the plain modes.
struct ModeRow {
  std::string_view logged;
  std::string_view mode;
  std::string_view submode;
};
constexpr ModeRow kModeRows[] = {
    {"USB", "SSB", "USB"}, {"LSB", "SSB", "LSB"}, {"CW-R", "CW", ""}, {"RTTY-R", "RTTY", ""},
};

template <size_t N>
bool Contains(const std::string_view (&list)[N], std::string_view text) {
  for (const std::string_view item : list)
    if (item == text) return true;
  return false;
}

// Trim as the logbook's windows trim: blanks and control characters off both ends.
std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

std::string AsciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return upper;
}

// A decimal number in the C locale, the whole text (blanks around it allowed).
bool ParseMegahertz(std::string_view text, double& value) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() && std::isfinite(value);
}

// The text when it is a whole number above 0 (digits only, leading zeros allowed), else empty:
// these fields hold 0 or nothing when there is nothing to say.
std::string_view PositiveOrNone(std::string_view text) {
  text = Trimmed(text);
  bool nonZero = false;
  for (const char c : text) {
    if (c < '0' || c > '9') return text;  // not a number: the text as the operator gave it
    nonZero = nonZero || c != '0';
  }
  return nonZero ? text : std::string_view();
}

std::string RTrimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

std::string AdifBandOfFrequency(double megahertz) {
  for (const BandRow& row : kBands)
    if (megahertz > row.above && megahertz < row.below) return row.band;
  return {};
}

std::string AdifBandOfField(std::string_view bandFieldText) {
  const std::string text = AsciiUpper(Trimmed(bandFieldText));
  if (text.empty()) return {};
  if (Contains(kAdifBands, text)) return text;
  // The program's own centimetre rows are named by their number.
  if (text == "70" || text == "23") return text + "CM";
  if (Contains(kAdifBands, text + "M")) return text + "M";
  return {};
}

std::string AdifBandText(std::string_view freqText, std::string_view bandFieldText) {
  double megahertz = 0;
  if (ParseMegahertz(freqText, megahertz)) {
    std::string band = AdifBandOfFrequency(megahertz);
    if (!band.empty()) return band;
  }
  return AdifBandOfField(bandFieldText);
}

AdifMode AdifModeOf(std::string_view loggedMode) {
  const std::string text = AsciiUpper(Trimmed(loggedMode));
  for (const ModeRow& row : kModeRows)
    if (row.logged == text) return {std::string(row.mode), std::string(row.submode), true};
  if (Contains(kAdifModes, text)) return {text, {}, true};
  return {std::string(loggedMode), {}, false};
}

std::string LoggedModeOfAdif(std::string_view mode, std::string_view submode) {
  const std::string m = AsciiUpper(Trimmed(mode));
  const std::string sub = AsciiUpper(Trimmed(submode));
  if (!sub.empty())
    for (const ModeRow& row : kModeRows)
      if (row.mode == m && row.submode == sub) return std::string(row.logged);
  return std::string(mode);
}

std::string AdifTag(std::string_view name, std::string_view tableText) {
  const std::string value = Cp1252ToUtf8(tableText);
  std::string tag;
  tag.reserve(name.size() + value.size() + 8);
  tag += '<';
  tag += name;
  tag += ':';
  tag += std::to_string(value.size());
  tag += '>';
  tag += value;
  return tag;
}

std::string AdifRecordLine(const LogbookRowTexts& row, bool* complete) {
  const auto& t = row.text;
  const AdifMode mode = AdifModeOf(t[fMODE]);
  const std::string band = AdifBandText(t[fFREQ], t[fBAND]);
  std::string line;
  line += AdifTag("STX", t[fNUMBER]);
  if (row.date != 0) line += AdifTag("QSO_DATE", DBFDate().DTOS(row.date));
  // Hours and minutes without the colon; a text too short to have a third character is kept.
  std::string time = t[fTIME];
  if (time.size() >= 3) time.erase(2, 1);
  line += AdifTag("TIME_ON", time);
  line += AdifTag("CALL", t[fSTATION]);
  line += AdifTag("RST_SENT", t[fNRSENT]);
  line += AdifTag("RST_RCVD", t[fNRRCVD]);
  line += AdifTag("FREQ", t[fFREQ]);
  line += AdifTag("MODE", mode.mode);
  if (!mode.submode.empty()) line += AdifTag("SUBMODE", mode.submode);
  line += AdifTag("QTH", Trimmed(t[fQTH]));
  line += AdifTag("NAME", Trimmed(t[fSPARE1]));
  line += AdifTag("BAND", band);
  line += AdifTag("STATE", Trimmed(t[fSTATE]));
  line += AdifTag("PFX", Trimmed(t[fPREFIX]));
  line += AdifTag("CQZ", PositiveOrNone(t[fCQZONE]));
  line += AdifTag("ITUZ", PositiveOrNone(t[fITUZONE]));
  // A Ten-Ten number is a whole number above 0; anything else means the contact has none.
  const std::string_view tenTen = PositiveOrNone(t[fTENTEN]);
  const bool tenTenNumber = !tenTen.empty() && tenTen.find_first_not_of("0123456789") == std::string_view::npos;
  line += AdifTag("TEN_TEN", tenTenNumber ? tenTen : std::string_view());
  line += AdifTag("QSL_SENT", Trimmed(t[fQSLS]));
  line += AdifTag("QSL_RCVD", Trimmed(t[fQSLR]));
  line += AdifTag("COMMENT", Trimmed(t[fREMARK]));
  line += AdifTag("CNTY", t[fCOUNTY]);
  line += AdifTag("CONTEST_ID", t[fCONTEST]);
  line += AdifTag("GRIDSQUARE", t[fGRIDSQR]);
  line += AdifTag("IOTA", t[fIOTA]);
  line += AdifTag("TX_PWR", t[fTXPWR]);
  line += AdifTag("OPERATOR", t[fOPERATR]);
  if (complete != nullptr)
    *complete = row.date != 0 && time.size() >= 4 && !Trimmed(t[fSTATION]).empty() && mode.known &&
                (!band.empty() || !Trimmed(t[fFREQ]).empty());
  return line;
}

const std::vector<std::string>& AdifHeaderLines() {
  static const std::vector<std::string> lines = {
      "QMR Version 1.0",
      "Written by Quillmere, the speaking station logbook",
      "ADIF_VER:4>1.00",
      "<EOH>",
  };
  return lines;
}

std::string AdifExportFileName(std::string_view logbookFileName, bool asTxt, bool* truncated) {
  std::string base = LogBaseName(logbookFileName);
  // Eight characters, not bytes: a file name is UTF-8 and must not be cut inside a character.
  size_t end = 0;
  int characters = 0;
  while (end < base.size() && characters < 8) {
    const size_t n = Utf8SequenceLength(base, end);
    end += n == 0 ? 1 : n;
    ++characters;
  }
  const bool cut = end < base.size();
  if (cut) base.resize(end);
  if (truncated != nullptr) *truncated = cut;
  return base + (asTxt ? ".txt" : ".adi");
}

std::string AdifIncompleteNote(int64_t incomplete) {
  if (incomplete <= 0) return {};
  return std::to_string(incomplete) + (incomplete == 1 ? " record was" : " records were") +
         " written without a field other logging programs require (QSO_DATE, TIME_ON, CALL, MODE, "
         "and BAND or FREQ) or with a mode ADIF does not know; strict programs will refuse " +
         (incomplete == 1 ? "it." : "them.");
}

AdifExportResult ExportLogbookToAdif(const std::string& logbookPath, bool asTxt,
                                     const AdifProgress& progress) {
  AdifExportResult result;
  result.fileName = AdifExportFileName(FileNameOf(logbookPath), asTxt, &result.nameTruncated);
  result.path = FolderOf(logbookPath) + result.fileName;

  TSorrelDataSet table;
  table.SetTableName(logbookPath);
  table.Open();
  CheckIsLogbook(table, logbookPath);
  const LogbookFieldSet fields = BindLogbookFields(table);
  const int64_t total = table.RecordCount();

  FileReplacement file(result.path);
  for (const std::string& line : AdifHeaderLines()) {
    file.Write(line);
    file.Write("\r\n");
  }
  LogbookRowTexts row;
  if (progress) progress(0, total);
  for (table.First(); !table.Eof(); table.Next()) {
    const TDateTime date = fields[fDATE]->IsNull() ? 0 : fields[fDATE]->AsDateTime();
    row.date = date == 0 ? 0 : DateTimeToJulian(date);
    for (int i = 1; i < kLogFieldCount; ++i) {
      const TField* field = fields[static_cast<size_t>(i)];
      // A blank number is no number, not 0.
      row.text[static_cast<size_t>(i)] = field->DataType() == TFieldType::ftString ? RTrimmed(field->AsString())
                                         : field->IsNull()                        ? std::string()
                                                                                  : field->AsString();
    }
    bool complete = false;
    file.Write(AdifRecordLine(row, &complete));
    if (!complete) ++result.incomplete;
    file.Write("\r\n<EOR>\r\n");
    ++result.records;
    if (progress && result.records % 1000 == 0) progress(result.records, total);
  }
  table.Close();
  file.Commit();
  if (progress) progress(result.records, total);
  return result;
}

}  // namespace quillmere
