// The handler's navigation, key search, key ranges, filters, Locate and read-ahead buffer.
// Index file handling is in hx6_dbsy_index.cpp; pack and the password change in
// hx6_dbsy_maint.cpp.
#include "handler/hx6_dbsy.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/SysSorl.h"
#include "index/hx6_cdx.h"
#include "base/hx6_date.h"
#include "base/hx6_glbl.h"
#include "expr/hx6_sql.h"

namespace {

// Runs a clean-up when the scope ends, also when an error leaves it.
template <class F>
class OnExit {
 public:
  explicit OnExit(F f) : f_(std::move(f)) {}
  ~OnExit() {
    try {
      f_();
    } catch (...) {
      // The error that left the scope is the one to report.
    }
  }
  OnExit(const OnExit&) = delete;
  OnExit& operator=(const OnExit&) = delete;

 private:
  F f_;
};

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

std::string Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return std::string(TrimRight(s));
}

class HandlerIndexExpression : public HXobjIndexExpression {
 public:
  HandlerIndexExpression(ThxExpUserLink* link, const std::string& text)
      : handler_(link, false, text), text_(text) {}
  int EvaluateKey(ThxVariant& value) override {
    handler_.EvaluateKey(value);
    return handler_.ResultType();
  }
  std::string Text() const override { return text_; }

 private:
  ThxExpHandler handler_;
  std::string text_;
};

}  // namespace

std::string NormalisedKeyExpression(std::string_view text) {
  std::string s;
  for (char c : text)
    if (c != ' ' && c != '\t') s += c;
  s = SysUpperCase(s);
  while (s.size() >= 2 && s.front() == '(' && s.back() == ')') {
    // Only when the outer pair belongs together: "(A)+(B)" keeps its parentheses.
    int depth = 0;
    bool outer = true;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
      if (s[i] == '(') ++depth;
      if (s[i] == ')') --depth;
      if (depth == 0) {
        outer = false;
        break;
      }
    }
    if (!outer) break;
    s = s.substr(1, s.size() - 2);
  }
  return s;
}

HXO_dBHandler::HXO_dBHandler(std::string_view path, bool shared, bool readWrite,
                             std::string_view password)
    : HXO_dBaseFld(path, shared, readWrite, password) {}

HXO_dBHandler::~HXO_dBHandler() {
  SettleBeforeClosing();
  filterSet_.reset();
  filter_.reset();
  master_ = nullptr;
  for (auto& slot : slots_) slot.reset();
  buffer_.clear();
}

// ---------------------------------------------------------------------------------------------
// Read-ahead buffer

void HXO_dBHandler::AllowReadBuffer(bool on) {
  bufferAllowed_ = on;
  if (!on) SetReadBuffer(false);
}

void HXO_dBHandler::SetReadBuffer(bool on) {
  if (!on) {
    std::vector<char>().swap(buffer_);
    bufferActive_ = false;
    bufferRecords_ = 0;
    DropReadBuffer();
    return;
  }
  if (!bufferAllowed_ || bufferActive_) return;
  const int length = RecordLength();
  const int size = std::max(length, kReadBufferSize / length * length);
  buffer_.assign(static_cast<size_t>(size), 0);
  bufferRecords_ = size / length;
  bufferActive_ = true;
  DropReadBuffer();
}

void HXO_dBHandler::DropReadBuffer() {
  bufferStart_ = -1;
  bufferEnd_ = -1;
}

void HXO_dBHandler::ValidateReadBuffer() {
  // Other programs may write a shared table at any time, and the header's change stamp (one
  // millisecond) cannot show every such write: on a shared table the buffer serves one outside
  // call at most (a scan, a filter build, a Locate) and is dropped before the next.
  if (Shared()) DropReadBuffer();
}

int32_t HXO_dBHandler::Read(int64_t offset, void* buffer, int32_t count) {
  const auto size = static_cast<int64_t>(buffer_.size());
  if (!bufferActive_ || directRead_ || offset < HeaderLength() || count > size) {
    const int32_t got = HXO_DiskFile::Read(offset, buffer, count);
    // A record read past the buffer refreshes the buffer's copy, so the two never disagree.
    if (bufferActive_ && bufferStart_ >= 0 && got > 0) {
      const int64_t from = std::max(offset, bufferStart_);
      const int64_t to = std::min(offset + got, bufferEnd_);
      if (from < to)
        std::memcpy(buffer_.data() + (from - bufferStart_),
                    static_cast<const char*>(buffer) + (from - offset),
                    static_cast<size_t>(to - from));
    }
    return got;
  }
  if (bufferStart_ < 0 || offset < bufferStart_ || offset + count > bufferEnd_) {
    const int32_t got = HXO_DiskFile::Read(offset, buffer_.data(), static_cast<int32_t>(size));
    bufferStart_ = offset;
    bufferEnd_ = offset + std::max(got, 0);  // only what was actually read
  }
  const int64_t available = bufferEnd_ - offset;
  if (available <= 0) return 0;
  const auto n = static_cast<int32_t>(std::min<int64_t>(count, available));
  std::memcpy(buffer, buffer_.data() + (offset - bufferStart_), static_cast<size_t>(n));
  return n;
}

char* HXO_dBHandler::BufferedRecord(int32_t record) {
  const int64_t offset = RecordOffset(record);
  const int length = RecordLength();
  if (bufferStart_ < 0 || offset < bufferStart_ || offset + length > bufferEnd_) {
    const int32_t got =
        HXO_DiskFile::Read(offset, buffer_.data(), static_cast<int32_t>(buffer_.size()));
    bufferStart_ = offset;
    bufferEnd_ = offset + std::max(got, 0);
  }
  if (offset + length > bufferEnd_) return nullptr;
  return buffer_.data() + (offset - bufferStart_);
}

void HXO_dBHandler::Write(int64_t offset, const void* buffer, int32_t count) {
  HXO_DiskFile::Write(offset, buffer, count);
  if (bufferStart_ < 0) return;
  const int64_t from = std::max(offset, bufferStart_);
  const int64_t to = std::min(offset + count, bufferEnd_);
  if (from < to)
    std::memcpy(buffer_.data() + (from - bufferStart_),
                static_cast<const char*>(buffer) + (from - offset), static_cast<size_t>(to - from));
}

// ---------------------------------------------------------------------------------------------
// Navigation

bool HXO_dBHandler::FilterInForce() const {
  return filterActive_ && filter_ && filterSet_ && filter_->OperandCount() > 0;
}

void HXO_dBHandler::ReadRecordAt(int32_t record) {
  if (record > RecordCount()) RefreshHeader();
  if (record < 1 || record > RecordCount()) {
    BlankRecord();
    return;
  }
  HXO_dBaseFld::GotoRecord(record);
}

void HXO_dBHandler::GoTo(int32_t code) {
  CallScope call(*this);
  // A single step asked for from outside reads a shared table's record from the file.
  const bool savedDirect = directRead_;
  OnExit back([this, savedDirect] { directRead_ = savedDirect; });
  if (callDepth_ == 1 && Shared()) directRead_ = true;
  if (TableState() != kHandlerIdle) {
    HXO_dBaseFld::GotoRecord(code);
    return;
  }
  int32_t direction = 0;
  if (code == kGotoFirst || code == kGotoCurrent || code == kGotoNext) direction = kGotoNext;
  if (code == kGotoLast || code == kGotoPrevious) direction = kGotoPrevious;
  int32_t step = code;
  for (;;) {
    Position(step);
    if (Bof() || Eof() || direction == 0) break;
    if (RecNo() < 1 || RecNo() > RecordCount()) break;
    if ((IsDeleted() && !showDeleted_) || !AcceptRecord()) {
      step = direction;
      continue;
    }
    break;
  }
  lastMove_ = (Bof() || Eof()) ? 0 : 1;
  if (LockProtocol() == ThxLokProtocol::ClipLock) UnlockIndexFiles();
}

void HXO_dBHandler::Position(int32_t code) {
  if (code >= 0) {
    // A record asked for by number (an edit re-reading its record, a bookmark) always comes
    // from the file, never from the read-ahead buffer.
    const bool savedDirect = directRead_;
    directRead_ = true;
    OnExit back([this, savedDirect] { directRead_ = savedDirect; });
    if (code == 0) return;
    ReadRecordAt(code);
    if (master_ && !Bof() && !Eof() && RecNo() == code) master_->Resync(code);
    return;
  }
  int32_t direction = 0;
  if (code == kGotoFirst || code == kGotoCurrent || code == kGotoNext) direction = kGotoNext;
  if (code == kGotoLast || code == kGotoPrevious) direction = kGotoPrevious;
  if (master_) {
    PositionByTag(code, direction);
  } else if (FilterInForce()) {
    PositionBySet(code);
  } else {
    HXO_dBaseFld::GotoRecord(code);
  }
}

void HXO_dBHandler::PositionByTag(int32_t code, int32_t direction) {
  if (direction != 0 && FilterInForce() && JumpToPassing(code)) return;
  int32_t record = master_->Move(code);
  if (code == kGotoCurrent && record == 0 && !master_->Bof() && !master_->Eof())
    record = master_->Resync(RecNo());
  // Passed over: records the filter refuses, and keys of records past the table's end (another
  // program cut the table and left its indexes), counted as stray keys.
  while (!master_->Bof() && !master_->Eof() && record > 0 && direction != 0) {
    if (record > RecordCount()) {
      RefreshHeader();
      if (record > RecordCount()) {
        ++strayIndexKeys_;
        record = master_->Move(direction);
        continue;
      }
    }
    if (!FilterInForce() || filterSet_->TestBit(record)) break;
    record = master_->Move(direction);
  }
  SetBof(master_->Bof());
  SetEof(master_->Eof());
  if (Bof() || Eof()) return;
  ReadRecordAt(record);
}

void HXO_dBHandler::PositionBySet(int32_t code) {
  const ThxHugeSet& set = *filterSet_;
  if (RecordCount() == 0 || set.HighestIndex() > RecordCount()) RefreshHeader();
  const int32_t last = std::min(set.HighestIndex(), RecordCount());
  // The nearest passing record at or after / at or before `from` within 1..last, 0 when none.
  auto up = [&](int32_t from) { return std::max(set.NextSetBit(std::max(from, 1), last), 0); };
  auto down = [&](int32_t from) {
    if (from < 1) return 0;
    return std::max(set.PriorSetBit(std::min(from, last)), 0);
  };
  int32_t record = 0;
  bool forward = true;
  switch (code) {
    case kGotoFirst:
      record = up(1);
      break;
    case kGotoNext:
      record = up(RecNo() + 1);
      break;
    case kGotoCurrent:
      record = up(RecNo());
      break;
    case kGotoLast:
      record = down(last);
      forward = false;
      break;
    case kGotoPrevious:
      record = down(RecNo() - 1);
      forward = false;
      break;
    default:
      break;
  }
  SetBof(false);
  SetEof(false);
  if (record == 0) {
    if (up(1) == 0) {
      SetBof(true);
      SetEof(true);
    } else if (forward) {
      SetEof(true);
    } else {
      SetBof(true);
    }
    return;
  }
  ReadRecordAt(record);
}

void HXO_dBHandler::Skip(int32_t count) {
  CallScope call(*this);
  const bool savedDirect = directRead_;
  OnExit back([this, savedDirect] { directRead_ = savedDirect; });
  if (callDepth_ == 1 && Shared()) directRead_ = true;
  if (count == 0) {
    GoTo(kGotoCurrent);
    return;
  }
  const int32_t direction = count > 0 ? kGotoNext : kGotoPrevious;
  const int64_t steps = count > 0 ? static_cast<int64_t>(count) : -static_cast<int64_t>(count);
  if (!filterActive_ && showDeleted_ && TableState() == kHandlerIdle) {
    if (!master_) {
      if (RecordCount() == 0) RefreshHeader();
      if (RecordCount() == 0) {
        SetBof(true);
        SetEof(true);
        lastMove_ = 0;
        return;
      }
      int64_t target = static_cast<int64_t>(RecNo()) + count;
      bool cutEnd = false, cutStart = false;
      if (target > RecordCount()) RefreshHeader();
      if (target > RecordCount()) {
        target = RecordCount();
        cutEnd = true;
      }
      if (target < 1) {
        target = 1;
        cutStart = true;
      }
      GoTo(static_cast<int32_t>(target));
      if (cutEnd) SetEof(true);
      if (cutStart) SetBof(true);
    } else {
      int32_t record = 0;
      for (int64_t i = 0; i < steps; ++i) {
        record = master_->Move(direction);
        if (master_->Bof() || master_->Eof()) break;
      }
      SetBof(master_->Bof());
      SetEof(master_->Eof());
      if (!Bof() && !Eof()) ReadRecordAt(record);
    }
    lastMove_ = (Bof() || Eof()) ? 0 : 1;
    return;
  }
  for (int64_t i = 0; i < steps; ++i) {
    GoTo(direction);
    if (Eof() || Bof()) break;
  }
}

// ---------------------------------------------------------------------------------------------
// Key search

HXobjIndexKeyData HXO_dBHandler::SearchKey(HXobjIndexTag* tag, std::string_view key) const {
  HXobjIndexKeyData k;
  if (tag->KeyType() == 'N') {
    double value = 0;
    if (!ExpTextToFloat(key, value)) value = 0;
    k.PutFloat(value);
  } else if (tag->KeyType() == 'D') {
    int32_t day = 0;
    try {
      day = DBFDate().CTOD(key);
    } catch (const EConvertError&) {
      day = 0;
    }
    k.PutDate(day);
  } else {
    k.PutString(key);
  }
  k.SetRecNo(kAnyRecord);
  k.SetTarget(kAnyRecord);
  return k;
}

bool HXO_dBHandler::Find(std::string_view key) {
  CallScope call(*this);
  found_ = false;
  if (!master_) {
    if (RecordCount() == 0) RefreshHeader();
    if (RecordCount() == 0) return false;
    const bool clip = LockProtocol() == ThxLokProtocol::ClipLock;
    if (clip) LockIndexFiles();
    OnExit unlock([this, clip] {
      if (clip) UnlockIndexFiles();
    });
    GoTo(kGotoLast);
    SetEof(true);
    return false;
  }
  return FindKey(SearchKey(master_, key));
}

bool HXO_dBHandler::FindKey(const HXobjIndexKeyData& key) {
  found_ = false;
  if (RecordCount() == 0) RefreshHeader();
  if (RecordCount() == 0) return false;
  const bool clip = LockProtocol() == ThxLokProtocol::ClipLock;
  if (clip) LockIndexFiles();
  OnExit unlock([this, clip] {
    if (clip) UnlockIndexFiles();
  });
  if (!master_) {
    GoTo(kGotoLast);
    SetEof(true);
    return false;
  }
  HXobjIndexKeyData search = key;
  search.SetRecNo(kAnyRecord);
  search.SetTarget(kAnyRecord);
  // A number's or a date's stored bytes have no meaningful prefix: those keys match whole.
  const bool exact = exact_ || master_->KeyType() != 'C';
  master_->File()->SetExact(exact);
  const int32_t record = master_->Seek(search);
  master_->File()->SetExact(exact_);
  if (record <= 0) {
    if (master_->Eof() || !near_) {
      GoTo(kGotoLast);
      SetEof(true);
    } else if (master_->Bof()) {
      GoTo(kGotoFirst);  // the search key lies before every key: the next key is the first
    } else {
      GoTo(kGotoCurrent);
    }
    return false;
  }
  HXobjIndexKeyData stored = search;
  master_->TranslateKey(stored, true);
  // Whether a key of the tag answers the search: equal, or beginning with it unless exact.
  auto answers = [&](const HXobjIndexKeyData& entry) {
    int position = 0;
    const int order = stored.Compare(&entry, position, nullptr, -1);
    return order == 0 || (!exact && position > stored.Length());
  };
  int32_t first = record;
  if (master_->Descending()) {
    // The search found the first answer in key order, which a descending tag shows last: start
    // from the last one in key order instead, so that moving on passes every answer.
    for (;;) {
      const int32_t next = master_->Move(kGotoPrevious);
      if (next <= 0 || master_->Bof() || master_->Eof() || !answers(master_->CurrentKey())) break;
      first = next;
    }
  }
  GoTo(first);
  // Move on past records that are not to be shown: deleted ones while hidden, those the data
  // set refuses, and those the filter in force excludes.
  while (!Eof() && !Bof() &&
         ((IsDeleted() && !showDeleted_) || !AcceptRecord() ||
          (FilterInForce() && !filterSet_->TestBit(RecNo()))))
    GoTo(kGotoNext);
  if (Eof() || Bof()) return false;
  if (answers(master_->CurrentKey())) {
    found_ = true;
  } else if (!near_) {
    GoTo(kGotoLast);
    SetEof(true);
  }
  return found_;
}

int32_t HXO_dBHandler::FindKeyInTag(std::string_view tagName, std::string_view key) {
  CallScope call(*this);
  const bool clip = LockProtocol() == ThxLokProtocol::ClipLock;
  if (clip) LockIndexFiles();
  OnExit unlock([this, clip] {
    if (clip) UnlockIndexFiles();
  });
  for (const auto& file : slots_) {
    if (!file) continue;
    HXobjIndexTag* tag = file->TagByName(Trim(tagName));
    if (!tag) continue;
    file->SetExact(true);
    OnExit exact([this, &file] { file->SetExact(exact_); });
    const int32_t record = tag->FindRecord(SearchKey(tag, key));
    return record > 0 ? record : -1;
  }
  return -1;
}

bool HXO_dBHandler::KeyRangeSet() const { return master_ && master_->HasRange(); }

bool HXO_dBHandler::SetKeyRange(std::string_view lowKey, std::string_view highKey,
                                const std::array<uint8_t, 3>& options) {
  CallScope call(*this);
  if (!master_) return false;
  ThxVariant low, high;
  if (!lowKey.empty()) low.PutString(lowKey);
  if (!highKey.empty()) high.PutString(highKey);
  const bool changed =
      master_->SetRange(lowKey.empty() ? nullptr : &low, highKey.empty() ? nullptr : &high,
                        /*excludeHigh*/ options[2] == 0,
                        /*partialLow*/ options[0] != 0,
                        /*excludeLow*/ options[1] == 0);
  if (changed) {
    GoTo(kGotoFirst);
    if (Bof()) BlankRecord();
  }
  return true;
}

void HXO_dBHandler::ClearKeyRange() {
  if (master_) master_->SetRange(nullptr, nullptr, false, false, false);
}

// ---------------------------------------------------------------------------------------------
// Filters

bool HXO_dBHandler::EvaluateFilter(ThxExpHandler& handler) {
  // One value object serves every record of a filter build.
  ThxExpValue& value = filterValue_;
  value.Clear();  // as a fresh value: a node that reports a type without a value reads as null
  handler.Evaluate(value);
  const bool passes = handler.ResultType() == etBoolean && value.Boolean();
  // A filter's value is a logical; anything larger is not kept between records.
  if (value.Text().capacity() > 256) value = ThxExpValue();
  return passes;
}

void HXO_dBHandler::SetFilterActive(bool on) { filterActive_ = on; }

void HXO_dBHandler::ApplyFilterActive() { SetFilterActive(filterActive_); }

void HXO_dBHandler::SetFilter(std::string_view text, bool caseInsensitive, bool wildcards) {
  CallScope call(*this);
  if (!filterSet_) filterSet_ = std::make_unique<ThxHugeSet>();
  if (text.empty()) {
    filter_.reset();
    filterText_.clear();
    ApplyFilterActive();
    return;
  }
  if (filter_ && text == filterText_ && caseInsensitive == filterCaseInsensitive_ &&
      wildcards == filterWildcards_) {
    ApplyFilterActive();
    return;
  }
  // The new expression is parsed and checked on its own; only a good one replaces the filter
  // in force, so a typing error leaves the view as it was.
  auto handler = std::make_unique<ThxExpHandler>(Link(), false, std::string_view());
  handler->SetCaseInsensitive(caseInsensitive);
  handler->SetWildcard(wildcards);
  handler->SetExpression(text);
  ThxExpValue probe;
  handler->Evaluate(probe);
  if (handler->ResultType() != etBoolean) throw ESorrelError(smFilterNotBoolean, {});
  filter_ = std::move(handler);
  filterText_ = std::string(text);
  filterCaseInsensitive_ = caseInsensitive;
  filterWildcards_ = wildcards;
  BuildFilterSet();
  ApplyFilterActive();
}

void HXO_dBHandler::RefreshFilter() {
  CallScope call(*this);
  if (FilterInForce()) BuildFilterSet();
}

void HXO_dBHandler::BuildFilterSet() {
  ForgetPassingEntries();
  filterSet_->ClearAll();
  const int32_t saved = RecNo();
  const bool savedBuffer = bufferActive_;
  HXobjIndexTag* savedMaster = master_;
  const bool savedActive = filterActive_;
  OnExit restore([&] {
    filterActive_ = savedActive;
    master_ = savedMaster;
    SetReadBuffer(savedBuffer);
    if (saved >= 1 && saved <= RecordCount())
      GoTo(saved);
    else
      SetRecNo(saved);
  });
  filterActive_ = false;  // the set being built must not steer the scan
  if (!KeyRangeSet()) {
    master_ = nullptr;
    SetReadBuffer(true);
  }
  if (master_) {
    // A key range limits the scan to the master tag's range.
    GoTo(kGotoFirst);
    while (!Eof() && !Bof()) {
      if (EvaluateFilter(*filter_)) filterSet_->SetBit(RecNo(), ThxHugeSet::opSet);
      GoTo(kGotoNext);
    }
    return;
  }
  if (Shared()) RefreshHeader();
  const int32_t count = RecordCount();
  // A filter that holds only where a text field equals a constant, and a tag on that field: the
  // tag names the records that can pass, and only those are judged.
  if (const std::optional<std::vector<int32_t>> candidates = FilterCandidates(count)) {
    // The passing records' entries in the master tag are made on the way, for the moves that
    // follow (see JumpToPassing).
    HXobjIndexTag* order = EntriesFollowTag(savedMaster) ? savedMaster : nullptr;
    uint32_t stamp = 0;
    const bool stamped = order != nullptr && Shared() && order->File()->ChangeStamp(stamp);
    std::vector<HXobjIndexKeyData> entries;
    for (const int32_t r : *candidates) {
      if (!LoadRecordDirect(r)) continue;
      if (IsDeleted() && !showDeleted_) continue;
      if (!AcceptRecord()) continue;
      if (!EvaluateFilter(*filter_)) continue;
      filterSet_->SetBit(r, ThxHugeSet::opSet);
      if (order != nullptr && !PassingEntryOf(order, r, entries)) order = nullptr;
    }
    if (order != nullptr && PassingEntriesPay(static_cast<int64_t>(entries.size()), count))
      KeepPassingEntries(order, std::move(entries), stamped, stamp);
    return;
  }
  // Record order: every record straight from the read-ahead buffer, judged as navigation would
  // (deleted ones only when shown, the data set's own test), then by the expression.
  // A plain table's records are judged where they lie in the buffer, without a copy.
  const bool noCopy = bufferActive_ && !Encrypted();
  char* const own = RecordBuffer();
  OnExit back([this, own] { SetRecordBuffer(own); });
  const int length = RecordLength();
  for (int32_t r = 1; r <= count; ++r) {
    if (noCopy) {
      // Records lying in the buffer are taken from it in place; BufferedRecord refills it.
      const int64_t offset = RecordOffset(r);
      char* record = bufferStart_ >= 0 && offset >= bufferStart_ && offset + length <= bufferEnd_
                         ? buffer_.data() + (offset - bufferStart_)
                         : BufferedRecord(r);
      if (record == nullptr) break;
      SetRecordBuffer(record);
      SetRecNo(r);
    } else if (!IndexLoadRecord(r)) {
      break;
    }
    if (IsDeleted() && !showDeleted_) continue;
    if (!AcceptRecord()) continue;
    if (EvaluateFilter(*filter_)) filterSet_->SetBit(r, ThxHugeSet::opSet);
  }
}

// ---------------------------------------------------------------------------------------------
// Locate

HXobjIndexTag* HXO_dBHandler::LocateTag(const std::vector<std::string>& names, bool partialKey,
                                        bool caseInsensitive) {
  // Tag keys compare bytes as stored: they cannot answer a search that ignores case.
  if (caseInsensitive || names.empty()) return nullptr;
  // A partial match is a prefix of the last field's text; only text keys have such prefixes.
  if (partialKey && FieldType(FieldNumber(names.back())) != 'C') return nullptr;
  std::string wanted;
  for (const std::string& n : names) {
    if (!wanted.empty()) wanted += '+';
    wanted += n;
  }
  auto serves = [&](HXobjIndexTag* tag) {
    if (!tag || tag->HasFilter() || tag->Descending()) return false;
    // A collation that folds letters would find records the field comparison does not.
    if (auto* cdxTag = dynamic_cast<HXobjCDXTag*>(tag))
      if (cdxTag->Collation() == cdx::kCollateGeneral) return false;
    return NormalisedKeyExpression(tag->KeyExpression()) == wanted;
  };
  if (serves(master_)) return master_;
  const int count = TagCount();
  for (int i = 1; i <= count; ++i) {
    HXobjIndexTag* tag = TagByPosition(i);
    if (tag != master_ && serves(tag)) return tag;
  }
  return nullptr;
}

bool HXO_dBHandler::RecordMatches(const std::vector<const ThxFieldInfo*>& fields,
                                  const std::vector<std::string>& texts, bool partialKey,
                                  bool caseInsensitive) const {
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string_view value = TrimRight(std::string_view(RecordBuffer() + fields[i]->offset,
                                                        static_cast<size_t>(fields[i]->length)));
    std::string folded;
    if (caseInsensitive) {
      folded = SysUpperCase(value);
      value = folded;
    }
    if (partialKey && i + 1 == fields.size() && value.size() > texts[i].size())
      value = value.substr(0, texts[i].size());
    if (value != texts[i]) return false;
  }
  return true;
}

bool HXO_dBHandler::LocateByScan(const std::vector<const ThxFieldInfo*>& fields,
                                 const std::vector<std::string>& texts, bool partialKey,
                                 bool caseInsensitive) {
  GoTo(kGotoFirst);
  while (!Eof() && !Bof()) {
    if (RecordMatches(fields, texts, partialKey, caseInsensitive)) return true;
    GoTo(kGotoNext);
  }
  return false;
}

bool HXO_dBHandler::Locate(std::string_view fieldNames,
                           const std::vector<std::optional<std::string>>& values, bool partialKey,
                           bool caseInsensitive) {
  CallScope call(*this);
  found_ = false;
  if (RecordCount() == 0) RefreshHeader();
  if (RecordCount() == 0) {
    SetBof(true);
    SetEof(true);
    return false;
  }

  std::vector<std::string> names;
  {
    size_t start = 0;
    while (start <= fieldNames.size()) {
      size_t end = fieldNames.find(';', start);
      if (end == std::string_view::npos) end = fieldNames.size();
      std::string n = SysUpperCase(Trim(fieldNames.substr(start, end - start)));
      if (!n.empty()) names.push_back(n);
      start = end + 1;
    }
  }
  if (names.empty()) return false;
  std::vector<char> scratch(static_cast<size_t>(RecordLength()) + 1, ' ');
  LoadFieldValues(scratch.data(), fieldNames, values);

  HXobjIndexTag* savedMaster = master_;
  const bool savedBuffer = bufferActive_;
  const bool savedExact = exact_;
  const bool savedNear = near_;
  bool result = false;
  {
    OnExit restore([&] {
      master_ = savedMaster;
      exact_ = savedExact;
      near_ = savedNear;
      if (result) GoTo(RecNo());  // the master tag's position agrees with the record
      SetReadBuffer(savedBuffer);
    });
    // A partial question whose last value is empty asks nothing of that field. A search key
    // cannot say so: its trailing blanks are dropped, and the field before it would then match
    // as a prefix too ("W1A" finding "W1AW"). The scan answers such a question.
    bool lastAskedEmpty = false;
    if (partialKey) {
      const ThxFieldInfo& f = FieldInfo(FieldNumber(names.back()));
      lastAskedEmpty = TrimRight(std::string_view(scratch.data() + f.offset,
                                                  static_cast<size_t>(f.length)))
                           .empty();
    }
    HXobjIndexTag* tag = KeyRangeSet() || lastAskedEmpty
                             ? nullptr
                             : LocateTag(names, partialKey, caseInsensitive);
    if (tag) {
      master_ = tag;
      HXobjIndexKeyData key;
      char* previous = SetRecordBuffer(scratch.data());
      bool evaluated = false;
      {
        OnExit back([this, previous] { SetRecordBuffer(previous); });
        evaluated = tag->EvaluateKey(key);
      }
      if (evaluated) {
        exact_ = !partialKey;
        near_ = false;
        result = FindKey(key);
      }
    } else {
      std::vector<const ThxFieldInfo*> fields;
      std::vector<std::string> texts;
      for (const std::string& n : names) {
        const ThxFieldInfo& f = FieldInfo(FieldNumber(n));
        std::string text(
            TrimRight(std::string_view(scratch.data() + f.offset, static_cast<size_t>(f.length))));
        fields.push_back(&f);
        texts.push_back(caseInsensitive ? SysUpperCase(text) : text);
      }
      // A tag whose key is one of the asked text fields names every record that can match;
      // only those are compared, in record order, as the scan would meet them. A key range or
      // a case-insensitive question leaves the scan to answer.
      std::optional<std::vector<int32_t>> candidates;
      if (!KeyRangeSet() && !caseInsensitive) {
        if (Shared()) RefreshHeader();
        candidates = LocateCandidates(fields, texts, RecordCount());
      }
      if (!KeyRangeSet()) {
        master_ = nullptr;
        SetReadBuffer(true);
      }
      result = candidates ? LocateByCandidates(*candidates, fields, texts, partialKey)
                          : LocateByScan(fields, texts, partialKey, caseInsensitive);
    }
  }
  found_ = result;
  return result;
}

// ---------------------------------------------------------------------------------------------
// Status hook and the index framework's view

void HXO_dBHandler::StatusNotify(int code, int32_t record) {
  if (code == kStatusBeforeWrite || code == kStatusAfterWrite) ForgetPassingEntries();
  if (code == kStatusAfterWrite) {
    if (filter_ && filterSet_) {
      bool passes = false;
      try {
        passes = EvaluateFilter(*filter_);
      } catch (const ESorrelException&) {
        // The record is written; one the filter cannot judge is simply not shown.
      }
      filterSet_->SetBit(RecNo(), passes ? ThxHugeSet::opSet : ThxHugeSet::opClear);
    }
    try {
      for (auto& file : slots_)
        if (file) file->UpdateTags(RecNo(), record == 0);
    } catch (...) {
      // The record is written and the tags are not: the append or rewrite takes both back.
      indexUpdateFailed_ = true;
      throw;
    }
    if (master_) {
      SetBof(master_->Bof());
      SetEof(master_->Eof());
    }
  } else if (code == kStatusAfterFlush) {
    if (master_) master_->ReleasePages();
    for (auto& file : slots_)
      if (file && file->DiskFile()) file->DiskFile()->Flush();
    if (master_ && RecNo() >= 1) master_->Resync(RecNo());
  }
  HXO_dBaseFld::StatusNotify(code, record);
}

bool HXO_dBHandler::IndexFieldSize(std::string_view name, int& length, int& decimals) {
  const int number = FieldNumber(name);
  if (number == 0) return false;
  length = FieldLength(number);
  decimals = FieldDecimals(number);
  return true;
}

bool HXO_dBHandler::IndexLoadRecord(int32_t record) {
  if (record < 1 || record > RecordCount()) return false;
  if (Read(RecordOffset(record), RecordBuffer(), RecordLength()) < RecordLength()) return false;
  DescrambleRecord(RecordBuffer());
  SetRecNo(record);
  return true;
}

void HXO_dBHandler::IndexUseSavedRecord(bool saved) {
  if (saved) {
    savedSwap_ = SetRecordBuffer(SavedRecord());
  } else {
    SetRecordBuffer(savedSwap_);
    savedSwap_ = nullptr;
  }
}

void HXO_dBHandler::MarkProductionIndex() {
  // Under the append lock, like every header write of a shared table: a header written without
  // it could put back a record count another program has just moved on.
  AddTableFlags(kDbfFlagProductionIndex);
}

std::unique_ptr<HXobjIndexExpression> HXO_dBHandler::CompileIndexExpression(
    const std::string& text) {
  return std::make_unique<HandlerIndexExpression>(Link(), text);
}

// One thread's reader of this table for a parallel index build: records read straight from the
// table file (positional reads, which other threads' reads do not disturb) a stretch at a time
// into a buffer of its own, descrambled there, and expressions over the record in that buffer.
// It reads the handle's settings (record length, key, field list) and nothing else of it.
class HXO_dBHandler::BuildReader : public HXobjIndexRecordReader {
 public:
  explicit BuildReader(HXO_dBHandler& table)
      : table_(table),
        length_(static_cast<size_t>(table.RecordLength())),
        count_(table.RecordCount()),
        perStretch_(std::max<int32_t>(1, static_cast<int32_t>(kStretchBytes / length_))),
        stretch_(static_cast<size_t>(perStretch_) * length_ + 1),
        link_(table.MakeRecordLink(source_)) {}

  bool LoadRecord(int32_t record) override {
    if (record < 1 || record > count_) return false;
    if (record < first_ || record >= first_ + held_) {
      held_ = 0;
      first_ = record;
      const int32_t n = std::min(perStretch_, count_ - record + 1);
      const size_t want = static_cast<size_t>(n) * length_;
      size_t done = 0;
      while (done < want) {
        const ssize_t got = pread(table_.Handle(), stretch_.data() + done, want - done,
                                  static_cast<off_t>(table_.RecordOffset(record)) +
                                      static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
      }
      held_ = static_cast<int32_t>(done / length_);
      for (int32_t i = 0; i < held_; ++i) table_.DescrambleRecord(stretch_.data() + i * length_);
      if (held_ == 0) return false;
    }
    source_.record = stretch_.data() + static_cast<size_t>(record - first_) * length_;
    source_.recordNumber = record;
    return true;
  }

  std::unique_ptr<HXobjIndexExpression> CompileExpression(const std::string& text) override {
    return std::make_unique<HandlerIndexExpression>(link_.get(), text);
  }

 private:
  static constexpr size_t kStretchBytes = 256 * 1024;

  HXO_dBHandler& table_;
  const size_t length_;
  const int32_t count_;
  const int32_t perStretch_;
  std::vector<char> stretch_;
  int32_t first_ = 0;
  int32_t held_ = 0;
  ThxRecordSource source_;
  std::unique_ptr<ThxExpUserLink> link_;
};

std::unique_ptr<HXobjIndexRecordReader> HXO_dBHandler::IndexRecordReader() {
  if (Closed() || Handle() <= 0) return nullptr;
  return std::make_unique<BuildReader>(*this);
}
