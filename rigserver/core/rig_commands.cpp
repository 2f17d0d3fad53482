#include "rig_commands.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <filesystem>

#include "ini_file.h"
#include "program_folder.h"
#include "text_utils.h"

namespace tarvane {

namespace {

enum class TSectionKind { Init, Write, Status };
enum class TMaskRole { Validation, Flag };

constexpr const char* kInitEntries[] = {"COMMAND", "REPLYLENGTH", "REPLYEND", "VALIDATE"};
constexpr const char* kWriteEntries[] = {"COMMAND", "REPLYLENGTH", "REPLYEND", "VALIDATE",
                                         "VALUE"};
constexpr const char* kStatusEntries[] = {"COMMAND", "REPLYLENGTH", "REPLYEND", "VALIDATE",
                                          "VALUE*", "FLAG*"};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads one file into a TRigCommands; holds the state that only matters while loading.
class TRigFileLoader {
 public:
  TRigFileLoader(TRigCommands& target, const TIniFile& ini) : rc_(target), ini_(ini) {}

  void Run() {
    for (const std::string& name : ini_.ReadSections()) {
      section_ = name;
      entry_.clear();
      section_bad_ = false;
      // A section without entries carries no command and is not an error.
      if (ini_.ReadSection(name).empty()) continue;
      const std::string up = UpperCase(name);
      if (up.compare(0, 4, "INIT") == 0) {
        LoadInitCommand();
      } else if (up.compare(0, 6, "STATUS") == 0) {
        LoadStatusCommand();
      } else {
        LoadWriteCommand();
      }
    }
  }

 private:
  std::string Raw() const { return ini_.ReadString(section_, entry_, ""); }

  void AddError(const std::string& message, bool showValue = true) {
    std::string tail;
    if (showValue && !entry_.empty()) tail = "in \"" + Raw() + "\"";
    rc_.Errors.push_back(Format("[%s].%s:  %s %s", section_.c_str(), entry_.c_str(),
                                message.c_str(), tail.c_str()));
    section_bad_ = true;
  }

  template <size_t N>
  void CheckEntryNames(const char* const (&allowed)[N]) {
    for (const std::string& key : ini_.ReadSection(section_)) {
      const std::string up = UpperCase(key);
      bool ok = false;
      for (const char* name : allowed) {
        const std::string_view a(name);
        if (a.back() == '*' ? up.compare(0, a.size() - 1, a.substr(0, a.size() - 1)) == 0
                            : up == a) {
          ok = true;
          break;
        }
      }
      if (!ok) {
        entry_ = key;
        AddError("invalid entry name", false);
      }
    }
  }

  // Reads a byte string entry; false after reporting a syntax error.
  bool LoadBytes(const char* entry, TByteArray& out) {
    entry_ = entry;
    const auto bytes = TRigCommands::StrToBytes(Raw());
    if (!bytes) {
      AddError("invalid byte string");
      out.clear();
      return false;
    }
    out = *bytes;
    return true;
  }

  void LoadCommand(TRigCommand& cmd) {
    LoadBytes("Command", cmd.Code);
    if (cmd.Code.empty()) AddError("command code is missing");

    entry_ = "ReplyLength";
    cmd.ReplyLength = ini_.ReadInteger(section_, entry_, 0);
    if (cmd.ReplyLength < 0) AddError("invalid integer");

    LoadBytes("ReplyEnd", cmd.ReplyEnd);

    entry_ = "Validate";
    if (LoadMask(cmd.Validation)) {
      CheckMask(cmd.Validation, cmd.ReplyLength, cmd.ReplyEnd, TMaskRole::Validation);
    }
  }

  void LoadInitCommand() {
    CheckEntryNames(kInitEntries);
    TRigCommand cmd;
    LoadCommand(cmd);
    if (!section_bad_) rc_.InitCmd.push_back(std::move(cmd));
  }

  void LoadWriteCommand() {
    const auto param = StrToRigParam(section_);
    // pmNone names no parameter that a client could write.
    if (!param || *param == pmNone) {
      entry_.clear();
      AddError("invalid parameter name", false);
      return;
    }
    CheckEntryNames(kWriteEntries);
    TRigCommand cmd;
    LoadCommand(cmd);
    entry_ = "Value";
    if (LoadValue(cmd.Value)) {
      CheckValue(cmd.Value, static_cast<int64_t>(cmd.Code.size()));
      if (cmd.Value.Param != pmNone) AddError("parameter name is not allowed");
      // A range is a check on what the radio reports; a value sent has none.
      if (cmd.Value.Ranged) AddError("invalid syntax");
      if (IsNumericParam(*param)) {
        if (cmd.Value.Fmt == vfNone) AddError("Value is missing");
      } else if (cmd.Value.Fmt != vfNone) {
        AddError("parameter does not require a value", false);
      }
    }
    if (!section_bad_) rc_.WriteCmd[*param] = std::move(cmd);
  }

  void LoadStatusCommand() {
    CheckEntryNames(kStatusEntries);
    TRigCommand cmd;
    LoadCommand(cmd);
    if (cmd.ReplyLength == 0 && cmd.ReplyEnd.empty()) {
      entry_.clear();
      AddError("ReplyLength or ReplyEnd must be specified");
    }
    const int64_t limit = std::max<int64_t>(cmd.ReplyLength,
                                            static_cast<int64_t>(cmd.Validation.Mask.size()));
    bool found = false;
    for (const std::string& key : ini_.ReadSection(section_)) {
      const std::string up = UpperCase(key);
      if (up.compare(0, 5, "VALUE") == 0) {
        found = true;
        entry_ = key;
        TParamValue value;
        if (LoadValue(value)) {
          CheckValue(value, limit);
          if (value.Param == pmNone) {
            AddError("parameter name is missing");
          } else if (!IsNumericParam(value.Param)) {
            AddError("parameter must be of numeric type");
          }
        }
        cmd.Values.push_back(value);
      } else if (up.compare(0, 4, "FLAG") == 0) {
        found = true;
        entry_ = key;
        TBitMask flag;
        if (LoadMask(flag)) {
          CheckMask(flag, cmd.ReplyLength, cmd.ReplyEnd, TMaskRole::Flag);
        }
        cmd.Flags.push_back(std::move(flag));
      }
    }
    if (!found) {
      entry_.clear();
      AddError("at least one ValueNN or FlagNN must be defined");
    }
    if (!section_bad_) rc_.StatusCmd.push_back(std::move(cmd));
  }

  // Start|Length|Format|Multiplier|Add[|Param[|Min|Max]] of the current entry; false after a
  // syntax error.
  bool LoadValue(TParamValue& value) {
    value = TParamValue{};
    const std::string raw = Raw();
    if (raw.empty()) return true;
    const std::vector<std::string> fields = SplitDelimitedText(raw);
    const bool counted = fields.size() == 5 || fields.size() == 6 || fields.size() == 8;
    if (!counted) {
      AddError("invalid syntax");
      if (fields.size() < 5) return false;
    }
    const size_t errors_before = rc_.Errors.size();
    if (const auto v = TryStrToInt(fields[0])) {
      value.Start = *v;
    } else {
      AddError("invalid Start value");
    }
    if (const auto v = TryStrToInt(fields[1])) {
      value.Len = *v;
    } else {
      AddError("invalid Length value");
    }
    if (const auto f = StrToValueFormat(fields[2])) {
      value.Fmt = *f;
    } else {
      AddError("invalid format name");
    }
    if (const auto m = ReadSingle(fields[3])) {
      value.Mult = *m;
    } else {
      AddError("invalid Multiplier value");
    }
    if (const auto a = ReadSingle(fields[4])) {
      value.Add = *a;
    } else {
      AddError("invalid Add value");
    }
    if (fields.size() >= 6) {
      if (const auto p = StrToRigParam(fields[5])) {
        value.Param = *p;
      } else {
        AddError("invalid parameter name", false);
      }
    }
    if (fields.size() == 8) {
      const auto lo = TryStrToInt(fields[6]);
      const auto hi = TryStrToInt(fields[7]);
      if (!lo) AddError("invalid Min value");
      if (!hi || (lo && *hi < *lo)) AddError("invalid Max value");
      if (lo && hi) {
        value.Ranged = true;
        value.Min = *lo;
        value.Max = *hi;
      }
    }
    return rc_.Errors.size() == errors_before && counted;
  }

  // A decimal number that fits a single-precision float.
  static std::optional<float> ReadSingle(const std::string& text) {
    const auto d = TryStrToFloat(text);
    if (!d || std::fabs(*d) > FLT_MAX) return std::nullopt;
    return static_cast<float>(*d);
  }

  void CheckValue(const TParamValue& value, int64_t limit) {
    if (value.Fmt == vfNone) return;
    if (value.Start < 0 || (limit > 0 && value.Start >= limit)) AddError("invalid Start value");
    if (value.Len < 0 || (limit > 0 && int64_t{value.Start} + value.Len > limit)) {
      AddError("invalid Length value");
    }
    if (!(value.Mult > 0)) AddError("invalid Multiplier value");
  }

  // A one-field pattern: literal text with '.' for "any byte", or hexadecimal with 00 for
  // "any byte".
  static std::optional<TBitMask> PatternToMask(const std::string& text) {
    const auto bytes = TRigCommands::StrToBytes(text);
    if (!bytes) return std::nullopt;
    const std::string t = Trim(text);
    const bool literal = !t.empty() && t.front() == '(';
    TBitMask mask;
    for (const uint8_t b : *bytes) {
      const bool wildcard = literal ? b == '.' : b == 0;
      mask.Mask.push_back(wildcard ? 0x00 : 0xFF);
      mask.Flags.push_back(wildcard ? 0x00 : b);
    }
    return mask;
  }

  // The current entry as a mask; false after reporting a syntax error.
  bool LoadMask(TBitMask& out) {
    out = TBitMask{};
    const std::string raw = Raw();
    if (raw.empty()) return true;
    const std::vector<std::string> fields = SplitDelimitedText(raw);
    if (fields.empty() || fields[0].empty() || fields.size() > 3) {
      AddError("invalid mask");
      return false;
    }
    if (fields.size() == 1 ||
        (fields.size() == 2 && StrToRigParam(fields[1]).has_value())) {
      auto mask = PatternToMask(fields[0]);
      if (!mask) {
        AddError("invalid mask");
        return false;
      }
      out = std::move(*mask);
      if (fields.size() == 2) out.Param = *StrToRigParam(fields[1]);
      return true;
    }
    const auto mask = TRigCommands::StrToBytes(fields[0]);
    const auto flags = TRigCommands::StrToBytes(fields[1]);
    if (!mask || !flags) {
      AddError("invalid mask");
      return false;
    }
    out.Mask = *mask;
    out.Flags = *flags;
    if (fields.size() == 3) {
      const auto p = StrToRigParam(fields[2]);
      if (!p) {
        out = TBitMask{};
        AddError("invalid parameter name", false);
        return false;
      }
      out.Param = *p;
    }
    return true;
  }

  void CheckMask(const TBitMask& m, int32_t replyLength, const TByteArray& replyEnd,
                 TMaskRole role) {
    if (m.Mask.empty() && m.Flags.empty() && m.Param == pmNone) return;
    if (m.Mask.empty() || m.Flags.empty() || m.Mask.size() != m.Flags.size()) {
      AddError("incorrect mask length");
      return;
    }
    if (replyLength > 0 && static_cast<int64_t>(m.Mask.size()) != replyLength) {
      AddError("mask length <> ReplyLength");
      return;
    }
    if (!BytesEqual(BytesAnd(m.Flags, m.Mask), m.Flags)) {
      AddError("mask hides valid bits");
      return;
    }
    if (role == TMaskRole::Validation) {
      if (m.Param != pmNone) AddError("parameter name is not allowed");
      const bool ends = replyEnd.size() <= m.Flags.size() &&
                        std::equal(replyEnd.begin(), replyEnd.end(),
                                   m.Flags.end() - static_cast<std::ptrdiff_t>(replyEnd.size()));
      if (!ends) AddError("mask does not end with ReplyEnd");
    } else if (m.Param == pmNone) {
      AddError("parameter name is missing");
    }
  }

  TRigCommands& rc_;
  const TIniFile& ini_;
  std::string section_;
  std::string entry_;
  bool section_bad_ = false;
};

}  // namespace

std::optional<TByteArray> TRigCommands::StrToBytes(std::string_view text) {
  const std::string t = Trim(text);
  if (t.size() <= 1) return TByteArray{};
  if (t.front() == '(') {
    if (t.back() != ')') return std::nullopt;
    return TByteArray(t.begin() + 1, t.end() - 1);
  }
  const char first = t.front();
  if (!((first >= '0' && first <= '9') || (first >= 'A' && first <= 'F'))) return std::nullopt;
  std::string digits;
  digits.reserve(t.size());
  for (const char c : t) {
    if (c != '.') digits += c;
  }
  if (digits.size() % 2 != 0) return std::nullopt;
  TByteArray out;
  out.reserve(digits.size() / 2);
  for (size_t i = 0; i < digits.size(); i += 2) {
    const int hi = HexDigit(digits[i]);
    const int lo = HexDigit(digits[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return out;
}

void TRigCommands::LoadFromFile(const std::string& path) {
  Errors.clear();
  InitCmd.clear();
  StatusCmd.clear();
  for (TRigCommand& cmd : WriteCmd) cmd = TRigCommand{};
  ReadableParams.Clear();
  WriteableParams.Clear();
  FreqFollowsVfo = false;
  RigType = RemoveFileExt(std::filesystem::path(path).filename().string());

  const TIniFile ini(path);
  TRigFileLoader(*this, ini).Run();

  for (const TRigCommand& cmd : StatusCmd) {
    for (const TParamValue& v : cmd.Values) ReadableParams.Include(v.Param);
    for (const TBitMask& f : cmd.Flags) ReadableParams.Include(f.Param);
  }
  for (int p = 0; p < kRigParamCount; ++p) {
    if (!WriteCmd[p].Code.empty()) WriteableParams.Include(static_cast<TRigParam>(p));
  }
  bool vfoKnown = false;
  for (const TRigParam p : {pmVfoAA, pmVfoAB, pmVfoBA, pmVfoBB, pmVfoA, pmVfoB}) {
    vfoKnown |= ReadableParams.Contains(p);
  }
  if (vfoKnown && !ReadableParams.Contains(pmFreq) && ReadableParams.Contains(pmFreqA) &&
      ReadableParams.Contains(pmFreqB)) {
    FreqFollowsVfo = true;
    ReadableParams.Include(pmFreq);
  }
}

}  // namespace tarvane
