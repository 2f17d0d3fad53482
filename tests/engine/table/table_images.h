// Byte images of tables and memo files for the table and memo tests, and a temporary folder.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/byteorder.h"
#include "base/hx6_disk.h"
#include "base/hx6_glbl.h"

namespace table_images {

struct Field {
  std::string name;
  char type;
  int length;
  int decimals = 0;
};

inline int RecordLength(const std::vector<Field>& fields) {
  int length = 1;
  for (const Field& f : fields) length += f.length;
  return length;
}

// A table file as the builders leave it (header, descriptors, 0x0D, the backlink area of version
// 0x30), then `records` (each RecordLength bytes, deletion byte included) and a 0x1A.
inline std::string TableImage(uint8_t version, const std::vector<Field>& fields,
                              const std::vector<std::string>& records = {},
                              uint8_t flags = 0, uint32_t headerCount = 0xFFFFFFFF) {
  const int n = static_cast<int>(fields.size());
  const int headerLength = 32 * n + 33 + (version == 0x30 ? 263 : 0);
  std::string image(static_cast<size_t>(headerLength), '\0');
  auto* h = reinterpret_cast<uint8_t*>(image.data());
  h[0] = version;
  h[1] = 99;
  h[2] = 1;
  h[3] = 2;
  EncodeLE32(h + 4, headerCount == 0xFFFFFFFF ? static_cast<uint32_t>(records.size()) : headerCount);
  EncodeLE16(h + 8, static_cast<uint16_t>(headerLength));
  EncodeLE16(h + 10, static_cast<uint16_t>(RecordLength(fields)));
  h[28] = flags;
  for (int i = 0; i < n; ++i) {
    uint8_t* d = h + 32 + 32 * i;
    const Field& f = fields[static_cast<size_t>(i)];
    std::copy(f.name.begin(), f.name.end(), d);
    d[11] = static_cast<uint8_t>(f.type);
    if (f.type == 'C') {
      d[16] = static_cast<uint8_t>(f.length % 256);
      d[17] = static_cast<uint8_t>(f.length / 256);
    } else {
      d[16] = static_cast<uint8_t>(f.length);
      d[17] = static_cast<uint8_t>(f.decimals);
    }
  }
  h[32 + 32 * n] = 0x0D;
  for (const std::string& r : records) image += r;
  image += '\x1A';
  return image;
}

// The empty memo files the table builders make.
inline std::string Memo3Image(const std::string& base) {
  std::string image(512, '\0');
  EncodeLE32(image.data(), 1);
  std::copy(base.begin(), base.begin() + static_cast<long>(std::min<size_t>(base.size(), 8)), image.begin() + 8);
  return image + '\x1A';
}
inline std::string Memo4Image(const std::string& base) {
  std::string image(24, '\0');
  EncodeLE32(image.data(), 1);
  std::copy(base.begin(), base.begin() + static_cast<long>(std::min<size_t>(base.size(), 8)), image.begin() + 8);
  image[18] = 2;
  image[19] = 1;
  EncodeLE32(image.data() + 20, 512);
  return image;
}
inline std::string MemoFoxImage() {
  std::string image(512, '\0');
  EncodeBE32(image.data(), 8);
  EncodeBE16(image.data() + 6, 64);
  return image;
}

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "table_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    HXO_DiskFile::CloseAllFiles();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }
  std::string Put(const std::string& name, const std::string& content) const {
    std::string path = PathOf(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  template <class E = ESorrelException, class Action>
  static std::string ErrorOf(Action action) {
    try {
      action();
    } catch (const E& e) {
      return e.what();
    }
    return "";
  }

  std::string dir_;
};

}  // namespace table_images
