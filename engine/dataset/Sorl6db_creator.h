// Sorl6db_creator: TCreateSorrelDataSet, the component that writes a new, empty table from field
// definition lines and opens it in the TSorrelDataSet it is linked to.
//
// The table is named by the linked data set's DatabaseName and TableName. An existing table is
// replaced only with AutoOverwrite or when ConfirmOverwrite answers OK to "Table exists.  Do you
// want to overwrite?" (no confirmer: Cancel). The lines are checked whole before any file is
// written (Sorl6db_create.h).
//
// The creator owns its list of lines; the data set is linked, not owned, and must outlive the
// link. Thread-safety: none; the data set's thread only.
#pragma once

#include <string>
#include <vector>

#include "dataset/Sorl6db_create.h"

class TSorrelDataSet;

class TCreateSorrelDataSet {
 public:
  TCreateSorrelDataSet() = default;

  bool AutoOverwrite() const { return autoOverwrite_; }
  void SetAutoOverwrite(bool on) { autoOverwrite_ = on; }
  const std::vector<std::string>& CreateFields() const { return createFields_; }
  std::vector<std::string>& CreateFields() { return createFields_; }
  void SetCreateFields(std::vector<std::string> lines) { createFields_ = std::move(lines); }
  TSorrelDataSet* DBFTable() const { return dbfTable_; }
  void SetDBFTable(TSorrelDataSet* dataSet) { dbfTable_ = dataSet; }
  ThxDBFTypes DBFType() const { return dbfType_; }
  void SetDBFType(ThxDBFTypes type) { dbfType_ = type; }
  // Asked before an existing table is replaced.
  TSorrelConfirm ConfirmOverwrite;

  // Writes the table and opens DBFTable on it: true then. False when the overwrite was declined
  // or the builder wrote nothing. Refuses "A table is not assigned to this object" without a data
  // set, "Cannot perform this operation on an open table" while it is open, "Table name missing"
  // without a table name, and "Field list is invalid" for a bad list; file errors pass through.
  bool CreateTable();

 private:
  bool autoOverwrite_ = false;
  std::vector<std::string> createFields_;
  TSorrelDataSet* dbfTable_ = nullptr;
  ThxDBFTypes dbfType_ = Clipper;
};
