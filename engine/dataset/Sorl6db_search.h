// Sorl6db_search: the index, search and pack operations the logbook calls on a TSorrelDataSet.
//
// They select, open, build and rebuild index tags, seek a key in the master tag, find records by
// field values (Locate, Lookup) and pack the table, each leaving the data set's view on the record
// the operation reached. They work through the data set's public interface and its handler; the
// view moves by bookmark (BeforeScroll, the window re-read around the record, AfterScroll).
//
// Keys are compared as the table stores the text: neither a seek key nor a range key is
// converted to another code page, as field text never is.
//
// Thread-safety: none; the data set's thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/dbfield.h"

class DBFObject;
class TSorrelDataSet;

// The handler's search behind Locate and Lookup: the first record whose fields (';'-separated)
// hold the values becomes the handler's current record, read into its record pointer; true then.
bool SorrelSearch(DBFObject& handler, std::string_view keyFields,
                  const std::vector<TVarValue>& keyValues, bool partialKey, bool caseInsensitive);

// Splits an index-file list: names separated by blanks, ',' or ';'; text in double quotes kept
// whole without its quotes; names trimmed; empty names dropped.
std::vector<std::string> SorrelSplitIndexList(std::string_view list);

// The bookmark of a record number: a length byte and the digits, 11 bytes in all.
std::string SorrelBookmarkOf(int32_t record);

// The tags over all open index files, numbered from 1 in the handler's order: their count, and
// the name and key expression of tag n (empty outside 1..count or on a closed data set).
int SorrelTagCount(const TSorrelDataSet& dataSet);
std::string SorrelTagName(const TSorrelDataSet& dataSet, int n);
std::string SorrelTagExpression(const TSorrelDataSet& dataSet, int n);

// CheckActive (refused while an index is built), then IndexName := tag.
void SelectIndexTag(TSorrelDataSet& dataSet, std::string_view tag);
// Leaves edit mode, marks the index definitions out of date, opens the listed files and selects
// the tag.
void OpenIndexList(TSorrelDataSet& dataSet, std::string_view list, std::string_view tag);
// Builds a tag through the handler (format by the file's extension) with the data set's controls
// disabled; on every path the controls are enabled again and the data set's index files and
// index name are opened and selected again, so that later posts keep every tag current. Then the
// view goes to the first record. Errors of the build pass through after that clean-up.
void BuildIndexTag(TSorrelDataSet& dataSet, std::string_view fileName, std::string_view tagName,
                   std::string_view keyExpression, std::string_view forExpression, int option,
                   int order);
// Leaves edit mode and rebuilds every open index file.
void RebuildIndexes(TSorrelDataSet& dataSet);
// Seeks `key` in the master tag: with `exact` the whole key must match, else a key beginning with
// it does; with `near` a miss stays on the next key. Raises "No index is assigned for Find
// operation" without a master tag; false without moving on an empty table. Found, or a near miss
// before the end: the view shows that record. Otherwise the view goes to the last record.
bool SeekIndexKey(TSorrelDataSet& dataSet, std::string_view key, bool exact, bool near);
// Leaves edit mode, packs (exclusive access only), goes to the first record.
void PackTable(TSorrelDataSet& dataSet);
// Finds the first record whose fields (';'-separated) hold the values, through a tag whose key
// begins with those fields or else by a scan; options loCaseInsensitive and loPartialKey. Found:
// the view shows it, true. Not found: the cursor stays, false.
bool SorrelLocate(TSorrelDataSet& dataSet, std::string_view keyFields,
                  const std::vector<TVarValue>& keyValues, uint8_t options);
// Master/detail. The detail data set follows its MasterSource through its master tag: the key
// is the tag's key expression evaluated on a scratch record holding the master's MasterFields
// values in the tag's first fields. Raises "Master/Detail relation failed, no index open for %s"
// without a master tag and "Master/Detail relation failed, field missmatch for %s" when the tag
// has fewer fields than MasterFields names (the table name in both). While the master inserts a
// record the key is the one-character text with code 1, which no detail key equals.
std::string SorrelMasterKey(TSorrelDataSet& detail);
// The master's record changed: when the master is open and not empty, the detail's range becomes
// that one key (unless the master inserts) and the detail goes to its first record.
void SorrelMasterChanged(TSorrelDataSet& detail);
// The master link was disabled: the range is removed and the detail goes to its first record.
void SorrelMasterDisabled(TSorrelDataSet& detail);
// Applies the range for the master's current record without moving the detail's view (at open
// and after the index name changes). Nothing without a master source.
void SorrelApplyMasterRange(TSorrelDataSet& detail);

// TSorrelDataSet::Lookup: the same search with both options off, into the scratch buffer; the
// values of `resultFields` (';'-separated: one value, or the values joined by ';' as text) of the
// found record with its calculated fields, or null. The view, its window and the links are left
// as they were.
TVarValue SorrelLookup(TSorrelDataSet& dataSet, std::string_view keyFields,
                       const std::vector<TVarValue>& keyValues, std::string_view resultFields);
