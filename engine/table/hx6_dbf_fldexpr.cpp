// The table's own names for its expressions: the pseudo-functions RECNO, DELETED, BOF, EOF, TYPE,
// LEN and FIELDNO, and one field variable per field, registered in the table's ThxExpUserLink.
// Each object points back at its table, which owns the link and so outlives them.
#include <memory>
#include <string>

#include "base/SysSorl.h"
#include "table/hx6_dbf_fld.h"
#include "expr/hx6_sql.h"

namespace {

// A field as an expression variable, under NAME and ALIAS.NAME.
class ThxDBFFieldVar : public ThxUserDefFieldVar {
 public:
  ThxDBFFieldVar(HXO_dBaseFld* table, const ThxDBFFields& field, std::string names)
      : ThxUserDefFieldVar(std::move(names), field.Length()),
        table_(table),
        number_(field.Number()),
        fieldType_(field.Type()),
        offset_(static_cast<size_t>(field.Offset())),
        length_(static_cast<size_t>(field.Length())) {}

  int ClassCode() const override { return kTableFieldClassCode; }

  // Text fields are shown in place in the record buffer: a filter's comparison reads them there.
  bool TextView(std::string_view& text) override {
    if (fieldType_ != 'C') return false;
    text = std::string_view(table_->RecordBuffer() + offset_, length_);  // = FieldView(number_)
    return true;
  }

  // Filters call this once per record, so text fields are copied straight from the record buffer
  // into the value's own buffer (which keeps its capacity between records) without a temporary
  // string. The field's type, offset and length are the ones read at open: a table's field list
  // never changes while it is open.
  void GetValue(ThxExpValue& value, uint8_t& type) override {
    switch (fieldType_) {
      case 'C':
        value.AssignText(table_->FieldView(number_));
        type = etText;
        break;
      case 'F':
      case 'N':
        value.SetNumber(table_->GetFloat(number_));
        type = etNumber;
        break;
      case 'D':
        value.SetNumber(table_->GetDate(number_));
        type = etDate;
        break;
      case 'L':
        value.SetBoolean(table_->GetLogical(number_));
        type = etBoolean;
        break;
      case 'M':
        value.SetText(table_->GetMemo(number_));
        type = etText;
        break;
      default:
        value.AssignText(table_->FieldView(number_));
        type = etText;
        break;
    }
  }

 private:
  HXO_dBaseFld* table_;
  int number_;
  char fieldType_;
  size_t offset_;
  size_t length_;
};

// The base of the pseudo-functions: a name and the table they look at.
class ThxDBFFunction : public ThxUserDefFunction {
 public:
  ThxDBFFunction(HXO_dBaseFld* table, const char* name) : table_(table), name_(name) {}
  std::string GetName() const override { return name_; }

 protected:
  // The field-name argument, upper-cased.
  std::string FieldNameArgument(ThxExpFunction& node) {
    ThxExpValue value;
    uint8_t actual = etUnknown;
    node.GetArgument(0, value, etText, actual);
    return SysUpperCase(value.Text());
  }

  HXO_dBaseFld* table_;
  const char* name_;
};

class ThxDBFRecNo : public ThxDBFFunction {
 public:
  explicit ThxDBFRecNo(HXO_dBaseFld* table) : ThxDBFFunction(table, "RECNO") {}
  void Evaluate(ThxExpFunction&, ThxExpValue& value, uint8_t& type) override {
    value.SetNumber(table_->RecNo());
    type = etNumber;
  }
};

class ThxDBFDeleted : public ThxDBFFunction {
 public:
  explicit ThxDBFDeleted(HXO_dBaseFld* table) : ThxDBFFunction(table, "DELETED") {}
  void Evaluate(ThxExpFunction&, ThxExpValue& value, uint8_t& type) override {
    value.SetBoolean(table_->IsDeleted());
    type = etBoolean;
  }
};

class ThxDBFBof : public ThxDBFFunction {
 public:
  explicit ThxDBFBof(HXO_dBaseFld* table) : ThxDBFFunction(table, "BOF") {}
  void Evaluate(ThxExpFunction&, ThxExpValue& value, uint8_t& type) override {
    value.SetBoolean(table_->Bof());
    type = etBoolean;
  }
};

class ThxDBFEof : public ThxDBFFunction {
 public:
  explicit ThxDBFEof(HXO_dBaseFld* table) : ThxDBFFunction(table, "EOF") {}
  void Evaluate(ThxExpFunction&, ThxExpValue& value, uint8_t& type) override {
    value.SetBoolean(table_->Eof());
    type = etBoolean;
  }
};

class ThxDBFType : public ThxDBFFunction {
 public:
  explicit ThxDBFType(HXO_dBaseFld* table) : ThxDBFFunction(table, "TYPE") {}
  void Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) override {
    const int number = FieldNumberOrRaise(node);
    value.SetText(std::string(1, table_->FieldType(number)));
    type = etText;
  }

 protected:
  int FieldNumberOrRaise(ThxExpFunction& node) {
    const std::string name = FieldNameArgument(node);
    const int number = table_->FieldNumber(name);
    if (number == 0) throw ESorrelError(smNoFieldName, {table_->Name() + "->" + name});
    return number;
  }
};

class ThxDBFLen : public ThxDBFType {
 public:
  explicit ThxDBFLen(HXO_dBaseFld* table) : ThxDBFType(table) { name_ = "LEN"; }
  void Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) override {
    // The whole length: a text field of more than 255 bytes keeps its high byte in the decimals.
    value.SetNumber(table_->FieldLength(FieldNumberOrRaise(node)));
    type = etNumber;
  }
};

class ThxDBFFieldNo : public ThxDBFFunction {
 public:
  explicit ThxDBFFieldNo(HXO_dBaseFld* table) : ThxDBFFunction(table, "FIELDNO") {}
  void Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) override {
    value.SetNumber(table_->FieldNumber(FieldNameArgument(node)));
    type = etNumber;
  }
};

// A field as a variable of a record link: read from the record image its source points at.
class ThxSourceFieldVar : public ThxUserDefFieldVar {
 public:
  ThxSourceFieldVar(const HXO_dBaseFld* table, const ThxDBFFields& field, std::string names,
                    const ThxRecordSource& source)
      : ThxUserDefFieldVar(std::move(names), field.Length()),
        table_(table),
        source_(source),
        number_(field.Number()),
        fieldType_(field.Type()),
        offset_(static_cast<size_t>(field.Offset())),
        length_(static_cast<size_t>(field.Length())) {}

  int ClassCode() const override { return kTableFieldClassCode; }

  bool TextView(std::string_view& text) override {
    if (fieldType_ != 'C') return false;
    text = std::string_view(source_.record + offset_, length_);
    return true;
  }

  void GetValue(ThxExpValue& value, uint8_t& type) override {
    switch (fieldType_) {
      case 'F':
      case 'N':
        value.SetNumber(table_->FloatIn(source_.record, number_));
        type = etNumber;
        break;
      case 'D':
        value.SetNumber(table_->DateIn(source_.record, number_));
        type = etDate;
        break;
      case 'L':
        value.SetBoolean(table_->LogicalIn(source_.record, number_));
        type = etBoolean;
        break;
      default:
        value.AssignText(std::string_view(source_.record + offset_, length_));
        type = etText;
        break;
    }
  }

 private:
  const HXO_dBaseFld* table_;
  const ThxRecordSource& source_;
  int number_;
  char fieldType_;
  size_t offset_;
  size_t length_;
};

class ThxSourceRecNo : public ThxDBFFunction {
 public:
  ThxSourceRecNo(HXO_dBaseFld* table, const ThxRecordSource& source)
      : ThxDBFFunction(table, "RECNO"), source_(source) {}
  void Evaluate(ThxExpFunction&, ThxExpValue& value, uint8_t& type) override {
    value.SetNumber(source_.recordNumber);
    type = etNumber;
  }

 private:
  const ThxRecordSource& source_;
};

class ThxSourceDeleted : public ThxDBFFunction {
 public:
  ThxSourceDeleted(HXO_dBaseFld* table, const ThxRecordSource& source)
      : ThxDBFFunction(table, "DELETED"), source_(source) {}
  void Evaluate(ThxExpFunction&, ThxExpValue& value, uint8_t& type) override {
    value.SetBoolean(source_.record[0] == kRecordDeleted);
    type = etBoolean;
  }

 private:
  const ThxRecordSource& source_;
};

}  // namespace

std::unique_ptr<ThxExpUserLink> HXO_dBaseFld::MakeRecordLink(const ThxRecordSource& source) {
  auto link = std::make_unique<ThxExpUserLink>();
  link->SetDefaultStrWidth(link_->DefaultStrWidth());
  link->AddFunction(std::make_unique<ThxSourceRecNo>(this, source));
  link->AddFunction(std::make_unique<ThxSourceDeleted>(this, source));
  link->AddFunction(std::make_unique<ThxDBFBof>(this));
  link->AddFunction(std::make_unique<ThxDBFEof>(this));
  link->AddFunction(std::make_unique<ThxDBFType>(this));
  link->AddFunction(std::make_unique<ThxDBFLen>(this));
  link->AddFunction(std::make_unique<ThxDBFFieldNo>(this));
  for (auto& field : fieldList_) {
    const char type = field->Type();
    // Memo text lies in another file, and binary fields need the record buffer's readers.
    if (type == 'M' || IsBinary30(type)) continue;
    const std::string names = field->Name() + ";" + Alias() + "." + field->Name();
    link->AddFieldVar(std::make_unique<ThxSourceFieldVar>(this, *field, names, source));
  }
  return link;
}

void HXO_dBaseFld::RegisterExpressions() {
  link_ = std::make_unique<ThxExpUserLink>();
  link_->AddFunction(std::make_unique<ThxDBFRecNo>(this));
  link_->AddFunction(std::make_unique<ThxDBFDeleted>(this));
  link_->AddFunction(std::make_unique<ThxDBFBof>(this));
  link_->AddFunction(std::make_unique<ThxDBFEof>(this));
  link_->AddFunction(std::make_unique<ThxDBFType>(this));
  link_->AddFunction(std::make_unique<ThxDBFLen>(this));
  link_->AddFunction(std::make_unique<ThxDBFFieldNo>(this));
  for (auto& field : fieldList_) {
    const std::string names = field->Name() + ";" + Alias() + "." + field->Name();
    field->SetFieldVar(link_->AddFieldVar(
        std::make_unique<ThxDBFFieldVar>(this, *field, names)));
  }
}
