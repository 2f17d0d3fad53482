// second_logbook_program: another program working on the same logbook as the window under test.
//
//   second_logbook_program hold PATH            opens the logbook shared, writes "ready", and holds
//                                              it open until its standard input ends
//   second_logbook_program log PATH CALL BAND   logs one contact as the logbook program does (its
//                                              tags kept current) and writes the NUMBER it got
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>

#include "dataset/Sorl6db.h"
#include "clock_time.h"
#include "contact_entry.h"
#include "logbook_fileset.h"

using namespace quillmere;

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  try {
    TSorrelDataSet dbf1;
    dbf1.SetTableName(argv[2]);
    if (mode == "hold" && argc == 3) {
      dbf1.Open();
      std::printf("ready\n");
      std::fflush(stdout);
      char c;
      while (read(0, &c, 1) > 0) {
      }
      return 0;
    }
    if (mode == "log" && argc == 5) {
      dbf1.SetIndexFiles({LogbookIndexPath(argv[2])});
      dbf1.SetIndexName("DATE");
      dbf1.Open();
      TContactEntry entry;
      entry.Station = argv[3];
      entry.Band = argv[4];
      entry.Sent = entry.Received = "59";
      entry.Mode = "CW";
      const TLoggedContact logged = LogContact(dbf1, argv[2], entry, EncodeDateTime({2030, 1, 1, 12, 0}));
      std::printf("%lld\n", static_cast<long long>(logged.Number));
      return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "second_logbook_program: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: %s hold PATH | log PATH CALL BAND\n", argv[0]);
  return 2;
}
