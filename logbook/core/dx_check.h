// dx_check: the DX look-up behind the hidden window TDXStuff: a call sign in, the name of its
// DXCC entity out ("JA1ABC" gives "Japan").
//
// The answer comes from an outside library exporting
//   const char* DDXCheck(const char* call)   // zero-terminated call, at most 199 characters;
//                                            // returns a zero-terminated name the library owns
// when one is configured and loads, else from our own component: the country file's exact calls
// and longest matching prefix, answered under the spelling of the logbook's entity list, so the
// prefix look-up and the country-file look-up both know the name. A call nothing matches gives
// an empty answer.
//
// Thread-safety: none; the GUI thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "country_file.h"
#include "shared_library.h"

namespace quillmere {

// The environment variable naming the DX look-up library; without it the library "VRNDX.so" in
// the program folder is used when it is there.
inline constexpr const char* kDXCheckLibraryVariable = "QUILLMERE_DXCHECK_LIBRARY";
// The longest call passed on: the look-up buffer holds 199 characters and the terminator.
inline constexpr size_t kDXCheckMaxCall = 199;

class DXCheck {
 public:
  virtual ~DXCheck() = default;
  virtual std::string Check(std::string_view call) = 0;
};

// Our own component over the country file.
class CountryFileDXCheck : public DXCheck {
 public:
  explicit CountryFileDXCheck(std::shared_ptr<const CountryFile> countries)
      : countries_(std::move(countries)) {}
  std::string Check(std::string_view call) override;

 private:
  std::shared_ptr<const CountryFile> countries_;
};

// An outside library's DDXCheck.
class LibraryDXCheck : public DXCheck {
 public:
  // Loads the library and finds DDXCheck; null with the reason in `error` otherwise.
  static std::unique_ptr<LibraryDXCheck> Open(const std::string& path, std::string* error);
  std::string Check(std::string_view call) override;

 private:
  using Function = const char* (*)(const char*);
  LibraryDXCheck(std::unique_ptr<SharedLibrary> library, Function function)
      : library_(std::move(library)), function_(function) {}
  std::unique_ptr<SharedLibrary> library_;
  Function function_;
};

// The configured library path: $QUILLMERE_DXCHECK_LIBRARY, else "VRNDX.so" in the program folder
// when it exists, else empty.
std::string DXCheckLibraryPath();

// The library at `libraryPath` when it loads and exports DDXCheck, else our own component over
// `countries`; `note` (optional) says why the library was not used when a path was given.
std::unique_ptr<DXCheck> MakeDXCheck(const std::string& libraryPath,
                                     std::shared_ptr<const CountryFile> countries,
                                     std::string* note = nullptr);

// What the answer changes on the main window.
struct DXHandover {
  std::string panel3;    // status panel 3 ("DX")
  std::string edit8;     // the hidden entity field (runs the bearing and range display)
  std::string logEdit8;  // the QTH field (searched next by the prefix look-up)
};

// The hidden window's two edits and its look-up.
class TDXStuffLogic {
 public:
  explicit TDXStuffLogic(std::unique_ptr<DXCheck> check) : check_(std::move(check)) {}

  // Edit1 changed (Button1Click): the call, upper-cased and cut to 199 characters, is looked
  // up. When the answer differs from Edit2, Edit2 takes it and the hand-over is returned
  // (Edit2Change); an unchanged answer hands nothing over, so text typed into the QTH field
  // since stays.
  std::optional<DXHandover> Button1Click(std::string_view edit1);

  std::string Edit1, Edit2;

 private:
  std::unique_ptr<DXCheck> check_;
};

}  // namespace quillmere
