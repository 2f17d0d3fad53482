// hx6_tool: the engine's small shared types: the owning list ThxCollection, the typed value
// buffer ThxVariant, the paged bit set ThxHugeSet and the file-name helpers.
//
// Thread-safety: none of these types is safe for concurrent use; each is owned by one user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// An owning list of items. Removing or clearing frees the items through FreeItem, which by
// default deletes them; a subclass that only lists items it does not own overrides FreeItem
// to do nothing, and calls FreeAll in its own destructor (the base destructor no longer reaches
// the override).
template <class T>
class ThxCollection {
 public:
  ThxCollection() = default;
  ThxCollection(const ThxCollection&) = delete;
  ThxCollection& operator=(const ThxCollection&) = delete;
  virtual ~ThxCollection() { FreeAll(); }

  void Add(T* item) { items_.push_back(item); }
  int Count() const { return static_cast<int>(items_.size()); }
  T* Items(int index) const { return items_[static_cast<size_t>(index)]; }
  int IndexOf(const T* item) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i] == item) return static_cast<int>(i);
    return -1;
  }
  // Removes the item from the list without freeing it; false when it was not listed.
  bool Remove(const T* item) {
    int i = IndexOf(item);
    if (i < 0) return false;
    items_.erase(items_.begin() + i);
    return true;
  }
  // Removes the item from the list and frees it.
  void DeleteAndFree(T* item) {
    if (Remove(item)) FreeItem(item);
  }
  // Frees every item in list order, then empties the list.
  void FreeAll() {
    std::vector<T*> items;
    items.swap(items_);
    for (T* item : items) FreeItem(item);
  }

 protected:
  virtual void FreeItem(T* item) { delete item; }

 private:
  std::vector<T*> items_;
};

// Value types of a ThxVariant.
enum ThxVarType : uint8_t {
  vtNone = 0,
  vtText = 1,     // code-page bytes
  vtFloat = 2,    // 8-byte IEEE double in machine order
  vtDate = 3,     // 32-bit day number in machine order (0 = empty date)
  vtBoolean = 4,  // 1 byte, 0 = false
  vtBinary = 5,   // raw bytes
};

// A typed value buffer: field values, expression results, index keys and sort keys travel in it.
// It owns its byte buffer. A value whose buffer is absent or whose length is 0 is empty, whatever
// its type. Compare is the one comparison rule that every index format and the sorter use.
class ThxVariant {
 public:
  explicit ThxVariant(uint16_t initialCapacity = 0);
  ThxVariant(const ThxVariant& other);
  ThxVariant& operator=(const ThxVariant& other);
  ~ThxVariant() = default;

  uint8_t* Data() { return data_.get(); }
  const uint8_t* Data() const { return data_.get(); }
  int Capacity() const { return capacity_; }
  int Length() const { return length_; }
  ThxVarType Type() const { return type_; }
  // For callers that fill the buffer themselves after SetCapacity.
  void SetType(ThxVarType type) { type_ = type; }
  bool IsEmpty() const { return data_ == nullptr || length_ <= 0; }

  // Copies the other's bytes, capacity, length and type; false (and nothing changed) for nullptr.
  bool Assign(const ThxVariant* other);
  // Frees the buffer; capacity, length and type become 0.
  void Clear();
  // Sets the length to n. A larger n replaces the buffer by one of exactly n bytes holding the old
  // contents, and the type becomes none.
  void SetCapacity(int n);

  void PutString(std::string_view text);
  void PutFloat(double value);
  void PutDate(int32_t day);
  void PutBoolean(bool value);
  void PutBinary(const void* buffer, int count);
  // Appends count bytes; the value becomes binary. Nothing happens for nullptr or count <= 0.
  void Append(const void* buffer, int count);

  // Text values only: upper-cased with the engine's case mapping.
  void UpperCase();
  // Text values only: blanks appended up to length n (a shorter n changes nothing).
  void PadRight(int n);
  // Text values only: trailing blanks dropped.
  void TrimRight();

  bool GetBoolean() const;
  // Text goes through the date converter's CTOD and may raise EConvertError.
  int32_t GetDate() const;
  // Text is read as a C-locale number and may raise EConvertError.
  double GetFloat() const;
  std::string GetString() const;
  // GetString into a zero-terminated buffer of `size` bytes, cut to fit; returns `buffer`.
  char* GetStrZ(char* buffer, size_t size) const;

  // Compares this value with `other`: -1, 0 or 1. `position` receives the 1-based position of the
  // first differing byte for text and binary (the shorter length + 1 when one is a prefix of the
  // other), else 0. `collation` maps text bytes to weights (nullptr: plain bytes). When this text
  // is a proper prefix of the other, the result is the sign of `partial` (0 accepts a prefix as
  // equal). Two different types of which neither is binary raise "Variant types mismatch for
  // compare"; a binary side takes the other side's type.
  int Compare(const ThxVariant* other, int& position, const uint8_t* collation = nullptr,
              int partial = -1) const;
  // As Compare, but float values are compared as their bytes (sort keys carry order-preserving
  // float encodings).
  int CompareRaw(const ThxVariant* other, int& position, const uint8_t* collation = nullptr,
                 int partial = -1) const;

 private:
  int DoCompare(const ThxVariant* other, int& position, const uint8_t* collation, int partial,
                bool raw) const;
  // Copies up to n bytes of the value into `out`, zero-filling what the value lacks.
  void ReadPrefix(void* out, int n) const;

  std::unique_ptr<uint8_t[]> data_;
  int capacity_ = 0;
  int length_ = 0;
  ThxVarType type_ = vtNone;
};

// A bit set over record numbers 0..2^31-1, held in zero-filled pages of 16384 bytes (131072 bits)
// that are created only as far as the highest bit reached. Owns its pages.
class ThxHugeSet {
 public:
  static constexpr int kPageBytes = 16384;
  static constexpr int32_t kBitsPerPage = kPageBytes * 8;
  enum Operation { opClear = 0, opSet = 1, opToggle = 2 };

  ThxHugeSet() = default;
  ThxHugeSet(const ThxHugeSet&) = delete;
  ThxHugeSet& operator=(const ThxHugeSet&) = delete;

  // Zeroes every page and forgets the highest index; the pages are kept.
  void ClearAll();
  // Clears, sets or toggles bit `index` (negative indexes are ignored). Even a clear makes the
  // index the highest one when it lies above it.
  void SetBit(int32_t index, int operation);
  bool TestBit(int32_t index) const;
  // The first set bit from `from` up to `last` (both included), or -1 when none; and the last set
  // bit from `from` down to 0, or -1. They skip clear bytes whole, so stepping through a sparse
  // filter does not test every record number on the way.
  int32_t NextSetBit(int32_t from, int32_t last) const;
  int32_t PriorSetBit(int32_t from) const;
  // The highest index ever touched since creation or ClearAll, -1 when none.
  int32_t HighestIndex() const { return highest_; }
  int PageCount() const { return static_cast<int>(pages_.size()); }

 private:
  std::vector<std::unique_ptr<uint8_t[]>> pages_;
  int32_t highest_ = -1;
};

// File-name helpers; "/" separates folders, and a backslash and a drive letter's ":" are understood
// too, for names stored by Windows installations.
// The name unchanged when its last component has a ".", else the name with `extension` (".DBF")
// put on.
std::string DefaultFileExt(std::string_view name, std::string_view extension);
// The last component of `path` without its extension.
std::string StripFileExt(std::string_view path);
// Fills the zero-terminated text in `buffer` with `c` up to `length` characters and terminates
// it; a text already that long is left as it is. The buffer must hold length + 1 bytes.
void StrPadChar(char* buffer, char c, size_t length);
