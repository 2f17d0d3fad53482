// hx6_glbl: the engine's exception classes and process-wide constants.
//
// Every engine failure is an exception derived from ESorrelException, carrying the message number
// (0 for a text that is not from the message table) and the formatted text. ESorrelError covers
// file, lock, header, field, sort and index failures; ESorrelEncryption password mismatches on open;
// ESorrelExpression expression syntax and evaluation failures; EDatabaseError is what the dataset
// layer raises for misuse. None of them keeps state beyond its text.
#pragma once

#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

#include "base/hx6_cnst.h"

class ESorrelException : public std::exception {
 public:
  explicit ESorrelException(std::string text, int number = 0)
      : text_(std::move(text)), number_(number) {}
  ESorrelException(int number, std::initializer_list<SorrelArg> args)
      : text_(SorrelMessage(number, args)), number_(number) {}

  const char* what() const noexcept override { return text_.c_str(); }
  const std::string& Message() const noexcept { return text_; }
  // The message number, or 0 when the text did not come from the message table.
  int Number() const noexcept { return number_; }

 private:
  std::string text_;
  int number_;
};

#define HX6_DECLARE_EXCEPTION(Name)                                                   \
  class Name : public ESorrelException {                                              \
   public:                                                                            \
    explicit Name(std::string text, int number = 0)                                   \
        : ESorrelException(std::move(text), number) {}                                \
    Name(int number, std::initializer_list<SorrelArg> args = {})                      \
        : ESorrelException(number, args) {}                                           \
  }

HX6_DECLARE_EXCEPTION(ESorrelError);
HX6_DECLARE_EXCEPTION(ESorrelEncryption);
HX6_DECLARE_EXCEPTION(ESorrelExpression);
HX6_DECLARE_EXCEPTION(EDatabaseError);

#undef HX6_DECLARE_EXCEPTION

// A logical field or text is true when its first character is one of these.
inline constexpr std::string_view kTrueLetters = "TtYyJj";
// The letters recognised as false.
inline constexpr std::string_view kFalseLetters = "FfNn";
// Written after the last record of a table and at the end of a new memo file.
inline constexpr unsigned char kEndOfFileByte = 0x1A;
// Put between a directory name and a file name.
inline constexpr char kPathDelimiter = '/';

// Whether `c` is one of the true letters, or one of the false letters (a character may be neither).
inline bool IsTrueLetter(char c) { return kTrueLetters.find(c) != std::string_view::npos; }
inline bool IsFalseLetter(char c) { return kFalseLetters.find(c) != std::string_view::npos; }
