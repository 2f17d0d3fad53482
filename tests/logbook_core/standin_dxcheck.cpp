// A stand-in for an outside DX look-up library, built only for the tests: DDXCheck answers
// "Wales" for calls beginning with GW and the call itself in brackets otherwise, from a buffer
// the library owns, so tests can tell its answers from the built-in component's.
#include <cstring>
#include <string>

extern "C" const char* DDXCheck(const char* call) {
  static std::string answer;
  if (std::strncmp(call, "GW", 2) == 0)
    answer = "Wales";
  else
    answer = "[" + std::string(call) + "]";
  return answer.c_str();
}
