#include "base/hx6_cnst.h"

#include <algorithm>
#include <iterator>

namespace {

struct MessageEntry {
  int number;
  const char* text;
};

// Sorted by number; looked up by binary search.
constexpr MessageEntry kMessages[] = {
    {65136, "Cannot find index tag %s"},
    {65137, "Could not lock indexes for Table %s"},
    {65138, "No index is assigned for Find operation"},
    {65139, "A Password is included for unencrypted file %s"},
    {65140, "No Password for encrypted file %s"},
    {65141, "Invalid Password for encrypted file %s"},
    {65152, "Syntax Error in expression \"%s\""},
    {65153, "Variant type is not valid for append"},
    {65154, "Variant types mismatch for compare"},
    {65155, "Variant type cannot be sorted"},
    {65156, "Sort key length must be 1-%d bytes, is %d"},
    {65157, "Cannot add sort keys after beginning retrieval"},
    {65158, "Invalid numeric value in field %s"},
    {65159, "numeric value too big in field %s"},
    {65160, "Invalid date in field %s"},
    {65161, "There is no field name %s"},
    {65162, "Invalid %s value for field %s"},
    {65163, "Field %s is the incorrect type"},
    {65164, "Memo record is bad in %s"},
    {65165, "Record number %d is not in table %s"},
    {65166, "Table Header for %s is invalid"},
    {65167, "Index file %s is corrupted"},
    {65168, "Error in Unlock of file %s"},
    {65169, "Error writing to %s"},
    {65170, "There is no function for %s"},
    {65171, "%s needed for Argument %d of %s"},
    {65172, "Argument for %s must be %s"},
    {65173, "Target value missing for %s operation"},
    {65174, "The two sides of an operation do not match"},
    {65175, "A %s value is required but invalid"},
    {65176, "A value is required for %s"},
    {65177, "All arguments for %s must be of the same type"},
    {65178, "Field/variable %s is unknown"},
    {65179, "Expression cannot be evaluated"},
    {65180, "Missing closing parentheses"},
    {65181, "Missing closing period"},
    {65182, "Missing closing \"%s\" on literal"},
    {65183, "Expecting \".T.\" or \".F.\""},
    {65184, "Table is busy copying"},
    {65185, "Filter expression must return boolean result"},
    {65186, "Dataset not in edit or insert mode"},
    {65187, "Master/Detail relation failed, no index open for %s"},
    {65188, "Master/Detail relation failed, field missmatch for %s"},
    {65189, "Error getting FileSize for file %s"},
    {65190, "Error on Flush for file %s"},
    {65191, "Can not Lock file %s"},
    {65192, "File %s could not be found"},
    {65193, "Error on Read of file %s"},
    {65194, "Error in Close of file %s"},
    {65195, "Error on Rename of file %s"},
    {65196, "Access denied to file %s"},
    {65197, "Could not create file %s"},
    {65198, "%s requires full access to file %s"},
    {65199, "Error in Truncate of file %s"},
    {65202, "A table is not assigned to this object"},
    {65203, "Cannot perform this operation on an open table"},
    {65204, "Table exists.  Do you want to overwrite?"},
    {65205, "Field list is invalid"},
    {65206, "Table name missing"},
    {65207, "Cannot find file %s"},
    {65208, "Error getting %s"},
    {65209, "Index file %s already open"},
    {65210, "Record request beyond range of table"},
    {65211, "Cannot delete the record"},
    {65212, "Cannot recall the record"},
    {65213, "Bookmark is invalid for table "},
    {65214, "Record is locked by another user"},
    {65215, "Table is busy building an index"},
};

}  // namespace

std::string_view SorrelMessageText(int number) {
  auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), number,
                             [](const MessageEntry& e, int n) { return e.number < n; });
  if (it == std::end(kMessages) || it->number != number) return {};
  return it->text;
}

std::string SorrelArg::Render() const {
  return isNumber_ ? std::to_string(number_) : std::string(text_);
}

std::string SorrelFormat(std::string_view pattern, std::initializer_list<SorrelArg> args) {
  std::string out;
  out.reserve(pattern.size() + 32);
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size()) {
      char f = pattern[i + 1];
      if (f == '%') {
        out += '%';
        ++i;
        continue;
      }
      if ((f == 's' || f == 'd') && next != args.end()) {
        out += next->Render();
        ++next;
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

std::string SorrelMessage(int number, std::initializer_list<SorrelArg> args) {
  return SorrelFormat(SorrelMessageText(number), args);
}
