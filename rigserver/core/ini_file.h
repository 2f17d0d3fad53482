// ini_file: reader and writer of ini files with the profile semantics the server's files were
// written for (rig description files and the server's settings file).
//
// Semantics: section and key names are compared without regard to case and the first match wins
// (a later duplicate section or key is invisible); a line is a comment only when its first
// non-blank character is ';' (a ';' inside a value is kept, "(FA;)" is a command); names and values
// are trimmed of blanks; a value enclosed in a matching pair of single or double quotes loses them.
// A line without '=' inside a section is a key with an empty value. Lines before the first section
// are ignored.
//
// The writer changes the in-memory copy; UpdateFile writes the whole file back at once through a
// temporary file and a rename, so a crash never leaves half a settings file. Lines outside the
// sections that were changed are written back byte for byte.
//
// A TIniFile owns its copy of the file's lines. Not safe for concurrent use.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarvane {

// Raised when an ini file exists but cannot be read or written, or is implausibly large.
class EIniFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TIniFile {
 public:
  // Larger files are refused: no description or settings file comes near this.
  static constexpr size_t kMaxFileSize = 4 * 1024 * 1024;

  // Reads the file. A file that does not exist reads as empty (the writer creates it); a file that
  // exists but cannot be read raises EIniFileError with a message naming the file.
  explicit TIniFile(std::string path);

  const std::string& FileName() const { return path_; }

  // Section names in file order, each once (its first spelling).
  std::vector<std::string> ReadSections() const;
  // Key names of a section in file order, each once (its first spelling); empty when the section
  // does not exist.
  std::vector<std::string> ReadSection(std::string_view section) const;
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // A text beginning 0x or 0X is hexadecimal; a text that is not a 32-bit number gives `def`.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;

  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  // Removes the section's header and every line up to the next section.
  void EraseSection(std::string_view section);
  // Writes the file back when anything changed; raises EIniFileError on failure.
  void UpdateFile();

 private:
  struct Key {
    std::string name;
    std::string value;
    size_t line;
  };
  struct Section {
    std::string name;
    size_t header;     // line of "[name]"
    size_t end;        // first line after the section
    size_t last_key;   // line after which a new key goes
    std::vector<Key> keys;
    std::unordered_map<std::string, size_t> key_index;  // upper-cased name -> first key
  };

  void Parse(std::string_view text);
  void Reindex();
  const Section* FindSection(std::string_view name) const;
  const Key* FindKey(std::string_view section, std::string_view key) const;
  std::string NewLineEnd() const;

  std::string path_;
  // Each line with its own terminator ("\r\n", "\n" or "" for an unterminated last line).
  std::vector<std::string> lines_;
  std::vector<Section> sections_;
  std::unordered_map<std::string, size_t> section_index_;  // upper-cased name -> first section
  bool modified_ = false;
};

}  // namespace tarvane
