// new_logbook: the rules of the new-logbook window, which makes an empty logbook in the
// program's folder from a typed name.
//
// The name box takes lower-case letters, digits, '_' and '.'; the name becomes "<name>.dbf". A
// name is refused when it does not begin with a letter (the program's list of logbooks shows only
// names that do), when it names a reference table, or when a logbook of that name, or one whose
// index file the new logbook would share (same name up to the first '.'), is already listed.
//
// Pure functions, except CreateNewLogbook and ListLogbookFiles (files); safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dataset/Sorl6db_create.h"

namespace quillmere {

// Whether a key typed into the name box enters it: Backspace (8) or one of
// "abcdefghijklmnopqrstuvwxyz0123456789_.". Every other key, Enter included, is dropped.
bool NewLogNameKeyPasses(char32_t key);

enum class NewLogNameVerdict {
  Create,           // make "<name>.dbf"
  Nothing,          // empty, or the placeholder "dummy" (unlisted): the window closes, nothing is made
  StartsWithDigit,  // refused: "Must not start with a numeral"
  StartsOtherwise,  // refused: begins with '_' or '.'
  Reserved,         // refused: a reference table's name
  Exists,           // refused: "Cannot overwrite existing log file."
};

// Judges a typed name against the file names (without folder) the window's list holds.
NewLogNameVerdict CheckNewLogName(std::string_view name, const std::vector<std::string>& listedFiles);

// The ".dbf" files of a folder (extension in any case), sorted by name; the window's list.
std::vector<std::string> ListLogbookFiles(const std::string& folder);

// Makes the empty logbook "<name>.dbf" in `folder` (a path ending in '/') through the table
// creator with the 27 definition lines and returns its path; empty when `confirm` declined to
// overwrite a table that appeared meanwhile. The table is left closed: the program then opens it
// through its open path (OpenLogbook), which builds the seven tags.
std::string CreateNewLogbook(const std::string& folder, std::string_view name,
                             const TSorrelConfirm& confirm);

}  // namespace quillmere
