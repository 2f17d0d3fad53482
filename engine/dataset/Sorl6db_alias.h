// Sorl6db_alias: the engine's alias list and the resolution of a data set's DatabaseName to the
// folder that holds its files.
//
// The alias list is one process-wide list of text lines: first the line "Default Directory", then
// one "name=folder" line per alias. It is read once, on first use, from the section [Alias] of
// the file "sorrel.cfg" in SysWindowsDirectory(); a missing or unreadable file leaves only the
// "Default Directory" line. Names are matched without regard to case, the first entry winning.
//
// Thread-safety: every function here takes the list's own mutex; the list may be used from any
// thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The name that stands for the folder of the running program.
inline constexpr std::string_view kDefaultDirectoryAlias = "Default Directory";
// The alias file's name and the section it is read from.
inline constexpr std::string_view kAliasFileName = "sorrel.cfg";
inline constexpr std::string_view kAliasSection = "Alias";

// The lines of the alias list, in order ("Default Directory" first).
std::vector<std::string> SorrelAliasLines();
// The folder given for `name` (case-insensitive, first entry), or nothing when no entry has it.
std::optional<std::string> SorrelAliasValue(std::string_view name);
// Adds the entry name=value at the end of the list.
void SorrelAliasAdd(std::string_view name, std::string_view value);
// Called when a data set's DatabaseName is set: `value` without one trailing path delimiter; when
// that is not "Default Directory" and the list has no entry of that name, the entry value=value
// is added, so that the name resolves to itself from then on. Returns the value without the
// delimiter.
std::string SorrelAliasRegister(std::string_view value);
// Throws the list away and reads it again from the alias file (the file may have moved, e.g.
// when SORREL_CONFIG_DIR changed).
void SorrelAliasReload();

// The folder of the running program, ending in a path delimiter.
std::string SorrelProgramDirectory();

// The folder named by `databaseName`, ending in a path delimiter, or an empty text (the current
// directory) when `databaseName` is empty. "Default Directory" (any case) is the program's
// folder; another name is looked up in the alias list and stands for itself when no entry has it.
std::string ResolveDatabaseName(std::string_view databaseName);

// Reads the key=value lines of one section of an ini file with Windows profile semantics: the
// section name matched without regard to case, the first such section used; lines beginning
// with ';' are comments; blanks around keys and values trimmed; lines without '=' skipped. A
// missing or unreadable file gives no lines.
std::vector<std::pair<std::string, std::string>> SorrelReadIniSection(const std::string& path,
                                                                      std::string_view section);
