// logbook_folders: where the logbook finds the files delivered beside it (the program folder) and
// where it writes its own files (the writable folder), and the one resolver through which every
// look-up of an existing file passes, since the logbook's own file names mix upper and lower case.
//
// Program folder: QUILLMERE_HOME when set; else the executable's folder when the delivered data
// lies beside it; else the first XDG data folder holding "quillmere/<marker>"; else the
// executable's folder. Writable folder: QUILLMERE_HOME when set; else the executable's folder
// when it can be written; else $XDG_CONFIG_HOME/quillmere (default ~/.config/quillmere), made on
// demand. Nothing here depends on the current directory.
//
// Pure functions over the environment and the file system; safe from any thread.
#pragma once

#include <string>

namespace quillmere {

// Overrides both folders (used by tests and by operators who keep several stations apart).
inline constexpr const char* kHomeVariable = "QUILLMERE_HOME";
// A file delivered with the program: its presence marks a folder as the program folder.
inline constexpr const char* kProgramFolderMarker = "wordlist.txt";

// The folder of the running executable.
std::string ExecutableFolder();
std::string ProgramFolder();
std::string WritableFolder();

// `folder` + "/" + `name` (no doubled slash).
std::string JoinPath(const std::string& folder, const std::string& name);

// `path` itself when it exists; otherwise the entry of its folder whose name matches the last
// path component without regard to case; otherwise `path` unchanged.
std::string ResolveFileCase(const std::string& path);

// True when `path` names an existing regular file (after case resolution).
bool FileExistsAnyCase(const std::string& path);

}  // namespace quillmere
