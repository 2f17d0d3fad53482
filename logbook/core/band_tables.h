// band_tables: what the logbook derives from the radio's state: the band of the contact from the
// frequency, and the mode label's text from the radio's mode.
//
// Two band tables are in use and they differ in three rows: the one applied to the server's
// parameter changes, and the one-time read at start-up, which knows narrower 6 m, 70 cm and 23 cm
// ranges. Both look at the whole number of MHz (truncated towards zero), bounds inclusive; a
// frequency outside every row leaves the band as it was (nullopt). Pure; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillmere {

// The band text ("160" .. "23") for a frequency in MHz, by the start-up table.
std::optional<std::string> BandAtStart(double mhz);
// The same by the parameter-change table.
std::optional<std::string> BandOnChange(double mhz);

// The mode label's text for a rig mode (a RigParamX mode bit): "CW", "USB", "LSB", "RTTY-R",
// "RTTY", "AM", "FM"; nullopt for any other value (the label keeps its text).
std::optional<std::string> RigModeText(int32_t mode);

}  // namespace quillmere
