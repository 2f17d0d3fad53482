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
    {"10M", 28.0, 29.7},     {"6M", 50.0, 54.0},    {"2M", 144.0, 148.0},    {"70cm", 420.0, 450.0},
    {"23cm", 1240.0, 1300.0},
};

// Trim as the logbook's windows trim: blanks and control characters off both ends.
std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

// A decimal number in the C locale, the whole text (blanks around it allowed).
bool ParseMegahertz(std::string_view text, double& value) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() && std::isfinite(value);
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

std::string AdifBandText(std::string_view freqText, std::string_view bandFieldText) {
  std::string band;
  double megahertz = 0;
  if (ParseMegahertz(freqText, megahertz)) band = AdifBandOfFrequency(megahertz);
  if (band.empty()) band = std::string(bandFieldText);
  if (!band.empty() && band.back() != 'M' && band.back() != 'm') band += 'M';
  return band;
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

std::string AdifRecordLine(const LogbookRowTexts& row) {
  const auto& t = row.text;
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
  line += AdifTag("MODE", t[fMODE]);
  line += AdifTag("QTH", Trimmed(t[fQTH]));
  line += AdifTag("NAME", Trimmed(t[fSPARE1]));
  line += AdifTag("BAND", AdifBandText(t[fFREQ], t[fBAND]));
  line += AdifTag("STATE", Trimmed(t[fSTATE]));
  line += AdifTag("PFX", Trimmed(t[fPREFIX]));
  line += AdifTag("CQZ", Trimmed(t[fCQZONE]));
  line += AdifTag("ITUZ", Trimmed(t[fITUZONE]));
  line += AdifTag("TEN_TEN", Trimmed(t[fTENTEN]));
  line += AdifTag("QSL_SENT", Trimmed(t[fQSLS]));
  line += AdifTag("QSL_RCVD", Trimmed(t[fQSLR]));
  line += AdifTag("COMMENT", Trimmed(t[fREMARK]));
  line += AdifTag("CNTY", t[fCOUNTY]);
  line += AdifTag("CONTEST_ID", t[fCONTEST]);
  line += AdifTag("GRIDSQUARE", t[fGRIDSQR]);
  line += AdifTag("IOTA", t[fIOTA]);
  line += AdifTag("TX_PWR", t[fTXPWR]);
  line += AdifTag("OPERATOR", t[fOPERATR]);
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
      row.text[static_cast<size_t>(i)] =
          field->DataType() == TFieldType::ftString ? RTrimmed(field->AsString()) : field->AsString();
    }
    file.Write(AdifRecordLine(row));
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
