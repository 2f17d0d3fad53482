// make_starter_logbook: makes the empty logbook that the delivered preferences name as the
// default logbook (line 7), so that a first start lands on a working LOG page: the table of the
// logbook's 27 fields and its compound index with the seven tags, written by our own engine.
//
//   make_starter_logbook PREFERENCES_FILE OUTPUT_FOLDER
//
// The program folder of a build is also where the operator logs, so a logbook of that name that
// exists already (in any case) is never touched. A new one is made in a folder of its own beside
// it and moved in index first, table last: an interrupted build leaves no half-made logbook.
#include <fcntl.h>
#include <stdio.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "dataset/Sorl6db.h"
#include "logbook_fileset.h"
#include "logbook_folders.h"
#include "preferences.h"

namespace {

namespace fs = std::filesystem;
using namespace quillmere;

void MoveWithoutReplacing(const fs::path& from, const fs::path& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0)
    throw std::runtime_error("cannot move " + from.string() + " to " + to.string());
}

void MakeStarterLogbook(const std::string& preferences, const std::string& folder) {
  const TPreferencesRead read = ReadPreferences(preferences, TPreferences{});
  if (!read.Problems.empty()) throw std::runtime_error(read.Problems.front());
  const std::string name = read.Prefs[plDefaultLog];
  if (name.empty()) return;  // no default logbook is named
  fs::create_directories(folder);
  if (FileExistsAnyCase(JoinPath(folder, name))) return;

  const fs::path work = fs::path(folder) / ".starter-logbook";
  fs::remove_all(work);
  fs::create_directories(work);
  const std::string table = (work / name).string();
  if (!CreateLogbookTable(table, LogbookFieldLines(), {})) throw std::runtime_error("cannot create " + table);
  {
    TSorrelDataSet dbf1;
    OpenLogbook(dbf1, table);
    dbf1.Close();
  }
  const fs::path index = LogbookIndexPath(table);
  const fs::path target = fs::path(folder) / index.filename();
  fs::remove(target);  // an index without its table belongs to no logbook
  MoveWithoutReplacing(index, target);
  MoveWithoutReplacing(table, fs::path(folder) / name);
  fs::remove_all(work);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PREFERENCES_FILE OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  try {
    MakeStarterLogbook(argv[1], argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_starter_logbook: %s\n", e.what());
    return 1;
  }
  return 0;
}
