// call_book: the call-book look-up of the window TRAC, without its widgets: the outside library
// bound at run time, the record it returns cut into fields, and the window's labels and phrases.
//
// The library (its path a setting: $QUILLMERE_CALLBOOK_LIBRARY, else "raccd32a.so" in the
// program folder) exports three C functions:
//   void pGetVersionNr(uint16_t* version);
//   void pCheckDatabaseFormat(uint16_t* error1, uint16_t* error2, const char* folder);
//   void pGetCallInfo(uint16_t* error, char* record, const char* call, const char* folder);
// `folder` is the folder of the call-book data (at most 80 characters), `call` at most 6
// characters, both zero-terminated; `record` is a 501-byte buffer. Without the library the
// window says "call book not available" and the rest of the program works as before.
//
// The record: a marker byte below 32, the call sign, then fields each opened by a control byte
// 2, 3, ... 16, then 18 (17 never separates). Separators are looked for in the first 301 bytes,
// the last occurrence of each counting; every byte below 32 is dropped from the texts.
//
// Thread-safety: none; the GUI thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "shared_library.h"

namespace quillmere {

inline constexpr const char* kCallBookLibraryVariable = "QUILLMERE_CALLBOOK_LIBRARY";
inline constexpr size_t kCallBookRecordSize = 501;
inline constexpr size_t kCallBookSearchBytes = 301;
inline constexpr size_t kCallBookMaxCall = 6;
inline constexpr size_t kCallBookMaxFolder = 80;

// The fields of one record, under the labels that show them.
struct CallBookRecord {
  std::string label7;   // call sign: the text before separator 2
  std::string label8;   // 2-3
  std::string label10;  // 6-7
  std::string label11;  // 5-6 (zip code)
  std::string label12;  // 13-14 + " County", only when label11 has 2 characters or more
  std::string label13;  // 16-18, only when label10 has 2 characters or more
  std::string label14;  // 10-11 (longitude, west positive)
  std::string label15;  // 11-12 (latitude)
  std::string text;     // the whole record without its control bytes (the hidden memo)
};

// Cuts a record into its fields. Reads at most `size` bytes and stops at the first zero byte; a
// field whose separators are missing, beyond the searched bytes or out of order is empty.
CallBookRecord ParseCallBookRecord(const char* record, size_t size);

// The loaded library and its three functions.
class CallBookLibrary {
 public:
  // Null, with the reason in `error`, when the library cannot be loaded or lacks a function.
  static std::unique_ptr<CallBookLibrary> Open(const std::string& path, std::string* error);

  uint16_t GetVersionNr();
  void CheckDatabaseFormat(const std::string& folder, uint16_t& error1, uint16_t& error2);
  // The record is always terminated within its 501 bytes, whatever the library wrote.
  uint16_t GetCallInfo(const std::string& call, const std::string& folder,
                       std::array<char, kCallBookRecordSize>& record);

 private:
  using VersionFn = void (*)(uint16_t*);
  using FormatFn = void (*)(uint16_t*, uint16_t*, const char*);
  using CallInfoFn = void (*)(uint16_t*, char*, const char*, const char*);
  CallBookLibrary() = default;
  std::unique_ptr<SharedLibrary> library_;
  VersionFn version_ = nullptr;
  FormatFn format_ = nullptr;
  CallInfoFn callInfo_ = nullptr;
};

// The configured library path ($QUILLMERE_CALLBOOK_LIBRARY, else "raccd32a.so" in the program
// folder when it exists), empty when there is none.
std::string CallBookLibraryPath();

// How the window looks a call up: "&Get" appends " Lon." and " Lat." to the position labels,
// the hidden "Find" (run by the main window) leaves the bare numbers for the bearing.
enum class CallBookAction { Get, Find };

// What the window does beyond its labels: `phrase` to speak when speech is on, else `message`
// (when not empty) in a message box.
struct CallBookNotice {
  std::string phrase;
  std::string message;
};

class TRACLogic {
 public:
  // `library` may be null: the call book is then not available.
  explicit TRACLogic(std::unique_ptr<CallBookLibrary> library) : library_(std::move(library)) {}

  bool Available() const { return library_ != nullptr; }

  // BitBtn1Click ("&Get") and Button1Click ("Find"): the look-up of `call` (Edit2) in the
  // call-book data folder `folder` (ComboBox1). A call over 6 characters or a folder over 80 is
  // refused before the library is called, as is any look-up without a library.
  CallBookNotice LookUp(std::string_view call, std::string_view folder, CallBookAction action);

  // Button2Click ("Callbook &Read"): the phrases to speak, only when speech is on.
  std::vector<std::string> Button2Click(bool speechOn) const;

  // Label1 .. Label15 at their numbers (index 0 unused); the hidden memo.
  std::array<std::string, 16> Label;
  std::string Memo;

 private:
  std::unique_ptr<CallBookLibrary> library_;
};

// Texts of the window.
inline constexpr std::string_view kCallBookNotAvailable = "call book not available";
inline constexpr std::string_view kCallBookNotAvailablePhrase = "call book not available. ";
inline constexpr std::string_view kCallTooLongPhrase = "call sign too long for the call book. ";
inline constexpr std::string_view kCallTooLongMessage =
    "Call sign too long for the call book: at most 6 characters.";
inline constexpr std::string_view kFolderTooLongPhrase = "call book folder name too long. ";
inline constexpr std::string_view kFolderTooLongMessage =
    "Call book folder name too long: at most 80 characters.";

}  // namespace quillmere
