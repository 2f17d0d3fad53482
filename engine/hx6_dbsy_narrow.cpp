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

#include "SysSorl.h"
#include "hx6_dbsy.h"
#include "hx6_sql.h"

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
