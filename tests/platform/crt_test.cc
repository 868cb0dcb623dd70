// The phone's C runtime: phone paths in the ANSI code page opened as
// standard-I/O streams, each mode doing what the C library's does, and
// transfers that fail where a test says.
#include "platform/crt.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "device_fixture.h"
#include "platform/emulator.h"

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

TEST_F(CrtTest, EachModeReadsWritesTruncatesOrAppendsLikeTheCLibrary) {
  constexpr const char* kMissing = nullptr;
  const struct {
    const char* mode;
    const char* before;    // the file's content, or kMissing
    const char* write;     // written, then flushed
    const char* readBack;  // read from the start afterwards; nullptr: not readable
    const char* after;     // the file's content at the end, or kMissing
    int error;             // errno when the open fails
  } cases[] = {
      {"r", kMissing, "", nullptr, kMissing, ENOENT},
      {"rb", "abc", "", "abc", "abc", 0},
      {"r+", "abc", "X", "Xbc", "Xbc", 0},
      {"w", "abc", "xy", nullptr, "xy", 0},
      {"wt", kMissing, "xy", nullptr, "xy", 0},
      {"w+", "abc", "xy", "xy", "xy", 0},
      {"w+b", kMissing, "", "", "", 0},
      {"a", "abc", "de", nullptr, "abcde", 0},
      {"a+", "abc", "de", "abcde", "abcde", 0},
      {"", "abc", "", nullptr, "abc", EINVAL},
      {"x", "abc", "", nullptr, "abc", EINVAL},
      {"w+q", "abc", "", nullptr, "abc", EINVAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    fs::remove(Temp("f.txt"));
    if (c.before != kMissing) std::ofstream(Temp("f.txt"), std::ios::binary) << c.before;
    errno = 0;
    // Existing names match in any case.
    std::FILE* file = crt::fopen(c.before != kMissing ? "\\TEMP\\F.TXT" : "\\Temp\\f.txt", c.mode);
    EXPECT_EQ(file == nullptr, c.error != 0);
    if (file == nullptr) {
      EXPECT_EQ(errno, c.error);
    }
    if (file != nullptr) {
      EXPECT_EQ(std::fputs(c.write, file) >= 0, true);
      EXPECT_EQ(std::fflush(file), 0);
      if (c.readBack != nullptr) {
        ASSERT_EQ(std::fseek(file, 0, SEEK_SET), 0);
        std::string back;
        for (int b; (b = std::fgetc(file)) != EOF;) back.push_back(static_cast<char>(b));
        EXPECT_EQ(back, c.readBack);
      }
      std::fclose(file);
    }
    EXPECT_EQ(fs::exists(Temp("f.txt")), c.after != kMissing);
    if (c.after != kMissing) {
      EXPECT_EQ(Slurp(Temp("f.txt")), c.after);
    }
  }
}

TEST_F(CrtTest, AnAnsiNameBecomesItsUtf8HostNameAndOnlyRegularFilesOpen) {
  std::FILE* file = crt::fopen("\\Temp\\caf\xe9 \x80.txt", "w");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_TRUE(fs::exists(Temp("café €.txt")));

  ASSERT_EQ(mkfifo(Temp("pipe").c_str(), 0600), 0);
  const struct {
    const char* path;
    const char* mode;
    int error;
  } refused[] = {{"\\Windows", "r", EISDIR},
                 {"\\Windows", "w", EISDIR},
                 {"\\Temp\\pipe", "r", EACCES},
                 {"\\Temp\\pipe", "w", EACCES},
                 {"\\Nowhere\\f.txt", "w", ENOENT}};
  for (const auto& r : refused) {
    errno = 0;
    EXPECT_EQ(crt::fopen(r.path, r.mode), nullptr) << r.path << " " << r.mode;
    EXPECT_EQ(errno, r.error) << r.path << " " << r.mode;
  }
}

}  // namespace
