// Damaged tables and memo files: valid images of every dialect, mutated at random (header fields
// set to telling values, bytes flipped, files cut or grown), are opened and read, and memos and
// records are written into them. Every failure must be one of the engine's errors; nothing may
// crash, hang or run away with memory (the sanitizers watch the rest).
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/byteorder.h"
#include "table/hx6_dbf.h"
#include "base/hx6_encrxm.h"
#include "base/hx6_glbl.h"
#include "table/hx6_memo.h"
#include "table/table_images.h"

using namespace table_images;

namespace {

const std::vector<Field> kFields = {{"CALL", 'C', 10}, {"NOTES", 'M', 10}, {"BAND", 'N', 6, 3}};

struct Images {
  std::string table;
  std::string memo;
  std::string memoName;  // empty for a table without memo file
  std::string password;
};

class DbfFuzzTest : public TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    // A hang fails the run instead of stalling it.
    alarm(600);
  }
  void TearDown() override {
    alarm(0);
    TempFolder::TearDown();
  }

  // A table of `version` with a few records, and its memo file with memos of several sizes.
  Images Build(uint8_t version, const std::string& password = {}) {
    Images images;
    images.password = password;
    std::string image = TableImage(version, kFields, {});
    if (!password.empty()) {
      image[15] = 1;
      ScrambleBuffer(password, image.data() + 32, image.data() + 32, 32 * kFields.size(), 1);
    }
    Put("FUZZ.DBF", image);
    if (version == 0x83) images.memoName = "FUZZ.DBT", Put(images.memoName, Memo3Image("FUZZ"));
    if (version == 0x8B) images.memoName = "FUZZ.DBT", Put(images.memoName, Memo4Image("FUZZ"));
    if (version == 0xF5) images.memoName = "FUZZ.FPT", Put(images.memoName, MemoFoxImage());
    // A 0x30 table with a memo field opens its memo file even without the memo flag; this one
    // stays empty (the field holds a binary block number, not the digits written below).
    if (version == 0x30) Put("FUZZ.FPT", MemoFoxImage());
    {
      HXO_dBaseDBF t(PathOf("FUZZ.DBF"), false, true, password);
      HXobjMemo* memo = t.MemoFile();
      const char* calls[] = {"W1AW", "K2X", "N3Y", "DL1ABC", "JA1XYZ"};
      for (int i = 0; i < 5; ++i) {
        std::string record = " " + (std::string(calls[i]) + std::string(10, ' ')).substr(0, 10);
        uint32_t block = 0;
        if (memo != nullptr && version != 0x30 && i != 2) block = memo->WriteText(std::string(static_cast<size_t>(i * 300 + 1), static_cast<char>('a' + i)), 0);
        std::string number = std::to_string(block);
        record += block == 0 ? std::string(10, ' ') : std::string(10 - number.size(), ' ') + number;
        record += "14.000";
        std::copy(record.begin(), record.end(), t.RecordBuffer());
        t.AppendRecord();
      }
      if (memo != nullptr && version == 0x8B) {
        // Give the dBase IV file a free chain to walk: move memo 2 and release its old run.
        t.GotoRecord(2);
        uint32_t old = static_cast<uint32_t>(std::strtoul(std::string(t.RecordBuffer() + 11, 10).c_str(), nullptr, 10));
        uint32_t moved = memo->WriteText(std::string(2000, 'M'), old);
        std::string number = std::to_string(moved);
        std::string field = std::string(10 - number.size(), ' ') + number;
        std::copy(field.begin(), field.end(), t.RecordBuffer() + 11);
        t.UpdateRecord(2);
        memo->Release(old);
      }
      t.Close();
    }
    images.table = Contents(PathOf("FUZZ.DBF"));
    if (!images.memoName.empty()) images.memo = Contents(PathOf(images.memoName));
    return images;
  }

  // One mutation of `image`: mostly in its first bytes, where the headers live.
  static void Mutate(std::string& image, std::mt19937& random, bool memo) {
    if (image.empty()) {
      image.push_back(static_cast<char>(random()));
      return;
    }
    auto below = [&](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(random() % n); };
    const size_t hot = std::min(image.size(), memo ? size_t{40} : size_t{140});
    const size_t at = below(4) != 0 ? below(hot) : below(image.size());
    switch (below(7)) {
      case 0:
      case 1:
        image[at] = static_cast<char>(random());
        break;
      case 2: {  // a 16- or 32-bit field set to a telling value
        static const uint32_t kValues[] = {0, 1, 2, 7, 8, 31, 32, 33, 63, 64, 255, 256, 511, 512, 513,
                                           0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000,
                                           0xFFFFFFF0, 0xFFFFFFFF};
        const uint32_t value = kValues[below(std::size(kValues))];
        const size_t pos = std::min(at & ~size_t{1}, image.size() >= 4 ? image.size() - 4 : 0);
        if (image.size() < 4) break;
        if (below(2) == 0) EncodeLE32(reinterpret_cast<uint8_t*>(image.data() + pos), value);
        else if (below(2) == 0) EncodeBE32(reinterpret_cast<uint8_t*>(image.data() + pos), value);
        else EncodeLE16(reinterpret_cast<uint8_t*>(image.data() + pos), static_cast<uint16_t>(value));
        break;
      }
      case 3:
        image[at] = static_cast<char>(image[at] ^ (1 << below(8)));
        break;
      case 4:
        image[at] = static_cast<char>(below(2) == 0 ? 0x0D : 0x1A);
        break;
      case 5:  // cut short
        image.resize(below(image.size() + 1));
        break;
      default:  // grown by a piece of junk
        image.append(below(700), static_cast<char>(random()));
        break;
    }
  }

  // Opens the table and uses it the way the layers above do, catching the engine's errors one
  // operation at a time so that every later step still runs on what is left.
  void Exercise(const Images& images) {
    auto engine = [](auto action) {
      try {
        action();
      } catch (const ESorrelException&) {
      }
    };
    std::unique_ptr<HXO_dBaseDBF> table;
    engine([&] { table = std::make_unique<HXO_dBaseDBF>(PathOf("FUZZ.DBF"), true, true, images.password); });
    if (!table) {
      ++refused_;
      return;
    }
    ++opened_;
    HXO_dBaseDBF& t = *table;
    HXobjMemo* memo = nullptr;
    engine([&] { memo = t.MemoFile(); });
    std::vector<uint32_t> blocks;
    engine([&] {
      t.GotoRecord(kGotoFirst);
      for (int steps = 0; !t.Eof() && steps < 40; ++steps) {
        for (int f = 1; f <= t.FieldCount(); ++f) {
          const ThxFieldInfo& info = t.FieldInfo(f);
          if (info.type != 'M' || memo == nullptr) continue;
          const std::string digits(t.RecordBuffer() + info.offset, static_cast<size_t>(info.length));
          const auto block = static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 10));
          blocks.push_back(block);
          engine([&] {
            memo->ReadText(block);
            ++memosRead_;
          });
          engine([&] {
            char buffer[64];
            uint32_t size = sizeof buffer;
            memo->Read(buffer, block, size);
            ASSERT_LE(size, sizeof buffer);
          });
        }
        t.GotoRecord(kGotoNext);
      }
    });
    if (memo != nullptr) {
      for (uint32_t block : {blocks.empty() ? 1u : blocks.front(), 0u, 0x7FFFFFFFu}) {
        engine([&] {
          const uint32_t moved = memo->WriteText(std::string(900, 'z'), block);
          engine([&] { EXPECT_EQ(memo->ReadText(moved), std::string(900, 'z')); });
          if (moved != block) memo->Release(block);
        });
      }
    }
    engine([&] {
      std::fill(t.RecordBuffer(), t.RecordBuffer() + t.RecordLength(), ' ');
      t.AppendRecord();
    });
    engine([&] {
      t.GotoRecord(1);
      t.UpdateRecord(1);
    });
    engine([&] { t.Close(); });
  }

  void Fuzz(const Images& images, uint32_t seed, int rounds) {
    opened_ = refused_ = memosRead_ = 0;
    std::mt19937 random(seed);
    for (int round = 0; round < rounds; ++round) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
      std::string table = images.table;
      std::string memo = images.memo;
      const int mutations = 1 + static_cast<int>(random() % 4);
      const unsigned target = random() % 3;  // table, memo or both
      for (int m = 0; m < mutations; ++m) {
        if ((target != 1 || images.memoName.empty())) Mutate(table, random, false);
        if (target != 0 && !images.memoName.empty()) Mutate(memo, random, true);
      }
      Put("FUZZ.DBF", table);
      if (!images.memoName.empty()) Put(images.memoName, memo);
      const auto start = std::chrono::steady_clock::now();
      try {
        Exercise(images);
      } catch (const std::exception& e) {
        ADD_FAILURE() << "not an engine error: " << e.what();
      }
      HXO_DiskFile::CloseAllFiles();
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
      if (HasFailure()) return;
    }
    // The mutations must reach both sides: tables that still open (and memos still read) as well
    // as ones refused.
    EXPECT_GT(opened_, rounds / 10);
    EXPECT_GT(refused_, rounds / 10);
    if (!images.memoName.empty()) {
      EXPECT_GT(memosRead_, rounds / 10);
    }
  }

  int opened_ = 0;
  int refused_ = 0;
  int memosRead_ = 0;
};

TEST_F(DbfFuzzTest, DamagedDBase3TablesAndMemos) {
  Fuzz(Build(0x83), 1, 1500);
  Fuzz(Build(0x83, "Key"), 2, 800);
}

TEST_F(DbfFuzzTest, DamagedDBase4TablesAndMemos) { Fuzz(Build(0x8B), 3, 2000); }

TEST_F(DbfFuzzTest, DamagedFoxProTablesAndMemos) { Fuzz(Build(0xF5), 4, 1500); }

TEST_F(DbfFuzzTest, DamagedPlainAndBacklinkTables) {
  Fuzz(Build(0x03), 5, 1000);
  Fuzz(Build(0x30), 6, 1000);
}

}  // namespace
