// The launcher: every launch recorded, nothing run on the host, and the
// theme tool's registry setting.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/emulator.h"
#include "platform/process.h"

namespace {

using LaunchTest = DeviceTest;

constexpr const char16_t* kThemeTool = u"\\Windows\\cusTSK.exe";

BOOL Launch(const char16_t* application, std::u16string commandLine,
            PROCESS_INFORMATION* info = nullptr) {
  return CreateProcessW(application, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, nullptr, info);
}

std::optional<std::string> Theme() {
  return emulator::ReadRegistryString("HKCU", "ControlPanel\\Theme", "Current");
}

TEST_F(LaunchTest, ThemeToolRecordsTheThemeNamedAfterItsOptions) {
  const std::u16string long_line = u"\\My Documents\\" + std::u16string(109, u't') + u".tsk";
  // (command line, Current afterwards)
  const std::pair<std::u16string, std::optional<std::string>> cases[] = {
      {u"", std::nullopt},
      {u"/safe /noui /nouiq /s \"\\Windows\\Default.tsk\"", "\\Windows\\Default.tsk"},
      {u"/s", "\\Windows\\Default.tsk"},  // no theme named: nothing changes
      {u"-s   \\Windows\\Blue Sky.tsk  ", "\\Windows\\Blue Sky.tsk"},
      {u"\" \\Windows\\Red.tsk\" /s", "\\Windows\\Red.tsk"},
      {long_line, "\\My Documents\\" + std::string(109, 't') + ".tsk"},
  };
  for (const auto& [commandLine, theme] : cases) {
    EXPECT_EQ(Launch(kThemeTool, commandLine), TRUE);
    EXPECT_EQ(Theme(), theme);
  }
  EXPECT_EQ(emulator::ReadRegistryString("HKCU", "ControlPanel\\Theme", "CommandLine"),
            emulator::Launches().back().commandLine);

  // The tool is found whatever the spelling of its path.
  EXPECT_EQ(Launch(u"\\windows//CUSTSK.EXE", u"\"\\Windows\\Night.tsk\""), TRUE);
  EXPECT_EQ(Theme(), "\\Windows\\Night.tsk");

  const auto launches = emulator::Launches();
  ASSERT_EQ(launches.size(), std::size(cases) + 1);
  EXPECT_EQ(launches[0].application, "\\Windows\\cusTSK.exe");
  EXPECT_EQ(launches[0].commandLine, "");
  EXPECT_EQ(launches[std::size(cases) - 1].commandLine.size(), 127u);
  EXPECT_EQ(launches.back().application, "\\windows//CUSTSK.EXE");
  for (const auto& launch : launches) EXPECT_TRUE(launch.started);
}

TEST_F(LaunchTest, OtherApplicationsOnTheDeviceStartButNeverRunOnTheHost) {
  const std::string script = emulator::HostPath("\\Windows\\touch.exe");
  const std::string marker = emulator::DeviceDir() + "/marker";
  std::ofstream(script) << "#!/bin/sh\ntouch " << marker << "\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);

  PROCESS_INFORMATION first{}, second{};
  EXPECT_EQ(Launch(u"\\Windows\\touch.exe", u"", &first), TRUE);
  EXPECT_EQ(CreateProcessW(u"\\Windows\\touch.exe", nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, nullptr, &second),
            TRUE);
  EXPECT_FALSE(std::filesystem::exists(marker));
  EXPECT_FALSE(Theme().has_value());

  EXPECT_NE(first.hProcess, nullptr);
  EXPECT_NE(first.hThread, nullptr);
  EXPECT_GT(second.dwProcessId, first.dwProcessId);
  EXPECT_EQ(CloseHandle(first.hProcess), TRUE);
  EXPECT_EQ(CloseHandle(first.hThread), TRUE);
  SetLastError(0);
  EXPECT_EQ(CloseHandle(nullptr), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  const auto launches = emulator::Launches();
  ASSERT_EQ(launches.size(), 2u);
  EXPECT_TRUE(launches[0].started && launches[1].started);
  EXPECT_EQ(launches[1].commandLine, "");
  EXPECT_GT(launches[0].time, 130000000000000000u);  // after 2012
  EXPECT_LE(launches[0].time, launches[1].time);
}

TEST_F(LaunchTest, ApplicationsNotOnTheDeviceFailAndAreRecordedAsNotStarted) {
  const char16_t* missing[] = {u"\\Windows\\missing.exe", u"\\..\\..\\bin\\sh", u"/bin/sh",
                               u"\\Windows", u""};
  for (const char16_t* application : missing) {
    PROCESS_INFORMATION info{};
    SetLastError(0);
    EXPECT_EQ(Launch(application, u"-c true", &info), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(info.hProcess, nullptr);
  }
  const auto launches = emulator::Launches();
  ASSERT_EQ(launches.size(), std::size(missing));
  EXPECT_EQ(launches[1].application, "\\..\\..\\bin\\sh");
  EXPECT_EQ(launches[1].commandLine, "-c true");
  for (const auto& launch : launches) EXPECT_FALSE(launch.started);
}

TEST_F(LaunchTest, RefusedCallsRecordNothing) {
  SetLastError(0);
  EXPECT_EQ(Launch(nullptr, u"\\Windows\\cusTSK.exe"), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(emulator::Launches().empty());
  EXPECT_FALSE(Theme().has_value());
}

}  // namespace
