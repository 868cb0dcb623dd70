// The fault table, tests/data/e2e/faults.tsv: every export made to fail at
// each fault point its call passes, one point at a time, each on a fresh
// device seeded as its row says. The row gives the result by the point hit;
// whatever the result, every point must leave no COM object or platform
// buffer held and no scratch file behind (unless deleting it was what
// failed), and must leave the device as before (a failed call) or as after
// the call without faults (a successful one), the host's output area
// untouched or as the call without faults filled it. The row's list of
// points must be what the call passes, so that a new fault point fails this
// test until its row says what it gives. The file's head tells its format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"
#include "platform/message_store.h"
#include "platform/sound.h"
#include "platform/system.h"

namespace {

using e2e::Field;

// A fault point a call passes: its name, which of the points of that name it
// is (1-based) and its position among all the call passes.
struct FaultPoint {
  std::string name;
  int nth = 0;
  std::size_t position = 0;
};
std::ostream& operator<<(std::ostream& out, const FaultPoint& point) {
  return out << point.name << " #" << point.nth << " (point " << point.position << ")";
}

std::vector<FaultPoint> Trace(const std::function<void()>& call) {
  emulator::StartTrace();
  call();
  std::vector<FaultPoint> points;
  std::map<std::string, int> seen;
  for (const std::string& name : emulator::StopTrace()) {
    points.push_back({name, ++seen[name], points.size()});
  }
  return points;
}

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
  Outcome(int32_t r = 0, std::string o = "") : result(r), out(std::move(o)) {}
  int32_t result;
  std::string out;
};

const MessageRecord kZeroRecord{};

void NoCallback(MessageRecord* record) {
  std::free(record);
}

Outcome NextMessage(const e2e::Library& mz, MessageFolder folder) {
  MessageRecord record{};
  const int32_t result = mz.MZ_GetMessageInfo(folder, &record);
  if (std::memcmp(&record, &kZeroRecord, sizeof record) == 0) return {result, ""};
  return {result, "text:" + Field(record.text) + "\nid:" + Field(record.entryIdHex) +
                      "\naddress:" + Field(record.address) + "\ntime:" + Field(record.timeText) +
                      "\nfolder:" + std::to_string(record.folder)};
}

// The call of each row by its name; MZ_Init and MZ_Done go through the test's
// `session`, which closes the session at the end.
std::map<std::string, std::function<Outcome(const e2e::Library&)>> Calls(E2eTest* session) {
  using L = const e2e::Library&;
  return {
      {"MZ_Init", [session](L) { return Outcome{session->Init()}; }},
      {"MZ_Done", [session](L) { return session->Done(), Outcome{}; }},
      {"MZ_RegisterCallback", [](L mz) { return Outcome{mz.MZ_RegisterCallback(&NoCallback)}; }},
      {"MZ_GetContactsCount",
       [](L mz) {
         int32_t n = 12345;
         const int32_t result = mz.MZ_GetContactsCount(&n);
         return Outcome{result, n != 0 ? std::to_string(n) : ""};
       }},
      {"MZ_GetContactInfo",
       [](L mz) {
         ContactTransfer area = e2e::Transfer("", "");
         const int32_t result = mz.MZ_GetContactInfo(1, &area);
         const std::string id = Field(area.contactId);
         return Outcome{result, id.empty() ? "" : Field(area.vcard) + "id " + id};
       }},
      {"MZ_WriteContact",
       [](L mz) {
         const ContactTransfer card = e2e::Transfer(e2e::VCard("TEL;CELL:2\r\n"), "1");
         return Outcome{mz.MZ_WriteContact(&card)};
       }},
      {"MZ_AddContact",
       [](L mz) {
         const ContactTransfer card = e2e::Transfer(e2e::VCard("N:Doe;John\r\nTEL;CELL:12\r\n"));
         char id[MZ_NEW_ID_SIZE] = {};
         return Outcome{mz.MZ_AddContact(&card, id, sizeof id), Field(id)};
       }},
      {"MZ_DeleteContact", [](L mz) { return Outcome{mz.MZ_DeleteContact("3")}; }},
      {"MZ_DeleteAllContacts", [](L mz) { return Outcome{mz.MZ_DeleteAllContacts()}; }},
      {"MZ_GetMessagesCount",
       [](L mz) {
         uint32_t n = 12345;
         const int32_t result = mz.MZ_GetMessagesCount(MZ_FOLDER_INBOX, &n);
         return Outcome{result, n != 0 ? std::to_string(n) : ""};
       }},
      {"MZ_StartGetMessage", [](L mz) { return Outcome{mz.MZ_StartGetMessage(MZ_FOLDER_INBOX)}; }},
      {"MZ_GetMessageInfo inbox", [](L mz) { return NextMessage(mz, MZ_FOLDER_INBOX); }},
      {"MZ_GetMessageInfo sent", [](L mz) { return NextMessage(mz, MZ_FOLDER_SENT); }},
      {"MZ_DeleteMessage",
       [](L mz) { return Outcome{mz.MZ_DeleteMessage(MZ_FOLDER_OUTBOX, "0102")}; }},
      {"MZ_DeleteAllMessages",
       [](L mz) { return Outcome{mz.MZ_DeleteAllMessages(MZ_FOLDER_OUTBOX)}; }},
      {"MZ_SendMessage", [](L mz) { return Outcome{mz.MZ_SendMessage("+15550123", "hi")}; }},
      {"MZ_GetSoundDirectoriesList",
       [](L mz) {
         const e2e::Record input(e2e::U32(0) + e2e::U32(SND_LOCATION_SYSTEM) + std::string(8, 0));
         uint32_t size = 0;
         void* block = nullptr;
         const int32_t result = mz.MZ_GetSoundDirectoriesList(0, input.data(), &size, &block);
         const std::string out = size != 0 || block != nullptr
                                     ? std::to_string(size) + (block ? " block" : " no block")
                                     : "";
         LocalFree(block);
         return Outcome{result, out};
       }},
      {"MZ_SetTelRingtone",
       [](L mz) {
         const e2e::Record input = e2e::TelRecord(0, "\\Windows\\tel.wav", 1);
         return Outcome{mz.MZ_SetTelRingtone(0, input.data())};
       }},
      {"MZ_SetSMSRingtone",
       [](L mz) {
         const e2e::Record input = e2e::SmsRecord("\\My Documents", "ring.wav");
         return Outcome{mz.MZ_SetSMSRingtone(0, input.data())};
       }},
      {"MZ_SetTheme",
       [](L mz) {
         const e2e::Record input(e2e::U32(6) + e2e::Utf16("abc"));
         return Outcome{mz.MZ_SetTheme(0, input.data())};
       }},
  };
}

// What a seed word puts on the device; "session" is opened by the test.
void Seed(const std::string& word) {
  if (word == "contact") {
    emulator::SeedContact(e2e::kFullContact, e2e::kFullBirthday);
  } else if (word == "contacts3") {
    for (const char* name : {"A", "B", "C"}) emulator::SeedContact({{"FirstName", name}});
  } else if (word == "outbox") {
    emulator::MessageSeed doomed;
    doomed.folder = "Outbox";
    doomed.subject = "doomed";
    doomed.entryId = "\x01\x02";
    emulator::SeedMessage(doomed);
  } else if (word == "sounds") {
    e2e::WriteHostFile("\\Windows\\tel.wav", "RIFF tel");
    e2e::WriteHostFile("\\My Documents\\ring.wav", "RIFF ring");
    e2e::WriteHostFile("\\Windows\\ring.wav", "RIFF ring");
  } else {
    ADD_FAILURE() << "unknown seed " << word;
  }
}

// Everything on the device a call may change, but for the scratch file and
// the times the platform stamps.
std::string Snapshot() {
  std::ostringstream text;
  for (const std::uint32_t oid : emulator::ContactOids()) {
    text << "contact " << oid << " " << e2e::Birthday(oid);
    for (const auto& [name, value] : e2e::Stored(oid)) text << " " << name << "=" << value;
    text << "\n";
  }
  for (const std::string& folder : emulator::StandardFolderNames()) {
    for (const auto& message : emulator::ListMessages("SMS", folder)) {
      text << folder << " " << e2e::Hex(message.entryId) << " " << message.subject.value_or("")
           << "\n";
    }
  }
  for (const auto& [name, value] : emulator::DumpRegistry()) {
    text << name << " " << value.type << " " << e2e::Hex({value.data.begin(), value.data.end()})
         << "\n";
  }
  for (const auto& sms : emulator::SentMessages())
    text << "sent " << sms.address << sms.text << "\n";
  for (const auto& launch : emulator::Launches()) text << "launch " << launch.commandLine << "\n";
  const std::filesystem::path fs = emulator::HostPath("\\");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(fs)) {
    if (entry.path() != e2e::ScratchFile()) {
      text << "file " << entry.path().lexically_relative(fs).string() << "\n";
    }
  }
  return text.str();
}

// Whether the lines of `text` are, in order, lines of `full` or changed
// forms of them with the same name (what comes before the first ';' or
// ':'): what failed reads of single properties or fields may make of it.
bool DegradesFrom(const std::string& text, const std::string& full) {
  const auto name = [](const std::string& line) {
    return line.substr(0, line.find_first_of(";:"));
  };
  std::istringstream have(text), want(full);
  std::string line, candidate;
  while (std::getline(have, line)) {
    do {
      if (!std::getline(want, candidate)) return false;
    } while (name(candidate) != name(line));
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
  std::map<std::string, int32_t> marks;
  std::map<std::string, std::string> overrides;

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
  std::ifstream in(std::string(E2E_DATA_DIR) + "/faults.tsv");
  std::vector<Row> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
    cells.resize(6);
    const std::vector<std::string> phases = Words(cells[3]);
    Row row{cells[0], cells[5], Words(cells[1]), std::stoi(cells[2]), std::stoi(phases.at(0)),
            {},       {}};
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

// The points of a trace by name in order of first passing, "NAME*n" for a
// name passed n > 1 times.
std::string Summary(const std::vector<FaultPoint>& trace) {
  std::vector<std::string> names;
  std::map<std::string, int> counts;
  for (const auto& point : trace) {
    if (counts[point.name]++ == 0) names.push_back(point.name);
  }
  std::string summary;
  for (const std::string& name : names) {
    summary += (summary.empty() ? "" : " ") + name;
    if (counts[name] > 1) summary += "*" + std::to_string(counts[name]);
  }
  return summary;
}

class FaultTableE2e : public E2eTest, public testing::WithParamInterface<Row> {
 protected:
  // A fresh device holding the row's seed, with a session when it says so.
  void Prepare(const Row& row) {
    NewDevice();
    for (const std::string& word : row.seed) {
      if (word == "session") {
        ASSERT_EQ(Init(), MZ_OK);
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

// The rows' exports are the library's exports (host/library.h) and its
// dynamic symbols as `nm -D --defined-only` lists them: nothing else.
TEST(FaultTable, HasARowForEveryExportAndTheLibraryNoOtherSymbol) {
  std::set<std::string> rows, symbols;
  for (const Row& row : Rows()) rows.insert(row.name.substr(0, row.name.find(' ')));
  const std::vector<std::string>& built = e2e::BuiltExports();
  EXPECT_EQ(rows, std::set<std::string>(built.begin(), built.end()));
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
  const auto call = Calls(this).at(row.name);
  Prepare(row);
  Outcome traced;
  const std::vector<FaultPoint> trace = Trace([&] { traced = call(mz()); });
  ASSERT_EQ(traced.result, row.ok);
  EXPECT_EQ(Summary(trace), row.points) << "the points the call passes";
  EXPECT_FALSE(e2e::ScratchFileExists());
  Finish();
  const std::string after = Snapshot();
  for (const FaultPoint& point : trace) {
    const std::string flags = row.Override(point);
    if (flags == "skip") continue;
    SCOPED_TRACE(testing::Message() << point);
    Prepare(row);
    const std::string before = Snapshot();
    emulator::InjectFault(point.name, point.nth, FailureFor(point.name));
    const Outcome outcome = call(mz());
    EXPECT_GE(emulator::CallCount(point.name), point.nth) << "the point was reached";
    emulator::ClearFaults();
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
      EXPECT_EQ(Snapshot(), ok ? after : before);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultTableE2e, testing::ValuesIn(Rows()),
                         [](const testing::TestParamInfo<Row>& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

}  // namespace
