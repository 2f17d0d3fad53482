// make_reference_tables: writes the reference tables the tallies mark, STATES.DBF with
// STATES.CDX (tag STATE) and DXCC.DBF with DXCC.CDX (tag CTRYPFX), from their text sources, through
// our own engine, so the delivered tables are exactly what the program opens.
//
//   make_reference_tables STATES_TXT DXCC_TXT OUTPUT_FOLDER
//
// A source holds one row per line, KEY;NAME; blank lines and lines starting with '#' are skipped.
// Every row starts with its tally cells reset ("-" and "---"). A key or name too long for its
// field, an empty or repeated key, or a line without ';' stops the tool with the line named.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_creator.h"
#include "dataset/Sorl6db_search.h"
#include "tallies.h"

namespace {

namespace fs = std::filesystem;
using quillmere::TallyKind;

struct Row {
  std::string key, name;
};

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return {};
  const size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

std::vector<Row> ReadSource(const std::string& path, size_t keyWidth, size_t nameWidth) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<Row> rows;
  std::set<std::string> keys;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string where = path + ":" + std::to_string(number) + ": ";
    if (Trim(line).empty() || Trim(line)[0] == '#') continue;
    const size_t semi = line.find(';');
    if (semi == std::string::npos) throw std::runtime_error(where + "no ';' between key and name");
    Row row{Trim(line.substr(0, semi)), line.substr(semi + 1)};
    while (!row.name.empty() && (row.name.back() == '\r' || row.name.back() == ' ')) row.name.pop_back();
    if (row.key.empty() || row.key.size() > keyWidth)
      throw std::runtime_error(where + "key '" + row.key + "' is empty or longer than " +
                               std::to_string(keyWidth));
    if (row.name.empty() || row.name.size() > nameWidth)
      throw std::runtime_error(where + "name '" + row.name + "' is empty or longer than " +
                               std::to_string(nameWidth));
    if (!keys.insert(row.key).second) throw std::runtime_error(where + "key '" + row.key + "' repeated");
    rows.push_back(std::move(row));
  }
  return rows;
}

void WriteTable(TallyKind kind, const std::vector<Row>& rows, const std::string& folder) {
  const quillmere::TallyTable& t = quillmere::TallyTableOf(kind);
  std::error_code ec;
  fs::remove(fs::path(folder) / t.table, ec);
  fs::remove(fs::path(folder) / t.indexFile, ec);
  TSorrelDataSet table;
  table.SetDatabaseName(folder);
  table.SetTableName(t.table);
  TCreateSorrelDataSet creator;
  creator.SetDBFTable(&table);
  creator.SetDBFType(DBaseIV);
  creator.SetAutoOverwrite(true);
  creator.SetCreateFields(quillmere::ReferenceFieldLines(kind));
  if (!creator.CreateTable()) throw std::runtime_error(std::string("cannot create ") + t.table);
  for (const Row& row : rows) {
    table.Append();
    table.FieldByName(t.keyField)->SetAsString(row.key);
    table.FieldByName(t.nameField)->SetAsString(row.name);
    for (const std::string& c : quillmere::ModeColumns())
      table.FieldByName(c)->SetAsString(std::string(quillmere::kModeReset));
    for (const std::string& c : quillmere::BandColumns())
      table.FieldByName(c)->SetAsString(std::string(quillmere::kBandReset));
    table.Post();
  }
  BuildIndexTag(table, t.indexFile, t.tag, t.keyField, "", 1, 0);
  table.Close();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s STATES_TXT DXCC_TXT OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  try {
    fs::create_directories(argv[3]);
    WriteTable(TallyKind::WAS, ReadSource(argv[1], 2, 20), argv[3]);
    WriteTable(TallyKind::DX, ReadSource(argv[2], 5, 30), argv[3]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_reference_tables: %s\n", e.what());
    return 1;
  }
  return 0;
}
