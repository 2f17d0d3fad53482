// hx6_cnst: the engine's one table of message texts.
//
// Every failure the engine reports carries one of these numbered texts, formatted with the file or
// item name. Callers cite the number; the text is looked up when the error is raised. The texts are
// the system's own and are kept byte for byte (the double blank of smTableExists, the trailing blank
// of smBookmarkInvalid, the spelling of smMasterDetailFieldMismatch).
//
// Thread-safety: the table is constant; everything here is safe from any thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

enum SorrelMsg : int {
  smCannotFindTag = 65136,            // "Cannot find index tag %s"
  smCannotLockIndexes = 65137,        // "Could not lock indexes for Table %s"
  smNoIndexForFind = 65138,           // "No index is assigned for Find operation"
  smPasswordForUnencrypted = 65139,   // "A Password is included for unencrypted file %s"
  smNoPasswordForEncrypted = 65140,   // "No Password for encrypted file %s"
  smInvalidPassword = 65141,          // "Invalid Password for encrypted file %s"
  smSyntaxError = 65152,              // "Syntax Error in expression "%s""
  smVariantNotForAppend = 65153,      // "Variant type is not valid for append"
  smVariantMismatch = 65154,          // "Variant types mismatch for compare"
  smVariantCannotSort = 65155,        // "Variant type cannot be sorted"
  smSortKeyLength = 65156,            // "Sort key length must be 1-%d bytes, is %d"
  smSortKeysAfterRetrieval = 65157,   // "Cannot add sort keys after beginning retrieval"
  smInvalidNumeric = 65158,           // "Invalid numeric value in field %s"
  smNumericTooBig = 65159,            // "numeric value too big in field %s"
  smInvalidDate = 65160,              // "Invalid date in field %s"
  smNoFieldName = 65161,              // "There is no field name %s"
  smInvalidValueForField = 65162,     // "Invalid %s value for field %s"
  smFieldIncorrectType = 65163,       // "Field %s is the incorrect type"
  smMemoRecordBad = 65164,            // "Memo record is bad in %s"
  smRecordNotInTable = 65165,         // "Record number %d is not in table %s"
  smTableHeaderInvalid = 65166,       // "Table Header for %s is invalid"
  smIndexCorrupted = 65167,           // "Index file %s is corrupted"
  smUnlockError = 65168,              // "Error in Unlock of file %s"
  smWriteError = 65169,               // "Error writing to %s"
  smNoFunction = 65170,               // "There is no function for %s"
  smArgumentNeeded = 65171,           // "%s needed for Argument %d of %s"
  smArgumentMustBe = 65172,           // "Argument for %s must be %s"
  smTargetMissing = 65173,            // "Target value missing for %s operation"
  smSidesDoNotMatch = 65174,          // "The two sides of an operation do not match"
  smValueRequiredInvalid = 65175,     // "A %s value is required but invalid"
  smValueRequiredFor = 65176,         // "A value is required for %s"
  smArgumentsSameType = 65177,        // "All arguments for %s must be of the same type"
  smFieldVariableUnknown = 65178,     // "Field/variable %s is unknown"
  smCannotEvaluate = 65179,           // "Expression cannot be evaluated"
  smMissingParenthesis = 65180,       // "Missing closing parentheses"
  smMissingPeriod = 65181,            // "Missing closing period"
  smMissingQuote = 65182,             // "Missing closing "%s" on literal"
  smExpectingLogical = 65183,         // "Expecting ".T." or ".F.""
  smTableBusyCopying = 65184,         // "Table is busy copying"
  smFilterNotBoolean = 65185,         // "Filter expression must return boolean result"
  smNotInEditMode = 65186,            // "Dataset not in edit or insert mode"
  smMasterDetailNoIndex = 65187,      // "Master/Detail relation failed, no index open for %s"
  smMasterDetailFieldMismatch = 65188,// "Master/Detail relation failed, field missmatch for %s"
  smFileSizeError = 65189,            // "Error getting FileSize for file %s"
  smFlushError = 65190,               // "Error on Flush for file %s"
  smCannotLockFile = 65191,           // "Can not Lock file %s"
  smFileNotFound = 65192,             // "File %s could not be found"
  smReadError = 65193,                // "Error on Read of file %s"
  smCloseError = 65194,               // "Error in Close of file %s"
  smRenameError = 65195,              // "Error on Rename of file %s"
  smAccessDenied = 65196,             // "Access denied to file %s"
  smCannotCreate = 65197,             // "Could not create file %s"
  smRequiresFullAccess = 65198,       // "%s requires full access to file %s"
  smTruncateError = 65199,            // "Error in Truncate of file %s"
  smTableNotAssigned = 65202,         // "A table is not assigned to this object"
  smTableIsOpen = 65203,              // "Cannot perform this operation on an open table"
  smTableExists = 65204,              // "Table exists.  Do you want to overwrite?"
  smFieldListInvalid = 65205,         // "Field list is invalid"
  smTableNameMissing = 65206,         // "Table name missing"
  smCannotFindFile = 65207,           // "Cannot find file %s"
  smErrorGetting = 65208,             // "Error getting %s"
  smIndexAlreadyOpen = 65209,         // "Index file %s already open"
  smRecordBeyondRange = 65210,        // "Record request beyond range of table"
  smCannotDelete = 65211,             // "Cannot delete the record"
  smCannotRecall = 65212,             // "Cannot recall the record"
  smBookmarkInvalid = 65213,          // "Bookmark is invalid for table "
  smRecordLocked = 65214,             // "Record is locked by another user"
  smTableBusyIndexing = 65215,        // "Table is busy building an index"
};

// The text of message `number`, or an empty view for a number outside the table.
std::string_view SorrelMessageText(int number);

// One argument of a formatted message: text for "%s", a whole number for "%d".
class SorrelArg {
 public:
  SorrelArg(std::string_view text) : text_(text), isNumber_(false) {}
  SorrelArg(const char* text) : text_(text ? text : ""), isNumber_(false) {}
  SorrelArg(const std::string& text) : text_(text), isNumber_(false) {}
  SorrelArg(int value) : number_(value), isNumber_(true) {}
  SorrelArg(long value) : number_(value), isNumber_(true) {}
  SorrelArg(long long value) : number_(value), isNumber_(true) {}
  SorrelArg(unsigned value) : number_(value), isNumber_(true) {}

  // The argument as the text that replaces its place holder.
  std::string Render() const;

 private:
  std::string_view text_;
  long long number_ = 0;
  bool isNumber_;
};

// Replaces "%s" and "%d" in `pattern` by the arguments in order; "%%" gives "%". A place holder
// without an argument is left as it stands, an argument without a place holder is ignored.
std::string SorrelFormat(std::string_view pattern, std::initializer_list<SorrelArg> args);

// The text of message `number` formatted with `args`.
std::string SorrelMessage(int number, std::initializer_list<SorrelArg> args = {});
