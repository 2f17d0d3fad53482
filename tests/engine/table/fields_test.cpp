// Field access: each type's encoding both ways, access by name and by number, text conversions,
// display text, the deletion mark, the blank record and the changed flags.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/byteorder.h"
#include "base/hx6_date.h"
#include "table/hx6_dbf_build.h"
#include "table/hx6_dbf_fld.h"
#include "base/hx6_encrxm.h"
#include "base/hx6_glbl.h"
#include "table/table_images.h"

using namespace table_images;

namespace {

class FieldsTest : public TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    SetShortDateFormat("MM/dd/yy");
    DBFDate().SetCentury(true);
  }

  // LOG.DBF: CALL C 10, BAND N 6.2, QSODATE D, QSL L, LONGTEXT C 300, RATE F 8.3, COUNT N 5.
  std::string MakeLog(const std::string& name = "LOG.DBF") {
    HXO_DB4Build b(PathOf(name));
    b.AddField("CALL", "C", 10, 0);
    b.AddField("BAND", "N", 6, 2);
    b.AddField("QSODATE", "D", 8, 0);
    b.AddField("QSL", "L", 1, 0);
    b.AddField("LONGTEXT", "C", 300, 0);
    b.AddField("RATE", "F", 8, 3);
    b.AddField("COUNT", "N", 5, 0);
    b.CreateFiles();
    return PathOf(name);
  }

  static std::string Raw(HXO_dBaseFld& t) {
    return std::string(t.RecordBuffer(), static_cast<size_t>(t.RecordLength()));
  }
};

TEST_F(FieldsTest, PutStringAlignsByType) {
  HXO_dBaseFld t(MakeLog(), false, true);
  t.BlankRecord();
  EXPECT_TRUE(t.PutString("COUNT", "abc"));
  EXPECT_EQ(t.GetString("COUNT"), "  abc");
  EXPECT_TRUE(t.PutString("CALL", "abc"));
  EXPECT_EQ(t.GetString("CALL"), "abc       ");
  t.PutString("CALL", "W1AW/PORTABLE");
  EXPECT_EQ(t.GetString("CALL"), "W1AW/PORTA");  // cut to the field
  t.PutString("QSODATE", "1980");
  EXPECT_EQ(t.GetString("QSODATE"), "1980    ");
  t.PutString("QSL", "yes");
  EXPECT_EQ(t.GetString("QSL"), "y");
  t.PutString("RATE", "1");
  EXPECT_EQ(t.GetString("RATE"), "       1");
  // Neighbours are untouched.
  EXPECT_EQ(t.RecordBuffer()[0], ' ');
  EXPECT_EQ(t.GetString("BAND"), "  0.00");
}

TEST_F(FieldsTest, BlankRecordHoldsZeroInNumericFields) {
  HXO_dBaseFld t(MakeLog(), false, true);
  t.PutString("CALL", "OLD");
  t.ClearChangedFlags();
  t.BlankRecord();
  EXPECT_EQ(Raw(t), std::string(1 + 10, ' ') + "  0.00" + std::string(8 + 1 + 300, ' ') +
                        "   0.000" + "    0");
  EXPECT_TRUE(t.Appending());
  EXPECT_TRUE(t.RecordChanged());
  for (int n = 1; n <= t.FieldCount(); ++n) EXPECT_TRUE(t.FieldChanged(n)) << n;
}

TEST_F(FieldsTest, NumbersFormatToWidthAndDecimals) {
  HXO_dBaseFld t(MakeLog(), false, true);
  t.BlankRecord();
  EXPECT_TRUE(t.PutFloat("BAND", 3.14159));
  EXPECT_EQ(t.GetString("BAND"), "  3.14");
  EXPECT_DOUBLE_EQ(t.GetFloat("BAND"), 3.14);
  t.PutFloat("BAND", -14.005);
  EXPECT_EQ(t.GetString("BAND"), "-14.01");  // halves away from zero, from 15 significant digits
  t.PutFloat("BAND", 2.675);
  EXPECT_EQ(t.GetString("BAND"), "  2.68");  // 2.67499999... in binary; printf would give 2.67
  t.PutFloat("BAND", -0.0001);
  EXPECT_EQ(t.GetString("BAND"), "  0.00");  // a value that rounds to zero has no sign
  t.PutFloat("COUNT", 12345);
  EXPECT_EQ(t.GetString("COUNT"), "12345");
  EXPECT_EQ(ErrorOf([&] { t.PutFloat("COUNT", 123456); }),
            "numeric value too big in field COUNT - 123456");
  EXPECT_EQ(t.GetString("COUNT"), "12345");  // unchanged by the refusal
  EXPECT_EQ(ErrorOf([&] { t.PutFloat("BAND", 1000); }),
            "numeric value too big in field BAND - 1000.00");
  t.PutFloat("RATE", 1.5);
  EXPECT_EQ(t.GetString("RATE"), "   1.500");
  EXPECT_EQ(ErrorOf([&] { t.PutFloat("BAND", NAN); }), "Invalid Number value for field BAND");
  EXPECT_EQ(ErrorOf([&] { t.PutFloat("CALL", 1); }), "Field CALL is the incorrect type");
  EXPECT_EQ(ErrorOf([&] { t.PutFloat("QSODATE", 1); }), "Field QSODATE is the incorrect type");
  EXPECT_EQ(ErrorOf([&] { t.PutFloat("QSL", 1); }), "Field QSL is the incorrect type");
}

TEST_F(FieldsTest, ReadingNumbers) {
  HXO_dBaseFld t(MakeLog(), false, true);
  t.BlankRecord();
  t.PutString("COUNT", "");
  EXPECT_EQ(t.GetFloat("COUNT"), 0.0);
  t.PutString("COUNT", "-42");
  EXPECT_EQ(t.GetFloat("COUNT"), -42.0);
  t.PutString("BAND", "12a");
  EXPECT_EQ(ErrorOf([&] { t.GetFloat("BAND"); }),
            "Invalid numeric value in field LOG->BAND (   12a)");
  t.PutString("BAND", "*****");
  EXPECT_NE(ErrorOf([&] { t.GetFloat("BAND"); }), "");
  t.PutString("BAND", "1.2.3");
  EXPECT_NE(ErrorOf([&] { t.GetFloat("BAND"); }), "");
  t.PutString("CALL", "  7.25");  // any field reads as a number when its text is one
  EXPECT_EQ(t.GetFloat("CALL"), 7.25);
}

TEST_F(FieldsTest, Logicals) {
  HXO_dBaseFld t(MakeLog(), false, true);
  t.BlankRecord();
  for (char c : std::string("TtYyJj")) {
    t.PutString("QSL", std::string(1, c));
    EXPECT_TRUE(t.GetLogical("QSL")) << c;
  }
  for (char c : std::string("FfNn? ")) {
    t.PutString("QSL", std::string(1, c));
    EXPECT_FALSE(t.GetLogical("QSL")) << c;
  }
  t.PutLogical("QSL", true);
  EXPECT_EQ(t.GetString("QSL"), "T");
  t.PutLogical("QSL", false);
  EXPECT_EQ(t.GetString("QSL"), "F");
  EXPECT_EQ(ErrorOf([&] { t.PutLogical("CALL", true); }), "Invalid Logical value for field CALL");

  struct Case {
    const char* text;
    const char* stored;
  };
  for (Case c : {Case{"yes", "T"}, Case{"2", "T"}, Case{"0", "F"}, Case{"", "F"}, Case{"no", "F"},
                 Case{"J", "T"}, Case{"-0.5", "T"}, Case{"True", "T"}, Case{"false", "F"}}) {
    t.PutString("QSL", "?");
    t.PutText("QSL", c.text);
    EXPECT_EQ(t.GetString("QSL"), c.stored) << c.text;
  }
  EXPECT_EQ(ErrorOf([&] { t.PutText("QSL", "maybe"); }), "Invalid Logical value for field QSL");
}

TEST_F(FieldsTest, Dates) {
  HXO_dBaseFld t(MakeLog(), false, true);
  t.BlankRecord();
  EXPECT_EQ(t.GetDate("QSODATE"), 0);  // eight blanks
  EXPECT_TRUE(t.PutDate("QSODATE", 2444240));
  EXPECT_EQ(t.GetString("QSODATE"), "19800101");
  EXPECT_EQ(t.GetDate("QSODATE"), 2444240);
  EXPECT_EQ(t.GetDisplayText("QSODATE"), "01/01/1980");
  EXPECT_TRUE(t.PutDate("QSODATE", 0));
  EXPECT_EQ(t.GetString("QSODATE"), "        ");
  EXPECT_EQ(t.GetDisplayText("QSODATE"), "          ");
  t.PutDate("QSODATE", -7);
  EXPECT_EQ(t.GetString("QSODATE"), "        ");
  EXPECT_EQ(ErrorOf([&] { t.PutDate("QSODATE", -1); }), "Invalid Date value for field QSODATE");
  EXPECT_FALSE(t.PutDate("CALL", 2444240));  // only date fields
  EXPECT_EQ(t.GetString("CALL"), std::string(10, ' '));

  t.PutString("QSODATE", "1980010x");
  EXPECT_EQ(ErrorOf([&] { t.GetDate("QSODATE"); }),
            "Invalid date in field LOG->QSODATE (1980010x)");
  t.PutString("QSODATE", "00000000");
  EXPECT_EQ(t.GetDate("QSODATE"), 0);

  EXPECT_TRUE(t.PutText("QSODATE", "20240315"));
  EXPECT_EQ(t.GetString("QSODATE"), "20240315");
  EXPECT_TRUE(t.PutText("QSODATE", "03/16/2024"));
  EXPECT_EQ(t.GetString("QSODATE"), "20240316");
  EXPECT_TRUE(t.PutText("QSODATE", ""));
  EXPECT_EQ(t.GetString("QSODATE"), "        ");
  EXPECT_EQ(ErrorOf([&] { t.PutText("QSODATE", "tomorrow"); }),
            "Invalid Date value for field QSODATE");
}

TEST_F(FieldsTest, PutTextByType) {
  HXO_dBaseFld t(MakeLog(), false, true);
  t.BlankRecord();
  EXPECT_TRUE(t.PutText("BAND", "14.2"));
  EXPECT_EQ(t.GetString("BAND"), " 14.20");
  EXPECT_TRUE(t.PutText("BAND", ""));
  EXPECT_EQ(t.GetString("BAND"), "  0.00");
  EXPECT_EQ(ErrorOf([&] { t.PutText("BAND", "20m"); }), "Invalid Number value for field BAND");
  // F fields take the text as it is, right-aligned.
  EXPECT_TRUE(t.PutText("RATE", "2.5"));
  EXPECT_EQ(t.GetString("RATE"), "     2.5");
  EXPECT_TRUE(t.PutText("CALL", "K1ABC"));
  EXPECT_EQ(t.GetString("CALL"), "K1ABC     ");
}

TEST_F(FieldsTest, DisplayText) {
  HXO_dBaseFld t(MakeLog(), false, true);
  t.BlankRecord();
  t.PutString("CALL", "  K1ABC");
  EXPECT_EQ(t.GetDisplayText("CALL"), "  K1ABC");
  t.PutString("BAND", "");
  EXPECT_EQ(t.GetDisplayText("BAND"), "0.00");
  t.PutString("COUNT", "");
  EXPECT_EQ(t.GetDisplayText("COUNT"), "0");
  t.PutFloat("BAND", 7.1);
  EXPECT_EQ(t.GetDisplayText("BAND"), "7.10");
  t.PutText("QSL", "y");
  EXPECT_EQ(t.GetDisplayText("QSL"), "T");
}

TEST_F(FieldsTest, NamesMatchWithoutCaseAndTrailingBlanks) {
  const std::string path = MakeLog();
  HXO_dBaseFld t(path, false, true);
  EXPECT_EQ(t.FieldNumber("call"), 1);
  EXPECT_EQ(t.FieldNumber("Band   "), 2);
  EXPECT_EQ(t.FieldNumber("LONGTEXT"), 5);
  EXPECT_EQ(t.FieldNumber("LONGTEXT   xyz"), 5);  // cut to 11, then trailing blanks dropped
  EXPECT_EQ(t.FieldNumber("LONGTEXTX"), 0);
  EXPECT_EQ(t.FieldNumber(""), 0);
  EXPECT_EQ(t.FieldNumber("NOPE"), 0);
  EXPECT_EQ(ErrorOf([&] { t.GetString("NOPE"); }), "There is no field name " + path + "->NOPE");
  EXPECT_EQ(ErrorOf<ESorrelError>([&] { t.PutFloat("nope", 1); }),
            "There is no field name " + path + "->nope");
  EXPECT_EQ(ErrorOf([&] { t.FieldDescriptor("NOPE"); }),
            "There is no field name " + path + "->NOPE");
  const uint8_t* d = t.FieldDescriptor("qsl");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(d)), "QSL");
  EXPECT_EQ(DecodeLE32(d + 12), 1u + 10 + 6 + 8);  // offset in the record
  EXPECT_EQ(DecodeLE16(d + 26), 4);                // field number
}

TEST_F(FieldsTest, NumbersOutOfRangeDoNothing) {
  HXO_dBaseFld t(MakeLog(), false, true);
  t.BlankRecord();
  const std::string before = Raw(t);
  for (int n : {0, -1, 8, 1000}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(t.GetString(n), "");
    EXPECT_EQ(t.GetFloat(n), 0.0);
    EXPECT_EQ(t.GetDate(n), 0);
    EXPECT_FALSE(t.GetLogical(n));
    EXPECT_EQ(t.GetDisplayText(n), "");
    EXPECT_FALSE(t.PutString(n, "x"));
    EXPECT_FALSE(t.PutFloat(n, 1));
    EXPECT_FALSE(t.PutDate(n, 2444240));
    EXPECT_FALSE(t.PutLogical(n, true));
    EXPECT_FALSE(t.PutText(n, "1"));
    EXPECT_EQ(t.FieldLength(n), 0);
    EXPECT_EQ(t.FieldDecimals(n), 0);
    EXPECT_EQ(t.FieldOffset(n), 0);
    EXPECT_EQ(t.FieldName(n), "");
    EXPECT_EQ(t.FieldType(n), '\0');
    EXPECT_EQ(t.MemoBlock(n), 0u);
    EXPECT_FALSE(t.FieldChanged(n));
    EXPECT_EQ(t.Field(n), nullptr);
  }
  EXPECT_EQ(Raw(t), before);
}

TEST_F(FieldsTest, DescriptorValues) {
  HXO_dBaseFld t(MakeLog(), false, true);
  EXPECT_EQ(t.FieldLength(5), 300);  // C: length byte + 256 x decimals byte
  EXPECT_EQ(t.FieldDecimals(5), 0);
  EXPECT_EQ(t.FieldLength(2), 6);
  EXPECT_EQ(t.FieldDecimals(2), 2);
  EXPECT_EQ(t.FieldOffset(1), 1);
  EXPECT_EQ(t.FieldOffset(6), 1 + 10 + 6 + 8 + 1 + 300);
  EXPECT_EQ(t.FieldName(3), "QSODATE");
  EXPECT_EQ(t.FieldType(6), 'F');
  ASSERT_EQ(t.FieldListCount(), 7);
  EXPECT_EQ(t.Field(5)->Name(), "LONGTEXT");
  EXPECT_EQ(t.Field(5)->Length(), 300);
  EXPECT_EQ(t.Field(5)->Offset(), 1 + 10 + 6 + 8 + 1);
  EXPECT_EQ(t.Field(5)->Table(), &t);
  EXPECT_NE(t.Field(5)->FieldVar(), nullptr);
  t.BlankRecord();
  const std::string text(300, 'x');
  t.PutString(5, text + "overflow");
  EXPECT_EQ(t.GetString(5), text);
}

TEST_F(FieldsTest, ChangedFlagsFollowWritesAndReads) {
  HXO_dBaseFld t(MakeLog(), true, true);
  t.BlankRecord();
  t.PutText("CALL", "K1ABC");
  t.AppendRecord();
  t.GotoRecord(1);
  EXPECT_FALSE(t.RecordChanged());
  EXPECT_FALSE(t.FieldChanged(1));
  t.PutText("BAND", "7");
  EXPECT_TRUE(t.FieldChanged(2));
  EXPECT_FALSE(t.FieldChanged(1));
  EXPECT_TRUE(t.RecordChanged());
  t.GotoRecord(1);
  EXPECT_FALSE(t.FieldChanged(2));
  EXPECT_EQ(t.GetString("BAND"), "  0.00");  // the unwritten change is gone
}

TEST_F(FieldsTest, DeleteAndRecallWriteAtOnce) {
  const std::string path = MakeLog();
  {
    HXO_dBaseFld t(path, true, true);
    for (const char* call : {"K1ABC", "W1AW"}) {
      t.BlankRecord();
      t.PutText("CALL", call);
      t.AppendRecord();
    }
    t.GotoRecord(1);
    t.DeleteRecord();
    EXPECT_TRUE(t.IsDeleted());
    EXPECT_TRUE(t.RecordChanged());
    EXPECT_EQ(Contents(path)[t.HeaderLength()], '*');
    t.DeleteRecord();  // already deleted: nothing more
    EXPECT_EQ(Contents(path)[t.HeaderLength()], '*');
    t.GotoRecord(2);
    EXPECT_FALSE(t.IsDeleted());
    t.GotoRecord(1);
    EXPECT_TRUE(t.IsDeleted());
    t.RecallRecord();
    EXPECT_FALSE(t.IsDeleted());
    EXPECT_EQ(Contents(path)[t.HeaderLength()], ' ');
    EXPECT_EQ(t.RecordCount(), 2);
  }
  HXO_dBaseFld again(path, false, false);
  again.GotoRecord(1);
  EXPECT_FALSE(again.IsDeleted());
  EXPECT_EQ(again.GetString("CALL"), "K1ABC     ");
}

TEST_F(FieldsTest, LoadFieldValuesFillsAScratchRecord) {
  HXO_dBaseFld t(MakeLog(), false, true);
  t.BlankRecord();
  t.PutText("CALL", "OWN");
  const std::string own = Raw(t);
  std::vector<char> scratch(static_cast<size_t>(t.RecordLength()) + 1, 'z');
  t.LoadFieldValues(scratch.data(), " call ; band;;QSODATE ",
                    {std::string("W1AW"), std::string("14.25"), std::nullopt});
  EXPECT_EQ(Raw(t), own);
  EXPECT_EQ(t.RecordBuffer()[0], ' ');
  const std::string s(scratch.data(), static_cast<size_t>(t.RecordLength()));
  EXPECT_EQ(s.substr(0, 1 + 10 + 6 + 8), " W1AW       14.25        ");
  EXPECT_EQ(s.substr(s.size() - 5), "    0");
  // One value for one name.
  t.LoadFieldValues(scratch.data(), "COUNT", {std::string("12")});
  EXPECT_EQ(std::string(scratch.data() + t.RecordLength() - 5, 5), "   12");
  EXPECT_EQ(Raw(t), own);
  // A bad name is refused and the table's buffer still comes back.
  EXPECT_NE(ErrorOf([&] { t.LoadFieldValues(scratch.data(), "NOPE", {std::string("1")}); }), "");
  EXPECT_EQ(Raw(t), own);
}

TEST_F(FieldsTest, EncryptedTableWithMemo) {
  const std::string key = "Secret";
  const std::vector<Field> fields = {{"CALL", 'C', 10}, {"NOTES", 'M', 10}, {"BAND", 'N', 6, 2}};
  std::string image = TableImage(0x83, fields);
  image[15] = 1;
  ScrambleBuffer(key, image.data() + 32, image.data() + 32, 32 * 3, 1);
  const std::string path = Put("CRYPT.DBF", image);
  Put("CRYPT.DBT", Memo3Image("CRYPT"));
  {
    HXO_dBaseFld t(path, true, true, key);
    EXPECT_EQ(t.FieldName(2), "NOTES");
    EXPECT_EQ(t.FieldNumber("band"), 3);
    t.BlankRecord();
    t.PutText("CALL", "W1AW");
    t.PutText("NOTES", "not for every eye");
    t.PutFloat("BAND", 14.07);
    t.AppendRecord();
  }
  const std::string table = Contents(path);
  EXPECT_EQ(table.find("W1AW"), std::string::npos);
  EXPECT_EQ(Contents(PathOf("CRYPT.DBT")).find("not for every eye"), std::string::npos);
  HXO_dBaseFld t(path, false, false, key);
  t.GotoRecord(1);
  EXPECT_EQ(t.GetString("CALL"), "W1AW      ");
  EXPECT_EQ(t.GetMemo("NOTES"), "not for every eye");
  EXPECT_EQ(t.GetFloat("BAND"), 14.07);
}

// ---------------------------------------------------------------------------------------------
// The binary types of version 0x30 tables.

class Binary30Test : public FieldsTest {
 protected:
  std::string MakeFox30(std::vector<std::string> records = {}) {
    const std::vector<Field> fields = {{"AMOUNT", 'Y', 8}, {"WHEN", 'T', 8},  {"COUNT", 'I', 4},
                                       {"RATIO", 'B', 8},  {"NOTES", 'M', 4}, {"CALL", 'C', 6},
                                       {"BAND", 'N', 6, 2}};
    return Put("FOX30.DBF", TableImage(0x30, fields, records));
  }
};

TEST_F(Binary30Test, BlankRecordZeroesBinaryFields) {
  HXO_dBaseFld t(MakeFox30(), false, true);
  t.BlankRecord();
  const std::string raw = Raw(t);
  EXPECT_EQ(raw.substr(0, 1 + 8 + 8 + 4 + 8 + 4), std::string(1, ' ') + std::string(32, '\0'));
  EXPECT_EQ(raw.substr(33), "        0.00");
  for (const char* name : {"AMOUNT", "WHEN", "COUNT", "RATIO", "NOTES"})
    EXPECT_EQ(t.GetFloat(name), 0.0) << name;
  EXPECT_EQ(t.MemoBlock("NOTES"), 0u);
}

TEST_F(Binary30Test, EncodingsBothWays) {
  HXO_dBaseFld t(MakeFox30(), false, true);
  t.BlankRecord();
  t.PutFloat("AMOUNT", 1234.5678);
  EXPECT_EQ(DecodeLE64(t.RecordBuffer() + 1), 12345678u);
  EXPECT_DOUBLE_EQ(t.GetFloat("AMOUNT"), 1234.5678);
  t.PutFloat("AMOUNT", -0.01);
  EXPECT_EQ(static_cast<int64_t>(DecodeLE64(t.RecordBuffer() + 1)), -100);

  // 1 January 1980, 12:00:00.250 as milliseconds from the start of year 1.
  const double when = (2444240.0 - kDateTimeJulianBase) * kMillisecondsPerDay + 43200250.0;
  t.PutFloat("WHEN", when);
  EXPECT_EQ(DecodeLE32(t.RecordBuffer() + 9), 2444240u);
  EXPECT_EQ(DecodeLE32(t.RecordBuffer() + 13), 43200250u);
  EXPECT_EQ(t.GetFloat("WHEN"), when);

  t.PutFloat("COUNT", -17.4);
  EXPECT_EQ(static_cast<int32_t>(DecodeLE32(t.RecordBuffer() + 17)), -17);
  EXPECT_EQ(t.GetFloat("COUNT"), -17.0);
  std::memcpy(t.RecordBuffer() + 17, "    ", 4);
  EXPECT_EQ(t.GetFloat("COUNT"), 0.0);
  EXPECT_EQ(ErrorOf([&] { t.PutFloat("COUNT", 3e9); }),
            "numeric value too big in field COUNT - 3000000000");

  t.PutFloat("RATIO", 0.1);
  EXPECT_EQ(DecodeDouble(t.RecordBuffer() + 21), 0.1);
  EXPECT_EQ(t.GetFloat("RATIO"), 0.1);
  EXPECT_EQ(t.GetDisplayText("RATIO"), "--BINARY--");

  t.PutFloat("NOTES", 5);
  EXPECT_EQ(DecodeLE32(t.RecordBuffer() + 29), 5u);
  EXPECT_EQ(t.MemoBlock("NOTES"), 5u);

  t.PutFloat("BAND", 14.2);  // text fields stay text
  EXPECT_EQ(t.GetString("BAND"), " 14.20");
}

TEST_F(Binary30Test, OtherVersionsKeepTheseTypesAsText) {
  const std::vector<Field> fields = {{"COUNT", 'I', 4}, {"WHEN", 'T', 8}};
  HXO_dBaseFld t(Put("PLAIN.DBF", TableImage(0x03, fields)), false, true);
  t.BlankRecord();
  EXPECT_EQ(Raw(t), std::string(13, ' '));
  EXPECT_EQ(ErrorOf([&] { t.PutFloat("COUNT", 1); }), "Field COUNT is the incorrect type");
  t.PutString("COUNT", "12");
  EXPECT_EQ(t.GetFloat("COUNT"), 12.0);
}

}  // namespace
