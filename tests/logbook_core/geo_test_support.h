// Shared helpers of the country-file, look-up and tally tests: the program folder the build
// filled (cty.dat, the reference tables), a temporary folder per test, and one loaded country
// file for the whole run.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "country_file.h"
#include "base/hx6_disk.h"

namespace geo_test {

// The program folder of the build under test: QM_TEST_BIN_DIR (set by ctest), else the folder of
// the test program, which the build puts there too.
inline std::string BinDir() {
  const char* dir = std::getenv("QM_TEST_BIN_DIR");
  if (dir != nullptr && *dir != '\0') return dir;
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

inline std::string CtyPath() { return BinDir() + "/cty.dat"; }

// The installed country file, loaded once.
inline std::shared_ptr<const quillmere::CountryFile> Countries() {
  static const std::shared_ptr<const quillmere::CountryFile> countries = [] {
    auto c = std::make_shared<quillmere::CountryFile>();
    std::string error;
    EXPECT_TRUE(c->Load(CtyPath(), &error)) << error;
    return c;
  }();
  return countries;
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "geo_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    HXO_DiskFile::CloseAllFiles();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Put(const std::string& name, const std::string& content) const {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::string dir_;
};

}  // namespace geo_test
