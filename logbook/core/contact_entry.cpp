#include "contact_entry.h"

#include "expression_literal.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "dataset/Sorl6db.h"
#include "base/SysSorl.h"
#include "clock_time.h"
#include "logbook_fileset.h"
#include "preferences.h"

namespace quillmere {

namespace {

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

bool IsBlankText(std::string_view text) { return text.find_first_not_of(" \t") == std::string_view::npos; }

// The entry's whole-number fields in the order they are checked, with the words that name them.
struct NumberField {
  const std::string TContactEntry::*text;
  const char* spoken;
  const char* shown;
};
constexpr NumberField kNumberFields[] = {
    {&TContactEntry::Band, "The band", "the band"},
    {&TContactEntry::Sent, "The sent report", "the sent report"},
    {&TContactEntry::Received, "The received report", "the received report"},
};

int WholeNumber(const std::string& text) { return ParseWholeNumber(text).value_or(0); }

}  // namespace

std::string CallSignText(std::string_view typed) { return SysUpperCase(typed); }

std::optional<TCallFilter> CallFilter(std::string_view call) {
  const bool whole = call.size() >= 4;
  const std::optional<std::string> quoted = QuoteExpressionLiteral(whole ? std::string(call) : std::string(call) + "*");
  if (!quoted) return std::nullopt;
  return TCallFilter{"STATION = " + *quoted, whole};
}

TDuplicateVerdict CheckDuplicate(TSorrelDataSet& dbf1, std::string_view typedCall, std::optional<int> band) {
  TDuplicateVerdict verdict;
  const std::string call = CallSignText(typedCall);
  const std::optional<TCallFilter> filter = CallFilter(call);
  if (!filter) {
    verdict.Filtered = false;
    return verdict;
  }
  dbf1.SetFilter(filter->Text);
  // Switching on a filter already in force would only move to the first record again.
  if (filter->SwitchOn && !dbf1.Filtered()) dbf1.SetFiltered(true);
  // An empty view holds no earlier contact and has no last record to move to.
  if (dbf1.IsEmpty()) return verdict;
  if (band) {
    verdict.Found = dbf1.Locate("Station;Band", {TVarValue(call), TVarValue(*band)}, 0);
    if (verdict.Found) {
      verdict.Station = TrimRight(dbf1.FieldByName("STATION")->AsString());
      verdict.Name = TrimRight(dbf1.FieldByName("SPARE1")->AsString());
    }
  }
  dbf1.Last();
  return verdict;
}

std::optional<TEntryRefusal> CheckEntry(const TContactEntry& entry) {
  for (const NumberField& field : kNumberFields) {
    const std::string& text = entry.*field.text;
    if (ParseWholeNumber(text)) continue;
    return TEntryRefusal{std::string(field.spoken) + " must be a whole number. ",
                         "'" + text + "' is not a whole number for " + field.shown + ". Nothing was logged."};
  }
  if (IsBlankText(entry.Station)) return TEntryRefusal{"please enter callsign. ", "Please enter callsign!"};
  return std::nullopt;
}

std::string LoggedMode(std::string_view display, bool ssbAsPsk) {
  return ssbAsPsk && display == "USB" ? std::string("PSK") : std::string(display);
}

double HighestContactNumber(const std::string& tablePath) {
  TSorrelDataSet table;
  table.SetTableName(tablePath);
  table.SetReadOnly(true);
  table.SetUseDeleted(true);
  const std::string cdx = LogbookIndexPath(tablePath);
  const bool indexed = std::filesystem::exists(cdx);
  if (indexed) {
    table.SetIndexFiles({cdx});
    table.SetIndexName("NUMBER");
  }
  table.Open();
  TField* number = table.FieldByName("NUMBER");
  if (indexed && table.IndexName() == "NUMBER" && table.Handler()->MasterTag() != nullptr) {
    table.Last();
    return table.IsEmpty() ? 0 : number->AsFloat();
  }
  double highest = 0;
  for (table.First(); !table.Eof(); table.Next()) highest = std::max(highest, number->AsFloat());
  return highest;
}

TLoggedContact LogContact(TSorrelDataSet& dbf1, const std::string& tablePath, const TContactEntry& entry,
                          TDateTime utc) {
  // One instant for both: a contact logged at midnight gets the date and the time of one moment.
  const TDateTimeParts when = DecodeDateTime(utc);
  TLoggedContact logged;
  char date[16];
  std::snprintf(date, sizeof date, "%04d%02d%02d", when.Year, when.Month, when.Day);
  logged.Date = date;
  logged.Time = ClockLabelText(utc);

  dbf1.Append();
  try {
    // Read after the append began, so a contact another program logged a moment ago counts.
    logged.Number = static_cast<int64_t>(std::floor(HighestContactNumber(tablePath))) + 1;
    const LogbookFieldSet f = BindLogbookFields(dbf1);
    f[fDATE]->SetAsDateTime(EncodeDateTime({when.Year, when.Month, when.Day}));
    f[fTIME]->SetAsString(logged.Time);
    f[fNUMBER]->SetAsFloat(static_cast<double>(logged.Number));
    f[fSTATION]->SetAsString(CallSignText(entry.Station));
    f[fNRSENT]->SetAsInteger(WholeNumber(entry.Sent));
    f[fNRRCVD]->SetAsInteger(WholeNumber(entry.Received));
    f[fSTATE]->SetAsString(entry.State);
    f[fBAND]->SetAsInteger(WholeNumber(entry.Band));
    f[fSPARE1]->SetAsString(entry.Name);
    f[fCITY]->SetAsString(entry.City);
    f[fQTH]->SetAsString(entry.Qth);
    f[fMODE]->SetAsString(LoggedMode(entry.Mode, entry.SsbAsPsk));
    f[fFREQ]->SetAsString(entry.Frequency);
    f[fPREFIX]->SetAsString(entry.Prefix);
    f[fCQZONE]->SetAsString(entry.CqZone);
    f[fITUZONE]->SetAsString(entry.ItuZone);
    f[fREMARK]->SetAsString(entry.Remark);
    f[fGRIDSQR]->SetAsString(entry.Grid);
    f[fOPERATR]->SetAsString(entry.Operator);
    f[fTXPWR]->SetAsString(entry.Power);
    dbf1.Post();
  } catch (...) {
    if (dbf1.State() == TDataSetState::dsInsert || dbf1.State() == TDataSetState::dsEdit) dbf1.Cancel();
    throw;
  }
  dbf1.Last();
  return logged;
}

}  // namespace quillmere
