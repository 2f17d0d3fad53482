// side_window_texts: the messages shown and the phrases spoken by the ADIF window, the
// new-logbook window, the printed log, the tools menus and the logbook open path, byte for byte.
// Speaking or showing them is the windows' job; the trailing blanks and odd full stops are part
// of how the phrases sound and are kept.
//
// Pure functions; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace quillmere::texts {

// ---- ADIF window ----
inline std::string AdifHelp() {
  return "ADIF file name must be 8 characters or less in length.  If not, the converted QMR file "
         "name will be truncated.";
}
inline std::string AdifActiveLogbookWarning() {
  return "You cannot convert an ADIF to a QMR compatible DBF file if the DBF file is loaded as a "
         "logbook that is in use by QMR. To convert the active logbook, you have to temporarily "
         "change the active logbook in use with QMR.";
}
inline std::string AdifNameTruncated() {
  return "File name truncated. QMR file names limited to 8 characters.";
}
// "LOG1.DBF was converted to ADIF as LOG1.adi"
inline std::string AdifConverted(std::string_view tableFileName, std::string_view adifFileName) {
  return std::string(tableFileName) + " " + "was converted to ADIF" + " as " + std::string(adifFileName);
}
inline std::string TableExistsQuestion() { return "Table exists.  Do you want to overwrite?"; }

// ---- opening a logbook ----
inline std::string CannotUseLogSpoken() { return "cannot use this log file. "; }
inline std::string CannotUseFileShown() { return "Cannot use this file. "; }
inline std::string NoLogLoadedPanel() { return "Log: None Loaded"; }
inline std::string LogPanel(std::string_view fileName) { return "Log: " + std::string(fileName); }
inline std::string CurrentLogSpoken(std::string_view baseName) {
  return std::string(baseName) + ". is  the  current  log. ";
}
inline std::string NoCdxSpoken() { return "No CDX file. "; }
inline std::string NoCdxShown() { return "No CDX file."; }

// ---- new-logbook window ----
inline std::string NewLogAborted() { return "New log book aborted. "; }
inline std::string NewLogCreatePrompt() { return "Create a new log book. "; }
inline std::string NewLogNamePrompt() { return "enter new log book name and press the Enter key."; }
inline std::string NewLogFileClicked(std::string_view fileName) { return std::string(fileName) + "."; }
inline std::string NewLogCannotUseSpoken() { return "can not use this log file."; }
inline std::string NewLogCannotUseShown() { return "Cannot use this file."; }
inline std::string NewLogItemSelected(int index) { return "Item selected: " + std::to_string(index); }
inline std::string NewLogCannotOverwrite() { return "Cannot overwrite existing log file."; }
inline std::string NewLogCurrentPanel(std::string_view candidate) {
  return "Current Log: " + std::string(candidate);
}
inline std::string NewLogBookPanel(std::string_view fileName) { return " LogBook: " + std::string(fileName); }
inline std::string NewLogIsSpoken() { return "The new. log book is."; }
inline std::string NewLogNameSpoken(std::string_view fileName) { return std::string(fileName) + "."; }
inline std::string NewLogNumeralRule() { return "Must not start with a numeral"; }
inline std::string NewLogLetterRule() { return "Must start with a letter"; }
inline std::string NewLogInstruction() {
  return "Type the name of the new log book without the .dbf extension, for example field2024, "
         "then press the Enter key.";
}

// ---- printed log ----
inline std::string PrintTitle(std::string_view ownCall) { return "Log of " + std::string(ownCall); }
inline std::string PrintDateCaption() { return "Date:"; }
inline std::string PrintPageCaption() { return "Page:"; }

}  // namespace quillmere::texts
