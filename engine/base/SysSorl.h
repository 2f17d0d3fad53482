// SysSorl: the thin layer between the engine and the operating system.
//
// Every engine module reaches locale services, code-page conversion and the file primitives that
// hx6_disk does not wrap itself through these functions. They raise nothing of their own: failures
// are results, and callers turn them into the engine's messages.
//
// Texts are std::string / std::string_view holding code-page bytes (CP1252 in the engine).
//  - Case mapping never consults the process locale: one fixed CP1252 table for every byte: A-Z <->
//    a-z, the Latin-1 letters 0xC0-0xDE <-> 0xE0-0xFE (except the multiplication and division
//    signs 0xD7 / 0xF7), and S/Z caron, OE and Y diaeresis (0x8A/0x9A, 0x8E/0x9E, 0x8C/0x9C,
//    0x9F/0xFF). Sharp s and micro sign have no partner and stay.
//  - Comparison follows the C library's collation of the user's locale (LC_ALL, LC_COLLATE or
//    LANG, read once), the texts taken as CP1252. Under the C or POSIX locale, or when that locale
//    cannot be loaded, a fixed rule stands in: case-insensitive, bytes compared after upper-casing,
//    then by length (a proper prefix sorts first); case-sensitive, as the case-insensitive one,
//    texts that differ only in case ordered at their first differing byte, the lower-case letter
//    first ("a" < "A" < "b"). Texts the locale finds equal but whose bytes differ are ordered by
//    the fixed rule, so only identical texts compare equal (ignoring case: texts equal apart from
//    case). Index key order in files never depends on this: keys compare by bytes.
// Code pages: CP1252 <-> CP437 through fixed tables; a character both pages hold survives a round
// trip byte for byte, others are replaced by their unaccented letter or a look-alike, else "?".
// Numbers: SysFloatToFixed writes fixed decimals in the C locale, whatever the process locale.
//
// Thread-safety: all functions are safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Locale-aware comparisons; negative, 0 or positive.
int SysCompareStr(std::string_view a, std::string_view b);
int SysCompareText(std::string_view a, std::string_view b);

// 1-based position of the first occurrence of `sub` in `text`, 0 when absent.
int SysPos(std::string_view sub, std::string_view text);

// Non-zero when `text` matches `pattern` (containment with "*" and "?" rules), 0 otherwise.
int SysWildMatch(std::string_view pattern, std::string_view text);

// Every byte converted with the locale's case mapping (not only A-Z).
std::string SysLowerCase(std::string_view text);
std::string SysUpperCase(std::string_view text);

// Zero-terminated texts compared with the locale's string comparison; -1, 0 or 1.
int SysStrComp(const char* a, const char* b);
int SysStrIComp(const char* a, const char* b);

// Chooses the locale whose collation the comparisons follow: null re-reads the environment;
// "C" or "POSIX" selects the fixed rule. False when the fixed rule is in force afterwards.
bool SysSetCollationLocale(const char* name);

// `value` with `decimals` digits after the point, in the C locale, rounded from its 15
// significant digits with halves away from zero (0.125 -> "0.13", 2.675 -> "2.68", -2.5 -> "-3"
// with no decimals); a value that rounds to zero has no minus sign. "NAN", "INF", "-INF" for
// values that are no numbers.
std::string SysFloatToFixed(double value, int decimals);

// Conversion between the Windows (CP1252) and the OEM (CP437) code page, `count` bytes.
// Source and destination may be the same buffer.
void SysAnsiToOem(const char* source, char* destination, size_t count);
void SysOemToAnsi(const char* source, char* destination, size_t count);

// File primitives over POSIX descriptors.
bool SysFlushFile(int handle);                              // true when written to disk
int SysTruncateFile(int handle, int64_t size);              // 0 on success, -1 on failure
bool SysLockRegion(int handle, int64_t offset, int64_t length);    // one non-blocking attempt
bool SysUnlockRegion(int handle, int64_t offset, int64_t length);
void SysSleep(int milliseconds);

// The folder where the engine's alias file lives (no trailing delimiter): $SORREL_CONFIG_DIR when
// set (tests), else $XDG_CONFIG_HOME, else ~/.config.
std::string SysWindowsDirectory();
