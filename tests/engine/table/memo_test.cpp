#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/byteorder.h"
#include "table/hx6_dbf.h"
#include "base/hx6_encrxm.h"
#include "base/hx6_glbl.h"
#include "base/hx6_lcal.h"
#include "table/hx6_memo.h"
#include "table/table_images.h"

using namespace table_images;

namespace {

const std::vector<Field> kFields = {{"CALL", 'C', 10}, {"NOTES", 'M', 10}};

class MemoTest : public TempFolder {
 protected:
  // A table of `version` with its empty memo file; returns the table path.
  std::string MakeTable(uint8_t version, const std::string& password = {}) {
    std::string image = TableImage(version, kFields, {}, version == 0x30 ? 0x02 : 0);
    if (!password.empty()) {
      image[15] = 1;
      ScrambleBuffer(password, image.data() + 32, image.data() + 32, 64, 1);
    }
    std::string path = Put("LOG.DBF", image);
    if (version == 0x83) Put("LOG.DBT", Memo3Image("LOG"));
    if (version == 0x8B) Put("LOG.DBT", Memo4Image("LOG"));
    if (version == 0xF5 || version == 0x30) Put("LOG.FPT", MemoFoxImage());
    return path;
  }
  std::string MemoContents() {
    for (const char* name : {"LOG.DBT", "LOG.FPT"}) {
      std::string c = Contents(PathOf(name));
      if (!c.empty()) return c;
    }
    return {};
  }
};

TEST_F(MemoTest, TableMakesTheMemoFileOfItsVersion) {
  struct Case {
    uint8_t version;
    uint32_t blockSize;
  };
  for (const Case& c : {Case{0x83, 512}, Case{0x8B, 512}, Case{0xF5, 64}, Case{0x30, 64}}) {
    SCOPED_TRACE(c.version);
    HXO_dBaseDBF t(MakeTable(c.version), true, true);
    HXobjMemo* memo = t.MemoFile();
    ASSERT_NE(memo, nullptr);
    EXPECT_EQ(memo->BlockSize(), c.blockSize);
    EXPECT_EQ(t.MemoFile(), memo);  // opened once
    EXPECT_EQ(c.version == 0x8B, dynamic_cast<HXobjMemo4*>(memo) != nullptr);
    EXPECT_EQ(c.version == 0xF5 || c.version == 0x30, dynamic_cast<HXobjFXMemo20*>(memo) != nullptr);
  }
  Put("PLAIN.DBF", TableImage(0x03, kFields));
  HXO_dBaseDBF plain(PathOf("PLAIN.DBF"), true, true);
  EXPECT_EQ(plain.MemoFile(), nullptr);
  // Without the memo flag a 0x30 table still opens its memo file when it has a memo field.
  Put("FOX.DBF", TableImage(0x30, kFields));
  Put("FOX.FPT", MemoFoxImage());
  HXO_dBaseDBF fox(PathOf("FOX.DBF"), true, true);
  EXPECT_NE(dynamic_cast<HXobjFXMemo20*>(fox.MemoFile()), nullptr);
  Put("FOXPLAIN.DBF", TableImage(0x30, {{"CALL", 'C', 10}}));
  HXO_dBaseDBF foxPlain(PathOf("FOXPLAIN.DBF"), true, true);
  EXPECT_EQ(foxPlain.MemoFile(), nullptr);

  Put("GONE.DBF", TableImage(0x83, kFields));
  HXO_dBaseDBF gone(PathOf("GONE.DBF"), true, true);
  EXPECT_EQ(ErrorOf([&] { gone.MemoFile(); }), "File " + PathOf("GONE.dbt") + " could not be found");
  gone.Flush();  // a memo file that never opened does not stop a flush
}

TEST_F(MemoTest, DBase3BlocksAndEndBytes) {
  HXO_dBaseDBF t(MakeTable(0x83), false, true);
  HXobjMemo* memo = t.MemoFile();
  EXPECT_EQ(memo->WriteText(std::string(510, 'a'), 0), 1u);  // 510 + 2 end bytes fill one block
  std::string file = MemoContents();
  ASSERT_EQ(file.size(), 1024u);
  EXPECT_EQ(DecodeLE32(file.data()), 2u);
  EXPECT_EQ(file.substr(1022), "\x1A\x1A");
  EXPECT_EQ(memo->WriteText(std::string(511, 'b'), 0), 2u);  // 511 takes two blocks
  EXPECT_EQ(DecodeLE32(MemoContents().data()), 4u);
  EXPECT_EQ(memo->ReadText(1), std::string(510, 'a'));
  EXPECT_EQ(memo->DataLength(2), 511u);

  // A shorter text keeps its block; a longer one moves to the next free block.
  EXPECT_EQ(memo->WriteText("short", 2), 2u);
  EXPECT_EQ(memo->ReadText(2), "short");
  EXPECT_EQ(memo->WriteText(std::string(600, 'c'), 1), 4u);
  EXPECT_EQ(memo->ReadText(4), std::string(600, 'c'));
  EXPECT_EQ(DecodeLE32(MemoContents().data()), 6u);
  uint32_t size = 3;
  char buffer[3];
  EXPECT_EQ(memo->Read(buffer, 4, size), 3u);
  EXPECT_EQ(std::string(buffer, 3), "ccc");
  size = 99;
  EXPECT_EQ(memo->Read(buffer, 0, size), 0u);
  EXPECT_EQ(size, 0u);
}

TEST_F(MemoTest, DBase3OfAnEncryptedTableKeepsALengthPrefix) {
  HXO_dBaseDBF t(MakeTable(0x83, "key"), false, true, "key");
  HXobjMemo* memo = t.MemoFile();
  const std::string text = "Worked\x1A" "all states";  // the length, not an end byte, ends it
  EXPECT_EQ(memo->WriteText(text, 0), 1u);
  std::string file = MemoContents();
  EXPECT_EQ(DecodeLE32(file.data() + 512), text.size());
  std::string stored = file.substr(516, text.size());
  EXPECT_NE(stored, text);
  ScrambleBuffer("key", stored.data(), stored.data(), stored.size(), 0);
  EXPECT_EQ(stored, text);
  EXPECT_EQ(memo->ReadText(1), text);
}

TEST_F(MemoTest, DBase4IsPaddedAndKeepsBlockHeaders) {
  HXO_dBaseDBF t(MakeTable(0x8B), false, true);
  HXobjMemo* memo = t.MemoFile();
  std::string file = MemoContents();
  ASSERT_EQ(file.size(), 512u);  // 24 header bytes padded to a block
  EXPECT_EQ(file[18], 2);
  EXPECT_EQ(file[19], 1);
  EXPECT_EQ(memo->WriteText("Hello", 0), 1u);
  file = MemoContents();
  EXPECT_EQ(file.substr(512, 4), std::string("\xFF\xFF\x08\x00", 4));
  EXPECT_EQ(DecodeLE32(file.data() + 516), 13u);
  EXPECT_EQ(file.substr(520, 5), "Hello");
  EXPECT_EQ(DecodeLE32(file.data()), 2u);
  EXPECT_EQ(memo->ReadText(1), "Hello");
}

TEST_F(MemoTest, DBase4ShortFileIsPaddedOnlyByAWritableOpener) {
  const std::string path = MakeTable(0x8B);
  const std::string memoPath = PathOf("LOG.DBT");
  for (bool shared : {false, true}) {
    HXO_dBaseDBF t(path, shared, false);
    ASSERT_NE(t.MemoFile(), nullptr);
    EXPECT_EQ(t.MemoFile()->BlockSize(), 512u);
    EXPECT_EQ(t.MemoFile()->ReadText(0), "");
  }
  EXPECT_EQ(Contents(memoPath), Memo4Image("LOG"));
  HXO_dBaseDBF t(path, true, true);
  t.MemoFile();
  std::string padded = Contents(memoPath);
  ASSERT_EQ(padded.size(), 512u);
  EXPECT_EQ(padded.substr(0, 24), Memo4Image("LOG"));
  EXPECT_EQ(padded.substr(24), std::string(488, '\0'));
}

TEST_F(MemoTest, DBase4FreeChainIsReused) {
  HXO_dBaseDBF t(MakeTable(0x8B), false, true);
  HXobjMemo* memo = t.MemoFile();
  auto header = [&] { return DecodeLE32(MemoContents().data()); };
  EXPECT_EQ(memo->WriteText("A", 0), 1u);                      // block 1
  EXPECT_EQ(memo->WriteText(std::string(600, 'b'), 0), 2u);    // blocks 2-3
  EXPECT_EQ(memo->WriteText("C", 0), 4u);                      // block 4
  EXPECT_EQ(header(), 5u);
  // The same size again: written over in place.
  EXPECT_EQ(memo->WriteText("a", 1), 1u);
  EXPECT_EQ(header(), 5u);
  // Growing memo 1 takes two blocks at the end; block 1 stays taken until it is released (once
  // the record pointing at block 5 is written).
  EXPECT_EQ(memo->WriteText(std::string(700, 'x'), 1), 5u);
  EXPECT_EQ(header(), 7u);
  EXPECT_EQ(memo->ReadText(1), "a");
  memo->Release(1);
  EXPECT_EQ(header(), 1u);
  std::string file = MemoContents();
  EXPECT_EQ(DecodeLE32(file.data() + 512), 7u);  // run 1 links on to the end of the file
  EXPECT_EQ(DecodeLE32(file.data() + 516), 1u);  // one block long
  // Released once, the block no longer starts a memo: a second release is refused untouched.
  EXPECT_EQ(ErrorOf([&] { memo->Release(1); }), "Memo record is bad in " + PathOf("LOG.DBT"));
  EXPECT_EQ(MemoContents(), file);
  // Moving the two-block memo and releasing it puts it at the head; a one-block text takes its
  // first block and leaves the second as a run of one.
  EXPECT_EQ(memo->WriteText(std::string(2000, 'y'), 2), 7u);
  memo->Release(2);
  EXPECT_EQ(header(), 2u);
  EXPECT_EQ(memo->WriteText("small", 0), 2u);
  EXPECT_EQ(header(), 3u);
  file = MemoContents();
  EXPECT_EQ(DecodeLE32(file.data() + 3 * 512), 1u);      // next: the old head, block 1
  EXPECT_EQ(DecodeLE32(file.data() + 3 * 512 + 4), 1u);  // one block
  EXPECT_EQ(memo->WriteText("tiny", 0), 3u);
  EXPECT_EQ(memo->WriteText("last", 0), 1u);
  EXPECT_EQ(header(), 11u);  // the end of the file after 7-10
  EXPECT_EQ(memo->ReadText(7), std::string(2000, 'y'));
  EXPECT_EQ(memo->ReadText(5), std::string(700, 'x'));
  EXPECT_EQ(memo->ReadText(4), "C");
  EXPECT_EQ(memo->ReadText(2), "small");
}

TEST_F(MemoTest, DBase4BlockBoundariesAndShrinkingInPlace) {
  HXO_dBaseDBF t(MakeTable(0x8B), false, true);
  HXobjMemo* memo = t.MemoFile();
  auto header = [&] { return DecodeLE32(MemoContents().data()); };
  // 8 header bytes + 504 text bytes fill one block exactly; 505 need two.
  EXPECT_EQ(memo->WriteText(std::string(504, 'a'), 0), 1u);
  EXPECT_EQ(header(), 2u);
  EXPECT_EQ(memo->WriteText(std::string(505, 'b'), 0), 2u);
  EXPECT_EQ(header(), 4u);
  EXPECT_EQ(memo->WriteText(std::string(1528, 'c'), 0), 4u);  // exactly three blocks
  EXPECT_EQ(header(), 7u);
  EXPECT_EQ(MemoContents().size(), 7u * 512);
  // Growing by one byte past the block moves the memo; filling the same blocks does not.
  EXPECT_EQ(memo->WriteText(std::string(505, 'B'), 2), 2u);
  EXPECT_EQ(memo->WriteText(std::string(1016, 'B'), 2), 2u);
  EXPECT_EQ(memo->WriteText(std::string(1017, 'B'), 2), 7u);
  EXPECT_EQ(memo->ReadText(2), std::string(1016, 'B'));  // the old place is intact until released
  // Shrinking in place hands the blocks no longer needed to the chain at once.
  EXPECT_EQ(memo->WriteText("short", 4), 4u);
  EXPECT_EQ(header(), 5u);
  std::string file = MemoContents();
  EXPECT_EQ(DecodeLE32(file.data() + 5 * 512), 10u);     // then the end of the file
  EXPECT_EQ(DecodeLE32(file.data() + 5 * 512 + 4), 2u);  // blocks 5 and 6
  EXPECT_EQ(memo->ReadText(4), "short");
  EXPECT_EQ(memo->WriteText(std::string(1000, 'd'), 0), 5u);  // the freed pair is taken whole
  EXPECT_EQ(header(), 10u);
  EXPECT_EQ(memo->ReadText(1), std::string(504, 'a'));
  EXPECT_EQ(memo->ReadText(7), std::string(1017, 'B'));
  // Zero-length texts still take their block header's block.
  EXPECT_EQ(memo->WriteText("", 0), 10u);
  EXPECT_EQ(memo->ReadText(10), "");
}

TEST_F(MemoTest, DBase4DamagedChainIsReportedAndLeftAlone) {
  const std::string bad = "Memo record is bad in " + PathOf("LOG.DBT");
  struct Case {
    const char* what;
    uint32_t head;          // header's first free block
    uint32_t run1[2];       // block 1: next, length
    uint32_t run2[2];       // block 2: next, length
  };
  for (const Case& c : {Case{"a loop", 1, {2, 1}, {1, 1}},
                        Case{"the header as first run", 0, {0, 0}, {0, 0}},
                        Case{"a run pointing at the header", 1, {0, 1}, {0, 0}},
                        Case{"a run of no blocks", 1, {2, 0}, {5, 1}},
                        Case{"a run past the end of the file", 2, {0, 0}, {5, 9}}}) {
    SCOPED_TRACE(c.what);
    HXO_dBaseDBF t(MakeTable(0x8B), false, true);
    HXobjMemo* memo = t.MemoFile();
    memo->WriteText("A", 0);
    memo->WriteText("B", 0);
    memo->WriteText("C", 0);
    uint8_t run[8];
    EncodeLE32(run, c.run1[0]);
    EncodeLE32(run + 4, c.run1[1]);
    memo->HXO_DiskFile::Write(512, run, 8);
    EncodeLE32(run, c.run2[0]);
    EncodeLE32(run + 4, c.run2[1]);
    memo->HXO_DiskFile::Write(1024, run, 8);
    EncodeLE32(run, c.head);
    memo->HXO_DiskFile::Write(0, run, 4);
    const std::string before = MemoContents();
    EXPECT_EQ(ErrorOf([&] { memo->WriteText(std::string(1500, 'z'), 0); }), bad);
    EXPECT_EQ(MemoContents(), before);
    EXPECT_EQ(memo->ReadText(3), "C");
  }
}

TEST_F(MemoTest, FoxProBlocks) {
  HXO_dBaseDBF t(MakeTable(0xF5), false, true);
  HXobjMemo* memo = t.MemoFile();
  EXPECT_EQ(memo->WriteText("Hello", 0), 8u);
  std::string file = MemoContents();
  EXPECT_EQ(DecodeBE32(file.data()), 9u);
  EXPECT_EQ(DecodeBE32(file.data() + 512), 1u);
  EXPECT_EQ(DecodeBE32(file.data() + 516), 5u);
  EXPECT_EQ(file.size(), 576u);
  EXPECT_EQ(memo->WriteText(std::string(56, 'a'), 8), 8u);  // 8 + 56 fills the block
  EXPECT_EQ(memo->WriteText(std::string(57, 'b'), 8), 9u);  // one more moves it
  EXPECT_EQ(DecodeBE32(MemoContents().data()), 11u);
  EXPECT_EQ(memo->ReadText(9), std::string(57, 'b'));
}

TEST_F(MemoTest, DamagedMemosAreReportedNotFollowed) {
  HXO_dBaseDBF t(MakeTable(0xF5), false, true);
  HXobjMemo* memo = t.MemoFile();
  memo->WriteText("Hello", 0);
  const std::string bad = "Memo record is bad in " + PathOf("LOG.FPT");
  uint8_t type[4];
  EncodeBE32(type, 2);
  memo->HXO_DiskFile::Write(512, type, 4);
  EXPECT_EQ(ErrorOf([&] { memo->ReadText(8); }), bad);
  EncodeBE32(type, 1);
  memo->HXO_DiskFile::Write(512, type, 4);
  uint8_t length[4];
  EncodeBE32(length, 0x7FFFFFF0);  // longer than the file
  memo->HXO_DiskFile::Write(516, length, 4);
  EXPECT_EQ(ErrorOf([&] { memo->ReadText(8); }), bad);
  EXPECT_EQ(ErrorOf([&] { memo->ReadText(4000); }), bad);  // past the end
  EXPECT_EQ(ErrorOf([&] { memo->ReadText(3); }), bad);     // inside the header
  // A damaged old block is not reused or released; the new text goes to free space.
  EXPECT_EQ(memo->WriteText("again", 8), 9u);
  EXPECT_EQ(memo->ReadText(9), "again");
}

TEST_F(MemoTest, DamagedMemoHeadersAndBlocksOfTheOtherDialects) {
  {
    HXO_dBaseDBF t(MakeTable(0x8B), false, true);
    HXobjMemo* memo = t.MemoFile();
    memo->WriteText("Hello", 0);
    memo->HXO_DiskFile::Write(512, "\x00\x00", 2);
    EXPECT_EQ(ErrorOf([&] { memo->ReadText(1); }), "Memo record is bad in " + PathOf("LOG.DBT"));
    EXPECT_EQ(ErrorOf([&] { memo->ReadText(77); }), "Memo record is bad in " + PathOf("LOG.DBT"));
  }
  {
    HXO_dBaseDBF t(MakeTable(0x83), false, true);
    HXobjMemo* memo = t.MemoFile();
    EXPECT_EQ(ErrorOf([&] { memo->ReadText(9); }), "Memo record is bad in " + PathOf("LOG.DBT"));
    // A text without its end bytes runs to the end of the file.
    memo->HXO_DiskFile::Write(512, "open", 4);
    EXPECT_EQ(memo->ReadText(1), "open");
  }
  // Unusable block sizes are refused when the file opens.
  for (uint8_t version : {0x8B, 0xF5}) {
    SCOPED_TRACE(version);
    MakeTable(version);
    std::string name = version == 0x8B ? "LOG.DBT" : "LOG.FPT";
    std::string image = Contents(PathOf(name));
    if (version == 0x8B) EncodeLE32(image.data() + 20, 0);
    else EncodeBE16(image.data() + 6, 0);
    Put(name, image);
    HXO_dBaseDBF t(PathOf("LOG.DBF"), true, true);
    EXPECT_EQ(ErrorOf([&] { t.MemoFile(); }), "Memo record is bad in " + PathOf(name));
    Put(name, "abc");
    HXO_dBaseDBF u(PathOf("LOG.DBF"), true, true);
    EXPECT_EQ(ErrorOf([&] { u.MemoFile(); }), "Memo record is bad in " + PathOf(name));
  }
}

TEST_F(MemoTest, NextFreeBlockStaysInsideTheFile) {
  HXO_dBaseDBF t(MakeTable(0x83), false, true);
  HXobjMemo* memo = t.MemoFile();
  memo->WriteText("first", 0);
  uint8_t next[4];
  EncodeLE32(next, 0);  // would put the next memo over the header
  memo->HXO_DiskFile::Write(0, next, 4);
  EXPECT_EQ(memo->WriteText("second", 0), 2u);
  EncodeLE32(next, 0xFFFFFFF0);  // would write terabytes away
  memo->HXO_DiskFile::Write(0, next, 4);
  EXPECT_EQ(memo->WriteText("third", 0), 3u);
  EXPECT_EQ(memo->ReadText(1), "first");
  EXPECT_EQ(memo->ReadText(2), "second");
  EXPECT_EQ(DecodeLE32(MemoContents().data()), 4u);
}

TEST_F(MemoTest, MemoLockOffsetsAndRetries) {
  struct Case {
    ThxLokProtocol protocol;
    int64_t offset;
    int64_t length;
  };
  const std::string memoPath = PathOf("LOG.DBT");
  MakeTable(0x83);
  for (const Case& c : {Case{ThxLokProtocol::Default, 0x7FFFFFFD, 1}, Case{ThxLokProtocol::FoxLock, 0x7FFFFFFD, 1},
                        Case{ThxLokProtocol::DB4Lock, 0xEFFFFFFE, 2}, Case{ThxLokProtocol::ClipLock, 1000000000, 1}}) {
    SCOPED_TRACE(static_cast<int>(c.protocol));
    HXO_dBaseDBF t(PathOf("LOG.DBF"), true, true);
    t.SetLockProtocol(c.protocol);  // handed to a memo file opened later too
    HXobjMemo* memo = t.MemoFile();
    HXO_DiskFile other(memoPath, true, true);
    other.Open();
    // Holding the last byte of the memo lock region blocks the writer.
    ASSERT_TRUE(other.LockRegion(c.offset + c.length - 1, 1));
    const std::string before = Contents(memoPath);
    const auto start = std::chrono::steady_clock::now();
    uint32_t block = 1;  // the field's memo stays where it was
    std::string error = ErrorOf([&] { memo->Write("blocked", 7, block); });
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(error, "Can not Lock file " + memoPath);
    EXPECT_GE(waited, std::chrono::milliseconds(4500));
    EXPECT_EQ(block, 1u);
    EXPECT_EQ(Contents(memoPath), before);
    other.Unlock();
    // A byte next to the region does not.
    ASSERT_TRUE(other.LockRegion(c.offset + c.length, 1));
    EXPECT_GT(memo->WriteText("free", 0), 0u);
    other.Unlock();
    EXPECT_EQ(memo->LockCount(), 0);
    if (c.protocol != ThxLokProtocol::Default) break;  // one full wait is enough
  }
}

TEST_F(MemoTest, RenameFollowsTheTable) {
  {
    HXO_dBaseDBF t(MakeTable(0x8B), false, true);
    t.MemoFile()->WriteText("Hello", 0);
    ASSERT_TRUE(t.Rename(PathOf("CONTEST.DBF")));
    EXPECT_EQ(t.MemoFile()->Name(), PathOf("CONTEST.DBT"));
    EXPECT_EQ(t.MemoFile()->ReadText(1), "Hello");
  }
  std::string memo = Contents(PathOf("CONTEST.DBT"));
  EXPECT_EQ(memo.substr(8, 9), std::string("CONTEST\0\0", 9));
  EXPECT_EQ(memo[18], 2);
  EXPECT_TRUE(Contents(PathOf("LOG.DBT")).empty());
}

TEST(Scramble, RoundTripAndEmptyKey) {
  const std::string source = "W1AW  14.074 FT8 \x00\xFF" + std::string(300, 'q');
  std::string scrambled(source.size(), '\0');
  EXPECT_EQ(ScrambleBuffer("Ham", source.data(), scrambled.data(), source.size(), 1), 1);
  EXPECT_NE(scrambled, source);
  // Byte i: ((i mod 256) or key[i mod 3]) xor source[i].
  EXPECT_EQ(static_cast<uint8_t>(scrambled[0]), (0 | 'H') ^ 'W');
  EXPECT_EQ(static_cast<uint8_t>(scrambled[257]), ((257 % 256) | 'm') ^ 'q');
  std::string back = scrambled;
  EXPECT_EQ(ScrambleBuffer("Ham", back.data(), back.data(), back.size(), 0), -1);
  EXPECT_EQ(back, source);
  std::string copy(source.size(), '\0');
  EXPECT_EQ(ScrambleBuffer("", source.data(), copy.data(), source.size(), 1), 0);
  EXPECT_EQ(copy, source);
}

TEST(Collation, NoTableIsInstalled) {
  EXPECT_EQ(HxCollateTable(), nullptr);
  EXPECT_EQ(HxUpperTable(), nullptr);
  EXPECT_EQ(HxLowerTable(), nullptr);
  EXPECT_EQ(HxSecondaryTable(), nullptr);
}

}  // namespace
