// SysSorl: the thin layer between the engine and the operating system.
//
// Every engine module reaches locale services, code-page conversion and the file primitives that
// hx6_disk does not wrap itself through these functions. They raise nothing of their own: failures
// are results, and callers turn them into the engine's messages.
//
// Texts are std::string / std::string_view holding code-page bytes (CP1252 in the engine). The text
// functions never consult the process locale: index keys, filters and field-name look-ups must give
// the same answer on every machine, so case mapping and comparison follow one fixed CP1252 rule:
//  - Case mapping: A-Z <-> a-z, the Latin-1 letters 0xC0-0xDE <-> 0xE0-0xFE (except the
//    multiplication and division signs 0xD7 / 0xF7), and S/Z caron, OE and Y diaeresis
//    (0x8A/0x9A, 0x8E/0x9E, 0x8C/0x9C, 0x9F/0xFF). Sharp s and micro sign have no partner and stay.
//  - Case-insensitive comparison: bytes compared after upper-casing, then by length (a proper prefix
//    sorts first).
//  - Case-sensitive comparison: as the case-insensitive one; texts that differ only in case are
//    ordered at their first differing byte, the lower-case letter first ("a" < "A" < "b").
// Code pages: CP1252 <-> CP437 through fixed tables; a character both pages hold survives a round
// trip byte for byte, others are replaced by their unaccented letter or a look-alike, else "?".
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
