// hx6_lcal: the collation tables of the engine.
//
// A collation table maps each of the 256 byte values to its weight for text comparison. Four table
// references exist; none is set in this system, so every index key and search compares plain bytes.
// Index code hands HxCollateTable() to ThxVariant comparisons and to the key sorter. The references
// are process-wide constants; reading them is safe from any thread.
#pragma once

#include <cstdint>

// A table of 256 byte weights, or null for plain byte order.
using ThxCollation = const uint8_t*;

// The table used to compare and sort index keys (null: byte order).
ThxCollation HxCollateTable();
// The tables for upper-casing, lower-casing and the secondary (accent) weights (all null).
ThxCollation HxUpperTable();
ThxCollation HxLowerTable();
ThxCollation HxSecondaryTable();
