// The preferences file: reading with repairs, the eleven CR LF lines written back atomically, the
// power cut to four characters, and Configure's position check.
#include "preferences.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "atomic_file.h"
#include "call_book_drives.h"

using namespace quillmere;

namespace {

class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "prefs-XXXXXX").string();
    path_ = ::mkdtemp(templ.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

const std::string kGood =
    "W1AW\r\nFN31\r\n41.7\r\n-72.7\r\n-5\r\nAUTODXYES\r\nmylog.dbf\r\n2\r\nAUTOSPEECHNO\r\nF:/\r\nPOWER100\r\n";

}  // namespace

TEST(Preferences, ParsesEveryLineAndWritesThemBackByteForByte) {
  const TPreferencesRead read = ParsePreferences(kGood, DefaultPreferences());
  EXPECT_TRUE(read.Problems.empty());
  EXPECT_EQ(read.Prefs[plOwnCall], "W1AW");
  EXPECT_EQ(read.Prefs[plUtcHours], "-5");
  EXPECT_EQ(read.Prefs[plDefaultLog], "mylog.dbf");
  EXPECT_EQ(read.Prefs[plPower], "POWER100");
  EXPECT_EQ(PreferencesText(read.Prefs), kGood);
  // LF-only files and extra lines are read too; the writer always gives eleven CR LF lines.
  std::string lf = kGood;
  for (size_t p; (p = lf.find('\r')) != std::string::npos;) lf.erase(p, 1);
  EXPECT_EQ(ParsePreferences(lf + "extra\n", DefaultPreferences()).Prefs, read.Prefs);
}

TEST(Preferences, DamagedFilesTakeTheDeliveredValuesAndSaySoOnce) {
  const TPreferences d = DefaultPreferences();
  struct Case {
    std::string text;
    TPreferenceLine line;
    std::string expected;
    size_t problems;
  } cases[] = {
      // A short file: missing lines are empty texts, except the two numbers; one problem for all.
      {"W1AW\r\nFN31\r\n", plUtcHours, d[plUtcHours], 1},
      {"W1AW\r\nFN31\r\n", plBandLimit, d[plBandLimit], 1},
      {"W1AW\r\nFN31\r\n", plPower, "", 1},
      {"W1AW\r\nFN31\r\n", plDefaultLog, "", 1},
      {"W1AW\r\nFN31\r\n", plOwnCall, "W1AW", 1},
      {"", plAutoSpeech, "", 1},
      {"", plUtcHours, d[plUtcHours], 1},
      // Ten lines: no power is made up (it would be logged with every contact).
      {"A\r\nB\r\n1\r\n2\r\n3\r\nX\r\nlog.dbf\r\n3\r\nY\r\nZ\r\n", plPower, "", 1},
      {"A\r\nB\r\n1\r\n2\r\n3\r\nX\r\nlog.dbf\r\n3\r\nY\r\nZ\r\n", plBandLimit, "3", 1},
      // Six lines: speech and the default logbook are not switched on from the delivered file.
      {"A\r\nB\r\n1\r\n2\r\n3\r\nX\r\n", plAutoSpeech, "", 1},
      {"A\r\nB\r\n1\r\n2\r\n3\r\nX\r\n", plDefaultLog, "", 1},
      {"A\r\nB\r\n1\r\n2\r\n3\r\nX\r\n", plBandLimit, d[plBandLimit], 1},
      {"A\r\nB\r\n1\r\n2\r\n3\r\nX\r\n", plUtcHours, "3", 1},
      {"A\r\nB\r\n1\r\n2\r\nfive\r\nX\r\n\r\n3\r\n", plUtcHours, d[plUtcHours], 2},
      {"A\r\nB\r\n1\r\n2\r\n\r\nX\r\n\r\n3\r\nY\r\nZ\r\nP\r\n", plUtcHours, d[plUtcHours], 1},   // empty line 5
      {"A\r\nB\r\n1\r\n2\r\n25\r\nX\r\n\r\n3\r\nY\r\nZ\r\nP\r\n", plUtcHours, d[plUtcHours], 1},  // beyond a day
      {"A\r\nB\r\n1\r\n2\r\n-24\r\nX\r\n\r\n3\r\nY\r\nZ\r\nP\r\n", plUtcHours, "-24", 0},
      {"A\r\nB\r\n1\r\n2\r\n 3 \r\nX\r\n\r\n3\r\nY\r\nZ\r\nP\r\n", plUtcHours, " 3 ", 0},
      {"A\r\nB\r\n1\r\n2\r\n3\r\nX\r\n\r\nEXTRA\r\nY\r\nZ\r\nP\r\n", plBandLimit, d[plBandLimit], 1},
      {"A\r\nB\r\n1\r\n2\r\n3\r\nX\r\n\r\n8\r\nY\r\nZ\r\nP\r\n", plBandLimit, d[plBandLimit], 1},
      {"A\r\nB\r\n1\r\n2\r\n3\r\nX\r\n\r\n\r\nY\r\nZ\r\nP\r\n", plBandLimit, "", 0},  // empty: keep the form's
      {"A\r\nB\r\n1\r\n2\r\n3\r\nX\r\n\r\n0\r\nY\r\nZ\r\nP\r\n", plBandLimit, "0", 0},
  };
  for (const Case& c : cases) {
    const TPreferencesRead read = ParsePreferences(c.text, d);
    EXPECT_EQ(read.Prefs[c.line], c.expected) << c.text;
    EXPECT_EQ(read.Problems.size(), c.problems) << c.text;
    EXPECT_TRUE(read.MayWriteBack);
  }
}

TEST(Preferences, MissingAndUnreadableFiles) {
  TempDir dir;
  const TPreferencesRead missing = ReadPreferences(dir.File(kPreferencesFile), DefaultPreferences());
  EXPECT_EQ(missing.Prefs, DefaultPreferences());
  ASSERT_EQ(missing.Problems.size(), 1u);
  EXPECT_TRUE(missing.MayWriteBack);  // nothing to lose: the close writes a complete file

  // A folder where the file should be cannot be read; writing over it must not be tried.
  std::filesystem::create_directory(dir.File(kPreferencesFile));
  const TPreferencesRead folder = ReadPreferences(dir.File(kPreferencesFile), DefaultPreferences());
  EXPECT_FALSE(folder.MayWriteBack);
  EXPECT_EQ(folder.Problems.size(), 1u);
}

TEST(Preferences, DeliveredFileHoldsTheBuiltInDefaults) {
  const char* source = std::getenv("QM_TEST_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  const std::string delivered = ReadAll(std::string(source) + "/data/ConfigLog.cfg");
  EXPECT_EQ(delivered, PreferencesText(DefaultPreferences()));
  const TPreferencesRead read = ParsePreferences(delivered, TPreferences{});
  EXPECT_TRUE(read.Problems.empty());
  EXPECT_TRUE(CheckPosition(read.Prefs[plLatitude], read.Prefs[plLongitude]).Result == TPositionCheck::Accepted);
}

TEST(Preferences, PowerIsTrimmedWhenWrittenAndCutToFourWhenRead) {
  EXPECT_EQ(PowerLine("  100 "), "POWER100");
  EXPECT_EQ(PowerFromLine(PowerLine("  100 ")), "100");
  EXPECT_EQ(PowerFromLine("POWER12345"), "1234");
  EXPECT_EQ(PowerFromLine("POWER"), "");
  EXPECT_EQ(PowerFromLine(""), "");
  EXPECT_EQ(CallBookDriveIndex("D:/"), 0);
  EXPECT_EQ(CallBookDriveIndex("I:/"), 5);
  EXPECT_EQ(CallBookDriveIndex("d:/"), -1);
  EXPECT_EQ(CallBookDriveIndex("J:/"), -1);
}

// The call-book drive box offers the file systems mounted where removable media go, the drive of
// the preferences first; the delivered drive is a folder such a system can have.
TEST(Preferences, CallBookDrivesAreMountedFileSystemsOrAFolderTypedIn) {
  const std::string table =
      "sysfs /sys sysfs rw 0 0\n"
      "/dev/sda1 / ext4 rw 0 0\n"
      "/dev/sr0 /media/cdrom0 iso9660 ro 0 0\n"
      "/dev/sdb1 /media/ham/CALL\\040BOOK vfat rw 0 0\n"   // a blank in the label
      "/dev/sdc1 /run/media/ham/STICK vfat rw 0 0\n"
      "/dev/sdd1 /mnt ext4 rw 0 0\n"
      "/dev/sr0 /media/cdrom0 iso9660 ro 0 0\n"              // listed twice
      "tmpfs /run tmpfs rw 0 0\n"
      "/dev/sde1 /mediaX ext4 rw 0 0\n"                      // not under /media
      "/dev/sdf1 /run/media vfat rw 0 0\n"
      "broken-line\n";
  const std::vector<std::string> mounted = RemovableMountPoints(table);
  EXPECT_EQ(mounted, (std::vector<std::string>{"/media/cdrom0/", "/media/ham/CALL BOOK/", "/run/media/ham/STICK/", "/mnt/"}));
  EXPECT_TRUE(RemovableMountPoints("").empty());
  EXPECT_TRUE(MountedCallBookDrives("/nonexistent/mounts").empty());

  EXPECT_EQ(CallBookDriveChoices("/media/cdrom0/", mounted), mounted);
  EXPECT_EQ(CallBookDriveChoices("D:/", {"/mnt/"}), (std::vector<std::string>{"D:/", "/mnt/"}));  // kept as stored
  EXPECT_EQ(CallBookDriveChoices("", {"/mnt/"}), std::vector<std::string>{"/mnt/"});
  EXPECT_EQ(CallBookDriveChoices("", {}), std::vector<std::string>{kDefaultCallBookDrive});
  EXPECT_EQ(DefaultPreferences()[plCallBookDrive], kDefaultCallBookDrive);
  EXPECT_EQ(std::string(kDefaultCallBookDrive).front(), '/');
  // The delivered drive is what the box lists for a CD mounted at Debian's usual place.
  EXPECT_EQ(RemovableMountPoints("/dev/sr0 /media/cdrom iso9660 ro 0 0\n"),
            std::vector<std::string>{kDefaultCallBookDrive});
}

TEST(Preferences, CodePageBytesComeBackAsTheyWereRead) {
  // A file carried over from the original system holds CP1252 text.
  const std::string text =
      "M\xDCLLER\r\nJO31\r\n51.2\r\n6.8\r\n1\r\nAUTODXNO\r\nM\xFCller.dbf\r\n0\r\nAUTOSPEECHNO\r\n"
      "E:/\r\nPOWER\xB5W\r\n";
  const TPreferencesRead read = ParsePreferences(text, DefaultPreferences());
  EXPECT_TRUE(read.Problems.empty());
  EXPECT_EQ(read.Prefs[plDefaultLog], "M\xFCller.dbf");
  EXPECT_EQ(PowerFromLine(read.Prefs[plPower]), "\xB5W");
  EXPECT_EQ(PreferencesText(read.Prefs), text);
}

TEST(Preferences, ALinkedFileIsWrittenThroughItsLink) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("kept"));
  const std::string target = dir.File("kept/ConfigLog.cfg");
  WriteAll(target, "old");
  const std::string link = dir.File(kPreferencesFile);
  // A relative link, resolved from the link's own folder, through a second link.
  std::filesystem::create_symlink("kept/ConfigLog.cfg", dir.File("inner.cfg"));
  std::filesystem::create_symlink("inner.cfg", link);
  TPreferences prefs = DefaultPreferences();
  prefs[plOwnCall] = "K1ABC";
  std::string error;
  ASSERT_TRUE(WritePreferences(link, prefs, &error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("inner.cfg")));
  EXPECT_EQ(ReadAll(target), PreferencesText(prefs));
  EXPECT_EQ(ReadAll(link), PreferencesText(prefs));

  // A link whose file does not exist yet: the file is made where it points.
  std::filesystem::create_symlink("kept/later.cfg", dir.File("dangling.cfg"));
  ASSERT_TRUE(WritePreferences(dir.File("dangling.cfg"), prefs, &error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("dangling.cfg")));
  EXPECT_EQ(ReadAll(dir.File("kept/later.cfg")), PreferencesText(prefs));

  // A loop of links is not followed round (the file cannot be read, so it is never written).
  std::filesystem::create_symlink("loop-b", dir.File("loop-a"));
  std::filesystem::create_symlink("loop-a", dir.File("loop-b"));
  EXPECT_EQ(SymbolicLinkTarget(dir.File("loop-a")), dir.File("loop-a"));
  EXPECT_EQ(SymbolicLinkTarget(target), target);
}

TEST(Preferences, WrittenAtomicallyOverTheOldFile) {
  TempDir dir;
  const std::string path = dir.File(kPreferencesFile);
  WriteAll(path, "old");
  ::chmod(path.c_str(), 0640);
  TPreferences prefs = DefaultPreferences();
  prefs[plOwnCall] = "K1ABC";
  std::string error;
  ASSERT_TRUE(WritePreferences(path, prefs, &error)) << error;
  EXPECT_EQ(ReadAll(path), PreferencesText(prefs));
  struct stat st {};
  ::stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // the old file's permissions stay
  // Nothing is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

  // A failed replace leaves the old content and no temporary file behind.
  const std::string blocked = dir.File("blocked");
  std::filesystem::create_directories(blocked + "/inside");
  EXPECT_FALSE(WriteFileAtomically(blocked, "new", &error));
  EXPECT_NE(error.find("blocked"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(blocked + "/inside"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
  EXPECT_FALSE(WriteFileAtomically(dir.File("no/such/folder/file"), "x", &error));
}

TEST(Preferences, ConfigureAcceptsAndRefusesPositions) {
  const std::string latLetters =
      "Cannot save.  Latitude must be non-alphanumeric and must be in range -90.0 to 90.0  . ";
  const std::string lonLetters =
      "Cannot save.  Longitude must be non-alphanumeric and must be in range -180.0 to 180.0  . ";
  const std::string latRange = "Cannot save.  Latitude must be in range -90.0 to 90.0  .";
  const std::string lonRange = "Cannot save.  Longitude must be in range -180.0 to 180.0  .";
  struct Case {
    const char *lat, *lon;
    TPositionCheck::TResult result;
    std::string message;
  } cases[] = {
      {"90", "0", TPositionCheck::Accepted, ""},
      {"-90", "-180", TPositionCheck::Accepted, ""},
      {"+45.5", "180", TPositionCheck::Accepted, ""},
      {" 12.5 ", "0", TPositionCheck::Accepted, ""},
      {"90.01", "0", TPositionCheck::Refused, latRange},
      {"-90.5", "0", TPositionCheck::Refused, latRange},
      {"45N", "0", TPositionCheck::Refused, latLetters},
      {"45n", "0", TPositionCheck::Refused, latLetters},
      {"", "0", TPositionCheck::Refused, latLetters},
      {"1e1", "0", TPositionCheck::Refused, latLetters},
      {"45", "", TPositionCheck::Refused, lonLetters},
      {"45", "72W", TPositionCheck::Refused, lonLetters},
      {"45", "180.5", TPositionCheck::Refused, lonRange},
      {"95", "x", TPositionCheck::Refused, lonLetters},  // both letter tests before the ranges
      {"1.2.3", "0", TPositionCheck::NotANumber, "'1.2.3' is not a valid floating point value"},
      {"-", "0", TPositionCheck::NotANumber, "'-' is not a valid floating point value"},
      {"45", "+-5", TPositionCheck::NotANumber, "'+-5' is not a valid floating point value"},
  };
  for (const Case& c : cases) {
    const TPositionCheck check = CheckPosition(c.lat, c.lon);
    EXPECT_EQ(check.Result, c.result) << c.lat << " " << c.lon;
    EXPECT_EQ(check.Message, c.message) << c.lat << " " << c.lon;
  }
}
