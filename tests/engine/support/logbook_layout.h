// The logbook's 27-field record as the main window's table creator defines it, for the builder and
// field tests.
#pragma once

#include <string>
#include <vector>

namespace logbook_layout {

struct FieldDef {
  const char* name;
  char type;
  int length;
  int decimals;
};

inline const std::vector<FieldDef>& Fields() {
  static const std::vector<FieldDef> fields = {
      {"DATE", 'D', 8, 0},     {"TIME", 'C', 6, 0},     {"NUMBER", 'N', 20, 4},
      {"STATION", 'C', 15, 0}, {"BAND", 'N', 20, 4},    {"QTH", 'C', 20, 0},
      {"RST", 'C', 5, 0},      {"NRSENT", 'C', 20, 0},  {"NRRCVD", 'C', 20, 0},
      {"SPARE1", 'C', 20, 0},  {"MODE", 'C', 6, 0},     {"PREFIX", 'C', 5, 0},
      {"STATE", 'C', 3, 0},    {"CQZONE", 'C', 3, 0},   {"ITUZONE", 'C', 3, 0},
      {"TENTEN", 'N', 20, 4},  {"QSLS", 'C', 2, 0},     {"QSLR", 'C', 2, 0},
      {"CITY", 'C', 30, 0},    {"REMARK", 'C', 100, 0}, {"FREQ", 'C', 7, 0},
      {"COUNTY", 'C', 20, 0},  {"CONTEST", 'C', 15, 0}, {"OPERATR", 'C', 8, 0},
      {"IOTA", 'C', 8, 0},     {"TXPWR", 'C', 4, 0},    {"GRIDSQR", 'C', 6, 0},
  };
  return fields;
}

// Adds the logbook's fields to a builder, in record order.
template <class Builder>
void AddLogbookFields(Builder& builder) {
  for (const FieldDef& f : Fields())
    builder.AddField(f.name, std::string(1, f.type), f.length, f.decimals);
}

}  // namespace logbook_layout
