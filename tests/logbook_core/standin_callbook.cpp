// A stand-in for the outside call-book library, built only for the tests: it exports the three
// functions the call-book window binds and serves records from files, so tests drive the whole
// path through dlopen with exactly the bytes they want.
//
// The data folder (the `folder` argument) holds one file per call, named after the call with
// ".rec" appended, whose bytes are copied into the record buffer as they are: at most 501 bytes,
// with a terminating zero only when the file is shorter, so a test can hand back an unterminated
// buffer. A call without a file gives error 5. The optional file "format" holds the two format
// errors as decimal numbers; a folder that does not exist gives format error 1 = 3.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int calls = 0;

bool IsFolder(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

extern "C" {

void pGetVersionNr(uint16_t* version) {
  ++calls;
  *version = 412;
}

void pCheckDatabaseFormat(uint16_t* error1, uint16_t* error2, const char* folder) {
  ++calls;
  *error1 = 0;
  *error2 = 0;
  if (!IsFolder(folder)) {
    *error1 = 3;
    return;
  }
  if (FILE* f = std::fopen((std::string(folder) + "/format").c_str(), "r")) {
    unsigned a = 0, b = 0;
    if (std::fscanf(f, "%u %u", &a, &b) == 2) {
      *error1 = static_cast<uint16_t>(a);
      *error2 = static_cast<uint16_t>(b);
    }
    std::fclose(f);
  }
}

void pGetCallInfo(uint16_t* error, char* record, const char* call, const char* folder) {
  ++calls;
  // The call must arrive terminated within the 7-byte buffer the caller owns.
  if (std::strlen(call) > 6) {
    *error = 99;
    return;
  }
  FILE* f = std::fopen((std::string(folder) + "/" + call + ".rec").c_str(), "rb");
  if (f == nullptr) {
    *error = 5;
    std::memset(record, 'X', 501);  // garbage a caller must not take as a record
    return;
  }
  const size_t n = std::fread(record, 1, 501, f);
  std::fclose(f);
  if (n < 501) record[n] = '\0';
  *error = 0;
}

// Not part of the library's contract: how many times the functions above were called.
int StandInCallCount() { return calls; }

}  // extern "C"
