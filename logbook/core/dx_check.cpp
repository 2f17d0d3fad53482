#include "dx_check.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "data_folders.h"
#include "entity_list.h"

namespace quillmere {

namespace {

std::string UpperCut(std::string_view call) {
  std::string out(call.substr(0, std::min(call.size(), kDXCheckMaxCall)));
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  // A zero byte would end the text the library sees; cut there as the library would.
  out.resize(out.find('\0') == std::string::npos ? out.size() : out.find('\0'));
  return out;
}

}  // namespace

std::string CountryFileDXCheck::Check(std::string_view call) {
  if (!countries_) return {};
  const CtyCallInfo info = countries_->LookupCall(call);
  if (info.row < 0) return {};
  return EntityListNameOf(countries_->Rows()[static_cast<size_t>(info.row)][kCtyName]);
}

std::unique_ptr<LibraryDXCheck> LibraryDXCheck::Open(const std::string& path, std::string* error) {
  std::unique_ptr<SharedLibrary> library = SharedLibrary::Open(path, error);
  if (!library) return nullptr;
  auto function = reinterpret_cast<Function>(library->Symbol("DDXCheck"));
  if (function == nullptr) {
    if (error) *error = path + " does not export DDXCheck";
    return nullptr;
  }
  return std::unique_ptr<LibraryDXCheck>(new LibraryDXCheck(std::move(library), function));
}

std::string LibraryDXCheck::Check(std::string_view call) {
  // The library reads a zero-terminated text of at most 199 characters from a 200-byte buffer.
  char buffer[kDXCheckMaxCall + 1] = {};
  const std::string text = UpperCut(call);
  text.copy(buffer, kDXCheckMaxCall);
  const char* answer = function_(buffer);
  // The answer belongs to the library: copied at once, never freed.
  return answer != nullptr ? std::string(answer) : std::string();
}

std::string DXCheckLibraryPath() {
  const char* configured = std::getenv(kDXCheckLibraryVariable);
  if (configured != nullptr && *configured != '\0') return configured;
  const std::string path = DataFilePath("VRNDX.so");
  std::error_code ec;
  return std::filesystem::exists(path, ec) ? path : std::string();
}

std::unique_ptr<DXCheck> MakeDXCheck(const std::string& libraryPath,
                                     std::shared_ptr<const CountryFile> countries, std::string* note) {
  if (!libraryPath.empty()) {
    std::string error;
    if (auto library = LibraryDXCheck::Open(libraryPath, &error)) return library;
    if (note) *note = error;
  }
  return std::make_unique<CountryFileDXCheck>(std::move(countries));
}

std::optional<DXHandover> TDXStuffLogic::Button1Click(std::string_view edit1) {
  Edit1 = std::string(edit1);
  for (char& c : Edit1)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  std::string answer = check_ ? check_->Check(UpperCut(Edit1)) : std::string();
  if (answer == Edit2) return std::nullopt;
  Edit2 = std::move(answer);
  return DXHandover{Edit2, Edit2, Edit2};
}

}  // namespace quillmere
