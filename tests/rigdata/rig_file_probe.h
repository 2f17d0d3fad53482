// rig_file_probe: what the rig engine does with one command of a loaded rig description file,
// reduced to the bytes: the write command it would send for a value, and what it would read
// from a status reply (validation, values, matching flags). Lets the delivered files be checked
// against their protocols without a port or an engine.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "rig_commands.h"
#include "value_formats.h"

namespace rigdata_test {

using namespace tarvane;

inline std::string DataFolder() { return QM_DATA_SOURCE_DIR; }
inline std::string RigsSourceFolder() { return DataFolder() + "/Rigs"; }

// Loads "<name>.ini" of the source folder Rigs.
inline TRigCommands LoadRig(const std::string& name) {
  TRigCommands rc;
  rc.LoadFromFile(RigsSourceFolder() + "/" + name + ".ini");
  return rc;
}

inline TByteArray Bytes(std::initializer_list<uint8_t> b) { return TByteArray(b); }
inline TByteArray Text(std::string_view s) { return tarvane::StrToBytes(s); }

// The bytes of the write command for `param` carrying `value`; log lines of the encoder go to
// `log`. Empty when the command has no room for its value.
inline TByteArray WriteBytes(const TRigCommands& rc, TRigParam param, int32_t value,
                             std::vector<std::string>* log = nullptr) {
  const TRigCommand& cmd = rc.WriteCmd[param];
  TByteArray code = cmd.Code;
  if (cmd.Value.Fmt == vfNone) return code;
  const TLogProc proc = [log](const std::string& s) { if (log) log->push_back(s); };
  const TByteArray v = FormatValue(value, cmd.Value, 1, proc);
  if (static_cast<size_t>(cmd.Value.Start) + v.size() > code.size()) return {};
  std::copy(v.begin(), v.end(), code.begin() + cmd.Value.Start);
  return code;
}

// (reply AND mask) = flags, all three of one length.
inline bool MaskMatches(const TByteArray& reply, const TBitMask& m) {
  if (m.Mask.size() != reply.size() || m.Flags.size() != reply.size()) return false;
  for (size_t i = 0; i < reply.size(); ++i) {
    if ((reply[i] & m.Mask[i]) != m.Flags[i]) return false;
  }
  return true;
}

struct TDecodedReply {
  bool Valid = false;
  std::map<TRigParam, int32_t> Values;
  std::vector<TRigParam> Flags;  // matching flags, in file order
};

// Reads a status reply the way the engine does: the validation mask first (an empty mask passes),
// then every value and every flag.
inline TDecodedReply Decode(const TRigCommand& cmd, const TByteArray& reply,
                            std::vector<std::string>* log = nullptr) {
  TDecodedReply d;
  d.Valid = cmd.Validation.Mask.empty() || MaskMatches(reply, cmd.Validation);
  if (!d.Valid) return d;
  const TLogProc proc = [log](const std::string& s) { if (log) log->push_back(s); };
  for (const TParamValue& pv : cmd.Values) {
    if (const auto v = UnformatValue(reply, pv, 1, proc)) d.Values[pv.Param] = *v;
  }
  for (const TBitMask& f : cmd.Flags) {
    if (MaskMatches(reply, f)) d.Flags.push_back(f.Param);
  }
  return d;
}

// The status command whose code is `code`; nullptr when there is none.
inline const TRigCommand* StatusCommand(const TRigCommands& rc, const TByteArray& code) {
  for (const TRigCommand& c : rc.StatusCmd) {
    if (c.Code == code) return &c;
  }
  return nullptr;
}

// Would the port's framing hand over exactly `reply` for this command: the fixed length when
// one is given, and ending in the terminator when one is given (and not earlier).
inline bool FramedAsWhole(const TRigCommand& cmd, const TByteArray& reply) {
  if (cmd.ReplyLength > 0 && reply.size() != static_cast<size_t>(cmd.ReplyLength)) return false;
  if (!cmd.ReplyEnd.empty()) {
    const auto hit = std::search(reply.begin(), reply.end(), cmd.ReplyEnd.begin(),
                                 cmd.ReplyEnd.end());
    if (hit == reply.end() ||
        static_cast<size_t>(hit - reply.begin()) + cmd.ReplyEnd.size() != reply.size()) {
      return false;
    }
  }
  return true;
}

}  // namespace rigdata_test
