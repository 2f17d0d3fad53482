// Shared pieces of the handler tests: a small logbook-like table, record helpers and a handler that
// records its status reports the way the data set receives them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "table/hx6_dbf_build.h"
#include "handler/hx6_dbsy.h"
#include "base/hx6_glbl.h"
#include "table/table_images.h"

namespace handler_test {

// A handler that keeps every status report and can refuse records, as the data set's does.
class RecordingHandler : public HXO_dBHandler {
 public:
  using HXO_dBHandler::HXO_dBHandler;
  void StatusReport(int a, int b, int c) override { reports.emplace_back(a, b, c); }
  bool AcceptRecord() override {
    return refuse.empty() || GetString("STATION").rfind(refuse, 0) != 0;
  }

  std::vector<std::tuple<int, int, int>> reports;
  std::string refuse;  // stations beginning with this are refused
};

struct Contact {
  std::string station;
  double band = 20;
  std::string qth;
  bool deleted = false;
};

class HandlerTest : public table_images::TempFolder {
 protected:
  // LOG.DBF (dBase IV): STATION C 10, BAND N 6.1, QTH C 12, QSODATE D, NOTES M.
  std::string MakeLog(const std::string& name = "LOG.DBF", bool memo = true) {
    HXO_DB4Build b(PathOf(name));
    b.AddField("STATION", "C", 10, 0);
    b.AddField("BAND", "N", 6, 1);
    b.AddField("QTH", "C", 12, 0);
    b.AddField("QSODATE", "D", 8, 0);
    if (memo) b.AddField("NOTES", "M", 10, 0);
    b.CreateFiles();
    return PathOf(name);
  }

  static void Append(HXO_dBHandler& h, const Contact& c) {
    h.BlankRecord();
    h.PutText("STATION", c.station);
    h.PutFloat("BAND", c.band);
    h.PutText("QTH", c.qth);
    h.AppendRecord();
    if (c.deleted) h.DeleteRecord();
  }

  static std::string Station(HXO_dBHandler& h) {
    std::string s = h.GetString("STATION");
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }

  // Record numbers met going forward (or backward) from the top (bottom) until the end.
  static std::vector<int32_t> Walk(HXO_dBHandler& h, bool forward = true) {
    std::vector<int32_t> out;
    h.GoTo(forward ? kGotoFirst : kGotoLast);
    while (!h.Eof() && !h.Bof()) {
      out.push_back(h.RecNo());
      h.GoTo(forward ? kGotoNext : kGotoPrevious);
    }
    return out;
  }
};

}  // namespace handler_test
