// A real table file with real key expressions under index files, kept current the way the table
// handler does it: index headers locked around every append and record write, the keys of every
// tag updated from the table's after-write status. For tests and benchmarks of the index layer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "index/hx6_cdx.h"
#include "table/hx6_dbf_build.h"
#include "table/hx6_dbf_fld.h"
#include "handler/hx6_dbsy.h"
#include "base/hx6_encrxm.h"
#include "index/hx6_indx.h"
#include "expr/hx6_sql.h"
#include "support/logbook_layout.h"

class IndexedDbf : public HXO_dBaseFld, public HXobjIndexTable {
 public:
  IndexedDbf(std::string_view path, bool shared, bool readWrite, std::string_view password = {})
      : HXO_dBaseFld(path, shared, readWrite, password) {}
  ~IndexedDbf() override { files_.clear(); }

  HXobjCDXFile* OpenCdx(std::string_view name, bool create) {
    files_.push_back(std::make_unique<HXobjCDXFile>(this, name, false, create, Shared(), ReadWrite()));
    return static_cast<HXobjCDXFile*>(files_.back().get());
  }
  // Keeps an index file of any format current with the table.
  HXobjIndexFile* AddIndex(std::unique_ptr<HXobjIndexFile> file) {
    files_.push_back(std::move(file));
    return files_.back().get();
  }
  // An index file of the format its extension names.
  HXobjIndexFile* OpenIndex(const std::string& name, bool create) {
    files_.push_back(MakeIndexFile(IndexFormatOf(name), this, name, create, Shared(), ReadWrite()));
    return files_.back().get();
  }
  void CloseIndexes() { files_.clear(); }
  HXobjIndexFile* IndexFile(size_t i) { return files_[i].get(); }

  void AppendRecord() override {
    LockIndexes();
    try {
      HXO_dBaseFld::AppendRecord();
    } catch (...) {
      UnlockIndexes();
      throw;
    }
    UnlockIndexes();
  }
  void UpdateRecord(int32_t record) override {
    LockIndexes();
    try {
      HXO_dBaseFld::UpdateRecord(record);
    } catch (...) {
      UnlockIndexes();
      throw;
    }
    UnlockIndexes();
  }
  void StatusNotify(int code, int32_t record) override {
    if (code == 7)
      for (auto& f : files_) f->UpdateTags(record == 0 ? RecNo() : record, record == 0);
    HXO_dBaseFld::StatusNotify(code, record);
  }

  // HXobjIndexTable.
  std::string IndexTableName() const override { return Name(); }
  int32_t IndexRecordCount() override { return RecordCount(); }
  int32_t IndexCurrentRecord() const override { return RecNo(); }
  bool IndexLoadRecord(int32_t record) override {
    char* buffer = RecordBuffer();
    if (Read(RecordOffset(record), buffer, RecordLength()) != RecordLength()) return false;
    if (!Password().empty()) ScrambleBuffer(Password(), buffer, buffer, static_cast<size_t>(RecordLength()), 0);
    SetRecNo(record);
    return true;
  }
  bool IndexHasSavedRecord() const override { return true; }
  void IndexUseSavedRecord(bool saved) override { SetRecordBuffer(saved ? SavedRecord() : nullptr); }
  std::string IndexPassword() const override { return Password(); }
  bool IndexExact() const override { return false; }
  void IndexStatus(int, int, int) override {}
  bool ProductionIndexFlag() const override { return (TableFlags() & 1) != 0; }
  void MarkProductionIndex() override {
    SetTableFlags(TableFlags() | 1);
    MarkHeaderDirty();
    WriteHeader();
  }
  std::unique_ptr<HXobjIndexExpression> CompileIndexExpression(const std::string& text) override {
    return std::make_unique<Expression>(Link(), text);
  }
  bool IndexFieldSize(std::string_view name, int& length, int& decimals) override {
    const int number = FieldNumber(name);
    if (number == 0) return false;
    length = FieldLength(number);
    decimals = FieldDecimals(number);
    return true;
  }

 private:
  class Expression : public HXobjIndexExpression {
   public:
    Expression(ThxExpUserLink* link, const std::string& text) : handler_(link, false, text) {}
    int EvaluateKey(ThxVariant& value) override {
      handler_.EvaluateKey(value);
      return handler_.ResultType();
    }
    std::string Text() const override { return handler_.GetText(); }

   private:
    ThxExpHandler handler_;
  };

  void LockIndexes() {
    size_t locked = 0;
    try {
      for (; locked < files_.size(); ++locked) files_[locked]->LockHeader();
    } catch (...) {
      for (size_t i = 0; i < locked; ++i) files_[i]->UnlockHeader();
      throw;
    }
  }
  void UnlockIndexes() {
    for (auto& f : files_) f->UnlockHeader();
  }

  std::vector<std::unique_ptr<HXobjIndexFile>> files_;
};

// Writes an empty logbook table with the 27 contact fields.
inline void CreateLogbookTable(const std::string& path) {
  HXO_DB4Build b(path);
  logbook_layout::AddLogbookFields(b);
  b.CreateFiles();
}

// The logbook's seven tags, in the order it builds them.
inline const std::vector<std::pair<std::string, std::string>>& LogbookTags() {
  static const std::vector<std::pair<std::string, std::string>> tags = {
      {"DATE", "DTOS(DATE)+TIME"}, {"TIME", "(TIME)"}, {"STATION", "STATION"}, {"STATE", "STATE"},
      {"NUMBER", "NUMBER"},        {"QTH", "QTH"},     {"BAND", "BAND"}};
  return tags;
}
