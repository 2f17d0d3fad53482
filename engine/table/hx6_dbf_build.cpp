#include "table/hx6_dbf_build.h"

#include <algorithm>
#include <ctime>

#include "base/SysSorl.h"
#include "base/byteorder.h"
#include "table/hx6_dbf.h"
#include "base/hx6_glbl.h"

namespace {

constexpr uint8_t kVersion3Memo = 0x83;
constexpr uint8_t kVersion4Memo = 0x8B;
constexpr uint8_t kVersionFoxMemo = 0xF5;
constexpr uint8_t kDescriptorEnd = 0x0D;

// Descriptor offsets.
constexpr int kDescType = 11;
constexpr int kDescLength = 16;
constexpr int kDescDecimals = 17;
constexpr int kNameLength = 10;

// Memo headers.
constexpr int kMemoBlockSize = 512;
constexpr int kMemoNameOffset = 8;
constexpr int kMemoNameLength = 8;
constexpr int kMemo4HeaderLength = 24;
constexpr uint32_t kFoxBlockSize = 64;
constexpr uint32_t kFoxHeaderLength = 512;

std::string TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

HXO_DBFBuild::HXO_DBFBuild(std::string_view fileName) : HXO_DBFBuild(fileName, kVersion3Memo) {}

HXO_DBFBuild::HXO_DBFBuild(std::string_view fileName, uint8_t versionWithMemo)
    : versionWithMemo_(versionWithMemo),
      fileName_(DefaultFileExt(TrimBlanks(fileName), ".DBF")),
      baseName_(StripFileExt(fileName_)),
      ready_(true) {}

HXO_DBFBuild::~HXO_DBFBuild() {
  FinishQuietly();
  // Files still open here belong to a CreateFiles that failed part way; closing cannot report.
  try {
    if (memoFile_) memoFile_->Close();
    if (tableFile_) tableFile_->Close();
  } catch (...) {
  }
}

void HXO_DBFBuild::FinishQuietly() noexcept {
  if (created_ || !ready_) return;
  try {
    CreateFiles();
  } catch (...) {
    // A destructor cannot report; the table creator calls CreateFiles itself and sees the error.
  }
}

std::string HXO_DBFBuild::MemoFileName() const {
  std::string path = fileName_;
  const size_t slash = path.find_last_of("/\\:");
  const size_t dot = path.find_last_of('.');
  std::string extension = MemoExtension();
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    // Other programs on this system look for the memo file with the case of the table's own
    // extension ("LOG.DBF" with "LOG.FPT", "log.dbf" with "log.fpt"); the engine finds it in
    // either.
    const std::string tableExtension = path.substr(dot + 1);
    if (!tableExtension.empty() && SysUpperCase(tableExtension) == tableExtension &&
        SysLowerCase(tableExtension) != tableExtension)
      extension = SysUpperCase(extension);
    else if (!tableExtension.empty() && SysLowerCase(tableExtension) == tableExtension &&
             SysUpperCase(tableExtension) != tableExtension)
      extension = SysLowerCase(extension);
    path.resize(dot);
  }
  return path + extension;
}

void HXO_DBFBuild::AddField(std::string_view name, std::string_view type, int length,
                            int decimals) {
  if (name.empty()) return;
  std::string upper = SysUpperCase(name);
  if (upper.size() > static_cast<size_t>(kNameLength)) upper.resize(kNameLength);
  // A refused field stops the whole table: a builder that has refused one writes nothing, so that
  // no table with part of its fields is left behind.
  auto refuse = [&]() {
    ready_ = false;
    return ESorrelError(smTableHeaderInvalid, {fileName_ + "->" + upper});
  };

  // A descriptor without a type letter, or with a length or decimals that do not fit their bytes,
  // makes a table that no program reads correctly: refuse it before anything is written.
  if (type.empty()) throw refuse();
  const char letter = SysUpperCase(type.substr(0, 1))[0];
  int lengthByte = 0;
  int decimalsByte = 0;
  int fieldLength = 0;
  switch (letter) {
    case 'B':
    case 'G':
    case 'M':
      fieldLength = lengthByte = 10;
      break;
    case 'C':
      if (length < 1 || length > kBuildMaxTextLength) throw refuse();
      fieldLength = length;
      lengthByte = length % 256;
      decimalsByte = length / 256;
      break;
    case 'D':
      fieldLength = lengthByte = 8;
      break;
    case 'L':
      fieldLength = lengthByte = 1;
      break;
    default:
      if (length < 1 || length > kBuildMaxByteValue || decimals < 0 ||
          decimals > kBuildMaxByteValue)
        throw refuse();
      // A numeric field must at least hold zero with its decimals ("0.00" for two): a new record
      // stores zero in it, and a narrower field could never be written.
      if ((letter == 'N' || letter == 'F') && decimals > 0 && length < decimals + 2) throw refuse();
      fieldLength = lengthByte = length;
      decimalsByte = decimals;
      break;
  }
  // Two fields of one name (names cut to 10 characters can meet) leave the second unreachable by
  // name, here and in every other program.
  for (int i = 0; i < Count(); ++i)
    if (std::string(reinterpret_cast<const char*>(Items(i)->bytes.data())) == upper) throw refuse();
  if (32 * (Count() + 1) + 33 > kBuildMaxHeaderLength ||
      recordLength_ + fieldLength > kBuildMaxRecordLength) {
    ready_ = false;
    throw ESorrelError(smTableHeaderInvalid, {fileName_});
  }

  auto descriptor = std::make_unique<ThxBuildDescriptor>();
  std::copy(upper.begin(), upper.end(), descriptor->bytes.begin());
  descriptor->bytes[kDescType] = static_cast<uint8_t>(letter);
  descriptor->bytes[kDescLength] = static_cast<uint8_t>(lengthByte);
  descriptor->bytes[kDescDecimals] = static_cast<uint8_t>(decimalsByte);
  Add(descriptor.release());
  if (letter == 'B' || letter == 'G' || letter == 'M') hasMemo_ = true;
  recordLength_ += fieldLength;
}

void HXO_DBFBuild::CreateFiles() {
  if (created_ || !ready_) return;
  // Whatever fails here is reported once; the destructor does not try again behind the caller's
  // back.
  ready_ = false;
  // A table without fields has a record of only its deletion byte, which other programs take for
  // a damaged header.
  if (Count() == 0) throw ESorrelError(smTableHeaderInvalid, {fileName_});
  tableFile_ = std::make_unique<HXO_DiskFile>(fileName_, false, true);
  tableFile_->Rewrite();
  WriteHeader();
  if (hasMemo_) WriteMemoFile();
  const bool closed = tableFile_->Close();
  const std::string name = tableFile_->Name();
  tableFile_.reset();
  if (!closed) throw ESorrelError(smCloseError, {name});
  created_ = true;
}

void HXO_DBFBuild::WriteHeader() {
  const int n = Count();
  const int headerLength = 32 * n + 33;
  std::string image(static_cast<size_t>(headerLength) + 1, '\0');
  auto* h = reinterpret_cast<uint8_t*>(image.data());
  h[0] = Version();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  h[1] = static_cast<uint8_t>(local.tm_year % 100);
  h[2] = static_cast<uint8_t>(local.tm_mon + 1);
  h[3] = static_cast<uint8_t>(local.tm_mday);
  EncodeLE16(h + 8, static_cast<uint16_t>(headerLength));
  EncodeLE16(h + 10, static_cast<uint16_t>(recordLength_));
  h[kDbfHdrCodePage] = kDbfCodePageAnsi;
  for (int i = 0; i < n; ++i)
    std::copy(Items(i)->bytes.begin(), Items(i)->bytes.end(), h + 32 * (i + 1));
  h[32 * (n + 1)] = kDescriptorEnd;
  h[32 * (n + 1) + 1] = kEndOfFileByte;
  tableFile_->Write(0, image.data(), static_cast<int32_t>(image.size()));
}

void HXO_DBFBuild::PutBaseName(std::string& image) const {
  const size_t count = std::min<size_t>(baseName_.size(), kMemoNameLength);
  std::copy(baseName_.begin(), baseName_.begin() + static_cast<long>(count),
            image.begin() + kMemoNameOffset);
}

void HXO_DBFBuild::WriteMemoImage(const std::string& image) {
  memoFile_ = std::make_unique<HXO_DiskFile>(MemoFileName(), false, true);
  memoFile_->Rewrite();
  memoFile_->Write(0, image.data(), static_cast<int32_t>(image.size()));
  const bool closed = memoFile_->Close();
  const std::string name = memoFile_->Name();
  memoFile_.reset();
  if (!closed) throw ESorrelError(smCloseError, {name});
}

void HXO_DBFBuild::WriteMemoFile() {
  std::string image(kMemoBlockSize + 1, '\0');
  EncodeLE32(image.data(), 1);
  PutBaseName(image);
  image[kMemoBlockSize] = static_cast<char>(kEndOfFileByte);
  WriteMemoImage(image);
}

HXO_DB4Build::HXO_DB4Build(std::string_view fileName) : HXO_DBFBuild(fileName, kVersion4Memo) {}

void HXO_DB4Build::WriteMemoFile() {
  std::string image(kMemo4HeaderLength, '\0');
  EncodeLE32(image.data(), 1);
  PutBaseName(image);
  image[18] = 2;
  image[19] = 1;
  EncodeLE32(image.data() + 20, kMemoBlockSize);
  WriteMemoImage(image);
}

HXO_DBFoxBuild::HXO_DBFoxBuild(std::string_view fileName)
    : HXO_DBFBuild(fileName, kVersionFoxMemo) {}

void HXO_DBFoxBuild::WriteMemoFile() {
  std::string image(kFoxHeaderLength, '\0');
  EncodeBE32(image.data(), kFoxHeaderLength / kFoxBlockSize);
  EncodeBE16(image.data() + 6, kFoxBlockSize);
  WriteMemoImage(image);
}
