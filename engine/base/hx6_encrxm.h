// hx6_encrxm: the scrambling routine of encrypted tables.
//
// Records and descriptors of an encrypted table, the text of its memos and the blocks of its index
// files pass through ScrambleBuffer with the table's password as key. The routine is its own
// inverse; no key is ever stored in a file, only the table header's flag says that records are
// scrambled. Stateless, safe from any thread.
#pragma once

#include <cstddef>
#include <string_view>

// Scrambles (mode non-zero) or descrambles (mode 0) `count` bytes of `source` into `destination`
// (which may be the same buffer): byte i becomes ((i mod 256) or key[i mod key length]) xor byte i.
// Result 1 when scrambling, -1 when descrambling, 0 when the key is empty (a plain copy).
int ScrambleBuffer(std::string_view key, const void* source, void* destination, size_t count,
                   int mode);
