// dbctrls: data-aware controls. TDBText is a label that shows one field of a data source's active
// record; TDBEdit is a line edit that shows the field and writes what the user types back into it.
// Typing puts the data set into edit state (when the source allows automatic edits); the text goes
// into the field when the edit loses focus or the data set asks its links for their pending values
// (before a post). Each control owns its data link; the data source is the caller's.
// Thread-safety: GUI thread only.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <memory>
#include <string>

#include "dataset/dblink.h"

// A link to one named field of a data source's data set, reporting what concerns that field.
class TFieldDataLink : public TDataLink {
 public:
  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(std::string name);
  // The field while the link is active, else null.
  TField* Field() const;

  std::function<void()> OnDataChange;   // the shown value may have changed
  std::function<void()> OnEditingChange;
  std::function<void()> OnUpdateData;   // write the pending value into the field now

 protected:
  void ActiveChanged() override { Notify(OnDataChange); }
  void DataSetChanged() override { Notify(OnDataChange); }
  void LayoutChanged() override { Notify(OnDataChange); }
  void RecordChanged(TField* field) override {
    if (field == nullptr || field == Field()) Notify(OnDataChange);
  }
  void EditingChanged() override { Notify(OnEditingChange); }
  void UpdateData() override { Notify(OnUpdateData); }

 private:
  static void Notify(const std::function<void()>& f) {
    if (f) f();
  }
  std::string fieldName_;
};

class TDBText : public QLabel {
  Q_OBJECT

 public:
  explicit TDBText(QWidget* parent = nullptr);
  ~TDBText() override;
  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(TDataSource* source);
  const std::string& DataField() const { return link_.FieldName(); }
  void SetDataField(std::string name);

 private:
  void ShowField();
  TFieldDataLink link_;
};

class TDBEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TDBEdit(QWidget* parent = nullptr);
  ~TDBEdit() override;
  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(TDataSource* source);
  const std::string& DataField() const { return link_.FieldName(); }
  void SetDataField(std::string name);
  // Whether the shown text differs from the field (typed but not yet written).
  bool Modified() const { return modified_; }

 signals:
  void writeFailed(const QString& message);

 private:
  void ShowField();
  void Typed(const QString& text);
  void WriteField();
  void Finished();
  TFieldDataLink link_;
  bool modified_ = false;
  bool showing_ = false;
};
