// rig_commands: the command set of one rig type (TRigCommands), read from one rig description
// file with every check the loader makes.
//
// A rig description file is an ini file, one rig model per file:
//   [INIT...]    init commands, sent once when the rig starts, in file order
//   [STATUS...]  status commands, sent at every poll; their replies give values and flags
//   [pmFreq] ... write commands, one section per parameter (a TRigParam name)
// Entries: Command, ReplyLength, ReplyEnd, Validate; write sections add Value, status sections
// ValueNN and FlagNN. Byte strings are hexadecimal ("FE.FE.94.E0", dots ignored) or literal text
// in parentheses ("(FA;)"). A value is Start|Length|Format|Multiplier|Add[|Param[|Min|Max]]
// (a status value outside Min..Max marks its reply as not the radio's); a mask is a pattern,
// pattern|Param, mask|flags or mask|flags|Param.
//
// Every problem found while loading becomes one line of Errors; a file with any error is not
// usable. A TRigCommands owns its commands; once loaded it is only read and may be shared
// read-only between threads.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "byte_funs.h"
#include "rig_types.h"

namespace tarvane {

class TRigCommands {
 public:
  std::string RigType;                                // file name without folder and extension
  TRigCommandArray InitCmd;                           // in file order
  std::array<TRigCommand, kRigParamCount> WriteCmd;   // empty Code = no write command
  TRigCommandArray StatusCmd;                         // in file order
  TRigParamSet ReadableParams;
  TRigParamSet WriteableParams;
  // The status commands read both VFOs' frequencies and which VFO is in use, but no frequency
  // of their own (the radio has no read of "the frequency heard"): Freq is then the frequency of
  // the VFO in use, and pmFreq counts as readable.
  bool FreqFollowsVfo = false;
  std::vector<std::string> Errors;                    // error lines of the last load

  // Parses one file into this object; afterwards Errors is empty when the file is usable.
  // A file that cannot be read raises EIniFileError (ini_file.h).
  void LoadFromFile(const std::string& path);

  // The byte-string grammar of the files: a text of 0 or 1 characters (after trimming) is empty;
  // "(text)" is the text's bytes; otherwise pairs of hexadecimal digits, dots ignored, the first
  // character a digit or upper-case A-F. nullopt for a syntax error.
  static std::optional<TByteArray> StrToBytes(std::string_view text);
};

}  // namespace tarvane
