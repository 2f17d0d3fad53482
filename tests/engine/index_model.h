// The model-based random test of an index format: appends, rewrites (keys changed, FOR condition
// changed, rewritten unchanged) on a table with tags of each key type, checked after every batch
// against a sorted reference: a walk forward and back, every key sought, and the format's own
// check of the tree on disk; at the end a fresh handle reads the same.
//
// Keys of the reference are the tag's own translation of each record's key. Equal keys follow
// the record number where the file orders them so, else the order in which they were added (a
// rewrite that keeps its key keeps its place); a descending tag is the reverse of that order.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "index_fake_table.h"

namespace index_model {

using KeyList = std::vector<std::pair<std::string, int32_t>>;

// What the driver needs of a format.
struct Format {
  std::string extension;  // "CDX"
  // Creates (create true) or opens the index file.
  std::function<std::unique_ptr<HXobjIndexFile>(FakeIndexTable&, const std::string&, bool)> open;
  struct Shape {
    int depth = 0;
    int keys = 0;
  };
  // Checks a tag's tree on disk (with gtest expectations) and reports its shape.
  std::function<Shape(HXobjIndexFile&, HXobjIndexTag&)> disk;
  // Adds a descending tag over NUMBER to the model.
  bool descendingTag = false;
};

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

struct ModelTag {
  const char* name;
  const char* key;
  const char* filter;
  bool ascending;
};

inline std::vector<ModelTag> ModelTags(const Format& format) {
  std::vector<ModelTag> tags = {{"CALL", "CALL", "", true},     {"NUMBER", "NUMBER", "", true},
                                {"DAY", "DAY", "", true},       {"TEXT", "TEXT", "", true},
                                {"CALL20", "CALL", "BAND=20", true}};
  if (format.descendingTag) tags.push_back({"DOWN", "NUMBER", "", false});
  return tags;
}

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

// The reference: for every tag, the place each record's entry takes among equal keys.
class Model {
 public:
  Model(const Format& format, FakeIndexTable& table) : format_(format), table_(table) {}

  // The key a tag holds for a record, and whether the record passes its FOR condition.
  bool Entry(HXobjIndexTag* tag, const FakeRecord& r, HXobjIndexKeyData& key) {
    const FakeRecord saved = table_.Buffer();
    table_.Buffer() = r;
    const bool passes = !tag->HasFilter() || tag->EvaluateFilter();
    const bool ok = tag->EvaluateKey(key);
    table_.Buffer() = saved;
    if (ok) tag->TranslateKey(key, true);
    return passes && ok;
  }

  // Entries of a built tag follow the record numbers.
  void Built(HXobjIndexFile& file) {
    for (const ModelTag& m : ModelTags(format_)) {
      auto& places = place_[m.name];
      for (size_t i = 0; i < table_.Records().size(); ++i) {
        HXobjIndexKeyData k;
        if (Entry(file.TagByName(m.name), table_.Records()[i], k))
          places[static_cast<int32_t>(i + 1)] = ++stamp_;
      }
    }
  }

  // Before a record is appended (old = null) or rewritten: where its entries go.
  void Change(HXobjIndexFile& file, int32_t record, const FakeRecord* old, const FakeRecord& now) {
    for (const ModelTag& m : ModelTags(format_)) {
      HXobjIndexTag* tag = file.TagByName(m.name);
      auto& places = place_[m.name];
      HXobjIndexKeyData before, after;
      const bool had = old && Entry(tag, *old, before);
      const bool has = Entry(tag, now, after);
      // A rewrite that keeps the key and the FOR condition leaves the entry where it is.
      if (had && has && before.Bytes() == after.Bytes()) continue;
      places.erase(record);
      if (has) places[record] = ++stamp_;
    }
  }

  // The tag's entries in order; `keys` receives their keys as the tag holds them.
  KeyList Expected(HXobjIndexFile& file, const ModelTag& m,
                   std::vector<HXobjIndexKeyData>* keys = nullptr) {
    HXobjIndexTag* tag = file.TagByName(m.name);
    struct Item {
      HXobjIndexKeyData key;
      int32_t record;
      int64_t order;
    };
    std::vector<Item> items;
    for (const auto& [record, stamp] : place_[m.name]) {
      Item it;
      Entry(tag, table_.Records()[static_cast<size_t>(record - 1)], it.key);
      it.record = record;
      it.order = file.EqualKeysByRecord() ? record : stamp;
      items.push_back(std::move(it));
    }
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
      int position = 0;
      const int c = a.key.Compare(&b.key, position, nullptr, -1);
      return c != 0 ? c < 0 : a.order < b.order;
    });
    if (!m.ascending) std::reverse(items.begin(), items.end());
    KeyList out;
    for (const Item& it : items) {
      out.emplace_back(std::string(it.key.Bytes()), it.record);
      if (keys) keys->push_back(it.key);
    }
    return out;
  }

 private:
  const Format& format_;
  FakeIndexTable& table_;
  std::map<std::string, std::map<int32_t, int64_t>> place_;
  int64_t stamp_ = 0;
};

inline void CheckAgainstModel(const Format& format, Model& model, HXobjIndexFile& file,
                              const std::string& when) {
  for (const ModelTag& m : ModelTags(format)) {
    HXobjIndexTag* tag = file.TagByName(m.name);
    ASSERT_NE(tag, nullptr) << m.name;
    std::vector<HXobjIndexKeyData> keys;
    const KeyList ref = model.Expected(file, m, &keys);
    ASSERT_EQ(Walk(tag), ref) << m.name << " " << when;
    // What is on disk is a whole tree at every point, not only after later writes mend it.
    EXPECT_EQ(format.disk(file, *tag).keys, static_cast<int>(ref.size()))
        << m.name << " on disk " << when;
    KeyList back = WalkBack(tag);
    std::reverse(back.begin(), back.end());
    ASSERT_EQ(back, ref) << m.name << " backwards " << when;
    // Every key is found, at the first entry that holds it.
    for (size_t i = 0; i < ref.size(); ++i) {
      if (i > 0 && ref[i].first == ref[i - 1].first) continue;
      HXobjIndexKeyData k = keys[i];
      k.SetRecNo(kAnyRecord);
      file.SetExact(true);
      ASSERT_EQ(tag->Seek(k), ref[i].second) << m.name << " seek " << when;
      file.SetExact(false);
    }
  }
}

inline void RunModel(const Format& format, unsigned seed, int batches, int perBatch,
                     bool buildFirst, int pageCache = 0) {
  SCOPED_TRACE(seed);
  IndexTempDir dir;
  FakeIndexTable table(dir.File("MODEL.DBF"));
  Model model(format, table);
  const std::string path = dir.File("MODEL." + format.extension);
  std::mt19937 rng(seed);
  if (buildFirst)
    for (int i = 0; i < 300; ++i) table.Records().push_back(RandomRecord(rng));
  {
    std::unique_ptr<HXobjIndexFile> owned = format.open(table, path, true);
    HXobjIndexFile& file = *owned;
    for (const ModelTag& m : ModelTags(format))
      ASSERT_TRUE(file.CreateTag(m.name, m.key, m.filter, m.ascending, false)) << m.name;
    model.Built(file);
    if (pageCache > 0)
      for (int i = 0; i < file.TagCount(); ++i) file.TagByIndex(i)->SetPageCacheLimit(pageCache);
    table.Attach(&file);
    // The master tag keeps its tree between updates, the others release theirs.
    file.TagByName("TEXT")->Move(kMoveTop);
    for (int b = 0; b < batches; ++b) {
      for (int i = 0; i < perBatch; ++i) {
        const int op = static_cast<int>(rng() % 10);
        const auto n = static_cast<int32_t>(table.Records().size());
        if (op < 5 || n == 0) {
          const FakeRecord r = RandomRecord(rng);
          model.Change(file, n + 1, nullptr, r);
          table.Append(r);
        } else {
          const int32_t which = 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(n));
          const FakeRecord old = table.Records()[static_cast<size_t>(which - 1)];
          FakeRecord r = old;
          switch (op) {
            case 5: r = RandomRecord(rng); break;
            case 6: r.band = r.band == 20 ? 40 : 20; break;  // FOR condition changes
            case 7: r.number = -r.number - 0.5; break;
            case 8: break;                                    // rewritten unchanged
            default: r.text = RandomRecord(rng).text; break;
          }
          model.Change(file, which, &old, r);
          table.Rewrite(which, r);
        }
      }
      ASSERT_NO_FATAL_FAILURE(
          CheckAgainstModel(format, model, file, "batch " + std::to_string(b)));
    }
    table.Detach();
  }
  // Everything reached the file: a fresh handle reads the same.
  std::unique_ptr<HXobjIndexFile> again = format.open(table, path, false);
  ASSERT_TRUE(again->Valid());
  EXPECT_EQ(again->TagCount(), static_cast<int>(ModelTags(format).size()));
  ASSERT_NO_FATAL_FAILURE(CheckAgainstModel(format, model, *again, "reopened"));
  EXPECT_GE(format.disk(*again, *again->TagByName("TEXT")).depth, 3);
}

}  // namespace index_model
