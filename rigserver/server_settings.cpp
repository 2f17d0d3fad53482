#include "server_settings.h"

#include <cstdint>
#include <cstdio>

#include "text_utils.h"

namespace tarvane {

namespace {

template <size_t N>
const char* TextAt(const std::array<const char*, N>& texts, int32_t index) {
  return index >= 0 && size_t(index) < N ? texts[size_t(index)] : "";
}

}  // namespace

std::string SettingsSection(int rigNumber) { return rigNumber == 2 ? "RIG2" : "RIG1"; }

TRigSettings DefaultSettings(int rigNumber) {
  TRigSettings s;
  s.Port = rigNumber == 2 ? 1 : 0;
  return s;
}

TRigSettings LoadRigSettings(const TIniFile& ini, int rigNumber,
                             const std::function<int(const std::string&)>& typeIndex,
                             const TLogProc& log,
                             const std::function<std::string(const std::string&)>& rejectedFile) {
  const std::string section = SettingsSection(rigNumber);
  const TRigSettings def = DefaultSettings(rigNumber);
  TRigSettings s;

  auto complain = [&](const char* key, int32_t value, int32_t used) {
    if (log) {
      char line[160];
      std::snprintf(line, sizeof line, "{!}Settings [%s]: %s=%d is out of range, %d used",
                    section.c_str(), key, int(value), int(used));
      log(line);
    }
  };

  const std::string typeName = ini.ReadString(section, "RigType", "NONE");
  const int type = typeIndex ? typeIndex(typeName) : -1;
  s.RigType = type < 0 ? 0 : type;
  // A rig type whose file is gone or did not load: the rig is not configured, and the log says why.
  if (type < 0 && !typeName.empty() && log) {
    const std::string file = rejectedFile ? rejectedFile(typeName) : std::string();
    if (file.empty()) {
      log("{!}Settings [" + section + "]: RigType=" + typeName + " is not found, NONE used");
    } else {
      log("{!}Settings [" + section + "]: RigType=" + typeName + " is not loaded: \"" + file +
          "\" has the errors listed above, NONE used");
    }
  }
  // An index outside its table falls back to the default.
  auto index = [&](const char* key, int32_t deflt, int32_t count) {
    const int32_t v = ini.ReadInteger(section, key, deflt);
    if (v >= 0 && v < count) return v;
    complain(key, v, deflt);
    return deflt;
  };
  // Poll and time-out stay within the limits the dialog allows.
  auto limited = [&](const char* key, int32_t deflt, int32_t lo, int32_t hi) {
    const int32_t v = ini.ReadInteger(section, key, deflt);
    const int32_t used = v < lo ? lo : v > hi ? hi : v;
    if (used != v) complain(key, v, used);
    return used;
  };

  // A device path (always absolute) or, as in older files, a port number.
  const std::string port = ini.ReadString(section, "Port", "");
  if (!port.empty() && port[0] == '/') {
    s.Device = port;
    s.Port = def.Port;
  } else {
    s.Port = ini.ReadInteger(section, "Port", def.Port);
    const bool number = ini.ReadInteger(section, "Port", INT32_MIN) != INT32_MIN ||
                        ini.ReadInteger(section, "Port", INT32_MAX) != INT32_MAX;
    if (!port.empty() && !number && log) {
      log(Format("{!}Settings [%s]: Port=%s is neither a port number nor a device path, %d used",
                 section.c_str(), port.c_str(), int(def.Port)));
    }
  }
  if (s.Port < 0) {
    complain("Port", s.Port, def.Port);
    s.Port = def.Port;
  }
  s.BaudRate = index("BaudRate", def.BaudRate, int32_t(kBaudTable.size()));
  s.DataBits = index("DataBits", def.DataBits, int32_t(kDataBitsTexts.size()));
  s.Parity = index("Parity", def.Parity, int32_t(kParityTexts.size()));
  s.StopBits = index("StopBits", def.StopBits, int32_t(kStopBitsTexts.size()));
  s.RtsMode = index("RtsMode", def.RtsMode, int32_t(kRtsTexts.size()));
  s.DtrMode = index("DtrMode", def.DtrMode, int32_t(kDtrTexts.size()));
  s.PollMs = limited("PollMs", def.PollMs, kPollMin, kPollMax);
  s.TimeoutMs = limited("TimeoutMs", def.TimeoutMs, kTimeoutMin, kTimeoutMax);
  return s;
}

void SaveRigSettings(TIniFile& ini, int rigNumber, const TRigSettings& s, const std::string& typeName) {
  const std::string section = SettingsSection(rigNumber);
  ini.EraseSection(section);
  ini.WriteString(section, "RigType", typeName);
  if (s.Device.empty()) {
    ini.WriteInteger(section, "Port", s.Port);
  } else {
    ini.WriteString(section, "Port", s.Device);
  }
  ini.WriteInteger(section, "BaudRate", s.BaudRate);
  ini.WriteInteger(section, "DataBits", s.DataBits);
  ini.WriteInteger(section, "Parity", s.Parity);
  ini.WriteInteger(section, "StopBits", s.StopBits);
  ini.WriteInteger(section, "RtsMode", s.RtsMode);
  ini.WriteInteger(section, "DtrMode", s.DtrMode);
  ini.WriteInteger(section, "PollMs", s.PollMs);
  ini.WriteInteger(section, "TimeoutMs", s.TimeoutMs);
}

std::string SettingsText(const TRigSettings& s, const std::string& typeName) {
  const std::string baud = s.BaudRate >= 0 && size_t(s.BaudRate) < kBaudTable.size()
                               ? std::to_string(kBaudTable[size_t(s.BaudRate)])
                               : std::string();
  const std::string port = s.Device.empty() ? "COM" + std::to_string(s.Port) : s.Device;
  return Format("Rig=%s|Port=%s|Baud=%s|Data=%s|Parity=%s|Stop=%s|RTS=%s|Dtr=%s|Poll=%d|Timeout=%d",
                typeName.c_str(), port.c_str(), baud.c_str(), TextAt(kDataBitsTexts, s.DataBits),
                TextAt(kParityTexts, s.Parity), TextAt(kStopBitsTexts, s.StopBits),
                TextAt(kRtsTexts, s.RtsMode), TextAt(kDtrTexts, s.DtrMode), int(s.PollMs),
                int(s.TimeoutMs));
}

}  // namespace tarvane
