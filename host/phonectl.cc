// phonectl: drives the emulated phone from outside. It creates devices,
// delivers incoming SMS messages (announced to any process watching the
// device), and shows what the phone keeps: messages, contacts, what the radio
// sent, the registry and the launch log.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/emulator.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

constexpr const char kUsage[] =
    "usage: phonectl [--device DIR] COMMAND\n"
    "\n"
    "commands:\n"
    "  init                          create the device (or open it) and describe it\n"
    "  receive FROM TEXT [--folder NAME]\n"
    "                                deliver an incoming SMS (default folder: Inbox)\n"
    "  messages [FOLDER]             list the SMS store's messages, one folder or all\n"
    "  contacts                      list the stored contacts\n"
    "  sent                          list what the radio sent\n"
    "  registry                      dump the registry\n"
    "  launches                      list the programs started on the phone\n"
    "\n"
    "The device folder is DIR, else $PHONE_DEVICE_DIR, else the default folder;\n"
    "a missing or empty folder becomes a fresh phone. --version prints the version.\n";

// A failure the user can act on: printed as one line, exit status 1.
struct Failure {
  std::string message;
};

// A command line the program does not understand: exit status 2.
struct UsageError {
  std::string message;
};

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0xF];
  }
  return hex;
}

// A file time as local "YYYY-MM-DD hh:mm:ss", the way the phone shows it.
std::string LocalTime(std::uint64_t ticks) {
  FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  FILETIME local{};
  SYSTEMTIME fields{};
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &fields)) {
    return "?";
  }
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", fields.wYear, fields.wMonth,
                fields.wDay, fields.wHour, fields.wMinute, fields.wSecond);
  return text;
}

std::string Or(const std::optional<std::string>& text, const char* missing = "-") {
  return text ? *text : missing;
}

void OpenDevice(const std::optional<std::string>& dir) {
  if (dir) {
    std::string error;
    if (!emulator::OpenDevice(*dir, &error)) throw Failure{error};
  } else if (emulator::DeviceDir().empty()) {
    const char* env = std::getenv("PHONE_DEVICE_DIR");
    throw Failure{std::string("cannot open the device") +
                  (env ? std::string(" in '") + env + "'" : std::string(" in the default folder")) +
                  "; name one with --device DIR"};
  }
}

void Init() {
  std::printf("device: %s\n", emulator::DeviceDir().c_str());
  std::printf("own number: %s\n", emulator::OwnNumber().c_str());
  std::printf("contacts: %zu\n", emulator::ContactOids().size());
  for (const auto& folder : emulator::StandardFolderNames()) {
    std::printf("SMS %-14s %zu messages\n", (folder + ":").c_str(),
                emulator::ListMessages("SMS", folder).size());
  }
}

void Receive(const std::string& from, const std::string& text, const std::string& folder) {
  std::string id;
  try {
    id = emulator::ReceiveSms(from, text, folder);
  } catch (const std::invalid_argument&) {
    throw Failure{"the SMS store has no folder '" + folder + "'"};
  }
  std::printf("delivered %s to %s\n", Hex(id).c_str(), folder.c_str());
}

void Messages(const std::optional<std::string>& only) {
  std::vector<std::string> folders;
  if (only) {
    folders.push_back(*only);
  } else {
    folders = emulator::StandardFolderNames();
  }
  for (const auto& folder : folders) {
    std::vector<emulator::StoredMessage> messages;
    try {
      messages = emulator::ListMessages("SMS", folder);
    } catch (const std::invalid_argument&) {
      throw Failure{"the SMS store has no folder '" + folder + "'"};
    }
    std::printf("%s (%zu)\n", folder.c_str(), messages.size());
    for (const auto& m : messages) {
      const bool from_me = m.flags && (*m.flags & 0x20);
      const auto& time = (m.flags && (*m.flags & 0x08)) ? m.modifiedTime : m.deliveryTime;
      std::string party =
          from_me ? (m.recipients.empty() ? "-" : Or(m.recipients[0].email)) : Or(m.sender);
      std::printf("  %s  %s  %s %s  %s\n", Hex(m.entryId).c_str(),
                  time ? LocalTime(*time).c_str() : "-", from_me ? "to" : "from", party.c_str(),
                  Or(m.subject, "").c_str());
    }
  }
}

void Contacts() {
  for (std::uint32_t oid : emulator::ContactOids()) {
    auto contact = emulator::ReadContact(oid);
    if (!contact) continue;
    std::string line = std::to_string(oid);
    for (const char* name : {"FirstName", "LastName", "MobileTelephoneNumber", "Email1Address"}) {
      auto found = contact->text.find(name);
      if (found != contact->text.end()) line += "  " + found->second;
    }
    std::printf("%s\n", line.c_str());
  }
}

void Sent() {
  for (const auto& sms : emulator::SentMessages()) {
    std::printf("%s  to %s  class %u  %u bytes  %s\n", LocalTime(sms.time).c_str(),
                sms.address.c_str(), sms.messageClass, sms.dataBytes, sms.text.c_str());
  }
}

std::string RegistryData(const emulator::RegistryValue& value) {
  const auto& data = value.data;
  if (value.type == REG_SZ) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
      char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
      if (unit == 0) break;
      text += unit;
    }
    std::string utf8;
    if (!text.empty()) {
      int size = static_cast<int>(text.size());
      int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
      utf8.resize(static_cast<std::size_t>(bytes));
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), bytes, nullptr, nullptr);
    }
    return "\"" + utf8 + "\"";
  }
  if (value.type == REG_DWORD && data.size() == 4) {
    return std::to_string(data[0] | (data[1] << 8) | (data[2] << 16) |
                          (static_cast<std::uint32_t>(data[3]) << 24));
  }
  return "hex:" + Hex(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

void Registry() {
  for (const auto& [path, value] : emulator::DumpRegistry()) {
    std::printf("%s = %s\n", path.c_str(), RegistryData(value).c_str());
  }
}

void Launches() {
  for (const auto& launch : emulator::Launches()) {
    std::printf("%s  %s  %s  %s\n", LocalTime(launch.time).c_str(),
                launch.started ? "started" : "failed ", launch.application.c_str(),
                launch.commandLine.c_str());
  }
}

int Run(int argc, char** argv) {
  std::optional<std::string> device;
  std::vector<std::string> args;
  std::optional<std::string> folder;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("phonectl %s\n", MZ_VERSION);
      return 0;
    }
    if (arg == "--device" || arg == "--folder") {
      if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
      (arg == "--device" ? device : folder) = argv[++i];
    } else if (arg.starts_with("--")) {
      throw UsageError{"unknown option " + arg};
    } else {
      args.push_back(arg);
    }
  }
  if (args.empty()) throw UsageError{"no command given"};
  const std::string& command = args[0];
  const std::size_t operands = args.size() - 1;
  auto expect = [&](std::size_t least, std::size_t most) {
    if (operands < least || operands > most) throw UsageError{"wrong arguments for " + command};
  };
  if (folder && command != "receive") throw UsageError{"--folder goes with receive"};

  if (command == "init") {
    expect(0, 0);
  } else if (command == "receive") {
    expect(2, 2);
  } else if (command == "messages") {
    expect(0, 1);
  } else if (command == "contacts" || command == "sent" || command == "registry" ||
             command == "launches") {
    expect(0, 0);
  } else {
    throw UsageError{"unknown command '" + command + "'"};
  }

  OpenDevice(device);
  if (command == "init") Init();
  if (command == "receive") Receive(args[1], args[2], folder.value_or("Inbox"));
  if (command == "messages") Messages(operands ? std::optional(args[1]) : std::nullopt);
  if (command == "contacts") Contacts();
  if (command == "sent") Sent();
  if (command == "registry") Registry();
  if (command == "launches") Launches();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "phonectl: %s (see phonectl --help)\n", e.message.c_str());
    return 2;
  } catch (const Failure& e) {
    std::fprintf(stderr, "phonectl: %s\n", e.message.c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "phonectl: %s\n", e.what());
    return 1;
  }
}
