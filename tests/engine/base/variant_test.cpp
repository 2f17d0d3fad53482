#include <gtest/gtest.h>

#include <cstring>

#include "base/hx6_date.h"
#include "base/hx6_glbl.h"
#include "base/hx6_tool.h"
#include "base/variant_values.h"

namespace {

using namespace variant_values;

int Cmp(const ThxVariant& a, const ThxVariant* b, int partial = -1, int* position = nullptr) {
  int pos = -7;
  const int r = a.Compare(b, pos, nullptr, partial);
  if (position) *position = pos;
  return r;
}

}  // namespace

TEST(ThxVariant, BufferRules) {
  ThxVariant v(10);
  EXPECT_EQ(v.Capacity(), 10);
  EXPECT_EQ(v.Length(), 0);
  EXPECT_TRUE(v.IsEmpty());

  v.PutString("ABC");
  EXPECT_EQ(v.Capacity(), 10);
  EXPECT_EQ(v.Type(), vtText);
  v.SetCapacity(2);  // within the buffer: length only, type kept
  EXPECT_EQ(v.Type(), vtText);
  EXPECT_EQ(v.GetString(), "AB");
  v.SetCapacity(12);  // grows: contents kept, type reset
  EXPECT_EQ(v.Capacity(), 12);
  EXPECT_EQ(v.Type(), vtNone);
  EXPECT_EQ(std::memcmp(v.Data(), "ABC", 3), 0);

  v.PutString("AB");
  v.Append("CD", 2);
  EXPECT_EQ(v.Type(), vtBinary);
  EXPECT_EQ(v.GetString(), "ABCD");
  v.Append(nullptr, 3);
  v.Append("x", 0);
  EXPECT_EQ(v.Length(), 4);
  v.Append(v.Data(), 4);  // from its own buffer
  EXPECT_EQ(v.GetString(), "ABCDABCD");

  ThxVariant copy;
  EXPECT_FALSE(copy.Assign(nullptr));
  EXPECT_TRUE(copy.Assign(&v));
  EXPECT_EQ(copy.Capacity(), v.Capacity());
  EXPECT_EQ(copy.GetString(), "ABCDABCD");
  EXPECT_EQ(copy.Type(), vtBinary);

  v.Clear();
  EXPECT_EQ(v.Capacity(), 0);
  EXPECT_EQ(v.Data(), nullptr);
  EXPECT_EQ(v.Type(), vtNone);
}

TEST(ThxVariant, TextEditingOnlyTouchesText) {
  ThxVariant t = Text("w1aw \xe9");
  t.UpperCase();
  EXPECT_EQ(t.GetString(), "W1AW \xC9");
  t.PadRight(8);
  EXPECT_EQ(t.GetString(), "W1AW \xC9  ");
  t.PadRight(3);
  EXPECT_EQ(t.Length(), 8);
  t.TrimRight();
  EXPECT_EQ(t.GetString(), "W1AW \xC9");
  ThxVariant blanks = Text("   ");
  blanks.TrimRight();
  EXPECT_TRUE(blanks.IsEmpty());

  ThxVariant b;
  b.PutBinary("ab  ", 4);
  b.UpperCase();
  b.PadRight(8);
  b.TrimRight();
  EXPECT_EQ(b.GetString(), "ab  ");
}

TEST(ThxVariant, GetBoolean) {
  EXPECT_FALSE(ThxVariant().GetBoolean());
  for (const char* s : {"T", "t", "Y", "y", "J", "j", "Yes"}) EXPECT_TRUE(Text(s).GetBoolean()) << s;
  for (const char* s : {"F", "n", "N", "x", " T"}) EXPECT_FALSE(Text(s).GetBoolean()) << s;
  EXPECT_FALSE(Float(0.4).GetBoolean());
  EXPECT_FALSE(Float(0.5).GetBoolean());  // halves round to even
  EXPECT_TRUE(Float(0.6).GetBoolean());
  EXPECT_TRUE(Float(-3).GetBoolean());
  EXPECT_FALSE(Date(2444240).GetBoolean());
  EXPECT_TRUE(Logical(true).GetBoolean());
  EXPECT_FALSE(Logical(false).GetBoolean());
}

TEST(ThxVariant, GetDateAndGetFloat) {
  EXPECT_EQ(Text("19800101").GetDate(), 2444240);
  EXPECT_EQ(Float(2444240.2).GetDate(), 2444240);
  EXPECT_EQ(Float(5).GetDate(), 0);  // no date in the years 1-9999
  EXPECT_EQ(Float(1e100).GetDate(), 0);
  EXPECT_EQ(Date(2444240).GetDate(), 2444240);
  EXPECT_EQ(Logical(true).GetDate(), 0);
  ThxVariant shortBinary;
  shortBinary.PutBinary("\x01", 1);  // shorter than a day number: the rest reads as zero
  EXPECT_EQ(shortBinary.GetDate(), 1);
  EXPECT_THROW(Text("not a date").GetDate(), EConvertError);

  EXPECT_DOUBLE_EQ(Text(" 12.5 ").GetFloat(), 12.5);
  EXPECT_DOUBLE_EQ(Text("-1e3").GetFloat(), -1000);
  EXPECT_DOUBLE_EQ(Text("+.5").GetFloat(), 0.5);
  EXPECT_DOUBLE_EQ(Text("7.").GetFloat(), 7);
  for (const char* bad : {"abc", "1,5", "1e", "inf", "nan", "--1", ".", "   ", "1e999"})
    EXPECT_THROW(Text(bad).GetFloat(), EConvertError) << bad;
  EXPECT_DOUBLE_EQ(Date(2444240).GetFloat(), 2444240);
  EXPECT_DOUBLE_EQ(Logical(true).GetFloat(), 1);
  EXPECT_DOUBLE_EQ(ThxVariant().GetFloat(), 0);
}

TEST(ThxVariant, GetString) {
  EXPECT_EQ(Float(1.5).GetString(), "1.5");
  EXPECT_EQ(Float(100).GetString(), "100");
  EXPECT_EQ(Float(-0.0).GetString(), "0");
  EXPECT_EQ(Float(0.1 + 0.2).GetString(), "0.3");
  EXPECT_EQ(Float(1e300).GetString(), "1E300");
  EXPECT_EQ(Float(-2.5e-7).GetString(), "-2.5E-7");
  EXPECT_EQ(Logical(true).GetString(), "T");
  EXPECT_EQ(Logical(false).GetString(), "F");
  EXPECT_EQ(ThxVariant().GetString(), "");
  const std::string saved = ShortDateFormat();
  SetShortDateFormat("MM/dd/yy");
  EXPECT_EQ(Date(2444240).GetString(), "01/01/1980");
  SetShortDateFormat(saved);

  char buffer[6];
  EXPECT_STREQ(Text("W1AW").GetStrZ(buffer, sizeof buffer), "W1AW");
  EXPECT_STREQ(Text("W1AW/MM").GetStrZ(buffer, sizeof buffer), "W1AW/");
}

TEST(ThxVariantCompare, TextPrefixUsesPartialResult) {
  const ThxVariant ab = Text("AB");
  const ThxVariant abc = Text("ABC");
  int pos = 0;
  EXPECT_EQ(Cmp(ab, &abc, 0, &pos), 0);
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(Cmp(ab, &abc, -1), -1);
  EXPECT_EQ(Cmp(ab, &abc, 5), 1);
  EXPECT_EQ(Cmp(abc, &ab, 0, &pos), 1);
  EXPECT_EQ(pos, 3);
  const ThxVariant abd = Text("ABD");
  EXPECT_EQ(Cmp(abc, &abd, 0, &pos), -1);
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(Cmp(abc, &abc, 0, &pos), 0);
  EXPECT_EQ(pos, 4);
}

TEST(ThxVariantCompare, CollationTableWeighsTextBytes) {
  uint8_t fold[256];
  for (int i = 0; i < 256; ++i) fold[i] = static_cast<uint8_t>(i >= 'a' && i <= 'z' ? i - 32 : i);
  const ThxVariant lower = Text("abc");
  const ThxVariant upper = Text("ABC");
  int pos;
  EXPECT_EQ(lower.Compare(&upper, pos, fold, -1), 0);
  EXPECT_EQ(lower.Compare(&upper, pos, nullptr, -1), 1);
  ThxVariant binary;
  binary.PutBinary("abc", 3);
  ThxVariant binaryUpper;
  binaryUpper.PutBinary("ABC", 3);
  EXPECT_EQ(binary.Compare(&binaryUpper, pos, fold, -1), 1);  // no collation for binary
}

TEST(ThxVariantCompare, TypesMustAgreeUnlessOneSideIsBinary) {
  const ThxVariant text = Text("1");
  const ThxVariant number = Float(1);
  int pos;
  try {
    text.Compare(&number, pos);
    FAIL() << "no exception";
  } catch (const ESorrelError& e) {
    EXPECT_EQ(e.Number(), smVariantMismatch);
    EXPECT_STREQ(e.what(), "Variant types mismatch for compare");
  }
  EXPECT_THROW(Date(1).Compare(&number, pos), ESorrelError);

  ThxVariant rawTwo;
  const double two = 2;
  rawTwo.PutBinary(&two, 8);
  EXPECT_EQ(rawTwo.Compare(&number, pos), 1);  // compared as floats
  EXPECT_EQ(number.Compare(&rawTwo, pos), -1);
  const ThxVariant abc = Text("ABC");
  EXPECT_EQ(rawTwo.Compare(&abc, pos), -1);  // binary against text: bytes
}

TEST(ThxVariantCompare, EmptiesNoneAndMissingOther) {
  int pos = 9;
  ThxVariant none;
  EXPECT_EQ(none.Compare(nullptr, pos), 0);
  EXPECT_EQ(pos, 0);
  ThxVariant emptyText = Text("");
  EXPECT_EQ(none.Compare(&emptyText, pos), 0);
  const ThxVariant a = Text("A");
  EXPECT_EQ(none.Compare(&a, pos), -1);
  EXPECT_EQ(a.Compare(nullptr, pos), 1);

  ThxVariant emptyFloat = Float(3);
  emptyFloat.SetCapacity(0);
  emptyFloat.SetType(vtFloat);
  ThxVariant otherEmptyFloat = emptyFloat;
  EXPECT_EQ(emptyFloat.Compare(&otherEmptyFloat, pos), 0);
  const ThxVariant minus = Float(-1e300);
  EXPECT_EQ(emptyFloat.Compare(&minus, pos), -1);
  EXPECT_EQ(minus.Compare(&emptyFloat, pos), 1);
  EXPECT_EQ(emptyText.Compare(&a, pos, nullptr, 0), -1);  // empty is not a prefix match
}

TEST(ThxVariantCompare, NumbersDatesLogicals) {
  int pos;
  const ThxVariant a = Float(-2.5), b = Float(1.5);
  EXPECT_EQ(a.Compare(&b, pos), -1);
  EXPECT_EQ(b.Compare(&a, pos), 1);
  EXPECT_EQ(a.Compare(&a, pos), 0);
  const ThxVariant d1 = Date(2444240), d2 = Date(2444241);
  EXPECT_EQ(d1.Compare(&d2, pos), -1);
  const ThxVariant t = Logical(true), f = Logical(false);
  EXPECT_EQ(t.Compare(&f, pos), 1);
  EXPECT_EQ(f.Compare(&t, pos), -1);
  EXPECT_EQ(t.Compare(&t, pos), 0);
}

TEST(ThxVariantCompare, CompareRawTakesFloatsAsBytes) {
  const ThxVariant minusOne = Float(-1), one = Float(1);
  int pos;
  EXPECT_EQ(minusOne.Compare(&one, pos), -1);
  // In machine order the sign lives in the last byte, so the bytes of -1 are the larger ones.
  EXPECT_EQ(minusOne.CompareRaw(&one, pos), 1);
  EXPECT_EQ(pos, 8);
}

TEST(ThxVariantCompare, TypeMatrix) {
  // Every pair of value types: equal types compare, a binary side takes the other's type, any
  // other pair of different types is refused.
  ThxVariant binary;
  binary.PutBinary("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
  const ThxVariant values[] = {Text("M"), Float(7.5), Date(2444240), Logical(true), binary};
  const ThxVarType types[] = {vtText, vtFloat, vtDate, vtBoolean, vtBinary};
  for (int i = 0; i < 5; ++i) {
    for (int j = 0; j < 5; ++j) {
      int pos = 0;
      const bool refused = i != j && types[i] != vtBinary && types[j] != vtBinary;
      if (refused) {
        EXPECT_THROW(values[i].Compare(&values[j], pos), ESorrelError) << i << " " << j;
      } else {
        const int forward = values[i].Compare(&values[j], pos);
        const int backward = values[j].Compare(&values[i], pos);
        EXPECT_TRUE(forward >= -1 && forward <= 1);
        if (i == j) {
          EXPECT_EQ(forward, 0) << i;
        }
        if (types[i] != vtText && types[j] != vtText) {
          EXPECT_EQ(forward, -backward) << i << " " << j;
        }
      }
    }
  }
  // Empty values of every type: equal to each other, below any value of their type.
  for (int i = 0; i < 5; ++i) {
    ThxVariant empty = values[i];
    empty.SetCapacity(0);
    empty.SetType(types[i]);
    int pos;
    EXPECT_EQ(empty.Compare(&empty, pos), 0) << i;
    EXPECT_EQ(empty.Compare(&values[i], pos), -1) << i;
    EXPECT_EQ(values[i].Compare(&empty, pos), 1) << i;
  }
}

TEST(ThxVariant, ShortBinaryValuesAreNeverReadPastTheirLength) {
  // Fewer bytes than a double or a day number: the missing bytes read as zeros (the address
  // sanitizer would report any read beyond the buffer).
  ThxVariant three;
  three.PutBinary("\x00\x00\x01", 3);
  uint8_t expected[8] = {0, 0, 1, 0, 0, 0, 0, 0};
  double value;
  std::memcpy(&value, expected, 8);
  EXPECT_EQ(three.GetFloat(), value);
  EXPECT_EQ(three.GetDate(), 0x010000);
  ThxVariant one;
  one.PutBinary("\x02", 1);
  int pos;
  const ThxVariant number = Float(1);
  const ThxVariant day = Date(1);
  EXPECT_NO_THROW(one.Compare(&number, pos));
  EXPECT_EQ(one.Compare(&day, pos), 1);   // day 2 against day 1
  EXPECT_EQ(day.Compare(&one, pos), -1);
  EXPECT_EQ(one.GetBoolean(), true);
  EXPECT_EQ(one.GetString(), "\x02");
}
