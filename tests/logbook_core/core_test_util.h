// Helpers of the logbook core tests: a temporary folder per test, whole-file reads and writes,
// and contacts written into a logbook through a data set as the program logs them.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dataset/Sorl6db.h"
#include "base/hx6_date.h"
#include "logbook_fileset.h"

namespace core_test {

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm_core_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string PathOf(const std::string& name) const { return dir_ + name; }
  // The names in the folder, sorted.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A contact: field name -> value (text as stored, numbers as decimal text, DATE as "yyyymmdd").
using Contact = std::map<std::string, std::string>;

// Appends the contacts to the table at `path` through a data set, as Log It stores a record.
inline void AppendContacts(const std::string& path, const std::vector<Contact>& contacts) {
  TSorrelDataSet table;
  table.SetTableName(path);
  table.Open();
  for (const Contact& c : contacts) {
    table.Append();
    for (const auto& [name, value] : c) {
      TField* field = table.FieldByName(name);
      if (name == "DATE")
        field->SetAsDateTime(JulianToDateTime(DBFDate().CTOD(value)));
      else if (field->DataType() == TFieldType::ftString)
        field->SetAsString(value);
      else
        field->SetAsFloat(std::stod(value));
    }
    table.Post();
  }
  table.Close();
}

// Every record of a table in table order: field name -> text (text fields without trailing
// blanks, numbers as the data set renders them, DATE as "yyyymmdd" or empty).
inline std::vector<Contact> ReadContacts(const std::string& path) {
  std::vector<Contact> rows;
  TSorrelDataSet table;
  table.SetTableName(path);
  table.Open();
  for (table.First(); !table.Eof(); table.Next()) {
    Contact row;
    for (int i = 0; i < table.FieldCount(); ++i) {
      TField* f = table.Fields().Items(i);
      std::string text;
      if (f->DataType() == TFieldType::ftDate) {
        text = f->IsNull() ? "" : DBFDate().DTOS(DateTimeToJulian(f->AsDateTime()));
      } else {
        text = f->AsString();
        while (!text.empty() && text.back() == ' ') text.pop_back();
      }
      row[f->FieldName()] = text;
    }
    rows.push_back(std::move(row));
  }
  table.Close();
  return rows;
}

// A new, empty logbook of the main window's layout at `path`.
inline void MakeLogbook(const std::string& path, const std::vector<Contact>& contacts = {}) {
  ASSERT_TRUE(quillmere::CreateLogbookTable(path, quillmere::LogbookFieldLines(), {}));
  AppendContacts(path, contacts);
}

}  // namespace core_test
