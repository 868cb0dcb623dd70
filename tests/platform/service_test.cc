// The platform's single calls, one case a row of data/platform/{clock,crt,
// files,process,sms,sound,text}.tsv: each row names its kind of call, the
// arguments and what the call answers; CallAsTheRowSays makes the call and
// checks it. The tests below the table own what a row cannot say: path
// confinement against the host's own files, the radio handle, host programs, copies over a file,
// local time now, COM creation and strings (faults: faults_test.cc).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/clock.h"
#include "platform/com.h"
#include "platform/contact_store.h"
#include "platform/crt.h"
#include "platform/emulator.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/sms.h"
#include "platform/sound.h"
#include "platform/system.h"
#include "platform/text.h"
#include "table.h"

namespace {

namespace fs = std::filesystem;

std::int32_t Number(const std::string& field) {
  return static_cast<std::int32_t>(std::stoll(field, nullptr, 0));
}

// Test paths are ASCII; \uNNNN in a field stands for one UTF-16 unit.
std::u16string Wide(const std::string& text) {
  std::u16string units;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\\u") == 0) {
      units.push_back(static_cast<char16_t>(std::stoul(text.substr(i + 2, 4), nullptr, 16)));
      i += 5;
    } else {
      units.push_back(static_cast<unsigned char>(text[i]));
    }
  }
  return units;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The error a call left when it failed (`ok` false), 0 when it did not; the
// error is cleared for the next call.
DWORD ErrorOf(bool ok) {
  const DWORD error = ok ? 0 : GetLastError();
  SetLastError(0);
  return error;
}

// "YYYY-MM-DD hh:mm:ss.mmm Day", or "refused" with the error it left.
std::string Show(bool ok, const SYSTEMTIME& t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  if (!ok) return "refused " + std::to_string(GetLastError());
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u %s", t.wYear, t.wMonth,
                t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                t.wDayOfWeek < 7 ? kDays[t.wDayOfWeek] : "???");
  return text;
}
FILETIME Ticks(std::uint64_t ticks) {
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}
std::string ShowFileTime(const FILETIME& time) {
  SYSTEMTIME fields{};
  return Show(FileTimeToSystemTime(&time, &fields), fields);
}

// Sets TZ for its lifetime, then puts the old value back.
struct ScopedTimeZone {
  explicit ScopedTimeZone(const std::string& zone) : had(std::getenv("TZ") != nullptr) {
    if (had) old = std::getenv("TZ");
    setenv("TZ", zone.c_str(), 1);
    tzset();
  }
  ~ScopedTimeZone() {
    had ? setenv("TZ", old.c_str(), 1) : unsetenv("TZ");
    tzset();
  }
  bool had;
  std::string old;
};

const std::string kRing = "\\Windows\\Ring1.wav";
const char* const kNotifications =
    "ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}";

// Makes the call a row names by its first field, and checks it; the files'
// comments say what the fields are.
void CallAsTheRowSays(const TableRow& r) {
  const std::string& kind = r[0];
  if (kind == "to-date") {  // milliseconds and the day of the week are ignored
    SYSTEMTIME t{};
    std::sscanf(r[1].c_str(), "%hu-%hu-%hu %hu:%hu:%hu", &t.wYear, &t.wMonth, &t.wDay, &t.wHour,
                &t.wMinute, &t.wSecond);
    t.wMilliseconds = 999;
    t.wDayOfWeek = 9;
    DATE date = 42.0;
    EXPECT_EQ(SystemTimeToVariantTime(&t, &date), r[2] != "refused");
    EXPECT_DOUBLE_EQ(date, r[2] == "refused" ? 42.0 : std::stod(r[2]));
  } else if (kind == "to-fields") {
    SYSTEMTIME fields{};
    EXPECT_EQ(Show(VariantTimeToSystemTime(std::stod(r[1]), &fields), fields), r[2]);
  } else if (kind == "file-time") {
    EXPECT_EQ(ShowFileTime(Ticks(std::stoull(r[1]))), r[2]);
  } else if (kind == "local") {
    ScopedTimeZone zone(r[1]);
    const FILETIME utc = Ticks(std::stoull(r[2]));
    FILETIME local{};
    EXPECT_EQ(FileTimeToLocalFileTime(&utc, &local)
                  ? ShowFileTime(local)
                  : "local refused " + std::to_string(GetLastError()),
              r[3]);
  } else if (kind == "mode") {
    const std::string path = emulator::HostPath("\\Temp\\f.txt");
    ASSERT_EQ(mkfifo(emulator::HostPath("\\Temp\\pipe").c_str(), 0600), 0);
    if (r[3] != "-") std::ofstream(path, std::ios::binary) << r[3];
    std::FILE* file = crt::fopen(r[1].c_str(), r[2].c_str());
    EXPECT_EQ(file == nullptr ? errno : 0, std::stoi(r[7]));
    if (file != nullptr) {
      EXPECT_GE(std::fputs(r[4].c_str(), file), 0);
      EXPECT_EQ(std::fflush(file), 0);
      if (r[5] != "-") {
        ASSERT_EQ(std::fseek(file, 0, SEEK_SET), 0);
        std::string back;
        for (int b; (b = std::fgetc(file)) != EOF;) back.push_back(static_cast<char>(b));
        EXPECT_EQ(back, r[5]);
      }
      std::fclose(file);
    }
    EXPECT_EQ(fs::exists(path) ? ReadFile(path) : "-", r[6]);
  } else if (kind == "copy") {
    EXPECT_EQ(ErrorOf(CopyFileW(r[1] == "-" ? nullptr : Wide(r[1]).c_str(), Wide(r[2]).c_str(),
                                r[3] == "1")),
              std::stoul(r[4]));
  } else if (kind == "delete") {
    EXPECT_EQ(ErrorOf(DeleteFileW(r[1] == "-" ? nullptr : Wide(r[1]).c_str())), std::stoul(r[2]));
  } else if (kind == "attributes") {
    EXPECT_EQ(GetFileAttributesW(r[1] == "-" ? nullptr : Wide(r[1]).c_str()), std::stoul(r[2]));
    EXPECT_EQ(GetLastError(), std::stoul(r[3]));
  } else if (kind == "find") {  // beside the seeded files: a file, and a link out of fs/
    std::ofstream(emulator::HostPath("\\Temp\\note.txt")) << "x";
    fs::create_directory_symlink(fs::path(emulator::DeviceDir()).parent_path(),
                                 emulator::HostPath("\\Temp") + "/out");
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(r[1] == "-" ? nullptr : Wide(r[1]).c_str(), &found);
    EXPECT_EQ(search == INVALID_HANDLE_VALUE ? GetLastError() : 0, std::stoul(r[3]));
    std::string names;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
      for (const char16_t* unit = found.cFileName; *unit != 0; ++unit) names.push_back(char(*unit));
      names += found.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY ? "/ " : " ";
    }
    EXPECT_EQ(names.empty() ? "-" : names.substr(0, names.size() - 1), r[2]);
    if (search != INVALID_HANDLE_VALUE) {
      EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
      EXPECT_EQ(ErrorOf(FindClose(search)), 0U);
      EXPECT_EQ(ErrorOf(FindNextFileW(search, &found)), ERROR_INVALID_HANDLE);  // closed
      EXPECT_EQ(ErrorOf(FindClose(search)), ERROR_INVALID_HANDLE);
    }
  } else if (kind == "hostpath") {
    const std::string fsDir = emulator::HostPath("\\");
    const std::string path = r[1].rfind("FS/", 0) == 0 ? fsDir + r[1].substr(2) : r[1];
    EXPECT_EQ(emulator::HostPath(path), r[2] == "-"   ? ""
                                        : r[2] == "." ? fsDir
                                                      : fsDir + "/" + r[2]);
  } else if (kind == "outside") {
    const std::string fsDir = emulator::HostPath("\\"), device = emulator::DeviceDir();
    const std::string neighbour = device + "-neighbour", target = device + "-target";
    std::ofstream(neighbour) << "keep";
    fs::create_directory_symlink(fs::path(device).parent_path(), fsDir + "/out");
    fs::create_symlink(target, fsDir + "/Temp/dangling");
    fs::create_symlink(neighbour, fsDir + "/Temp/temp.txt");
    std::string text = r[1];
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"NEIGHBOUR", neighbour},
                                   {"NAME", fs::path(neighbour).filename()},
                                   {"FS", fsDir}})
      if (const auto at = text.find(from); at != std::string::npos)
        text.replace(at, from.size(), to);
    const std::u16string path = Wide(text), ring = Wide(kRing);
    const DWORD error = std::stoul(r[2]);
    EXPECT_EQ(emulator::HostPath(text), "");
    EXPECT_EQ(ErrorOf(CopyFileW(path.c_str(), u"\\copy", FALSE)), error);
    if (r[3] != "-") {
      EXPECT_EQ(ErrorOf(DeleteFileW(path.c_str())), error);
      for (BOOL failIfExists : {FALSE, TRUE})
        EXPECT_EQ(ErrorOf(CopyFileW(ring.c_str(), path.c_str(), failIfExists)), error);
      for (const char* mode : {"r", "w+", "a"}) {
        errno = 0;  // a refusal sets it
        EXPECT_EQ(crt::fopen(text.c_str(), mode) == nullptr ? errno : 0, std::stoi(r[3])) << mode;
      }
    }
    EXPECT_EQ(ReadFile(neighbour), "keep");
    EXPECT_FALSE(fs::exists(fs::symlink_status(target)));
    EXPECT_FALSE(fs::exists(fsDir + "/copy"));
    fs::remove(neighbour);
  } else if (kind == "sound") {
    const auto before = emulator::DumpRegistry();
    const std::string path =
        r[2] == "DEVICE/device.db" ? emulator::DeviceDir() + "/device.db" : r[2];
    SNDFILEINFO info{};
    Wide(path).copy(info.szPathName, MAX_PATH - 1);
    if (path == "unterminated") std::fill_n(info.szPathName, MAX_PATH, u'a');
    std::u16string(u"Ring").copy(info.szDisplayName, MAX_PATH - 1);
    info.sstType = static_cast<SND_SOUNDTYPE>(std::stoi(r[3]));
    EXPECT_EQ(SndSetSound(static_cast<SND_EVENT>(std::stoi(r[1])), &info, TRUE), Number(r[4]));
    if (r[5] == "-") {
      EXPECT_EQ(emulator::DumpRegistry().size(), before.size());
      EXPECT_EQ(emulator::ReadRegistryString("HKCU", "ControlPanel\\Sounds\\RingTone0", "Sound"),
                kRing);
      return;
    }
    EXPECT_EQ(emulator::ReadRegistryString("HKCU", kNotifications, "Wave"),
              "\\Windows\\Alert1.wav");
    EXPECT_EQ(emulator::ReadRegistryString("HKCU", r[5], "Sound"), r[3] == "1" ? path : "");
    EXPECT_EQ(emulator::ReadRegistryString("HKCU", r[5], "DisplayName"), "Ring");
    const auto type =
        emulator::ReadRegistryValue("HKCU", r[5], "Type").value_or(emulator::RegistryValue{});
    EXPECT_EQ(type.type, REG_DWORD);
    EXPECT_EQ(type.data,
              (std::vector<std::uint8_t>{static_cast<std::uint8_t>(info.sstType), 0, 0, 0}));
  } else if (kind == "temp") {
    fs::remove_all(emulator::HostPath("\\Temp"));
    std::u16string buffer(7, u'x');
    EXPECT_EQ(GetTempPathW(Number(r[1]), r[1] == "0" ? nullptr : buffer.data()), std::stoul(r[2]));
    EXPECT_EQ(buffer, Wide(r[3]));
    EXPECT_TRUE(r[4] != "1" || fs::is_directory(emulator::HostPath("\\Temp")));
  } else if (kind == "launch") {
    std::u16string line = Wide(r[2]);
    EXPECT_EQ(
        ErrorOf(CreateProcessW(r[1] == "-" ? nullptr : Wide(r[1]).c_str(), line.data(), nullptr,
                               nullptr, FALSE, 0, nullptr, nullptr, nullptr, nullptr)),
        std::stoul(r[3]));
    const auto launches = emulator::Launches();
    EXPECT_EQ(emulator::ReadRegistryString("HKCU", "ControlPanel\\Theme", "Current").value_or("-"),
              r[4]);
    ASSERT_EQ(launches.size(), r[3] == "87" ? 0u : 1u);
    if (launches.empty()) return;
    EXPECT_EQ(launches[0].application, r[1]);
    EXPECT_EQ(launches[0].commandLine, r[2]);
    EXPECT_EQ(launches[0].started, r[3] == "0");
  } else if (kind == "send") {
    if (r[1] != "-") emulator::SetOwnNumber(r[1]);
    SMS_ADDRESS address{static_cast<SMS_ADDRESS_TYPE>(std::stoi(r[6])), {}};
    Wide(r[2]).copy(address.ptsAddress, SMS_MAX_ADDRESS_LENGTH - 1);
    if (r[2] == "unterminated") std::fill_n(address.ptsAddress, SMS_MAX_ADDRESS_LENGTH, u'5');
    const std::u16string text = Wide(r[3]) + u'\0';
    TEXT_PROVIDER_SPECIFIC_DATA provider{};
    provider.psMessageClass = std::stoul(r[7]);
    const std::size_t inbox = emulator::ListMessages("SMS", "Inbox").size();
    SMS_HANDLE handle = nullptr;
    ASSERT_EQ(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &handle, nullptr), S_OK);
    EXPECT_EQ(SmsSendMessage(handle, nullptr, r[2] == "null" ? nullptr : &address, nullptr,
                             r[4] == "null" ? nullptr : reinterpret_cast<const BYTE*>(text.data()),
                             r[4] == "null" ? 4 : std::stoul(r[4]),
                             reinterpret_cast<const BYTE*>(&provider), std::stoul(r[5]),
                             std::stoul(r[8]), SMS_OPTION_DELIVERY_NONE, nullptr),
              Number(r[9]));
    EXPECT_EQ(SmsClose(handle), S_OK);
    EXPECT_EQ(emulator::SentMessages().size(), r[9] == "0" ? 1u : 0u);
    const auto arrived = emulator::ListMessages("SMS", "Inbox");
    ASSERT_EQ(arrived.size(), inbox + (r[10] == "-" ? 0 : 1));
    if (r[10] == "-") return;
    EXPECT_EQ(arrived.back().sender, r[10]);
    EXPECT_EQ(arrived.back().subject, r[11]);
  } else if (kind == "widen") {
    std::u16string out(16, u'#');
    EXPECT_EQ(MultiByteToWideChar(Number(r[1]), Number(r[2]), r[3] == "-" ? nullptr : r[3].data(),
                                  Number(r[4]), r[5] == "-" ? nullptr : out.data(),
                                  r[5] == "-" ? 4 : Number(r[5])),
              Number(r[6]));
    EXPECT_EQ(out.substr(0, out.find_last_not_of(u'#') + 1), Wide(r[7]));
    EXPECT_EQ(GetLastError(), std::stoul(r[8]));
  } else if (kind == "narrow") {
    const std::u16string text = Wide(r[3]);
    std::string out(16, '#');
    BOOL used = 7;
    EXPECT_EQ(
        WideCharToMultiByte(Number(r[1]), Number(r[2]), r[3] == "-" ? nullptr : text.data(),
                            Number(r[4]), out.data(), Number(r[5]),
                            r[6] == "-" ? nullptr : r[6].c_str(), r[7] == "-" ? nullptr : &used),
        Number(r[8]));
    EXPECT_EQ(out.substr(0, out.find_last_not_of('#') + 1), r[9]);
    EXPECT_EQ(GetLastError(), std::stoul(r[10]));
    EXPECT_EQ(used, r[7] == "-" ? 7 : Number(r[7]));
  } else {
    ADD_FAILURE() << "no such kind of row: " << kind;
  }
}

std::vector<TableRow> ServiceRows() {
  std::vector<TableRow> rows;
  for (const char* name : {"clock", "crt", "files", "process", "sms", "sound", "text"}) {
    const auto table = ReadTable(std::string(PLATFORM_DATA_DIR) + "/" + name + ".tsv");
    rows.insert(rows.end(), table.begin(), table.end());
  }
  return rows;
}

class ServiceTableTest : public DeviceTest, public testing::WithParamInterface<TableRow> {};

// Besides what its kind checks, no row leaves a file behind or changes the
// device's ringtone.
TEST_P(ServiceTableTest, CallAnswersAsTheRowSays) {
  const std::string ring = ReadFile(emulator::HostPath(kRing));
  SetLastError(0);  // rows that read the error find what their call left
  errno = 0;
  const auto windows = [] {
    return std::distance(fs::directory_iterator(emulator::HostPath("\\Windows")), {});
  };
  const auto files = windows();
  CallAsTheRowSays(GetParam());
  EXPECT_FALSE(fs::exists(emulator::HostPath("\\Temp\\a.wav")));
  EXPECT_EQ(ReadFile(emulator::HostPath(kRing)), ring);
  EXPECT_EQ(windows(), files) << "leftover temporary";
}

INSTANTIATE_TEST_SUITE_P(Table, ServiceTableTest, testing::ValuesIn(ServiceRows()),
                         [](const testing::TestParamInfo<TableRow>& info) {
                           std::string name = std::to_string(info.index) + "_" + info.param[0];
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

using ServiceTest = DeviceTest;

// Only the text provider opens, for sending; a handle is accounted while
// open and is no handle once closed.
TEST_F(ServiceTest, SmsRadioOpensOnlyForSendingTextAndClosesOnce) {
  SMS_HANDLE handle = nullptr;
  void* event = nullptr;
  const std::u16string provider = SMS_MSGTYPE_TEXT;
  for (const std::u16string& other : {provider + u"2", provider.substr(0, 10)})
    EXPECT_EQ(SmsOpen(other.c_str(), SMS_MODE_SEND, &handle, nullptr), SMS_E_INVALIDPROTOCOL);
  EXPECT_EQ(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_RECEIVE, &handle, nullptr), E_INVALIDARG);
  EXPECT_EQ(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &handle, &event), E_INVALIDARG);
  EXPECT_EQ(handle, nullptr);
  const long buffers = emulator::OutstandingBuffers();
  ASSERT_EQ(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &handle, nullptr), S_OK);
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers + 1);
  EXPECT_EQ(SmsClose(handle), S_OK);
  EXPECT_EQ(SmsClose(handle), SMS_E_BADHANDLE);
  const TEXT_PROVIDER_SPECIFIC_DATA block{};
  SMS_ADDRESS to{SMSAT_UNKNOWN, u"0123"};
  EXPECT_EQ(SmsSendMessage(handle, nullptr, &to, nullptr, nullptr, 0,
                           reinterpret_cast<const BYTE*>(&block), sizeof block, SMSDE_OPTIMAL, 0,
                           nullptr),
            SMS_E_BADHANDLE);
}

// An application that is a host program is recorded as started and never run.
TEST_F(ServiceTest, ApplicationsNeverRunOnTheHost) {
  const std::string script = emulator::HostPath("\\Windows\\touch.exe");
  const std::string marker = emulator::DeviceDir() + "/marker";
  std::ofstream(script) << "#!/bin/sh\ntouch " << marker << "\n";
  fs::permissions(script, fs::perms::owner_all);
  PROCESS_INFORMATION info{};
  EXPECT_TRUE(CreateProcessW(u"\\Windows\\touch.exe", nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, nullptr, &info));
  EXPECT_TRUE(CloseHandle(info.hProcess) && CloseHandle(info.hThread));
  EXPECT_EQ(ErrorOf(CloseHandle(nullptr)), DWORD{ERROR_INVALID_HANDLE});
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_TRUE(emulator::Launches().at(0).started);
}

// A listing of no location is empty; unknown events and a missing list or
// sound are refused.
TEST_F(ServiceTest, SoundCallsRefuseUnknownEventsAndMissingPlaces) {
  SNDDIRECTORYINFO* list = reinterpret_cast<SNDDIRECTORYINFO*>(1);
  int count = -1;
  EXPECT_EQ(SndGetSoundDirectoriesList(SND_EVENT_REMINDER, 0, &list, &count), S_OK);
  EXPECT_EQ(SndGetSoundDirectoriesList(static_cast<SND_EVENT>(8), SND_LOCATION_ALL, &list, &count),
            E_INVALIDARG);
  EXPECT_TRUE(list == nullptr && count == 0);
  EXPECT_EQ(SndGetSoundDirectoriesList(SND_EVENT_REMINDER, SND_LOCATION_ALL, nullptr, &count),
            E_INVALIDARG);
  EXPECT_EQ(SndSetSound(SND_EVENT_RINGTONELINE1, nullptr, FALSE), E_INVALIDARG);
}

// A copy over an existing file replaces it whole, through a temporary that
// does not stay; with failIfExists the old file stays.
TEST_F(ServiceTest, CopyOverAFileReplacesItUnlessItMustNotExist) {
  const std::string dest = emulator::HostPath("\\Temp\\dest.wav");
  std::ofstream(dest) << "old";
  EXPECT_EQ(ErrorOf(CopyFileW(u"\\WINDOWS\\ring1.WAV", u"\\Temp\\dest.wav", TRUE)),
            DWORD{ERROR_FILE_EXISTS});
  EXPECT_EQ(ReadFile(dest), "old");
  EXPECT_TRUE(CopyFileW(u"\\WINDOWS\\ring1.WAV", u"\\Temp\\dest.wav", FALSE));
  EXPECT_EQ(ReadFile(dest), ReadFile(emulator::HostPath(kRing)));
  EXPECT_EQ(std::distance(fs::directory_iterator(emulator::HostPath("\\Temp")), {}), 1);
}

// Local time is the clock's reading shifted by the zone set now; date calls
// without a place for their answer fail.
TEST_F(ServiceTest, LocalTimeFollowsTheZoneSetNow) {
  for (const auto& [rules, offset] : {std::pair{"<+0530>-5:30", 19800}, {"<-03>3", -10800}}) {
    ScopedTimeZone zone(rules);
    timespec before{}, after{};
    SYSTEMTIME now{};
    clock_gettime(CLOCK_REALTIME, &before);
    GetLocalTime(&now);
    clock_gettime(CLOCK_REALTIME, &after);
    const auto shown = [offset = offset](const timespec& at) {
      return ShowFileTime(Ticks(116'444'736'000'000'000 + (at.tv_sec + offset) * 10'000'000ull +
                                at.tv_nsec / 1'000'000 * 10'000));
    };
    EXPECT_LE(shown(before), Show(true, now)) << rules;
    EXPECT_LE(Show(true, now), shown(after)) << rules;
  }
  DATE date = 0;
  EXPECT_FALSE(SystemTimeToVariantTime(nullptr, &date));
  EXPECT_FALSE(VariantTimeToSystemTime(0.0, nullptr));
}

// COM initialisation counts per thread; only the contacts application, in
// process and not aggregated, is offered, with the interfaces it has.
TEST_F(ServiceTest, CreateInstanceOffersOnlyWhatIsRegistered) {
  ASSERT_EQ(CoInitializeEx(nullptr, 0), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, 0), S_FALSE);
  const GUID unknown = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  const auto create = [](const GUID& clsid, IUnknown* outer, DWORD context, const GUID& iid) {
    void* object = &object;
    const HRESULT hr = CoCreateInstance(clsid, outer, context, iid, &object);
    EXPECT_EQ(object, nullptr);
    return hr;
  };
  const DWORD inproc = CLSCTX_INPROC_SERVER;
  EXPECT_EQ(create(unknown, nullptr, inproc, IID_IPOutlookApp), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(create(CLSID_Application, nullptr, 0x4, IID_IPOutlookApp), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(create(CLSID_Application, reinterpret_cast<IUnknown*>(8), inproc, IID_IPOutlookApp),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(create(CLSID_Application, nullptr, inproc, unknown), E_NOINTERFACE);
  CoUninitialize();
  CoUninitialize();
}

// A string keeps its byte length and ends in two zero bytes; freeing what is
// no block fails with ERROR_INVALID_HANDLE.
TEST_F(ServiceTest, StringKeepsItsByteLengthAndOnlyBlocksAreFreed) {
  BSTR text = SysAllocStringByteLen("abcde", 5);
  EXPECT_EQ(SysStringByteLen(text), 5u);
  EXPECT_EQ(SysStringLen(text), 2u);
  EXPECT_EQ(std::memcmp(text, "abcde\0\0", 7), 0);
  SysFreeString(text);
  int not_a_block = 0;
  EXPECT_EQ(LocalFree(&not_a_block), &not_a_block);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
}

}  // namespace
