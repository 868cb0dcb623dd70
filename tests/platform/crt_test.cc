// The phone's C runtime: phone paths in the ANSI code page opened as
// standard-I/O streams, each mode doing what the C library's does; the cases
// are in data/platform/crt.tsv (faults: faults_test.cc).
#include "platform/crt.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "device_fixture.h"
#include "tables.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class CrtTest : public DeviceTest {
 protected:
  fs::path Temp(const std::string& name) const {
    return fs::canonical(fs::path(dir()) / "fs" / "Temp") / name;
  }
};

// The cases of data/platform/crt.tsv.
class CrtTableTest : public CrtTest, public testing::WithParamInterface<tables::Row> {};

TEST_P(CrtTableTest, OpensAsTheTableSays) {
  const tables::Row& row = GetParam();
  errno = 0;
  if (row.at(0) == "refused") {
    ASSERT_EQ(mkfifo(Temp("pipe").c_str(), 0600), 0);
    EXPECT_EQ(crt::fopen(row.at(1).c_str(), row.at(2).c_str()), nullptr);
    EXPECT_EQ(errno, std::stoi(row.at(3)));
    return;
  }
  const std::string &before = row.at(2), &readBack = row.at(4), &after = row.at(5);
  if (before != "-") std::ofstream(Temp("f.txt"), std::ios::binary) << before;
  std::FILE* file =
      crt::fopen(before != "-" ? "\\TEMP\\F.TXT" : "\\Temp\\f.txt", row.at(1).c_str());
  EXPECT_EQ(file == nullptr ? errno : 0, std::stoi(row.at(6)));
  if (file != nullptr) {
    EXPECT_GE(std::fputs(row.at(3).c_str(), file), 0);
    EXPECT_EQ(std::fflush(file), 0);
    if (readBack != "-") {
      ASSERT_EQ(std::fseek(file, 0, SEEK_SET), 0);
      std::string back;
      for (int b; (b = std::fgetc(file)) != EOF;) back.push_back(static_cast<char>(b));
      EXPECT_EQ(back, readBack);
    }
    std::fclose(file);
  }
  EXPECT_EQ(fs::exists(Temp("f.txt")) ? Slurp(Temp("f.txt")) : "-", after);
}

INSTANTIATE_TEST_SUITE_P(Table, CrtTableTest, testing::ValuesIn(tables::Read("crt.tsv")));

TEST_F(CrtTest, AnAnsiNameBecomesItsUtf8HostName) {
  std::FILE* file = crt::fopen("\\Temp\\caf\xe9 \x80.txt", "w");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_TRUE(fs::exists(Temp("café €.txt")));
}

}  // namespace
