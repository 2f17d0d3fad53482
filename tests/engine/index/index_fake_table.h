// A table for index tests: records held in memory, key and FOR expressions given as functions of
// a record, and the upkeep calls a table handler makes after appends and rewrites.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "index/hx6_cdx.h"
#include "base/hx6_glbl.h"
#include "index/hx6_indx.h"

struct FakeRecord {
  std::string call;  // text key source
  double number = 0;
  int32_t day = 0;
  int band = 0;
  std::string text;  // a long text for keys that fill nodes with few entries
};

class FakeIndexTable : public HXobjIndexTable {
 public:
  using Expr = std::function<int(const FakeRecord&, ThxVariant&)>;

  explicit FakeIndexTable(std::string path) : path_(std::move(path)) {
    exprs_["CALL"] = [](const FakeRecord& r, ThxVariant& v) {
      std::string s = r.call;
      s.resize(10, ' ');
      v.PutString(s);
      return kExpTypeText;
    };
    exprs_["NUMBER"] = [](const FakeRecord& r, ThxVariant& v) {
      v.PutFloat(r.number);
      return kExpTypeNumber;
    };
    exprs_["DAY"] = [](const FakeRecord& r, ThxVariant& v) {
      v.PutDate(r.day);
      return kExpTypeDate;
    };
    exprs_["TEXT"] = [](const FakeRecord& r, ThxVariant& v) {
      std::string s = r.text;
      s.resize(100, ' ');
      v.PutString(s);
      return kExpTypeText;
    };
    exprs_["BAND=20"] = [](const FakeRecord& r, ThxVariant& v) {
      v.PutBoolean(r.band == 20);
      return kExpTypeBoolean;
    };
    exprs_["VAR"] = [](const FakeRecord& r, ThxVariant& v) {
      v.PutString(r.text);
      return kExpTypeText;
    };
    exprs_["NOKEY"] = [](const FakeRecord&, ThxVariant&) { return kExpTypeUnknown; };
    exprs_["BAND"] = [](const FakeRecord& r, ThxVariant& v) {
      v.PutFloat(r.band);
      return kExpTypeNumber;
    };
  }

  void AddExpression(const std::string& text, Expr e) { exprs_[text] = std::move(e); }

  // Table side.
  std::vector<FakeRecord>& Records() { return records_; }
  FakeRecord& Buffer() { return buffer_; }
  void Attach(HXobjIndexFile* file) { files_.push_back(file); }
  void Detach() { files_.clear(); }

  // Appends the buffer as a new record and keeps every attached index current, as the handler
  // does: header locks, write, key upkeep, unlock.
  int32_t Append(const FakeRecord& r) {
    for (auto* f : files_) f->LockHeader();
    records_.push_back(r);
    buffer_ = r;
    current_ = static_cast<int32_t>(records_.size());
    haveSaved_ = true;
    for (auto* f : files_) f->UpdateTags(current_, true);
    saved_ = r;
    for (auto* f : files_) f->UnlockHeader();
    return current_;
  }

  // Rewrites record `n` (read first, so the saved copy is the old record).
  void Rewrite(int32_t n, const FakeRecord& r) {
    for (auto* f : files_) f->LockHeader();
    saved_ = records_[static_cast<size_t>(n - 1)];
    haveSaved_ = true;
    records_[static_cast<size_t>(n - 1)] = r;
    buffer_ = r;
    current_ = n;
    for (auto* f : files_) f->UpdateTags(n, false);
    saved_ = r;
    for (auto* f : files_) f->UnlockHeader();
  }

  // Keeps the indexes current for a record another handle numbered: lock, update, unlock.
  void AppendAs(int32_t n, const FakeRecord& r) {
    for (auto* f : files_) f->LockHeader();
    buffer_ = r;
    current_ = n;
    haveSaved_ = true;
    for (auto* f : files_) f->UpdateTags(n, true);
    saved_ = r;
    for (auto* f : files_) f->UnlockHeader();
  }

  void GoTo(int32_t n) {
    current_ = n;
    buffer_ = records_[static_cast<size_t>(n - 1)];
    saved_ = buffer_;
    haveSaved_ = true;
  }

  // HXobjIndexTable.
  std::string IndexTableName() const override { return path_; }
  int32_t IndexRecordCount() override { return static_cast<int32_t>(records_.size()); }
  int32_t IndexCurrentRecord() const override { return current_; }
  bool IndexLoadRecord(int32_t record) override {
    if (record < 1 || record > static_cast<int32_t>(records_.size())) return false;
    buffer_ = records_[static_cast<size_t>(record - 1)];
    current_ = record;
    return true;
  }
  bool IndexHasSavedRecord() const override { return haveSaved_; }
  void IndexUseSavedRecord(bool saved) override { useSaved_ = saved; }
  std::string IndexPassword() const override { return password_; }
  bool IndexExact() const override { return false; }
  void IndexStatus(int a, int b, int c) override {
    if (onStatus) onStatus(a, b, c);
  }
  bool ProductionIndexFlag() const override { return production_; }
  void MarkProductionIndex() override { production_ = true; }
  std::unique_ptr<HXobjIndexExpression> CompileIndexExpression(const std::string& text) override {
    auto it = exprs_.find(text);
    if (it == exprs_.end()) throw ESorrelExpression(smNoFunction, {text});
    return std::make_unique<Expression>(this, it->second, text);
  }
  bool IndexFieldSize(std::string_view name, int& length, int& decimals) override {
    auto it = fieldSizes.find(std::string(name));
    if (it == fieldSizes.end()) return false;
    length = it->second.first;
    decimals = it->second.second;
    return true;
  }

  std::function<void(int, int, int)> onStatus;
  // Expressions that name a table field, with the field's length and decimals.
  std::map<std::string, std::pair<int, int>> fieldSizes;
  std::string password_;
  bool production_ = false;

 private:
  class Expression : public HXobjIndexExpression {
   public:
    Expression(FakeIndexTable* t, Expr e, std::string text)
        : table_(t), expr_(std::move(e)), text_(std::move(text)) {}
    int EvaluateKey(ThxVariant& value) override {
      return expr_(table_->useSaved_ ? table_->saved_ : table_->buffer_, value);
    }
    std::string Text() const override { return text_; }

   private:
    FakeIndexTable* table_;
    Expr expr_;
    std::string text_;
  };

  std::string path_;
  std::vector<FakeRecord> records_;
  FakeRecord buffer_;
  FakeRecord saved_;
  bool haveSaved_ = false;
  bool useSaved_ = false;
  int32_t current_ = 0;
  std::map<std::string, Expr> exprs_;
  std::vector<HXobjIndexFile*> files_;
};

// A fresh folder under the system's temporary folder, removed at the end of the test.
class IndexTempDir {
 public:
  IndexTempDir() {
    char tmpl[] = "/tmp/qm_index_XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~IndexTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};
