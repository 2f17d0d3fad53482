// The table creator component.
#include "dataset/Sorl6db_creator.h"

#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_alias.h"
#include "base/hx6_glbl.h"

bool TCreateSorrelDataSet::CreateTable() {
  if (dbfTable_ == nullptr) throw EDatabaseError(smTableNotAssigned);
  if (dbfTable_->Active()) throw EDatabaseError(smTableIsOpen);
  // Without a name the builder would write a file called ".DBF" that the data set then cannot
  // open: refuse before anything is written, with the data set's own message.
  if (dbfTable_->TableName().find_first_not_of(' ') == std::string::npos)
    throw EDatabaseError(smTableNameMissing);
  const std::string path = ResolveDatabaseName(dbfTable_->DatabaseName()) + dbfTable_->TableName();
  if (!SorrelCreateTableFile(path, createFields_, dbfType_, autoOverwrite_, ConfirmOverwrite))
    return false;
  dbfTable_->Open();
  return true;
}
