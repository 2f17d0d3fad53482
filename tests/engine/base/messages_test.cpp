#include <gtest/gtest.h>

#include "base/hx6_glbl.h"

TEST(Messages, TextsKeepTheirExactBytes) {
  EXPECT_EQ(SorrelMessageText(smTableExists), "Table exists.  Do you want to overwrite?");
  EXPECT_EQ(SorrelMessageText(smBookmarkInvalid), "Bookmark is invalid for table ");
  EXPECT_EQ(SorrelMessageText(smMasterDetailFieldMismatch),
            "Master/Detail relation failed, field missmatch for %s");
  EXPECT_EQ(SorrelMessageText(smExpectingLogical), "Expecting \".T.\" or \".F.\"");
  EXPECT_EQ(SorrelMessageText(smTableBusyIndexing), "Table is busy building an index");
}

TEST(Messages, UnknownNumbersHaveNoText) {
  EXPECT_TRUE(SorrelMessageText(65200).empty());
  EXPECT_TRUE(SorrelMessageText(65135).empty());
  EXPECT_TRUE(SorrelMessageText(65216).empty());
}

TEST(Messages, FormatsArgumentsInOrder) {
  EXPECT_EQ(SorrelMessage(smSortKeyLength, {240, 300}), "Sort key length must be 1-240 bytes, is 300");
  EXPECT_EQ(SorrelMessage(smRequiresFullAccess, {"Truncate", "/tmp/a.dbf"}),
            "Truncate requires full access to file /tmp/a.dbf");
  EXPECT_EQ(SorrelMessage(smArgumentNeeded, {"Numeric", 2, "SUBSTR"}),
            "Numeric needed for Argument 2 of SUBSTR");
  EXPECT_EQ(SorrelMessage(smSyntaxError, {"A +"}), "Syntax Error in expression \"A +\"");
}

TEST(Messages, MissingAndSurplusArgumentsAreHarmless) {
  EXPECT_EQ(SorrelMessage(smFileNotFound), "File %s could not be found");
  EXPECT_EQ(SorrelMessage(smCannotEvaluate, {"x"}), "Expression cannot be evaluated");
  // An argument holding a place holder is not expanded again.
  EXPECT_EQ(SorrelMessage(smNoFieldName, {"%s%d"}), "There is no field name %s%d");
  EXPECT_EQ(SorrelFormat("100%% of %s", {"it"}), "100% of it");
}

TEST(Exceptions, CarryNumberAndTextAndShareOneBase) {
  try {
    throw ESorrelEncryption(smNoPasswordForEncrypted, {"LOG.DBF"});
  } catch (const ESorrelException& e) {
    EXPECT_EQ(e.Number(), 65140);
    EXPECT_STREQ(e.what(), "No Password for encrypted file LOG.DBF");
  }
  ESorrelExpression plain("free text");
  EXPECT_EQ(plain.Number(), 0);
  EXPECT_EQ(plain.Message(), "free text");
}

TEST(Constants, LogicalLetters) {
  for (char c : std::string("yYjJtT")) EXPECT_TRUE(IsTrueLetter(c)) << c;
  for (char c : std::string("nNfF")) EXPECT_TRUE(IsFalseLetter(c)) << c;
  for (char c : std::string("xX?1 ")) {
    EXPECT_FALSE(IsTrueLetter(c)) << c;
    EXPECT_FALSE(IsFalseLetter(c)) << c;
  }
}
