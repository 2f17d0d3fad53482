#include "call_book.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "data_folders.h"

namespace quillmere {

namespace {

// The texts of the record without its control bytes, from `begin` up to `end`.
std::string Printable(const char* record, size_t begin, size_t end) {
  std::string out;
  for (size_t i = begin; i < end; ++i)
    if (static_cast<unsigned char>(record[i]) >= 32) out += record[i];
  return out;
}

// A text cut at its first zero byte and at `max` characters, in a zero-filled buffer.
template <size_t N>
void CopyTerminated(std::string_view text, std::array<char, N>& buffer) {
  buffer.fill('\0');
  const size_t n = std::min({text.size(), N - 1, text.find('\0')});
  std::memcpy(buffer.data(), text.data(), n);
}

}  // namespace

CallBookRecord ParseCallBookRecord(const char* record, size_t size) {
  CallBookRecord out;
  if (record == nullptr) return out;
  const size_t length = strnlen(record, size);
  out.text = Printable(record, 0, length);
  // Separator positions (by value), the last occurrence within the searched bytes; -1 absent.
  long sep[19];
  for (long& s : sep) s = -1;
  const size_t searched = std::min(length, kCallBookSearchBytes);
  for (size_t i = 0; i < searched; ++i) {
    const unsigned char c = static_cast<unsigned char>(record[i]);
    if ((c >= 2 && c <= 16) || c == 18) sep[c] = static_cast<long>(i);
  }
  auto field = [&](int from, int to) -> std::string {
    if (sep[from] < 0 || sep[to] < 0 || sep[to] <= sep[from]) return {};
    return Printable(record, static_cast<size_t>(sep[from]) + 1, static_cast<size_t>(sep[to]));
  };
  if (sep[2] >= 0) out.label7 = Printable(record, 0, static_cast<size_t>(sep[2]));
  out.label8 = field(2, 3);
  out.label11 = field(5, 6);
  out.label10 = field(6, 7);
  out.label14 = field(10, 11);
  out.label15 = field(11, 12);
  if (out.label11.size() >= 2) out.label12 = field(13, 14) + " County";
  if (out.label10.size() >= 2) out.label13 = field(16, 18);
  return out;
}

std::unique_ptr<CallBookLibrary> CallBookLibrary::Open(const std::string& path, std::string* error) {
  std::unique_ptr<SharedLibrary> library = SharedLibrary::Open(path, error);
  if (!library) return nullptr;
  std::unique_ptr<CallBookLibrary> out(new CallBookLibrary());
  out->version_ = reinterpret_cast<VersionFn>(library->Symbol("pGetVersionNr"));
  out->format_ = reinterpret_cast<FormatFn>(library->Symbol("pCheckDatabaseFormat"));
  out->callInfo_ = reinterpret_cast<CallInfoFn>(library->Symbol("pGetCallInfo"));
  if (!out->version_ || !out->format_ || !out->callInfo_) {
    if (error)
      *error = path + " does not export pGetVersionNr, pCheckDatabaseFormat and pGetCallInfo";
    return nullptr;
  }
  out->library_ = std::move(library);
  return out;
}

uint16_t CallBookLibrary::GetVersionNr() {
  uint16_t version = 0;
  version_(&version);
  return version;
}

void CallBookLibrary::CheckDatabaseFormat(const std::string& folder, uint16_t& error1, uint16_t& error2) {
  std::array<char, kCallBookMaxFolder + 1> path;
  CopyTerminated(folder, path);
  error1 = error2 = 0;
  format_(&error1, &error2, path.data());
}

uint16_t CallBookLibrary::GetCallInfo(const std::string& call, const std::string& folder,
                                      std::array<char, kCallBookRecordSize>& record) {
  std::array<char, kCallBookMaxCall + 1> callText;
  std::array<char, kCallBookMaxFolder + 1> path;
  CopyTerminated(call, callText);
  CopyTerminated(folder, path);
  record.fill('\0');
  uint16_t error = 0;
  callInfo_(&error, record.data(), callText.data(), path.data());
  record.back() = '\0';
  return error;
}

std::string CallBookLibraryPath() {
  const char* configured = std::getenv(kCallBookLibraryVariable);
  if (configured != nullptr && *configured != '\0') return configured;
  const std::string path = DataFilePath("raccd32a.so");
  std::error_code ec;
  return std::filesystem::exists(path, ec) ? path : std::string();
}

CallBookNotice TRACLogic::LookUp(std::string_view call, std::string_view folder,
                                 CallBookAction action) {
  for (std::string& l : Label) l.clear();
  Memo.clear();
  if (!library_) {
    Label[1] = kCallBookNotAvailable;
    return {std::string(kCallBookNotAvailablePhrase), {}};
  }
  if (call.size() > kCallBookMaxCall) {
    Label[1] = kCallTooLongMessage;
    return {std::string(kCallTooLongPhrase), std::string(kCallTooLongMessage)};
  }
  if (folder.size() > kCallBookMaxFolder) {
    Label[1] = kFolderTooLongMessage;
    return {std::string(kFolderTooLongPhrase), std::string(kFolderTooLongMessage)};
  }
  const std::string callText(call), folderText(folder);
  Label[3] = "Version : " + std::to_string(library_->GetVersionNr());
  uint16_t error1 = 0, error2 = 0;
  library_->CheckDatabaseFormat(folderText, error1, error2);
  if (error1 == 0 && error2 == 0)
    Label[4] = "DatabaseFormat: ok.";
  else if (error1 != 0)
    Label[5] = "ErrorCode:" + std::to_string(error1);
  else
    Label[6] = "DLL does not match with CD";
  std::array<char, kCallBookRecordSize> record;
  const uint16_t error = library_->GetCallInfo(callText, folderText, record);
  if (error != 0) {
    Label[1] = "ErrorCode: " + std::to_string(error) + " Cannot load/find information. ";
  } else {
    Label[2] = "OK";
    CallBookRecord fields = ParseCallBookRecord(record.data(), record.size());
    Label[7] = std::move(fields.label7);
    Label[8] = std::move(fields.label8);
    Label[10] = std::move(fields.label10);
    Label[11] = std::move(fields.label11);
    Label[12] = std::move(fields.label12);
    Label[13] = std::move(fields.label13);
    Label[14] = std::move(fields.label14);
    Label[15] = std::move(fields.label15);
    Memo = std::move(fields.text);
  }
  if (action == CallBookAction::Get) {
    Label[14] += " Lon.";
    Label[15] += " Lat.";
  }
  return {};
}

std::vector<std::string> TRACLogic::Button2Click(bool speechOn) const {
  if (!speechOn) return {};
  return {"Station  " + Label[7] + "     is at   " + Label[8] + "  ", Label[10] + "."};
}

}  // namespace quillmere
