// mzhost demo: a guided tour of the library on a fresh temporary phone. Each
// step says what it shows, prints the command that does the same by hand, and
// runs it; phonectl, run as a separate process, plays the outside world (an
// SMS arriving, a look at the registry and the launch log).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host.h"

extern char** environ;

namespace mzhost {
namespace {

// How long the tour waits for a new message before it gives up.
constexpr auto kArrivalLimit = std::chrono::seconds(20);

class Tour {
 public:
  Tour(Host& host, std::string programDir, std::string examplesDir, std::string workDir, bool keep)
      : host_(host),
        keep_(keep),
        mzhost_(programDir + "/mzhost"),
        phonectl_(programDir + "/phonectl"),
        examples_(std::move(examplesDir)),
        work_(std::move(workDir)) {}

  void Run();

 private:
  void Step(const char* title, const char* explanation) {
    std::printf("\n== %d. %s\n%s\n", ++step_, title, explanation);
    std::fflush(stdout);
  }

  // Shows and runs an mzhost command in this process.
  void Mzhost(const std::vector<std::string>& words) {
    Show("mzhost", words);
    RunCommand(host_, words[0], std::vector<std::string>(words.begin() + 1, words.end()));
    std::fflush(stdout);
  }

  // Shows and runs phonectl on the tour's device; returns what it printed.
  std::string Phonectl(const std::vector<std::string>& words) {
    Show("phonectl", words);
    std::vector<std::string> argv = {phonectl_, "--device", host_.deviceDir};
    argv.insert(argv.end(), words.begin(), words.end());
    std::string output = Spawn(argv);
    WriteOut(output);
    std::fflush(stdout);
    return output;
  }

  static void Show(const char* program, const std::vector<std::string>& words) {
    std::string line = std::string("$ ") + program;
    for (const auto& word : words) {
      const bool plain = !word.empty() && word.find_first_of(" '\"\\$*?") == std::string::npos;
      line += plain ? " " + word : " '" + word + "'";
    }
    PrintLine(line);
  }

  // Runs a program and collects its standard output; Failure unless it exits 0.
  static std::string Spawn(const std::vector<std::string>& argv) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw Failure{"cannot start " + argv[0]};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string output;
    if (spawned == 0) {
      char buffer[4096];
      ssize_t got = 0;
      while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) output.append(buffer, static_cast<std::size_t>(got));
      }
    }
    close(pipeFds[0]);
    int status = 0;
    if (spawned != 0) throw Failure{"cannot start " + argv[0] + ": " + std::strerror(spawned)};
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw Failure{argv[0] + " failed"};
    return output;
  }

  // Waits for the callback's next record and prints every field of it.
  void AwaitMessage() {
    Message m;
    if (!NextArrival(&m, kArrivalLimit)) {
      throw Failure{"no new message reached the callback within " +
                    std::to_string(kArrivalLimit.count()) + " s"};
    }
    std::printf("callback: a %u-byte record arrived for folder %u\n", m.recordSize, m.folder);
    std::printf("  entryIdHex  %s\n  address     %s\n  timeText    %s\n  text        %s\n",
                m.entryId.c_str(), m.address.c_str(), m.time.c_str(), m.text.c_str());
    std::fflush(stdout);
  }

  // The id of the contact at `position`, as the library reports it.
  std::string ContactId(int32_t position) {
    ContactTransfer transfer{};
    const int32_t result = host_.mz.MZ_GetContactInfo(position, &transfer);
    if (result != MZ_OK) Refused("MZ_GetContactInfo", result, DescribeResult(result));
    return std::string(transfer.contactId, strnlen(transfer.contactId, sizeof transfer.contactId));
  }

  Host& host_;
  bool keep_;  // the phone outlives the tour
  std::string mzhost_;
  std::string phonectl_;
  std::string examples_;
  std::string work_;
  int step_ = 0;
};

void Tour::Run() {
  const std::string contacts = examples_ + "/contacts.vcf";
  const std::string update = examples_ + "/contact-update.vcf";
  const std::string exported = work_ + "/exported.vcf";
  for (const auto& path : {contacts, update, phonectl_}) {
    if (!std::filesystem::exists(path))
      throw Failure{"the tour needs " + path + ", which is missing"};
  }
  StartWatching(host_);

  std::printf(
      "A tour of libmz on a fresh emulated phone in %s.\n"
      "mzhost loaded %s, called MZ_Init and registered a new-message callback.\n"
      "To run a step's command yourself, add --device DIR (or set PHONE_DEVICE_DIR).\n",
      host_.deviceDir.c_str(), host_.mz.path.c_str());

  Step("A fresh phone", "phonectl, the emulator's control tool, describes the new device.");
  std::string own = Phonectl({"init"});
  const std::size_t at = own.find("own number: ");
  own = at == std::string::npos ? "" : own.substr(at + 12, own.find('\n', at) - at - 12);
  Phonectl({"registry"});

  Step("Import the sample contacts",
       "Each card of the file goes to MZ_AddContact, which reads the vCard and stores a contact.");
  Mzhost({"contacts", "import", contacts});

  Step("List them", "MZ_GetContactInfo hands over each contact as vCard 2.1 text and its id.");
  Mzhost({"contacts", "list"});

  Step("Export them", "Every contact's vCard, one after another, makes one .vcf file.");
  Mzhost({"contacts", "export", "-o", exported});
  Mzhost({"contacts", "show", "2"});

  const std::string second = ContactId(2);
  Step("Update one", "MZ_WriteContact applies a card to the contact with the given id.");
  Mzhost({"contacts", "update", second, update});
  Mzhost({"contacts", "show", "2"});

  int32_t count = 0;
  host_.mz.MZ_GetContactsCount(&count);
  const std::string last = ContactId(count);
  Step("Delete one", "MZ_DeleteContact removes the contact with the given id.");
  Mzhost({"contacts", "delete", last});
  Mzhost({"contacts", "count"});

  Step("An SMS arrives",
       "phonectl, another process, delivers an SMS; the library's sink hears of it and hands the "
       "callback a MessageRecord (text and address in Windows-1252).");
  Phonectl({"receive", "+15550123", "Caf\xc3\xa9 at 6? Bring the slides."});
  AwaitMessage();

  Step("The Inbox", "MZ_StartGetMessage and MZ_GetMessageInfo walk the folder.");
  Mzhost({"messages", "list", "inbox"});

  Step("Send an SMS to the phone's own number",
       "MZ_SendMessage hands the text to the radio; sent to the phone's own number, it comes "
       "back into the Inbox and the callback hears of it.");
  if (own.empty()) throw Failure{"phonectl did not tell the phone's own number"};
  Mzhost({"sms", "send", own, "Note to self: the tour works."});
  AwaitMessage();
  Phonectl({"sent"});

  Step("Sounds", "MZ_GetSoundDirectoriesList asks the sound service where ring tones live.");
  Mzhost({"sounds", "ringtone"});

  Step("The SMS sound",
       "MZ_SetSMSRingtone copies the sound into \\Windows and points the SMS notification at it.");
  Mzhost({"sms-sound", "\\My Documents\\My Ringtones", "Chime.wav"});

  Step("A ringtone", "MZ_SetTelRingtone tells the sound service what the phone rings with.");
  Mzhost({"ringtone", "ringtone", "\\Windows\\Alert1.wav"});

  Step("A theme", "MZ_SetTheme starts the phone's theme tool with a command line.");
  Mzhost({"theme", "\\Windows\\Ocean.tsk"});

  Step("What changed on the phone",
       "The registry now holds the SMS sound, the ringtone and the theme; the launch log shows "
       "the theme tool.");
  Phonectl({"registry"});
  Phonectl({"launches"});

  if (keep_) {
    std::printf(
        "\nThe tour is over: mzhost calls MZ_Done and keeps the phone in %s.\n\n"
        "To see it in a browser, serve it:\n  %s --device %s serve\n"
        "and open http://127.0.0.1:8181/ as user mz, with the password the server makes on its "
        "first start in %s/carddav-password. When done: rm -r %s\n",
        host_.deviceDir.c_str(), mzhost_.c_str(), host_.deviceDir.c_str(), host_.deviceDir.c_str(),
        work_.c_str());
  } else {
    std::printf(
        "\nThe tour is over: mzhost calls MZ_Done and removes the temporary phone.\n\n"
        "To see a phone in a browser, serve it:\n  %s --device DIR serve\n"
        "and open http://127.0.0.1:8181/ as user mz, with the password the server makes on its "
        "first start in DIR/carddav-password (mzhost demo --keep keeps the tour's phone and "
        "names its DIR).\n",
        mzhost_.c_str());
  }
}

}  // namespace

void RunDemo(Host& host, const std::string& programDir, const std::string& workDir, bool keep) {
  // An installed mzhost has the sample contacts under its prefix; in the build
  // folder they are the source tree's.
  std::error_code ec;
  const std::filesystem::path installed =
      (std::filesystem::path(programDir) / MZHOST_INSTALLED_EXAMPLES).lexically_normal();
  const bool isInstalled = std::filesystem::exists(installed / "contacts.vcf", ec);
  Tour(host, programDir, isInstalled ? installed.string() : MZHOST_EXAMPLES_DIR, workDir, keep)
      .Run();
}

}  // namespace mzhost
