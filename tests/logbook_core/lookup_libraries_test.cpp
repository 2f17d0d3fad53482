// The DX look-up and the call book: our own DX component over the country file, the outside
// libraries bound through dlopen (the stand-ins built for these tests), the call-book record cut
// into fields, and the window logic with its refusals and texts. Nothing here needs a library to
// be present for the logbook to work.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "call_book.h"
#include "ct_convert.h"
#include "dx_check.h"
#include "entity_list.h"
#include "geo_test_support.h"
#include "number_text.h"

namespace {

using namespace quillmere;
namespace fs = std::filesystem;

TEST(DXCheckTest, OwnComponentAnswersNamesTheListAndTheCountryFileKnow) {
  CountryFileDXCheck dx(geo_test::Countries());
  TCTConvertLogic ct;
  ASSERT_EQ(ct.FormCreate(geo_test::CtyPath()), "");
  struct Case {
    const char* call;
    const char* answer;
  };
  for (const Case& c : {Case{"JA1ABC", "Japan"}, Case{"ja1abc", "Japan"}, Case{"3D2AB", "Fiji"},
                        Case{"3D2CR", "Conway Reef"},           // exact call beats the prefix 3D2
                        Case{"9M2/PG5M", "Spratly Is."},        // exact call, answered in list spelling
                        Case{"9M2ABC", "West Malaysia"}, Case{"3A2XX", "Monoco"}, Case{"OD5AB", "lebanon"},
                        Case{"PJ2ABC", "Netherlands Antilles"}, Case{"W1AW", "United States"},
                        Case{"KH6XYZ", "Hawaii"}, Case{"GW4ABC", "Wales"}, Case{"VP2EAB", "Anguilla"},
                        Case{"K1ABC/KH6", "Hawaii"}, Case{"VE3/W1AW", "Canada"}, Case{"W1AW/P", "United States"},
                        Case{"K1ABC/MM", ""}, Case{"W1AW/AM", ""},
                        Case{"", ""}, Case{"Q1ABC", ""}}) {
    SCOPED_TRACE(c.call);
    const std::string answer = dx.Check(c.call);
    EXPECT_EQ(answer, c.answer);
    if (answer.empty()) continue;
    // The answer drives the prefix look-up and the bearing: both must know it.
    EXPECT_NE(FindEntityPrefix(answer), "");
    EXPECT_TRUE(ct.Button5Click(answer, "41.7", "-72.7").found);
  }
}

TEST(DXCheckTest, HandOverOnlyWhenTheAnswerChanges) {
  TDXStuffLogic dx(std::make_unique<CountryFileDXCheck>(geo_test::Countries()));
  std::vector<std::string> handed;
  const std::string call = "ja1abc";
  for (size_t n = 1; n <= call.size(); ++n)
    if (auto h = dx.Button1Click(call.substr(0, n))) {
      EXPECT_EQ(h->panel3, dx.Edit2);
      EXPECT_EQ(h->edit8, dx.Edit2);
      EXPECT_EQ(h->logEdit8, dx.Edit2);
      handed.push_back(h->panel3);
    }
  ASSERT_FALSE(handed.empty());
  EXPECT_EQ(handed.back(), "Japan");
  for (size_t i = 1; i < handed.size(); ++i) EXPECT_NE(handed[i], handed[i - 1]);
  EXPECT_EQ(dx.Edit1, "JA1ABC");
  // The same answer again hands nothing over, so a QTH typed since stays.
  EXPECT_FALSE(dx.Button1Click("JA2XYZ").has_value());
  auto cleared = dx.Button1Click("");
  ASSERT_TRUE(cleared.has_value());
  EXPECT_EQ(cleared->edit8, "");
}

TEST(DXCheckTest, OutsideLibraryWhenItLoadsElseOurOwnComponent) {
  std::string note;
  auto library = MakeDXCheck(QM_STANDIN_DXCHECK, geo_test::Countries(), &note);
  EXPECT_EQ(note, "");
  EXPECT_EQ(library->Check("GW4ABC"), "Wales");
  EXPECT_EQ(library->Check("ja1abc"), "[JA1ABC]");
  // The library's buffer holds 199 characters and the terminator.
  EXPECT_EQ(library->Check(std::string(300, 'K')), "[" + std::string(199, 'K') + "]");

  for (const std::string& path : {std::string("/nonexistent/VRNDX.so"), std::string(QM_STANDIN_CALLBOOK)}) {
    SCOPED_TRACE(path);
    note.clear();
    auto own = MakeDXCheck(path, geo_test::Countries(), &note);
    EXPECT_NE(note, "");
    EXPECT_EQ(own->Check("GW4ABC"), "Wales");
    EXPECT_EQ(own->Check("JA1ABC"), "Japan");
  }
  EXPECT_EQ(MakeDXCheck("", geo_test::Countries())->Check("JA1ABC"), "Japan");
}

TEST(DXCheckTest, LibraryPathsComeFromTheSettingOrTheProgramFolder) {
  char pattern[] = "/tmp/lookup_home_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  setenv("QUILLMERE_HOME", pattern, 1);
  unsetenv(kDXCheckLibraryVariable);
  unsetenv(kCallBookLibraryVariable);
  EXPECT_EQ(DXCheckLibraryPath(), "");
  EXPECT_EQ(CallBookLibraryPath(), "");
  std::ofstream(std::string(pattern) + "/raccd32a.so") << "";
  EXPECT_EQ(CallBookLibraryPath(), std::string(pattern) + "/raccd32a.so");
  setenv(kDXCheckLibraryVariable, "/opt/x/libdx.so", 1);
  EXPECT_EQ(DXCheckLibraryPath(), "/opt/x/libdx.so");
  unsetenv(kDXCheckLibraryVariable);
  unsetenv("QUILLMERE_HOME");
  fs::remove_all(pattern);
}

// A record as the library returns it: marker byte, call, then fields opened by separators.
std::string Record(const std::vector<std::pair<int, std::string>>& fields, const std::string& call = "W1AW") {
  std::string r = "\x01" + call;
  for (const auto& [sep, text] : fields) r += static_cast<char>(sep) + text;
  return r;
}

const std::vector<std::pair<int, std::string>> kFields = {
    {2, "ARRL HQ"},  {3, "225 Main St"}, {4, "x"},       {5, "06111"}, {6, "Newington"}, {7, "CT"},
    {8, ""},         {9, ""},            {10, "72.7273"}, {11, "41.7147"}, {12, ""},       {13, "Hartford"},
    {14, ""},        {15, ""},           {16, "Extra"},   {18, ""}};

std::vector<std::pair<int, std::string>> With(int sep, const std::string& text) {
  auto f = kFields;
  for (auto& [s, t] : f)
    if (s == sep) t = text;
  return f;
}
std::vector<std::pair<int, std::string>> Without(int sep) {
  auto f = kFields;
  std::erase_if(f, [&](const auto& p) { return p.first == sep; });
  return f;
}

TEST(CallBookRecordTest, FieldsBySeparators) {
  struct Case {
    const char* what;
    std::string record;
    std::vector<std::string> labels;  // 7, 8, 10, 11, 12, 13, 14, 15
  };
  std::string swapped = Record(kFields);
  std::swap(swapped[swapped.find('\x0A')], swapped[swapped.find('\x0B')]);
  std::string far = Record(With(9, std::string(320, '.')));
  const Case cases[] = {
      {"whole record", Record(kFields),
       {"W1AW", "ARRL HQ", "Newington", "06111", "Hartford County", "Extra", "72.7273", "41.7147"}},
      {"17 inside a field", Record(With(16, "Ex\x11tra")),
       {"W1AW", "ARRL HQ", "Newington", "06111", "Hartford County", "Extra", "72.7273", "41.7147"}},
      {"control bytes dropped", Record(With(2, "AR\x01RL\x1F HQ")),
       {"W1AW", "ARRL HQ", "Newington", "06111", "Hartford County", "Extra", "72.7273", "41.7147"}},
      {"one-character zip: no county", Record(With(5, "6")),
       {"W1AW", "ARRL HQ", "Newington", "6", "", "Extra", "72.7273", "41.7147"}},
      {"one-character city: no class", Record(With(6, "N")),
       {"W1AW", "ARRL HQ", "N", "06111", "Hartford County", "", "72.7273", "41.7147"}},
      {"separator missing", Record(Without(7)),
       {"W1AW", "ARRL HQ", "", "06111", "Hartford County", "", "72.7273", "41.7147"}},
      // 11 now comes before 10: 10-11 is empty, 11-12 runs over the displaced 10.
      {"separators out of order", swapped,
       {"W1AW", "ARRL HQ", "Newington", "06111", "Hartford County", "Extra", "", "72.727341.7147"}},
      {"last occurrence counts", Record(kFields) + "\x02" + "late",
       {"W1AWARRL HQ225 Main Stx06111NewingtonCT72.727341.7147HartfordExtra", "", "Newington", "06111",
        "Hartford County", "Extra", "72.7273", "41.7147"}},
      {"separators beyond 301 bytes", far,
       {"W1AW", "ARRL HQ", "Newington", "06111", " County", "", "", ""}},
      {"no separators", "\x01W1AW only", {"", "", "", "", "", "", "", ""}},
      {"empty", "", {"", "", "", "", "", "", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CallBookRecord r = ParseCallBookRecord(c.record.c_str(), c.record.size() + 1);
    EXPECT_EQ((std::vector<std::string>{r.label7, r.label8, r.label10, r.label11, r.label12, r.label13,
                                        r.label14, r.label15}),
              c.labels);
    for (char ch : r.text) EXPECT_GE(static_cast<unsigned char>(ch), 32);
  }
  // Only `size` bytes are read when no terminator comes.
  const std::string full = Record(kFields) + std::string(600, 'Z');
  EXPECT_EQ(ParseCallBookRecord(full.data(), 501).text.size(), 501u - 17u);
  EXPECT_EQ(ParseCallBookRecord(nullptr, 10).label7, "");
}

class CallBookTest : public geo_test::TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    std::string error;
    auto library = CallBookLibrary::Open(QM_STANDIN_CALLBOOK, &error);
    ASSERT_NE(library, nullptr) << error;
    rac_ = std::make_unique<TRACLogic>(std::move(library));
    counter_ = SharedLibrary::Open(QM_STANDIN_CALLBOOK, &error);
    ASSERT_NE(counter_, nullptr);
    Put("W1AW.rec", Record(kFields));
  }
  int Calls() const { return reinterpret_cast<int (*)()>(counter_->Symbol("StandInCallCount"))(); }

  std::unique_ptr<TRACLogic> rac_;
  std::unique_ptr<SharedLibrary> counter_;
};

TEST_F(CallBookTest, FindAndGetThroughTheLibrary) {
  EXPECT_EQ(rac_->LookUp("W1AW", dir_, CallBookAction::Find).phrase, "");
  EXPECT_EQ(rac_->Label[1], "");
  EXPECT_EQ(rac_->Label[2], "OK");
  EXPECT_EQ(rac_->Label[3], "Version : 412");
  EXPECT_EQ(rac_->Label[4], "DatabaseFormat: ok.");
  EXPECT_EQ(rac_->Label[7], "W1AW");
  EXPECT_EQ(rac_->Label[12], "Hartford County");
  EXPECT_EQ(rac_->Label[14], "72.7273");
  EXPECT_EQ(rac_->Label[15], "41.7147");
  EXPECT_EQ(rac_->Button2Click(true),
            (std::vector<std::string>{"Station  W1AW     is at   ARRL HQ  ", "Newington."}));
  EXPECT_TRUE(rac_->Button2Click(false).empty());
  // The main window then takes the bearing from the bare numbers.
  TCTConvertLogic ct;
  const GeoDist g = CalcGeoDist(51.5, -0.13, 41.7147, -72.7273);
  EXPECT_EQ(ct.Button1Click(rac_->Label[14], rac_->Label[15], "51.5", "-0.13"),
            FloatToFixed(g.azimuth, 6, 2) + " \xC2\xB0@" + FloatToFixed(g.km, 6, 2) + " km");

  rac_->LookUp("W1AW", dir_, CallBookAction::Get);
  EXPECT_EQ(rac_->Label[14], "72.7273 Lon.");
  EXPECT_EQ(rac_->Label[15], "41.7147 Lat.");
  EXPECT_EQ(rac_->Memo.substr(0, 11), "W1AWARRL HQ");
}

TEST_F(CallBookTest, FailuresShowTheLibrarysCodes) {
  rac_->LookUp("K1ABC", dir_, CallBookAction::Get);
  EXPECT_EQ(rac_->Label[1], "ErrorCode: 5 Cannot load/find information. ");
  EXPECT_EQ(rac_->Label[2], "");
  EXPECT_EQ(rac_->Label[7], "");  // whatever the library left in the buffer is not taken
  EXPECT_EQ(rac_->Label[14], " Lon.");
  EXPECT_EQ(rac_->Label[15], " Lat.");
  EXPECT_EQ(rac_->Memo, "");
  rac_->LookUp("K1ABC", dir_, CallBookAction::Find);
  EXPECT_EQ(rac_->Label[14], "");
  TCTConvertLogic ct;
  EXPECT_EQ(ct.Button1Click(rac_->Label[14], rac_->Label[15], "51.5", "-0.13"), "Cannot determine.");

  Put("format", "7 0");
  rac_->LookUp("W1AW", dir_, CallBookAction::Find);
  EXPECT_EQ(rac_->Label[5], "ErrorCode:7");
  EXPECT_EQ(rac_->Label[2], "OK");  // the look-up goes on
  Put("format", "0 2");
  rac_->LookUp("W1AW", dir_, CallBookAction::Find);
  EXPECT_EQ(rac_->Label[5], "");
  EXPECT_EQ(rac_->Label[6], "DLL does not match with CD");
  rac_->LookUp("W1AW", dir_ + "/missing", CallBookAction::Find);
  EXPECT_EQ(rac_->Label[5], "ErrorCode:3");
  EXPECT_EQ(rac_->Label[1], "ErrorCode: 5 Cannot load/find information. ");
}

TEST_F(CallBookTest, UnterminatedRecordStaysWithinItsBuffer) {
  Put("K2ZZZ.rec", Record(kFields, "K2ZZZ") + std::string(700, 'Z'));
  rac_->LookUp("K2ZZZ", dir_, CallBookAction::Find);
  EXPECT_EQ(rac_->Label[2], "OK");
  EXPECT_EQ(rac_->Label[7], "K2ZZZ");
  EXPECT_LE(rac_->Memo.size(), 500u);
}

TEST_F(CallBookTest, LongCallOrFolderIsRefusedBeforeTheLibrary) {
  const int before = Calls();
  const CallBookNotice call = rac_->LookUp("W1AWXYZ", dir_, CallBookAction::Get);
  EXPECT_EQ(call.phrase, "call sign too long for the call book. ");
  EXPECT_EQ(call.message, "Call sign too long for the call book: at most 6 characters.");
  EXPECT_EQ(rac_->Label[1], call.message);
  EXPECT_EQ(rac_->Label[14], "");
  const CallBookNotice folder = rac_->LookUp("W1AW", "/" + std::string(80, 'd'), CallBookAction::Find);
  EXPECT_EQ(folder.phrase, "call book folder name too long. ");
  EXPECT_EQ(folder.message, "Call book folder name too long: at most 80 characters.");
  EXPECT_EQ(Calls(), before);
  // Exactly at the bounds the library is asked.
  rac_->LookUp("W1AWXY", std::string(80, 'd'), CallBookAction::Find);
  EXPECT_EQ(Calls(), before + 3);
  EXPECT_EQ(rac_->Label[1], "ErrorCode: 5 Cannot load/find information. ");
}

TEST(CallBookAbsentTest, TheLogbookWorksWithoutTheLibrary) {
  std::string error;
  EXPECT_EQ(CallBookLibrary::Open("/nonexistent/raccd32a.so", &error), nullptr);
  EXPECT_NE(error, "");
  EXPECT_EQ(CallBookLibrary::Open(QM_STANDIN_DXCHECK, &error), nullptr);
  EXPECT_NE(error.find("pGetCallInfo"), std::string::npos);
  TRACLogic rac(nullptr);
  EXPECT_FALSE(rac.Available());
  const CallBookNotice notice = rac.LookUp("W1AW", "/media/cdrom", CallBookAction::Get);
  EXPECT_EQ(notice.phrase, "call book not available. ");
  EXPECT_EQ(notice.message, "");
  EXPECT_EQ(rac.Label[1], "call book not available");
  EXPECT_EQ(rac.Label[14], "");
}

}  // namespace
