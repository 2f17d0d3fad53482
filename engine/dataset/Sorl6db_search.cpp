// Index tags, seek, locate, lookup and pack on a data set.
#include "dataset/Sorl6db_search.h"

#include <array>
#include <cctype>
#include <optional>

#include "dataset/Sorl6db.h"
#include "base/hx6_date.h"
#include "base/SysSorl.h"
#include "base/hx6_glbl.h"

namespace {

bool IsListSeparator(char c) { return c == ' ' || c == ',' || c == ';' || c == '\t'; }

std::string Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

// Runs `action` at scope end, on every path.
template <class Action>
class AtExit {
 public:
  explicit AtExit(Action action) : action_(std::move(action)) {}
  ~AtExit() { action_(); }
  AtExit(const AtExit&) = delete;
  AtExit& operator=(const AtExit&) = delete;

 private:
  Action action_;
};

DBFObject& HandlerOf(TSorrelDataSet& dataSet) {
  dataSet.CheckActive();
  return *dataSet.Handler();
}

// A search value as the text the table's field-put operations take: dates as "yyyymmdd".
std::optional<std::string> SearchText(const TVarValue& value) {
  if (value.IsNull()) return std::nullopt;
  if (value.GetKind() == TVarValue::Kind::DateTime)
    return DBFDate().DTOS(DateTimeToJulian(value.AsDateTime()));
  return value.AsString();
}

// Moves the view to the handler's current record.
void ShowHandlerRecord(TSorrelDataSet& dataSet) {
  dataSet.GotoBookmark(SorrelBookmarkOf(dataSet.Handler()->RecNo()));
}

// The table fields named in a key expression, in order of first appearance.
std::vector<std::string> ExpressionFields(HXO_dBaseFld& table, std::string_view expression) {
  std::vector<std::string> names;
  std::string word;
  bool quoted = false;
  char quote = 0;
  auto take = [&] {
    if (!word.empty() && table.FieldNumber(word) > 0) {
      std::string upper = SysUpperCase(word);
      bool seen = false;
      for (const std::string& n : names) seen = seen || n == upper;
      if (!seen) names.push_back(std::move(upper));
    }
    word.clear();
  };
  for (size_t i = 0; i < expression.size(); ++i) {
    const char c = expression[i];
    if (quoted) {
      if (c == quote) quoted = false;
      continue;
    }
    if (c == '\'' || c == '"') {
      take();
      quoted = true;
      quote = c;
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      word += c;
    } else {
      // A name followed by "(" is a function, not a field.
      size_t j = i;
      while (j < expression.size() && expression[j] == ' ') ++j;
      if (j < expression.size() && expression[j] == '(') word.clear();
      take();
    }
  }
  take();
  return names;
}

constexpr char kNoDetailKey[] = "\x01";

// The range options of a master key: partial low bound, include low, include high.
constexpr std::array<uint8_t, 3> kRangeOn = {1, 1, 1};
constexpr std::array<uint8_t, 3> kRangeOff = {1, 1, 0};

TDataSet* MasterOf(TSorrelDataSet& detail) {
  TDataSource* source = detail.MasterSource();
  return source != nullptr ? source->DataSet() : nullptr;
}

}  // namespace

bool SorrelSearch(DBFObject& handler, std::string_view keyFields,
                  const std::vector<TVarValue>& keyValues, bool partialKey, bool caseInsensitive) {
  std::vector<std::optional<std::string>> values;
  values.reserve(keyValues.size());
  for (const TVarValue& v : keyValues) values.push_back(SearchText(v));
  return handler.Locate(keyFields, values, partialKey, caseInsensitive);
}

std::vector<std::string> SorrelSplitIndexList(std::string_view list) {
  std::vector<std::string> names;
  std::string current;
  bool quoted = false;
  auto flush = [&] {
    std::string name = Trim(current);
    if (!name.empty()) names.push_back(std::move(name));
    current.clear();
  };
  for (char c : list) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && IsListSeparator(c)) {
      flush();
    } else {
      current += c;
    }
  }
  flush();
  return names;
}

std::string SorrelBookmarkOf(int32_t record) {
  std::string digits = std::to_string(record < 0 ? 0 : record);
  std::string bookmark(TSorrelDataSet::kBookmarkSize, '\0');
  bookmark[0] = static_cast<char>(digits.size());
  bookmark.replace(1, digits.size(), digits);
  return bookmark;
}

int SorrelTagCount(const TSorrelDataSet& dataSet) {
  return dataSet.Handler() != nullptr ? dataSet.Handler()->TagCount() : 0;
}

std::string SorrelTagName(const TSorrelDataSet& dataSet, int n) {
  HXobjIndexTag* tag = dataSet.Handler() != nullptr ? dataSet.Handler()->TagByPosition(n) : nullptr;
  return tag != nullptr ? tag->TagName() : std::string();
}

std::string SorrelTagExpression(const TSorrelDataSet& dataSet, int n) {
  HXobjIndexTag* tag = dataSet.Handler() != nullptr ? dataSet.Handler()->TagByPosition(n) : nullptr;
  return tag != nullptr ? tag->KeyExpression() : std::string();
}

void SelectIndexTag(TSorrelDataSet& dataSet, std::string_view tag) {
  dataSet.CheckActive();
  dataSet.SetIndexName(tag);
}

void OpenIndexList(TSorrelDataSet& dataSet, std::string_view list, std::string_view tag) {
  if (dataSet.Active()) dataSet.CheckBrowseMode();
  dataSet.IndexDefs().SetUpdated(false);
  dataSet.SetIndexFiles(SorrelSplitIndexList(list));
  dataSet.SetIndexName(tag);
}

void BuildIndexTag(TSorrelDataSet& dataSet, std::string_view fileName, std::string_view tagName,
                   std::string_view keyExpression, std::string_view forExpression, int option,
                   int order) {
  DBFObject& handler = HandlerOf(dataSet);
  dataSet.CheckBrowseMode();
  dataSet.IndexDefs().SetUpdated(false);
  {
    dataSet.DisableControls();
    AtExit enable([&dataSet] { dataSet.EnableControls(); });
    try {
      // While the tag is built the data set refuses work ("Table is busy building an index"),
      // e.g. from an OnStatus handler; the former code is back before anything else runs.
      const uint8_t formerBusy = dataSet.BusyCode();
      dataSet.SetBusyCode(1);
      AtExit idle([&dataSet, formerBusy] { dataSet.SetBusyCode(formerBusy); });
      handler.CreateIndexTag(fileName, tagName, keyExpression, forExpression, option, order);
    } catch (...) {
      // The build closed every index file: open them again so that posts keep the tags current,
      // even though this build failed. An error there would hide the build's own.
      try {
        dataSet.SetIndexFiles(dataSet.IndexFiles());
        dataSet.SetIndexName(dataSet.IndexName());
      } catch (...) {
      }
      throw;
    }
  }
  // The build leaves no index file open: the data set's own list and tag come back.
  dataSet.SetIndexFiles(dataSet.IndexFiles());
  dataSet.SetIndexName(dataSet.IndexName());
  dataSet.First();
}

void RebuildIndexes(TSorrelDataSet& dataSet) {
  DBFObject& handler = HandlerOf(dataSet);
  dataSet.CheckBrowseMode();
  handler.Reindex();
}

bool SeekIndexKey(TSorrelDataSet& dataSet, std::string_view key, bool exact, bool near) {
  DBFObject& handler = HandlerOf(dataSet);
  dataSet.CheckBrowseMode();
  if (handler.MasterTag() == nullptr) throw EDatabaseError(smNoIndexForFind);
  if (handler.RecordCount() == 0 || dataSet.RecNo() == 0 || dataSet.ActiveBuffer() == nullptr)
    return false;
  handler.SetExact(exact);
  handler.SetNear(near);
  const bool found = handler.Find(key);
  if (found || (near && !handler.Eof())) {
    ShowHandlerRecord(dataSet);
  } else {
    dataSet.Last();
  }
  return found;
}

void PackTable(TSorrelDataSet& dataSet) {
  DBFObject& handler = HandlerOf(dataSet);
  dataSet.CheckBrowseMode();
  handler.AllowReadBuffer(false);
  handler.Pack();
  dataSet.First();
}

bool SorrelLocate(TSorrelDataSet& dataSet, std::string_view keyFields,
                  const std::vector<TVarValue>& keyValues, uint8_t options) {
  DBFObject& handler = HandlerOf(dataSet);
  dataSet.CheckBrowseMode();
  const int32_t before = handler.RecNo();
  const bool found = SorrelSearch(handler, keyFields, keyValues, (options & loPartialKey) != 0,
                            (options & loCaseInsensitive) != 0);
  if (found) {
    ShowHandlerRecord(dataSet);
  } else {
    handler.GoTo(before);
  }
  return found;
}

TVarValue SorrelLookup(TSorrelDataSet& dataSet, std::string_view keyFields,
                       const std::vector<TVarValue>& keyValues, std::string_view resultFields) {
  return dataSet.Lookup(keyFields, keyValues, resultFields);
}

std::string SorrelMasterKey(TSorrelDataSet& detail) {
  // The key is also needed while the data set opens (its range is set before the first read),
  // so an open handler is enough here.
  if (detail.Handler() == nullptr) detail.CheckActive();
  DBFObject& handler = *detail.Handler();
  HXobjIndexTag* tag = handler.MasterTag();
  if (tag == nullptr) throw EDatabaseError(smMasterDetailNoIndex, {detail.TableName()});
  TDataSet* master = MasterOf(detail);
  if (master != nullptr && master->State() == TDataSetState::dsInsert) return kNoDetailKey;
  std::vector<std::string> values;
  for (const std::string& name : SplitFieldNames(detail.MasterFields()))
    values.push_back(master != nullptr ? master->FieldByName(name)->AsString() : std::string());
  const std::vector<std::string> fields = ExpressionFields(handler, tag->KeyExpression());
  if (fields.size() < values.size())
    throw EDatabaseError(smMasterDetailFieldMismatch, {detail.TableName()});

  // The key is computed on a scratch record, so the handler's own record stays as it is.
  std::vector<char> scratch(static_cast<size_t>(handler.RecordLength()) + 1, '\0');
  char* const saved = handler.SetRecordBuffer(scratch.data());
  AtExit back([&] { handler.SetRecordBuffer(saved); });
  handler.BlankRecord();
  for (size_t i = 0; i < values.size(); ++i) handler.PutText(fields[i], values[i]);
  HXobjIndexKeyData key;
  tag->EvaluateKey(key);
  return key.GetString();
}

void SorrelMasterChanged(TSorrelDataSet& detail) {
  TDataSet* master = MasterOf(detail);
  if (master == nullptr || !master->Active() || master->IsEmpty()) return;
  DBFObject& handler = HandlerOf(detail);
  detail.CheckBrowseMode();
  const std::string key = SorrelMasterKey(detail);
  if (key != kNoDetailKey) handler.SetKeyRange(key, key, kRangeOn);
  detail.First();
}

void SorrelMasterDisabled(TSorrelDataSet& detail) {
  DBFObject& handler = HandlerOf(detail);
  handler.SetKeyRange("", "", kRangeOff);
  detail.First();
}

void SorrelApplyMasterRange(TSorrelDataSet& detail) {
  TDataSet* master = MasterOf(detail);
  if (master == nullptr || !master->Active() || master->IsEmpty() || detail.Handler() == nullptr)
    return;
  const std::string key = SorrelMasterKey(detail);
  if (key != kNoDetailKey) detail.Handler()->SetKeyRange(key, key, kRangeOn);
}
