// Sorl6db_create: writing a new, empty table from field definition lines.
//
// A field definition line is "NAME;T;LEN;DEC" ("DATE;D;8;0"). SorrelParseFieldList checks a whole
// list before anything is written; SorrelCreateTableFile asks before replacing an existing table
// and writes the table (and its memo file) through the builder of the chosen dialect. The
// TCreateSorrelDataSet component (Sorl6db_creator.h) puts both behind its CreateTable.
//
// Thread-safety: the functions keep no state; files are the caller's to coordinate.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class HXO_DBFBuild;

// The dialects a new table can be written in.
enum ThxDBFTypes { Clipper, DBaseIII, DBaseIV, FoxPro2 };

// Asked before an existing table is replaced: receives the question's text, answers true for OK
// and false for Cancel.
using TSorrelConfirm = std::function<bool(const std::string& text)>;

// One field definition line, split.
struct TSorrelFieldLine {
  std::string name;  // as given (the builder upper-cases it and keeps 10 characters)
  char type = 0;     // the type letter as given
  int length = 0;
  int decimals = 0;
};

// Splits one line: trailing blanks and ';' removed, then NAME, a one-character T, LEN up to the
// next ';' and DEC from the first three characters after the third ';', LEN and DEC as decimal
// integers. False when the line does not split so.
bool SorrelSplitFieldLine(std::string_view line, TSorrelFieldLine& out);

// Checks a whole list and returns it split, in order. Refuses with EDatabaseError "Field list is
// invalid" an empty list, an empty line, a line that does not split, a name that the builder
// would store equal to an earlier one (upper case, cut to 10 characters), an empty name, a type
// letter no builder writes, a text length outside 1..65535, a numeric length outside 1..255 or
// decimals that cannot hold even zero, and a layout whose record is
// longer than a table opens (65519) or whose header outgrows its 16-bit word.
std::vector<TSorrelFieldLine> SorrelParseFieldList(const std::vector<std::string>& lines);

// The builder for a dialect: HXO_DB4Build for DBaseIV, HXO_DBFoxBuild for FoxPro2, HXO_DBFBuild
// for the others.
std::unique_ptr<HXO_DBFBuild> SorrelMakeBuilder(ThxDBFTypes type, const std::string& path);

// The file the builder writes for `path`: blanks trimmed and ".DBF" put on when there is no
// extension; when a file of that name exists in another case, that file's path.
std::string SorrelTableFileName(std::string_view path);

// Writes a new, empty table at `path` from `lines`. When the table file exists (see
// SorrelTableFileName) and `autoOverwrite` is false, `confirm` is asked "Table exists.  Do you
// want to overwrite?"; Cancel (or no confirmer) returns false and touches nothing. The list is
// then checked whole (SorrelParseFieldList) before any file is written. Returns whether the
// builder wrote the files; file errors raise.
bool SorrelCreateTableFile(const std::string& path, const std::vector<std::string>& lines,
                           ThxDBFTypes type, bool autoOverwrite, const TSorrelConfirm& confirm);
