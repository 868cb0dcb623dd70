// The file calls and the path rules under them: which paths resolve inside
// the device's fs/ folder, which are refused, and that refused calls never
// touch host files. Faults: faults_test.cc.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/crt.h"
#include "platform/emulator.h"
#include "platform/files.h"
#include "tables.h"

namespace {

namespace fs = std::filesystem;

constexpr const char16_t* kRing = u"\\Windows\\Ring1.wav";

// The error a call left when it failed; 0 when it did not.
template <class Call>
DWORD ErrorOf(Call call) {
  SetLastError(0);
  return call() ? 0 : GetLastError();
}

// Test paths are ASCII, so widening is enough.
std::u16string Wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

long FilesIn(const fs::path& folder) {
  return static_cast<long>(std::distance(fs::directory_iterator(folder), {}));
}

class FileTest : public DeviceTest {
 protected:
  fs::path Fs() const { return fs::canonical(fs::path(dir()) / "fs"); }
  fs::path Ring() const { return Fs() / "Windows" / "Ring1.wav"; }
  std::string TempPath() const {
    WCHAR buffer[1024];
    DWORD length = GetTempPathW(1024, buffer);
    return length < 1024 ? std::string(buffer, buffer + length) : std::string();
  }
};

TEST_F(FileTest, PhoneAndHostPathsResolveInsideFs) {
  const std::string temp = TempPath();
  ASSERT_FALSE(temp.empty());
  const std::pair<std::string, std::string> cases[] = {
      {"Windows/x.wav", "Windows/x.wav"},
      {"\\MY DOCUMENTS\\my ringtones\\chime.WAV", "My Documents/My Ringtones/Chime.wav"},
      {"\\Windows\\.\\New\\..\\\\x.wav", "Windows/x.wav"},
      {"\\", ""},
      {temp + "temp.txt", "Temp/temp.txt"},
      {Fs().string() + "/Windows/../Temp", "Temp"},
  };
  for (const auto& [path, expected] : cases) {
    EXPECT_EQ(emulator::HostPath(path), (expected.empty() ? Fs() : Fs() / expected).string())
        << path;
  }
}

TEST_F(FileTest, RefusedPathsFailTheCallsAndLeaveHostFilesAlone) {
  const fs::path neighbour = dir() + "-neighbour";
  const fs::path target = dir() + "-target";
  const std::string name = neighbour.filename().string();
  std::ofstream(neighbour) << "keep";
  fs::create_directory_symlink(neighbour.parent_path(), Fs() / "out");
  fs::create_symlink(target, Fs() / "Windows" / "dangling");
  fs::create_symlink(neighbour, Fs() / "Temp" / "temp.txt");
  const std::pair<std::string, DWORD> cases[] = {
      {"\\Windows\\..\\..\\..\\" + name, ERROR_ACCESS_DENIED},
      {neighbour.string(), ERROR_ACCESS_DENIED},
      {Fs().string() + "/../../" + name, ERROR_ACCESS_DENIED},
      {Fs().string() + "x/a.txt", ERROR_ACCESS_DENIED},
      {"\\out\\" + name, ERROR_ACCESS_DENIED},
      {"\\Windows\\dangling", ERROR_ACCESS_DENIED},
      {"\\Temp\\temp.txt", ERROR_ACCESS_DENIED},
      {"C:\\" + name, ERROR_INVALID_PARAMETER},
      {"", ERROR_INVALID_PARAMETER},
  };
  for (const auto& [text, error] : cases) {
    EXPECT_EQ(emulator::HostPath(text), "") << text;
    const std::u16string path = Wide(text);
    const auto p = path.c_str();
    EXPECT_EQ(ErrorOf([&] { return DeleteFileW(p); }), error) << text;
    EXPECT_EQ(ErrorOf([&] { return CopyFileW(kRing, p, FALSE); }), error) << text;
    EXPECT_EQ(ErrorOf([&] { return CopyFileW(kRing, p, TRUE); }), error) << text;
    EXPECT_EQ(ErrorOf([&] { return CopyFileW(p, u"\\copy", FALSE); }), error) << text;
    for (const char* mode : {"r", "w+", "a"}) {
      errno = 0;
      EXPECT_EQ(crt::fopen(text.c_str(), mode), nullptr) << text;
      EXPECT_EQ(errno, error == ERROR_ACCESS_DENIED ? EACCES : EINVAL) << text << " " << mode;
    }
  }
  // System files are only ever read here, so that a broken confinement
  // cannot damage the machine running the tests.
  for (const char* text : {"\\..\\..\\etc\\passwd", "/etc/passwd"}) {
    EXPECT_EQ(emulator::HostPath(text), "") << text;
    const std::u16string path = Wide(text);
    EXPECT_EQ(ErrorOf([&] { return CopyFileW(path.c_str(), u"\\copy", FALSE); }),
              ERROR_ACCESS_DENIED)
        << text;
  }
  EXPECT_EQ(ReadFile(neighbour), "keep");
  EXPECT_TRUE(fs::exists(Ring()));
  EXPECT_FALSE(fs::exists(fs::symlink_status(target)));
  EXPECT_FALSE(fs::exists(Fs() / "copy"));
  fs::remove(neighbour);
}

TEST_F(FileTest, TempPathIsThePhonePathOfAFolderMadeOnDemandAndASmallBufferGetsTheSizeNeeded) {
  fs::remove_all(Fs() / "Temp");
  EXPECT_EQ(TempPath(), "\\Temp\\");
  EXPECT_TRUE(fs::is_directory(Fs() / "Temp"));

  const DWORD needed = 7;
  EXPECT_EQ(GetTempPathW(0, nullptr), needed);
  std::vector<WCHAR> buffer(needed, u'x');
  EXPECT_EQ(GetTempPathW(needed - 1, buffer.data()), needed);
  EXPECT_EQ(std::u16string(buffer.begin(), buffer.end()), std::u16string(needed, u'x'));
  EXPECT_EQ(GetTempPathW(needed, buffer.data()), needed - 1);
  EXPECT_EQ(buffer.back(), 0);
}

TEST_F(FileTest, CopyFindsTheSourceInAnyCaseAndFailIfExistsKeepsTheDestination) {
  ASSERT_TRUE(CopyFileW(u"\\WINDOWS\\ring1.WAV", u"\\Temp\\dest.wav", TRUE));
  EXPECT_EQ(ReadFile(Fs() / "Temp" / "dest.wav"), ReadFile(Ring()));

  std::ofstream(Fs() / "Temp" / "dest.wav") << "old";
  EXPECT_EQ(ErrorOf([] { return CopyFileW(kRing, u"\\Temp\\dest.wav", TRUE); }), ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadFile(Fs() / "Temp" / "dest.wav"), "old");
  EXPECT_TRUE(CopyFileW(kRing, u"\\Temp\\dest.wav", FALSE));
  EXPECT_EQ(ReadFile(Fs() / "Temp" / "dest.wav"), ReadFile(Ring()));
  EXPECT_EQ(FilesIn(Fs() / "Temp"), 1) << "leftover temporary";
}

TEST_F(FileTest, DeleteRemovesFilesByPhoneOrTempPath) {
  std::ofstream(Fs() / "Temp" / "t.txt") << "x";
  EXPECT_TRUE(DeleteFileW(u"\\windows\\RING1.wav"));
  EXPECT_TRUE(DeleteFileW(Wide(TempPath() + "t.txt").c_str()));
  EXPECT_FALSE(fs::exists(Ring()));
  EXPECT_FALSE(fs::exists(Fs() / "Temp" / "t.txt"));
}

// The cases of data/platform/files.tsv: each call fails with its error and
// leaves the device's files as they were.
class FileTableTest : public FileTest, public testing::WithParamInterface<tables::Row> {};

TEST_P(FileTableTest, CallAnswersAsTheTableSaysAndChangesNothing) {
  const tables::Row& row = GetParam();
  const std::u16string source = Wide(row.at(1)), destination = Wide(row.at(2));
  const char16_t* path = row.at(1) == "-" ? nullptr : source.c_str();
  const std::string ring = ReadFile(Ring());
  const long files_in_windows = FilesIn(Fs() / "Windows");
  if (row[0] == "copy") {
    EXPECT_EQ(ErrorOf([&] { return CopyFileW(path, destination.c_str(), row.at(3) == "1"); }),
              std::stoul(row.at(4)));
  } else if (row[0] == "delete") {
    EXPECT_EQ(ErrorOf([&] { return DeleteFileW(path); }), std::stoul(row.at(2)));
  } else {
    ASSERT_EQ(row[0], "attributes");
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(path), std::stoul(row.at(2)));
    EXPECT_EQ(GetLastError(), std::stoul(row.at(3)));
  }
  EXPECT_FALSE(fs::exists(Fs() / "Temp" / "a.wav"));
  EXPECT_EQ(ReadFile(Ring()), ring);
  EXPECT_EQ(FilesIn(Fs() / "Windows"), files_in_windows) << "leftover temporary";
}

INSTANTIATE_TEST_SUITE_P(Table, FileTableTest, testing::ValuesIn(tables::Read("files.tsv")));

}  // namespace
