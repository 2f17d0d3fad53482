// Helpers shared by the tests of the index file formats: records for the fake table, the keys a
// walk shows for them, raw reads and writes of a file's bytes, and the fixtures of the tests where
// two handles or two processes share one index file.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/byteorder.h"
#include "index/index_fake_table.h"
#include "index/index_model.h"

namespace index_files {

using index_model::KeyList;

inline FakeRecord Rec(std::string call, double number = 0, int32_t day = 0, int band = 0) {
  FakeRecord r;
  r.call = std::move(call);
  r.number = number;
  r.day = day;
  r.band = band;
  return r;
}

// The text `s` cut to `width` bytes, with its trailing blanks dropped: a text key as a walk shows it.
inline std::string TrimmedText(const std::string& s, size_t width) {
  std::string out = s.substr(0, width);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The key of a CALL tag (ten bytes of the call) as a walk shows it.
inline std::string CallKey(const std::string& call) { return TrimmedText(call, 10); }

// Up to `size` bytes of the file from `offset` (fewer at its end).
inline std::vector<uint8_t> ReadFileBytes(const std::string& path, int64_t offset, int64_t size) {
  std::vector<uint8_t> b(static_cast<size_t>(size));
  FILE* f = fopen(path.c_str(), "rb");
  fseek(f, static_cast<long>(offset), SEEK_SET);
  b.resize(fread(b.data(), 1, b.size(), f));
  fclose(f);
  return b;
}

// Writes `size` bytes over the file at `offset`, as damage or a hand-made change would.
inline void WriteFileBytes(const std::string& path, int64_t offset, const void* data, size_t size) {
  FILE* f = fopen(path.c_str(), "r+b");
  fseek(f, static_cast<long>(offset), SEEK_SET);
  fwrite(data, 1, size, f);
  fclose(f);
}

// The 8 bytes of a double as a number key holds them in memory.
inline std::string HeldDouble(double v) {
  std::string s(8, '\0');
  std::memcpy(s.data(), &v, 8);
  return s;
}

// Bytes whose plain order is the numbers' order.
inline std::string OrderedDouble(double v) {
  uint64_t bits = std::bit_cast<uint64_t>(v);
  bits = (bits >> 63) ? ~bits : bits | (uint64_t{1} << 63);
  std::string s(8, '\0');
  EncodeBE64(s.data(), bits);
  return s;
}

// The raw key of a text field for a model tag: the field padded with blanks to `width`.
template <typename Field>
auto PaddedText(int width, Field field) {
  return [width, field](const FakeRecord& r, HXobjIndexKeyData& k) {
    std::string s = r.*field;
    s.resize(static_cast<size_t>(width), ' ');
    k.PutString(s);
  };
}

// The raw keys of the NUMBER and DAY fields for a model tag.
inline void PutNumberKey(const FakeRecord& r, HXobjIndexKeyData& k) { k.PutFloat(r.number); }
inline void PutDayKey(const FakeRecord& r, HXobjIndexKeyData& k) { k.PutDate(r.day); }

// The record `n` of the sharing tests: calls and texts that spread over the whole tree.
inline FakeRecord SharedRecord(int32_t n) {
  FakeRecord r = Rec("S" + std::to_string((n * 7919) % 4000), n % 97, 2459000 + n % 300, 20);
  r.text = std::string(static_cast<size_t>(n % 40), 'T') + std::to_string(n);
  return r;
}

// Makes the sharing tests' index file with its CALL and TEXT tags.
template <typename IndexFile>
void CreateSharedIndex(const std::string& path, FakeIndexTable& table) {
  IndexFile file(&table, path, false, true, false, true);
  ASSERT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
  ASSERT_TRUE(file.CreateTag("TEXT", "TEXT", "", true, false));
}

// Two tables standing for two handles on one table, and the index file (of `IndexFile`, named
// after `stem` with `extension`) they share.
template <typename IndexFile>
struct SharedIndexFixture {
  SharedIndexFixture(const std::string& stem, const char* extension)
      : path(dir.File(stem + extension)), ta(dir.File(stem + ".DBF")), tb(dir.File(stem + ".DBF")) {}
  // Makes the index file with its CALL and TEXT tags.
  void Create() { CreateSharedIndex<IndexFile>(path, ta); }
  // Both tables get records `first` to `last`; no keys are written.
  void AddRecords(int32_t first, int32_t last) {
    for (int32_t n = first; n <= last; ++n) {
      ta.Records().push_back(SharedRecord(n));
      tb.Records().push_back(SharedRecord(n));
    }
  }
  // Both tables get the record, as handles on one table see every record; `writer` writes its keys.
  void Append(int32_t record, FakeIndexTable& writer) {
    ta.Records().push_back(SharedRecord(record));
    tb.Records().push_back(SharedRecord(record));
    writer.AppendAs(record, SharedRecord(record));
  }
  // Appends records 1 to `last`, every third through tb (attached to `b`) and the others through
  // ta (attached to `a`); every hundred records, a's CALL tag and b's TEXT tag must hold them all.
  void AppendThroughBoth(HXobjIndexFile& a, HXobjIndexFile& b, int32_t last) {
    for (int32_t n = 1; n <= last; ++n) {
      (n % 3 == 0 ? tb : ta).AppendAs(n, SharedRecord(n));
      if (n % 100 == 0) {
        EXPECT_EQ(index_model::Walk(a.TagByName("CALL")).size(), static_cast<size_t>(n));
        EXPECT_EQ(index_model::Walk(b.TagByName("TEXT")).size(), static_cast<size_t>(n));
      }
    }
  }

  IndexTempDir dir;
  std::string path;
  FakeIndexTable ta, tb;
};

// `met` holds the keys a walk met, in walk order, while another handle changed the file: they
// come in order, none twice, and every key of `before` is among them.
inline void ExpectMetInOrder(const KeyList& met, const KeyList& before) {
  KeyList sorted = met;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(met, sorted) << "out of order";
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "a key met twice";
  for (const auto& key : before)
    EXPECT_TRUE(std::binary_search(sorted.begin(), sorted.end(), key)) << key.first << " missed";
}

// Walks the tag `name` of `file` forward, then backward; a hundred steps into each walk `writer`,
// another handle's table on the same file, appends the next 200 shared records after record `n`
// (which it advances), enough to split the pages the walk holds. Each walk must meet every key
// that was there before it began, once and in order.
inline void ExpectWalksThroughAnothersSplits(HXobjIndexFile& file, const char* name,
                                             FakeIndexTable& writer, int32_t& n) {
  for (bool forward : {true, false}) {
    SCOPED_TRACE(forward ? "forward" : "backward");
    HXobjIndexTag* tag = file.TagByName(name);
    const KeyList before = index_model::Walk(tag);
    KeyList met;
    int32_t r = tag->Move(forward ? kMoveTop : kMoveBottom);
    for (int i = 0; i < 100 && r != 0; ++i, r = tag->Move(forward ? kMoveNext : kMovePrior))
      met.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
    for (int i = 0; i < 200; ++i, ++n) writer.AppendAs(n + 1, SharedRecord(n + 1));
    for (; r != 0; r = tag->Move(forward ? kMoveNext : kMovePrior))
      met.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
    if (!forward) std::reverse(met.begin(), met.end());
    ExpectMetInOrder(met, before);
  }
}

// Two processes append records 1 to `total`, made by `record`, to the table `tableName` of `dir`
// through the index file `open` opens shared on a table: a child the even ones on a table of its
// own, this process the odd ones on `table`. Each first lets `hold` move a tag, so that it keeps
// a tree in memory between updates, and takes the header lock for every update. The caller
// checks the file afterwards.
inline void AppendFromTwoProcesses(
    const IndexTempDir& dir, const std::string& tableName, FakeIndexTable& table, int32_t total,
    const std::function<std::unique_ptr<HXobjIndexFile>(FakeIndexTable&)>& open,
    const std::function<void(HXobjIndexFile&, bool child)>& hold,
    const std::function<FakeRecord(int32_t)>& record) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int rc = 0;
    try {
      FakeIndexTable t(dir.File(tableName));
      auto f = open(t);
      t.Attach(f.get());
      hold(*f, true);
      for (int32_t n = 2; n <= total; n += 2) t.AppendAs(n, record(n));
      t.Detach();
    } catch (...) {
      rc = 1;
    }
    _exit(rc);
  }
  {
    auto f = open(table);
    table.Attach(f.get());
    hold(*f, false);
    for (int32_t n = 1; n <= total; n += 2) table.AppendAs(n, record(n));
    table.Detach();
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
}

// The same for the file of `path` (made by CreateSharedIndex) and the shared records: the child
// holds the CALL tag, this process TEXT.
template <typename IndexFile>
void AppendFromTwoProcesses(const IndexTempDir& dir, const std::string& tableName,
                            const std::string& path, FakeIndexTable& table, int32_t total) {
  AppendFromTwoProcesses(
      dir, tableName, table, total,
      [&](FakeIndexTable& t) { return std::make_unique<IndexFile>(&t, path, false, false, true, true); },
      [](HXobjIndexFile& f, bool child) { f.TagByName(child ? "CALL" : "TEXT")->Move(kMoveTop); },
      SharedRecord);
}

}  // namespace index_files
