#include "host.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "text.h"

namespace mzhost {

namespace {

std::atomic<unsigned> g_interrupts{0};

// errno of the first failed write to stdout; later calls may change errno.
int g_output_error = 0;

extern "C" void OnInterrupt(int) {
  g_interrupts.fetch_add(1);
}

}  // namespace

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

bool Interruption() {
  return Interrupts() > 0;
}

unsigned Interrupts() {
  return g_interrupts.load();
}

void CheckInterrupt() {
  if (Interruption()) throw Interrupted{};
  if (std::ferror(stdout)) throw OutputFailed{g_output_error};
}

void Refused(const char* exportName, int32_t code, std::string words) {
  throw Failure{std::move(words), exportName, code};
}

std::string DescribeResult(int32_t code) {
  switch (code) {
    case MZ_E_FAILED:
      return "the phone refused the operation";
    case MZ_E_NO_CONTACT:
      return "the contacts folder is not available";
    case MZ_E_NO_MEMORY:
      return "the library ran out of memory";
    case MZ_E_BAD_ARGUMENT:
      return "the library refused an argument";
    case MZ_E_NO_MORE:
      return "there is nothing more to read";
    default:
      return "unexpected result " + std::to_string(code);
  }
}

std::string DescribeStatus(int32_t status) {
  const auto bits = static_cast<uint32_t>(status);
  // A system error number, bare or wrapped in an HRESULT of that facility.
  const uint32_t error = (bits & 0xFFFF0000u) == 0x80070000u ? bits & 0xFFFFu : bits;
  const char* words = nullptr;
  switch (error) {
    case 2:
      words = "file not found";
      break;
    case 3:
      words = "path not found";
      break;
    case 5:
      words = "access denied";
      break;
    case 8:
    case 14:
      words = "not enough memory";
      break;
    case 87:
      words = "invalid parameter";
      break;
    default:
      break;
  }
  if (bits == 0x80004005u) words = "unspecified failure";
  if (bits == 0x80070057u) words = "invalid argument";
  char number[16];
  std::snprintf(number, sizeof number, bits > 0xFFFF ? "0x%08x" : "%u", bits);
  return words ? std::string(words) + " (" + number + ")" : std::string("status ") + number;
}

// --- JSON -----------------------------------------------------------------

std::string JsonText(std::string_view utf8) {
  std::string out;
  AppendJsonString(&out, utf8);
  return out;
}

std::string JsonNumber(long long value) {
  return std::to_string(value);
}

std::string JsonBool(bool value) {
  return value ? "true" : "false";
}

std::string JsonObject(std::initializer_list<std::pair<const char*, std::string>> members) {
  std::string out = "{";
  for (const auto& [name, value] : members) {
    if (out.size() > 1) out += ',';
    AppendJsonString(&out, name);
    out += ':';
    out += value;
  }
  return out + "}";
}

std::string JsonArray(const std::vector<std::string>& values, bool lines) {
  std::string out = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ',';
    if (lines) out += '\n';
    out += values[i];
  }
  if (lines && !values.empty()) out += '\n';
  return out + "]";
}

void PrintLine(const std::string& text) {
  // Table rows end in padding; a line never needs its trailing blanks.
  const std::size_t end = text.find_last_not_of(' ') + 1;
  WriteOut(text.substr(0, end));
  WriteOut("\n");
}

void WriteOut(std::string_view bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() && g_output_error == 0) {
    g_output_error = errno;
  }
}

void FlushOut() {
  if (std::fflush(stdout) != 0 && g_output_error == 0) g_output_error = errno;
  if (std::ferror(stdout)) throw OutputFailed{g_output_error};
}

// --- Progress -------------------------------------------------------------

bool ProgressWanted(std::FILE* out) {
  if (!isatty(STDERR_FILENO)) return false;
  return out == nullptr || !isatty(fileno(out));
}

Progress::Progress(std::string verb, std::size_t total, bool enabled)
    : verb_(std::move(verb)),
      total_(total),
      enabled_(enabled),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {}

Progress::~Progress() {
  Finish();
}

void Progress::Finish() {
  if (shown_) std::fputs("\r\033[K", stderr);
  shown_ = false;
  enabled_ = false;
}

void Progress::Note(const std::string& line) {
  if (shown_) std::fputs("\r\033[K", stderr);
  std::fprintf(stderr, "%s\n", line.c_str());
  shown_ = false;  // redrawn at the next update
}

void Progress::Update(std::size_t done) {
  if (!enabled_) return;
  using namespace std::chrono_literals;
  const auto now = std::chrono::steady_clock::now();
  // Quick jobs print nothing; long ones redraw a few times a second.
  if (now - start_ < 300ms || (now - last_ < 100ms && done != total_)) return;
  last_ = now;
  shown_ = true;
  std::fprintf(stderr, "\r%s %zu of %zu", verb_.c_str(), done, total_);
  std::fflush(stderr);
}

// --- Arguments ------------------------------------------------------------

namespace {

constexpr const char* kFolderNames[] = {"inbox", "outbox", "sent", "drafts", "deleted"};

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

MessageFolder ParseFolder(const std::string& text) {
  for (MessageFolder folder = 0; folder < 5; ++folder) {
    if (strcasecmp(text.c_str(), kFolderNames[folder]) == 0) return folder;
  }
  if (text.size() == 1 && text[0] >= '0' && text[0] <= '4') return MessageFolder(text[0] - '0');
  throw UsageError{"unknown folder '" + text + "' (inbox, outbox, sent, drafts, deleted, or 0-4)"};
}

const char* FolderName(MessageFolder folder) {
  return folder < 5 ? kFolderNames[folder] : "?";
}

std::string ParseContactId(const std::string& text) {
  if (!AllDigits(text) || text.size() > 10 || std::stoull(text) > UINT32_MAX) {
    throw UsageError{"'" + text +
                     "' is not a contact id (a decimal number, as 'contacts list' shows)"};
  }
  return std::to_string(std::stoull(text));
}

uint32_t ParseNumber(const std::string& text, const char* what, uint32_t most) {
  if (!AllDigits(text) || text.size() > 10 || std::stoull(text) > most) {
    throw UsageError{"'" + text + "' is not a valid " + what};
  }
  return static_cast<uint32_t>(std::stoull(text));
}

std::string ReadFile(const std::string& path) {
  if (path == "-") {
    std::ostringstream content;
    content << std::cin.rdbuf();
    return content.str();
  }
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    throw Failure{"cannot read " + path + ": it is a folder"};
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure{"cannot read " + path + ": " + std::strerror(errno)};
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw Failure{"cannot read " + path + ": " + std::strerror(errno)};
  return content.str();
}

namespace {

struct Command {
  const char* name;
  void (*run)(Host& host, const std::vector<std::string>& args);
  void (*check)(const std::vector<std::string>& args) = nullptr;
};

constexpr Command kCommands[] = {
    {"contacts", RunContacts, CheckContacts},
    {"messages", RunMessages, CheckMessages},
    {"sms", RunSms},
    {"sounds", RunSounds},
    {"ringtone", RunRingtone},
    {"sms-sound", RunSmsSound},
    {"theme", RunTheme},
};

const Command* FindCommand(const std::string& name) {
  for (const Command& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

}  // namespace

bool IsCommand(const std::string& name) {
  return FindCommand(name) != nullptr;
}

void CheckCommand(const std::string& command, const std::vector<std::string>& args) {
  const Command* found = FindCommand(command);
  if (found != nullptr && found->check != nullptr) found->check(args);
}

void RunCommand(Host& host, const std::string& command, const std::vector<std::string>& args) {
  const Command* found = FindCommand(command);
  if (found == nullptr) throw UsageError{"unknown command '" + command + "'"};
  found->run(host, args);
}

}  // namespace mzhost
