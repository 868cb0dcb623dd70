// The fault table, tests/data/e2e/faults.tsv: every export made to fail at
// each fault point its call passes, one point at a time, each on a fresh
// device seeded as its row says. The row gives the result by the point hit;
// whatever the result, every point must leave no COM object or platform
// buffer held and no scratch file behind (unless deleting it was what
// failed), and must leave the device as before (a failed call) or as after
// the call without faults (a successful one), the host's output area
// untouched or as the call without faults filled it. The row's list of
// points must be what the call passes, so that a new fault point fails this
// test until its row says what it gives. A failed MZ_Init must succeed when
// called again. The file's head tells its format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"
#include "platform/message_store.h"
#include "platform/sound.h"
#include "platform/system.h"
#include "table.h"

namespace {

using e2e::Field;

// A fault point a call passes: its name, which of the points of that name it
// is (1-based) and its position among all the call passes.
struct FaultPoint {
  std::string name;
  int nth = 0;
  std::size_t position = 0;
};

// The failure injected at a point: E_OUTOFMEMORY for "alloc", a full disk
// for the C runtime's file calls, E_FAIL for interface methods and the free
// functions that return an HRESULT, else ERROR_INVALID_PARAMETER.
std::int32_t FailureFor(const std::string& point) {
  static const std::set<std::string> kHresultCalls = {
      "CoInitializeEx", "CoCreateInstance", "MAPIInitialize", "MAPILogonEx",
      "SmsOpen",        "SmsSendMessage",   "SmsClose",       "SndGetSoundDirectoriesList",
      "SndSetSound"};
  if (point == "alloc") return E_OUTOFMEMORY;
  if (point == "fopen" || point == "fwrite" || point == "fread" || point == "fseek") return ENOSPC;
  if (point.find("::") != std::string::npos || kHresultCalls.count(point) != 0) return E_FAIL;
  return static_cast<std::int32_t>(ERROR_INVALID_PARAMETER);
}

// What a call gave: its result and what it wrote where the host can see it,
// empty when it wrote nothing.
struct Outcome {
  int32_t result = 0;
  std::string out = {};
};

const MessageRecord kZeroRecord{};

void NoCallback(MessageRecord* record) {
  std::free(record);
}

// A call's argument as the argument table gives it; none: the call's own.
using Arg = std::optional<std::string>;
using Call = std::function<Outcome(const e2e::Library&, const Arg&)>;

// The argument as a number, `fallback` when there is none or it is a word.
std::int64_t Number(const Arg& a, std::int64_t fallback) {
  const bool number = a && !a->empty() && (std::isdigit(a->front()) || a->front() == '-');
  return number ? std::stoll(*a) : fallback;
}

// MZ_GetMessageInfo on the row's folder, else on `folder`.
Call NextMessage(std::uint32_t folder) {
  return [folder](const e2e::Library& mz, const Arg& a) {
    MessageRecord record{};
    const int32_t result = mz.MZ_GetMessageInfo(Number(a, folder), a == "null" ? nullptr : &record);
    if (std::memcmp(&record, &kZeroRecord, sizeof record) == 0) return Outcome{result, ""};
    return Outcome{result, "text:" + Field(record.text) + "\nid:" + Field(record.entryIdHex) +
                               "\naddress:" + Field(record.address) +
                               "\ntime:" + Field(record.timeText) +
                               "\nfolder:" + std::to_string(record.folder)};
  };
}

// The record of MZ_SetTelRingtone: event 0, a file sound's path (ASCII) with
// display name "R", and flag 1.
e2e::Record TelRecord(const std::string& path) {
  SNDFILEINFO sound{};
  for (std::size_t i = 0; i < path.size(); ++i) sound.szPathName[i] = path[i];
  sound.szDisplayName[0] = u'R';
  sound.sstType = SND_SOUNDTYPE_FILE;
  return e2e::Record(
      e2e::U32(0) + std::string(reinterpret_cast<const char*>(&sound), sizeof sound) + e2e::U32(1));
}

// An export that takes a record: `record` makes it of the row's argument, else
// of `own`; "null": no record.
Call WithRecord(decltype(&::MZ_SetTheme) e2e::Library::*call,
                e2e::Record (*record)(const std::string&), const std::string& own) {
  return [=](const e2e::Library& mz, const Arg& a) {
    const e2e::Record input = record(a == "null" ? own : a.value_or(own));
    return Outcome{(mz.*call)(0, a == "null" ? nullptr : input.data())};
  };
}

// The call of each row by its name, with the row's argument; MZ_Init and
// MZ_Done go through the test's `session`, which closes it at the end.
std::map<std::string, Call> Calls(E2eTest* session) {
  using L = const e2e::Library&;
  using A = const Arg&;
  return {
      {"MZ_Init", [session](L, A) { return Outcome{session->Init()}; }},
      {"MZ_Done", [session](L, A) { return session->Done(), Outcome{}; }},
      {"MZ_RegisterCallback", [](L mz, A) { return Outcome{mz.MZ_RegisterCallback(&NoCallback)}; }},
      {"MZ_GetContactsCount",
       [](L mz, A a) {
         int32_t n = 12345;
         const int32_t result = mz.MZ_GetContactsCount(a == "null" ? nullptr : &n);
         return Outcome{result, n != 0 ? std::to_string(n) : ""};
       }},
      {"MZ_GetContactInfo",
       [](L mz, A a) {
         ContactTransfer area = e2e::Transfer("", "");
         const auto position = static_cast<int32_t>(Number(a, 1));
         const int32_t result = mz.MZ_GetContactInfo(position, a == "null" ? nullptr : &area);
         const std::string id = Field(area.contactId);
         return Outcome{result, id.empty() ? "" : Field(area.vcard) + "id " + id};
       }},
      {"MZ_WriteContact",
       [](L mz, A a) {
         const ContactTransfer card = e2e::Transfer(e2e::VCard("TEL;CELL:2\r\n"), a.value_or("1"));
         return Outcome{mz.MZ_WriteContact(a == "null" ? nullptr : &card)};
       }},
      {"MZ_AddContact",
       [](L mz, A a) {
         const ContactTransfer card = e2e::Transfer(e2e::VCard("N:Doe;John\r\nTEL;CELL:12\r\n"));
         char id[MZ_NEW_ID_SIZE] = {};
         const auto size = static_cast<uint32_t>(Number(a, sizeof id));
         return Outcome{
             mz.MZ_AddContact(a == "null" ? nullptr : &card, a == "null id" ? nullptr : id, size),
             Field(id)};
       }},
      {"MZ_DeleteContact",
       [](L mz, A a) {
         return Outcome{mz.MZ_DeleteContact(!a ? "3" : a == "null" ? nullptr : a->c_str())};
       }},
      {"MZ_DeleteAllContacts", [](L mz, A) { return Outcome{mz.MZ_DeleteAllContacts()}; }},
      {"MZ_GetMessagesCount",
       [](L mz, A a) {
         uint32_t n = 12345;
         const auto folder = static_cast<uint32_t>(Number(a, MZ_FOLDER_INBOX));
         const int32_t result = mz.MZ_GetMessagesCount(folder, a == "null" ? nullptr : &n);
         return Outcome{result, n != 0 ? std::to_string(n) : ""};
       }},
      {"MZ_StartGetMessage",
       [](L mz, A a) { return Outcome{mz.MZ_StartGetMessage(Number(a, MZ_FOLDER_INBOX))}; }},
      {"MZ_GetMessageInfo inbox", NextMessage(MZ_FOLDER_INBOX)},
      {"MZ_GetMessageInfo sent", NextMessage(MZ_FOLDER_SENT)},
      {"MZ_DeleteMessage",
       [](L mz, A a) {
         const std::string argument = a.value_or("1 abcd"),
                           id = argument.substr(argument.find(' ') + 1);
         return Outcome{
             mz.MZ_DeleteMessage(std::stoul(argument), id == "null" ? nullptr : id.c_str())};
       }},
      {"MZ_DeleteAllMessages",
       [](L mz, A a) { return Outcome{mz.MZ_DeleteAllMessages(Number(a, MZ_FOLDER_OUTBOX))}; }},
      {"MZ_SendMessage",
       [](L mz, A a) {
         const std::string argument = a.value_or("+15550123|hi");
         const std::string number = argument.substr(0, argument.find('|'));
         const std::string text = argument.substr(number.size() + 1);
         return Outcome{mz.MZ_SendMessage(number == "null" ? nullptr : number.c_str(),
                                          text == "null" ? nullptr : text.c_str())};
       }},
      {"MZ_GetSoundDirectoriesList",
       [](L mz, A a) {
         const e2e::Record input(e2e::U32(Number(a, 0)) + e2e::U32(SND_LOCATION_SYSTEM) +
                                 std::string(8, 0));
         uint32_t size = 99;
         void* block = &size;  // both cleared first
         const int32_t result =
             mz.MZ_GetSoundDirectoriesList(0, a == "null" ? nullptr : input.data(), &size, &block);
         const std::string out = size != 0 || block != nullptr
                                     ? std::to_string(size) + (block ? " block" : " no block")
                                     : "";
         if (block != &size) LocalFree(block);
         return Outcome{result, out};
       }},
      {"MZ_SetTelRingtone",
       WithRecord(&e2e::Library::MZ_SetTelRingtone, TelRecord, "\\Windows\\tel.wav")},
      {"MZ_SetSMSRingtone",
       WithRecord(&e2e::Library::MZ_SetSMSRingtone, e2e::Input, "26:\\My Documents|16:ring.wav")},
      {"MZ_SetTheme", WithRecord(&e2e::Library::MZ_SetTheme, e2e::Input, "6:abc")},
  };
}

// What a seed word puts on the device; "session" is opened by the test.
void Seed(const std::string& word) {
  if (word == "contact") {
    e2e::Properties contact;  // every property the store has, and a birthday
    for (const auto& row : e2e::Table("full_contact.txt", 1)) contact.merge(e2e::Props({row[0]}));
    e2e::SeedContact(contact);
  } else if (word == "contacts3") {
    for (const char* name : {"A", "B", "C"}) emulator::SeedContact({{"FirstName", name}});
  } else if (word == "outbox") {
    emulator::MessageSeed doomed;
    doomed.folder = "Outbox";
    doomed.subject = "doomed";
    doomed.entryId = "\xab\xcd";
    emulator::SeedMessage(doomed);
  } else if (word == "link") {  // the scratch file a link out of the device
    std::filesystem::create_symlink(
        e2e::ScratchFile().parent_path().parent_path().parent_path() / "out", e2e::ScratchFile());
  } else if (word == "sounds") {
    for (const char* path :
         {"\\Windows\\tel.wav", "\\My Documents\\ring.wav", "\\Windows\\ring.wav"})
      e2e::WriteHostFile(path, "RIFF sound");
  } else {
    ADD_FAILURE() << "unknown seed " << word;
  }
}

// Whether the lines of `text` are, in order, lines of `full` or changed
// forms of them with the same name (what comes before the first ';' or
// ':'): what failed reads of single properties or fields may make of it.
bool DegradesFrom(const std::string& text, const std::string& full) {
  const auto name = [](const std::string& line) {
    return line.substr(0, line.find_first_of(";:"));
  };
  std::istringstream have(text), want(full);
  std::string candidate;
  for (std::string line; std::getline(have, line);) {
    while (std::getline(want, candidate) && name(candidate) != name(line)) {
    }
    if (!want) return false;
  }
  return true;
}

std::string Key(const FaultPoint& point) {
  return point.name + "#" + std::to_string(point.nth);
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// A row of the table; marks and overrides by "NAME#n", or by "NAME" for
// overrides that hold for every point of that name.
struct Row {
  std::string name, points;
  std::vector<std::string> seed;
  int32_t ok = 0, first = 0;
  std::map<std::string, int32_t> marks = {};
  std::map<std::string, std::string> overrides = {};

  // The result of the phase `point` is in.
  int32_t Phase(const FaultPoint& point, const std::vector<FaultPoint>& trace) const {
    int32_t result = first;
    for (std::size_t i = 0; i <= point.position; ++i) {
      if (const auto mark = marks.find(Key(trace[i])); mark != marks.end()) result = mark->second;
    }
    return result;
  }
  std::string Override(const FaultPoint& point) const {
    for (const std::string& key : {Key(point), point.name}) {
      if (overrides.count(key) != 0) return overrides.at(key);
    }
    return "";
  }
};
void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}

std::vector<Row> Rows() {
  std::vector<Row> rows;
  for (const std::vector<std::string>& cells : e2e::Table("faults.tsv", 6)) {
    const std::vector<std::string> phases = Words(cells[3]);
    Row row{cells[0], cells[5], Words(cells[1]), std::stoi(cells[2]), std::stoi(phases.at(0))};
    for (std::size_t i = 1; i + 1 < phases.size(); i += 2) {
      const bool nth = phases[i].find('#') != std::string::npos;
      row.marks[phases[i] + (nth ? "" : "#1")] = std::stoi(phases[i + 1]);
    }
    for (const std::string& word : Words(cells[4])) {
      row.overrides[word.substr(0, word.find('='))] = word.substr(word.find('=') + 1);
    }
    rows.push_back(row);
  }
  return rows;
}

// A row of the argument table.
struct ArgumentRow {
  std::string name;
  Arg argument;
  std::vector<std::string> seed;
  int32_t result;
  std::string out, changes;
};
void PrintTo(const ArgumentRow& row, std::ostream* out) {
  *out << row.name << " " << row.argument.value_or("(its own)");
}

std::vector<ArgumentRow> ArgumentRows() {
  std::vector<ArgumentRow> rows;
  for (const std::vector<std::string>& cells : e2e::Table("arguments.tsv", 6)) {
    const Arg argument = cells[1].empty() ? Arg() : cells[1] == "\"\"" ? "" : cells[1];
    rows.push_back({cells[0], argument, Words(cells[2]), std::stoi(cells[3]), cells[4], cells[5]});
  }
  return rows;
}

// The lines `after` has and `before` has not ("+LINE"), then the reverse
// ("-LINE"), with " | " between them.
std::string Changes(const std::string& before, const std::string& after) {
  std::map<std::string, int> gained;  // by line: times in `after` less times in `before`
  for (const auto& [text, step] : {std::pair{&after, 1}, std::pair{&before, -1}}) {
    std::istringstream in(*text);
    for (std::string line; std::getline(in, line);) gained[line] += step;
  }
  std::string text;
  for (const auto& [sign, step] : {std::pair{"+", 1}, std::pair{"-", -1}}) {
    for (const auto& [line, n] : gained) {
      for (int i = 0; i < n * step; ++i) text += (text.empty() ? "" : " | ") + (sign + line);
    }
  }
  return text;
}

// The points of a trace by name in order of first passing, "NAME*n" for a
// name passed n > 1 times.
std::string Summary(const std::vector<FaultPoint>& trace) {
  std::string summary;
  for (const FaultPoint& first : trace) {
    const auto n = std::count_if(trace.begin(), trace.end(),
                                 [&](const FaultPoint& point) { return point.name == first.name; });
    if (first.nth != 1) continue;
    summary += (summary.empty() ? "" : " ") + first.name + (n > 1 ? "*" + std::to_string(n) : "");
  }
  return summary;
}

class TableE2e : public E2eTest {
 protected:
  // A fresh device holding the row's seed, with a session when it says so.
  void Prepare(const std::vector<std::string>& seed) {
    NewDevice();
    for (const std::string& word : seed) {
      if (word == "session") {
        ASSERT_EQ(Init(), MZ_OK);
      } else if (word == "done") {
        Done();
      } else {
        Seed(word);
      }
    }
  }
  // The session closed, the scratch file removed and nothing held.
  void Finish() {
    if (SessionOpen()) Done();
    std::filesystem::remove(e2e::ScratchFile());
    ExpectNothingHeld();
  }
};
class FaultTableE2e : public TableE2e, public testing::WithParamInterface<Row> {};
class ArgumentTableE2e : public TableE2e, public testing::WithParamInterface<ArgumentRow> {};

// The rows' exports are the library's exports (host/library.h) and its
// dynamic symbols as `nm -D --defined-only` lists them: nothing else.
TEST(FaultTable, HasARowForEveryExportAndTheLibraryNoOtherSymbol) {
  std::set<std::string> rows, symbols;
  for (const Row& row : Rows()) rows.insert(row.name.substr(0, row.name.find(' ')));
#define EXPORT_NAME(name) #name,
  EXPECT_EQ(rows, (std::set<std::string>{MZHOST_FOR_EACH_EXPORT(EXPORT_NAME)}));
#undef EXPORT_NAME
  std::FILE* nm = popen(("nm -D --defined-only '" + std::string(MZ_LIBRARY) + "'").c_str(), "r");
  ASSERT_NE(nm, nullptr);
  for (char line[512]; std::fgets(line, sizeof line, nm) != nullptr;) {
    const std::vector<std::string> words = Words(line);  // address, type, name
    if (!words.empty()) symbols.insert(words.back());
  }
  EXPECT_EQ(pclose(nm), 0);
  EXPECT_EQ(symbols, rows);
}

TEST_P(FaultTableE2e, EveryPointGivesItsResultAndLeavesTheDeviceWhole) {
  const Row& row = GetParam();
  const auto call = [c = Calls(this).at(row.name)](const e2e::Library& mz) { return c(mz, {}); };
  Prepare(row.seed);
  emulator::StartTrace();
  const Outcome traced = call(mz());
  std::vector<FaultPoint> trace;
  std::map<std::string, int> seen;
  for (const std::string& name : emulator::StopTrace()) {
    trace.push_back({name, ++seen[name], trace.size()});
  }
  ASSERT_EQ(traced.result, row.ok);
  EXPECT_EQ(Summary(trace), row.points) << "the points the call passes";
  EXPECT_FALSE(e2e::ScratchFileExists());
  Finish();
  const std::string after = DeviceSnapshot(e2e::ScratchFile());
  for (const FaultPoint& point : trace) {
    const std::string flags = row.Override(point);
    if (flags == "skip") continue;
    SCOPED_TRACE(Key(point) + " (point " + std::to_string(point.position) + ")");
    Prepare(row.seed);
    const std::string before = DeviceSnapshot(e2e::ScratchFile());
    emulator::InjectFault(point.name, point.nth, FailureFor(point.name));
    const Outcome outcome = call(mz());
    EXPECT_GE(emulator::CallCount(point.name), point.nth) << "the point was reached";
    emulator::ClearFaults();
    // A failed MZ_Init, called again, opens what is missing (the contacts
    // too: they can be counted) and holds no more.
    if (row.name == "MZ_Init" && outcome.result != MZ_OK) {
      EXPECT_EQ(Init(), MZ_OK);
      int32_t count = -1;
      EXPECT_EQ(mz().MZ_GetContactsCount(&count), MZ_OK);
    }
    EXPECT_EQ(e2e::ScratchFileExists(), point.name == "DeleteFileW");
    Finish();
    EXPECT_EQ(outcome.result, flags.empty() ? row.Phase(point, trace) : std::stoi(flags));
    const bool ok = outcome.result == row.ok;
    const std::size_t tilde = flags.find('~');
    if (flags.find('<') != std::string::npos) {
      EXPECT_NE(outcome.out, traced.out);
      EXPECT_TRUE(DegradesFrom(outcome.out, traced.out)) << outcome.out;
    } else if (tilde == std::string::npos) {
      EXPECT_EQ(outcome.out, ok ? traced.out : "");
    } else if (std::string text = flags.substr(tilde + 1); !text.empty()) {
      std::replace(text.begin(), text.end(), '_', ' ');
      EXPECT_EQ(outcome.out, text == "-" ? "" : text);
    }
    if (flags.find('!') == std::string::npos) {
      EXPECT_EQ(DeviceSnapshot(e2e::ScratchFile()), ok ? after : before);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultTableE2e, testing::ValuesIn(Rows()),
                         [](const auto& info) { return TestName(info.param.name); });

// The argument table, tests/data/e2e/arguments.tsv: exports called with
// arguments they refuse, cut or take as they are, with or without a session,
// each on a fresh device seeded as its row says; the row gives the result,
// what the host sees and how the device changes. The file's head tells its
// format.
TEST_P(ArgumentTableE2e, CallGivesItsResultOutputAndChanges) {
  const ArgumentRow& row = GetParam();
  Prepare(row.seed);
  const std::string before = DeviceSnapshot(e2e::ScratchFile());
  const Outcome outcome = Calls(this).at(row.name)(mz(), row.argument);
  EXPECT_FALSE(e2e::ScratchFileExists());
  Finish();
  EXPECT_EQ(outcome.result, row.result);
  EXPECT_EQ(outcome.out, row.out);
  EXPECT_EQ(Changes(before, DeviceSnapshot(e2e::ScratchFile())), row.changes);
}

INSTANTIATE_TEST_SUITE_P(Rows, ArgumentTableE2e, testing::ValuesIn(ArgumentRows()),
                         [](const auto& info) {
                           return TestName(info.param.name + " " + std::to_string(info.index));
                         });

}  // namespace
