#include "base/hx6_lcal.h"

namespace {
// No locale collation is ever installed: the references stay empty for the life of the process.
constexpr ThxCollation kCollate = nullptr;
constexpr ThxCollation kUpper = nullptr;
constexpr ThxCollation kLower = nullptr;
constexpr ThxCollation kSecondary = nullptr;
}  // namespace

ThxCollation HxCollateTable() { return kCollate; }
ThxCollation HxUpperTable() { return kUpper; }
ThxCollation HxLowerTable() { return kLower; }
ThxCollation HxSecondaryTable() { return kSecondary; }
