// The single-tag index formats (.ndx, .ntx) on the roads they share: the table handler and the
// data set, two handles and two processes on one file, the Perl index reader (index_dump) reading
// our files key by key, encrypted tables, and damaged files.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_search.h"
#include "handler/handler_test_util.h"
#include "base/hx6_date.h"
#include "index/hx6_ndx.h"
#include "index/hx6_ntx.h"
#include "index/index_fake_table.h"
#include "index/index_file_util.h"
#include "index/index_model.h"
#include "support/tool_runner.h"

using namespace handler_test;
using index_model::KeyList;
using index_model::Walk;

namespace {

struct FormatCase {
  const char* name;
  const char* extension;
  // Whether a tag asked for in descending order is kept descending.
  bool keepsDescending;
  // What one page position counts in the file's child fields (blocks or bytes).
  uint32_t positionUnit;
  std::function<std::unique_ptr<HXobjIndexFile>(HXobjIndexTable*, const std::string&, bool create,
                                                bool shared)>
      make;
  // How the Perl reader prints a key of a tag of this kind ('C', 'N', 'D') for a record.
  std::function<std::string(char kind, const FakeRecord&)> perlKey;
};

std::string CallText(const FakeRecord& r) {
  std::string s = r.call.substr(0, 10);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string Printed(double v) {
  char b[64];
  snprintf(b, sizeof b, "%.15g", v);
  return b;
}

const FormatCase kFormats[] = {
    {"NDX", ".NDX", false, 1,
     [](HXobjIndexTable* t, const std::string& path, bool create, bool shared) {
       return std::make_unique<HXobjNDXFile>(t, path, false, create, shared, true);
     },
     [](char kind, const FakeRecord& r) {
       // Dates are keyed by their day number, and the reader shows that number.
       return kind == 'C' ? CallText(r) : Printed(kind == 'N' ? r.number : r.day);
     }},
    {"NTX", ".NTX", true, 1024,
     [](HXobjIndexTable* t, const std::string& path, bool create, bool shared) {
       return std::make_unique<HXobjNTXFile>(t, path, false, create, shared, true);
     },
     [](char kind, const FakeRecord& r) {
       // Number keys are digit texts the reader turns back into numbers; dates stay "yyyymmdd".
       return kind == 'C' ? CallText(r) : (kind == 'N' ? Printed(r.number) : DBFDate().DTOS(r.day));
     }},
};

std::string FormatName(const ::testing::TestParamInfo<FormatCase>& info) { return info.param.name; }

// For test names and messages.
[[maybe_unused]] void PrintTo(const FormatCase& f, std::ostream* os) { *os << f.name; }

FakeRecord Numbered(int32_t n) {
  FakeRecord r;
  r.call = (n % 3 ? "W" : "VK") + std::to_string((n * 7919) % 1500);
  r.number = (n % 41) - 20.25;
  r.day = 2459000 + (n * 13) % 800;
  r.band = 20;
  r.text = std::string(static_cast<size_t>(n % 40), 'T') + std::to_string(n);
  return r;
}

class IndexFormats : public ::testing::TestWithParam<FormatCase> {
 protected:
  std::string Path(const IndexTempDir& dir, const std::string& stem) const {
    return dir.File(stem + GetParam().extension);
  }
  std::unique_ptr<HXobjIndexFile> Make(FakeIndexTable& table, const std::string& path,
                                       bool create, bool shared = false) const {
    return GetParam().make(&table, path, create, shared);
  }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The Perl index reader (index_dump)

TEST_P(IndexFormats, PerlReaderReadsOurFilesKeyByKey) {
  if (tool_runner::Run("command -v index_dump >/dev/null 2>&1").status != 0)
    GTEST_SKIP() << "index_dump is not installed";
  IndexTempDir dir;
  FakeIndexTable table(dir.File("P.DBF"));
  for (int32_t n = 1; n <= 2000; ++n) table.Records().push_back(Numbered(n));
  struct Tag {
    const char* expression;
    char kind;
  };
  const Tag tags[] = {{"CALL", 'C'}, {"NUMBER", 'N'}, {"DAY", 'D'}, {"TEXT", 'C'}};
  std::vector<std::unique_ptr<HXobjIndexFile>> files;
  for (const Tag& t : tags) {
    files.push_back(Make(table, Path(dir, t.expression), true));
    ASSERT_TRUE(files.back()->CreateTag(t.expression, t.expression, "", true, false));
    table.Attach(files.back().get());
  }
  // Built, then keys added one by one and moved by rewrites.
  for (int32_t n = 2001; n <= 3000; ++n) table.Append(Numbered(n * 3));
  for (int32_t n = 1; n <= 3000; n += 7) table.Rewrite(n, Numbered(n * 5 + 1));
  table.Detach();
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(tags[i].expression);
    KeyList ours;
    for (const auto& [key, record] : Walk(files[i]->TagByIndex(0))) {
      const FakeRecord& r = table.Records()[static_cast<size_t>(record - 1)];
      ours.emplace_back(std::string(tags[i].expression) == "TEXT"
                            ? std::string(r.text)
                            : GetParam().perlKey(tags[i].kind, r),
                        record);
    }
    ASSERT_EQ(ours.size(), 3000u);
    const auto dump = tool_runner::Run(std::string("index_dump -type=") +
                                       (tags[i].kind == 'C' ? "char " : "num ") +
                                       tool_runner::Quote(files[i]->DiskFile()->Name()) + " " +
                                       tags[i].expression + " 2>&1");
    KeyList theirs;
    std::istringstream lines(dump.output);
    for (std::string line; std::getline(lines, line);) {
      const size_t space = line.rfind(' ');
      ASSERT_NE(space, std::string::npos) << line;
      std::string key = line.substr(0, space);
      while (!key.empty() && key.back() == ' ') key.pop_back();
      theirs.emplace_back(key, std::atoi(line.c_str() + space + 1));
    }
    EXPECT_EQ(theirs, ours);
  }
}

// ---------------------------------------------------------------------------------------------
// Encrypted tables

TEST_P(IndexFormats, EncryptedTablesScrambleEveryPage) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("X.DBF"));
  for (int32_t n = 1; n <= 300; ++n) table.Records().push_back(Numbered(n));
  const std::string plainPath = Path(dir, "PLAIN"), path = Path(dir, "X");
  KeyList keys;
  {
    auto plain = Make(table, plainPath, true);
    ASSERT_TRUE(plain->CreateTag("PLAIN", "CALL", "", true, false));
    keys = Walk(plain->TagByIndex(0));
  }
  table.password_ = "secret";
  {
    auto file = Make(table, path, true);
    ASSERT_TRUE(file->CreateTag("X", "CALL", "", true, false));
    table.Attach(file.get());
    table.Append(Numbered(301));
    table.Detach();
    ASSERT_EQ(Walk(file->TagByIndex(0)).size(), 301u);
  }
  auto bytes = [](const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  EXPECT_NE(bytes(path).substr(0, 512), bytes(plainPath).substr(0, 512));
  {
    auto file = Make(table, path, false);
    ASSERT_TRUE(file->Valid());
    keys.emplace(std::upper_bound(keys.begin(), keys.end(),
                                  std::pair{CallText(Numbered(301)), int32_t{301}}),
                 CallText(Numbered(301)), 301);
    EXPECT_EQ(Walk(file->TagByIndex(0)), keys);
    file->Rescramble("secret", "");
  }
  table.password_.clear();
  auto file = Make(table, path, false);
  EXPECT_EQ(Walk(file->TagByIndex(0)), keys);
}

// ---------------------------------------------------------------------------------------------
// Damaged files

TEST_P(IndexFormats, DamagedFilesGiveAClearError) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("F.DBF"));
  for (int32_t n = 1; n <= 400; ++n) table.Records().push_back(Numbered(n));
  const std::string good = Path(dir, "GOOD");
  {
    auto file = Make(table, good, true);
    ASSERT_TRUE(file->CreateTag("GOOD", "CALL", "", true, false));
  }
  std::ifstream in(good, std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(in)), {});
  const std::string bad = Path(dir, "BAD");
  std::mt19937 rng(5);
  int refused = 0, read = 0, corrupted = 0;
  for (int round = 0; round < 300; ++round) {
    std::string copy = image;
    switch (round % 4) {
      case 0:  // a few bytes anywhere
        for (int i = 0; i < 1 + round % 3; ++i) copy[rng() % copy.size()] = static_cast<char>(rng());
        break;
      case 1:  // a header field
        copy[rng() % 64] = static_cast<char>(rng());
        break;
      case 2: {  // a page position or count that points elsewhere in the file (loops), or past it
        const size_t at = (rng() % (copy.size() / 4)) * 4;
        const uint32_t v = rng() % 4 == 0 ? rng() : rng() % 12 * GetParam().positionUnit;
        std::memcpy(copy.data() + at, &v, 4);
        break;
      }
      default:  // cut short
        copy.resize(rng() % copy.size());
        break;
    }
    std::ofstream(bad, std::ios::binary | std::ios::trunc) << copy;
    try {
      auto file = Make(table, bad, false);
      if (!file->Valid() || file->TagCount() == 0) {
        ++refused;
        continue;
      }
      HXobjIndexTag* tag = file->TagByIndex(0);
      int steps = 0;
      for (int32_t r = tag->Move(kMoveTop); r != 0 && steps < 100000; r = tag->Move(kMoveNext))
        ++steps;
      ASSERT_LT(steps, 100000) << "round " << round << ": the walk does not end";
      for (int32_t r = tag->Move(kMoveBottom); r != 0 && steps < 200000; r = tag->Move(kMovePrior))
        ++steps;
      ASSERT_LT(steps, 200000) << "round " << round << ": the walk back does not end";
      HXobjIndexKeyData k;
      k.PutString("W1");
      k.SetRecNo(kAnyRecord);
      tag->Seek(k);
      table.Attach(file.get());
      for (int32_t n = 1; n <= 30; ++n) table.AppendAs(400 + n, Numbered(n * 11));
      table.Rewrite(3, Numbered(77));
      table.Detach();
      ++read;
    } catch (const ESorrelException& e) {
      table.Detach();
      const std::string text = e.what();
      EXPECT_FALSE(text.empty());
      if (text == "Index file " + bad + " is corrupted") ++corrupted;
      ++refused;
    }
  }
  // Both kinds occur: damage that reads as a tree, and damage that is reported.
  EXPECT_GT(refused, 30);
  EXPECT_GT(read, 30);
  EXPECT_GT(corrupted, 10);
}

// ---------------------------------------------------------------------------------------------
// Two handles and two processes on one file

namespace {

// The keys of records 1..n of a TEXT tag, in key order (the texts are all different).
KeyList TextKeys(int32_t first, int32_t last) {
  std::set<std::pair<std::string, int32_t>> keys;
  for (int32_t n = first; n <= last; ++n) keys.emplace(Numbered(n).text, n);
  return KeyList(keys.begin(), keys.end());
}

}  // namespace

TEST_P(IndexFormats, TwoHandlesSeeEachOthersKeysAndWalksGoOnThroughTheirSplits) {
  IndexTempDir dir;
  FakeIndexTable ta(dir.File("S.DBF")), tb(dir.File("S.DBF"));
  const std::string path = Path(dir, "S");
  {
    auto f = Make(ta, path, true);
    ASSERT_TRUE(f->CreateTag("S", "TEXT", "", true, false));
  }
  auto a = Make(ta, path, false, true), b = Make(tb, path, false, true);
  ASSERT_TRUE(a->Valid() && b->Valid());
  ta.Attach(a.get());
  tb.Attach(b.get());
  // Both keep the tree in memory between their updates, as a master tag does.
  a->TagByIndex(0)->Move(kMoveTop);
  b->TagByIndex(0)->Move(kMoveBottom);
  for (int32_t n = 1; n <= 300; ++n) {
    (n % 3 ? ta : tb).AppendAs(n, Numbered(n));
    if (n % 100 == 0) {
      ASSERT_EQ(Walk(a->TagByIndex(0)), TextKeys(1, n)) << n;
      ASSERT_EQ(Walk(b->TagByIndex(0)), TextKeys(1, n)) << n;
    }
  }
  // a steps through the tag while b adds enough keys to split the pages a holds: a meets every
  // key that was there before, once and in order.
  HXobjIndexTag* tag = a->TagByIndex(0);
  KeyList met;
  int32_t r = tag->Move(kMoveTop);
  for (int i = 0; i < 120 && r != 0; ++i, r = tag->Move(kMoveNext))
    met.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
  for (int32_t n = 301; n <= 700; ++n) tb.AppendAs(n, Numbered(n));
  for (; r != 0; r = tag->Move(kMoveNext)) met.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
  KeyList sorted = met;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(met, sorted) << "out of order";
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "a key met twice";
  for (const auto& key : TextKeys(1, 300))
    EXPECT_TRUE(std::binary_search(sorted.begin(), sorted.end(), key)) << key.first << " missed";
  ta.Detach();
  tb.Detach();
  // The header lock: the second handle waits for the first.
  a->LockHeader();
  const auto start = std::chrono::steady_clock::now();
  std::thread waiter([&] { b->LockHeader(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  a->UnlockHeader();
  waiter.join();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
  b->UnlockHeader();
  a.reset();
  b.reset();
  auto check = Make(ta, path, false, true);
  EXPECT_EQ(Walk(check->TagByIndex(0)), TextKeys(1, 700));
}

TEST_P(IndexFormats, TwoProcessesAppendThroughTheHeaderLock) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("PR.DBF"));
  const std::string path = Path(dir, "PR");
  {
    auto f = Make(table, path, true);
    ASSERT_TRUE(f->CreateTag("PR", "TEXT", "", true, false));
  }
  const int32_t total = 600;
  ASSERT_NO_FATAL_FAILURE(index_files::AppendFromTwoProcesses(
      dir, "PR.DBF", table, total, [&](FakeIndexTable& t) { return Make(t, path, false, true); },
      [](HXobjIndexFile& f, bool child) { f.TagByIndex(0)->Move(child ? kMoveTop : kMoveBottom); },
      Numbered));
  auto f = Make(table, path, false, true);
  EXPECT_EQ(Walk(f->TagByIndex(0)), TextKeys(1, total));
}

INSTANTIATE_TEST_SUITE_P(, IndexFormats, ::testing::ValuesIn(kFormats), FormatName);

// ---------------------------------------------------------------------------------------------
// The table handler and the data set

namespace {

class IndexFormatRoads : public HandlerTest, public ::testing::WithParamInterface<FormatCase> {
 protected:
  std::string Named(const std::string& stem) const { return stem + GetParam().extension; }
};

std::vector<std::string> Stations(HXO_dBHandler& h) {
  std::vector<std::string> out;
  for (h.GoTo(kGotoFirst); !h.Eof() && !h.Bof(); h.GoTo(kGotoNext)) {
    std::string s = h.GetString("STATION");
    while (!s.empty() && s.back() == ' ') s.pop_back();
    out.push_back(s);
  }
  return out;
}

}  // namespace

TEST_P(IndexFormatRoads, TheHandlerCreatesOpensKeepsAndRebuildsTheFile) {
  HXO_dBHandler h(MakeLog(), false, true);
  for (const char* s : {"W1AW", "K2X", "DL1A", "VE3B"}) Append(h, {s, 20, "", false});
  // Order 1 asks for descending keys; the tag takes its name from the file.
  h.CreateIndexTag(Named("calls"), "ignored", "STATION", "", 1, 1);
  EXPECT_EQ(h.IndexFileCount(), 0);
  h.SetIndexFiles(Named("calls"), "CALLS");
  ASSERT_NE(h.MasterTag(), nullptr);
  std::vector<std::string> up{"DL1A", "K2X", "VE3B", "W1AW"};
  std::vector<std::string> shown = up;
  if (GetParam().keepsDescending) std::reverse(shown.begin(), shown.end());
  EXPECT_EQ(Stations(h), shown);
  // Appends and rewrites keep the file current, through the header lock.
  Append(h, {"AA1", 20, "", false});
  h.GoTo(2);
  h.PutText("STATION", "ZZ9");
  h.UpdateRecord(2);
  up = {"AA1", "DL1A", "VE3B", "W1AW", "ZZ9"};
  shown = up;
  if (GetParam().keepsDescending) std::reverse(shown.begin(), shown.end());
  EXPECT_EQ(Stations(h), shown);
  EXPECT_TRUE(h.Find("VE"));
  EXPECT_EQ(Station(h), "VE3B");
  EXPECT_FALSE(h.Find("K2X"));
  h.Reindex();
  EXPECT_EQ(Stations(h), shown);
  h.SetIndexFiles("", "");
  // Damage is reported by name when the file is opened.
  Put(Named("BAD"), std::string(4096, '\x7f'));
  EXPECT_EQ(ErrorOf([&] { h.OpenIndexFile(Named("BAD")); }),
            "Index file " + PathOf(Named("BAD")) + " is corrupted");
}

TEST_P(IndexFormatRoads, TheDataSetBuildsOpensAndSeeks) {
  MakeLog();
  TSorrelDataSet ds;
  ds.SetDatabaseName(dir_);
  ds.SetTableName("LOG.DBF");
  ds.Open();
  for (const char* s : {"W1AW", "K2X", "DL1A"}) {
    ds.Append();
    ds.FieldByName("STATION")->SetAsString(s);
    ds.Post();
  }
  BuildIndexTag(ds, Named("STATION"), "", "STATION", "", 1, 0);
  OpenIndexList(ds, Named("STATION"), "STATION");
  ASSERT_EQ(SorrelTagCount(ds), 1);
  EXPECT_EQ(SorrelTagName(ds, 1), "STATION");
  ds.Append();
  ds.FieldByName("STATION")->SetAsString("G4ABC");
  ds.Post();
  std::vector<std::string> rows;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    std::string s = ds.FieldByName("STATION")->AsString();
    while (!s.empty() && s.back() == ' ') s.pop_back();
    rows.push_back(s);
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"DL1A", "G4ABC", "K2X", "W1AW"}));
  EXPECT_TRUE(SeekIndexKey(ds, "K2", false, true));
  EXPECT_EQ(ds.RecNo(), 2);
  ds.Close();
}

INSTANTIATE_TEST_SUITE_P(, IndexFormatRoads, ::testing::ValuesIn(kFormats), FormatName);
