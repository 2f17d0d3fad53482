// byte_funs: helpers for the byte arrays that hold every command, reply, mask and terminator of
// the rig server.
//
// Pure functions on values; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvane {

using TByteArray = std::vector<uint8_t>;

// Same length and same bytes (two empty arrays are equal).
bool BytesEqual(const TByteArray& a, const TByteArray& b);
// Bytewise AND over the shorter of the two lengths.
TByteArray BytesAnd(const TByteArray& a, const TByteArray& b);
// Reverses the array in place.
void ReverseBytes(TByteArray& a);
// Byte-for-byte copies between a byte array and a string.
std::string BytesToStr(const TByteArray& a);
TByteArray StrToBytes(std::string_view s);
// Two upper-case hexadecimal digits per byte, no separators.
std::string BytesToHex(const TByteArray& a);
std::string StrToHex(std::string_view s);

}  // namespace tarvane
