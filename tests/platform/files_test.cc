// The file calls and the path rules under them: which paths resolve inside
// the device's fs/ folder, which are refused, and that refused calls never
// touch host files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/emulator.h"
#include "platform/files.h"

namespace {

namespace fs = std::filesystem;

// Test paths are ASCII, so widening is enough.
std::u16string Wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

class FsTest : public DeviceTest {
 protected:
  fs::path Fs() const { return fs::canonical(fs::path(dir()) / "fs"); }
  fs::path Ring() const { return Fs() / "Windows" / "Ring1.wav"; }
  std::string TempPath() const {
    WCHAR buffer[1024];
    DWORD length = GetTempPathW(1024, buffer);
    return length < 1024 ? std::string(buffer, buffer + length) : std::string();
  }
};

using PathTest = FsTest;
using TempPathTest = FsTest;
using FileTest = FsTest;

TEST_F(PathTest, PhoneAndHostPathsResolveInsideFs) {
  const std::string temp = TempPath();
  ASSERT_FALSE(temp.empty());
  const std::pair<std::string, std::string> cases[] = {
      {"\\Windows\\x.wav", "Windows/x.wav"},
      {"Windows/x.wav", "Windows/x.wav"},
      {"\\windows\\RING1.WAV", "Windows/Ring1.wav"},
      {"\\MY DOCUMENTS\\my ringtones\\chime.WAV", "My Documents/My Ringtones/Chime.wav"},
      {"\\Windows\\.\\New\\..\\\\x.wav", "Windows/x.wav"},
      {"temp.txt", "temp.txt"},
      {"\\", ""},
      {temp + "temp.txt", "Temp/temp.txt"},
      {Fs().string() + "/Windows/../Temp", "Temp"},
  };
  for (const auto& [path, expected] : cases) {
    fs::path host = expected.empty() ? Fs() : Fs() / expected;
    EXPECT_EQ(emulator::HostPath(path), host.string()) << path;
  }
}

TEST_F(PathTest, RefusedPathsFailTheCallsAndLeaveHostFilesAlone) {
  const fs::path neighbour = dir() + "-neighbour";
  const fs::path target = dir() + "-target";
  const std::string name = neighbour.filename().string();
  WriteFile(neighbour, "keep");
  fs::create_directory_symlink(neighbour.parent_path(), Fs() / "out");
  fs::create_symlink(target, Fs() / "Windows" / "dangling");
  const std::pair<std::string, DWORD> cases[] = {
      {"\\..\\..\\" + name, ERROR_ACCESS_DENIED},
      {"\\Windows\\..\\..\\..\\" + name, ERROR_ACCESS_DENIED},
      {"/etc/passwd", ERROR_ACCESS_DENIED},
      {"/Windows/Ring1.wav", ERROR_ACCESS_DENIED},
      {neighbour.string(), ERROR_ACCESS_DENIED},
      {Fs().string() + "/../../" + name, ERROR_ACCESS_DENIED},
      {Fs().string() + "x/a.txt", ERROR_ACCESS_DENIED},
      {dir() + "/device.db", ERROR_ACCESS_DENIED},
      {"\\out\\" + name, ERROR_ACCESS_DENIED},
      {"\\OUT", ERROR_ACCESS_DENIED},
      {"\\Windows\\dangling", ERROR_ACCESS_DENIED},
      {"C:\\" + name, ERROR_INVALID_PARAMETER},
      {"\\Windows\\Ring1.wav:stream", ERROR_INVALID_PARAMETER},
      {"", ERROR_INVALID_PARAMETER},
  };
  for (const auto& [text, error] : cases) {
    EXPECT_EQ(emulator::HostPath(text), "") << text;
    const std::u16string path = Wide(text);
    SetLastError(0);
    EXPECT_FALSE(DeleteFileW(path.c_str())) << text;
    EXPECT_EQ(GetLastError(), error) << text;
    for (BOOL failIfExists : {FALSE, TRUE}) {
      SetLastError(0);
      EXPECT_FALSE(CopyFileW(u"\\Windows\\Ring1.wav", path.c_str(), failIfExists)) << text;
      EXPECT_EQ(GetLastError(), error) << text;
    }
    SetLastError(0);
    EXPECT_FALSE(CopyFileW(path.c_str(), u"\\copy", FALSE)) << text;
    EXPECT_EQ(GetLastError(), error) << text;
  }
  EXPECT_EQ(ReadFile(neighbour), "keep");
  EXPECT_TRUE(fs::exists(fs::path(dir()) / "device.db"));
  EXPECT_TRUE(fs::exists(Ring()));
  EXPECT_FALSE(fs::exists(fs::symlink_status(target)));
  EXPECT_FALSE(fs::exists(Fs() / "copy"));
  fs::remove(neighbour);
}

TEST_F(TempPathTest, NamesAnExistingFolderInsideFsEndingWithASlash) {
  fs::remove_all(Fs() / "Temp");  // made again on demand
  const std::string temp = TempPath();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), '/');
  EXPECT_TRUE(fs::is_directory(temp));
  EXPECT_EQ(fs::canonical(temp), Fs() / "Temp");
}

TEST_F(TempPathTest, SmallBufferGivesTheSizeNeededAndStaysUntouched) {
  const DWORD needed = GetTempPathW(0, nullptr);
  ASSERT_GT(needed, 1u);
  std::vector<WCHAR> buffer(needed, u'x');
  EXPECT_EQ(GetTempPathW(needed - 1, buffer.data()), needed);
  EXPECT_EQ(std::u16string(buffer.begin(), buffer.end()), std::u16string(needed, u'x'));
  EXPECT_EQ(GetTempPathW(needed, buffer.data()), needed - 1);
  EXPECT_EQ(buffer[needed - 1], 0);
}

TEST_F(FileTest, CopyDuplicatesTheBytesFindingTheSourceInAnyCase) {
  ASSERT_TRUE(CopyFileW(u"\\WINDOWS\\ring1.WAV", u"\\My Documents\\copy.wav", TRUE));
  EXPECT_EQ(ReadFile(Fs() / "My Documents" / "copy.wav"), ReadFile(Ring()));
}

TEST_F(FileTest, FailIfExistsKeepsTheDestinationAndOverwriteReplacesIt) {
  const fs::path destination = Fs() / "Temp" / "dest.wav";
  WriteFile(destination, "old");
  EXPECT_FALSE(CopyFileW(u"\\Windows\\Ring1.wav", u"\\Temp\\dest.wav", TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadFile(destination), "old");

  EXPECT_TRUE(CopyFileW(u"\\Windows\\Ring1.wav", u"\\Temp\\dest.wav", FALSE));
  EXPECT_EQ(ReadFile(destination), ReadFile(Ring()));
  EXPECT_EQ(std::distance(fs::directory_iterator(Fs() / "Temp"), {}), 1) << "leftover temporary";
}

TEST_F(FileTest, CopyOntoItselfFailsAndKeepsTheFile) {
  const std::string before = ReadFile(Ring());
  EXPECT_FALSE(CopyFileW(u"\\Windows\\Ring1.wav", u"\\windows\\ring1.wav", FALSE));
  EXPECT_FALSE(CopyFileW(u"\\Windows\\Ring1.wav", u"\\windows\\ring1.wav", TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadFile(Ring()), before);
}

TEST_F(FileTest, CopyReportsWhatIsMissingOrUnsuitable) {
  struct Case {
    const char16_t* source;
    const char16_t* destination;
    BOOL failIfExists;
    DWORD error;
  };
  const auto files_in_windows = std::distance(fs::directory_iterator(Fs() / "Windows"), {});
  const Case cases[] = {
      {u"\\Windows\\None.wav", u"\\Temp\\a.wav", FALSE, ERROR_FILE_NOT_FOUND},
      {u"\\Windows\\None.wav", u"\\Temp\\a.wav", TRUE, ERROR_FILE_NOT_FOUND},
      {u"\\Nowhere\\x.wav", u"\\Temp\\a.wav", FALSE, ERROR_PATH_NOT_FOUND},
      {u"\\Windows\\Ring1.wav", u"\\Nowhere\\a.wav", FALSE, ERROR_PATH_NOT_FOUND},
      {u"\\Windows\\Ring1.wav", u"\\Nowhere\\a.wav", TRUE, ERROR_PATH_NOT_FOUND},
      {u"\\Windows\\Ring1.wav\\x", u"\\Temp\\a.wav", FALSE, ERROR_PATH_NOT_FOUND},
      {u"\\Windows", u"\\Temp\\a.wav", FALSE, ERROR_ACCESS_DENIED},
      {u"\\Windows\\Ring1.wav", u"\\Windows", FALSE, ERROR_ACCESS_DENIED},
      {u"\\Windows\\Ring1.wav", u"\\Windows", TRUE, ERROR_FILE_EXISTS},
      {nullptr, u"\\Temp\\a.wav", FALSE, ERROR_INVALID_PARAMETER},
      {u"\\Windows\\Ring1.wav", nullptr, FALSE, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(CopyFileW(c.source, c.destination, c.failIfExists)) << &c - cases;
    EXPECT_EQ(GetLastError(), c.error) << &c - cases;
  }
  EXPECT_FALSE(fs::exists(Fs() / "Temp" / "a.wav"));
  EXPECT_TRUE(fs::is_directory(Fs() / "Windows"));
  EXPECT_EQ(std::distance(fs::directory_iterator(Fs() / "Windows"), {}), files_in_windows)
      << "leftover temporary";
}

TEST_F(FileTest, DeleteRemovesFilesByPhoneOrTempPath) {
  ASSERT_TRUE(DeleteFileW(u"\\windows\\RING1.wav"));
  EXPECT_FALSE(fs::exists(Ring()));

  const std::string temp_file = TempPath() + "t.txt";
  WriteFile(temp_file, "x");
  EXPECT_TRUE(DeleteFileW(Wide(temp_file).c_str()));
  EXPECT_FALSE(fs::exists(temp_file));
}

TEST_F(FileTest, DeleteReportsWhatIsMissingAndRefusesFolders) {
  const std::pair<const char16_t*, DWORD> cases[] = {
      {u"\\Windows\\None.wav", ERROR_FILE_NOT_FOUND},
      {u"\\Nowhere\\x.wav", ERROR_PATH_NOT_FOUND},
      {u"\\Windows", ERROR_ACCESS_DENIED},
      {u"\\", ERROR_ACCESS_DENIED},
      {nullptr, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(DeleteFileW(c.first)) << &c - cases;
    EXPECT_EQ(GetLastError(), c.second) << &c - cases;
  }
  EXPECT_TRUE(fs::is_directory(Fs() / "Windows"));
}

TEST_F(FileTest, InjectedFaultsFailWithTheirValueAndTouchNothing) {
  emulator::InjectFault("CopyFileW", 1, 5);
  EXPECT_FALSE(CopyFileW(u"\\Windows\\Ring1.wav", u"\\Temp\\a.wav", FALSE));
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_FALSE(fs::exists(Fs() / "Temp" / "a.wav"));

  emulator::InjectFault("DeleteFileW", 1, 32);
  EXPECT_FALSE(DeleteFileW(u"\\Windows\\Ring1.wav"));
  EXPECT_EQ(GetLastError(), 32u);
  EXPECT_TRUE(fs::exists(Ring()));

  emulator::InjectFault("GetTempPathW", 1, 8);
  WCHAR buffer[1024];
  EXPECT_EQ(GetTempPathW(1024, buffer), 0u);
  EXPECT_EQ(GetLastError(), 8u);
}

}  // namespace
