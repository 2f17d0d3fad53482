// The model-based random test shared by the index formats: tags of every key type the format
// has, kept current through appends and rewrites of a table, checked after every batch against a
// reference order kept beside them (walked both ways, every key sought, the file read straight
// from disk), and once more through a fresh handle at the end.
//
// The reference follows the format's rule for equal keys: by record number, or in the order the
// keys were added (a new key after the keys equal to it, before them on a tag stored in
// descending order), so that upkeep that takes another record's entry for its own shows.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "index/index_fake_table.h"

namespace index_model {

using KeyList = std::vector<std::pair<std::string, int32_t>>;

inline KeyList Walk(HXobjIndexTag* tag) {
  KeyList out;
  for (int32_t r = tag->Move(kMoveTop); r != 0 && !tag->Eof(); r = tag->Move(kMoveNext))
    out.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
  return out;
}

inline KeyList WalkBack(HXobjIndexTag* tag) {
  KeyList out;
  for (int32_t r = tag->Move(kMoveBottom); r != 0 && !tag->Bof(); r = tag->Move(kMovePrior))
    out.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
  return out;
}

// One tag of the model.
struct ModelTag {
  std::string name;
  // The key bytes a walk shows for a record, and bytes whose plain order is the tag's key order.
  std::function<std::string(const FakeRecord&)> shown;
  std::function<std::string(const FakeRecord&)> order;
  // The key as the expression gives it, to seek with.
  std::function<void(const FakeRecord&, HXobjIndexKeyData&)> raw;
  std::function<bool(const FakeRecord&)> filter;  // empty: every record
  bool descending = false;                        // stored in descending order
};

// What the driver needs of a format.
struct ModelFormat {
  bool equalKeysByRecord = false;
  // The last tag keeps its tree between updates, as a master tag does.
  std::vector<ModelTag> tags;
  // Creates (or opens) the files that hold the model's tags, built over the table's records.
  std::function<std::vector<std::unique_ptr<HXobjIndexFile>>(FakeIndexTable&,
                                                            const IndexTempDir&, bool create)>
      open;
  // Checks the tag's tree as it lies on disk against the expected (shown key, record) list.
  std::function<void(HXobjIndexFile&, HXobjIndexTag&, const KeyList& expected)> checkDisk;
};

inline FakeRecord RandomRecord(std::mt19937& rng) {
  FakeRecord r;
  static const char* prefixes[] = {"W1", "K2", "DL", "G4", "VE3", "JA1", "ZZZZZZZZ"};
  r.call = prefixes[rng() % 7] + std::to_string(rng() % 300);
  if (rng() % 10 == 0) r.call += "LONGERTHANTEN";
  r.number = static_cast<double>(static_cast<int>(rng() % 400)) / 4.0 - 50.0;
  r.day = 2459000 + static_cast<int32_t>(rng() % 700);
  r.band = (rng() % 3 == 0) ? 40 : 20;
  r.text = std::string(static_cast<size_t>(rng() % 60), 'Q') + r.call +
           std::string(static_cast<size_t>(rng() % 3), static_cast<char>('A' + rng() % 3));
  return r;
}

inline HXobjIndexTag* FindTag(const std::vector<std::unique_ptr<HXobjIndexFile>>& files,
                              const std::string& name) {
  for (const auto& f : files)
    if (HXobjIndexTag* t = f->TagByName(name)) return t;
  return nullptr;
}

// The reference order of one tag: (order key, record) entries as the index holds them.
class Reference {
 public:
  Reference(const ModelTag& tag, bool byRecord) : tag_(tag), byRecord_(byRecord) {}

  void Build(const std::vector<FakeRecord>& records) {
    entries_.clear();
    for (size_t i = 0; i < records.size(); ++i)
      if (!tag_.filter || tag_.filter(records[i]))
        entries_.emplace_back(tag_.order(records[i]), static_cast<int32_t>(i + 1));
    // A build takes equal keys by record number; a descending one delivers the exact reverse.
    std::sort(entries_.begin(), entries_.end());
    if (tag_.descending) std::reverse(entries_.begin(), entries_.end());
  }
  void Add(const FakeRecord& r, int32_t record) {
    if (tag_.filter && !tag_.filter(r)) return;
    std::pair<std::string, int32_t> e{tag_.order(r), record};
    auto at = entries_.end();
    if (byRecord_) {
      at = tag_.descending ? std::upper_bound(entries_.begin(), entries_.end(), e, std::greater<>())
                           : std::upper_bound(entries_.begin(), entries_.end(), e);
    } else if (tag_.descending) {
      // Before the keys equal to it.
      at = std::find_if(entries_.begin(), entries_.end(),
                        [&](const auto& x) { return x.first <= e.first; });
    } else {
      at = std::find_if(entries_.begin(), entries_.end(),
                        [&](const auto& x) { return x.first > e.first; });
    }
    entries_.insert(at, e);
  }
  bool Remove(int32_t record) {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const auto& x) { return x.second == record; });
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
  }
  // A rewrite of `record` from `before` to `after`, as key upkeep does it.
  void Rewrite(int32_t record, const FakeRecord& before, const FakeRecord& after) {
    const bool holds = !tag_.filter || tag_.filter(after);
    const bool present = std::any_of(entries_.begin(), entries_.end(),
                                     [&](const auto& x) { return x.second == record; });
    if (tag_.shown(before) == tag_.shown(after) && holds) {
      if (!present) Add(after, record);
      return;
    }
    Remove(record);
    Add(after, record);
  }
  KeyList Shown(const std::vector<FakeRecord>& records) const {
    KeyList out;
    for (const auto& [order, record] : entries_)
      out.emplace_back(tag_.shown(records[static_cast<size_t>(record - 1)]), record);
    return out;
  }

 private:
  const ModelTag& tag_;
  bool byRecord_;
  std::vector<std::pair<std::string, int32_t>> entries_;
};

inline void CheckAgainstModel(const ModelFormat& format,
                              const std::vector<std::unique_ptr<HXobjIndexFile>>& files,
                              FakeIndexTable& table, const std::vector<Reference>& refs,
                              const std::string& when) {
  for (size_t t = 0; t < format.tags.size(); ++t) {
    const ModelTag& m = format.tags[t];
    const KeyList expected = refs[t].Shown(table.Records());
    HXobjIndexTag* tag = FindTag(files, m.name);
    ASSERT_NE(tag, nullptr) << m.name;
    ASSERT_EQ(Walk(tag), expected) << m.name << " " << when;
    // What is on disk is a whole tree at every point, not only after later writes mend it.
    for (const auto& f : files)
      if (f->TagByName(m.name) == tag) format.checkDisk(*f, *tag, expected);
    KeyList back = WalkBack(tag);
    std::reverse(back.begin(), back.end());
    ASSERT_EQ(back, expected) << m.name << " backwards " << when;
    // Every key is found, at the first entry that holds it.
    for (size_t i = 0; i < expected.size(); ++i) {
      if (i > 0 && expected[i].first == expected[i - 1].first) continue;
      HXobjIndexKeyData k;
      m.raw(table.Records()[static_cast<size_t>(expected[i].second - 1)], k);
      k.SetRecNo(kAnyRecord);
      tag->File()->SetExact(true);
      const int32_t got = tag->Seek(k);
      tag->File()->SetExact(false);
      ASSERT_EQ(got, expected[i].second) << m.name << " seek " << when;
    }
  }
}

// Appends and rewrites in batches, checking after each; `pageCache` > 0 bounds the pages every
// tag keeps decoded.
inline void RunModel(const ModelFormat& format, unsigned seed, int batches, int perBatch,
                     bool buildFirst, int pageCache = 0) {
  SCOPED_TRACE(seed);
  IndexTempDir dir;
  FakeIndexTable table(dir.File("MODEL.DBF"));
  std::mt19937 rng(seed);
  if (buildFirst)
    for (int i = 0; i < 300; ++i) table.Records().push_back(RandomRecord(rng));
  std::vector<Reference> refs;
  for (const ModelTag& m : format.tags) {
    refs.emplace_back(m, format.equalKeysByRecord);
    refs.back().Build(table.Records());
  }
  {
    auto files = format.open(table, dir, true);
    for (const ModelTag& m : format.tags) ASSERT_NE(FindTag(files, m.name), nullptr) << m.name;
    for (auto& f : files) {
      if (pageCache > 0)
        for (int i = 0; i < f->TagCount(); ++i) f->TagByIndex(i)->SetPageCacheLimit(pageCache);
      table.Attach(f.get());
    }
    // The master tag keeps its tree between updates, the others release theirs.
    FindTag(files, format.tags.back().name)->Move(kMoveTop);
    for (int b = 0; b < batches; ++b) {
      for (int i = 0; i < perBatch; ++i) {
        const int op = static_cast<int>(rng() % 10);
        const auto n = static_cast<int32_t>(table.Records().size());
        if (op < 5 || n == 0) {
          const FakeRecord r = RandomRecord(rng);
          const int32_t record = table.Append(r);
          for (auto& ref : refs) ref.Add(r, record);
          continue;
        }
        const int32_t which = 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(n));
        const FakeRecord before = table.Records()[static_cast<size_t>(which - 1)];
        FakeRecord r = before;
        switch (op) {
          case 5: r = RandomRecord(rng); break;
          case 6: r.band = r.band == 20 ? 40 : 20; break;  // FOR condition changes
          case 7: r.number = -r.number - 0.5; break;
          case 8: break;                                    // rewritten unchanged
          default: r.text = RandomRecord(rng).text; break;
        }
        table.Rewrite(which, r);
        for (auto& ref : refs) ref.Rewrite(which, before, r);
      }
      ASSERT_NO_FATAL_FAILURE(
          CheckAgainstModel(format, files, table, refs, "batch " + std::to_string(b)));
    }
    table.Detach();
  }
  // Everything reached the file: a fresh handle reads the same.
  auto again = format.open(table, dir, false);
  for (const auto& f : again) ASSERT_TRUE(f->Valid());
  ASSERT_NO_FATAL_FAILURE(CheckAgainstModel(format, again, table, refs, "reopened"));
}

}  // namespace index_model
