// What the open of a table does for index files that a crash or another program left out of
// step with the table: a rewrite cut short (its note in the index header) is keyed again, an
// index file whose stored keys this engine computes otherwise is read and never added to, and a
// tag that lacks too many records is reported. With the smaller faults of the formats: keys and
// headers the formats cannot hold are refused, a single 0xFF key is stored as itself.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>

#include "base/byteorder.h"
#include "base/hx6_date.h"
#include "handler/handler_test_util.h"
#include "handler/tag_check.h"

using namespace handler_test;

namespace {

// Writes bytes over the file at `offset`, as a crash or another program would have left them.
void WriteFileBytes(const std::string& path, int64_t offset, const void* data, size_t size) {
  FILE* f = fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr) << path;
  fseek(f, static_cast<long>(offset), SEEK_SET);
  fwrite(data, 1, size, f);
  fclose(f);
}

struct Format {
  const char* name;
  const char* extension;
  bool oneFilePerTag;
  int64_t noteOffset;  // where the file's header keeps a rewrite's note
};

[[maybe_unused]] void PrintTo(const Format& f, std::ostream* os) { *os << f.name; }

const Format kFormats[] = {{"CDX", ".CDX", false, 16},
                           {"MDX", ".MDX", false, 48},
                           {"NDX", ".NDX", true, 8},
                           {"NTX", ".NTX", true, 1020}};

class IndexRepair : public HandlerTest, public ::testing::WithParamInterface<Format> {
 protected:
  std::vector<std::string> IndexNames() const {
    const Format& f = GetParam();
    if (!f.oneFilePerTag) return {std::string("LOG") + f.extension};
    return {std::string("STATION") + f.extension, std::string("QTH") + f.extension};
  }
  std::string IndexList() const {
    std::string list;
    for (const std::string& n : IndexNames()) list += (list.empty() ? "" : ";") + n;
    return list;
  }

  // LOG.DBF with `records` contacts and the tags STATION and QTH+STATION.
  void Build(int records) {
    MakeLog("LOG.DBF", false);
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    for (int i = 1; i <= records; ++i)
      Append(h, {"K" + std::to_string(i) + "LVC", 20, i % 4 ? "TOWN " + std::to_string(i % 9) : ""});
    const std::vector<std::string> files = IndexNames();
    h.CreateIndexTag(files[0], "STATION", "STATION", "", 1, 0);
    h.CreateIndexTag(files.size() > 1 ? files[1] : files[0], "QTH", "QTH+STATION", "", 1, 0);
  }

  void WriteBytes(const std::string& name, int64_t offset, const void* data, size_t size) const {
    WriteFileBytes(PathOf(name), offset, data, size);
  }
  void WriteBytes(const std::string& name, int64_t offset, const std::string& text) const {
    WriteBytes(name, offset, text.data(), text.size());
  }

  std::unique_ptr<HXO_dBHandler> Open(bool readWrite = true) const {
    auto h = std::make_unique<HXO_dBHandler>(PathOf("LOG.DBF"), false, readWrite);
    h->SetIndexFiles(IndexList(), "STATION");
    return h;
  }
};

TEST_P(IndexRepair, ARewriteCutShortIsKeyedAgainByTheNextReadWriteOpen) {
  // The program died after the record reached the table and before its keys changed: the
  // table says E7IO where the tags still hold K7LVC. Its note is in every index file.
  Build(300);
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), false, false);
    const int64_t at = h.HeaderLength() + 6LL * h.RecordLength() + 1;
    h.Close();
    WriteBytes("LOG.DBF", at, "E7IO      ");
  }
  uint8_t note[4];
  EncodeLE32(note, 7);
  for (const std::string& file : IndexNames()) WriteBytes(file, GetParam().noteOffset, note, 4);
  std::vector<std::string> before;
  for (const std::string& file : IndexNames()) before.push_back(Contents(PathOf(file)));
  {
    // A read-only open writes nothing.
    auto h = Open(false);
    EXPECT_NE(h->FindKeyInTag("STATION", "K7LVC"), -1);
  }
  for (size_t i = 0; i < before.size(); ++i)
    EXPECT_TRUE(Contents(PathOf(IndexNames()[i])) == before[i]) << IndexNames()[i];
  {
    auto h = Open();
    EXPECT_EQ(h->FindKeyInTag("STATION", "E7IO"), 7);
    EXPECT_EQ(h->FindKeyInTag("STATION", "K7LVC"), -1);
    tag_check::ExpectTagsAgreeWithTable(*h);
  }
  for (const std::string& file : IndexNames()) {
    const std::string bytes = Contents(PathOf(file));
    EXPECT_EQ(DecodeLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + GetParam().noteOffset), 0u)
        << "the note of " << file << " stays";
  }
  // A note naming a record past the table's end (another program cut it) is only cleared.
  EncodeLE32(note, 5000);
  for (const std::string& file : IndexNames()) WriteBytes(file, GetParam().noteOffset, note, 4);
  {
    auto h = Open();
    tag_check::ExpectTagsAgreeWithTable(*h);
  }
}

TEST_P(IndexRepair, RewritesLeaveNoNoteAndKeepEveryTagCurrent) {
  Build(200);
  {
    auto h = Open();
    std::mt19937 rng(3);
    for (int i = 0; i < 60; ++i) {
      const int32_t r = 1 + static_cast<int32_t>(rng() % 200);
      h->GoTo(r);
      h->PutText("STATION", i % 3 ? "E7IO" : "W" + std::to_string(i));
      h->PutText("QTH", i % 2 ? "" : "PLACE");
      h->UpdateRecord(r);
    }
    // A rewrite that changes nothing writes no note either.
    h->GoTo(5);
    h->UpdateRecord(5);
  }
  for (const std::string& file : IndexNames()) {
    const std::string bytes = Contents(PathOf(file));
    EXPECT_EQ(DecodeLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + GetParam().noteOffset), 0u);
  }
  auto h = Open();
  tag_check::ExpectTagsAgreeWithTable(*h);
}

TEST_P(IndexRepair, ASingle0xFFKeyIsStoredAsItselfAndFound) {
  MakeLog("LOG.DBF", false);
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    std::mt19937 rng(9);
    for (int i = 1; i <= 400; ++i)
      Append(h, {i % 50 == 0 ? std::string(1, '\xFF') : "C" + std::to_string(rng() % 1000), 20, ""});
    h.CreateIndexTag(IndexNames()[0], "STATION", "STATION", "", 1, 0);
  }
  HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
  h.SetIndexFiles(IndexNames()[0], "STATION");
  tag_check::ExpectTagsAgreeWithTable(h);
  // One more, added through the tree's own update, then the keys as read back from the file.
  Append(h, {std::string(1, '\xFF'), 20, ""});
  h.SetIndexFiles(IndexNames()[0], "STATION");
  tag_check::ExpectTagsAgreeWithTable(h);
  ASSERT_TRUE(h.Find(std::string(1, '\xFF')));
  EXPECT_EQ(Station(h), std::string(1, '\xFF'));
  EXPECT_EQ(h.RecNo(), 50);
}

TEST_P(IndexRepair, ExpressionsLongerThanTheFormatStoresAreRefused) {
  Build(10);
  const Format& f = GetParam();
  struct Case {
    const char* format;
    int key;
    int filter;
    bool refused;
  };
  // The key text is STATION padded with blanks to its length; the FOR text is .T. so padded.
  const Case cases[] = {
      {"CDX", 510, 0, false}, {"CDX", 511, 0, true},   {"CDX", 400, 110, false},
      {"CDX", 400, 111, true}, {"NDX", 487, 0, false},  {"NDX", 488, 0, true},
      {"NTX", 255, 0, false},  {"NTX", 256, 0, true},   {"NTX", 20, 255, false},
      {"NTX", 20, 256, true},  {"MDX", 220, 0, false},  {"MDX", 221, 0, true},
  };
  int tried = 0;
  for (const Case& c : cases) {
    if (std::string(c.format) != f.name) continue;
    ++tried;
    SCOPED_TRACE(std::to_string(c.key) + "/" + std::to_string(c.filter));
    const std::string key = "STATION" + std::string(static_cast<size_t>(c.key - 7), ' ');
    const std::string filter =
        c.filter ? ".T." + std::string(static_cast<size_t>(c.filter - 3), ' ') : std::string();
    const std::string file = IndexNames()[0];
    std::string error;
    {
      HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
      try {
        h.CreateIndexTag(file, "LONG", key, filter, 1, 0);
      } catch (const ESorrelError& e) {
        error = e.Message();
      }
    }
    const std::string what = c.filter ? "FOR" : "key";
    if (c.refused) {
      EXPECT_NE(error.find("The " + what + " expression of tag "), std::string::npos) << error;
      EXPECT_NE(error.find(" is longer than "), std::string::npos) << error;
    } else {
      EXPECT_EQ(error, "");
    }
    // The file stays usable with every key of the table either way.
    auto h = std::make_unique<HXO_dBHandler>(PathOf("LOG.DBF"), false, true);
    h->SetIndexFiles(file, "");
    tag_check::ExpectTagsAgreeWithTable(*h);
    if (!c.refused) {
      HXobjIndexTag* tag = h->TagByPosition(h->TagCount());
      EXPECT_EQ(TrimKeyBlanks(tag->KeyExpression()), "STATION");
    }
  }
  EXPECT_GE(tried, 2);
}

INSTANTIATE_TEST_SUITE_P(Formats, IndexRepair, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

class IndexRepairNdx : public HandlerTest {};

TEST_F(IndexRepairNdx, AnotherProgramsDateKeysAreReadAndNeverAddedTo) {
  // A 600-record table with an NDX of its dates as another program's driver writes them: days
  // counted from 1900 rather than this engine's day numbers. Made byte by byte: a header, 20
  // full leaves of 31 keys (the last of 11) and a root over them.
  MakeLog("LOG.DBF", false);
  constexpr int kRecords = 600;
  const int32_t first = DBFDate().CTOD("20200101");
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    for (int i = 1; i <= kRecords; ++i) {
      Append(h, {"S" + std::to_string(i), 20, ""});
      h.PutDate("QSODATE", first + i);
      h.UpdateRecord(i);
    }
  }
  auto foreignKey = [&](int record) {
    return static_cast<double>(first + record - DBFDate().CTOD("18991230"));
  };
  constexpr int kPerLeaf = 31;
  const int leaves = (kRecords + kPerLeaf - 1) / kPerLeaf;
  std::string file(static_cast<size_t>(512 * (leaves + 2)), '\0');
  auto* b = reinterpret_cast<uint8_t*>(file.data());
  EncodeLE32(b + 0, static_cast<uint32_t>(leaves + 1));  // the root
  EncodeLE32(b + 4, static_cast<uint32_t>(leaves + 2));  // blocks in the file
  EncodeLE16(b + 12, 8);
  EncodeLE16(b + 14, kPerLeaf);
  EncodeLE16(b + 16, 1);
  EncodeLE16(b + 18, 16);
  std::memcpy(b + 24, "QSODATE", 7);
  auto putDouble = [](uint8_t* at, double v) { std::memcpy(at, &v, 8); };
  uint8_t* root = b + 512 * (leaves + 1);
  for (int leaf = 0; leaf < leaves; ++leaf) {
    uint8_t* node = b + 512 * (leaf + 1);
    const int from = leaf * kPerLeaf + 1;
    const int to = std::min(kRecords, from + kPerLeaf - 1);
    EncodeLE32(node, static_cast<uint32_t>(to - from + 1));
    for (int r = from; r <= to; ++r) {
      uint8_t* e = node + 4 + 16 * (r - from);
      EncodeLE32(e + 4, static_cast<uint32_t>(r));
      putDouble(e + 8, foreignKey(r));
    }
    uint8_t* e = root + 4 + 16 * leaf;
    EncodeLE32(e, static_cast<uint32_t>(leaf + 1));
    putDouble(e + 8, foreignKey(to));
  }
  EncodeLE32(root, static_cast<uint32_t>(leaves - 1));
  Put("DATES.NDX", file);
  ASSERT_EQ(file.size(), 11264u);

  for (const bool shared : {false, true}) {
    SCOPED_TRACE(shared ? "shared" : "exclusive");
    HXO_dBHandler h(PathOf("LOG.DBF"), shared, true);
    h.SetIndexFiles("DATES.NDX", "DATES");
    EXPECT_TRUE(Contents(PathOf("DATES.NDX")) == file) << "the open changed the file";
    std::vector<int32_t> order = Walk(h);
    std::vector<int32_t> all(kRecords);
    std::iota(all.begin(), all.end(), 1);
    EXPECT_EQ(order, all);
  }
  // An append through this engine adds its own entry, and only that one.
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), true, true);
    h.SetIndexFiles("DATES.NDX", "DATES");
    Append(h, {"NEW", 20, ""});
  }
  HXO_dBHandler h(PathOf("LOG.DBF"), true, true);
  h.SetIndexFiles("DATES.NDX", "DATES");
  std::vector<int32_t> order = Walk(h);
  ASSERT_EQ(order.size(), static_cast<size_t>(kRecords + 1));
  std::sort(order.begin(), order.end());
  EXPECT_EQ(std::adjacent_find(order.begin(), order.end()), order.end()) << "a record twice";
}

TEST_F(IndexRepairNdx, ATagThatLacksTooManyRecordsIsReportedAndLeftForARebuild) {
  MakeLog("LOG.DBF", false);
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    for (int i = 1; i <= 20; ++i) Append(h, {"K" + std::to_string(i), 20, ""});
    h.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
    // Another program added the rest without the index.
    for (int i = 21; i <= kLongestTailRepair + 60; ++i) Append(h, {"K" + std::to_string(i), 20, ""});
  }
  RecordingHandler h(PathOf("LOG.DBF"), false, true);
  h.SetIndexFiles("LOG.CDX", "STATION");
  const std::tuple<int, int, int> started{-1, kStatusPhaseUnindexedTail, kLongestTailRepair};
  auto it = std::find(h.reports.begin(), h.reports.end(), started);
  ASSERT_NE(it, h.reports.end());
  ASSERT_NE(it + 1, h.reports.end());
  EXPECT_EQ(*(it + 1), std::make_tuple(0, 0, 0));
  EXPECT_EQ(Walk(h).size(), 20u);
  h.Reindex();
  EXPECT_EQ(Walk(h).size(), static_cast<size_t>(kLongestTailRepair + 60));
}

TEST_F(IndexRepairNdx, ARecordLengthThatNeitherFieldsNorFileBearOutIsAnInvalidHeader) {
  using table_images::Field;
  const std::vector<Field> fields = {{"STATION", 'C', 10}, {"QTH", 'C', 20}};
  const std::string record = " K1ABC     BOSTON              ";
  struct Case {
    uint16_t recordLength;
    int records;        // records of that length in the file
    uint32_t stated;    // the header's count
    bool valid;
  };
  const Case cases[] = {
      {31, 2, 2, true},      // the fields' own length
      {65534, 2, 2, false},  // the record length the file cannot hold
      {40, 0, 0, true},      // padded records, none yet
      {40, 3, 3, true},      // padded records the file holds
      {40, 3, 5, false},     // padded records the file does not hold
      {20, 2, 2, false},     // shorter than the fields
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.recordLength) + " x " + std::to_string(c.records));
    std::string image = table_images::TableImage(0x03, fields, {}, 0, c.stated);
    image.pop_back();  // the end-of-file byte goes after the records
    EncodeLE16(reinterpret_cast<uint8_t*>(image.data()) + 10, c.recordLength);
    std::string padded = record;
    padded.resize(c.recordLength < 31 ? 31 : std::min<size_t>(c.recordLength, 64), ' ');
    for (int i = 0; i < c.records; ++i)
      image += c.recordLength <= 64 ? padded.substr(0, c.recordLength) : padded;
    image += '\x1A';
    const std::string path = Put("PAD.DBF", image);
    const std::string error = TempFolder::ErrorOf([&] { HXO_dBHandler h(path, false, false); });
    if (c.valid) {
      EXPECT_EQ(error, "");
    } else {
      EXPECT_EQ(error, ESorrelError(smTableHeaderInvalid, {path}).Message());
    }
  }
}

}  // namespace
