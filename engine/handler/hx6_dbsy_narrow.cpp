// Work spared by tags: filters and Locate narrowed by a tag (first half of this file), and moves
// through a small filter set in the master tag's order (second half).
//
// Filters and Locate narrowed by a tag. When a filter holds only where a text field equals a
// constant, or a Locate asks for a text field's value, and an open tag's key is exactly that
// field, the tag's entries that begin with the constant name every record that can answer; only
// those records are read and judged, the same way the scan judges each record it meets. Anything
// else is left to the scan.
//
// Why the tag's answer is the scan's: a tag of a plain text key holds, for every record, the
// field's bytes without trailing blanks, cut to the key length (HXobjIndexTag::KeysKeepText). A
// record passes "FIELD = 'text'" only when the field is the text followed by blanks (the
// language compares texts without trailing blanks, and only byte-identical texts are equal), and
// Locate stops only where the field begins with the asked text (and, unless a partial value is
// asked, holds nothing else but blanks or zero bytes). Either way the record's key begins with
// the text as the tag stores it, so the prefix walk finds it; records it finds that do not answer
// are judged like any other and fall out. Tags that could miss a record are never used: tags with
// a FOR condition or the unique flag (not every record has an entry), tags whose keys are not the
// field's bytes (collation weights, case folding). Case-insensitive questions, wildcard patterns
// (the language's wildcard test is a containment test, which no key order answers), key ranges
// and a data set's own record test go to the scan.
//
// Every candidate is then taken through the scan's own steps in record order: deleted records
// only while shown, the filter set while a filter is in force, the full expression or every asked
// field. The set and the record found are therefore the scan's. The one difference is what is
// not read: a damaged record the scan would stop on (a number field that does not convert) is
// not met unless the tag names it.
#include <algorithm>

#include "base/SysSorl.h"
#include "handler/hx6_dbsy.h"
#include "expr/hx6_sql.h"

namespace {

const ThxExpBaseObject* Unwrapped(const ThxExpBaseObject* node) {
  while (node != nullptr && node->Kind() == enContainer)
    node = static_cast<const ThxExpContainer*>(node)->Inner();
  return node;
}

// An operand whose value is a constant or a field's value, read without any other work that
// could fail or differ between one record and the next: a literal, a system variable, or a table
// field other than a memo.
bool IsPlainOperand(const HXO_dBaseFld& table, const ThxExpBaseObject* node) {
  node = Unwrapped(node);
  if (node == nullptr) return false;
  switch (node->Kind()) {
    case enTextLit:
    case enNumLit:
    case enDateLit:
    case enBlnLit:
      return true;
    case enFieldVar: {
      const ThxUserDefFieldVar* var = static_cast<const ThxExpFieldvar*>(node)->FieldVar();
      if (node->ClassCode() != kTableFieldClassCode) return node->ClassCode() == kFieldVarClassCode;
      for (int n = 1; n <= table.FieldListCount(); ++n) {
        const ThxDBFFields* field = table.Field(n);
        if (field->FieldVar() != var) continue;
        const char type = field->Type();
        return type != 'M' && type != 'G' && type != 'B' && type != 'P';
      }
      return false;
    }
    default:
      return false;
  }
}

// The comparisons of a filter that is one comparison of plain operands, or the .AND. of such
// terms (in parentheses or not); false for any other form.
bool CollectTerms(const HXO_dBaseFld& table, const ThxExpBaseObject* node,
                  std::vector<const ThxExpOperator*>& terms) {
  node = Unwrapped(node);
  if (node == nullptr || node->Kind() != enOperatorBound) return false;
  const auto* op = static_cast<const ThxExpOperator*>(node);
  if (op->Code() == ocAnd)
    return CollectTerms(table, op->Left(), terms) && CollectTerms(table, op->Right(), terms);
  if (op->Code() < ocEqual || op->Code() > ocInString) return false;
  if (!IsPlainOperand(table, op->Left()) || !IsPlainOperand(table, op->Right())) return false;
  terms.push_back(op);
  return true;
}

std::string_view WithoutTrailingBlanks(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

bool HXO_dBHandler::LoadRecordDirect(int32_t record) {
  const bool savedDirect = directRead_;
  directRead_ = true;
  struct Back {
    bool& flag;
    bool value;
    ~Back() { flag = value; }
  } back{directRead_, savedDirect};
  return IndexLoadRecord(record);
}

HXobjIndexTag* HXO_dBHandler::TextFieldTag(int field) const {
  if (field < 1 || field > FieldCount() || FieldInfo(field).type != 'C') return nullptr;
  const std::string name = SysUpperCase(FieldInfo(field).name);
  // A name the system variables take (TRUE, FALSE, PI) means them in a key, not the field.
  if (GlobalFieldVarReg().Find(name) != nullptr) return nullptr;
  auto serves = [&](HXobjIndexTag* tag) {
    return tag != nullptr && tag->Valid() && !tag->HasFilter() && !tag->Unique() &&
           tag->KeyType() == 'C' && tag->KeyLength() > 0 && tag->KeysKeepText() &&
           NormalisedKeyExpression(tag->KeyExpression()) == name;
  };
  if (serves(master_)) return master_;
  const int count = TagCount();
  for (int i = 1; i <= count; ++i)
    if (HXobjIndexTag* tag = TagByPosition(i); tag != master_ && serves(tag)) return tag;
  return nullptr;
}

std::optional<std::vector<int32_t>> HXO_dBHandler::TagCandidates(int field, std::string_view text,
                                                                 int32_t count) {
  if (text.empty()) return std::nullopt;
  HXobjIndexTag* tag = TextFieldTag(field);
  if (tag == nullptr) return std::nullopt;
  HXobjIndexKeyData prefix;
  prefix.PutString(text);
  prefix.SetRecNo(kAnyRecord);
  prefix.SetTarget(kAnyRecord);
  tag->TranslateKey(prefix, true);
  if (prefix.Length() == 0) return std::nullopt;
  std::vector<int32_t> records = tag->RecordsWithKeyPrefix(prefix);
  std::erase_if(records, [count](int32_t r) { return r < 1 || r > count; });
  std::sort(records.begin(), records.end());
  records.erase(std::unique(records.begin(), records.end()), records.end());
  return records;
}

std::optional<std::vector<int32_t>> HXO_dBHandler::FilterCandidates(int32_t count) {
  if (!filter_ || HasOwnRecordTest()) return std::nullopt;
  std::vector<const ThxExpOperator*> terms;
  if (!CollectTerms(*this, filter_->Root(), terms)) return std::nullopt;
  for (const ThxExpOperator* term : terms) {
    // FIELD = 'text', compared byte for byte: case kept, the text not a wildcard pattern.
    if (term->Code() != ocEqual || term->CaseInsensitive()) continue;
    const ThxExpBaseObject* left = Unwrapped(term->Left());
    const ThxExpBaseObject* right = Unwrapped(term->Right());
    if (left->Kind() != enFieldVar || left->ClassCode() != kTableFieldClassCode ||
        right->Kind() != enTextLit)
      continue;
    const std::string_view text =
        WithoutTrailingBlanks(static_cast<const ThxExpTextLit*>(right)->Text());
    if (text.empty()) continue;
    if (term->Wildcard() &&
        (text.front() == term->ManyWildcard() || text.back() == term->ManyWildcard()))
      continue;
    const ThxUserDefFieldVar* var = static_cast<const ThxExpFieldvar*>(left)->FieldVar();
    for (int n = 1; n <= FieldListCount(); ++n) {
      if (Field(n)->FieldVar() != var) continue;
      if (auto candidates = TagCandidates(n, text, count)) return candidates;
      break;
    }
  }
  return std::nullopt;
}

std::optional<std::vector<int32_t>> HXO_dBHandler::LocateCandidates(
    const std::vector<const ThxFieldInfo*>& fields, const std::vector<std::string>& texts,
    int32_t count) {
  if (HasOwnRecordTest()) return std::nullopt;
  for (size_t i = 0; i < fields.size(); ++i)
    if (auto candidates = TagCandidates(fields[i]->number, texts[i], count)) return candidates;
  return std::nullopt;
}

bool HXO_dBHandler::LocateByCandidates(const std::vector<int32_t>& candidates,
                                       const std::vector<const ThxFieldInfo*>& fields,
                                       const std::vector<std::string>& texts, bool partialKey) {
  for (const int32_t r : candidates) {
    // The records the scan meets: those in the filter set while a filter is in force, deleted
    // ones only while shown.
    if (FilterInForce() && !filterSet_->TestBit(r)) continue;
    if (!LoadRecordDirect(r)) continue;
    if (IsDeleted() && !showDeleted_) continue;
    if (!AcceptRecord()) continue;
    if (!RecordMatches(fields, texts, partialKey, false)) continue;
    GoTo(r);
    return true;
  }
  // Not found: the handler ends where the scan would, past the last record it can show.
  GoTo(kGotoLast);
  if (Bof() || Eof())
    GoTo(kGotoFirst);
  else
    GoTo(kGotoNext);
  return false;
}

// ---------------------------------------------------------------------------------------------
// Moving through a small filter set in the master tag's order
//
// With a filter in force, a move in tag order steps from entry to entry until it meets a record
// of the filter set: a few steps when most records pass, every entry of the tag when few do (the
// duplicate check's filter passes a handful of a million contacts, and moving to its first or
// last record stepped over nearly all of them). When the set is small, the passing records'
// entries are made once (each record read, its key evaluated as the tag stores it) and sorted as
// the tag sorts them: by key, then by record number. The step-by-step walk stops at the first
// passing entry after the current one, which is the first of these after it; the move goes there
// directly, and where there is none, to the end the walk would reach. That order is the tree's
// only where equal keys are ordered by record number, and every passing record has its entry
// only in a tag without a FOR condition or the unique flag; anywhere else, and with a key range,
// the walk stays. An entry the tag does not hold after all (another program changed the record)
// sends the move back to the walk.
//
// The entries are made again after any change of the filter set, the master tag or a record of
// this handle; on a shared table also when the index file's change stamp shows that another
// program changed keys since (looked at once per call from outside).

bool HXO_dBHandler::PassingEntriesPay(int64_t passing, int64_t records) const {
  // Making the entries reads `passing` records; a walk to the first or last passing record steps
  // over records / passing entries on average. On a shared file a step takes about four system
  // calls (header lock and unlock, size and change checks) against a record's one read; on an
  // exclusive file about as long as a read. The entries pay once they are quicker than that one
  // walk: passing x passing < records x steps per read. Beyond a few thousand, stepping is as
  // quick anyway.
  const int64_t stepsPerRead = Shared() ? 4 : 1;
  return passing <= 4096 && passing * passing <= records * stepsPerRead;
}

bool HXO_dBHandler::EntriesFollowTag(const HXobjIndexTag* tag) const {
  return tag != nullptr && !tag->HasRange() && !tag->HasFilter() && !tag->Unique() &&
         tag->File() != nullptr && tag->File()->EqualKeysByRecord() &&
         tag->KeyHandler() != nullptr;
}

bool HXO_dBHandler::PassingEntryOf(HXobjIndexTag* tag, int32_t record,
                                   std::vector<HXobjIndexKeyData>& entries) {
  HXobjIndexKeyData key;
  if (!tag->EvaluateKey(key)) return false;
  key.SetRecNo(record);
  key.SetTarget(record);
  tag->TranslateKey(key, true);
  entries.push_back(std::move(key));
  return true;
}

void HXO_dBHandler::KeepPassingEntries(HXobjIndexTag* tag, std::vector<HXobjIndexKeyData> entries,
                                       bool stamped, uint32_t stamp) {
  std::sort(entries.begin(), entries.end(),
            [tag](const HXobjIndexKeyData& a, const HXobjIndexKeyData& b) {
              return tag->CompareEntries(a, b) < 0;
            });
  passingEntries_ = std::move(entries);
  passingUnfit_ = false;
  passingTag_ = tag;
  passingBuiltAt_ = passingGeneration_;
  passingCall_ = callSerial_;
  passingStamped_ = stamped;
  passingStamp_ = stamp;
}

const std::vector<HXobjIndexKeyData>* HXO_dBHandler::PassingEntries() {
  HXobjIndexTag* tag = master_;
  if (!FilterInForce() || !EntriesFollowTag(tag)) return nullptr;
  if (passingTag_ == tag && passingBuiltAt_ == passingGeneration_) {
    // On a shared table another program may have changed keys since the last outside call: the
    // index file's change stamp tells.
    uint32_t stamp = 0;
    if (!Shared() || passingCall_ == callSerial_ ||
        (passingStamped_ && tag->File()->ChangeStamp(stamp) && stamp == passingStamp_)) {
      passingCall_ = callSerial_;
      return passingUnfit_ ? nullptr : &passingEntries_;
    }
  }
  // The stamp is taken before the records are read: a change made meanwhile shows next time.
  uint32_t stamp = 0;
  const bool stamped = Shared() && tag->File()->ChangeStamp(stamp);
  passingTag_ = nullptr;
  passingUnfit_ = false;
  passingEntries_.clear();
  const ThxHugeSet& set = *filterSet_;
  const int32_t last = set.HighestIndex();
  std::vector<int32_t> records;
  for (int32_t r = set.NextSetBit(1, last); r > 0; r = set.NextSetBit(r + 1, last)) {
    records.push_back(r);
    if (!PassingEntriesPay(static_cast<int64_t>(records.size()), RecordCount())) {
      // Too many: stepping does as well. The count is not asked again until the set changes.
      passingTag_ = tag;
      passingBuiltAt_ = passingGeneration_;
      passingCall_ = callSerial_;
      passingStamped_ = stamped;
      passingStamp_ = stamp;
      passingUnfit_ = true;
      return nullptr;
    }
  }
  // Each record is read into a buffer of our own: the handler's record and position stay.
  std::vector<char> scratch(static_cast<size_t>(RecordLength()) + 1, ' ');
  char* const own = SetRecordBuffer(scratch.data());
  const int32_t savedRecord = RecNo();
  struct Back {
    HXO_dBHandler& h;
    char* buffer;
    int32_t record;
    ~Back() {
      h.SetRecordBuffer(buffer);
      h.SetRecNo(record);
    }
  } back{*this, own, savedRecord};
  std::vector<HXobjIndexKeyData> entries;
  entries.reserve(records.size());
  for (const int32_t r : records) {
    if (!LoadRecordDirect(r)) continue;  // beyond the table's end: no entry either
    if (!PassingEntryOf(tag, r, entries)) return nullptr;
  }
  KeepPassingEntries(tag, std::move(entries), stamped, stamp);
  return &passingEntries_;
}

bool HXO_dBHandler::JumpToPassing(int32_t code) {
  const std::vector<HXobjIndexKeyData>* entries = PassingEntries();
  if (entries == nullptr) return false;
  HXobjIndexTag* tag = master_;
  // Moves in the order the handler shows: a descending tag shows its tree from the end.
  const bool backward = tag->Descending();
  bool forward = true;        // the direction of the move as shown
  bool fromEnd = false;       // from the first (last) entry rather than the current one
  if (code == kGotoFirst || code == kGotoLast) {
    forward = code == kGotoFirst;
    fromEnd = true;
  } else {
    forward = code != kGotoPrevious;
    const int32_t record = tag->Move(kMoveCurrent);
    if (code == kGotoCurrent) {
      // The current entry stays when its record passes; otherwise on to the next that does.
      if (tag->Bof() || tag->Eof() || record <= 0) return false;
      if (filterSet_->TestBit(record)) {
        SetBof(false);
        SetEof(false);
        ReadRecordAt(record);
        return true;
      }
    } else if ((forward && tag->Bof()) || (!forward && tag->Eof())) {
      fromEnd = true;  // a step from before the first entry is a move to the first
    } else if (tag->Bof() || tag->Eof() || record <= 0) {
      return false;
    }
  }
  const HXobjIndexKeyData here = tag->CurrentKey();
  // The target in the tree's own order: after `here` when moving forward on an ascending tag or
  // backward on a descending one, else before it.
  const bool later = forward != backward;
  const HXobjIndexKeyData* target = nullptr;
  if (fromEnd) {
    if (!entries->empty()) target = later ? &entries->front() : &entries->back();
  } else if (later) {
    auto it = std::upper_bound(entries->begin(), entries->end(), here,
                               [tag](const HXobjIndexKeyData& a, const HXobjIndexKeyData& b) {
                                 return tag->CompareEntries(a, b) < 0;
                               });
    if (it != entries->end()) target = &*it;
  } else {
    auto it = std::lower_bound(entries->begin(), entries->end(), here,
                               [tag](const HXobjIndexKeyData& a, const HXobjIndexKeyData& b) {
                                 return tag->CompareEntries(a, b) < 0;
                               });
    if (it != entries->begin()) target = &*std::prev(it);
  }
  if (target == nullptr) {
    // No passing entry that way: where the walk ends, one step past the last entry.
    tag->Move(forward ? kMoveBottom : kMoveTop);
    if (!tag->Bof() && !tag->Eof()) tag->Move(forward ? kMoveNext : kMovePrior);
    SetBof(tag->Bof());
    SetEof(tag->Eof());
    return true;
  }
  const int32_t record = tag->SeekEntry(*target);
  if (record != target->RecNo()) {
    // The tag does not hold the entry: back to where the move started, and the walk decides.
    ForgetPassingEntries();
    if (!fromEnd) tag->SeekEntry(here);
    return false;
  }
  SetBof(false);
  SetEof(false);
  ReadRecordAt(record);
  return true;
}
