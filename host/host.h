// What every mzhost command shares: the loaded library, the output mode,
// failures explained in words, JSON building, progress and interruption.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "library.h"

namespace mzhost {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

// A job that cannot go on: one line on stderr, exit status 1. When an export
// refused, its name and result travel along for --json.
struct Failure {
  std::string message;
  std::string exportName = {};
  int32_t code = 0;
};

// A Failure over what was asked rather than over the phone: the server
// answers it 400.
struct BadInput : Failure {};
// A Failure naming something the phone does not hold: the server answers
// it 404.
struct NotFound : Failure {};

// A command line mzhost does not understand: exit status 2.
struct UsageError {
  std::string message;
};

// Ctrl-C, SIGTERM or SIGHUP: the job stops at its next step, MZ_Done still runs.
struct Interrupted {};

// Standard output cannot be written any more (a closed pipe, a full disk):
// the job stops, MZ_Done still runs.
struct OutputFailed {
  int error = 0;
};

// The job's outcome when it did its work but some of it was refused (an
// import with refused cards): exit status 1 without another message.
struct PartialFailure {};

// Installs the SIGINT/SIGTERM/SIGHUP handlers (Interruption() is true once
// one came; Interrupts() counts them) and ignores SIGPIPE and SIGXFSZ, so
// that a closed pipe or a file-size limit ends a job through a failed write
// instead of killing the process before MZ_Done.
void CatchInterrupts();
bool Interruption();
unsigned Interrupts();
// Between the steps of a job: throws Interrupted when an interrupt came,
// OutputFailed when standard output failed.
void CheckInterrupt();

// A failure of an export whose result code needs no more context.
[[noreturn]] void Refused(const char* exportName, int32_t code, std::string words);

// What a result code means when nothing more specific is known.
std::string DescribeResult(int32_t code);

// A status of the phone passed through by a settings export, in words with
// its number ("file not found (0x80070002)").
std::string DescribeStatus(int32_t status);

class DeviceLock;

struct Host {
  Library mz;
  bool json = false;
  std::string deviceDir;  // as given with --device, else $PHONE_DEVICE_DIR
  // Held around the library calls; a command that waits for long without
  // calling the library releases it meanwhile. Null when not locked.
  DeviceLock* lock = nullptr;
};

// --- JSON -----------------------------------------------------------------

// A JSON value as text.
std::string JsonText(std::string_view utf8);
std::string JsonNumber(long long value);
std::string JsonBool(bool value);
// An object of (name, JSON value) pairs, in order.
std::string JsonObject(std::initializer_list<std::pair<const char*, std::string>> members);
// An array of JSON values; one element per line when `lines`.
std::string JsonArray(const std::vector<std::string>& values, bool lines = false);

// Prints a line (a trailing newline is added) to stdout.
void PrintLine(const std::string& text);
// Writes bytes to stdout.
void WriteOut(std::string_view bytes);
// Flushes stdout; OutputFailed when anything written to it was lost.
void FlushOut();

// Progress of a long job on stderr, redrawn in place, only when stderr is a
// terminal and the job has run for a moment; the line is cleared when done.
class Progress {
 public:
  Progress(std::string verb, std::size_t total, bool enabled);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void Update(std::size_t done);
  // Prints a line on stderr without mixing it into the progress line.
  void Note(const std::string& line);
  // Clears the progress line for good.
  void Finish();

 private:
  std::string verb_;
  std::size_t total_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
};

// True when stderr is a terminal and `out` (if given) is not the same one.
bool ProgressWanted(std::FILE* out = nullptr);

// --- Arguments ------------------------------------------------------------

// A folder by name (inbox, outbox, sent, drafts, deleted; any case) or
// number 0-4; UsageError otherwise.
MessageFolder ParseFolder(const std::string& text);
// The name of a folder, as the user is shown it.
const char* FolderName(MessageFolder folder);

// A contact id: the decimal text the library reads (1 to 10 digits of a
// 32-bit value); UsageError otherwise.
std::string ParseContactId(const std::string& text);

// A positive decimal number up to `most`; UsageError naming `what` otherwise.
uint32_t ParseNumber(const std::string& text, const char* what, uint32_t most = UINT32_MAX);

// Reads a whole file ("-": standard input); Failure with the reason when it
// cannot.
std::string ReadFile(const std::string& path);

// --- Messages -------------------------------------------------------------

// One SMS message, its texts in UTF-8.
struct Message {
  std::string entryId;
  std::string time;
  std::string isoTime;  // of a new message: the time in ISO 8601 (IsoTime)
  std::string address;
  std::string text;
  unsigned folder = 0;
  uint32_t recordSize = 0;
};

// Registers the new-message callback; each record it receives is copied
// into a queue and freed.
void StartWatching(Host& host);
// Waits for the next new message, up to `limit`; false when none came in that
// time. Throws Interrupted on Ctrl-C.
bool NextArrival(Message* message, std::chrono::milliseconds limit);
// Prints a message as a table row or a JSON line.
void PrintMessage(const Host& host, const Message& message);

// What the message commands and the server share. Failures name the export
// that refused.
uint32_t CountMessages(Host& host, MessageFolder folder);
std::vector<Message> ReadFolder(Host& host, MessageFolder folder);
// Entry ids are hex digits, two per byte.
bool IsEntryId(const std::string& text);
// UsageError for text that is no entry id; NotFound when the folder holds
// no message with it.
void DeleteMessage(Host& host, MessageFolder folder, const std::string& id);
// Empties a folder; returns how many messages it held.
uint32_t ClearFolder(Host& host, MessageFolder folder);

// The library's limits for MZ_SendMessage, in Windows-1252 characters.
inline constexpr std::size_t kMostNumberChars = 99;
inline constexpr std::size_t kMostTextChars = 209;
// Sends an SMS given in UTF-8; BadInput for texts the library cannot send.
void SendSms(Host& host, const std::string& number, const std::string& text);

// --- Settings -------------------------------------------------------------

// A sound event by name (or number); UsageError otherwise.
uint32_t ParseEvent(const std::string& text);
std::string EventName(uint32_t event);
// Sound locations by names joined by commas; UsageError otherwise.
uint32_t ParseLocations(const std::string& text);
// The sound directories of an event's locations, as the library lists them.
std::vector<std::string> SoundDirectories(Host& host, uint32_t event, uint32_t locations);
// The sound files (by extension) directly in a phone directory, sorted;
// none when the platform cannot list files.
std::vector<std::string> SoundFiles(Host& host, const std::string& directory);
// The setting commands' work; BadInput for texts the records cannot hold.
void SetRingtone(Host& host, uint32_t event, const std::string& path);
// Returns the path of the sound the phone plays now, its copy in \Windows.
std::string SetSmsSound(Host& host, const std::string& directory, const std::string& file);
void SetTheme(Host& host, const std::string& commandLine);

// --- Commands -------------------------------------------------------------

// Each runs one command's operands (the words after its name); they throw
// Failure, UsageError, Interrupted or PartialFailure.
void RunContacts(Host& host, const std::vector<std::string>& args);
void RunMessages(Host& host, const std::vector<std::string>& args);
void RunSms(Host& host, const std::vector<std::string>& args);
void RunSounds(Host& host, const std::vector<std::string>& args);
void RunRingtone(Host& host, const std::vector<std::string>& args);
void RunSmsSound(Host& host, const std::vector<std::string>& args);
void RunTheme(Host& host, const std::vector<std::string>& args);
// What can be checked before the session opens: an export's target that no
// export can write (a folder) is refused before any library call.
void CheckContacts(const std::vector<std::string>& args);
void CheckMessages(const std::vector<std::string>& args);
// Runs the check of a command by name, if it has one.
void CheckCommand(const std::string& command, const std::vector<std::string>& args);
// Whether `name` is one of the commands above.
bool IsCommand(const std::string& name);
// Runs one of the commands above by name; UsageError for another name.
void RunCommand(Host& host, const std::string& command, const std::vector<std::string>& args);
// The guided tour, on the fresh device host.deviceDir set up by the caller;
// its files go to `workDir`, phonectl is taken from `programDir`.
// `keep`: the phone stays after the tour, and its ending says how to serve it.
void RunDemo(Host& host, const std::string& programDir, const std::string& workDir, bool keep);

}  // namespace mzhost
