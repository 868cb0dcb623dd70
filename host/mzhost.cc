// mzhost: the host process. It loads libmz.so with dlopen, calls MZ_Init,
// does one job through the library's exports, and calls MZ_Done, also when
// interrupted. Errors are one line on stderr (a JSON object with --json).
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device_lock.h"
#include "host.h"
#include "platform/device_folder.h"
#include "serve/serve.h"

namespace {

using namespace mzhost;

constexpr const char kUsage[] =
    "usage: mzhost [--device DIR] [--wait SECONDS] [--json] COMMAND\n"
    "\n"
    "contacts:\n"
    "  contacts count                 how many contacts the phone holds\n"
    "  contacts list                  position, id, name, phone and e-mail of each\n"
    "  contacts show [--format V] POS the vCard of the contact at a position (1 = first)\n"
    "  contacts export [--format V] [-o FILE]\n"
    "                                 every contact's vCard into one .vcf (default: stdout);\n"
    "                                 V: 2.1 (the library's own text, the default), 3.0, 4.0\n"
    "  contacts import [--strict] [--dry-run] [--report FILE] FILE...\n"
    "                                 add every card of the files (vCard 2.1, 3.0, 4.0) as\n"
    "                                 new contacts, each made into what the phone keeps;\n"
    "                                 --strict keeps types only as written, --dry-run prints\n"
    "                                 the cards and stores nothing, --report writes what\n"
    "                                 became of every property as JSON lines\n"
    "  contacts update [--strict] ID FILE\n"
    "                                 apply the one card of FILE to contact ID\n"
    "  contacts delete ID             delete contact ID\n"
    "  contacts clear                 delete every contact\n"
    "messages (FOLDER: inbox, outbox, sent, drafts, deleted, or 0-4):\n"
    "  messages count FOLDER          how many messages a folder holds\n"
    "  messages list FOLDER           entry id, time, address and text of each\n"
    "  messages delete FOLDER ID      delete the message with that entry id\n"
    "  messages clear FOLDER          delete every message of a folder\n"
    "  messages export [FOLDER|all] [--format json|csv] [-o FILE]\n"
    "                                 every message of a folder, or of all (default), as a\n"
    "                                 JSON array (default) or CSV (RFC 4180, UTF-8)\n"
    "  messages watch [--count N] [--exec PROGRAM [ARG...]]\n"
    "                                 print new messages as they arrive, until Ctrl-C; with\n"
    "                                 --exec run PROGRAM for each instead, one at a time,\n"
    "                                 the message in MZ_FOLDER, MZ_ENTRY_ID, MZ_ADDRESS,\n"
    "                                 MZ_TIME and MZ_TEXT\n"
    "  sms send NUMBER TEXT           send an SMS\n"
    "settings (EVENT: ringtone, ringtone2, known-caller, roaming, roaming2, sms,\n"
    "          reminder, email, or a number):\n"
    "  sounds EVENT [LOCATIONS]       folders holding sounds; LOCATIONS: system,\n"
    "                                 ringtones, documents, card or all, comma-joined\n"
    "  ringtone EVENT PATH            make EVENT play the sound file at a phone path\n"
    "  sms-sound DIR FILE             make DIR\\FILE (copied to \\Windows) the SMS sound\n"
    "  theme COMMAND-LINE             start the phone's theme tool with a command line\n"
    "  demo [--keep]                  a guided tour on a fresh temporary phone\n"
    "  serve [--listen HOST:PORT] [--user NAME] [--password-file FILE]\n"
    "        [--tls-cert FILE --tls-key FILE]\n"
    "                                 serve the contacts as a CardDAV address book at\n"
    "                                 http://HOST:PORT/ (default 127.0.0.1:8181, port 0: any\n"
    "                                 free one) until Ctrl-C; user mz, the password from\n"
    "                                 FILE, else DEVICE/carddav-password (made on first\n"
    "                                 start); other than loopback only with TLS\n"
    "\n"
    "options:\n"
    "  --device DIR   the emulated phone's device folder (else $PHONE_DEVICE_DIR, else\n"
    "                 the default folder); a missing or empty folder becomes a fresh phone\n"
    "  --wait SECONDS how long to wait for another host using the phone (default:\n"
    "                 as long as it takes)\n"
    "  --json         print results, and errors on stderr, as JSON\n"
    "  --version      print mzhost's version\n"
    "\n"
    "The library is $MZ_LIBRARY, else libmz.so beside mzhost, else the one installed with it.\n"
    "Exit status: 0 done, 1 failed (or some cards refused), 2 bad usage, 130 interrupted.\n";

// Why a session would not open: the platform's reason for refusing the
// device folder, found among the library's dependencies (a platform without
// PhoneDeviceError gives none), else a guess from the folder in question.
std::string DeviceHint(void* library, const std::string& dir) {
  using ReasonFn = const char* (*)();
  if (auto reason = reinterpret_cast<ReasonFn>(dlsym(library, "PhoneDeviceError"))) {
    if (const char* text = reason()) return std::string(": ") + text;
  }
  if (dir.empty()) return " (in the default device folder; name one with --device DIR)";
  std::error_code ec;
  const std::filesystem::path path(dir);
  if (std::filesystem::exists(path, ec) && !std::filesystem::is_empty(path, ec) &&
      !std::filesystem::exists(path / "device.db", ec)) {
    return ": " + dir + " holds files but no device.db, so it is not a device folder";
  }
  return " (device folder " + dir + ")";
}

// A temporary folder for the tour, removed at the end unless kept.
struct TourFolder {
  std::string path;
  bool keep = false;
  TourFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mzhost-demo-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw Failure{"cannot make a temporary folder"};
    path = pattern;
  }
  ~TourFolder() {
    std::error_code ec;
    if (keep) {
      std::fprintf(stderr, "mzhost: the tour's phone is kept in %s/phone\n", path.c_str());
    } else {
      std::filesystem::remove_all(path, ec);
    }
  }
};

// What the lock file says of this process: "mzhost COMMAND ARGS", on one line.
std::string HolderWords(const std::string& command, const std::vector<std::string>& args) {
  std::string words = "mzhost " + command;
  for (const auto& arg : args) words += " " + arg;
  for (char& c : words) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return words;
}

int Run(int argc, char** argv, Host& host) {
  std::optional<std::string> device;
  std::optional<std::chrono::seconds> wait;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help" || arg == "help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arg == "--version") {
      std::printf("mzhost %s\n", MZ_VERSION);
      return kExitOk;
    }
    if (arg == "--json") {
      host.json = true;
    } else if (arg == "--device") {
      if (i + 1 >= argc) throw UsageError{"--device needs a folder"};
      device = argv[++i];
    } else if (arg == "--wait") {
      if (i + 1 >= argc) throw UsageError{"--wait needs a number of seconds"};
      wait = std::chrono::seconds(ParseNumber(argv[++i], "number of seconds"));
    } else if (arg.starts_with("-")) {
      throw UsageError{"unknown option " + arg};
    } else {
      break;
    }
  }
  if (i >= argc) throw UsageError{"no command given"};
  const std::string command = argv[i];
  const std::vector<std::string> rest(argv + i + 1, argv + argc);
  if (command != "demo" && command != "serve" && !IsCommand(command)) {
    throw UsageError{"unknown command '" + command + "'"};
  }

  // The platform under the library opens the folder PHONE_DEVICE_DIR names
  // on its first call, so the choice is made before the library loads.
  std::unique_ptr<TourFolder> tour;
  if (command == "demo") {
    if (device) throw UsageError{"demo makes its own fresh phone; --device does not go with it"};
    if (!rest.empty() && !(rest.size() == 1 && rest[0] == "--keep")) {
      throw UsageError{"usage: mzhost demo [--keep]"};
    }
    tour = std::make_unique<TourFolder>();
    tour->keep = !rest.empty();
    device = tour->path + "/phone";
  }
  if (device) setenv("PHONE_DEVICE_DIR", device->c_str(), 1);
  const char* chosen = std::getenv("PHONE_DEVICE_DIR");
  host.deviceDir = chosen ? chosen : "";

  std::string error;
  if (!LoadLibrary(LibraryPath(), &host.mz, &error)) throw Failure{error};
  CatchInterrupts();
  if (!tour) CheckCommand(command, rest);
  // The server takes the device lock per request, not for its whole life.
  if (command == "serve") {
    RunServe(host, rest, emulator::DefaultDeviceDir());
    return kExitOk;
  }

  // One host at a time on a device, from before MZ_Init until after MZ_Done.
  DeviceLock lock(emulator::DefaultDeviceDir(), HolderWords(command, rest), wait);
  lock.Acquire();
  host.lock = &lock;
  // MZ_Done runs however the job ends; each of its steps closes only what
  // MZ_Init opened. A job that released the lock takes it back first, unless
  // the user gives up waiting.
  struct Session {
    Library& mz;
    DeviceLock& lock;
    ~Session() {
      lock.Reacquire();
      mz.MZ_Done();
    }
  } session{host.mz, lock};
  const int32_t opened = host.mz.MZ_Init();
  if (opened != MZ_OK) {
    Refused("MZ_Init", opened,
            "MZ_Init failed: the phone's contact or message store would not open" +
                DeviceHint(host.mz.handle, host.deviceDir));
  }
  if (tour) {
    RunDemo(host, ProgramDir(), tour->path, tour->keep);
  } else {
    RunCommand(host, command, rest);
  }
  FlushOut();
  return Interruption() ? kExitInterrupted : kExitOk;
}

void ReportError(const Host& host, const std::string& message, const std::string& exportName = {},
                 int32_t code = 0) {
  std::fflush(stdout);
  if (host.json) {
    std::string line = exportName.empty() ? JsonObject({{"error", JsonText(message)}})
                                          : JsonObject({{"error", JsonText(message)},
                                                        {"export", JsonText(exportName)},
                                                        {"code", JsonNumber(code)}});
    std::fprintf(stderr, "%s\n", line.c_str());
  } else {
    std::fprintf(stderr, "mzhost: %s\n", message.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  Host host;
  try {
    return Run(argc, argv, host);
  } catch (const UsageError& e) {
    ReportError(host, e.message + " (see mzhost --help)");
    return kExitUsage;
  } catch (const Failure& e) {
    ReportError(host, e.message, e.exportName, e.code);
    return kExitFailure;
  } catch (const Interrupted&) {
    ReportError(host, "interrupted");
    return kExitInterrupted;
  } catch (const PartialFailure&) {
    return kExitFailure;
  } catch (const OutputFailed& e) {
    // A reader that went away (head, a closed pager) is no error of ours.
    if (e.error == EPIPE) return kExitFailure;
    ReportError(host, std::string("cannot write the output: ") + std::strerror(e.error));
    return kExitFailure;
  } catch (const std::exception& e) {
    ReportError(host, e.what());
    return kExitFailure;
  }
}
