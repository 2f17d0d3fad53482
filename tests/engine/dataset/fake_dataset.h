// An in-memory data set for tests of the dataset core: rows of (ID, NAME, AMOUNT), kept in
// insertion order and shown in ascending ID order (a "tag"), with an optional predicate filter on
// top of OnFilterRecord. A new record is appended to storage and shows up by its ID.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "dataset/dblink.h"

namespace fake {

struct Row {
  int32_t id = 0;
  std::string name;
  double amount = 0;
  bool deleted = false;
};

class FakeDataSet : public TDataSet {
 public:
  // Buffer: row index (int32), id (int32), has-amount byte, amount (double), name (16 + 1),
  // calculated fields, bookmark flag (1 byte).
  static constexpr int kRowOff = 0, kIdOff = 4, kAmountSet = 8, kAmountOff = 9, kNameOff = 17,
                       kNameSize = 16, kRecordSize = kNameOff + kNameSize + 1;

  std::vector<Row> rows;
  std::function<bool(const Row&)> predicate;  // the "expression" filter
  bool failNextPost = false;
  int postCalls = 0;
  bool editLockRefused = false;

  FakeDataSet() { SetBookmarkSize(4); }
  ~FakeDataSet() override { Destroying(); }

  char* ActiveRecordBuffer() override {
    if (State() == TDataSetState::dsFilter) return filterBuffer_.data();
    return TDataSet::ActiveRecordBuffer();
  }

  bool GetFieldData(TField* field, void* out) override {
    const char* b = ActiveRecordBuffer();
    if (b == nullptr) return false;
    if (field->Calculated()) {
      const char* c = b + kRecordSize + field->Offset();
      if (c[0] == 0) return false;
      std::memcpy(out, c + 1, static_cast<size_t>(field->DataSize()));
      return true;
    }
    switch (field->FieldNo()) {
      case 1: std::memcpy(out, b + kIdOff, 4); return true;
      case 2: {
        std::memset(out, 0, kNameSize + 1);
        std::memcpy(out, b + kNameOff, strnlen(b + kNameOff, kNameSize));
        return static_cast<const char*>(out)[0] != 0;
      }
      case 3:
        if (b[kAmountSet] == 0) return false;
        std::memcpy(out, b + kAmountOff, 8);
        return true;
    }
    return false;
  }

  void SetFieldData(TField* field, const void* in) override {
    char* b = ActiveRecordBuffer();
    if (b == nullptr) return;
    field->Validate(in);
    if (field->Calculated()) {
      char* c = b + kRecordSize + field->Offset();
      c[0] = in != nullptr ? 1 : 0;
      if (in != nullptr) std::memcpy(c + 1, in, static_cast<size_t>(field->DataSize()));
    } else {
      switch (field->FieldNo()) {
        case 1: {
          int32_t v = 0;
          if (in != nullptr) std::memcpy(&v, in, 4);
          std::memcpy(b + kIdOff, &v, 4);
          break;
        }
        case 2:
          std::memset(b + kNameOff, 0, kNameSize + 1);
          if (in != nullptr) std::memcpy(b + kNameOff, in, strnlen(static_cast<const char*>(in), kNameSize));
          break;
        case 3:
          b[kAmountSet] = in != nullptr ? 1 : 0;
          if (in != nullptr) std::memcpy(b + kAmountOff, in, 8);
          break;
      }
    }
    if (State() != TDataSetState::dsCalcFields && State() != TDataSetState::dsFilter) {
      DataEvent(TDataEvent::deFieldChange, reinterpret_cast<intptr_t>(field));
    }
  }

  bool BookmarkValid(const TBookmark& bm) override {
    if (bm.size() != 4) return false;
    int32_t r = 0;
    std::memcpy(&r, bm.data(), 4);
    return r >= 0 && r < static_cast<int32_t>(rows.size()) && !rows[static_cast<size_t>(r)].deleted;
  }

  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override {
    if (a.empty() && b.empty()) return 0;
    if (a.empty()) return -1;
    if (b.empty()) return 1;
    int32_t x = 0, y = 0;
    std::memcpy(&x, a.data(), 4);
    std::memcpy(&y, b.data(), 4);
    return x < y ? -1 : x > y ? 1 : 0;
  }

  int32_t CurrentRow() const { return cur_; }

  // The link by which this data set follows a master.
  TMasterDataLink master{this};

 protected:
  char* AllocRecordBuffer() override { return new char[static_cast<size_t>(BufferSize())](); }
  void FreeRecordBuffer(char*& buffer) override {
    delete[] buffer;
    buffer = nullptr;
  }
  void GetBookmarkData(const char* buffer, char* data) override { std::memcpy(data, buffer + kRowOff, 4); }
  TBookmarkFlag GetBookmarkFlag(const char* buffer) override {
    return static_cast<TBookmarkFlag>(buffer[BufferSize() - 1]);
  }
  void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) override {
    buffer[BufferSize() - 1] = static_cast<char>(flag);
  }
  void SetBookmarkData(char* buffer, const char* data) override { std::memcpy(buffer + kRowOff, data, 4); }
  int GetRecordSize() override { return kRecordSize; }
  TDataSource* GetDataSource() override { return master.DataSource(); }

  TGetResult GetRecord(char* buffer, TGetMode mode, bool) override {
    std::vector<int32_t> view = View();
    int pos = Position(view);
    switch (mode) {
      case TGetMode::gmNext:
        if (bof_) {
          pos = 0;
        } else if (eof_) {
          return TGetResult::grEOF;
        } else {
          pos = NextPosition(view);
        }
        break;
      case TGetMode::gmPrior:
        if (bof_) return TGetResult::grBOF;
        if (eof_) {
          pos = static_cast<int>(view.size()) - 1;
        } else {
          pos = PriorPosition(view);
        }
        break;
      case TGetMode::gmCurrent:
        if (bof_ || eof_ || pos < 0) return TGetResult::grError;
        break;
    }
    if (pos < 0) {
      bof_ = true;
      eof_ = false;
      return TGetResult::grBOF;
    }
    if (pos >= static_cast<int>(view.size())) {
      eof_ = true;
      bof_ = false;
      return TGetResult::grEOF;
    }
    bof_ = eof_ = false;
    cur_ = view[static_cast<size_t>(pos)];
    Load(buffer, cur_);
    SetBookmarkFlag(buffer, TBookmarkFlag::bfCurrent);
    GetCalcFields(buffer);
    return TGetResult::grOK;
  }

  void InternalAddRecord(char* buffer, bool) override { Store(buffer, -1); }
  void InternalClose() override {
    BindFields(false);
    DestroyFields();
    open_ = false;
  }
  void InternalDelete() override {
    rows.at(static_cast<size_t>(cur_)).deleted = true;
  }
  void InternalFirst() override {
    bof_ = true;
    eof_ = false;
  }
  void InternalLast() override {
    eof_ = true;
    bof_ = false;
  }
  void InternalGotoBookmark(const char* bm) override {
    std::memcpy(&cur_, bm, 4);
    bof_ = eof_ = false;
  }
  void InternalSetToRecord(char* buffer) override { InternalGotoBookmark(buffer + kRowOff); }
  void InternalInitFieldDefs() override {
    FieldDefs().Clear();
    FieldDefs().Add("ID", TFieldType::ftInteger);
    FieldDefs().Add("NAME", TFieldType::ftString, kNameSize);
    FieldDefs().Add("AMOUNT", TFieldType::ftFloat);
  }
  void InternalInitRecord(char* buffer) override {
    std::memset(buffer, 0, static_cast<size_t>(kRecordSize));
    int32_t none = -1;
    std::memcpy(buffer + kRowOff, &none, 4);
  }
  void InternalOpen() override {
    InternalInitFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    filterBuffer_.assign(static_cast<size_t>(BufferSize()), '\0');
    open_ = true;
    InternalFirst();
  }
  void InternalPost() override {
    ++postCalls;
    if (failNextPost) {
      failNextPost = false;
      DatabaseError("Post refused");
    }
    char* b = ActiveBuffer();
    if (State() == TDataSetState::dsInsert) {
      Store(b, -1);
    } else {
      int32_t r = 0;
      std::memcpy(&r, b + kRowOff, 4);
      Store(b, r);
    }
  }
  void InternalEdit() override {
    if (editLockRefused) DatabaseError(SorrelMessageText(smRecordLocked));
  }
  bool IsCursorOpen() override { return open_; }
  void ClearCalcFields(char* buffer) override {
    std::memset(buffer + kRecordSize, 0, static_cast<size_t>(CalcFieldsSize()));
  }
  int GetRecordCount() override { return static_cast<int>(View().size()); }
  int GetRecNo() override {
    char* b = ActiveBuffer();
    if (b == nullptr || IsEmpty()) return 0;
    int32_t r = 0;
    std::memcpy(&r, b + kRowOff, 4);
    std::vector<int32_t> view = View();
    auto it = std::find(view.begin(), view.end(), r);
    return it == view.end() ? 0 : static_cast<int>(it - view.begin()) + 1;
  }

 private:
  int BufferSize() { return kRecordSize + CalcFieldsSize() + 1; }

  void Load(char* buffer, int32_t r) {
    const Row& row = rows[static_cast<size_t>(r)];
    std::memset(buffer, 0, static_cast<size_t>(kRecordSize));
    std::memcpy(buffer + kRowOff, &r, 4);
    std::memcpy(buffer + kIdOff, &row.id, 4);
    buffer[kAmountSet] = 1;
    std::memcpy(buffer + kAmountOff, &row.amount, 8);
    std::memcpy(buffer + kNameOff, row.name.data(), std::min<size_t>(row.name.size(), kNameSize));
  }

  void Store(const char* buffer, int32_t r) {
    Row row;
    std::memcpy(&row.id, buffer + kIdOff, 4);
    row.name.assign(buffer + kNameOff, strnlen(buffer + kNameOff, kNameSize));
    if (buffer[kAmountSet] != 0) std::memcpy(&row.amount, buffer + kAmountOff, 8);
    if (r < 0) {
      rows.push_back(row);
      cur_ = static_cast<int32_t>(rows.size()) - 1;
    } else {
      rows[static_cast<size_t>(r)] = row;
      cur_ = r;
    }
    bof_ = eof_ = false;
  }

  bool Accepts(int32_t r) {
    const Row& row = rows[static_cast<size_t>(r)];
    if (row.deleted) return false;
    if (!Filtered()) return true;
    if (predicate && !predicate(row)) return false;
    Load(filterBuffer_.data(), r);
    return FilterAccepts();
  }

  // Row indexes in ID order (ties by storage order), filtered.
  std::vector<int32_t> View() {
    std::vector<int32_t> all;
    for (int32_t r = 0; r < static_cast<int32_t>(rows.size()); ++r) {
      if (Accepts(r)) all.push_back(r);
    }
    std::stable_sort(all.begin(), all.end(), [this](int32_t a, int32_t b) {
      return rows[static_cast<size_t>(a)].id < rows[static_cast<size_t>(b)].id;
    });
    return all;
  }
  // Where the cursor row stands in the view: its index, or the index of the first row ordered
  // after it (when it is no longer visible), as a half position.
  int Position(const std::vector<int32_t>& view) {
    for (size_t i = 0; i < view.size(); ++i) {
      if (view[i] == cur_) return static_cast<int>(i);
    }
    return -1;
  }
  bool Before(int32_t a, int32_t b) const {
    const Row& x = rows[static_cast<size_t>(a)];
    const Row& y = rows[static_cast<size_t>(b)];
    return x.id < y.id || (x.id == y.id && a < b);
  }
  int NextPosition(const std::vector<int32_t>& view) {
    for (size_t i = 0; i < view.size(); ++i) {
      if (Before(cur_, view[i])) return static_cast<int>(i);
    }
    return static_cast<int>(view.size());
  }
  int PriorPosition(const std::vector<int32_t>& view) {
    for (size_t i = view.size(); i-- > 0;) {
      if (Before(view[i], cur_)) return static_cast<int>(i);
    }
    return -1;
  }

  int32_t cur_ = -1;
  bool bof_ = true;
  bool eof_ = false;
  bool open_ = false;
  std::vector<char> filterBuffer_;
};

}  // namespace fake
