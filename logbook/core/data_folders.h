// data_folders: the delivered data files the logbook reads (country file, reference tables, outside
// look-up libraries, band limits, memories) and the folder it writes its own copies into, on top
// of the one folder policy of logbook_folders.
//
// Read side: QUILLMERE_HOME when set (tests), else the executable's folder when the file lies
// there (the build puts every data file beside the program), else the XDG data folders, each with
// a sub-folder "quillmere". Write side: the logbook's writable folder (logbook_folders).
// Every look-up of an existing file goes through the case-insensitive resolver, since the
// system's own names mix cases.
//
// Pure functions over the environment and the file system; safe from any thread.
#pragma once

#include <string>
#include <string_view>

#include "logbook_folders.h"

namespace quillmere {

// The full path of the delivered data file `name`: the first folder of the read side that holds
// it (case-insensitive), or the path in the first folder of the read side when none does, so an
// error message names where the file was expected.
std::string DataFilePath(std::string_view name);

// The folder the logbook writes its own files into; made when missing. Empty when it cannot be
// made.
std::string WritableDataFolder();

}  // namespace quillmere
