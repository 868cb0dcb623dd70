// mzhost sounds, ringtone, sms-sound and theme: the settings records built
// byte by byte, the way the library reads them (little-endian integers at any
// alignment, UTF-16LE text).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "host.h"
#include "platform/text_codec.h"
#include "text.h"

namespace mzhost {
namespace {

// Sound events by name, in the sound service's numbering.
constexpr const char* kEvents[] = {"ringtone", "ringtone2", "known-caller", "roaming",
                                   "roaming2", "sms",       "reminder",     "email"};

// Sound locations by name, one bit each.
struct Location {
  const char* name;
  uint32_t bit;
};
constexpr Location kLocations[] = {
    {"system", 0x1}, {"ringtones", 0x2}, {"documents", 0x4}, {"card", 0x8}, {"all", 0xFFFFFFFF}};

// The sound service's description of a sound: path and display name in
// 260 UTF-16 units each, then the kind of sound (1: a file).
constexpr std::size_t kPathUnits = 260;
constexpr uint32_t kSoundTypeFile = 1;
// Texts of the SMS-sound and theme records fill 128-unit buffers.
constexpr std::size_t kMostTextBytes = 254;
// What the sound service plays, by file extension.
const std::string kSoundExtensions[] = {".wav", ".mid", ".midi", ".mp3", ".wma", ".aac", ".amr"};

void PutU32(std::vector<unsigned char>* bytes, std::size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t GetU32(const unsigned char* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

// UTF-8 to UTF-16LE bytes; Failure naming `what` when the text is not UTF-8.
std::vector<unsigned char> Utf16Bytes(const std::string& utf8, const char* what) {
  std::u16string units;
  if (!Utf8ToUtf16(utf8, &units))
    throw BadInput{{std::string("the ") + what + " is not UTF-8 text"}};
  std::vector<unsigned char> bytes;
  for (char16_t unit : units) {
    bytes.push_back(static_cast<unsigned char>(unit));
    bytes.push_back(static_cast<unsigned char>(unit >> 8));
  }
  return bytes;
}

// Zero-terminated UTF-16LE text of at most `units` units to UTF-8.
std::string Utf8Of(const unsigned char* bytes, std::size_t units) {
  std::u16string text;
  for (std::size_t i = 0; i < units && (bytes[2 * i] | bytes[2 * i + 1]) != 0; ++i) {
    text.push_back(static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
  }
  return textcodec::ToUtf8(text);
}

// A text for a 128-unit field of the SMS-sound or theme record.
std::vector<unsigned char> ShortText(const std::string& utf8, const char* what) {
  std::vector<unsigned char> bytes = Utf16Bytes(utf8, what);
  if (bytes.size() > kMostTextBytes) {
    throw BadInput{{std::string("the ") + what + " is " + std::to_string(bytes.size() / 2) +
                    " UTF-16 units long; the library takes at most " +
                    std::to_string(kMostTextBytes / 2)}};
  }
  return bytes;
}

// Appends a length-prefixed text.
void AppendCounted(std::vector<unsigned char>* record, const std::vector<unsigned char>& text) {
  const std::size_t at = record->size();
  record->resize(at + 4);
  PutU32(record, at, static_cast<uint32_t>(text.size()));
  record->insert(record->end(), text.begin(), text.end());
}

// Whether a phone path names a file; true when the platform cannot tell.
bool PhoneFileExists(const Host& host, const std::string& path) {
  std::u16string wide;
  if (host.mz.GetFileAttributesW == nullptr || !Utf8ToUtf16(path, &wide)) return true;
  const uint32_t attributes = host.mz.GetFileAttributesW(wide.c_str());
  return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) == 0;
}

void CheckStatus(const char* exportName, int32_t status, const std::string& what) {
  if (status != 0) Refused(exportName, status, what + ": " + DescribeStatus(status));
}

}  // namespace

uint32_t ParseEvent(const std::string& text) {
  for (uint32_t event = 0; event < std::size(kEvents); ++event) {
    if (text == kEvents[event]) return event;
  }
  if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
    return ParseNumber(text, "sound event");
  }
  throw UsageError{"unknown sound event '" + text +
                   "' (ringtone, ringtone2, known-caller, roaming, roaming2, sms, reminder, email, "
                   "or a number)"};
}

std::string EventName(uint32_t event) {
  return event < std::size(kEvents) ? kEvents[event] : "event " + std::to_string(event);
}

uint32_t ParseLocations(const std::string& text) {
  uint32_t bits = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string word = text.substr(start, comma - start);
    bool known = false;
    for (const auto& location : kLocations) {
      if (word == location.name) {
        bits |= location.bit;
        known = true;
      }
    }
    if (!known) {
      throw UsageError{"unknown sound location '" + word +
                       "' (system, ringtones, documents, card or all, joined by commas)"};
    }
    start = comma + 1;
  }
  return bits;
}

std::vector<std::string> SoundDirectories(Host& host, uint32_t event, uint32_t locations) {
  std::vector<unsigned char> input(MZ_SOUND_LIST_INPUT_SIZE);
  PutU32(&input, 0, event);
  PutU32(&input, 4, locations);
  uint32_t size = 0;
  void* block = nullptr;
  const int32_t status = host.mz.MZ_GetSoundDirectoriesList(0, input.data(), &size, &block);
  CheckStatus("MZ_GetSoundDirectoriesList", status, "the sound service refused the listing");
  if (block == nullptr && size != 0) {
    throw Failure{"the library had no memory for the directory list", "MZ_GetSoundDirectoriesList",
                  status};
  }
  std::vector<std::string> directories;
  if (block != nullptr) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    const std::size_t fits = size >= 4 ? (size - 4) / MZ_SOUND_DIRECTORY_ENTRY_SIZE : 0;
    const std::size_t count = std::min<std::size_t>(size >= 4 ? GetU32(bytes) : 0, fits);
    for (std::size_t i = 0; i < count; ++i) {
      directories.push_back(
          Utf8Of(bytes + 4 + i * MZ_SOUND_DIRECTORY_ENTRY_SIZE, MZ_SOUND_DIRECTORY_ENTRY_SIZE / 2));
    }
    host.mz.LocalFree(block);
  }
  return directories;
}

std::vector<std::string> SoundFiles(Host& host, const std::string& directory) {
  std::vector<std::string> files;
  std::u16string pattern;
  const Library& mz = host.mz;
  if (mz.FindFirstFileW == nullptr || !Utf8ToUtf16(directory + "\\*", &pattern)) return files;
  FindData found{};
  void* search = mz.FindFirstFileW(pattern.c_str(), &found);
  if (search == kInvalidHandle) return files;
  do {
    const std::string name = textcodec::ToUtf8(
        std::u16string(found.fileName, std::char_traits<char16_t>::length(found.fileName)));
    const std::string lower = [&] {
      std::string text =
          name.substr(name.rfind('.') == std::string::npos ? name.size() : name.rfind('.'));
      for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return text;
    }();
    if ((found.attributes & kFileAttributeDirectory) == 0 &&
        std::find(std::begin(kSoundExtensions), std::end(kSoundExtensions), lower) !=
            std::end(kSoundExtensions)) {
      files.push_back(name);
    }
  } while (mz.FindNextFileW(search, &found));
  mz.FindClose(search);
  std::sort(files.begin(), files.end());
  return files;
}

void RunSounds(Host& host, const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) throw UsageError{"usage: mzhost sounds EVENT [LOCATIONS]"};
  const uint32_t event = ParseEvent(args[0]);
  const uint32_t locations = args.size() == 2 ? ParseLocations(args[1]) : 0xFFFFFFFF;
  const std::vector<std::string> directories = SoundDirectories(host, event, locations);
  if (host.json) {
    std::vector<std::string> texts;
    for (const auto& d : directories) texts.push_back(JsonText(d));
    PrintLine(JsonObject({{"event", JsonNumber(event)},
                          {"locations", JsonNumber(locations)},
                          {"directories", JsonArray(texts)}}));
  } else {
    for (const auto& d : directories) PrintLine(d);
  }
}

void SetRingtone(Host& host, uint32_t event, const std::string& path) {
  std::vector<unsigned char> pathText = Utf16Bytes(path, "path");
  if (pathText.size() / 2 >= kPathUnits) {
    throw BadInput{{"the path is " + std::to_string(pathText.size() / 2) +
                    " UTF-16 units long; the sound service takes at most " +
                    std::to_string(kPathUnits - 1)}};
  }
  // The display name: the file's name without its folder and extension.
  // (npos + 1 is 0: a bare file name is taken whole.)
  std::string name = path.substr(path.find_last_of("\\/") + 1);
  name = name.substr(0, name.rfind('.'));
  std::vector<unsigned char> nameText = Utf16Bytes(name, "path");
  nameText.resize(std::min(nameText.size(), (kPathUnits - 1) * 2));

  std::vector<unsigned char> input(MZ_TEL_RINGTONE_INPUT_SIZE);
  PutU32(&input, 0, event);
  std::memcpy(&input[4], pathText.data(), pathText.size());
  std::memcpy(&input[4 + 2 * kPathUnits], nameText.data(), nameText.size());
  PutU32(&input, 4 + 4 * kPathUnits, kSoundTypeFile);
  PutU32(&input, 1048, 0);  // show the phone's own notice, if any
  CheckStatus("MZ_SetTelRingtone", host.mz.MZ_SetTelRingtone(0, input.data()),
              "the sound service did not take " + path);
}

void RunRingtone(Host& host, const std::vector<std::string>& args) {
  if (args.size() != 2) throw UsageError{"usage: mzhost ringtone EVENT PATH"};
  const uint32_t event = ParseEvent(args[0]);
  const std::string& path = args[1];
  SetRingtone(host, event, path);
  PrintLine(host.json ? JsonObject({{"event", JsonNumber(event)}, {"sound", JsonText(path)}})
                      : EventName(event) + " now plays " + path);
}

std::string SetSmsSound(Host& host, const std::string& directory, const std::string& file) {
  std::vector<unsigned char> input;
  AppendCounted(&input, ShortText(directory, "directory"));
  AppendCounted(&input, ShortText(file, "file name"));
  const std::string source = directory + "\\" + file;
  const std::string copy = "\\Windows\\" + file;
  // The library does not say whether its copy into \Windows worked.
  if (!PhoneFileExists(host, source)) {
    throw BadInput{{"no sound file " + source + " on the phone; the SMS sound is unchanged"}};
  }
  CheckStatus("MZ_SetSMSRingtone", host.mz.MZ_SetSMSRingtone(0, input.data()),
              "the registry refused the SMS sound");
  if (!PhoneFileExists(host, copy)) {
    throw Failure{"the SMS sound names " + copy + ", but the phone did not copy " + source +
                  " there"};
  }
  return copy;
}

void RunSmsSound(Host& host, const std::vector<std::string>& args) {
  if (args.size() != 2) throw UsageError{"usage: mzhost sms-sound DIR FILE"};
  const std::string copy = SetSmsSound(host, args[0], args[1]);
  const std::string source = args[0] + "\\" + args[1];
  PrintLine(host.json ? JsonObject({{"sound", JsonText(copy)}, {"source", JsonText(source)}})
                      : "the SMS sound is now " + copy + " (copied from " + source +
                            " unless it was there)");
}

void SetTheme(Host& host, const std::string& commandLine) {
  std::vector<unsigned char> input;
  AppendCounted(&input, ShortText(commandLine, "command line"));
  // The library starts the theme tool and always answers 0.
  host.mz.MZ_SetTheme(0, input.data());
}

void RunTheme(Host& host, const std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError{"usage: mzhost theme COMMAND-LINE"};
  SetTheme(host, args[0]);
  PrintLine(host.json ? JsonObject({{"theme", JsonText(args[0])}})
                      : "started the theme tool with '" + args[0] + "'");
}

}  // namespace mzhost
