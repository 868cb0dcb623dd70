// mzhost messages (count, list, export, delete, clear, watch) and sms send.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device_lock.h"
#include "host.h"
#include "message_export.h"
#include "output_file.h"
#include "text.h"

namespace mzhost {
namespace {

// New messages waiting for a watch to take them; later ones are dropped,
// and the watch says how many.
constexpr std::size_t kMostWaiting = 1000;

template <std::size_t N>
std::string Field(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// A record's fields; callback records carry their texts in Windows-1252.
Message FromRecord(const MessageRecord& record, bool ansi) {
  Message message;
  message.entryId = Field(record.entryIdHex);
  message.time = Field(record.timeText);
  message.address = ansi ? AnsiToUtf8(Field(record.address)) : Field(record.address);
  message.text = ansi ? AnsiToUtf8(Field(record.text)) : Field(record.text);
  message.folder = record.folder;
  message.recordSize = record.recordSize;
  return message;
}

std::string Quoted(MessageFolder folder) {
  return std::string("'") + FolderName(folder) + "'";
}

// Fails with words for a folder export's result other than success.
void CheckFolderResult(const char* exportName, int32_t result, MessageFolder folder,
                       const std::string& refusal) {
  if (result == MZ_OK) return;
  if (result == MZ_E_BAD_ARGUMENT) {
    Refused(exportName, result, "folder " + Quoted(folder) + " is not open");
  }
  Refused(exportName, result, result == MZ_E_FAILED ? refusal : DescribeResult(result));
}

}  // namespace

bool IsEntryId(const std::string& text) {
  if (text.empty() || text.size() % 2 != 0) return false;
  for (unsigned char c : text) {
    if (!std::isxdigit(c)) return false;
  }
  return true;
}

uint32_t CountMessages(Host& host, MessageFolder folder) {
  uint32_t count = 0;
  CheckFolderResult("MZ_GetMessagesCount", host.mz.MZ_GetMessagesCount(folder, &count), folder,
                    "the phone could not count the messages in " + Quoted(folder));
  return count;
}

std::vector<Message> ReadFolder(Host& host, MessageFolder folder) {
  CheckFolderResult("MZ_StartGetMessage", host.mz.MZ_StartGetMessage(folder), folder,
                    "the phone could not open " + Quoted(folder) + " for reading");
  std::vector<Message> messages;
  for (;;) {
    CheckInterrupt();
    MessageRecord record{};
    const int32_t result = host.mz.MZ_GetMessageInfo(folder, &record);
    if (result == MZ_E_NO_MORE) break;
    CheckFolderResult("MZ_GetMessageInfo", result, folder,
                      "the phone could not read message " + std::to_string(messages.size() + 1) +
                          " of " + Quoted(folder));
    messages.push_back(FromRecord(record, false));
  }
  return messages;
}

void DeleteMessage(Host& host, MessageFolder folder, const std::string& id) {
  if (!IsEntryId(id)) {
    throw UsageError{"'" + id + "' is not an entry id (hex digits, as 'messages list' shows)"};
  }
  const int32_t result = host.mz.MZ_DeleteMessage(folder, id.c_str());
  if (result == MZ_E_FAILED) {
    // The library answers -1 both for an id the folder lacks and for a
    // refusal; the folder's listing tells the two apart.
    bool present = false;
    for (const auto& m : ReadFolder(host, folder)) {
      present = present || strcasecmp(m.entryId.c_str(), id.c_str()) == 0;
    }
    if (!present) {
      throw NotFound{
          {"no message in " + Quoted(folder) + " has entry id " + id, "MZ_DeleteMessage", result}};
    }
    Refused("MZ_DeleteMessage", result, "the phone refused to delete message " + id);
  }
  CheckFolderResult("MZ_DeleteMessage", result, folder, "");
}

uint32_t ClearFolder(Host& host, MessageFolder folder) {
  const uint32_t count = CountMessages(host, folder);
  CheckFolderResult("MZ_DeleteAllMessages", host.mz.MZ_DeleteAllMessages(folder), folder,
                    "the phone refused to empty " + Quoted(folder));
  return count;
}

namespace {

std::string JsonMessage(const Message& m) {
  return JsonObject({{"folder", JsonNumber(m.folder)},
                     {"entryId", JsonText(m.entryId)},
                     {"time", JsonText(m.time)},
                     {"address", JsonText(m.address)},
                     {"text", JsonText(m.text)}});
}

void List(Host& host, MessageFolder folder) {
  const std::vector<Message> messages = ReadFolder(host, folder);
  if (host.json) {
    std::vector<std::string> rows;
    for (const auto& m : messages) rows.push_back(JsonMessage(m));
    PrintLine(JsonArray(rows, true));
    return;
  }
  PrintLine(std::string(FolderName(folder)) + ": " + std::to_string(messages.size()) +
            (messages.size() == 1 ? " message" : " messages"));
  if (!messages.empty()) {
    PrintLine("  " + FitColumn("ENTRY ID", 48) + "  " + FitColumn("TIME", 19) + "  " +
              FitColumn("ADDRESS", 20) + "  TEXT");
  }
  for (const auto& m : messages) PrintMessage(host, m);
}

void Delete(Host& host, MessageFolder folder, const std::string& id) {
  DeleteMessage(host, folder, id);
  PrintLine(host.json ? JsonObject({{"deleted", JsonText(id)}, {"folder", JsonNumber(folder)}})
                      : "deleted message " + id + " from " + Quoted(folder));
}

void Clear(Host& host, MessageFolder folder) {
  const uint32_t count = ClearFolder(host, folder);
  PrintLine(host.json ? JsonObject({{"deleted", JsonNumber(count)}, {"folder", JsonNumber(folder)}})
                      : "deleted all " + std::to_string(count) + " messages in " + Quoted(folder));
}

// What `messages export` was asked for.
struct ExportRequest {
  std::vector<MessageFolder> folders;
  ExportFormat format = ExportFormat::kJson;
  std::string path;  // empty: standard output
};

ExportRequest ParseExport(const std::vector<std::string>& args) {
  const UsageError usage{
      "usage: mzhost messages export [FOLDER|all] [--format json|csv] [-o FILE]"};
  ExportRequest request;
  std::string folder = "all";
  bool folderGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if ((arg == "--format" || arg == "-o") && i + 1 < args.size() && !args[i + 1].empty()) {
      const std::string& value = args[++i];
      if (arg == "-o") {
        request.path = value;
      } else if (value == "json" || value == "csv") {
        request.format = value == "json" ? ExportFormat::kJson : ExportFormat::kCsv;
      } else {
        throw UsageError{"unknown export format '" + value + "' (json or csv)"};
      }
    } else if (!arg.starts_with("-") && !folderGiven) {
      folder = arg;
      folderGiven = true;
    } else {
      throw usage;
    }
  }
  if (strcasecmp(folder.c_str(), "all") == 0) {
    request.folders = {MZ_FOLDER_INBOX, MZ_FOLDER_OUTBOX, MZ_FOLDER_SENT, MZ_FOLDER_DRAFTS,
                       MZ_FOLDER_DELETED};
  } else {
    request.folders = {ParseFolder(folder)};
  }
  return request;
}

void Export(Host& host, const std::vector<std::string>& args) {
  const ExportRequest request = ParseExport(args);
  std::unique_ptr<OutputFile> file;
  if (!request.path.empty()) file = std::make_unique<OutputFile>(request.path);
  std::vector<Message> messages;
  for (MessageFolder folder : request.folders) {
    std::vector<Message> read = ReadFolder(host, folder);
    messages.insert(messages.end(), read.begin(), read.end());
  }
  WriteTo(file.get(), ExportText(messages, request.format));
  if (!file) {
    FlushOut();
    return;
  }
  file->Commit();
  PrintLine(host.json
                ? JsonObject({{"exported", JsonNumber(static_cast<long long>(messages.size()))},
                              {"file", JsonText(request.path)}})
                : "exported " + std::to_string(messages.size()) + " message" +
                      (messages.size() == 1 ? "" : "s") + " to " + request.path);
}

// What `messages watch` was asked for.
struct WatchRequest {
  uint32_t stopAfter = 0;            // 0: until interrupted
  std::vector<std::string> program;  // empty: print each message
};

WatchRequest ParseWatch(const std::vector<std::string>& args) {
  WatchRequest request;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--count" && i + 1 < args.size()) {
      request.stopAfter = ParseNumber(args[++i], "message count");
      if (request.stopAfter == 0) throw UsageError{"--count takes a number of messages from 1 up"};
    } else if (args[i] == "--exec" && i + 1 < args.size()) {
      request.program.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else {
      throw UsageError{"usage: mzhost messages watch [--count N] [--exec PROGRAM [ARG...]]"};
    }
  }
  return request;
}

// A line on stderr that does not end the watch.
void Note(const Host& host, const std::string& words) {
  const std::string line =
      host.json ? JsonObject({{"error", JsonText(words)}}) : "mzhost: " + words;
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

// This process's environment with the message's fields in MZ_FOLDER,
// MZ_ENTRY_ID, MZ_ADDRESS, MZ_TIME and MZ_TEXT, in place of any there.
std::vector<std::string> ActionEnvironment(const Message& m) {
  std::vector<std::string> env = {std::string("MZ_FOLDER=") + FolderName(m.folder),
                                  "MZ_ENTRY_ID=" + m.entryId, "MZ_ADDRESS=" + m.address,
                                  "MZ_TIME=" + m.isoTime, "MZ_TEXT=" + m.text};
  const std::size_t fields = env.size();
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    bool replaced = false;
    for (std::size_t i = 0; i < fields; ++i) {
      replaced = replaced || text.starts_with(env[i].substr(0, env[i].find('=') + 1));
    }
    if (!replaced) env.emplace_back(text);
  }
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Runs the watch's program for one message, no shell between, and waits for
// it, also through interrupts. A program that fails is reported; the watch
// goes on.
void Act(const Host& host, std::vector<std::string> program, const Message& m) {
  std::vector<std::string> env = ActionEnvironment(m);
  const std::vector<char*> argv = Pointers(program);
  const std::vector<char*> envp = Pointers(env);
  // The program starts with a clean signal mask and default handling of
  // what this process catches or ignores (an ignored signal stays ignored
  // across exec).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) sigaddset(&signals, signal);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  FlushOut();  // what was printed comes before what the program prints
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, argv[0], nullptr, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  const std::string what = program[0] + " for message " + m.entryId;
  if (error != 0) {
    Note(host, "cannot run " + what + ": " + std::strerror(error));
    return;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      Note(host, "lost " + what + ": " + std::strerror(errno));
      return;
    }
  }
  if (WIFSIGNALED(status)) {
    Note(host, what + " was ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
                   strsignal(WTERMSIG(status)) + ")");
  } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    Note(host, what + " exited with status " + std::to_string(WEXITSTATUS(status)));
  }
}

void Watch(Host& host, const std::vector<std::string>& args) {
  const WatchRequest request = ParseWatch(args);
  StartWatching(host);
  // Waiting for messages calls no export: other hosts may use the phone.
  if (host.lock != nullptr) host.lock->Release();
  std::fprintf(stderr, "watching for new messages; Ctrl-C stops\n");
  std::fflush(stderr);
  Message message;
  for (uint32_t seen = 0; request.stopAfter == 0 || seen < request.stopAfter;) {
    CheckInterrupt();  // no program starts after an interrupt
    if (NextArrival(&message, std::chrono::hours(24))) {
      if (request.program.empty()) {
        PrintMessage(host, message);
      } else {
        Act(host, request.program, message);
      }
      ++seen;
    }
  }
}

// --- New messages ----------------------------------------------------------

struct Arrivals {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<Message> queue;
  std::size_t dropped = 0;  // since a watch last took a message
};

Arrivals& TheArrivals() {
  static Arrivals arrivals;
  return arrivals;
}

// Runs on the message store's thread: take the record's content, free it as
// the library asks, and hand the message to the waiting thread.
extern "C" void OnNewMessage(MessageRecord* record) {
  if (record == nullptr) return;
  try {
    Message message = FromRecord(*record, true);
    // Read on the thread that formatted the time: the C library's zone
    // state is locked where a race detector cannot see it.
    message.isoTime = IsoTime(message.time);
    std::free(record);
    record = nullptr;
    Arrivals& arrivals = TheArrivals();
    {
      std::lock_guard lock(arrivals.mutex);
      if (arrivals.queue.size() >= kMostWaiting) {
        ++arrivals.dropped;
        return;
      }
      arrivals.queue.push_back(std::move(message));
    }
    arrivals.arrived.notify_one();
  } catch (...) {
    std::free(record);
  }
}

}  // namespace

void StartWatching(Host& host) {
  host.mz.MZ_RegisterCallback(OnNewMessage);
}

bool NextArrival(Message* message, std::chrono::milliseconds limit) {
  Arrivals& arrivals = TheArrivals();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock lock(arrivals.mutex);
  while (arrivals.queue.empty()) {
    CheckInterrupt();
    // Wake now and then to notice an interrupt.
    const auto wake =
        std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(100));
    arrivals.arrived.wait_until(lock, wake);
    if (arrivals.queue.empty() && std::chrono::steady_clock::now() >= deadline) return false;
  }
  *message = std::move(arrivals.queue.front());
  arrivals.queue.pop_front();
  const std::size_t dropped = std::exchange(arrivals.dropped, 0);
  lock.unlock();
  if (dropped > 0) {
    std::fprintf(stderr, "mzhost: %zu new messages were dropped: %zu were waiting already\n",
                 dropped, kMostWaiting);
  }
  return true;
}

void PrintMessage(const Host& host, const Message& m) {
  if (host.json) {
    PrintLine(JsonMessage(m));
  } else {
    PrintLine("  " + m.entryId + "  " + m.time + "  " + FitColumn(m.address, 20) + "  " +
              FitColumn(m.text, 60));
  }
  FlushOut();
}

void CheckMessages(const std::vector<std::string>& args) {
  const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
  if (!args.empty() && args[0] == "export") {
    const std::string path = ParseExport(rest).path;
    if (!path.empty()) ResolveTarget(path);
  } else if (!args.empty() && args[0] == "watch") {
    ParseWatch(rest);
  }
}

void RunMessages(Host& host, const std::vector<std::string>& args) {
  const std::string verb = args.empty() ? "" : args[0];
  const std::size_t operands = args.empty() ? 0 : args.size() - 1;
  auto expect = [&](std::size_t n, const char* usage) {
    if (operands != n) throw UsageError{std::string("usage: mzhost messages ") + usage};
  };
  if (verb == "count") {
    expect(1, "count FOLDER");
    const MessageFolder folder = ParseFolder(args[1]);
    const uint32_t count = CountMessages(host, folder);
    PrintLine(host.json ? JsonObject({{"folder", JsonNumber(folder)}, {"count", JsonNumber(count)}})
                        : std::to_string(count));
  } else if (verb == "list") {
    expect(1, "list FOLDER");
    List(host, ParseFolder(args[1]));
  } else if (verb == "delete") {
    expect(2, "delete FOLDER ID");
    Delete(host, ParseFolder(args[1]), args[2]);
  } else if (verb == "clear") {
    expect(1, "clear FOLDER");
    Clear(host, ParseFolder(args[1]));
  } else if (verb == "export") {
    Export(host, std::vector<std::string>(args.begin() + 1, args.end()));
  } else if (verb == "watch") {
    Watch(host, std::vector<std::string>(args.begin() + 1, args.end()));
  } else {
    throw UsageError{verb.empty()
                         ? "messages needs a command: count, list, export, delete, clear or watch"
                         : "unknown messages command '" + verb + "'"};
  }
}

void SendSms(Host& host, const std::string& utf8Number, const std::string& utf8Text) {
  std::string number;
  std::string text;
  std::string bad;
  for (auto [utf8, ansi, what] :
       {std::tuple{&utf8Number, &number, "number"}, {&utf8Text, &text, "text"}}) {
    if (!Utf8ToAnsi(*utf8, ansi, &bad)) {
      throw BadInput{{std::string("the ") + what + " holds '" + bad +
                      "', which the phone's code page (Windows-1252) cannot carry"}};
    }
  }
  if (number.size() > kMostNumberChars || text.size() > kMostTextChars) {
    const bool numberLong = number.size() > kMostNumberChars;
    throw BadInput{{std::string("the ") + (numberLong ? "number" : "text") + " is " +
                    std::to_string(numberLong ? number.size() : text.size()) +
                    " characters; the library sends at most " +
                    std::to_string(numberLong ? kMostNumberChars : kMostTextChars)}};
  }
  const int32_t result = host.mz.MZ_SendMessage(number.c_str(), text.c_str());
  if (result != MZ_OK) {
    Refused(
        "MZ_SendMessage", result,
        result == MZ_E_FAILED ? "the phone's radio refused the message" : DescribeResult(result));
  }
}

void RunSms(Host& host, const std::vector<std::string>& args) {
  if (args.size() != 3 || args[0] != "send") throw UsageError{"usage: mzhost sms send NUMBER TEXT"};
  SendSms(host, args[1], args[2]);
  PrintLine(host.json ? JsonObject({{"sent", JsonText(args[1])}, {"text", JsonText(args[2])}})
                      : "sent to " + args[1]);
}

}  // namespace mzhost
